// libFuzzer target: the strength decoders' input, a memory image decoded
// into a fresh table.
//
// Input: byte 0 chooses the decoder (bit 0: the 30-byte layout, else the
// 47-byte layout; bit 1: the firmware version is read from the image, 47
// when it cannot be told, else bit 2 picks 46- or 47-byte basic records); the
// rest is the image itself, so every count in it is bounded by the input's
// length.  The layout detection runs on every image first.  A second run
// over the same image must append nothing (the rows are already stored).  Any
// crash, sanitizer report or unexpected exception is a fault.

#include "decode/flash2orl02.h"
#include "decode/flash2orl03.h"
#include "decode/strength_layout.h"
#include "store/dbf.h"
#include "store/measurement.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <cstdlib>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    static const QString path = QDir::tempPath() + QStringLiteral("/fuzz_strength_%1.db").arg(qint64(::getpid()));
    const uint8_t mode = data[0];
    std::vector<uint8_t> image(data + 1, data + size);
    // The layout of the image: either a layout or a reason to refuse it.
    {
        using L = decode::StrengthLayout;
        const decode::LayoutVerdict v = decode::strength_layout(decode::Bytes(image.data(), image.size()),
                                                                {L::Records47, L::Records46, L::Records30});
        if (v.layout.has_value() == !v.refusal.isEmpty())
            std::abort();
    }
    try {
        QFile::remove(path);
        dbf::Table::create(path, measurementFields());
        dbf::Table table;
        table.setFileName(path);
        table.open();
        for (int pass = 0; pass < 2; ++pass) {
            decode::StrengthResult r;
            if (mode & 1) {
                r = decode::flash2orl02(table, std::span<uint8_t>(image), false);
            } else {
                const int V = (mode & 2) ? decode::firmware_version(decode::Bytes(image.data(), image.size()))
                                               .value_or(decode::kFirstVersionWith47)
                                         : (mode & 4) ? decode::kFirstVersionWith47 : decode::kFirstVersionWith47 - 1;
                r = decode::flash2orl03(table, decode::Bytes(image.data(), image.size()), V, false);
            }
            if (r.basicRows < 0 || r.individualRows < 0 || r.skippedRecords < 0)
                std::abort();
        }
        table.close();
    } catch (const dbf::Error&) {
        // A text the code page cannot hold, or a full disk: refused, not a fault.
    }
    QFile::remove(path);
    return 0;
}

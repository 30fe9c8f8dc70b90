// libFuzzer target: the decoders' input, a memory image with its record
// counts, written into a fresh table.
//
// Input: bytes 0-5 are the three record counts (16-bit, little-endian, as
// the download state hands them on); byte 6 holds options: bit 0, point
// counts keep all 32 bits (otherwise they are cut to 0..63); bit 1, rows go
// to the table one by one instead of in bulk; bit 2, reports on; bit 3,
// record counts keep all 16 bits (otherwise 0..63 operative records and
// 0..15 series per archive).  Inputs that would give more than MaxRows rows
// are skipped: a run must take milliseconds, not seconds, and the full-size
// downloads are covered by the decoder's tests and benchmark.
// The rest places bytes in the image: pieces of [region, offset (16-bit),
// length, bytes], region 0-2 the archive buffers, 3-4 the series buffers of
// archives 1 and 2, 5-6 their PointCount tables.  Everything else is zero.
// Any crash, sanitizer report, unexpected exception or a table that does not
// hold what the decoder says it wrote is a fault.

#include "decode/flash2orl01.h"
#include "device/memory_image.h"
#include "store/dbf.h"
#include "store/measurement.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <unistd.h>
#include <vector>

namespace {

QString scratchPath()
{
    static const QString p = QDir::tempPath() + QStringLiteral("/fuzz_decode_%1.db").arg(qint64(::getpid()));
    return p;
}

std::span<uint8_t> region(device::MemoryImage& image, int which)
{
    switch (which % 7) {
    case 0: return image.archive(0);
    case 1: return image.archive(1);
    case 2: return image.archive(2);
    case 3: return image.series(1);
    case 4: return image.series(2);
    case 5: return image.pointCountTable(1);
    default: return image.pointCountTable(2);
    }
}

constexpr qint64 MaxRows = 256;

// The rows the decoder will write for this image and these counts.
qint64 rowsToWrite(const device::MemoryImage& image, const std::array<int, 3>& counts)
{
    qint64 rows = std::min<qint64>(counts[0], device::MemoryImage::MaxOperativeRecords);
    for (int a = 1; a <= 2; ++a) {
        qint64 points = 0;
        for (int t = 0; t < std::min<int>(counts[size_t(a)], int(device::MemoryImage::PointCountEntries)); ++t)
            points += std::max<int32_t>(0, int32_t(image.pointCount(a, t)));
        rows += std::min<qint64>(points, qint64(image.series(a).size()) / device::pointSize(a));
    }
    return rows;
}

struct Dirty {
    int region;
    size_t at, size;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static auto image = std::make_unique<device::MemoryImage>();
    if (size < 7)
        return 0;
    const uint8_t options = data[6];
    std::array<int, 3> counts = {data[0] | data[1] << 8, data[2] | data[3] << 8, data[4] | data[5] << 8};
    if (!(options & 8))
        counts = {counts[0] & 0x3F, counts[1] & 0x0F, counts[2] & 0x0F};

    std::vector<Dirty> dirty;
    for (size_t i = 7; i + 4 <= size;) {
        const int which = data[i];
        const size_t offset = size_t(data[i + 1] | data[i + 2] << 8);
        size_t len = data[i + 3];
        i += 4;
        len = std::min(len, size - i);
        std::span<uint8_t> r = region(*image, which);
        // Offsets reach the whole region: the 16-bit value is scaled to it.
        const size_t at = r.size() <= 0x10000 ? offset % r.size() : offset * (r.size() / 0x10000);
        const size_t n = std::min(len, r.size() - at);
        std::memcpy(r.data() + at, data + i, n);
        dirty.push_back({which % 7, at, n});
        i += len;
    }
    if (!(options & 1))
        for (int a = 1; a <= 2; ++a) {
            std::span<uint8_t> t = image->pointCountTable(a);
            for (size_t k = 0; k + 4 <= t.size(); k += 4) {
                t[k] &= 0x3F;
                t[k + 1] = t[k + 2] = t[k + 3] = 0;
            }
        }

    const QString path = scratchPath();
    if (rowsToWrite(*image, counts) <= MaxRows) {
        try {
            dbf::Table::create(path, measurementFields());
            dbf::Table t;
            t.setFileName(path);
            t.open();
            if (!(options & 2))
                t.beginBulk();
            int series = 0;
            decode::Flash2orl01Hooks hooks;
            hooks.addSeries = [&](int mode, const QString&) {
                if (mode != 1 && mode != 2)
                    std::abort();
                ++series;
            };
            hooks.report = [](const QString&, const QString&) {};
            const decode::Flash2orl01Result r = decode::flash2orl01(t, *image, counts, (options & 4) != 0, hooks);
            t.close();
            t.open();
            if (r.rows < 0 || uint32_t(r.rows) != t.physicalCount() || r.skippedRecords < 0 ||
                series > counts[1] + counts[2])
                std::abort();
            const int mode = t.fieldIndex(u"MODE");
            for (uint32_t rec = 0; rec < t.physicalCount(); ++rec) {
                const double m = t.floatAt(rec, mode);
                if (m != 0 && m != 1 && m != 2)
                    std::abort();
            }
            t.close();
        } catch (const dbf::Error&) {
            // A table that cannot be written is reported to the user, not a fault.
        }
        QFile::remove(path);  // no scratch file outlives the run
    }

    // Back to an all-zero image for the next input.
    for (const Dirty& d : dirty)
        std::memset(region(*image, d.region).data() + d.at, 0, d.size);
    for (int a = 1; a <= 2; ++a) {
        std::span<uint8_t> t = image->pointCountTable(a);
        std::memset(t.data(), 0, t.size());
    }
    return 0;
}

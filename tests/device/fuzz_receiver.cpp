// libFuzzer target: arbitrary bytes from the port, in arbitrary chunks.
// Input: byte 0 picks the chunk sizes and whether the instrument is first
// "identified" with a header whose counts are bytes 1..6; the rest is the
// byte stream.  The sanitizers watch every write into the image.

#include "device/receiver.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

QByteArray reply(uint8_t type, QByteArray payload)
{
    QByteArray f("\xB8\xB8\x00\x00", 4);
    f.append(char(type));
    f.append(payload);
    f.append("\xA3\x00\x00", 3);
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static auto image = std::make_unique<device::MemoryImage>();
    if (size < 7)
        return 0;
    device::DownloadState state;
    int requests = 0;
    device::ReceiverCallbacks cb;
    cb.write = [&](QByteArrayView) { ++requests; };
    device::Receiver rx(*image, state, cb);
    rx.reset();
    rx.Com_Connect();

    const uint8_t mode = data[0];
    QByteArray stream;
    if (mode & 1) {
        QByteArray header(12, 0);
        for (int a = 0; a < 3; ++a) {
            header[4 * a] = char(data[1 + 2 * a]);
            header[4 * a + 1] = char(data[2 + 2 * a] & 0x1F);
        }
        stream = reply(1, QByteArray(3, 0)) + reply(2, header);
    }
    stream.append(reinterpret_cast<const char*>(data + 7), qsizetype(size - 7));

    const qsizetype step = (mode >> 1) == 0 ? stream.size() : (mode >> 1);
    for (qsizetype at = 0; at < stream.size(); at += step)
        rx.CommPortDriver1ReceiveData(stream.constData() + at, std::min(step, stream.size() - at));

    for (const auto& a : state.archive) {
        if (a.StoredBytes > device::MemoryImage::MaxOperativeRecords * device::kOperativeRecordSize)
            std::abort();
        if (a.SeriesBytes < 0 || a.SeriesBytes > device::MemoryImage::MaxSeriesPoints * device::kWaitingPointSize)
            std::abort();
    }
    return 0;
}

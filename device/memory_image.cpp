#include "device/memory_image.h"

#include "ground/file_kind.h"
#include "ground/system_error.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace device {
namespace {

uint32_t dwordAt(std::span<const uint8_t> b, qsizetype p)
{
    return uint32_t(b[p]) | uint32_t(b[p + 1]) << 8 | uint32_t(b[p + 2]) << 16 | uint32_t(b[p + 3]) << 24;
}

int seriesIndex(int archive)
{
    Q_ASSERT(archive == 1 || archive == 2);
    return archive == 1 ? 0 : 1;
}

}  // namespace

MemoryImage::MemoryImage()
    : leading_(LeadingSize, 0),
      series_{std::vector<uint8_t>(WaitingSeriesSize, 0), std::vector<uint8_t>(ObservationSeriesSize, 0)},
      seriesStart_{std::vector<uint8_t>(SeriesStartTableSize, 0), std::vector<uint8_t>(SeriesStartTableSize, 0)},
      pointCount_{std::vector<uint8_t>(PointCountTableSize, 0), std::vector<uint8_t>(PointCountTableSize, 0)}
{
}

std::span<uint8_t> MemoryImage::archive(int a)
{
    Q_ASSERT(a >= 0 && a < kArchiveCount);
    return std::span<uint8_t>(leading_).subspan(archiveOffset(a), ArchiveBufferSize);
}

std::span<const uint8_t> MemoryImage::archive(int a) const
{
    Q_ASSERT(a >= 0 && a < kArchiveCount);
    return std::span<const uint8_t>(leading_).subspan(archiveOffset(a), ArchiveBufferSize);
}

std::span<uint8_t> MemoryImage::receiveBuffer()
{
    return std::span<uint8_t>(leading_).subspan(ReceiveBufferOffset, ReceiveBufferSize);
}

std::span<const uint8_t> MemoryImage::receiveBuffer() const
{
    return std::span<const uint8_t>(leading_).subspan(ReceiveBufferOffset, ReceiveBufferSize);
}

std::span<uint8_t> MemoryImage::series(int a) { return series_[seriesIndex(a)]; }
std::span<const uint8_t> MemoryImage::series(int a) const { return series_[seriesIndex(a)]; }
std::span<uint8_t> MemoryImage::seriesStartTable(int a) { return seriesStart_[seriesIndex(a)]; }
std::span<const uint8_t> MemoryImage::seriesStartTable(int a) const { return seriesStart_[seriesIndex(a)]; }
std::span<uint8_t> MemoryImage::pointCountTable(int a) { return pointCount_[seriesIndex(a)]; }
std::span<const uint8_t> MemoryImage::pointCountTable(int a) const { return pointCount_[seriesIndex(a)]; }

uint32_t MemoryImage::pointCount(int a, int record) const
{
    Q_ASSERT(record >= 0 && record < PointCountEntries);
    return dwordAt(pointCountTable(a), qsizetype(record) * 4);
}

uint32_t MemoryImage::seriesStart(int a, int record) const
{
    Q_ASSERT(record >= 0 && qsizetype(record) * 4 + 4 <= SeriesStartTableSize);
    return dwordAt(seriesStartTable(a), qsizetype(record) * 4);
}

void MemoryImage::clearSeries()
{
    for (auto* v : {&series_[0], &series_[1], &seriesStart_[0], &seriesStart_[1], &pointCount_[0], &pointCount_[1]})
        std::fill(v->begin(), v->end(), uint8_t(0));
}

namespace {

// The system's reason in Russian where the C library left one (Windows
// leaves none: Qt opens files through the system there), else the common
// reasons from Qt's error kind, else Qt's own text.
QString reasonOf(const QFile& f, int errnoValue)
{
    if (errnoValue != 0)
        return systemErrorText(errnoValue);
    if (!f.exists())
        return systemErrorText(ENOENT);
    if (f.error() == QFileDevice::PermissionsError)
        return systemErrorText(EACCES);
    return f.errorString();
}

}  // namespace

LoadResult loadBin(MemoryImage& image, const QString& path)
{
    LoadResult r;
    // Opening a FIFO for reading would wait for a writer for ever.
    r.message = notRegularFileReason(path);
    if (!r.message.isEmpty())
        return r;
    QFile f(path);
    errno = 0;
    if (!f.open(QIODevice::ReadOnly)) {
        r.message = QStringLiteral("Не удалось открыть файл \"%1\": %2").arg(path, reasonOf(f, errno));
        return r;
    }
    // Read into a scratch buffer first so that a failed read leaves the image as it was.
    QByteArray data(MemoryImage::LeadingSize, Qt::Uninitialized);
    qint64 got = 0;
    while (got < data.size()) {
        errno = 0;
        const qint64 n = f.read(data.data() + got, data.size() - got);
        if (n < 0) {
            r.message = QStringLiteral("Ошибка чтения файла \"%1\": %2").arg(path, reasonOf(f, errno));
            return r;
        }
        if (n == 0)
            break;
        got += n;
    }
    char extra;
    const bool more = got == data.size() && f.read(&extra, 1) == 1;
    std::memcpy(image.leading().data(), data.constData(), size_t(got));
    r.ok = true;
    r.bytesRead = got;
    if (more) {
        r.truncated = true;
        r.message = QStringLiteral("Файл \"%1\" длиннее %2 байт: прочитаны первые %2 байт, остальное пропущено.")
                        .arg(path)
                        .arg(MemoryImage::LeadingSize);
    }
    return r;
}

}  // namespace device

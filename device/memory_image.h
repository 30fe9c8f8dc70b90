#pragma once
// The memory image: everything one download (or a ".bin" file) leaves for the
// decoders.  One image per program, created zero-filled at start-up and owned
// by the download window for the whole run.
//
// The four leading regions lie back to back and form one addressable run of
// 327,680 bytes from offset 0 (archive 0, 1, 2 and the receive buffer); a
// ".bin" file is a plain byte copy of that run.  The series buffers and the
// SeriesStart / PointCount tables are buffers of their own.

#include <QString>
#include <cstdint>
#include <span>
#include <vector>

namespace device {

// Wire and image sizes of the three archives (0 operative, 1 waiting, 2 observation).
inline constexpr int kArchiveCount = 3;
inline constexpr int kOperativeRecordSize = 14;  // archive 0 record
inline constexpr int kSeriesRecordSize = 26;     // archive 1 and 2 record (series header)
inline constexpr int kWaitingPointSize = 10;     // archive 1 point
inline constexpr int kObservationPointSize = 4;  // archive 2 point

// Record size of archive a (0..2); point size of series archive a (1..2).
constexpr int recordSize(int archive) { return archive == 0 ? kOperativeRecordSize : kSeriesRecordSize; }
constexpr int pointSize(int archive) { return archive == 1 ? kWaitingPointSize : kObservationPointSize; }

class MemoryImage {
public:
    // Leading regions.
    static constexpr qsizetype ArchiveBufferSize = 0x10000;      // 65,536 per archive
    static constexpr qsizetype ReceiveBufferOffset = 0x30000;
    static constexpr qsizetype ReceiveBufferSize = 0x20000;      // 131,072
    static constexpr qsizetype LeadingSize = 0x50000;            // 327,680 = a full ".bin"
    static constexpr qsizetype archiveOffset(int archive) { return archive * ArchiveBufferSize; }

    // Buffers of their own.
    static constexpr qsizetype WaitingSeriesSize = 1500001;      // archive 1, 10-byte points
    static constexpr qsizetype ObservationSeriesSize = 600001;   // archive 2, 4-byte points
    static constexpr qsizetype SeriesStartTableSize = 10001;     // 4 bytes per record
    static constexpr qsizetype PointCountEntries = 201;
    static constexpr qsizetype PointCountTableSize = PointCountEntries * 4;  // 804

    // Capacities that follow from the layout.
    static constexpr int MaxOperativeRecords = 4681;             // 65,534 bytes
    static constexpr int MaxSeriesRecords = 201;                 // bounded by PointCount
    static constexpr qint64 MaxSeriesPoints = 150000;            // per series archive, all records

    MemoryImage();

    // The 327,680-byte addressable start (archives 0..2 and the receive buffer).
    std::span<uint8_t> leading() { return leading_; }
    std::span<const uint8_t> leading() const { return leading_; }

    // Archive buffer of archive 0..2 (65,536 bytes each).
    std::span<uint8_t> archive(int archive);
    std::span<const uint8_t> archive(int archive) const;
    // Receive buffer: the last chunk received from the port.
    std::span<uint8_t> receiveBuffer();
    std::span<const uint8_t> receiveBuffer() const;

    // Series buffer, SeriesStart and PointCount tables of series archive 1 or 2.
    std::span<uint8_t> series(int archive);
    std::span<const uint8_t> series(int archive) const;
    std::span<uint8_t> seriesStartTable(int archive);
    std::span<const uint8_t> seriesStartTable(int archive) const;
    std::span<uint8_t> pointCountTable(int archive);
    std::span<const uint8_t> pointCountTable(int archive) const;

    // Entry k (0..200) of the PointCount table; entry k (0..2499) of SeriesStart.
    uint32_t pointCount(int archive, int record) const;
    uint32_t seriesStart(int archive, int record) const;

    // What showing the download window clears: both series buffers and the
    // four tables.  The archive buffers and the receive buffer keep their bytes.
    void clearSeries();

private:
    std::vector<uint8_t> leading_;
    std::vector<uint8_t> series_[2];
    std::vector<uint8_t> seriesStart_[2];
    std::vector<uint8_t> pointCount_[2];
};

// Result of reading a ".bin" file into the image.
struct LoadResult {
    bool ok = false;          // the image was (possibly partly) overwritten
    bool truncated = false;   // the file was longer than 327,680 bytes; the rest was ignored
    qint64 bytesRead = 0;     // bytes copied to offset 0
    QString message;          // for the user: the error when !ok, the truncation note when truncated
};

// Reads the file into the image from offset 0, at most MemoryImage::LeadingSize
// bytes.  A file that cannot be opened or read leaves the image unchanged.
LoadResult loadBin(MemoryImage& image, const QString& path);

}  // namespace device

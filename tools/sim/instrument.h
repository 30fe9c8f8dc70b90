#pragma once
// A simulated instrument: its three archives and how it answers the
// download protocol.  Used by the dork5-sim tool (on a pseudo-terminal) and
// by in-process tests (behind a fake port).

#include "device/memory_image.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>

namespace sim {

// What the instrument holds: the records of each archive back to back and the
// points of every series of archives 1 and 2 in record order.
struct Archives {
    std::array<QByteArray, 3> records;
    std::array<QByteArray, 3> series;  // [1] and [2] used

    int count(int archive) const { return int(records[archive].size() / device::recordSize(archive)); }
    uint32_t pointCount(int archive, int record) const;
    uint32_t seriesAddress(int archive, int record) const;
};

struct ScenarioOptions {
    uint32_t seed = 1;
    std::array<int, 3> records = {20, 3, 2};
    // Points per series: empty = chosen from the series' duration.  One value
    // applies to every series; otherwise pointsWaiting / pointsObservation
    // give them in record order (missing ones are chosen).
    QList<int> pointsWaiting, pointsObservation;
    int pointsAll = -1;
    // Total points per series archive spread evenly over its series (-1: off).
    qint64 totalPoints = -1;
};

Archives makeScenario(const ScenarioOptions& options);

// Archives from an image file: at least the 327,680 leading bytes; when the
// file is a full image (see writeImageFile) the series buffers come with it.
// Counts are given by the caller; point counts come from the records.
bool archivesFromImageFile(const QString& path, const std::array<int, 3>& counts, Archives& out, QString* error);

// The image a complete download of these archives leaves (receive buffer
// aside, which holds whatever chunk came last).
void fillExpectedImage(const Archives& archives, device::MemoryImage& image);

// A full image file: the leading bytes, both series buffers, both SeriesStart
// tables and both PointCount tables, in that order.
QByteArray serializeImage(const device::MemoryImage& image);
bool writeImageFile(const QString& path, const device::MemoryImage& image);
inline constexpr qsizetype kImageFileSize =
    device::MemoryImage::LeadingSize + device::MemoryImage::WaitingSeriesSize +
    device::MemoryImage::ObservationSeriesSize + 2 * device::MemoryImage::SeriesStartTableSize +
    2 * device::MemoryImage::PointCountTableSize;

struct Faults {
    bool silent = false;   // never answers
    bool join = false;     // also answers later identification requests, joined to the next reply
    int truncate = 0;      // the K-th reply (1-based) is cut in half
    int corrupt = 0;       // the K-th reply loses its end marker
    int overlong = 0;      // the K-th data reply carries one record / point more than asked
};

class Instrument {
public:
    explicit Instrument(Archives archives, Faults faults = {});

    // Bytes from the computer in; whatever the instrument answers out (whole
    // replies, possibly several, possibly empty).
    QByteArray feed(QByteArrayView bytes);
    // A new download: the next identification request is answered as the first.
    void restart();
    // Called with every well-formed request frame, in arrival order, also
    // when the instrument stays silent.
    void setRequestObserver(std::function<void(const QByteArray&)> observer) { observer_ = std::move(observer); }

    const Archives& archives() const { return a_; }
    int repliesSent() const { return replies_; }
    qint64 replyBytes() const { return replyBytes_; }

    static QByteArray frame(uint8_t type, QByteArrayView payload);

private:
    QByteArray answer(const QByteArray& request);
    QByteArray finish(QByteArray reply);

    Archives a_;
    Faults f_;
    std::function<void(const QByteArray&)> observer_;
    QByteArray in_;
    int identCount_ = 0;
    bool heldIdent_ = false;
    int replies_ = 0;
    int dataReplies_ = 0;
    qint64 replyBytes_ = 0;
};

}  // namespace sim

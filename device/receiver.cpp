#include "device/receiver.h"

#include <algorithm>
#include <cstring>

namespace device {
namespace {

constexpr uint8_t kStart = 0xB8;
constexpr uint8_t kEnd = 0xA3;
constexpr int kHeaderEndMin = 17;    // counts sit at offsets 5..16
constexpr int kOtherEndMin = 5;      // end marker at N-3 with N >= 8
constexpr qsizetype kUnknownLengthLimit = 4096;  // a reply without an end this far in is noise

const QString& archiveName(int a)
{
    static const QString names[kArchiveCount] = {QStringLiteral("Архив оперативный"),
                                                 QStringLiteral("Архив ждущий"),
                                                 QStringLiteral("Архив наблюдения")};
    return names[a];
}

Text archiveLabel(int a)
{
    return a == 0 ? Text::Archive0 : a == 1 ? Text::Archive1 : Text::Archive2;
}

uint32_t dwordAt(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

Receiver::Receiver(MemoryImage& image, DownloadState& state, ReceiverCallbacks callbacks)
    : img_(image), st_(state), cb_(std::move(callbacks))
{
}

void Receiver::reset()
{
    st_ = DownloadState{};
    img_.clearSeries();
    pending_.clear();
    lastByteWasStart_ = false;
    deviceTypeShown_ = false;
    sentThisReply_ = false;
    blockAsked_ = 0;
    runAsked_ = 0;
    outcome_ = Outcome::Pending;
    incomplete_ = false;
}

void Receiver::send(QByteArrayView frame)
{
    if (cb_.write)
        cb_.write(frame);
}

void Receiver::setText(Text t, const QString& s)
{
    if (t == Text::DeviceType)
        deviceTypeShown_ = !s.isEmpty();
    if (cb_.setText)
        cb_.setText(t, s);
}

void Receiver::setMax(int bar, int v)
{
    if (cb_.setProgressMaximum)
        cb_.setProgressMaximum(bar, v);
}

void Receiver::setPos(int bar, int v)
{
    if (cb_.setProgressPosition)
        cb_.setProgressPosition(bar, v);
}

void Receiver::Com_Connect()
{
    static const char frame[] = {char(0xA4), char(0xA4), 0x04, 0x00, 0x02, char(0x9A), 0x6B, 0x50};
    send(QByteArrayView(frame, sizeof frame));
    st_.HeaderReceived = false;
}

void Receiver::Com_Send(int archive, uint16_t first, uint8_t count)
{
    const char frame[] = {char(0xA4), char(0xA4), 0x08, 0x00, 0x03, char(archive),
                          char(first & 0xFF), char(first >> 8), char(count),
                          char(0x9A), 0x6B, 0x50};
    send(QByteArrayView(frame, sizeof frame));
    st_.ReplyComplete = false;
    sentThisReply_ = true;
}

void Receiver::Com_Send2(int archive, uint32_t start, uint8_t count)
{
    const char frame[] = {char(0xA4), char(0xA4), 0x0A, 0x00, 0x04, char(archive),
                          char(start & 0xFF), char((start >> 8) & 0xFF), char((start >> 16) & 0xFF),
                          char(start >> 24), char(count), char(0x9A), 0x6B, 0x50};
    send(QByteArrayView(frame, sizeof frame));
    st_.ReplyComplete = false;
    sentThisReply_ = true;
}

bool Receiver::requestOutstanding() const
{
    return std::any_of(st_.archive.begin(), st_.archive.end(),
                       [](const ArchiveState& a) { return a.AwaitingBlock || a.AwaitingChunk; });
}

void Receiver::fail(const QString& text)
{
    outcome_ = Outcome::Cancel;
    pending_.clear();
    setText(Text::Status, QStringLiteral("Ошибка приема данных"));
    if (cb_.finished)
        cb_.finished(Outcome::Cancel, text);
}

void Receiver::CommPortDriver1ReceiveData(const char* data, qsizetype size)
{
    if (outcome_ != Outcome::Pending || size <= 0)
        return;
    const auto* bytes = reinterpret_cast<const uint8_t*>(data);

    // The receive buffer keeps the last chunk, as the instrument's memory map has it.
    auto rb = img_.receiveBuffer();
    std::memcpy(rb.data(), bytes, size_t(std::min<qsizetype>(size, qsizetype(rb.size()))));

    // Any start marker, even one split across two chunks, means the instrument is there.
    bool start = lastByteWasStart_ && bytes[0] == kStart;
    for (qsizetype i = 0; !start && i + 1 < size; ++i)
        start = bytes[i] == kStart && bytes[i + 1] == kStart;
    lastByteWasStart_ = bytes[size - 1] == kStart;
    if (start) {
        st_.DeviceFound = true;
        if (cb_.deviceAnswered)
            cb_.deviceAnswered();
    }

    pending_.append(data, size);
    qsizetype length = 0;
    while (outcome_ == Outcome::Pending && extractFrame(length)) {
        const QByteArray frame = pending_.left(length);
        pending_.remove(0, length);
        handleReply(reinterpret_cast<const uint8_t*>(frame.constData()), frame.size());
    }
}

// Finds the first whole reply at the front of pending_ (dropping noise before
// its start marker).  Block and series replies that answer the outstanding
// request are as long as the request implies; other replies end at their
// first end marker.
bool Receiver::extractFrame(qsizetype& length)
{
    for (;;) {
        const qsizetype s = pending_.indexOf(QByteArrayView("\xB8\xB8", 2));
        if (s < 0) {
            const bool keepLast = !pending_.isEmpty() && uint8_t(pending_.back()) == kStart;
            pending_ = keepLast ? QByteArray(1, char(kStart)) : QByteArray();
            return false;
        }
        pending_.remove(0, s);
        if (pending_.size() < 5)
            return false;
        const auto* p = reinterpret_cast<const uint8_t*>(pending_.constData());
        const uint8_t type = p[4];

        qsizetype expected = 0;
        int forArchive = -1;
        if (type == 3) {
            for (int a = 0; a < kArchiveCount && forArchive < 0; ++a)
                if (st_.archive[a].AwaitingBlock)
                    forArchive = a;
            if (forArchive >= 0)
                expected = 8 + qsizetype(blockAsked_) * recordSize(forArchive);
        } else if (type == 4) {
            for (int a = 1; a < kArchiveCount && forArchive < 0; ++a)
                if (st_.archive[a].AwaitingChunk)
                    forArchive = a;
            if (forArchive >= 0)
                expected = 8 + qsizetype(runAsked_) * pointSize(forArchive);
        }
        if (expected > 0) {
            if (pending_.size() < expected)
                return false;
            if (p[expected - 3] != kEnd) {
                fail(QStringLiteral("Ответ прибора не совпадает с запросом (%1): он длиннее запрошенного "
                                    "или поврежден. Прием прерван.")
                         .arg(archiveName(forArchive).toLower()));
                return false;
            }
            length = expected;
            return true;
        }

        const qsizetype from = type == 2 ? kHeaderEndMin : kOtherEndMin;
        for (qsizetype i = from; i + 2 < pending_.size(); ++i) {
            if (p[i] == kEnd) {
                length = i + 3;
                return true;
            }
        }
        if (pending_.size() < kUnknownLengthLimit)
            return false;
        pending_.remove(0, 2);  // no end in sight: not a reply, look for the next start
    }
}

void Receiver::handleReply(const uint8_t* frame, qsizetype n)
{
    st_.ReplyComplete = true;
    sentThisReply_ = false;
    const uint8_t* payload = frame + 5;
    const qsizetype payloadSize = std::max<qsizetype>(0, n - 8);

    switch (frame[4]) {
    case 1:
        setText(Text::DeviceType, QStringLiteral("ДОРК-5"));
        setText(Text::SoftwareVersion, QString());
        st_.DeviceFound = true;
        break;
    case 2: {
        const int counts[kArchiveCount] = {frame[5] | frame[6] << 8, frame[9] | frame[10] << 8,
                                           frame[13] | frame[14] << 8};
        static const int capacity[kArchiveCount] = {MemoryImage::MaxOperativeRecords, MemoryImage::MaxSeriesRecords,
                                                    MemoryImage::MaxSeriesRecords};
        st_.HeaderReceived = true;
        setText(Text::RecordCounts, QStringLiteral("%1/%2/%3").arg(counts[0]).arg(counts[1]).arg(counts[2]));
        for (int a = 0; a < kArchiveCount; ++a) {
            if (counts[a] > capacity[a]) {
                fail(QStringLiteral("%1: прибор сообщил %2 записей, а в память программы помещается не больше %3. "
                                    "Прием прерван.")
                         .arg(archiveName(a))
                         .arg(counts[a])
                         .arg(capacity[a]));
                return;
            }
        }
        for (int a = 0; a < kArchiveCount; ++a) {
            if (counts[a] == 0)
                continue;
            ArchiveState& s = st_.archive[a];
            s.RecordCount = counts[a];
            s.FullBlocks = counts[a] / BlockRecords;
            s.LastBlockSize = uint8_t(counts[a] % BlockRecords);
            s.NextBlock = 0;
            s.StoredBytes = 0;
            s.AwaitingBlock = false;
            if (a == 0) {
                setMax(0, s.FullBlocks);
            } else {
                setMax(a, s.RecordCount);
                s.SeriesReady = true;
                s.SeriesBytes = 0;
                s.SeriesRecord = 0;
                s.ChunkIndex = 0;
                s.AwaitingChunk = false;
            }
        }
        break;
    }
    case 3:
        for (int a = 0; a < kArchiveCount; ++a) {
            ArchiveState& s = st_.archive[a];
            if (!s.AwaitingBlock)
                continue;
            if (s.StoredBytes + payloadSize > qsizetype(a == 0 ? MemoryImage::MaxOperativeRecords * kOperativeRecordSize
                                                                : MemoryImage::ArchiveBufferSize)) {
                fail(QStringLiteral("%1: записей больше, чем помещается в память программы. Прием прерван.")
                         .arg(archiveName(a)));
                return;
            }
            std::memcpy(img_.archive(a).data() + s.StoredBytes, payload, size_t(payloadSize));
            s.StoredBytes = uint16_t(s.StoredBytes + payloadSize);
            s.AwaitingBlock = false;
            break;
        }
        break;
    case 4:
        for (int a = 1; a < kArchiveCount; ++a) {
            ArchiveState& s = st_.archive[a];
            if (!s.AwaitingChunk)
                continue;
            if (s.SeriesBytes < 0 || s.SeriesBytes + payloadSize > MemoryImage::MaxSeriesPoints * pointSize(a)) {
                fail(QStringLiteral("%1: точек серий больше, чем помещается в память программы. Прием прерван.")
                         .arg(archiveName(a)));
                return;
            }
            std::memcpy(img_.series(a).data() + s.SeriesBytes, payload, size_t(payloadSize));
            s.SeriesBytes += int32_t(payloadSize);
            s.AwaitingChunk = false;
            break;
        }
        break;
    default:
        break;
    }

    // After every complete reply the instrument hears the identification request first.
    if (deviceTypeShown_) {
        static const char ident[] = {char(0xA4), char(0xA4), 0x04, 0x00, 0x02, char(0x9A), 0x6B, 0x50};
        send(QByteArrayView(ident, sizeof ident));
    }
    runArchiveSteps();
    if (outcome_ == Outcome::Pending && st_.ReplyComplete && !requestOutstanding())
        completionCheck();
}

void Receiver::runArchiveSteps()
{
    blockStep(0);
    blockStep(1);
    tableStep(1);
    seriesStep(1);
    blockStep(2);
    tableStep(2);
    seriesStep(2);
}

// A block is requested only when nothing is outstanding, so a reply of another
// type that arrives while a block is awaited never skips that block.
void Receiver::blockStep(int a)
{
    ArchiveState& s = st_.archive[a];
    if (outcome_ != Outcome::Pending || !st_.ReplyComplete || s.RecordCount == 0 || s.NextBlock == -1 ||
        requestOutstanding())
        return;
    if (s.NextBlock != s.FullBlocks) {
        s.AwaitingBlock = false;
        blockAsked_ = BlockRecords;
        Com_Send(a, uint16_t(s.NextBlock * BlockRecords), BlockRecords);
        s.AwaitingBlock = true;
        ++s.NextBlock;
    } else {
        s.AwaitingBlock = false;
        blockAsked_ = s.LastBlockSize;
        Com_Send(a, uint16_t(s.FullBlocks * BlockRecords), s.LastBlockSize);
        s.AwaitingBlock = true;
        s.NextBlock = -1;
        if (a > 0)
            s.SeriesReady = false;
    }
    if (a == 0)
        setPos(0, s.FullBlocks);
}

void Receiver::tableStep(int a)
{
    ArchiveState& s = st_.archive[a];
    if (outcome_ != Outcome::Pending || s.NextBlock != -1 || s.AwaitingBlock || s.SeriesReady)
        return;
    const uint8_t* records = img_.archive(a).data();
    qint64 total = 0;
    for (int k = 0; k < s.RecordCount; ++k)
        total += dwordAt(records + k * kSeriesRecordSize + 22);
    if (total > MemoryImage::MaxSeriesPoints) {
        fail(QStringLiteral("%1: прибор сообщил %2 точек серий, а в память программы помещается не больше %3. "
                            "Прием прерван.")
                 .arg(archiveName(a))
                 .arg(total)
                 .arg(MemoryImage::MaxSeriesPoints));
        return;
    }
    auto starts = img_.seriesStartTable(a);
    auto counts = img_.pointCountTable(a);
    for (int k = 0; k < s.RecordCount; ++k) {
        std::memcpy(starts.data() + 4 * k, records + k * kSeriesRecordSize + 18, 4);
        std::memcpy(counts.data() + 4 * k, records + k * kSeriesRecordSize + 22, 4);
    }
    s.SeriesReady = true;
    s.SeriesRecord = 0;
    s.ChunkIndex = 0;
}

void Receiver::seriesStep(int a)
{
    ArchiveState& s = st_.archive[a];
    // The table must be built (last block stored) and nothing may be outstanding.
    if (outcome_ != Outcome::Pending || !s.SeriesReady || s.NextBlock != -1 || s.AwaitingBlock ||
        requestOutstanding())
        return;
    // A series without points in the middle of the table is skipped, not the end of the fetch.
    while (s.SeriesRecord < s.RecordCount && s.ChunkIndex == 0 && img_.pointCount(a, s.SeriesRecord) == 0)
        ++s.SeriesRecord;
    if (s.SeriesRecord >= s.RecordCount)
        return;
    const uint32_t points = img_.pointCount(a, s.SeriesRecord);
    const int run = a == 1 ? WaitingRun : ObservationRun;
    s.FullChunks = int32_t(points / uint32_t(run));
    s.LastChunkSize = int32_t(points % uint32_t(run));
    setPos(a, s.SeriesRecord + 1);
    const uint32_t start = img_.seriesStart(a, s.SeriesRecord) + uint32_t(run) * uint32_t(s.ChunkIndex);
    s.AwaitingChunk = false;
    if (s.ChunkIndex != s.FullChunks) {
        runAsked_ = run;
        Com_Send2(a, start, uint8_t(run));
        ++s.ChunkIndex;
    } else {
        runAsked_ = s.LastChunkSize;
        Com_Send2(a, start, uint8_t(s.LastChunkSize));
        ++s.SeriesRecord;
        s.ChunkIndex = 0;
    }
    s.AwaitingChunk = true;
}

void Receiver::completionCheck()
{
    const ArchiveState& a0 = st_.archive[0];
    const bool operativeDone = int(a0.StoredBytes) == kOperativeRecordSize * a0.RecordCount;
    if (operativeDone && st_.HeaderReceived) {
        setText(Text::Archive0, QStringLiteral("Архив оперативный OK!!!"));
        bool seriesDone[kArchiveCount] = {true, true, true};
        for (int a = 1; a < kArchiveCount; ++a) {
            qint64 sum = 0;
            for (int k = 0; k < st_.archive[a].RecordCount; ++k)
                sum += img_.pointCount(a, k);
            seriesDone[a] = qint64(pointSize(a)) * sum == st_.archive[a].SeriesBytes;
        }
        if (seriesDone[1] && seriesDone[2]) {
            setText(Text::Archive1, QStringLiteral("Архив ждущий OK!!!"));
            setText(Text::Archive2, QStringLiteral("Архив наблюдения OK!!!"));
            outcome_ = Outcome::Ok;
            if (cb_.finished)
                cb_.finished(Outcome::Ok, QString());
            return;
        }
        incomplete_ = true;
        for (int a = 1; a < kArchiveCount; ++a)
            if (!seriesDone[a])
                setText(archiveLabel(a), archiveName(a) + QStringLiteral(": принят не полностью"));
        setText(Text::Status, QStringLiteral("Данные приняты не полностью. Нажмите Cancel."));
    } else if (!operativeDone) {
        incomplete_ = true;
        setText(Text::Archive0, archiveName(0) + QStringLiteral(": принят не полностью"));
        setText(Text::Status, QStringLiteral("Данные приняты не полностью. Нажмите Cancel."));
    }
}

}  // namespace device

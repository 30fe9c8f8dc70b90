#include "tools/sim/instrument.h"

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <algorithm>
#include <cstring>

namespace sim {
namespace {

using device::MemoryImage;

uint32_t dwordAt(const QByteArray& b, qsizetype p)
{
    const auto* u = reinterpret_cast<const uint8_t*>(b.constData()) + p;
    return uint32_t(u[0]) | uint32_t(u[1]) << 8 | uint32_t(u[2]) << 16 | uint32_t(u[3]) << 24;
}

void putWord(char* p, uint32_t v)
{
    p[0] = char(v & 0xFF);
    p[1] = char((v >> 8) & 0xFF);
}

void putDword(char* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = char((v >> (8 * i)) & 0xFF);
}

void putFloat(char* p, float f)
{
    uint32_t v;
    std::memcpy(&v, &f, 4);
    putDword(p, v);
}

void putDateTime(char* p, const QDateTime& t)
{
    p[0] = char(t.time().second());
    p[1] = char(t.time().minute());
    p[2] = char(t.time().hour());
    p[3] = char(t.date().day());
    p[4] = char(t.date().month());
    p[5] = char(t.date().year() - 2010);
}

// Small deterministic generator (the same numbers on every platform).
class Rng {
public:
    explicit Rng(uint32_t seed) : s_(seed * 2654435761u + 0x9E3779B9u) {}
    uint32_t next()
    {
        s_ ^= s_ << 13;
        s_ ^= s_ >> 17;
        s_ ^= s_ << 5;
        return s_;
    }
    int range(int lo, int hi) { return lo + int(next() % uint32_t(hi - lo + 1)); }  // inclusive
    float millimetres(float lo, float hi) { return float(qRound((lo + (hi - lo) * float(next() % 10001) / 10000.f) * 100.f)) / 100.f; }

private:
    uint32_t s_;
};

constexpr uint32_t kWaitingBase = 0x00100000;      // series addresses in points
constexpr uint32_t kObservationBase = 0x00400000;
constexpr uint32_t kAddressGap = 16;

}  // namespace

uint32_t Archives::pointCount(int archive, int record) const
{
    return dwordAt(records[archive], qsizetype(record) * device::kSeriesRecordSize + 22);
}

uint32_t Archives::seriesAddress(int archive, int record) const
{
    return dwordAt(records[archive], qsizetype(record) * device::kSeriesRecordSize + 18);
}

Archives makeScenario(const ScenarioOptions& o)
{
    Rng rng(o.seed);
    Archives out;
    QDateTime clock(QDate(2024, 1, 1).addDays(rng.range(0, 700)), QTime(8, 0, 0));

    // Operative archive: single measurements a few minutes to a few hours apart.
    const int c0 = std::clamp(o.records[0], 0, 65535);
    out.records[0].resize(qsizetype(c0) * device::kOperativeRecordSize);
    for (int i = 0; i < c0; ++i) {
        clock = clock.addSecs(rng.range(60, 3 * 3600));
        if (clock.date().year() > 2026)
            clock = QDateTime(QDate(2024, 1, 1), QTime(8, 0, 0));
        char* r = out.records[0].data() + i * device::kOperativeRecordSize;
        putDateTime(r, clock);
        putDword(r + 6, uint32_t(i + 1));
        putFloat(r + 10, rng.millimetres(0.f, 12.5f));
    }

    for (int a = 1; a <= 2; ++a) {
        const int count = std::clamp(o.records[a], 0, 65535);
        const QList<int>& given = a == 1 ? o.pointsWaiting : o.pointsObservation;
        out.records[a].resize(qsizetype(count) * device::kSeriesRecordSize);
        uint32_t address = a == 1 ? kWaitingBase : kObservationBase;
        for (int k = 0; k < count; ++k) {
            char* r = out.records[a].data() + k * device::kSeriesRecordSize;
            clock = clock.addSecs(rng.range(3600, 48 * 3600));
            if (clock.date().year() > 2026)
                clock = QDateTime(QDate(2024, 1, 1), QTime(8, 0, 0));
            int hours = rng.range(2, 72);
            const int interval = a == 2 ? std::array<int, 4>{5, 10, 15, 30}[rng.next() % 4] : 0;
            const int threshold = a == 1 ? rng.range(1, 10) : 0;
            int points;
            if (o.totalPoints >= 0 && count > 0)
                points = int(o.totalPoints / count + (k < o.totalPoints % count ? 1 : 0));
            else if (o.pointsAll >= 0)
                points = o.pointsAll;
            else if (k < given.size())
                points = given[k];
            else if (a == 2)
                points = std::min(hours * 60 / interval, 300);
            else
                points = rng.range(20, 300);
            if (a == 2 && points > 0)
                hours = std::max(1, (points * interval + 59) / 60);
            putDateTime(r, clock);
            putDword(r + 6, uint32_t(k + 1));
            putDword(r + 10, uint32_t(hours));
            putWord(r + 14, uint32_t(a == 1 ? threshold : interval));
            putWord(r + 16, 0);
            putDword(r + 18, address);
            putDword(r + 22, uint32_t(points));
            address += uint32_t(points) + kAddressGap;

            // Points: waiting points carry their own time, observation points only the value.
            const int size = device::pointSize(a);
            const qsizetype at = out.series[a].size();
            out.series[a].resize(at + qsizetype(points) * size);
            QDateTime t = clock;
            float value = rng.millimetres(0.f, 6.f);
            for (int p = 0; p < points; ++p) {
                char* q = out.series[a].data() + at + qsizetype(p) * size;
                value = std::clamp(value + rng.millimetres(-0.3f, 0.3f), 0.f, 12.5f);
                value = float(qRound(value * 100.f)) / 100.f;
                if (a == 1) {
                    t = t.addSecs(rng.range(1, 3600 * hours / std::max(points, 1) + 1));
                    putDateTime(q, t);
                    putFloat(q + 6, value);
                } else {
                    putFloat(q, value);
                }
            }
        }
    }
    return out;
}

bool archivesFromImageFile(const QString& path, const std::array<int, 3>& counts, Archives& out, QString* error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = f.errorString();
        return false;
    }
    const QByteArray all = f.readAll();
    if (all.size() < MemoryImage::LeadingSize) {
        if (error)
            *error = QStringLiteral("image file shorter than %1 bytes").arg(MemoryImage::LeadingSize);
        return false;
    }
    const int limits[3] = {MemoryImage::MaxOperativeRecords, MemoryImage::MaxSeriesRecords,
                           MemoryImage::MaxSeriesRecords};
    for (int a = 0; a < 3; ++a) {
        const int c = std::clamp(counts[a], 0, limits[a]);
        out.records[a] = all.mid(MemoryImage::archiveOffset(a), qsizetype(c) * device::recordSize(a));
    }
    qsizetype seriesOffset[3] = {0, MemoryImage::LeadingSize, MemoryImage::LeadingSize + MemoryImage::WaitingSeriesSize};
    for (int a = 1; a <= 2; ++a) {
        qint64 total = 0;
        for (int k = 0; k < out.count(a); ++k)
            total += out.pointCount(a, k);
        total = std::min<qint64>(total, MemoryImage::MaxSeriesPoints);
        out.series[a] = all.size() >= kImageFileSize
                            ? all.mid(seriesOffset[a], qsizetype(total) * device::pointSize(a))
                            : QByteArray(qsizetype(total) * device::pointSize(a), 0);
    }
    return true;
}

void fillExpectedImage(const Archives& archives, MemoryImage& image)
{
    for (int a = 0; a < 3; ++a)
        std::memcpy(image.archive(a).data(), archives.records[a].constData(),
                    size_t(std::min<qsizetype>(archives.records[a].size(), MemoryImage::ArchiveBufferSize)));
    image.clearSeries();
    for (int a = 1; a <= 2; ++a) {
        std::memcpy(image.series(a).data(), archives.series[a].constData(),
                    size_t(std::min<qsizetype>(archives.series[a].size(), qsizetype(image.series(a).size()))));
        for (int k = 0; k < std::min(archives.count(a), MemoryImage::MaxSeriesRecords); ++k) {
            const char* r = archives.records[a].constData() + k * device::kSeriesRecordSize;
            std::memcpy(image.seriesStartTable(a).data() + 4 * k, r + 18, 4);
            std::memcpy(image.pointCountTable(a).data() + 4 * k, r + 22, 4);
        }
    }
}

QByteArray serializeImage(const MemoryImage& image)
{
    QByteArray out;
    out.reserve(kImageFileSize);
    auto add = [&](std::span<const uint8_t> s) { out.append(reinterpret_cast<const char*>(s.data()), qsizetype(s.size())); };
    add(image.leading());
    add(image.series(1));
    add(image.series(2));
    add(image.seriesStartTable(1));
    add(image.seriesStartTable(2));
    add(image.pointCountTable(1));
    add(image.pointCountTable(2));
    return out;
}

bool writeImageFile(const QString& path, const MemoryImage& image)
{
    QFile f(path);
    const QByteArray data = serializeImage(image);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

Instrument::Instrument(Archives archives, Faults faults) : a_(std::move(archives)), f_(faults) {}

void Instrument::restart()
{
    identCount_ = 0;
    heldIdent_ = false;
    in_.clear();
}

QByteArray Instrument::frame(uint8_t type, QByteArrayView payload)
{
    const qsizetype n = payload.size() + 8;
    QByteArray f(n, 0);
    f[0] = char(0xB8);
    f[1] = char(0xB8);
    putWord(f.data() + 2, uint32_t(n));
    f[4] = char(type);
    std::memcpy(f.data() + 5, payload.data(), size_t(payload.size()));
    f[n - 3] = char(0xA3);
    uint32_t sum = 0;
    for (qsizetype i = 0; i < n - 3; ++i)
        sum += uint8_t(f[i]);
    putWord(f.data() + n - 2, sum);
    return f;
}

QByteArray Instrument::feed(QByteArrayView bytes)
{
    in_.append(bytes.data(), bytes.size());
    QByteArray out;
    for (;;) {
        const qsizetype s = in_.indexOf(QByteArrayView("\xA4\xA4", 2));
        if (s < 0) {
            in_ = in_.endsWith(char(0xA4)) ? QByteArray(1, char(0xA4)) : QByteArray();
            break;
        }
        in_.remove(0, s);
        if (in_.size() < 3)
            break;
        const qsizetype total = uint8_t(in_[2]) + 4;
        if (in_.size() < total)
            break;
        const QByteArray request = in_.left(total);
        if (!request.endsWith(QByteArrayView("\x9A\x6B\x50", 3)) || total < 8) {
            in_.remove(0, 1);  // not a frame after all
            continue;
        }
        in_.remove(0, total);
        if (observer_)
            observer_(request);
        if (!f_.silent)
            out += answer(request);
    }
    return out;
}

QByteArray Instrument::answer(const QByteArray& r)
{
    const auto* u = reinterpret_cast<const uint8_t*>(r.constData());
    switch (u[4]) {
    case 2: {
        ++identCount_;
        if (identCount_ == 1) {
            const char payload[] = {0x05, 0x01, 0x00};
            return finish(frame(1, QByteArrayView(payload, 3)));
        }
        if (identCount_ == 2) {
            char payload[12] = {};
            for (int a = 0; a < 3; ++a)
                putWord(payload + 4 * a, uint32_t(a_.count(a)));
            return finish(frame(2, QByteArrayView(payload, 12)));
        }
        if (f_.join)
            heldIdent_ = true;
        return {};
    }
    case 3: {
        if (r.size() != 12 || u[5] > 2)
            return {};
        const int a = u[5];
        const int first = u[6] | u[7] << 8;
        int count = u[8];
        ++dataReplies_;
        if (f_.overlong && dataReplies_ == f_.overlong)
            ++count;
        const int size = device::recordSize(a);
        QByteArray payload(qsizetype(count) * size, 0);
        const QByteArray have = a_.records[a].mid(qsizetype(first) * size, qsizetype(count) * size);
        std::memcpy(payload.data(), have.constData(), size_t(have.size()));
        return finish(frame(3, payload));
    }
    case 4: {
        if (r.size() != 14 || (u[5] != 1 && u[5] != 2))
            return {};
        const int a = u[5];
        const uint32_t start = uint32_t(u[6]) | uint32_t(u[7]) << 8 | uint32_t(u[8]) << 16 | uint32_t(u[9]) << 24;
        int count = u[10];
        ++dataReplies_;
        if (f_.overlong && dataReplies_ == f_.overlong)
            ++count;
        const int size = device::pointSize(a);
        QByteArray payload(qsizetype(count) * size, 0);
        qint64 before = 0;  // points of the series before record k
        for (int k = 0; k < a_.count(a); ++k) {
            const uint32_t base = a_.seriesAddress(a, k);
            const uint32_t n = a_.pointCount(a, k);
            if (start >= base && start - base <= n) {
                const qint64 from = (before + (start - base)) * size;
                const QByteArray have = a_.series[a].mid(from, std::min<qint64>(qint64(count) * size,
                                                                                 std::max<qint64>(0, a_.series[a].size() - from)));
                std::memcpy(payload.data(), have.constData(), size_t(have.size()));
                break;
            }
            before += n;
        }
        return finish(frame(4, payload));
    }
    default:
        return {};
    }
}

QByteArray Instrument::finish(QByteArray reply)
{
    ++replies_;
    if (f_.corrupt && replies_ == f_.corrupt)
        reply[reply.size() - 3] = 0;
    if (f_.truncate && replies_ == f_.truncate)
        reply.truncate(reply.size() / 2);
    if (heldIdent_) {
        const char payload[] = {0x05, 0x01, 0x00};
        reply.prepend(frame(1, QByteArrayView(payload, 3)));
        heldIdent_ = false;
    }
    replyBytes_ += reply.size();
    return reply;
}

}  // namespace sim

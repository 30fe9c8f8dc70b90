#include "decode/flash2orl01.h"

#include <cmath>
#include <limits>

#include "decode/primitives.h"
#include "device/memory_image.h"
#include "store/dbf.h"

namespace decode {
namespace {

// Field positions of the measurement table, looked up once per decode.
struct Fields {
    int N, DATE, TIME, R, ARTICLE, AGE, M1, M2, MODE, COMMENT, TYPE;
    explicit Fields(const dbf::Table& t)
        : N(t.fieldIndex(u"N")), DATE(t.fieldIndex(u"DATE")), TIME(t.fieldIndex(u"TIME")),
          R(t.fieldIndex(u"R")), ARTICLE(t.fieldIndex(u"ARTICLE")), AGE(t.fieldIndex(u"AGE")),
          M1(t.fieldIndex(u"M1")), M2(t.fieldIndex(u"M2")), MODE(t.fieldIndex(u"MODE")),
          COMMENT(t.fieldIndex(u"COMMENT")), TYPE(t.fieldIndex(u"TYPE"))
    {
    }
};

void setValue(dbf::Table& t, int field, double v)
{
    // A value the instrument did not store as a number stays blank.
    if (std::isfinite(v))
        t.setFloat(field, v);
    else
        t.setNull(field);
}

void startSection(dbf::Table& t, const QString& filter)
{
    t.setFilter(filter);
    t.setFiltered(true);
    t.refresh();
    t.last();
}

}  // namespace

Flash2orl01Result flash2orl01(dbf::Table& table, const device::MemoryImage& image,
                              const std::array<int, 3>& counts, bool report, const Flash2orl01Hooks& hooks)
{
    Flash2orl01Result result;
    if (!table.isOpen())
        return result;
    const Fields f(table);

    // Every row the download brings, for one reservation up front.
    {
        qint64 rows = std::min<qint64>(counts[0] & 0xFFFF, device::MemoryImage::MaxOperativeRecords);
        for (int mode : {1, 2}) {
            const int n = std::min<int>(counts[size_t(mode)] & 0xFFFF, int(device::MemoryImage::PointCountEntries));
            qint64 points = 0;
            for (int t = 0; t < n; ++t)
                points += std::max<int32_t>(0, int32_t(image.pointCount(mode, t)));
            rows += std::min<qint64>(points, image.series(mode).size() / size_t(device::pointSize(mode)));
        }
        table.reserveRows(uint32_t(std::min<qint64>(table.physicalCount() + rows, 1 << 24)));
    }
    // Counts of left-out records add up from untrusted point counts: the sum
    // saturates instead of overflowing.
    auto skip = [&](int64_t n) {
        result.skippedRecords = int(std::min<int64_t>(std::numeric_limits<int>::max(), result.skippedRecords + n));
    };
    auto say = [&](const QString& text) {
        if (report && hooks.report)
            hooks.report(text, QStringLiteral("Дополнение"));
    };

    // Operative archive: 14-byte records.
    startSection(table, QStringLiteral("MODE=0"));
    const int c0 = counts[0] & 0xFFFF;
    if (c0 != 0) {
        const Bytes area = image.archive(0);
        const int fit = std::min<int>(c0, int(area.size() / device::kOperativeRecordSize));
        skip(c0 - fit);
        for (int i = 0; i < fit; ++i) {
            const qsizetype r = qsizetype(i) * device::kOperativeRecordSize;
            table.append();
            table.setFloat(f.N, get_dword(area, r + 6));
            table.setString(f.TIME, time_str(area, r));
            table.setString(f.DATE, date_str(area, r + 3));
            setValue(table, f.R, get_single(area, r + 10));
            table.setInteger(f.MODE, 0);
            table.setString(f.COMMENT, QString());
            table.setInteger(f.TYPE, 3);
            table.post();
            ++result.rows;
        }
        say(QStringLiteral("Добавлено записей в базовый метод: ") + QString::number(c0));
    }

    // Series archives: 26-byte headers; points back to back in header order.
    for (int mode : {1, 2}) {
        startSection(table, QStringLiteral("MODE=%1").arg(mode));
        const int count = counts[size_t(mode)] & 0xFFFF;
        if (count == 0)
            continue;
        const Bytes headers = image.archive(mode);
        const Bytes points = image.series(mode);
        const int pointSize = device::pointSize(mode);
        const int fit = std::min({count, int(headers.size() / device::kSeriesRecordSize),
                                  int(device::MemoryImage::PointCountEntries)});
        skip(count - fit);
        qsizetype q = 0;
        bool pointsLeft = true;
        for (int t = 1; t <= fit; ++t) {
            const qsizetype h = qsizetype(t - 1) * device::kSeriesRecordSize;
            const uint32_t number = get_dword(headers, h + 6);
            if (hooks.addSeries)
                hooks.addSeries(mode, QString::number(number));
            const int64_t declared = int32_t(image.pointCount(mode, t - 1));
            const QString start = date_str(headers, h + 3);
            const QString startTime = time_str(headers, h);
            QString end;
            if (mode == 2) {
                const QDateTime begin = parseDateTimeText(start + QLatin1Char(' ') + startTime);
                if (begin.isValid())
                    end = dateTimeText(begin.addSecs(qint64(get_dword(headers, h + 10)) * 3600));
            }
            for (int64_t k = 1; k <= declared; ++k) {
                if (!pointsLeft || q + pointSize > qsizetype(points.size())) {
                    pointsLeft = false;
                    skip(declared - k + 1);
                    break;
                }
                table.append();
                table.setFloat(f.N, mode == 1 ? double(number) : double(k));
                table.setString(f.TIME, startTime);
                table.setString(f.DATE, start);
                table.setInteger(f.MODE, mode);
                table.setString(f.COMMENT, QString());
                table.setInteger(f.TYPE, t);
                if (k == 1) {
                    table.setString(f.AGE, QString::number(declared));
                    table.setInteger(f.M1, get_word(headers, h + 10));
                    table.setInteger(f.M2, get_word(headers, h + 14));
                    if (mode == 2)
                        table.setString(f.ARTICLE, end);
                }
                if (mode == 1) {
                    // "dd.mm.yyyy hh:mm:ss" built on the stack: this runs for
                    // every waiting point.
                    char16_t at[19];
                    put_date(points, q + 3, at);
                    at[10] = u' ';
                    put_time(points, q, at + 11);
                    table.setString(f.ARTICLE, QStringView(at, 19));
                    setValue(table, f.R, get_single(points, q + 6));
                } else {
                    setValue(table, f.R, get_single(points, q));
                }
                table.post();
                ++result.rows;
                q += pointSize;
            }
        }
        if (mode == 1)
            say(QStringLiteral("Добавлено записей в индивидуальный метод: ") + QString::number(count));
    }
    return result;
}

}  // namespace decode

#include "series/series_logic.h"

#include "decode/primitives.h"

#include <algorithm>
#include <cmath>

#include "ground/app_locale.h"
#include "store/dbf.h"

namespace series {

QString notePrefix() { return QStringLiteral("Примечание: "); }

bool noteShouldBeStored(const QString& note, const QString& storedComment)
{
    return note.size() > notePrefix().size() && note != storedComment;
}

QString numberText(double value)
{
    if (!std::isfinite(value))
        return {};
    if (value == 0)
        value = 0;  // no "-0"
    // 15 significant digits in general form: the shortest text of every value
    // read from the table (stored with at most 9 decimals), and whole numbers
    // up to 10^15 stay plain digits ("1000000", never "1e+06").
    return appLocale().toString(value, 'g', 15);
}

QString numberFieldText(const dbf::Table& table, uint32_t recno, int field)
{
    if (field < 0 || table.isNullAt(recno, field))
        return {};
    return numberText(table.floatAt(recno, field));
}

std::optional<double> parseNumber(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    bool ok = false;
    double v = appLocale().toDouble(t, &ok);
    if (!ok) {
        QString dotted = t;
        dotted.replace(QLatin1Char(','), QLatin1Char('.'));
        v = QLocale::c().toDouble(dotted, &ok);
    }
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<QDateTime> parsePointDateTime(const QString& text)
{
    const QDateTime t = decode::parseDateTimeText(text);
    if (!t.isValid())
        return std::nullopt;
    return t;
}

double dateTimeKey(const QDateTime& dt) { return double(dt.toMSecsSinceEpoch()) / 1000.0; }

std::optional<double> pointKey(const QString& text)
{
    const auto dt = parsePointDateTime(text);
    if (!dt)
        return std::nullopt;
    return dateTimeKey(*dt);
}

namespace {

struct SeriesFields {
    int n, date, time, r, article, m1, m2, mode, type, comment;
    bool ok() const
    {
        return n >= 0 && date >= 0 && time >= 0 && r >= 0 && article >= 0 && m1 >= 0 && m2 >= 0 &&
               mode >= 0 && type >= 0 && comment >= 0;
    }
};

SeriesFields fieldsOf(const dbf::Table& t)
{
    return {t.fieldIndex(u"N"),  t.fieldIndex(u"DATE"), t.fieldIndex(u"TIME"),    t.fieldIndex(u"R"),
            t.fieldIndex(u"ARTICLE"), t.fieldIndex(u"M1"), t.fieldIndex(u"M2"), t.fieldIndex(u"MODE"),
            t.fieldIndex(u"TYPE"), t.fieldIndex(u"COMMENT")};
}

// MODE and TYPE are small integers; a blank one counts as 0.
int smallIntAt(const dbf::Table& t, uint32_t recno, int field)
{
    return int(std::lround(t.floatAt(recno, field)));
}

}  // namespace

QStringList seriesOrdinalTexts(const dbf::Table& table, int mode)
{
    QStringList out;
    if (!table.isOpen())
        return out;
    const int modeField = table.fieldIndex(u"MODE");
    const int typeField = table.fieldIndex(u"TYPE");
    if (modeField < 0 || typeField < 0)
        return out;
    int previous = 0;
    const uint32_t n = table.physicalCount();
    for (uint32_t rec = 0; rec < n; ++rec) {
        if (table.isDeletedAt(rec) || smallIntAt(table, rec, modeField) != mode)
            continue;
        const int type = smallIntAt(table, rec, typeField);
        if (type != previous) {
            previous = type;
            out.append(QString::number(type));
        }
    }
    return out;
}

std::vector<uint32_t> viewRecordsInStoredOrder(const dbf::Table& table)
{
    std::vector<uint32_t> out;
    if (!table.isOpen())
        return out;
    const int count = table.recordCount();
    out.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        out.push_back(table.physicalRecNoAt(i));
    if (!std::is_sorted(out.begin(), out.end()))
        std::sort(out.begin(), out.end());
    return out;
}

namespace {

// Calls `take` with every live record of one series, in stored order, until
// it returns false.
template <typename Take>
void forEachRecordOf(const dbf::Table& table, int mode, int ordinal, Take take)
{
    if (!table.isOpen())
        return;
    const int modeField = table.fieldIndex(u"MODE");
    const int typeField = table.fieldIndex(u"TYPE");
    if (modeField < 0 || typeField < 0)
        return;
    const uint32_t n = table.physicalCount();
    for (uint32_t rec = 0; rec < n; ++rec) {
        if (!table.isDeletedAt(rec) && smallIntAt(table, rec, modeField) == mode &&
            smallIntAt(table, rec, typeField) == ordinal && !take(rec))
            return;
    }
}

}  // namespace

std::optional<uint32_t> firstRecordOf(const dbf::Table& table, int mode, int ordinal)
{
    std::optional<uint32_t> first;
    forEachRecordOf(table, mode, ordinal, [&first](uint32_t rec) {
        first = rec;
        return false;
    });
    return first;
}

std::vector<uint32_t> seriesRecords(const dbf::Table& table, int mode, int ordinal)
{
    std::vector<uint32_t> out;
    forEachRecordOf(table, mode, ordinal, [&out](uint32_t rec) {
        out.push_back(rec);
        return true;
    });
    return out;
}

WaitingSeries readWaitingSeries(const dbf::Table& table, const std::vector<uint32_t>& records)
{
    WaitingSeries s;
    s.dates.append(QStringLiteral("Дата"));
    s.values.append(QStringLiteral("Прогиб"));
    const SeriesFields f = fieldsOf(table);
    if (records.empty() || !f.ok())
        return s;

    const uint32_t first = records.front();
    s.count = int(records.size());
    s.firstRecord = first;
    s.duration = numberFieldText(table, first, f.m1) + QStringLiteral("час.");
    s.threshold = numberFieldText(table, first, f.m2) + QStringLiteral("мм.");
    s.start = table.stringAt(first, f.date) + QLatin1Char(' ') + table.stringAt(first, f.time);
    s.comment = table.stringAt(first, f.comment);
    // Round half to even, the rounding the threshold has always had.
    s.thresholdValue = int(std::nearbyint(table.floatAt(first, f.m2)));

    s.dates.reserve(s.count + 1);
    s.values.reserve(s.count + 1);
    s.keys.reserve(s.count);
    s.deflections.reserve(s.count);
    for (uint32_t rec : records) {
        const QString article = table.stringAt(rec, f.article);
        s.dates.append(article);
        s.values.append(numberFieldText(table, rec, f.r));
        const auto key = pointKey(article);
        if (!key) {
            s.badDates.append(article);
            continue;
        }
        s.keys.append(*key);
        s.deflections.append(table.floatAt(rec, f.r));
        if (!s.hasLineKeys) {
            s.firstKey = *key;
            s.hasLineKeys = true;
        }
        s.lastKey = *key;
    }
    return s;
}

ObservationSeries readObservationSeries(const dbf::Table& table, const std::vector<uint32_t>& records)
{
    ObservationSeries s;
    s.numbers.append(QStringLiteral("№"));
    s.values.append(QStringLiteral("Прогиб"));
    const SeriesFields f = fieldsOf(table);
    if (records.empty() || !f.ok())
        return s;

    const uint32_t first = records.front();
    s.count = int(records.size());
    s.firstRecord = first;
    s.duration = numberFieldText(table, first, f.m1) + QStringLiteral("час.");
    s.interval = numberFieldText(table, first, f.m2) + QStringLiteral("мин.");
    s.start = table.stringAt(first, f.date) + QLatin1Char(' ') + table.stringAt(first, f.time);
    s.end = table.stringAt(first, f.article);
    s.comment = table.stringAt(first, f.comment);

    s.numbers.reserve(s.count + 1);
    s.values.reserve(s.count + 1);
    s.keys.reserve(s.count);
    s.deflections.reserve(s.count);
    for (uint32_t rec : records) {
        const double n = table.floatAt(rec, f.n);
        s.numbers.append(numberFieldText(table, rec, f.n));
        s.values.append(numberFieldText(table, rec, f.r));
        s.keys.append(n);
        s.deflections.append(table.floatAt(rec, f.r));
    }
    s.sliderMin = int(std::lround(s.keys.front()));
    s.sliderMax = int(std::lround(s.keys.back()));
    if (s.count > 1)
        s.tickFrequency = wholeNumberOf(s.numbers.at(2)) - wholeNumberOf(s.numbers.at(1));
    return s;
}

int wholeNumberOf(const QString& text)
{
    const auto v = parseNumber(text);
    if (!v || std::fabs(*v) > 2.0e9)
        return 0;
    return int(std::trunc(*v));
}

double barWidth(const QVector<double>& sortedKeys)
{
    constexpr double share = 0.15;
    if (sortedKeys.size() < 2)
        return share * 60.0;
    const double span = sortedKeys.back() - sortedKeys.front();
    if (span <= 0)
        return share * 60.0;
    return share * span / double(sortedKeys.size() - 1);
}

std::pair<double, double> paddedRange(double lo, double hi, double fraction, double fallback)
{
    if (hi < lo)
        std::swap(lo, hi);
    const double span = hi - lo;
    const double pad = span > 0 ? span * fraction : fallback;
    return {lo - pad, hi + pad};
}

}  // namespace series

#pragma once
// Window-free half of the waiting and observation series views: number and
// date-time texts, reading one series out of the measurement table into the
// columns of its list and the points of its chart, and finding a series'
// first record for its note.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>
#include <optional>
#include <vector>

namespace dbf {
class Table;
}

namespace series {

// Longest note the note box accepts, and the text it starts with.
inline constexpr int NoteMaxLength = 256;
QString notePrefix();  // "Примечание: "
// The note is stored only when it is longer than the bare prefix and differs
// from what the series' first record already holds.
bool noteShouldBeStored(const QString& note, const QString& storedComment);

// A number as the views write it: general form, up to 15 significant digits,
// decimal comma, no group separator ("0,7", "12", "1000000", "-3,25").
QString numberText(double value);
// Text of a numeric field: empty when the field is blank.
QString numberFieldText(const dbf::Table& table, uint32_t recno, int field);
// A number typed or listed the Russian way; a decimal point is accepted too.
std::optional<double> parseNumber(const QString& text);

// "dd.MM.yyyy hh:mm:ss", "dd.MM.yyyy hh:mm" or "dd.MM.yyyy" (midnight), with
// one- or two-digit day, month and hour.  The result is in UTC so that chart
// keys and axis labels never depend on the machine's time zone.
std::optional<QDateTime> parsePointDateTime(const QString& text);
// Chart key of a date and time: seconds since 1970-01-01 00:00:00 UTC.
double dateTimeKey(const QDateTime& dt);
std::optional<double> pointKey(const QString& text);

// Texts of the series ordinals of one mode, in stored order: every record of
// the mode whose TYPE differs from the previous record's adds its TYPE.
QStringList seriesOrdinalTexts(const dbf::Table& table, int mode);

// The physical records of the table's current view, in stored order (the
// view itself may be sorted by an index tag).
std::vector<uint32_t> viewRecordsInStoredOrder(const dbf::Table& table);

// First live record, in stored order, with MODE = mode and TYPE = ordinal.
std::optional<uint32_t> firstRecordOf(const dbf::Table& table, int mode, int ordinal);
// Every live record with MODE = mode and TYPE = ordinal, in stored order,
// whatever filter the table has at the moment.
std::vector<uint32_t> seriesRecords(const dbf::Table& table, int mode, int ordinal);

// Everything a waiting series shows, read from its records in stored order.
struct WaitingSeries {
    int count = 0;
    QString duration;   // M1 + "час."
    QString threshold;  // M2 + "мм."
    QString start;      // DATE + " " + TIME
    QString comment;    // COMMENT of the first record
    int thresholdValue = 0;  // M2 rounded to a whole number
    QStringList dates;   // list column 0, row 0 included ("Дата")
    QStringList values;  // list column 1, row 0 included ("Прогиб")
    QVector<double> keys, deflections;  // bars: one per record whose date parses
    double firstKey = 0, lastKey = 0;   // where the threshold and zero lines run
    bool hasLineKeys = false;
    QStringList badDates;  // ARTICLE texts that are not a date and time
    uint32_t firstRecord = 0;
};
WaitingSeries readWaitingSeries(const dbf::Table& table, const std::vector<uint32_t>& records);

struct ObservationSeries {
    int count = 0;
    QString duration;  // M1 + "час."
    QString interval;  // M2 + "мин."
    QString start;     // DATE + " " + TIME
    QString end;       // ARTICLE of the first record
    QString comment;
    QStringList numbers;  // list column 0, row 0 included ("№")
    QStringList values;   // list column 1, row 0 included ("Прогиб")
    QVector<double> keys, deflections;  // line points (N, R), ascending N
    int sliderMin = 0, sliderMax = 0;
    std::optional<int> tickFrequency;  // set only for two or more records
    uint32_t firstRecord = 0;
};
ObservationSeries readObservationSeries(const dbf::Table& table, const std::vector<uint32_t>& records);

// Whole number at the start of a list cell ("12" -> 12, "3,5" -> 3); 0 when none.
int wholeNumberOf(const QString& text);

// Bar width in key units: 15 % of the mean distance between neighbouring
// keys (a minute for a single bar).
double barWidth(const QVector<double>& sortedKeys);

// Axis range over [lo, hi] with a margin of `fraction` of the span on each
// side; a zero span gets a margin of `fallback` instead.
std::pair<double, double> paddedRange(double lo, double hi, double fraction, double fallback);

}  // namespace series

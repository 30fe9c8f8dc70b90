#pragma once
// The instrument's binary forms of numbers, dates and times, turned into
// table values.  Every decoder goes through these, so a date or a time reads
// the same whatever archive it came from.  Reads outside the buffer give 0
// (numbers) or the fallback texts; the buffer is never changed.

#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <cstdint>
#include <span>

namespace decode {

using Bytes = std::span<const uint8_t>;

uint16_t get_word(Bytes buf, qsizetype p);
uint32_t get_dword(Bytes buf, qsizetype p);
// IEEE single at p, widened and rounded to two decimals (ties to even).
// NaN and infinities come back unchanged; callers store them as blank.
double get_single(Bytes buf, qsizetype p);

// Bytes second, minute, hour -> "hh:mm:ss"; out-of-range parts become "00".
QString time_str(Bytes buf, qsizetype p);
// Bytes hour, minute -> "hh:mm".
QString hm_str(Bytes buf, qsizetype p);
// Bytes day, month, year - 2010 -> "dd.mm.yyyy"; out-of-range day or month
// become "01".
QString date_str(Bytes buf, qsizetype p);
// The same texts written into a caller's buffer without allocating, for
// loops that run once per stored point: 8 characters ("hh:mm:ss") and 10
// characters ("dd.mm.yyyy").
void put_time(Bytes buf, qsizetype p, char16_t* out);
void put_date(Bytes buf, qsizetype p, char16_t* out);

// The reference that is earlier than any record (an empty section).
inline const QString EmptyReference = QStringLiteral("00.00.000000:00:00");

// True when the record (its DATE text followed by its TIME text, as the
// decoder writes them) is strictly later than the reference (the DATE text
// followed by the TIME text of the last stored row).  Short times (hh:mm)
// count as second 0.
bool later_than(const QString& reference, const QString& recordDateTime);

// The program's date-time text: "dd.MM.yyyy hh:mm:ss", or the date alone when
// the time is exactly midnight.
QString dateTimeText(const QDateTime& t);
// Parses "dd.mm.yyyy", "dd.mm.yyyy hh:mm" and "dd.mm.yyyy hh:mm:ss" (one or
// two digits per part); an invalid QDateTime when the text is none of them.
QDateTime parseDateTimeText(const QString& text);

}  // namespace decode

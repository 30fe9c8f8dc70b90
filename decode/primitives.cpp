#include "decode/primitives.h"

#include <array>
#include <cmath>
#include <cstring>

namespace decode {
namespace {

uint8_t byteAt(Bytes buf, qsizetype p)
{
    return p >= 0 && p < qsizetype(buf.size()) ? buf[size_t(p)] : 0;
}

bool inside(Bytes buf, qsizetype p, qsizetype n) { return p >= 0 && p + n <= qsizetype(buf.size()); }

void two(QString& out, int v)
{
    out += QLatin1Char(char('0' + v / 10));
    out += QLatin1Char(char('0' + v % 10));
}

void two(char16_t* out, int v)
{
    out[0] = char16_t(u'0' + v / 10);
    out[1] = char16_t(u'0' + v % 10);
}

}  // namespace

uint16_t get_word(Bytes buf, qsizetype p)
{
    return uint16_t(byteAt(buf, p) | byteAt(buf, p + 1) << 8);
}

uint32_t get_dword(Bytes buf, qsizetype p)
{
    return uint32_t(byteAt(buf, p)) | uint32_t(byteAt(buf, p + 1)) << 8 | uint32_t(byteAt(buf, p + 2)) << 16 |
           uint32_t(byteAt(buf, p + 3)) << 24;
}

double get_single(Bytes buf, qsizetype p)
{
    if (!inside(buf, p, 4))
        return 0.0;
    const uint32_t bits = get_dword(buf, p);
    float f;
    std::memcpy(&f, &bits, 4);
    const double wide = f;
    if (!std::isfinite(wide))
        return wide;
    // nearbyint rounds half to even in the default rounding mode.
    return std::nearbyint(wide / 0.01) * 0.01;
}

void put_time(Bytes buf, qsizetype p, char16_t* out)
{
    const int second = byteAt(buf, p), minute = byteAt(buf, p + 1), hour = byteAt(buf, p + 2);
    two(out, hour <= 23 ? hour : 0);
    out[2] = u':';
    two(out + 3, minute <= 59 ? minute : 0);
    out[5] = u':';
    two(out + 6, second <= 59 ? second : 0);
}

QString time_str(Bytes buf, qsizetype p)
{
    char16_t s[8];
    put_time(buf, p, s);
    return QString(reinterpret_cast<const QChar*>(s), 8);
}

QString hm_str(Bytes buf, qsizetype p)
{
    const int hour = byteAt(buf, p), minute = byteAt(buf, p + 1);
    QString s;
    s.reserve(5);
    two(s, hour <= 23 ? hour : 0);
    s += QLatin1Char(':');
    two(s, minute <= 59 ? minute : 0);
    return s;
}

void put_date(Bytes buf, qsizetype p, char16_t* out)
{
    const int day = byteAt(buf, p), month = byteAt(buf, p + 1), year = 2010 + byteAt(buf, p + 2);
    two(out, day >= 1 && day <= 31 ? day : 1);
    out[2] = u'.';
    two(out + 3, month >= 1 && month <= 12 ? month : 1);
    out[5] = u'.';
    // 2010 to 2265: always four digits.
    two(out + 6, year / 100);
    two(out + 8, year % 100);
}

QString date_str(Bytes buf, qsizetype p)
{
    char16_t s[10];
    put_date(buf, p, s);
    return QString(reinterpret_cast<const QChar*>(s), 10);
}

namespace {
// Date and time parts of "dd.mm.yyyyhh:mm[:ss]" read by position; missing or
// non-numeric parts count as 0.
std::array<int, 6> partsOf(const QString& t)
{
    auto num = [&](int from, int len) { return t.mid(from, len).toInt(); };
    // year, month, day, hour, minute, second: the order of comparison
    return {num(6, 4), num(3, 2), num(0, 2), num(10, 2), num(13, 2), t.size() >= 18 ? num(16, 2) : 0};
}
}  // namespace

bool later_than(const QString& reference, const QString& recordDateTime)
{
    const auto ref = partsOf(reference);
    const auto rec = partsOf(recordDateTime);
    for (size_t i = 0; i < ref.size(); ++i)
        if (rec[i] != ref[i])
            return rec[i] > ref[i];
    return false;
}

QString dateTimeText(const QDateTime& t)
{
    if (t.time() == QTime(0, 0))
        return t.toString(QStringLiteral("dd.MM.yyyy"));
    return t.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

namespace {
// Reads 1..maxDigits decimal digits at pos; false when there are none.
bool readNumber(QStringView t, qsizetype& pos, int maxDigits, int& value)
{
    value = 0;
    int digits = 0;
    while (pos < t.size() && digits < maxDigits && t[pos] >= u'0' && t[pos] <= u'9') {
        value = value * 10 + (t[pos].unicode() - u'0');
        ++pos;
        ++digits;
    }
    return digits > 0;
}

bool expect(QStringView t, qsizetype& pos, char16_t c)
{
    if (pos < t.size() && t[pos] == c) {
        ++pos;
        return true;
    }
    return false;
}

}  // namespace

QDateTime parseDateTimeText(const QString& text)
{
    // Hand-written rather than a regular expression: a long series parses
    // every point's text once per selection.
    const QStringView t = QStringView(text).trimmed();
    qsizetype pos = 0;
    int day = 0, month = 0, year = 0;
    if (!readNumber(t, pos, 2, day) || !expect(t, pos, u'.') || !readNumber(t, pos, 2, month) ||
        !expect(t, pos, u'.'))
        return {};
    const qsizetype yearStart = pos;
    if (!readNumber(t, pos, 4, year) || pos - yearStart != 4)
        return {};
    const QDate date(year, month, day);
    if (!date.isValid())
        return {};
    QTime time(0, 0, 0);
    if (pos < t.size()) {
        if (!t[pos].isSpace())
            return {};
        while (pos < t.size() && t[pos].isSpace())
            ++pos;
        int hour = 0, minute = 0, second = 0;
        if (!readNumber(t, pos, 2, hour) || !expect(t, pos, u':') || !readNumber(t, pos, 2, minute))
            return {};
        if (expect(t, pos, u':') && !readNumber(t, pos, 2, second))
            return {};
        if (pos != t.size())
            return {};
        time = QTime(hour, minute, second);
        if (!time.isValid())
            return {};
    }
    return QDateTime(date, time, Qt::UTC);
}

}  // namespace decode

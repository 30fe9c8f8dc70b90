#include "decode/primitives.h"

#include <QRegularExpression>
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

QString time_str(Bytes buf, qsizetype p)
{
    const int second = byteAt(buf, p), minute = byteAt(buf, p + 1), hour = byteAt(buf, p + 2);
    QString s;
    s.reserve(8);
    two(s, hour <= 23 ? hour : 0);
    s += QLatin1Char(':');
    two(s, minute <= 59 ? minute : 0);
    s += QLatin1Char(':');
    two(s, second <= 59 ? second : 0);
    return s;
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

QString date_str(Bytes buf, qsizetype p)
{
    const int day = byteAt(buf, p), month = byteAt(buf, p + 1), year = byteAt(buf, p + 2);
    QString s;
    s.reserve(10);
    two(s, day >= 1 && day <= 31 ? day : 1);
    s += QLatin1Char('.');
    two(s, month >= 1 && month <= 12 ? month : 1);
    s += QLatin1Char('.');
    s += QString::number(2010 + year);
    return s;
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

QDateTime parseDateTimeText(const QString& text)
{
    static const QRegularExpression re(QStringLiteral(
        R"(^\s*(\d{1,2})\.(\d{1,2})\.(\d{4})(?:\s+(\d{1,2}):(\d{1,2})(?::(\d{1,2}))?)?\s*$)"));
    const auto m = re.match(text);
    if (!m.hasMatch())
        return {};
    const QDate d(m.captured(3).toInt(), m.captured(2).toInt(), m.captured(1).toInt());
    const QTime t(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    if (!d.isValid() || !t.isValid())
        return {};
    return QDateTime(d, t, Qt::UTC);
}

}  // namespace decode

// Field values inside a record (see dbf_record.h).
#include "store/dbf_record.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace dbf::detail {

namespace {

bool isZeroDate(const char* p, int w) {
    for (int i = 0; i < w; ++i)
        if (p[i] != '0' && p[i] != ' ' && p[i] != '\0')
            return false;
    return true;
}

}  // namespace

// Parses a numeric field.  Blank, '*'-filled and malformed text is null
// (returns false).  Accepts leading/trailing blanks, a sign, '.' or ',' as the
// decimal point and an exponent.
bool parseNumber(const char* p, int w, double& out) {
    int b = 0, e = w;
    while (b < e && p[b] == ' ')
        ++b;
    while (e > b && (p[e - 1] == ' ' || p[e - 1] == '\0'))
        --e;
    if (b == e)
        return false;
    if (p[b] == '+')
        ++b;
    if (b == e)
        return false;
    char buf[300];
    const char* s = p + b;
    const int n = e - b;
    if (n >= int(sizeof buf))
        return false;
    if (std::memchr(s, ',', size_t(n))) {
        std::memcpy(buf, s, size_t(n));
        std::replace(buf, buf + n, ',', '.');
        s = buf;
    }
    // from_chars would also accept "inf" and "nan"; a field holds digits only.
    const char c0 = s[0] == '-' && n > 1 ? s[1] : s[0];
    if (!((c0 >= '0' && c0 <= '9') || c0 == '.'))
        return false;
    // Most fields are plain "digits.digits": their digits as one integer,
    // divided by a power of ten.  Both are exact doubles (below 2^53 and
    // 10^22), so the one division rounds exactly as the general conversion
    // does.
    {
        static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                            1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
        const bool negative = s[0] == '-';
        int i = negative ? 1 : 0;
        unsigned long long mantissa = 0;
        int digits = 0, decimals = -1;
        bool plain = i < n;
        for (; i < n && plain; ++i) {
            const char c = s[i];
            if (c >= '0' && c <= '9') {
                mantissa = mantissa * 10 + unsigned(c - '0');
                ++digits;
                if (decimals >= 0)
                    ++decimals;
            } else if (c == '.' && decimals < 0) {
                decimals = 0;
            } else {
                plain = false;
            }
        }
        if (plain && digits > 0 && digits <= 15 && decimals <= 22) {
            double v = double(mantissa);
            if (decimals > 0)
                v /= kPow10[decimals];
            out = negative ? -v : v;
            return true;
        }
    }
    double v = 0;
    const auto r = std::from_chars(s, s + n, v);
    if (r.ec != std::errc() || r.ptr != s + n || !std::isfinite(v))
        return false;
    out = v;
    return true;
}

// Writes v right-aligned into a numeric field of `width` with `decimals`
// digits after the point (printf "%W.Df").  Too wide: fewer decimals, else
// '*' fill.  NaN/infinity store a blank (null).
void formatNumber(double v, int width, int decimals, char* out) {
    if (!std::isfinite(v)) {
        std::memset(out, ' ', size_t(width));
        return;
    }
    if (v == 0)
        v = 0;  // no "-0.000"
    // Whole numbers (counts, numbers, modes) are most of what is written:
    // digits, then the point and zeros, without the general conversion.
    if (std::fabs(v) < 1e15 && v == std::trunc(v)) {
        char digits[24];
        int n = 0;
        unsigned long long u = static_cast<unsigned long long>(std::fabs(v));
        do {
            digits[n++] = char('0' + u % 10);
            u /= 10;
        } while (u);
        const int len = (v < 0) + n + (decimals > 0 ? 1 + decimals : 0);
        if (len <= width) {
            char* p = out;
            std::memset(p, ' ', size_t(width - len));
            p += width - len;
            if (v < 0)
                *p++ = '-';
            while (n)
                *p++ = digits[--n];
            if (decimals > 0) {
                *p++ = '.';
                std::memset(p, '0', size_t(decimals));
            }
            return;
        }
    }
    // Values with a few decimals (measured results): v * 10^decimals is
    // computed with an error below 1/8 while it stays under 2^50, so a
    // product within 1/4 of an integer m has m as its exact rounding, and
    // m's digits with the point put in are what the general conversion
    // prints.  Near a tie, a zero m (its sign) or too wide a text, the
    // general conversion decides.
    if (decimals > 0 && decimals <= 15) {
        static constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
        const double scaled = v * kPow10[decimals];
        const double m = std::nearbyint(scaled);
        if (std::fabs(scaled) < 0x1p50 && m != 0 && std::fabs(scaled - m) < 0.25) {
            char digits[24];
            int n = 0;
            unsigned long long u = static_cast<unsigned long long>(std::fabs(m));
            while (u || n <= decimals) {
                digits[n++] = char('0' + u % 10);
                u /= 10;
            }
            const int len = (m < 0) + n + 1;
            if (len <= width) {
                char* p = out;
                std::memset(p, ' ', size_t(width - len));
                p += width - len;
                if (m < 0)
                    *p++ = '-';
                while (n > decimals)
                    *p++ = digits[--n];
                *p++ = '.';
                while (n)
                    *p++ = digits[--n];
                return;
            }
        }
    }
    char buf[400];
    for (int dec = decimals; dec >= 0; --dec) {
        const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, dec);
        if (r.ec != std::errc())
            break;
        const int len = int(r.ptr - buf);
        if (len <= width) {
            std::memset(out, ' ', size_t(width - len));
            std::memcpy(out + (width - len), buf, size_t(len));
            return;
        }
    }
    std::memset(out, '*', size_t(width));
}

QByteArrayView trimmedBytes(const char* p, int w) {
    int b = 0, e = w;
    while (b < e && p[b] == ' ')
        ++b;
    while (e > b && (p[e - 1] == ' ' || p[e - 1] == '\0'))
        --e;
    return QByteArrayView(p + b, e - b);
}

QString fieldText(const char* r, const Field& f, const Codec& codec) {
    const char* p = r + f.offset;
    if (f.numeric) {
        const QByteArrayView t = trimmedBytes(p, f.def.width);
        return QString::fromLatin1(t.data(), t.size());
    }
    int e = f.def.width;
    while (e > 0 && (p[e - 1] == ' ' || p[e - 1] == '\0'))
        --e;
    if (f.date && isZeroDate(p, f.def.width))
        return QString();
    return codec.decode(p, e);
}

bool fieldIsNull(const char* r, const Field& f) {
    const char* p = r + f.offset;
    if (f.numeric) {
        double v;
        return !parseNumber(p, f.def.width, v);
    }
    if (f.date)
        return isZeroDate(p, f.def.width);
    return false;
}

double fieldFloat(const char* r, const Field& f) {
    double v = 0;
    if (f.numeric) {
        if (!parseNumber(r + f.offset, f.def.width, v))
            v = 0;
    } else {
        const QByteArrayView t = trimmedBytes(r + f.offset, f.def.width);
        if (!parseNumber(t.data(), int(t.size()), v))
            v = 0;
    }
    return v;
}

}  // namespace dbf::detail

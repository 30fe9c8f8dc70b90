#include "stats/sv_stats.h"

#include <cmath>
#include <limits>

#include "ground/app_locale.h"

namespace stats {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

double meanOf(const std::vector<double>& values)
{
    double sum = 0;
    for (double v : values)
        sum += v;
    return sum / double(values.size());
}

// A mean of 0 (every value blank or zero) has no coefficient of variation.
bool hasVariation(double mean) { return mean != 0 && std::isfinite(mean); }

QString fixed(const char* format, double value)
{
    QString s = QString::asprintf(format, value);
    s.replace(QLatin1Char('.'), appLocale().decimalPoint());
    return s;
}

}  // namespace

std::optional<double> parseUserNumber(const QString& text)
{
    bool ok = false;
    const double v = appLocale().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

Check check_kp(bool manual, const QString& text, double previous)
{
    if (!manual)
        return {0.7, true, {}};
    const auto v = parseUserNumber(text);
    if (!v)
        return {previous, false, BadFormatMessage};
    // 0.69, not 0.7: a typed 0,69 passes although the message names 0.7.
    if (*v < 0.69)
        return {*v, false, KpRangeMessage};
    return {*v, true, {}};
}

Check check_st(bool manual, bool operativeFilter, const QString& text, double previous)
{
    Check c{previous, false, {}};
    if (!manual) {
        if (operativeFilter)
            c.value = 0;
        // Without manual entry the computation goes on whatever the text.
        c.accepted = true;
    }
    const auto v = parseUserNumber(text);
    if (!v) {
        c.message = BadFormatMessage;
        return c;
    }
    c.value = *v;
    if (*v < 0 || *v > 100) {
        c.message = StRangeMessage;
        return c;
    }
    c.accepted = true;
    return c;
}

Result calc_uch(const std::vector<double>& values, double st, double kp)
{
    const size_t n = values.size();
    if (n < 2)
        return {NaN, NaN};
    const double mean = meanOf(values);
    double q = 0;
    for (double v : values)
        q += (v - mean) * (v - mean);
    const double s = std::sqrt(q / double(n - 1));
    const double sm = (s + st / double(n - 1)) / (0.7 * kp + 0.3);
    return {sm, hasVariation(mean) ? sm / mean * 100 : NaN};
}

Result calc_const(const std::vector<std::vector<double>>& groups, double st)
{
    const size_t k = groups.size();
    if (k < 2)
        return {NaN, NaN};
    for (const auto& g : groups)
        if (g.empty())
            return {NaN, NaN};
    double sum = 0;
    for (const auto& g : groups)
        sum += meanOf(g);
    const double m = sum / double(k);
    double d = 0;
    for (const auto& g : groups) {
        const double gm = meanOf(g);
        d += (gm - m) * (gm - m);
    }
    const double nLast = double(groups.back().size());
    const double sm = std::sqrt(d / double(k - 1) + st * st / nLast);
    return {sm, hasVariation(m) ? sm * 100 / m : NaN};
}

QString smText(double sm)
{
    if (!std::isfinite(sm))
        return QStringLiteral("=");
    return QLatin1Char('=') + fixed("%4.2f", sm) + QStringLiteral(" МПа");
}

QString vmText(double vm)
{
    if (!std::isfinite(vm))
        return QStringLiteral("=");
    return QLatin1Char('=') + fixed("%3.1f", vm) + QLatin1Char('%');
}

QString decimalText(double value)
{
    return appLocale().toString(value, 'f', QLocale::FloatingPointShortest);
}

}  // namespace stats

#include "decode/strength_tables.h"

#include <QLocale>
#include <array>

#include "ground/app_locale.h"

namespace decode {
namespace {

template <size_t N>
QString pick(const std::array<const char16_t*, N>& table, int code)
{
    return code >= 0 && size_t(code) < N ? QString::fromUtf16(table[size_t(code)]) : QString();
}

constexpr std::array<const char16_t*, 5> kDirections = {u"б", u"д", u"а", u"ж", u"в"};
constexpr std::array<const char16_t*, 12> kProductsLong = {
    u"изделие", u"фундаментный блок", u"колонна", u"балка", u"ригель", u"плита",
    u"внутренняя стена", u"наружная стена", u"стяжка", u"ферма", u"свая", u"полы"};
constexpr std::array<const char16_t*, 12> kProductsShort = {
    u"изделие", u"фунд. блок", u"колонна", u"балка", u"ригель", u"плита",
    u"внутр. стена", u"наруж. стена", u"стяжка", u"ферма", u"свая", u"полы"};
constexpr std::array<const char16_t*, 10> kMaterials = {
    u"материал", u"тяж. бетон на граните", u"тяж. бетон на известняке", u"тяж. бетон на гравии",
    u"тяж. бетон на граншл.", u"мелкозернистый бетон", u"керамзитобетон", u"шлакопемзобетон",
    u"кирпич силикатный", u"кирпич керамический"};
constexpr std::array<const char16_t*, 3> kAgeNormal = {u"7 суток", u"28 суток", u"100 суток"};
constexpr std::array<const char16_t*, 3> kAgeHeat = {u"1 суток", u"28 суток", u"100 суток"};
// Class codes 1..23 (3.5 twice).
constexpr std::array<const char16_t*, 23> kClassTexts = {
    u"3.5", u"3.5", u"5",  u"7.5", u"10", u"12.5", u"15", u"20", u"22.5", u"25", u"27.5", u"30",
    u"35",  u"40",  u"45", u"50",  u"55", u"60",   u"65", u"70", u"75",   u"80", u"90"};
constexpr std::array<double, 23> kClassValues = {3.5, 3.5, 5,  7.5, 10, 12.5, 15, 20, 22.5, 25, 27.5, 30,
                                                 35,  40,  45, 50,  55, 60,   65, 70, 75,   80, 90};

}  // namespace

QString direction_letter(int code) { return pick(kDirections, code); }
QString product_long(int code) { return pick(kProductsLong, code); }
QString product_short(int code) { return pick(kProductsShort, code); }
QString material_name(int code) { return pick(kMaterials, code); }

QString age_text(int ageAndCondition)
{
    const int age = ageAndCondition & 0x7F;
    return (ageAndCondition & 0x80) ? pick(kAgeHeat, age) : pick(kAgeNormal, age);
}

QString condition_text(int ageAndCondition)
{
    return (ageAndCondition & 0x80) ? QStringLiteral("ТВО") : QStringLiteral("Норм.");
}

QString class_code_text(int code)
{
    if (code == 0)
        return QStringLiteral("-");
    const QString t = pick(kClassTexts, code - 1);
    return t.isEmpty() ? t : QLatin1Char('B') + t;
}

std::optional<double> calc_class(double R, double V)
{
    const double a = R * (1 - 1.64 * V / 100);
    if (!(a >= kClassValues.front()))  // below the smallest class, or NaN
        return std::nullopt;
    if (a >= kClassValues.back())
        return kClassValues.back();
    double best = kClassValues.front();
    for (double c : kClassValues)
        if (c <= a)
            best = c;
    return best;
}

QString calc_class_text(double R, double V)
{
    const std::optional<double> c = calc_class(R, V);
    if (!c)
        return QStringLiteral("-");
    QLocale loc = appLocale();
    loc.setNumberOptions(QLocale::OmitGroupSeparator);
    return QLatin1Char('B') + loc.toString(*c, 'g', QLocale::FloatingPointShortest);
}

}  // namespace decode

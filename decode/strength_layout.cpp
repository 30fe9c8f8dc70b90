#include "decode/strength_layout.h"

#include <algorithm>
#include <tuple>
#include <vector>

namespace decode {
namespace {

constexpr qsizetype kIndividualSize = 47, kCompactSize = 30;

// What one reading finds in the file.
struct Reading {
    StrengthLayout layout;
    bool countsWhole = false;  // every count word lies in the file
    qsizetype announced = 0;   // records announced by the counts that could be read
    qsizetype whole = 0;       // announced records lying whole in the file
    qsizetype badTime = 0;     // whole records with a date or time byte out of range
    qsizetype badCodes = 0;    // whole records with a code outside its table
    qsizetype end = 0;         // where the records end by the counts
    bool fits() const { return countsWhole && whole == announced; }
    bool exact(qsizetype size) const { return fits() && end == size; }
};

bool timeInRange(int second, int minute, int hour) { return second <= 59 && minute <= 59 && hour <= 23; }
bool dateInRange(int day, int month) { return day >= 1 && day <= 31 && month >= 1 && month <= 12; }

// A 47-byte layout record at p (basic records of L bytes, or individual).
void judge47(Reading& r, Bytes f, qsizetype p, int L, bool basic)
{
    auto b = [&](int offset) { return int(f[size_t(p + offset)]); };
    if (!timeInRange(b(11), b(12), b(13)) || !dateInRange(b(14), b(15)))
        ++r.badTime;
    bool codes = b(2) <= 4 && b(basic ? 4 : 5) <= 11;
    if (basic)
        codes = codes && b(5) <= 9 && (b(L == 47 ? 10 : 9) & 0x7F) <= 2 && (L == 46 || b(9) <= 23);
    else
        codes = codes && b(9) <= 23;
    if (!codes)
        ++r.badCodes;
    ++r.whole;
}

Reading read47(Bytes f, int L)
{
    Reading r{L == 47 ? StrengthLayout::Records47 : StrengthLayout::Records46};
    const qsizetype size = qsizetype(f.size());
    if (size < 2)
        return r;
    const qsizetype basic = get_word(f, 0);
    r.announced = basic;
    for (qsizetype k = 0, p = 2; k < basic && p + L <= size; ++k, p += L)
        judge47(r, f, p, L, true);
    const qsizetype at = 2 + basic * L;
    r.end = at + 2;
    if (at + 2 > size)
        return r;
    const qsizetype individual = get_word(f, at);
    r.announced += individual;
    r.countsWhole = true;
    for (qsizetype k = 0, p = at + 2; k < individual && p + kIndividualSize <= size; ++k, p += kIndividualSize)
        judge47(r, f, p, L, false);
    r.end = at + 2 + individual * kIndividualSize;
    return r;
}

Reading read30(Bytes f)
{
    Reading r{StrengthLayout::Records30};
    const qsizetype size = qsizetype(f.size());
    r.end = 4;
    if (size < 4)
        return r;
    const qsizetype count = get_word(f, 0);
    r.announced = count;
    r.countsWhole = true;
    for (qsizetype k = 0, p = 4; k < count && p + kCompactSize <= size; ++k, p += kCompactSize) {
        auto b = [&](int offset) { return int(f[size_t(p + offset)]); };
        if (!timeInRange(0, b(29), b(28)) || !dateInRange(b(25), b(26)))
            ++r.badTime;
        if ((b(20) & 0x0F) > 4 || (b(20) >> 4) > 9)
            ++r.badCodes;
        ++r.whole;
    }
    r.end = 4 + count * kCompactSize;
    return r;
}

QString layoutText(StrengthLayout l)
{
    switch (l) {
    case StrengthLayout::Records47:
        return QStringLiteral("записи по 47 байт");
    case StrengthLayout::Records46:
        return QStringLiteral("записи по 46 байт");
    case StrengthLayout::Records30:
        break;
    }
    return QStringLiteral("записи по 30 байт");
}

QString candidatesText(std::initializer_list<StrengthLayout> candidates)
{
    QStringList sizes;
    for (StrengthLayout l : candidates)
        sizes << (l == StrengthLayout::Records47 ? QStringLiteral("47")
                  : l == StrengthLayout::Records46 ? QStringLiteral("46")
                                                   : QStringLiteral("30"));
    QString text = sizes.join(QStringLiteral(", "));
    const qsizetype last = text.lastIndexOf(QStringLiteral(", "));
    if (last >= 0)
        text.replace(last, 2, QStringLiteral(" или "));
    return QStringLiteral("записи по ") + text + QStringLiteral(" байт");
}

const QString kNoWholeRecord = QStringLiteral("В файле нет ни одной целой записи результатов измерений.");

}  // namespace

LayoutVerdict strength_layout(Bytes file, std::initializer_list<StrengthLayout> candidates)
{
    const qsizetype size = qsizetype(file.size());
    const bool has47 = std::find(candidates.begin(), candidates.end(), StrengthLayout::Records47) != candidates.end();
    std::vector<Reading> readings;
    for (StrengthLayout l : candidates) {
        // Without basic records both basic lengths read the same rows.
        if (l == StrengthLayout::Records46 && has47 && size >= 2 && get_word(file, 0) == 0)
            continue;
        readings.push_back(l == StrengthLayout::Records30 ? read30(file)
                                                          : read47(file, l == StrengthLayout::Records47 ? 47 : 46));
    }
    // A date or time out of range in more than one record in ten: not this
    // layout (one odd record in a long list may be the instrument's).
    std::erase_if(readings, [](const Reading& r) { return r.badTime * 10 > r.whole; });
    LayoutVerdict v;
    if (readings.empty()) {
        v.refusal = QStringLiteral("Записи файла не читаются как ") + candidatesText(candidates) +
                    QStringLiteral(": их даты и время вне допустимых значений.");
        return v;
    }
    // Dates and codes first: a file cut short may end by chance exactly where
    // a misreading's records end.  A reading that announces no records at all
    // has nothing to show for it.
    auto key = [size](const Reading& r) {
        return std::tuple(r.badTime, r.badCodes, r.announced == 0, !r.exact(size), !r.fits());
    };
    std::stable_sort(readings.begin(), readings.end(),
                     [&](const Reading& a, const Reading& b) { return key(a) < key(b); });
    const Reading& best = readings.front();
    const bool nothing = best.announced == 0 && best.countsWhole;
    if (readings.size() > 1 && key(readings[1]) == key(best)) {
        const Reading& second = readings[1];
        if (!(nothing && second.announced == 0 && second.countsWhole)) {
            v.refusal = best.whole == 0 && second.whole == 0
                            ? kNoWholeRecord
                            : QStringLiteral("Файл читается одинаково и как ") + layoutText(best.layout) +
                                  QStringLiteral(", и как ") + layoutText(second.layout) +
                                  QStringLiteral(": определить формат записей нельзя.");
            return v;
        }
    }
    if (best.whole == 0 && !nothing) {
        v.refusal = kNoWholeRecord;
        return v;
    }
    v.layout = best.layout;
    return v;
}

}  // namespace decode

#pragma once
// S and V statistics: the standard deviation of strength Sm (MPa) and the
// coefficient of variation Vm (%) over groups of measurements, and the checks
// of the two inputs r and Sт.  Plain functions of the values; the table walk
// that feeds them is in stats/group_walk.h, the window in stats/sv_window.h.

#include <QString>
#include <optional>
#include <vector>

namespace stats {

// A number typed by the user, read the Russian way (decimal comma, no group
// separators, surrounding blanks ignored).  Infinite and NaN texts are not
// numbers.
std::optional<double> parseUserNumber(const QString& text);

// The outcome of checking one input: the value now in force, whether it was
// accepted, and the message to show (empty when there is none).
struct Check {
    double value = 0;
    bool accepted = false;
    QString message;
};

inline const QString BadFormatMessage = QStringLiteral("Неверный формат данных!");
inline const QString KpRangeMessage = QStringLiteral("Вне диапазона (не менее 0.7) !");
inline const QString StRangeMessage = QStringLiteral("Вне диапазона (от 0 до 100 МПа) !");

// r: 0.7 without manual entry (the text is not read); a typed value must be at
// least 0.69.  A failed parse keeps the previous value.
Check check_kp(bool manual, const QString& text, double previous);

// Sт: text is the Sт box as it stands after the group values were copied into
// it.  Without manual entry the result is always accepted, even when the text
// fails (the message is still due); under the operative filter "MODE=0" the
// previous value is first reset to 0.  Valid range 0 to 100 inclusive.
Check check_st(bool manual, bool operativeFilter, const QString& text, double previous);

struct Result {
    double sm = 0;
    double vm = 0;  // NaN when the mean is 0
};

// Section: the R values of one group (at least two).  Sт enters divided by
// n - 1, outside the square root and not squared; the divisor is 0.7 r + 0.3.
Result calc_uch(const std::vector<double>& values, double st, double kp);

// Construction: the R values of each group in list order (at least two
// groups, none empty).  The spread is taken over the group means; the Sт term
// divides by the size of the last group.
Result calc_const(const std::vector<std::vector<double>>& groups, double st);

// Result label texts: "=3,27 МПа" and "=14,2%"; "=" alone for a value that is
// not a finite number.
QString smText(double sm);
QString vmText(double vm);

// The decimal text of a number as the boxes show it ("1,5", "0", "12,25").
QString decimalText(double value);

}  // namespace stats

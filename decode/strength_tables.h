#pragma once
// Code tables of the concrete-strength results and the class computed from
// mean strength and variation.  A code outside its table reads as an empty
// text; nothing is ever read outside a table.

#include <QString>
#include <optional>

namespace decode {

QString direction_letter(int code);  // 0..4: "б" "д" "а" "ж" "в"
QString product_long(int code);      // 0..11, basic ARTICLE
QString product_short(int code);     // 0..11, individual MATERIAL
QString material_name(int code);     // 0..9, basic MATERIAL
// Age of bits 0-6 of the age-and-condition byte, from the list that bit 7
// chooses (normal hardening or heat-moisture treatment).
QString age_text(int ageAndCondition);
QString condition_text(int ageAndCondition);  // "Норм." or "ТВО"
// B_135 of a class code: "-" for 0, "B" + class text for 1..23, empty beyond.
QString class_code_text(int code);

// The largest class value not above a = R * (1 - 1.64 * V / 100), 90 from
// a >= 90; none when a is below the smallest class (3.5), negative included.
std::optional<double> calc_class(double R, double V);
// B_135 of a computed class: "B" + the shortest decimal text with the
// program's decimal separator (B22,5), or "-" when there is no class.
QString calc_class_text(double R, double V);

}  // namespace decode

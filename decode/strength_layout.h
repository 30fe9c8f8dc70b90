#pragma once
// Which record layout a strength-results file holds: basic records of 47 or
// 46 bytes followed by 47-byte individual records (flash2orl03), or one list
// of 30-byte records (flash2orl02).  The file carries no mark of its layout,
// so each candidate reading is tried on the bytes the file holds, and only
// on the records its own counts announce and the file contains whole.  In
// order of weight:
//
//  - a record whose date or time bytes are out of range speaks against its
//    reading: zero-filled space after the real records has day and month 0,
//    and a record read at a shifted offset rarely has a valid date and time;
//    a reading with such records in more than one record in ten is refused;
//  - a code outside its table (direction, product, material, age, class,
//    method) speaks against it;
//  - records that end exactly where the file ends speak for it (a file
//    written as the records themselves);
//  - counts and records that all lie whole in the file speak for it.
//
// Readings that these cannot tell apart are refused rather than guessed,
// except where they would write the same rows (no basic records, so that
// the basic record length does not matter, or no records at all).

#include <QString>
#include <initializer_list>
#include <optional>

#include "decode/primitives.h"

namespace decode {

enum class StrengthLayout { Records47, Records46, Records30 };

struct LayoutVerdict {
    std::optional<StrengthLayout> layout;  // none: the file is refused
    QString refusal;                       // for the user, when refused: why
};

// The layout among the candidates (in order of preference where they would
// write the same rows) that the file reads as; file is exactly the bytes of
// the file, nothing after them.
LayoutVerdict strength_layout(Bytes file, std::initializer_list<StrengthLayout> candidates);

}  // namespace decode

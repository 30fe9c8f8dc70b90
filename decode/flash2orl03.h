#pragma once
// Concrete-strength results, 47-byte layout: B basic-method records of L
// bytes (47, or 46 for firmware up to 70218) from offset 2, then I and I
// individual-method records of 47 bytes.  Results newer than the last stored
// row of their section become MODE 0 (basic) and MODE 1 (individual) rows
// with TYPE 3.

#include <QString>
#include <functional>
#include <optional>
#include <span>

#include "decode/primitives.h"

namespace dbf {
class Table;
}

namespace decode {

struct StrengthHooks {
    // A message for the user (text, caption), shown when reporting is on.
    std::function<void(const QString& text, const QString& caption)> report;
};

struct StrengthResult {
    int basicRows = 0;       // rows appended with MODE 0
    int individualRows = 0;  // rows appended with MODE 1
    // Records the image announces but cannot hold (counts that would read
    // past its end); they are not decoded.
    int skippedRecords = 0;
    // The image ends before the count of individual records, so how many it
    // announces is not known (and none is counted in skippedRecords).
    bool individualCountMissing = false;
};

// The first firmware version that writes 47-byte basic records.
inline constexpr int kFirstVersionWith47 = 70219;

// The firmware version the image was written by, as far as the decoder
// needs it: 70218 when the image reads as 46-byte basic records, 70219 when
// it reads as 47-byte ones (strength_layout), none when the two readings
// cannot be told apart or neither fits.
std::optional<int> firmware_version(Bytes image);
int basic_record_length(int V);  // 47 from kFirstVersionWith47, else 46

// Appends the results the open table does not hold yet (nothing when it is
// closed).  The table's filter (text and on/off) is restored and the first
// row made current at the end.
StrengthResult flash2orl03(dbf::Table& table, Bytes image, int V, bool report,
                           const StrengthHooks& hooks = {});

}  // namespace decode

#pragma once
// Concrete-strength results, 30-byte layout: C at offset 0, records of 30
// bytes from offset 4, both methods in one list told apart by the method
// nibble of each record.  Results newer than the last stored strength row
// become rows with TYPE 2: MODE 0 for the basic method, MODE 1 for the nine
// individual dependences.

#include <cstdint>
#include <span>

#include "decode/flash2orl03.h"  // StrengthHooks, StrengthResult

namespace decode {

// Appends the results the open table does not hold yet (nothing when it is
// closed).  Bit 15 of every reading of an appended record is cleared in the
// image itself.  Every appended row counts in basicRows, whatever its
// method, as the one message reports them.  The table's filter is restored
// and the first row made current at the end.
StrengthResult flash2orl02(dbf::Table& table, std::span<uint8_t> image, bool report,
                           const StrengthHooks& hooks = {});

}  // namespace decode

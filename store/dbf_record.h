#pragma once
// Field values inside a record: the field layout, numbers as the file keeps
// them, and reading a field as text, number or null.

#include "store/dbf.h"
#include "store/dbf_codec.h"

#include <QByteArrayView>

namespace dbf::detail {

struct Field {
    FieldDef def;
    int offset = 0;        // from the start of the record (flag byte included)
    bool numeric = false;  // N or F
    bool date = false;     // D: zeros or blanks read as null
};

// Parses a numeric field.  Blank, '*'-filled and malformed text is null
// (returns false).  Accepts leading/trailing blanks, a sign, '.' or ',' as the
// decimal point and an exponent.
bool parseNumber(const char* p, int w, double& out);

// Writes v right-aligned into a numeric field of `width` with `decimals`
// digits after the point (printf "%W.Df").  Too wide: fewer decimals, else
// '*' fill.  NaN/infinity store a blank (null).
void formatNumber(double v, int width, int decimals, char* out);

// The field's bytes without blanks (and NULs) on either side.
QByteArrayView trimmedBytes(const char* p, int w);

// Values of field `f` of the record at `r` (flag byte first).
QString fieldText(const char* r, const Field& f, const Codec& codec);  // trimmed on the right
bool fieldIsNull(const char* r, const Field& f);
double fieldFloat(const char* r, const Field& f);  // null -> 0

}  // namespace dbf::detail

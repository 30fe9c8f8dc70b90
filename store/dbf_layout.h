#pragma once
// The table file's header bytes: little-endian fields, the accepted version
// bytes, the update date and a whole header built from a field list.

#include "store/dbf.h"

#include <QByteArray>
#include <QtGlobal>

#include <cstdint>
#include <vector>

namespace dbf::detail {

void put16(char* p, quint32 v);
void put32(char* p, quint32 v);
quint32 get16(const char* p);
quint32 get32(const char* p);

// Version bytes that share the dBase III+/IV layout.
bool acceptedVersion(uint8_t v);

// Today as the header's YY MM DD.
QByteArray todayBytes();

// Builds the header (with terminator) of a table with these fields.
QByteArray buildHeader(const std::vector<FieldDef>& fields, uint8_t ldid, quint32 count);

}  // namespace dbf::detail

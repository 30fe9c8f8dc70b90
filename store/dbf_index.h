#pragma once
// Index tags: the sort order of a view over one field.

#include "store/dbf_codec.h"
#include "store/dbf_record.h"

#include <QtGlobal>

#include <vector>

namespace dbf::detail {

// Sorts the physical record numbers of `view` by field `f` of the records at
// `data` (`recLen` bytes each).  Numbers sort numerically with blanks below
// every number; text by its decoded, trimmed text (QString::compare).  Ties
// keep file order.
void sortRows(std::vector<quint32>& view, const char* data, size_t recLen, const Field& f, bool descending,
              const Codec& codec);

}  // namespace dbf::detail

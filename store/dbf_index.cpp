// Index tags (see dbf_index.h).
#include "store/dbf_index.h"

#include <algorithm>
#include <limits>
#include <numeric>

namespace dbf::detail {

void sortRows(std::vector<quint32>& view, const char* data, size_t recLen, const Field& f, bool descending,
              const Codec& codec) {
    auto rec = [&](quint32 r) { return data + size_t(r) * recLen; };
    const size_t n = view.size();
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), size_t(0));
    if (f.numeric) {
        // Null sorts below every number.
        std::vector<double> key(n);
        for (size_t i = 0; i < n; ++i) {
            double v;
            key[i] = parseNumber(rec(view[i]) + f.offset, f.def.width, v)
                         ? v
                         : -std::numeric_limits<double>::infinity();
        }
        if (descending)
            std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return key[b] < key[a]; });
        else
            std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return key[a] < key[b]; });
    } else {
        std::vector<QString> key(n);
        for (size_t i = 0; i < n; ++i)
            key[i] = fieldText(rec(view[i]), f, codec);
        if (descending)
            std::stable_sort(order.begin(), order.end(),
                             [&](size_t a, size_t b) { return QString::compare(key[b], key[a]) < 0; });
        else
            std::stable_sort(order.begin(), order.end(),
                             [&](size_t a, size_t b) { return QString::compare(key[a], key[b]) < 0; });
    }
    std::vector<quint32> sorted(n);
    for (size_t i = 0; i < n; ++i)
        sorted[i] = view[order[i]];
    view.swap(sorted);
}

}  // namespace dbf::detail

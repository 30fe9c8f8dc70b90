#pragma once
// What the two strength-result decoders share: the table's field positions,
// the filter they restore, and the start of a section with its reference
// (the DATE and TIME of the last stored row).

#include <QString>
#include <array>

namespace dbf {
class Table;
}

namespace decode {

struct StrengthFields {
    int N, DATE, TIME, R, DIR, K_C, ARTICLE, MATERIAL, AGE, COND, COUNT, MODE, COMMENT, S_T, B_135, TYPE, V_135;
    std::array<int, 15> M;
    explicit StrengthFields(const dbf::Table& t);
};

// Remembers the table's filter text and whether filtering was on; puts both
// back, re-reads and goes to the first row when it goes out of scope.
class SavedFilter {
public:
    explicit SavedFilter(dbf::Table& t);
    ~SavedFilter();
    SavedFilter(const SavedFilter&) = delete;
    SavedFilter& operator=(const SavedFilter&) = delete;

private:
    dbf::Table& table_;
    QString filter_;
    bool filtered_;
};

// Sets the filter, re-reads, goes to the last row and returns its DATE text
// followed by its TIME text, or the empty-section reference when no row
// passes the filter.
QString startSection(dbf::Table& t, const QString& filter);

}  // namespace decode

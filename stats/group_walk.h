#pragma once
// The walk over the measurement table that feeds the S and V statistics.
// A group is every record carrying its letter in GROUP, whatever its mode: the
// group filter (GROUP="A") replaces the tab's filter instead of narrowing it.
// Every function leaves the table under the saved filter again, also when the
// table engine fails half-way.

#include <QChar>
#include <QString>
#include <optional>
#include <vector>

namespace dbf {
class Table;
}

namespace stats {

// The filter the table stood under when the window opened.
struct SavedFilter {
    QString text;
    bool on = false;

    static SavedFilter of(const dbf::Table& table);
    // Sets the filter again and re-reads the view.
    void restore(dbf::Table& table) const;
};

// "(GROUP="A")" for the letter A.
QString groupFilter(QChar letter);

// While it lives the table shows the records of one group; the saved filter
// comes back when it ends.
class GroupView {
public:
    GroupView(dbf::Table& table, const SavedFilter& saved, QChar letter);
    ~GroupView();
    GroupView(const GroupView&) = delete;
    GroupView& operator=(const GroupView&) = delete;

private:
    dbf::Table& table_;
    const SavedFilter& saved_;
};

// R of every record of the group (a blank R counts as 0), in view order.
std::vector<double> groupValues(dbf::Table& table, const SavedFilter& saved, QChar letter);

struct GroupInfo {
    QChar letter;
    int count = 0;             // records of the group, all modes
    bool sameArticle = true;   // ARTICLE one text in all of them; only
                               // examined for groups of more than three
};

// Groups met under the saved filter, letters A to Z in order.
std::vector<GroupInfo> scanGroups(dbf::Table& table, const SavedFilter& saved);

// S_T of the first record of the current view with this letter, or nothing
// when the view holds none.  Leaves that record current.
std::optional<double> firstGroupSt(dbf::Table& table, QChar letter);

}  // namespace stats

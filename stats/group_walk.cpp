#include "stats/group_walk.h"

#include "store/dbf.h"

namespace stats {

SavedFilter SavedFilter::of(const dbf::Table& table) { return {table.filter(), table.filtered()}; }

void SavedFilter::restore(dbf::Table& table) const
{
    if (!table.isOpen())
        return;
    table.setFiltered(false);
    table.setFilter(text);
    table.setFiltered(on);
    table.refresh();
}

QString groupFilter(QChar letter) { return QStringLiteral("(GROUP=\"%1\")").arg(letter); }

GroupView::GroupView(dbf::Table& table, const SavedFilter& saved, QChar letter)
    : table_(table), saved_(saved)
{
    try {
        table_.setFilter(groupFilter(letter));
        table_.setFiltered(true);
        table_.refresh();
    } catch (...) {
        saved_.restore(table_);
        throw;
    }
}

GroupView::~GroupView()
{
    try {
        saved_.restore(table_);
    } catch (...) {
        // The saved filter was in force before, so setting it again only
        // fails with the file itself; nothing better to do from here.
    }
}

std::vector<double> groupValues(dbf::Table& table, const SavedFilter& saved, QChar letter)
{
    GroupView view(table, saved, letter);
    const int r = table.fieldIndex("R");
    std::vector<double> values;
    values.reserve(size_t(table.recordCount()));
    for (table.first(); !table.eof(); table.next())
        values.push_back(table.asFloat(r));
    return values;
}

std::vector<GroupInfo> scanGroups(dbf::Table& table, const SavedFilter& saved)
{
    std::vector<GroupInfo> groups;
    if (!table.isOpen())
        return groups;
    const int article = table.fieldIndex("ARTICLE");
    for (char16_t c = u'A'; c <= u'Z'; ++c) {
        const QChar letter(c);
        if (!table.locate("GROUP", QString(letter)))
            continue;
        GroupInfo info{letter, 0, true};
        {
            GroupView view(table, saved, letter);
            info.count = table.recordCount();
            if (info.count > 3) {
                table.first();
                const QString first = table.asString(article);
                for (; !table.eof(); table.next())
                    if (table.asString(article) != first)
                        info.sameArticle = false;
            }
        }
        groups.push_back(info);
    }
    return groups;
}

std::optional<double> firstGroupSt(dbf::Table& table, QChar letter)
{
    if (!table.isOpen())
        return std::nullopt;
    table.first();
    if (!table.locate("GROUP", QString(letter)))
        return std::nullopt;
    return table.asFloat("S_T");
}

}  // namespace stats

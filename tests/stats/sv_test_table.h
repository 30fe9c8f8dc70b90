#pragma once
// Measurement tables with grouped records for the S and V tests, written with
// the program's table engine and field list.

#include <QString>
#include <optional>
#include <vector>

#include "store/dbf.h"
#include "store/measurement.h"

namespace svtest {

struct Row {
    int mode = 0;
    QString group;
    std::optional<double> r;  // blank when empty
    double st = 0;
    QString article;
};

// Rows of one group, one per value.
inline std::vector<Row> group(const QString& letter, const std::vector<double>& values, int mode = 0,
                              double st = 0, const QString& article = QStringLiteral("1"))
{
    std::vector<Row> rows;
    for (double v : values)
        rows.push_back({mode, letter, v, st, article});
    return rows;
}

inline std::vector<Row> operator+(std::vector<Row> a, const std::vector<Row>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline void writeTable(const QString& path, const std::vector<Row>& rows)
{
    dbf::Table::create(path, measurementFields());
    dbf::Table t;
    t.setFileName(path);
    t.open();
    int n = 0;
    for (const Row& row : rows) {
        t.append();
        t.setInteger(u"N", ++n);
        t.setString(u"DATE", QStringLiteral("01.03.2015"));
        t.setString(u"TIME", QStringLiteral("10:00"));
        t.setInteger(u"MODE", row.mode);
        t.setInteger(u"TYPE", 3);
        t.setString(u"GROUP", row.group);
        if (row.r)
            t.setFloat(u"R", *row.r);
        t.setFloat(u"S_T", row.st);
        t.setString(u"ARTICLE", row.article);
        t.post();
    }
    t.close();
}

// Opens the file under a tab filter, as the main window leaves the table.
inline void openUnder(dbf::Table& t, const QString& path, const QString& filter)
{
    t.setFileName(path);
    t.open();
    t.setFilter(filter);
    t.setFiltered(true);
    t.refresh();
}

}  // namespace svtest

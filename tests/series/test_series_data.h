#pragma once
// Measurement tables with waiting and observation series, written the way
// the download decoder writes them, for the series view tests.

#include <QDir>
#include <QString>
#include <optional>
#include <vector>

#include "store/dbf.h"
#include "store/measurement.h"

namespace seriestest {

struct Row {
    int mode = 0;
    int type = 0;
    std::optional<double> n, r, m1, m2;
    QString date, time, article, comment;
};

inline void appendRows(dbf::Table& t, const std::vector<Row>& rows)
{
    for (const Row& row : rows) {
        t.append();
        t.setInteger(u"MODE", row.mode);
        t.setInteger(u"TYPE", row.type);
        if (row.n)
            t.setFloat(u"N", *row.n);
        if (row.r)
            t.setFloat(u"R", *row.r);
        if (row.m1)
            t.setFloat(u"M1", *row.m1);
        if (row.m2)
            t.setFloat(u"M2", *row.m2);
        t.setString(u"DATE", row.date);
        t.setString(u"TIME", row.time);
        t.setString(u"ARTICLE", row.article);
        t.setString(u"COMMENT", row.comment);
        t.post();
    }
}

// Physical layout of the standard table (record numbers from 0):
//   0, 1   operative records (MODE 0, TYPE 3)
//   2..4   waiting series 1, three points, M1 24, M2 2,6 (threshold 3)
//   5..8   observation series 1, four points, N 1..4, M1 30, M2 15
//   9, 10  waiting series 2, two points, M1 blank, M2 5
//   11     observation series 2, one point, end at midnight
//   12     waiting series 3, one point
inline std::vector<Row> standardRows()
{
    const QString d1 = QStringLiteral("01.03.2015"), t1 = QStringLiteral("10:00:00");
    std::vector<Row> rows;
    rows.push_back({0, 3, 11, 0.4, {}, {}, d1, QStringLiteral("09:00:00"), {}, {}});
    rows.push_back({0, 3, 12, 0.9, {}, {}, d1, QStringLiteral("09:05:00"), {}, {}});
    rows.push_back({1, 1, 7, 0.5, 24, 2.6, d1, t1, QStringLiteral("01.03.2015 10:00:00"), {}});
    rows.push_back({1, 1, 7, 1.25, {}, {}, d1, t1, QStringLiteral("01.03.2015 10:30:00"), {}});
    rows.push_back({1, 1, 7, -3, {}, {}, d1, t1, QStringLiteral("01.03.2015 11:00:00"), {}});
    rows.push_back({2, 1, 1, 0.7, 30, 15, d1, t1, QStringLiteral("02.03.2015 16:00:00"), {}});
    rows.push_back({2, 1, 2, 1, {}, {}, d1, t1, {}, {}});
    rows.push_back({2, 1, 3, 1.5, {}, {}, d1, t1, {}, {}});
    rows.push_back({2, 1, 4, 2, {}, {}, d1, t1, {}, {}});
    rows.push_back({1, 2, 8, 0.1, {}, 5, QStringLiteral("02.03.2015"), QStringLiteral("08:00:00"),
                    QStringLiteral("02.03.2015 08:00:00"), QStringLiteral("Первая серия утром")});
    rows.push_back({1, 2, 8, 0.2, {}, {}, QStringLiteral("02.03.2015"), QStringLiteral("08:00:00"),
                    QStringLiteral("02.03.2015 08:10:00"), {}});
    rows.push_back({2, 2, 1, 4, 72, 60, QStringLiteral("02.03.2015"), QStringLiteral("00:00:00"),
                    QStringLiteral("05.03.2015"), {}});
    rows.push_back({1, 3, 9, 12, 1, 0, QStringLiteral("06.03.2015"), QStringLiteral("12:00:00"),
                    QStringLiteral("06.03.2015 12:00:00"), {}});
    return rows;
}

// Writes a new measurement table at path with the rows.
inline void writeTable(const QString& path, const std::vector<Row>& rows)
{
    dbf::Table::create(path, measurementFields());
    dbf::Table t;
    t.setFileName(path);
    t.open();
    appendRows(t, rows);
    t.close();
}

}  // namespace seriestest

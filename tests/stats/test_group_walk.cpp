// The table walk behind the S and V statistics, over real table files.
#include <QTemporaryDir>
#include <QtTest>

#include "stats/group_walk.h"
#include "sv_test_table.h"

using namespace svtest;

class GroupWalkTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString path_;
    dbf::Table t_;

    void open(const std::vector<Row>& rows, const QString& filter = QStringLiteral("MODE=0"))
    {
        t_.close();
        writeTable(path_, rows);
        openUnder(t_, path_, filter);
    }
    // Same filter, same records in the same order.
    QList<uint32_t> view()
    {
        QList<uint32_t> v;
        for (int i = 0; i < t_.recordCount(); ++i)
            v << t_.physicalRecNoAt(i);
        return v;
    }

private slots:
    void init() { path_ = dir_.filePath(QStringLiteral("walk.db")); }
    void cleanup() { t_.close(); }

    void groupSpansEveryMode()
    {
        open(group("A", {20, 22}) + group("B", {1, 2, 3, 4}) + group("A", {24}, 1) + group("A", {26}, 2));
        // A sorted grid: the view keeps its order too.
        t_.createIndexTag(QStringLiteral("tab1"), "R", true);
        t_.selectIndex(QStringLiteral("tab1"));
        t_.refresh();
        const auto before = view();
        const stats::SavedFilter saved = stats::SavedFilter::of(t_);
        QCOMPARE(stats::groupValues(t_, saved, u'A'), (std::vector<double>{26, 24, 22, 20}));
        QCOMPARE(t_.filter(), QStringLiteral("MODE=0"));
        QVERIFY(t_.filtered());
        QCOMPARE(view(), before);
        // A letter that no record carries gives nothing.
        QVERIFY(stats::groupValues(t_, saved, u'Q').empty());
        QCOMPARE(view(), before);
    }

    void filterComesBackAfterFailure()
    {
        open(group("A", {1, 2, 3, 4}));
        const auto before = view();
        const stats::SavedFilter saved = stats::SavedFilter::of(t_);
        try {
            stats::GroupView v(t_, saved, u'A');
            QCOMPARE(t_.recordCount(), 4);
            QCOMPARE(t_.filter(), QStringLiteral("(GROUP=\"A\")"));
            t_.asFloat("NO_FIELD");  // the engine throws
            QFAIL("no error from an unknown field");
        } catch (const dbf::Error&) {
        }
        QCOMPARE(t_.filter(), QStringLiteral("MODE=0"));
        QCOMPARE(view(), before);
    }

    void unfilteredTableStaysUnfiltered()
    {
        open(group("A", {1, 2, 3, 4}) + group("B", {5}, 1));
        t_.setFiltered(false);
        t_.setFilter(QString());
        t_.refresh();
        const stats::SavedFilter saved = stats::SavedFilter::of(t_);
        QCOMPARE(stats::groupValues(t_, saved, u'B'), (std::vector<double>{5}));
        QVERIFY(!t_.filtered());
        QCOMPARE(t_.recordCount(), 5);
    }
};

QTEST_GUILESS_MAIN(GroupWalkTest)
#include "test_group_walk.moc"

// Grid presentation on the real main window: sorting by a title, removing the
// sort, equal widths, colours and the layouts kept in the settings key.

#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

#include "ground/app_locale.h"
#include "ground/dialogs.h"
#include "ground/settings_key.h"
#include "store/dbf.h"
#include "store/measurement.h"
#include "views/layout_text.h"
#include "mainwindow/main_window.h"
#include "views/grid_presentation.h"
#include "views/record_grid.h"

namespace {

// N and deflection of the operative rows, in file order; a waiting series
// (MODE 1) sits between them.
struct Op {
    int n;
    double r;
};
const Op kOps[] = {{1, 2.5}, {2, 0.75}, {3, 10.0}, {4, 1.25}, {5, 7.5}};

void writeDatabase(const QString& path)
{
    dbf::Table::create(path, measurementFields());
    dbf::Table t;
    t.setFileName(path);
    t.open();
    auto add = [&](int n, double r, int mode, int type) {
        t.append();
        t.setFloat(u"N", n);
        t.setString(u"DATE", QStringLiteral("01.03.2024"));
        t.setString(u"TIME", QStringLiteral("10:00:00"));
        t.setFloat(u"R", r);
        t.setInteger(u"MODE", mode);
        t.setInteger(u"TYPE", type);
        t.post();
    };
    for (int i = 0; i < 5; ++i) {
        add(kOps[i].n, kOps[i].r, 0, 3);
        if (i == 2)
            add(9, 99.0, 1, 1);
    }
    t.close();
}

QStringList texts(RecordGrid* g, const char* field)
{
    QStringList out;
    const int c = g->columnOf(QLatin1String(field));
    for (int r = 0; r < g->model()->rowCount(); ++r)
        out << g->model()->index(r, c).data().toString();
    return out;
}

int errorsShown(const ui::ScriptedDialogs& d)
{
    int n = 0;
    for (const auto& m : d.messages)
        n += m.icon == ui::Icon::Error;
    return n;
}

}  // namespace

class TestGridPresentation : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { installAppLocale(); }

    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        dialogs_ = std::make_unique<ui::ScriptedDialogs>();
        scope_ = std::make_unique<ui::ScopedDialogs>(dialogs_.get());
        db_ = dir_->filePath(QStringLiteral("grids.db"));
        writeDatabase(db_);
    }

    void cleanup()
    {
        form_.reset();
        settings_.reset();
        scope_.reset();
        dialogs_.reset();
        dir_.reset();
    }

    // ---- sorting -----------------------------------------------------------

    void sortByDeflection()
    {
        TForm1& f = openOperative();
        RecordGrid* g = f.DBGridPro1;
        const int r = g->columnOf(QStringLiteral("R"));
        QCOMPARE(texts(g, "N"), QStringList({"1", "2", "3", "4", "5"}));

        g->titleClick(r);  // largest first
        QCOMPARE(texts(g, "R"), QStringList({"10", "7,5", "2,5", "1,25", "0,75"}));
        QCOMPARE(f.Dbf1.currentIndex().toLower(), QStringLiteral("tab1"));
        g->titleClick(r);  // smallest first
        QCOMPARE(texts(g, "R"), QStringList({"0,75", "1,25", "2,5", "7,5", "10"}));
        g->titleClick(r);  // largest first again
        QCOMPARE(texts(g, "R"), QStringList({"10", "7,5", "2,5", "1,25", "0,75"}));

        // Ctrl+click: no indicator, rows ascending by the column.
        g->titleClick(r, Qt::ControlModifier);
        QCOMPARE(g->columns()[size_t(r)].sort, SortIndicator::None);
        QCOMPARE(texts(g, "R"), QStringList({"0,75", "1,25", "2,5", "7,5", "10"}));

        // The filter still holds: the waiting row never shows.
        QCOMPARE(g->model()->rowCount(), 5);
        QCOMPARE(errorsShown(*dialogs_), 0);

        // Another column takes the indicator; text fields sort by their text.
        const int n = g->columnOf(QStringLiteral("N"));
        g->titleClick(n);
        QCOMPARE(texts(g, "N"), QStringList({"5", "4", "3", "2", "1"}));
        QCOMPARE(g->columns()[size_t(r)].sort, SortIndicator::None);
    }

    void removeTheSort()
    {
        TForm1& f = openOperative();
        RecordGrid* g = f.DBGridPro1;
        const int r = g->columnOf(QStringLiteral("R"));
        g->titleClick(r);
        QCOMPARE(texts(g, "N"), QStringList({"3", "5", "1", "4", "2"}));

        // Not on the waiting tab.
        f.PageControl1->setCurrentIndex(1);
        QCOMPARE(f.currentSheet(), 2);
        f.N20Click();
        QCOMPARE(g->columns()[size_t(r)].sort, SortIndicator::Up);
        QCOMPARE(f.Dbf1.currentIndex().toLower(), QStringLiteral("tab1"));

        f.PageControl1->setCurrentIndex(0);
        QCOMPARE(texts(g, "N"), QStringList({"3", "5", "1", "4", "2"}));
        f.N20Click();
        QCOMPARE(g->columns()[size_t(r)].sort, SortIndicator::None);
        QCOMPARE(f.Dbf1.currentIndex(), QString());
        QVERIFY(!f.Dbf1.indexTags().contains(QStringLiteral("tab1"), Qt::CaseInsensitive));
        QCOMPARE(texts(g, "N"), QStringList({"1", "2", "3", "4", "5"}));

        // Again with no tag behind it: nothing fails, nothing is reported.
        f.N20Click();
        f.presentation->reset_sort(f.DBGridPro4, QStringLiteral("tab4"));
        QCOMPARE(errorsShown(*dialogs_), 0);
        QCOMPARE(texts(g, "N"), QStringList({"1", "2", "3", "4", "5"}));
    }

    void indicatorComesBackWithoutOrder()
    {
        TForm1& f = openOperative();
        f.DBGridPro1->titleClick(f.DBGridPro1->columnOf(QStringLiteral("R")));
        f.Close_DB();
        QVERIFY(!f.Dbf1.isOpen());

        TForm1& again = reopenOperative();
        RecordGrid* g = again.DBGridPro1;
        QCOMPARE(g->columns()[size_t(g->columnOf(QStringLiteral("R")))].sort, SortIndicator::Up);
        QCOMPARE(again.Dbf1.currentIndex(), QString());
        QCOMPARE(texts(g, "N"), QStringList({"1", "2", "3", "4", "5"}));
    }

    // ---- widths --------------------------------------------------------------

    void alignColumns()
    {
        TForm1& f = openOperative();
        RecordGrid grid(f.Dbf1);
        grid.setColumns(gridColumnsFor(1));
        grid.resize(1001, 400);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        f.presentation->align_cols(&grid);
        for (const GridColumn& c : grid.columns())
            QCOMPARE(c.width, 71);
        QVERIFY(grid.fitToWidth());
        // The five shown columns share the width equally.
        const int part = grid.viewport()->width() / 5;
        int total = 0;
        for (size_t i = 0; i < grid.columns().size(); ++i) {
            QCOMPARE(grid.isColumnHidden(int(i)), !grid.columns()[i].visible);
            if (!grid.columns()[i].visible)
                continue;
            QVERIFY(std::abs(grid.columnWidth(int(i)) - part) <= 1);
            total += grid.columnWidth(int(i));
        }
        QCOMPARE(total, grid.viewport()->width());

        // The menu command acts on the operative grid, on the operative tab only.
        RecordGrid* g = f.DBGridPro1;
        g->columns()[0].width = 5;
        g->applyColumns();
        f.PageControl1->setCurrentIndex(1);
        f.N31Click();
        QCOMPARE(g->columns()[0].width, 5);
        f.PageControl1->setCurrentIndex(0);
        f.N31Click();
        for (const GridColumn& c : g->columns())
            QCOMPARE(c.width, g->width() / 14);
    }

    // ---- colours ---------------------------------------------------------------

    void colourOnTheCommentColumn()
    {
        TForm1& f = openOperative();
        RecordGrid* g = f.DBGridPro1;
        const int comment = g->columnOf(QStringLiteral("COMMENT"));
        const QColor pink(255, 192, 203);
        g->setCurrentColumn(comment);

        dialogs_->colors.push_back(pink);
        f.N28Click();
        QVERIFY(dialogs_->colors.empty());
        QCOMPARE(g->columns()[size_t(comment)].color, std::optional<QColor>(pink));
        QCOMPARE(g->model()->index(0, comment).data(Qt::BackgroundRole).value<QBrush>().color(), pink);

        // Cancelled: nothing changes.
        dialogs_->colors.push_back(std::nullopt);
        f.N28Click();
        QCOMPARE(g->columns()[size_t(comment)].color, std::optional<QColor>(pink));

        // Close and open again: the colour is back.
        f.Close_DB();
        TForm1& again = reopenOperative();
        g = again.DBGridPro1;
        QCOMPARE(g->columns()[size_t(comment)].color, std::optional<QColor>(pink));
        for (size_t i = 0; i < g->columns().size(); ++i)
            if (int(i) != comment)
                QVERIFY(!g->columns()[i].color);

        // "Убрать все цвета", then the next close keeps the cleared state.
        again.N30Click();
        QVERIFY(!g->columns()[size_t(comment)].color);
        again.Close_DB();
        QVERIFY(!settings_->readString(QStringLiteral("Table_1")).contains(QStringLiteral("color=")));
        TForm1& third = reopenOperative();
        QVERIFY(!third.DBGridPro1->columns()[size_t(comment)].color);
    }

    void colourOnlyOnTheOperativeTab()
    {
        TForm1& f = openOperative();
        RecordGrid* g = f.DBGridPro1;
        const int n = g->columnOf(QStringLiteral("N"));
        const int date = g->columnOf(QStringLiteral("DATE"));
        g->setCurrentColumn(n);

        // The dialog opens on another tab, but nothing is coloured.
        f.PageControl1->setCurrentIndex(1);
        dialogs_->colors.push_back(QColor(Qt::yellow));
        f.N28Click();
        QVERIFY(dialogs_->colors.empty());
        QVERIFY(!g->columns()[size_t(n)].color);

        f.PageControl1->setCurrentIndex(0);
        g->setCurrentColumn(n);
        dialogs_->colors.push_back(QColor(Qt::yellow));
        f.N28Click();
        g->setCurrentColumn(date);
        dialogs_->colors.push_back(QColor(Qt::cyan));
        f.N28Click();
        QCOMPARE(*g->columns()[size_t(n)].color, QColor(Qt::yellow));
        QCOMPARE(*g->columns()[size_t(date)].color, QColor(Qt::cyan));

        // "Убрать цвет": the current column only, and not on another tab.
        f.PageControl1->setCurrentIndex(1);
        f.N29Click();
        QVERIFY(g->columns()[size_t(date)].color.has_value());
        f.PageControl1->setCurrentIndex(0);
        g->setCurrentColumn(date);
        f.N29Click();
        QVERIFY(!g->columns()[size_t(date)].color);
        QVERIFY(g->columns()[size_t(n)].color.has_value());

        // With the table closed the dialog does not even open.
        f.Close_DB();
        dialogs_->colors.push_back(QColor(Qt::red));
        f.N28Click();
        QCOMPARE(dialogs_->colors.size(), size_t(1));
    }

    // ---- layouts ---------------------------------------------------------------

    void firstOpenWritesEqualWidths()
    {
        const QStringList names = {"Table_1", "Table_3", "Table_4", "Table_5", "Table_6"};
        program();
        for (const QString& name : names)
            QVERIFY(!settings_->exists(name));
        TForm1& f = openOperative();
        const RecordGrid* grids[] = {f.DBGridPro1, f.DBGridPro3, f.DBGridPro4, f.DBGridPro5, f.DBGridPro6};
        for (int k = 0; k < 5; ++k) {
            QVERIFY2(settings_->exists(names[k]), qPrintable(names[k]));
            const QString text = settings_->readString(names[k]);
            QVERIFY(text.endsWith(QStringLiteral("\r\n")));
            const auto cols = layout::fromText(text);
            QVERIFY(cols.has_value());
            QCOMPARE(cols->size(), grids[k]->columns().size());
            for (const auto& c : *cols)
                QCOMPARE(c.width, cols->front().width);  // equal widths
        }
        QCOMPARE(errorsShown(*dialogs_), 0);
    }

    void saveOnlyShownTabs()
    {
        program();
        const QString sentinel = layout::toText({});
        settings_->writeString(QStringLiteral("Table_4"), sentinel);
        TForm1& f = openOperative();
        f.DBGridPro1->columns()[0].width = 123;
        f.Close_DB();
        // Sheets 1 and 3 are shown (operative and series rows); sheet 4 never is.
        QVERIFY(settings_->readString(QStringLiteral("Table_1")).contains(QStringLiteral("column N width=123")));
        QCOMPARE(settings_->readString(QStringLiteral("Table_4")), sentinel);

        // Nothing is written while no table is open.
        settings_->writeString(QStringLiteral("Table_1"), sentinel);
        f.save_layout_all();
        QCOMPARE(settings_->readString(QStringLiteral("Table_1")), sentinel);
        QVERIFY(f.load_layout_all());
    }

    void layoutWithBareLineFeeds()
    {
        program();
        QString text = QStringLiteral("dork5 grid layout 1\ncolumn COMMENT width=300 color=#ff00ff00\nend\n");
        settings_->writeString(QStringLiteral("Table_1"), text);
        TForm1& f = openOperative();
        const GridColumn& c = f.DBGridPro1->columns()[13];
        QCOMPARE(c.width, 300);
        QCOMPARE(*c.color, QColor(0, 255, 0));
        QCOMPARE(f.DBGridPro1->columns()[0].width, 47);  // not named: kept
        QCOMPARE(errorsShown(*dialogs_), 0);
    }

    // Each of the five values unreadable in turn (a damaged text, a font
    // that does not parse, a value of another kind): said once, replaced by
    // equal widths, the others and the title still load, and the next
    // opening is clean.  Tabs 4 to 6 are never shown, so only this repair
    // ever rewrites their values.
    void unreadableLayoutIsReplaced()
    {
        const QString good = QStringLiteral("dork5 grid layout 1\r\ncolumn COMMENT color=#ff0000ff\r\nend\r\n");
        const QString bad[] = {QStringLiteral("[garbage]\r\nN=47\r\n"),
                               QStringLiteral("dork5 grid layout 1\r\ncolumn N font=\"Arial%1\"\r\nend\r\n")
                                   .arg(QStringLiteral(",1").repeated(20)),
                               QString()};
        const char* names[] = {"Table_1", "Table_3", "Table_4", "Table_5", "Table_6"};
        for (int k = 0; k < 5; ++k) {
            for (int b = 0; b < 3; ++b) {
                const QString tag = QStringLiteral("%1 bad %2").arg(QLatin1String(names[k])).arg(b);
                cleanup();
                init();
                program();
                for (const char* n : names)
                    settings_->writeString(QLatin1String(n), good);
                if (b == 2)
                    settings_->writeBool(QLatin1String(names[k]), true);
                else
                    settings_->writeString(QLatin1String(names[k]), bad[b]);
                TForm1& f = openOperative();
                QVERIFY2(errorsShown(*dialogs_) == 1,
                         qPrintable(tag + QLatin1Char(' ') + QString::number(dialogs_->messages.size()) +
                                    (dialogs_->messages.empty() ? QString() : dialogs_->messages.back().text)));
                QVERIFY2(dialogs_->messages.back().text.contains(QLatin1String(names[k])), qPrintable(tag));
                QVERIFY(f.Dbf1.isOpen());
                QCOMPARE(f.windowTitle(), QStringLiteral("grids - ДОРК - 5"));
                // The values after the bad one were read too.
                QVERIFY2(f.DBGridPro6->columns()[size_t(f.DBGridPro6->columnOf(QStringLiteral("COMMENT")))].color ==
                             (k == 4 ? std::nullopt : std::optional<QColor>(QColor(0, 0, 255))),
                         qPrintable(tag));
                // The bad value now holds equal widths.
                const auto cols = layout::fromText(settings_->readString(QLatin1String(names[k])));
                QVERIFY2(cols.has_value() && !cols->empty(), qPrintable(tag));
                for (const auto& c : *cols)
                    QCOMPARE(c.width, cols->front().width);

                f.Close_DB();
                dialogs_->messages.clear();
                openOperative();
                QVERIFY2(dialogs_->messages.empty(), qPrintable(tag));
                QCOMPARE(f.windowTitle(), QStringLiteral("grids - ДОРК - 5"));
            }
        }
    }

private:
    void program()
    {
        if (!settings_)
            settings_ = std::make_unique<SettingsKey>(dir_->filePath(QStringLiteral("cfg/ORL.reg")));
    }

    // A main window with the database open and the operative tab current.
    TForm1& openOperative()
    {
        program();
        if (!form_) {
            form_ = std::make_unique<TForm1>(*settings_);
            form_->FormCreate();
            form_->show();
            if (!QTest::qWaitForWindowExposed(form_.get()))
                qWarning("window not exposed");
        }
        if (!form_->Open_DB(db_))
            qWarning("database not opened");
        form_->PageControl1->setCurrentIndex(0);
        QCoreApplication::processEvents();
        return *form_;
    }
    TForm1& reopenOperative() { return openOperative(); }

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<ui::ScriptedDialogs> dialogs_;
    std::unique_ptr<ui::ScopedDialogs> scope_;
    std::unique_ptr<SettingsKey> settings_;
    std::unique_ptr<TForm1> form_;
    QString db_;
};

QTEST_MAIN(TestGridPresentation)
#include "test_grid_presentation.moc"

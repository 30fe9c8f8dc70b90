// Which rows "Удалить строки" deletes: only those the user selected with the
// mouse or the keyboard, never the current row by itself, and nothing after
// an opening, a filter, a sort or a deletion until the user selects again.
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

#include "ground/app_locale.h"
#include "ground/dialogs.h"
#include "ground/settings_key.h"
#include "store/dbf.h"
#include "store/measurement.h"
#include "mainwindow/main_window.h"
#include "views/record_grid.h"

class TestRowSelection : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { installAppLocale(); }
    void init();
    void cleanup();
    void nothingSelectedAfterOpening();
    void ctrlClickDeletesExactlyThoseRows();
    void shiftClickAndKeyboardSelectRanges();

private:
    // N of the operative rows left, in view order.
    QList<int> numbers();
    void click(int row, Qt::KeyboardModifiers mods = Qt::NoModifier);
    TForm1& open();

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<ui::ScriptedDialogs> dialogs_;
    std::unique_ptr<ui::ScopedDialogs> scope_;
    std::unique_ptr<SettingsKey> settings_;
    std::unique_ptr<TForm1> form_;
    QString db_;
};

void TestRowSelection::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    dialogs_ = std::make_unique<ui::ScriptedDialogs>();
    scope_ = std::make_unique<ui::ScopedDialogs>(dialogs_.get());
    settings_ = std::make_unique<SettingsKey>(dir_->filePath(QStringLiteral("cfg/ORL.reg")));
    db_ = dir_->filePath(QStringLiteral("rows.db"));
    dbf::Table::create(db_, measurementFields());
    dbf::Table t;
    t.setFileName(db_);
    t.open();
    for (int n = 1; n <= 10; ++n) {
        t.append();
        t.setFloat(u"N", n);
        t.setFloat(u"R", n / 4.0);
        t.setInteger(u"MODE", 0);
        t.setInteger(u"TYPE", 3);
        t.post();
    }
    t.close();
}

void TestRowSelection::cleanup()
{
    form_.reset();
    settings_.reset();
    scope_.reset();
    dialogs_.reset();
    dir_.reset();
}

TForm1& TestRowSelection::open()
{
    if (!form_) {
        form_ = std::make_unique<TForm1>(*settings_);
        form_->FormCreate();
        form_->resize(900, 600);
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

QList<int> TestRowSelection::numbers()
{
    QList<int> out;
    RecordGrid* g = form_->DBGridPro1;
    const int c = g->columnOf(QStringLiteral("N"));
    for (int r = 0; r < g->model()->rowCount(); ++r)
        out << g->model()->index(r, c).data().toInt();
    return out;
}

void TestRowSelection::click(int row, Qt::KeyboardModifiers mods)
{
    RecordGrid* g = form_->DBGridPro1;
    const QRect cell = g->visualRect(g->model()->index(row, g->columnOf(QStringLiteral("DATE"))));
    QTest::mouseClick(g->viewport(), Qt::LeftButton, mods, cell.center());
}

void TestRowSelection::nothingSelectedAfterOpening()
{
    TForm1& f = open();
    RecordGrid* g = f.DBGridPro1;
    QVERIFY(g->currentIndex().isValid());  // a current row, framed
    QVERIFY(g->selectedRows().isEmpty());
    f.N36Click();
    QCOMPARE(numbers().size(), 10);
    QVERIFY(!f.db_changed);

    // Plain arrow keys move the current row and select nothing.
    g->setFocus();
    QTest::keyClick(g, Qt::Key_Down);
    QTest::keyClick(g, Qt::Key_Down);
    QCOMPARE(g->currentIndex().row(), 2);
    QVERIFY(g->selectedRows().isEmpty());

    // A selection does not outlive a reload (filter, sort, reopen).
    click(3);
    QCOMPARE(g->selectedRows(), QList<int>{3});
    f.TabSheet1Show();
    QVERIFY(g->selectedRows().isEmpty());
    click(3);
    g->titleClick(g->columnOf(QStringLiteral("R")));
    QVERIFY(g->selectedRows().isEmpty());
    click(3);
    f.Close_DB();
    open();
    QVERIFY(g->selectedRows().isEmpty());
    f.N36Click();
    QCOMPARE(numbers().size(), 10);
}

void TestRowSelection::ctrlClickDeletesExactlyThoseRows()
{
    TForm1& f = open();
    click(2, Qt::ControlModifier);
    click(5, Qt::ControlModifier);
    QCOMPARE(f.DBGridPro1->selectedRows(), (QList<int>{2, 5}));
    f.N36Click();
    QCOMPARE(numbers(), (QList<int>{1, 2, 4, 5, 7, 8, 9, 10}));
    QVERIFY(f.db_changed);
    // Nothing stays selected after the deletion.
    QVERIFY(f.DBGridPro1->selectedRows().isEmpty());
    f.N36Click();
    QCOMPARE(numbers().size(), 8);

    // In the file only those two are marked, as another reader sees it.
#ifndef _WIN32
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"),
            {QStringLiteral("-c"),
             QStringLiteral("import sys, dbfread\n"
                            "t = dbfread.DBF(sys.argv[1], encoding='cp1251')\n"
                            "print(' '.join(str(int(r['N'])) for r in t.deleted))\n"),
             db_});
    QVERIFY(p.waitForFinished(60000));
    if (p.exitCode() != 0)
        QSKIP("python3-dbfread is not installed for /usr/bin/python3");
    QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()).trimmed(), QStringLiteral("3 6"));
#endif
}

void TestRowSelection::shiftClickAndKeyboardSelectRanges()
{
    TForm1& f = open();
    RecordGrid* g = f.DBGridPro1;
    click(1);
    click(4, Qt::ShiftModifier);
    QCOMPARE(g->selectedRows(), (QList<int>{1, 2, 3, 4}));

    // Keyboard: a plain move drops the selection, Shift+arrows extend it.
    g->setFocus();
    QTest::keyClick(g, Qt::Key_Down);
    QVERIFY(g->selectedRows().isEmpty());
    QCOMPARE(g->currentIndex().row(), 5);
    QTest::keyClick(g, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(g, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(g->selectedRows(), (QList<int>{5, 6, 7}));
    f.N36Click();
    QCOMPARE(numbers(), (QList<int>{1, 2, 3, 4, 5, 9, 10}));

    // Ctrl+A selects every row.
    g->setFocus();
    QTest::keyClick(g, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(g->selectedRows().size(), 7);
}

QTEST_MAIN(TestRowSelection)
#include "test_row_selection.moc"

// The main window: start-up state, menus and toolbar, which tabs a table
// shows, filters behind the tabs, close handling, help and about.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QToolBar>
#include <QToolButton>
#include <QPushButton>
#include <QtTest>
#include <qcustomplot.h>

#include "views/about_window.h"
#include "ground/dialogs.h"
#include "ground/settings_key.h"
#include "ground/version_info.h"
#include "store/dbf.h"
#include "store/measurement.h"
#include "mainwindow/main_window.h"
#include "views/observation_view.h"
#include "views/waiting_view.h"
#include "views/record_grid.h"
#include "views/string_grid.h"
#include "tests/object_names.h"

namespace {

struct Row {
    int mode, type;
};

QString makeTable(const QString& path, const std::vector<Row>& rows)
{
    dbf::Table::create(path, measurementFields());
    dbf::Table t;
    t.setFileName(path);
    t.open();
    int n = 0;
    for (const Row& r : rows) {
        t.append();
        t.setInteger(u"N", ++n);
        t.setInteger(u"MODE", r.mode);
        t.setInteger(u"TYPE", r.type);
        t.setString(u"DATE", QStringLiteral("01.03.2015"));
        t.post();
    }
    return path;
}

// Captions of a menu's entries, separators as "-", hidden items in brackets.
QStringList entries(const QMenu* m)
{
    QStringList out;
    for (const QAction* a : m->actions()) {
        if (a->isSeparator())
            out << QStringLiteral("-");
        else
            out << (a->isVisible() ? a->text() : QLatin1Char('[') + a->text() + QLatin1Char(']'));
    }
    return out;
}

QList<bool> tabs(const TForm1& f)
{
    QList<bool> v;
    for (int i = 0; i < 6; ++i)
        v << f.PageControl1->isTabVisible(i);
    return v;
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void startState();
    void menusAndToolbar();
    void tabsForTableContent_data();
    void tabsForTableContent();
    void switchingTabsRefilters();
    void closeWritesDefaultDirButExitDoesNot();
    void helpAndAbout();
    void componentsCarryTheirNames();

private:
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<ui::ScriptedDialogs> dialogs_;
    std::unique_ptr<ui::ScopedDialogs> scope_;
    QString cfg() const { return dir_->filePath(QStringLiteral("cfg/ORL.reg")); }
};

void MainWindowTest::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    dialogs_ = std::make_unique<ui::ScriptedDialogs>();
    scope_ = std::make_unique<ui::ScopedDialogs>(dialogs_.get());
}

void MainWindowTest::cleanup()
{
    scope_.reset();
    dialogs_.reset();
    dir_.reset();
}

void MainWindowTest::startState()
{
    SettingsKey settings(cfg());
    TForm1 f(settings);
    // First start: "Default_dir" is the current directory, written at once.
    QCOMPARE(settings.readString(QStringLiteral("Default_dir")), QDir::currentPath());
    QCOMPARE(f.open_dialog_dir, QDir::currentPath());
    QVERIFY(f.windowState() & Qt::WindowMaximized);
    QCOMPARE(f.windowTitle(), QString());
    QVERIFY(f.PageControl1->isHidden());
    QCOMPARE(tabs(f), QList<bool>(6, false));
    QVERIFY(!f.db_open);
    QVERIFY(!f.Dbf1.isOpen());
    for (QAction* a : {f.N5, f.N6, f.N8, f.N9, f.N36, f.N31, f.N28, f.N29, f.N30, f.N20, f.Excel1})
        QVERIFY2(!a->isEnabled(), qPrintable(a->text()));
    for (QAction* a : {f.N4, f.SV1, f.N37, f.N34})
        QVERIFY(!TForm1::commandEnabled(a));
    QVERIFY(f.N2->isEnabled());
    QVERIFY(f.N3->isEnabled());
    QVERIFY(!f.bin1->isVisible());
    for (QLabel* l : {f.observationView->StaticText1, f.waitingView->StaticText5, f.waitingView->StaticText7, f.observationView->Label10, f.waitingView->Label11})
        QCOMPARE(l->text(), QString());
    // The table waits with its design-time filter.
    QCOMPARE(f.Dbf1.filter(), QStringLiteral("MODE=0"));

    // A second start reads the stored directory instead.
    settings.writeString(QStringLiteral("Default_dir"), dir_->path());
    TForm1 again(settings);
    QCOMPARE(again.open_dialog_dir, dir_->path());

    // A stored folder that is gone gives way to its nearest existing parent,
    // stored at once; a value of another kind, to the current directory.
    settings.writeString(QStringLiteral("Default_dir"), dir_->path() + QStringLiteral("/Измерения/2024"));
    TForm1 gone(settings);
    QCOMPARE(gone.open_dialog_dir, dir_->path());
    QCOMPARE(settings.readString(QStringLiteral("Default_dir")), dir_->path());
    settings.writeBool(QStringLiteral("Default_dir"), true);
    TForm1 kind(settings);
    QCOMPARE(kind.open_dialog_dir, QDir::currentPath());
    QCOMPARE(settings.readString(QStringLiteral("Default_dir")), QDir::currentPath());
}

void MainWindowTest::menusAndToolbar()
{
    SettingsKey settings(cfg());
    TForm1 f(settings);
    QStringList tops;
    for (QAction* a : f.menuBar()->actions())
        tops << a->text();
    QCOMPARE(tops, QStringList({"Файл", "Правка", "Вид", "Сервис", "Справка"}));
    QCOMPARE(entries(f.N1), QStringList({"Создать", "Открыть", "[Дополнить]", "Сохранить", "Закрыть", "-",
                                         "Предварительный просмотр", "Печать", "-", "[Загрузить bin файл]", "Выход"}));
    QCOMPARE(entries(f.N32), QStringList({"Удалить строки"}));
    QCOMPARE(entries(f.N27), QStringList({"Выровнять столбцы", "-", "Задать цвет", "Убрать цвет", "Убрать все цвета",
                                          "-", "Убрать сортировку"}));
    QCOMPARE(entries(f.N35), QStringList({"Экспорт в Excel", "[Перенумировать]", "-", "[Расчет S && V]", "[1]",
                                          "Копировать График в буфер"}));
    QCOMPARE(entries(f.N22), QStringList({"Помощь", "-", "О программе..."}));
    QCOMPARE(entries(f.PopupMenu1),
             QStringList({"[Диаграмма]", "Печать", "-", "[Задать цвет]", "[Убрать цвет]", "[Убрать все цвета]",
                          "[Выровнять столбцы]", "-", "Экспорт", "-", "[Удалить]"}));
    QCOMPARE(f.N2->shortcut(), QKeySequence(QStringLiteral("Ctrl+N")));
    QCOMPARE(f.N3->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    QCOMPARE(f.N5->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
    QCOMPARE(f.N9->shortcut(), QKeySequence(QStringLiteral("Ctrl+P")));
    QCOMPARE(f.N23->shortcut(), QKeySequence(Qt::Key_F1));

    // Seven icon buttons, each the command of its menu item.
    const QList<QAction*> buttons = f.ToolBar1->actions();
    QCOMPARE(buttons, QList<QAction*>({f.N2, f.N3, f.N5, f.N8, f.N9, f.N20, f.N23}));
    for (QAction* a : buttons)
        QVERIFY(!a->icon().isNull());
    QCOMPARE(f.ToolBar1->toolButtonStyle(), Qt::ToolButtonIconOnly);

    QStringList captions;
    for (int i = 0; i < f.PageControl1->count(); ++i)
        captions << f.PageControl1->tabText(i);
    QCOMPARE(captions, QStringList({"Оперативный", "Ждущий", "Наблюдения", "Индивидуальные", "Базовые",
                                    "Индивидуальные"}));
}

void MainWindowTest::tabsForTableContent_data()
{
    QTest::addColumn<std::vector<Row>>("rows");
    QTest::addColumn<QList<bool>>("shown");
    const QList<bool> none(6, false);
    QTest::newRow("operative only") << std::vector<Row>{{0, 3}, {0, 3}}
                                    << QList<bool>{true, false, false, false, false, false};
    QTest::newRow("one waiting series") << std::vector<Row>{{0, 3}, {1, 1}, {1, 1}}
                                        << QList<bool>{true, true, true, false, false, false};
    QTest::newRow("observation only") << std::vector<Row>{{2, 1}} << QList<bool>{false, true, true, false, false, false};
    // A third series carries TYPE 3, which shows the operative tab too.
    QTest::newRow("three waiting series") << std::vector<Row>{{1, 1}, {1, 2}, {1, 3}}
                                          << QList<bool>{true, true, true, false, false, false};
    QTest::newRow("compact strength results") << std::vector<Row>{{0, 2}, {1, 2}} << none;
    QTest::newRow("strength results") << std::vector<Row>{{0, 3}, {1, 3}}
                                      << QList<bool>{true, false, false, false, false, false};
    QTest::newRow("empty") << std::vector<Row>{} << none;
}

void MainWindowTest::tabsForTableContent()
{
    QFETCH(std::vector<Row>, rows);
    QFETCH(QList<bool>, shown);
    SettingsKey settings(cfg());
    TForm1 f(settings);
    const QString file = makeTable(dir_->filePath(QStringLiteral("t.db")), rows);
    QVERIFY(f.Open_DB(file));
    QCOMPARE(tabs(f), shown);
    QVERIFY(!f.PageControl1->isHidden());
    if (shown.contains(true)) {
        // The current sheet is a shown one and its filter is in force.
        QVERIFY(f.currentSheet() > 0);
        QVERIFY(f.Dbf1.filtered());
        QVERIFY(f.Dbf1.filter().startsWith(QStringLiteral("MODE=")));
    }
    f.Close_DB();
    QCOMPARE(tabs(f), QList<bool>(6, false));
    QVERIFY(f.PageControl1->isHidden());
    QCOMPARE(f.waitingView->ComboBox1->count(), 0);
    QCOMPARE(f.observationView->ComboBox2->count(), 0);
}

void MainWindowTest::switchingTabsRefilters()
{
    SettingsKey settings(cfg());
    TForm1 f(settings);
    const QString file = makeTable(dir_->filePath(QStringLiteral("t.db")),
                                   {{0, 3}, {0, 3}, {0, 3}, {1, 1}, {1, 1}, {1, 2}, {2, 1}, {2, 1}});
    QVERIFY(f.Open_DB(file));
    f.PageControl1->setCurrentIndex(0);
    QCOMPARE(f.Dbf1.filter(), QStringLiteral("MODE=0"));
    QCOMPARE(f.DBGridPro1->model()->rowCount(), 3);
    f.PageControl1->setCurrentIndex(1);
    QCOMPARE(f.Dbf1.filter(), QStringLiteral("MODE=1"));
    QCOMPARE(f.Dbf1.recordCount(), 3);
    // The picker is filled from the table when the tab is shown.
    QCOMPARE(f.waitingView->ComboBox1->count(), 2);
    QCOMPARE(f.waitingView->ComboBox1->itemText(1), QStringLiteral("2"));
    f.PageControl1->setCurrentIndex(2);
    QCOMPARE(f.Dbf1.filter(), QStringLiteral("MODE=2"));
    QCOMPARE(f.observationView->ComboBox2->count(), 1);
    f.PageControl1->setCurrentIndex(0);
    QCOMPARE(f.Dbf1.filter(), QStringLiteral("MODE=0"));
    QCOMPARE(f.Dbf1.recordCount(), 3);
    QCOMPARE(f.DBGridPro1->model()->rowCount(), 3);
    for (int r = 0; r < 3; ++r)
        QCOMPARE(f.DBGridPro1->model()->index(r, 0).data().toString(), QString::number(r + 1));
}

void MainWindowTest::closeWritesDefaultDirButExitDoesNot()
{
    SettingsKey settings(cfg());
    const QString other = dir_->filePath(QStringLiteral("elsewhere"));
    QDir().mkpath(other);
    const QString file = makeTable(other + QStringLiteral("/a.db"), {{0, 3}});
    {
        TForm1 f(settings);
        dialogs_->files.push_back(file);
        f.N3Click();
        QVERIFY(f.db_open);
        // The dialogs keep their start directory for this run.
        QCOMPARE(f.open_dialog_dir, QDir::currentPath());
        f.Dsjl1Click();
        f.close();
    }
    QCOMPARE(settings.readString(QStringLiteral("Default_dir")), QDir::currentPath());
    {
        TForm1 f(settings);
        dialogs_->files.push_back(file);
        f.N3Click();
        f.close();
        QVERIFY(!f.db_open);
    }
    QCOMPARE(settings.readString(QStringLiteral("Default_dir")), other);
    TForm1 next(settings);
    QCOMPARE(next.open_dialog_dir, other);
}

void MainWindowTest::helpAndAbout()
{
    SettingsKey settings(cfg());
    TForm1 f(settings);
    // No guide beside this test program: the user is told so.
    f.help_file = dir_->filePath(QStringLiteral("missing.hlp"));
    f.N23Click();
    QCOMPARE(dialogs_->messages.size(), size_t(1));
    QVERIFY(dialogs_->messages[0].text.contains(QStringLiteral("missing.hlp")));

    // A guide: shown in the program's own window, on every system.
    f.help_file = dir_->filePath(QStringLiteral("orl.hlp"));
    {
        QFile out(f.help_file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(QStringLiteral("<html><body><h1>Руководство</h1></body></html>").toUtf8());
    }
    f.N23Click();
    auto* browser = f.findChild<QTextBrowser*>(QStringLiteral("HelpBrowser"));
    QVERIFY(browser);
    QVERIFY(browser->window()->isVisible());
    QVERIFY(browser->toPlainText().contains(QStringLiteral("Руководство")));
    QCOMPARE(dialogs_->messages.size(), size_t(1));
    browser->window()->close();

    // The about window reads the version of the file it describes.
    const QString prog = dir_->filePath(QStringLiteral("prog"));
    VersionFields v;
    v.strings = {{QStringLiteral("FileVersion"), QStringLiteral("2.3.4.5")}};
    {
        QFile out(prog);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(QByteArray(64, 'x') + buildVersionInfo(v));
    }
    Tform6 about;
    about.setVersionSource(prog);
    QTimer::singleShot(0, &about, [&] { about.Button1->click(); });
    about.exec();
    QCOMPARE(about.StaticText3->text(), QStringLiteral("Версия 2.3.4.5"));
    QCOMPARE(about.windowTitle(), QStringLiteral("О программе"));
    QCOMPARE(about.size(), QSize(515, 151));
    QCOMPARE(about.Button1->text(), QStringLiteral("Ок"));
}

void MainWindowTest::componentsCarryTheirNames()
{
    SettingsKey settings(cfg());
    TForm1 f(settings);
    QCOMPARE(f.objectName(), QStringLiteral("TForm1"));
    verifyObjectNames(f, {{f.N1, "N1"}, {f.N2, "N2"}, {f.N3, "N3"}, {f.N4, "N4"}, {f.N5, "N5"}, {f.N6, "N6"},
                          {f.N8, "N8"}, {f.N9, "N9"}, {f.bin1, "bin1"}, {f.Dsjl1, "Dsjl1"}, {f.N32, "N32"},
                          {f.N36, "N36"}, {f.N27, "N27"}, {f.N31, "N31"}, {f.N28, "N28"}, {f.N29, "N29"},
                          {f.N30, "N30"}, {f.N20, "N20"}, {f.N35, "N35"}, {f.Excel1, "Excel1"}, {f.N37, "N37"},
                          {f.SV1, "SV1"}, {f.N110, "N110"}, {f.N38, "N38"}, {f.N22, "N22"}, {f.N23, "N23"},
                          {f.N24, "N24"}, {f.PopupMenu1, "PopupMenu1"}, {f.N34, "N34"}, {f.N26, "N26"},
                          {f.N11, "N11"}, {f.N12, "N12"}, {f.N13, "N13"}, {f.N14, "N14"}, {f.N33, "N33"},
                          {f.N16, "N16"}, {f.ToolBar1, "ToolBar1"}, {f.PageControl1, "PageControl1"},
                          {f.TabSheet1, "TabSheet1"}, {f.TabSheet2, "TabSheet2"}, {f.TabSheet3, "TabSheet3"},
                          {f.TabSheet4, "TabSheet4"}, {f.TabSheet5, "TabSheet5"}, {f.TabSheet6, "TabSheet6"},
                          {f.DBGridPro1, "DBGridPro1"}, {f.DBGridPro3, "DBGridPro3"}, {f.DBGridPro4, "DBGridPro4"},
                          {f.DBGridPro5, "DBGridPro5"}, {f.DBGridPro6, "DBGridPro6"}, {f.RadioGroup1, "RadioGroup1"},
                          {f.waitingView->ComboBox1, "ComboBox1"}, {f.waitingView->StaticText5, "StaticText5"}, {f.waitingView->StaticText6, "StaticText6"},
                          {f.waitingView->StaticText7, "StaticText7"}, {f.waitingView->Label11, "Label11"}, {f.waitingView->StringGrid1, "StringGrid1"},
                          {f.waitingView->Chart1, "Chart1"}, {f.waitingView->Series1, "Series1"}, {f.waitingView->Series3, "Series3"}, {f.waitingView->Series4, "Series4"},
                          {f.waitingView->Series5, "Series5"}, {f.waitingView->Series6, "Series6"}, {f.waitingView->Memo1, "Memo1"}, {f.waitingView->TrackBar2, "TrackBar2"},
                          {f.observationView->ComboBox2, "ComboBox2"}, {f.observationView->StaticText1, "StaticText1"}, {f.observationView->StaticText2, "StaticText2"},
                          {f.observationView->StaticText3, "StaticText3"}, {f.observationView->StaticText4, "StaticText4"}, {f.observationView->Label10, "Label10"},
                          {f.observationView->Panel5, "Panel5"}, {f.observationView->StringGrid2, "StringGrid2"}, {f.observationView->Chart2, "Chart2"},
                          {f.observationView->LineSeries1, "LineSeries1"}, {f.observationView->Series2, "Series2"}, {f.observationView->Memo2, "Memo2"},
                          {f.observationView->TrackBar1, "TrackBar1"}});
    // The toolbar buttons run the commands of their menu items.
    const QList<QAction*> commands{f.N2, f.N3, f.N5, f.N8, f.N9, f.N20, f.N23};
    for (int i = 0; i < commands.size(); ++i) {
        const QString name = QStringLiteral("ToolButton%1").arg(i + 1);
        const QList<QToolButton*> found = f.findChildren<QToolButton*>(name);
        QVERIFY2(found.size() == 1 && found[0]->defaultAction() == commands[i], qPrintable(name));
    }

    Tform6 about;
    QCOMPARE(about.objectName(), QStringLiteral("Tform6"));
    verifyObjectNames(about, {{about.StaticText1, "StaticText1"}, {about.StaticText2, "StaticText2"},
                              {about.StaticText3, "StaticText3"}, {about.Button1, "Button1"}});
    TForm4 splash;
    QCOMPARE(splash.objectName(), QStringLiteral("TForm4"));
    verifyObjectNames(splash, {{splash.Image1, "Image1"}, {splash.Timer1, "Timer1"}});
}

QTEST_MAIN(MainWindowTest)
#include "test_main_window.moc"

#include "mainwindow/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QRadioButton>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSlider>
#include <QTabWidget>
#include <QToolBar>
#include <QVBoxLayout>

#include "views/about_window.h"
#include "ground/dialogs.h"
#include "ground/file_kind.h"
#include "ground/help.h"
#include "ground/icons.h"
#include "ground/settings_key.h"
#include "stats/sv_window.h"
#include "views/grid_presentation.h"
#include "views/record_grid.h"
#include "views/observation_view.h"
#include "views/waiting_view.h"
#include "output/report_commands.h"

const QString TForm1::ProductTitle = QStringLiteral("ДОРК - 5");

TForm1::TForm1(SettingsKey& settings, QWidget* parent)
    : QMainWindow(parent), F(Dbf1), settings_(settings)
{
    // The table carries a placeholder name until a database is created or
    // opened; no file of that name is ever touched.
    Dbf1.setFileName(QStringLiteral("new.dbf"));
    Dbf1.setFilter(QStringLiteral("MODE=0"));
    Dbf1.setFiltered(true);

    reports_ = std::make_unique<report::ReportCommands>(this, Dbf1);
    presentation = new GridPresentation(this, Dbf1, settings_);
    connect(presentation, &GridPresentation::orderChanged, this, &TForm1::reloadGrids);
    buildMenus();
    buildToolBar();
    buildTabs();
    FormCreate();
    nameComponents();
}

TForm1::~TForm1() = default;

// ---------------------------------------------------------------------------
// construction

void TForm1::buildMenus()
{
    auto add = [this](QMenu* menu, const QString& text, void (TForm1::*handler)(),
                      const QKeySequence& key = {}) {
        QAction* a = menu->addAction(text);
        if (!key.isEmpty())
            a->setShortcut(key);
        connect(a, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
        return a;
    };

    N1 = menuBar()->addMenu(QStringLiteral("Файл"));
    N2 = add(N1, QStringLiteral("Создать"), &TForm1::N2Click, QKeySequence(QStringLiteral("Ctrl+N")));
    N3 = add(N1, QStringLiteral("Открыть"), &TForm1::N3Click, QKeySequence(QStringLiteral("Ctrl+O")));
    N4 = add(N1, QStringLiteral("Дополнить"), &TForm1::N4Click);
    N4->setVisible(false);
    N5 = add(N1, QStringLiteral("Сохранить"), &TForm1::N5Click, QKeySequence(QStringLiteral("Ctrl+S")));
    N6 = add(N1, QStringLiteral("Закрыть"), &TForm1::N6Click);
    N1->addSeparator();
    N8 = add(N1, QStringLiteral("Предварительный просмотр"), &TForm1::ToolButton4Click);
    N9 = add(N1, QStringLiteral("Печать"), &TForm1::ToolButton5Click, QKeySequence(QStringLiteral("Ctrl+P")));
    N1->addSeparator();
    bin1 = add(N1, QStringLiteral("Загрузить bin файл"), &TForm1::bin1Click);
    bin1->setVisible(false);
    Dsjl1 = add(N1, QStringLiteral("Выход"), &TForm1::Dsjl1Click);

    N32 = menuBar()->addMenu(QStringLiteral("Правка"));
    N36 = add(N32, QStringLiteral("Удалить строки"), &TForm1::N36Click);

    N27 = menuBar()->addMenu(QStringLiteral("Вид"));
    N31 = add(N27, QStringLiteral("Выровнять столбцы"), &TForm1::N31Click);
    N27->addSeparator();
    N28 = add(N27, QStringLiteral("Задать цвет"), &TForm1::N28Click);
    N29 = add(N27, QStringLiteral("Убрать цвет"), &TForm1::N29Click);
    N30 = add(N27, QStringLiteral("Убрать все цвета"), &TForm1::N30Click);
    N27->addSeparator();
    N20 = add(N27, QStringLiteral("Убрать сортировку"), &TForm1::N20Click);

    N35 = menuBar()->addMenu(QStringLiteral("Сервис"));
    Excel1 = add(N35, QStringLiteral("Экспорт в Excel"), &TForm1::Excel1Click);
    N37 = add(N35, QStringLiteral("Перенумировать"), &TForm1::N37Click);
    N37->setVisible(false);
    N35->addSeparator();
    // The caption doubles the ampersand so that one is shown.
    SV1 = add(N35, QStringLiteral("Расчет S && V"), &TForm1::SV1Click);
    SV1->setVisible(false);
    N110 = add(N35, QStringLiteral("1"), &TForm1::N110Click);
    N110->setVisible(false);
    N38 = add(N35, QStringLiteral("Копировать График в буфер"), &TForm1::N38Click);

    N22 = menuBar()->addMenu(QStringLiteral("Справка"));
    N23 = add(N22, QStringLiteral("Помощь"), &TForm1::N23Click, QKeySequence(Qt::Key_F1));
    N22->addSeparator();
    N24 = add(N22, QStringLiteral("О программе..."), &TForm1::N24Click);

    for (QAction* a : {N2, N3, N5, N8, N9, N23}) {
        // Shortcuts work even when a grid has the focus.
        a->setShortcutContext(Qt::ApplicationShortcut);
    }
    N2->setIcon(appIcon(AppIcon::New));
    N3->setIcon(appIcon(AppIcon::Open));
    N5->setIcon(appIcon(AppIcon::Save));
    N8->setIcon(appIcon(AppIcon::Preview));
    N9->setIcon(appIcon(AppIcon::Print));
    N20->setIcon(appIcon(AppIcon::RemoveSort));
    N23->setIcon(appIcon(AppIcon::Help));

    PopupMenu1 = new QMenu(this);
    N34 = add(PopupMenu1, QStringLiteral("Диаграмма"), &TForm1::N34Click);
    N34->setVisible(false);
    N26 = add(PopupMenu1, QStringLiteral("Печать"), &TForm1::ToolButton5Click);
    PopupMenu1->addSeparator();
    N11 = add(PopupMenu1, QStringLiteral("Задать цвет"), &TForm1::N28Click);
    N12 = add(PopupMenu1, QStringLiteral("Убрать цвет"), &TForm1::N29Click);
    N13 = add(PopupMenu1, QStringLiteral("Убрать все цвета"), &TForm1::N30Click);
    N14 = add(PopupMenu1, QStringLiteral("Выровнять столбцы"), &TForm1::N31Click);
    for (QAction* a : {N11, N12, N13, N14})
        a->setVisible(false);
    PopupMenu1->addSeparator();
    N33 = add(PopupMenu1, QStringLiteral("Экспорт"), &TForm1::Excel1Click);
    PopupMenu1->addSeparator();
    N16 = add(PopupMenu1, QStringLiteral("Удалить"), &TForm1::N36Click);
    N16->setVisible(false);
}

void TForm1::buildToolBar()
{
    ToolBar1 = addToolBar(QStringLiteral("ToolBar1"));
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFixedHeight(29);
    ToolBar1->setIconSize(QSize(20, 20));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    // The toolbar buttons are the menu commands themselves, so enabling a
    // command enables its button too.
    ToolButton1 = N2;
    ToolButton2 = N3;
    ToolButton3 = N5;
    ToolButton4 = N8;
    ToolButton5 = N9;
    ToolButton6 = N20;
    ToolButton7 = N23;
    for (QAction* a : {ToolButton1, ToolButton2, ToolButton3, ToolButton4, ToolButton5, ToolButton6, ToolButton7})
        ToolBar1->addAction(a);
    ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
}

void TForm1::buildTabs()
{
    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    setCentralWidget(PageControl1);
    PageControl1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(PageControl1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { PopupMenu1->popup(PageControl1->mapToGlobal(p)); });

    auto gridSheet = [this](RecordGrid*& grid, const char* name) {
        auto* sheet = new QWidget;
        auto* lay = new QVBoxLayout(sheet);
        lay->setContentsMargins(0, 0, 0, 0);
        grid = new RecordGrid(Dbf1, sheet);
        grid->setObjectName(QLatin1String(name));
        lay->addWidget(grid);
        grid->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(grid, &QWidget::customContextMenuRequested, this, [this, grid](const QPoint& p) {
            PopupMenu1->popup(grid->viewport()->mapToGlobal(p));
        });
        return sheet;
    };

    TabSheet1 = gridSheet(DBGridPro1, "DBGridPro1");
    // The series views read their series through the table's filter, which
    // the main window sets so that the grids follow it too.
    const auto setFilter = [this](const QString& filter) { setTableFilter(filter); };
    const auto viewSheet = [](QWidget* view) {
        auto* sheet = new QWidget;
        auto* lay = new QVBoxLayout(sheet);
        lay->setContentsMargins(0, 0, 0, 0);
        view->setParent(sheet);
        lay->addWidget(view);
        return sheet;
    };
    waitingView = new WaitingView(Dbf1, setFilter);
    TabSheet2 = viewSheet(waitingView);
    RadioGroup1 = new QGroupBox(TabSheet2);
    RadioGroup1->setObjectName(QStringLiteral("RadioGroup1"));
    new QVBoxLayout(RadioGroup1);
    RadioGroup1->hide();
    observationView = new ObservationView(Dbf1, setFilter);
    TabSheet3 = viewSheet(observationView);
    // The observation sheet carries a record grid of its own that is never shown.
    DBGridPro3 = new RecordGrid(Dbf1, TabSheet3);
    DBGridPro3->setObjectName(QStringLiteral("DBGridPro3"));
    DBGridPro3->hide();
    TabSheet4 = gridSheet(DBGridPro4, "DBGridPro4");
    TabSheet5 = gridSheet(DBGridPro5, "DBGridPro5");
    TabSheet6 = gridSheet(DBGridPro6, "DBGridPro6");

    PageControl1->addTab(TabSheet1, QStringLiteral("Оперативный"));
    PageControl1->addTab(TabSheet2, QStringLiteral("Ждущий"));
    PageControl1->addTab(TabSheet3, QStringLiteral("Наблюдения"));
    PageControl1->addTab(TabSheet4, QStringLiteral("Индивидуальные"));
    PageControl1->addTab(TabSheet5, QStringLiteral("Базовые"));
    PageControl1->addTab(TabSheet6, QStringLiteral("Индивидуальные"));
    PageControl1->setCurrentIndex(2);

    setupGridColumns();

    for (RecordGrid* g : {DBGridPro1, DBGridPro3, DBGridPro4, DBGridPro5, DBGridPro6}) {
        connect(g, &RecordGrid::titleStateChanged, this,
                [this, g](int column) { presentation->resort(g, sortTagOf(g), column); });
    }
    // Editing a cell of the second individual grid counts as a change.
    connect(DBGridPro6, &RecordGrid::editStarted, this, [this] { db_changed = true; });

    connect(PageControl1, &QTabWidget::currentChanged, this, &TForm1::onCurrentTabChanged);
}

// ---------------------------------------------------------------------------
// start-up and close

void TForm1::FormCreate()
{
    // 1. Maximized, the "no database" colour, no tabs yet.
    setWindowState(windowState() | Qt::WindowMaximized);
    setWindowColourOpen(false);
    PageControl1->hide();

    // 2. The help file beside the executable (or where a package put it),
    // when there is one.
    help_file = QStringLiteral("ДОРК.HLP");
    if (const QString found = findHelpFile(QCoreApplication::applicationDirPath()); !found.isEmpty())
        help_file = found;

    // 3-4. Settings key and default directory.
    // A kept folder that is gone (deleted, renamed, a drive not plugged in)
    // or a value of another kind gives way to the nearest folder that
    // exists, kept at once so that every later start finds it.
    const QString kept = settings_.kind(QStringLiteral("Default_dir")) == SettingsKey::Kind::String
                             ? settings_.readString(QStringLiteral("Default_dir"))
                             : QString();
    default_dir = existingFolderOr(kept, QDir::currentPath());
    if (default_dir != kept) {
        try {
            settings_.writeString(QStringLiteral("Default_dir"), default_dir);
        } catch (const std::exception&) {
            // An unwritable store: the folder is still used for this run.
        }
    }
    // 5. The file dialogs start there for the whole run.
    open_dialog_dir = default_dir;

    // 6-7. No database, no sort.
    Dbf1.close();
    db_open = false;
    reset_sort_all();

    // 8. Series texts.
    waitingView->clearTexts();
    observationView->clearTexts();

    // 9-12.
    dis_but();
    tab_vis_dis();
    bin1->setVisible(false);
}

void TForm1::closeEvent(QCloseEvent* e)
{
    if (!quitting_)
        FormClose();
    e->accept();
}

void TForm1::FormClose()
{
    try {
        settings_.writeString(QStringLiteral("Default_dir"), default_dir);
    } catch (const std::exception& ex) {
        ui::showError(this, QString::fromStdString(ex.what()));
    }
    Close_DB();
}

void TForm1::Dsjl1Click()
{
    // Ends the program at once: no save question, no layouts, no
    // "Default_dir"; the table is closed as the windows are torn down.
    quitting_ = true;
    QCoreApplication::exit(0);
}

void TForm1::N23Click() { showHelp(this, help_file); }

void TForm1::N24Click()
{
    if (form6_)
        form6_->exec();
}

void TForm1::setWindowColourOpen(bool open)
{
    QPalette pal = palette();
    const QColor face = QApplication::palette().color(QPalette::Button);
    const QColor shadow = QApplication::palette().color(QPalette::Dark);
    pal.setColor(QPalette::Window, open ? face : shadow);
    setPalette(pal);
    setAutoFillBackground(true);
}

// ---------------------------------------------------------------------------
// commands whose windows come later

void TForm1::SV1Click()
{
    if (form3_)
        ui::dialogs().exec(*form3_);
}

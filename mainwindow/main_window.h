#pragma once
// The main window: menus, toolbar, the mode tabs with the views it composes
// (record grids, series views, grid presentation), and the commands.  Its
// methods are spread over the files of this folder by subject:
//   main_window.cpp        construction, menus, toolbar, tabs, start and close
//   tab_handling.cpp       tab visibility, tab changes and table filters
//   db_commands.cpp        create, open, append, save, close, delete, renumber
//   strength_commands.cpp  strength results of ".bin" files
//   output_commands.cpp    preview, print, export, chart copy, S and V
//   grid_commands.cpp      grid presentation commands (forwarded)
//   grid_columns.cpp       the column lists of the record grids
//   component_names.cpp    object names of the components

#include <QMainWindow>
#include <QString>
#include <memory>
#include <optional>
#include <span>

#include "store/dbf.h"
#include "store/measurement.h"

class QAction;
class QMenu;
class QTabWidget;
class QToolBar;
class QToolButton;
class QWidget;
class RecordGrid;
class WaitingView;
class ObservationView;
class GridPresentation;
class SettingsKey;
namespace device {
class TForm2;
}
using device::TForm2;
class Tform6;
class QGroupBox;
namespace report {
class ReportCommands;
struct ReportRequest;
}
class TForm3;
class TForm5;

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    // The settings key, download window and about window live as long as the
    // main window; they are created by the start-up sequence.
    explicit TForm1(SettingsKey& settings, QWidget* parent = nullptr);
    ~TForm1() override;

    void setDownloadWindow(TForm2* w) { form2_ = w; }
    TForm2* downloadWindow() const { return form2_; }
    void setAboutWindow(Tform6* w) { form6_ = w; }
    void setSvWindow(TForm3* w) { form3_ = w; }

    // ---- state shared with the other windows ----------------------------
    dbf::Table Dbf1;
    MeasurementFields F;  // Dbf1N, Dbf1DATE, ... (F.Dbf1N)
    bool db_open = false;
    bool db_changed = false;
    int layout_kind = 0;  // 1, 3 or 5 once a database was opened
    // Bytes the last ".bin" file put at the start of the memory image: the
    // strength decoders read these and nothing after them.
    qsizetype bin_length = 0;
    QString default_dir;
    QString help_file;
    QString open_dialog_dir;  // initial directory of OpenDialog1 / SaveDialog1

    // ---- application-level texts ----------------------------------------
    static const QString ProductTitle;  // "ДОРК - 5"
    // The application title (task-bar text): "ДОРК-5" at start, then set by
    // opening and closing databases.
    QString application_title = QStringLiteral("ДОРК-5");

    // ---- start-up and close (app shell) ---------------------------------
    void FormCreate();
    void Dsjl1Click();  // "Выход": quit without the close handling
    void N23Click();    // help
    void N24Click();    // about

    // ---- database commands ----------------------------------------------
    void N2Click();  // Создать
    void N3Click();  // Открыть
    void N4Click();  // Дополнить
    void N5Click();  // Сохранить
    void N6Click();  // Закрыть
    void N36Click();  // Удалить строки
    void N37Click();  // Перенумировать
    void bin1Click();  // Загрузить bin файл
    // Asks for a ".bin" file and reads it over the start of the memory image;
    // false when cancelled, unreadable or empty (reported).
    bool loadImageFile();
    // The bytes of the last ".bin" file in the memory image.
    std::span<uint8_t> bin_image();
    // decoder 1: the download (flash2orl01); 3 and 5: the strength results of
    // the ".bin" file in the memory image (flash2orl03, flash2orl02).  false:
    // nothing created.
    bool Create_DB(const QString& file, int decoder = 1);
    bool Open_DB(const QString& file);
    void Save_DB();
    void Close_DB();
    void dis_but();
    void en_but();
    // Hidden menu items report themselves disabled whatever they were told, so
    // the enabled state of a command is kept beside it as well.
    static void setCommandEnabled(QAction* a, bool on);
    static bool commandEnabled(const QAction* a);
    void setWindowColourOpen(bool open);
    // False (after an error box) when the path is not a regular file.
    bool regularFileOrSay(const QString& file);

    // ---- decoding entry (download decoder) --------------------------------
    void flash2orl01(bool report);
    // ---- strength results in the memory image (store/strength_commands.cpp)
    void flash2orl03(bool report);
    void flash2orl02(bool report);
    // The decoder "Дополнить" uses on the open database: 1 a download
    // (flash2orl01), 3 or 5 a strength-results image from a ".bin" file
    // (flash2orl03, flash2orl02).
    int append_decoder() const;
    // The layout kind of the table's first live row in file order (1, 3, 5).
    int layout_kind_of_table() const;
    void setDiagramWindow(TForm5* w) { form5_ = w; }

    // ---- tabs and filters -------------------------------------------------
    void tab_vis_en();
    void tab_vis_dis();
    void TabSheet1Show();
    void TabSheet2Show();
    void TabSheet3Show();
    void TabSheet4Show();
    void TabSheet5Show();
    void TabSheet6Show();
    void setTableFilter(const QString& filter);  // filter off, set, on, re-read
    void reloadGrids();                          // all grids re-read the view
    int currentSheet() const;                    // 1..6, 0 when none

    // ---- series views ----------------------------------------------------
    WaitingView* waitingView = nullptr;          // on TabSheet2
    ObservationView* observationView = nullptr;  // on TabSheet3

    // ---- grid presentation -------------------------------------------------
    GridPresentation* presentation = nullptr;
    // reset_sort for every record grid with its own tag.
    void reset_sort_all();
    // The sort tag of a record grid ("tab1", "tab3" ... "tab6").
    QString sortTagOf(const RecordGrid* grid) const;
    void N31Click();  // Выровнять столбцы
    void N28Click();  // Задать цвет
    void N29Click();  // Убрать цвет
    void N30Click();  // Убрать все цвета
    void N20Click();  // Убрать сортировку
    bool load_layout_all();
    void save_layout_all();
    void setupGridColumns();  // column lists of DBGridPro1, 3..6

    // ---- output ------------------------------------------------------------
    void ToolButton4Click();  // preview
    void ToolButton5Click();  // print
    void Excel1Click();       // export to a workbook
    void SV1Click();
    void N110Click();
    void N38Click();
    void N34Click();

    // ---- components --------------------------------------------------------
    QMenu* N1 = nullptr;   // "Файл"
    QMenu* N32 = nullptr;  // "Правка"
    QMenu* N27 = nullptr;  // "Вид"
    QMenu* N35 = nullptr;  // "Сервис"
    QMenu* N22 = nullptr;  // "Справка"
    QAction* N2 = nullptr;
    QAction* N3 = nullptr;
    QAction* N4 = nullptr;
    QAction* N5 = nullptr;
    QAction* N6 = nullptr;
    QAction* N8 = nullptr;  // "Предварительный просмотр"
    QAction* N9 = nullptr;  // "Печать"
    QAction* bin1 = nullptr;
    QAction* Dsjl1 = nullptr;
    QAction* N36 = nullptr;
    QAction* N31 = nullptr;
    QAction* N28 = nullptr;
    QAction* N29 = nullptr;
    QAction* N30 = nullptr;
    QAction* N20 = nullptr;
    QAction* Excel1 = nullptr;
    QAction* N37 = nullptr;
    QAction* SV1 = nullptr;
    QAction* N110 = nullptr;
    QAction* N38 = nullptr;
    QAction* N23 = nullptr;
    QAction* N24 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* N34 = nullptr;   // pop-up "Диаграмма"
    QAction* N26 = nullptr;  // pop-up "Печать"
    QAction* N11 = nullptr;  // pop-up "Задать цвет"
    QAction* N12 = nullptr;  // pop-up "Убрать цвет"
    QAction* N13 = nullptr;  // pop-up "Убрать все цвета"
    QAction* N14 = nullptr;  // pop-up "Выровнять столбцы"
    QAction* N33 = nullptr;  // pop-up "Экспорт"
    QAction* N16 = nullptr;  // pop-up "Удалить"
    QToolBar* ToolBar1 = nullptr;
    QAction* ToolButton1 = nullptr;
    QAction* ToolButton2 = nullptr;
    QAction* ToolButton3 = nullptr;
    QAction* ToolButton4 = nullptr;
    QAction* ToolButton5 = nullptr;
    QAction* ToolButton6 = nullptr;
    QAction* ToolButton7 = nullptr;

    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QWidget* TabSheet3 = nullptr;
    QWidget* TabSheet4 = nullptr;
    QWidget* TabSheet5 = nullptr;
    QWidget* TabSheet6 = nullptr;
    RecordGrid* DBGridPro1 = nullptr;
    RecordGrid* DBGridPro3 = nullptr;
    RecordGrid* DBGridPro4 = nullptr;
    RecordGrid* DBGridPro5 = nullptr;
    RecordGrid* DBGridPro6 = nullptr;

    QGroupBox* RadioGroup1 = nullptr;  // hidden service group of the waiting tab

protected:
    void closeEvent(QCloseEvent* e) override;
    void FormClose();

private:
    void buildMenus();
    void buildToolBar();
    void buildTabs();
    void nameComponents();  // component_names.cpp
    void onCurrentTabChanged(int index);
    void sheetShown(int sheet);
    // The report of the current tab, when the output commands have one.
    std::optional<report::ReportRequest> currentReport() const;
    bool activeOperativeSheet() const;

    SettingsKey& settings_;
    TForm2* form2_ = nullptr;
    Tform6* form6_ = nullptr;
    std::unique_ptr<report::ReportCommands> reports_;
    TForm3* form3_ = nullptr;
    TForm5* form5_ = nullptr;
    bool quitting_ = false;
};

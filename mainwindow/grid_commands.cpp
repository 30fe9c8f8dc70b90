// The main window's grid commands: the operative grid's sort, width and
// colour commands, and the column layouts of every grid, handed to the grid
// presentation.

#include <QTabWidget>
#include <array>

#include "mainwindow/main_window.h"
#include "views/grid_presentation.h"
#include "views/record_grid.h"

namespace {

// Layout value names in the order they are loaded and saved.
struct GridKey {
    RecordGrid* TForm1::*grid;
    QWidget* TForm1::*sheet;
    const char* value;
};

constexpr std::array<GridKey, 5> kGridKeys = {{
    {&TForm1::DBGridPro1, &TForm1::TabSheet1, "Table_1"},
    {&TForm1::DBGridPro3, &TForm1::TabSheet3, "Table_3"},
    {&TForm1::DBGridPro4, &TForm1::TabSheet4, "Table_4"},
    {&TForm1::DBGridPro5, &TForm1::TabSheet5, "Table_5"},
    {&TForm1::DBGridPro6, &TForm1::TabSheet6, "Table_6"},
}};

}  // namespace

// ---------------------------------------------------------------------------
// menu commands of the operative grid

void TForm1::N20Click()
{
    if (Dbf1.isOpen() && activeOperativeSheet())
        presentation->reset_sort(DBGridPro1, QStringLiteral("tab1"));
}

void TForm1::N31Click()
{
    if (Dbf1.isOpen() && activeOperativeSheet())
        presentation->align_cols(DBGridPro1);
}

void TForm1::N28Click()
{
    presentation->N28Click(DBGridPro1, [this] { return activeOperativeSheet(); });
}

void TForm1::N29Click()
{
    if (Dbf1.isOpen() && activeOperativeSheet())
        presentation->N29Click(DBGridPro1);
}

void TForm1::N30Click()
{
    if (Dbf1.isOpen() && activeOperativeSheet())
        presentation->clear_colors(DBGridPro1);
}

// ---------------------------------------------------------------------------
// the layouts of every grid

bool TForm1::load_layout_all()
{
    if (!Dbf1.isOpen())
        return true;
    // An unreadable value is reported and replaced; the others still load.
    bool all = true;
    for (const GridKey& k : kGridKeys)
        all = presentation->load_layout(QLatin1String(k.value), this->*k.grid) && all;
    return all;
}

void TForm1::save_layout_all()
{
    if (!Dbf1.isOpen())
        return;
    for (const GridKey& k : kGridKeys) {
        const int tab = PageControl1 ? PageControl1->indexOf(this->*k.sheet) : -1;
        if (tab >= 0 && PageControl1->isTabVisible(tab))
            presentation->save_layout(QLatin1String(k.value), this->*k.grid);
    }
}

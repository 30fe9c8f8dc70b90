// Grid presentation of the main window: sorting by a title click (an index
// tag on the one table, so the order holds for every view), equal column
// widths, column colours, and the column layouts kept in the settings key.

#include <QTabWidget>
#include <array>

#include "ground/dialogs.h"
#include "ground/settings_key.h"
#include "views/layout_text.h"
#include "mainwindow/main_window.h"
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
// sorting

void TForm1::resort(RecordGrid* grid, const QString& tag, int column)
{
    if (!grid || !Dbf1.isOpen() || column < 0 || size_t(column) >= grid->columns().size())
        return;
    grid->commitPendingEdit();
    const GridColumn& c = grid->columns()[size_t(column)];
    try {
        Dbf1.selectIndex(QString());
        try {
            Dbf1.deleteIndexTag(tag);
            Dbf1.refresh();
        } catch (const dbf::Error&) {
            // No such tag yet: nothing to remove.
        }
        // Up shows the largest first.
        Dbf1.createIndexTag(tag, c.field, c.sort == SortIndicator::Up);
        Dbf1.selectIndex(tag);
        Dbf1.refresh();
    } catch (const dbf::Error& e) {
        ui::showError(this, e.text());
    }
    reloadGrids();
}

void TForm1::reset_sort(RecordGrid* grid, const QString& tag)
{
    if (!grid)
        return;
    for (GridColumn& c : grid->columns()) {
        c.sort = SortIndicator::None;
        c.sortOrder = 0;
    }
    grid->applyColumns();
    if (!Dbf1.isOpen())
        return;
    try {
        Dbf1.selectIndex(QString());
    } catch (const dbf::Error&) {
    }
    try {
        Dbf1.deleteIndexTag(tag);
    } catch (const dbf::Error&) {
    }
    try {
        Dbf1.refresh();
    } catch (const dbf::Error&) {
    }
    reloadGrids();
}

void TForm1::N20Click()
{
    if (Dbf1.isOpen() && activeOperativeSheet())
        reset_sort(DBGridPro1, QStringLiteral("tab1"));
}

// ---------------------------------------------------------------------------
// column widths

void TForm1::align_cols(RecordGrid* grid)
{
    if (!grid || grid->columns().empty())
        return;
    grid->setFitToWidth(false);
    // Hidden columns count too.
    const int w = grid->width() / int(grid->columns().size());
    for (GridColumn& c : grid->columns())
        c.width = w;
    grid->applyColumns();
    grid->setFitToWidth(true);
    grid->viewport()->update();
}

void TForm1::N31Click()
{
    if (Dbf1.isOpen() && activeOperativeSheet())
        align_cols(DBGridPro1);
}

// ---------------------------------------------------------------------------
// colours

void TForm1::N28Click()
{
    if (!Dbf1.isOpen())
        return;
    const int column = DBGridPro1->currentColumnIndex();
    QColor initial = Qt::white;
    if (column >= 0 && DBGridPro1->columns()[size_t(column)].color)
        initial = *DBGridPro1->columns()[size_t(column)].color;
    const std::optional<QColor> chosen = ui::dialogs().color(this, initial);
    if (!chosen || !activeOperativeSheet())
        return;
    const int current = DBGridPro1->currentColumnIndex();
    if (current < 0)
        return;
    DBGridPro1->columns()[size_t(current)].color = *chosen;
    DBGridPro1->applyColumns();
}

void TForm1::N29Click()
{
    if (!Dbf1.isOpen() || !activeOperativeSheet())
        return;
    const int column = DBGridPro1->currentColumnIndex();
    if (column < 0)
        return;
    DBGridPro1->columns()[size_t(column)].color.reset();
    DBGridPro1->applyColumns();
}

void TForm1::clear_colors(RecordGrid* grid)
{
    if (!grid)
        return;
    for (GridColumn& c : grid->columns())
        c.color.reset();
    grid->applyColumns();
}

void TForm1::N30Click()
{
    if (Dbf1.isOpen() && activeOperativeSheet())
        clear_colors(DBGridPro1);
}

// ---------------------------------------------------------------------------
// layouts

bool TForm1::load_layout(const QString& valueName, RecordGrid* grid)
{
    if (!grid)
        return true;
    if (!settings_.exists(valueName)) {
        // First time: equal widths, kept at once.
        align_cols(grid);
        save_layout(valueName, grid);
        return true;
    }
    QString why;
    const auto columns = layout::fromText(layout::normaliseLineEnds(settings_.readString(valueName)), &why);
    if (!columns || !grid->applyLayout(*columns, &why)) {
        ui::showError(this, QStringLiteral("Не удалось прочитать расположение столбцов \"%1\": %2").arg(valueName, why));
        return false;
    }
    return true;
}

void TForm1::save_layout(const QString& valueName, RecordGrid* grid)
{
    if (grid)
        settings_.writeString(valueName, layout::toText(grid->layout()));
}

bool TForm1::load_layout_all()
{
    if (!Dbf1.isOpen())
        return true;
    for (const GridKey& k : kGridKeys)
        if (!load_layout(QLatin1String(k.value), this->*k.grid))
            return false;
    return true;
}

void TForm1::save_layout_all()
{
    if (!Dbf1.isOpen())
        return;
    for (const GridKey& k : kGridKeys) {
        const int tab = PageControl1 ? PageControl1->indexOf(this->*k.sheet) : -1;
        if (tab >= 0 && PageControl1->isTabVisible(tab))
            save_layout(QLatin1String(k.value), this->*k.grid);
    }
}

#include "views/grid_presentation.h"

#include "ground/dialogs.h"
#include "ground/settings_key.h"
#include "store/dbf.h"
#include "views/layout_text.h"
#include "views/record_grid.h"

GridPresentation::GridPresentation(QWidget* owner, dbf::Table& table, SettingsKey& settings)
    : QObject(owner), owner_(owner), table_(table), settings_(settings)
{
}

// ---------------------------------------------------------------------------
// sorting

void GridPresentation::resort(RecordGrid* grid, const QString& tag, int column)
{
    if (!grid || !table_.isOpen() || column < 0 || size_t(column) >= grid->columns().size())
        return;
    grid->commitPendingEdit();
    const GridColumn& c = grid->columns()[size_t(column)];
    try {
        table_.selectIndex(QString());
        try {
            table_.deleteIndexTag(tag);
            table_.refresh();
        } catch (const dbf::Error&) {
            // No such tag yet: nothing to remove.
        }
        // Up shows the largest first.
        table_.createIndexTag(tag, c.field, c.sort == SortIndicator::Up);
        table_.selectIndex(tag);
        table_.refresh();
    } catch (const dbf::Error& e) {
        ui::showError(owner_, e.text());
    }
    emit orderChanged();
}

void GridPresentation::reset_sort(RecordGrid* grid, const QString& tag)
{
    if (!grid)
        return;
    for (GridColumn& c : grid->columns()) {
        c.sort = SortIndicator::None;
        c.sortOrder = 0;
    }
    grid->applyColumns();
    if (!table_.isOpen())
        return;
    try {
        table_.selectIndex(QString());
    } catch (const dbf::Error&) {
    }
    try {
        table_.deleteIndexTag(tag);
    } catch (const dbf::Error&) {
    }
    try {
        table_.refresh();
    } catch (const dbf::Error&) {
    }
    emit orderChanged();
}

// ---------------------------------------------------------------------------
// column widths

void GridPresentation::align_cols(RecordGrid* grid)
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

// ---------------------------------------------------------------------------
// colours

void GridPresentation::N28Click(RecordGrid* grid, const std::function<bool()>& stillActive)
{
    if (!grid || !table_.isOpen())
        return;
    const int column = grid->currentColumnIndex();
    QColor initial = Qt::white;
    if (column >= 0 && grid->columns()[size_t(column)].color)
        initial = *grid->columns()[size_t(column)].color;
    const std::optional<QColor> chosen = ui::dialogs().color(owner_, initial);
    if (!chosen || (stillActive && !stillActive()))
        return;
    const int current = grid->currentColumnIndex();
    if (current < 0)
        return;
    grid->columns()[size_t(current)].color = *chosen;
    grid->applyColumns();
}

void GridPresentation::N29Click(RecordGrid* grid)
{
    if (!grid)
        return;
    const int column = grid->currentColumnIndex();
    if (column < 0)
        return;
    grid->columns()[size_t(column)].color.reset();
    grid->applyColumns();
}

void GridPresentation::clear_colors(RecordGrid* grid)
{
    if (!grid)
        return;
    for (GridColumn& c : grid->columns())
        c.color.reset();
    grid->applyColumns();
}

// ---------------------------------------------------------------------------
// layouts

bool GridPresentation::load_layout(const QString& valueName, RecordGrid* grid)
{
    if (!grid)
        return true;
    if (!settings_.exists(valueName)) {
        align_cols(grid);
        save_layout(valueName, grid);
        return true;
    }
    QString why;
    const auto columns = layout::fromText(layout::normaliseLineEnds(settings_.readString(valueName)), &why);
    if (!columns || !grid->applyLayout(*columns, &why)) {
        // Said once: the value is replaced by the equal-width layout, as a
        // missing one is created, so the next opening reads it cleanly.  A
        // grid whose tab is never shown would otherwise never write it again.
        ui::showError(owner_, QStringLiteral("Не удалось прочитать расположение столбцов \"%1\": %2. "
                                             "Столбцам заданы равные ширины.")
                                  .arg(valueName, why));
        align_cols(grid);
        try {
            save_layout(valueName, grid);
        } catch (const std::exception& e) {
            ui::showError(owner_, QString::fromStdString(e.what()));
        }
        return false;
    }
    return true;
}

void GridPresentation::save_layout(const QString& valueName, RecordGrid* grid)
{
    if (grid)
        settings_.writeString(valueName, layout::toText(grid->layout()));
}

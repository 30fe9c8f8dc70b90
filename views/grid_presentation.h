#pragma once
// Presentation of the record grids over one table: sorting by a title click
// (an index tag on the table, so the order holds for every view), equal
// column widths, column colours, and the column layouts kept in the
// settings key.  Handed the table, the settings and the widget its messages
// belong to; tells its owner through orderChanged() when the grids must
// re-read the view.

#include <QObject>
#include <QString>
#include <functional>

class QWidget;
class RecordGrid;
class SettingsKey;
namespace dbf {
class Table;
}

class GridPresentation : public QObject {
    Q_OBJECT
public:
    GridPresentation(QWidget* owner, dbf::Table& table, SettingsKey& settings);

    // Sorts the table by the grid's column under the grid's own tag.
    void resort(RecordGrid* grid, const QString& tag, int column);
    // Clears the grid's sort marks and removes its tag.
    void reset_sort(RecordGrid* grid, const QString& tag);
    void align_cols(RecordGrid* grid);
    // Asks for a colour of the grid's current column; `stillActive` says
    // whether the grid is still the one shown when the user has chosen.
    void N28Click(RecordGrid* grid, const std::function<bool()>& stillActive);
    void N29Click(RecordGrid* grid);
    void clear_colors(RecordGrid* grid);
    // The layout kept under valueName; the first time, equal widths, kept
    // at once.  False, after a message, when the kept text cannot be used:
    // the grid then gets equal widths, kept under valueName in its place.
    bool load_layout(const QString& valueName, RecordGrid* grid);
    void save_layout(const QString& valueName, RecordGrid* grid);

signals:
    void orderChanged();

private:
    QWidget* owner_;
    dbf::Table& table_;
    SettingsKey& settings_;
};

#pragma once
// Data-aware record grid: a QTableView over the one measurement table through
// RecordModel.  Columns are described by GridColumn (field, title, width,
// alignment, format, visibility, read-only, pick list, colour, sort
// indicator); the grid never copies the table's rows.

#include <QAbstractTableModel>
#include <QColor>
#include <QFont>
#include <QPointer>
#include <QStringList>
#include <QTableView>
#include <optional>
#include <vector>

#include "views/layout_text.h"  // SortIndicator, layout::ColumnLayout

namespace dbf {
class Table;
}

struct GridColumn {
    QString field;  // field name of the measurement table
    QString title;
    int width = 64;  // pixels, design width
    Qt::Alignment alignment = Qt::AlignLeft;
    bool visible = true;
    bool readOnly = true;
    QString displayFormat;  // "", "0.0" or "0.00"
    QStringList pickList;   // non-empty: the only values accepted when editing
    bool symbolFont = false;  // impact direction letters drawn as arrows
    // Presentation kept in a layout value
    std::optional<QColor> color;
    SortIndicator sort = SortIndicator::None;
    int sortOrder = 0;
    std::optional<QFont> font;
};

class RecordModel : public QAbstractTableModel {
    Q_OBJECT
public:
    RecordModel(dbf::Table& table, QObject* parent = nullptr);

    void setColumns(std::vector<GridColumn>* columns);  // not owned (the grid owns them)
    // The table's view changed (filter, order, rows): re-read counts.
    void reload();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // Text shown for a value of a column (formats "0.0", "0.00", arrows).
    static QString displayText(const GridColumn& c, const QString& stored, bool isNumeric, double value, bool isNull);
    // The arrow the symbol font draws for an impact direction letter; other
    // characters stay as they are.
    static QString directionArrows(const QString& stored);

    // Width of the column's field in the table (characters), 0 when unknown.
    int fieldWidth(int column) const;
    // The column's field is a number field of the table.
    bool isNumeric(int column) const;

    // Columns were changed in place (colour, alignment, font, indicator):
    // repaint cells and titles.
    void columnsChanged();

signals:
    // A cell edit was posted to the table (field name).
    void edited(const QString& field);

private:
    int fieldOf(int column) const;  // table field index, -1 when none
    void mapFields();

    dbf::Table& table_;
    std::vector<GridColumn>* columns_ = nullptr;
    std::vector<int> fieldIndex_;  // per column
    std::vector<char> fieldType_;  // per column: 'C', 'N' or 0
    int rows_ = 0;
};

class RecordGrid : public QTableView {
    Q_OBJECT
public:
    RecordGrid(dbf::Table& table, QWidget* parent = nullptr);

    std::vector<GridColumn>& columns() { return columns_; }
    const std::vector<GridColumn>& columns() const { return columns_; }
    void setColumns(std::vector<GridColumn> cols);
    int columnOf(const QString& field) const;  // -1 when none
    RecordModel* recordModel() const { return model_; }

    // Re-reads the table's view (after any filter/order/row change).  The
    // current row follows the table's current record.
    void reload();
    // Applies widths/visibility/colours from columns() to the view.
    void applyColumns();

    // Fit-to-width: shown columns are stretched in proportion to fill the grid.
    void setFitToWidth(bool on);
    bool fitToWidth() const { return fit_; }

    // Rows the user selected (view rows of the table), ascending.  Only the
    // user selects: a click, Ctrl+click, Shift+click, Shift+arrows or
    // Ctrl+A.  The current row alone is never selected; it carries a focus
    // frame.  Every reload leaves nothing selected.
    QList<int> selectedRows() const;
    // The column that has the focus, -1 when none.
    int currentColumnIndex() const;
    void setCurrentColumn(int column);

    // Commits a pending cell edit (posts it).
    void commitPendingEdit();

    // What a click on a column title does: a plain click moves the column's
    // indicator none -> up, up -> down, down -> up; with Ctrl it goes to
    // none.  Every other column loses its indicator.  Emits titleStateChanged.
    void titleClick(int column, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

    // The kept presentation of every column, for the layout value.
    std::vector<layout::ColumnLayout> layout() const;
    // Copies the kept presentation of the named columns; entries for fields
    // the grid does not have are ignored, columns the list does not name keep
    // their state.  Nothing is changed and false returned (with *error) when
    // an entry cannot be applied.  Does not re-sort anything.
    bool applyLayout(const std::vector<layout::ColumnLayout>& columns, QString* error = nullptr);

signals:
    // A title click changed a column's sort indicator.
    void titleStateChanged(int column);
    // The user opened an editor on a cell.
    void editStarted(int column);

protected:
    void resizeEvent(QResizeEvent* e) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;
    void paintEvent(QPaintEvent* e) override;

private:
    friend class RecordDelegate;
    friend class RecordHeader;
    void onHeaderClicked(int logical);
    void onSectionResized(int logical, int oldSize, int newSize);
    void userResizeFinished();
    void stretchColumns();

    dbf::Table& table_;
    RecordModel* model_;
    std::vector<GridColumn> columns_;
    bool fit_ = true;
    bool applying_ = false;     // the grid itself is setting section sizes
    bool followTable_ = false;  // current row set from the table: do not move it
    bool userResizing_ = false;
    int currentColumn_ = -1;
    QPointer<QWidget> editor_;
};

// The column list of the main window's record grid DBGridPro<grid> (grid 1,
// 3, 4, 5 or 6; empty for any other number).  In views/grid_columns.cpp.
std::vector<GridColumn> gridColumnsFor(int grid);

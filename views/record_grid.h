#pragma once
// Data-aware record grid: a QTableView over the one measurement table through
// RecordModel.  Columns are described by GridColumn (field, title, width,
// alignment, format, visibility, read-only, pick list, colour, sort
// indicator); the grid never copies the table's rows.

#include <QAbstractTableModel>
#include <QColor>
#include <QFont>
#include <QStringList>
#include <QTableView>
#include <optional>
#include <vector>

namespace dbf {
class Table;
}

enum class SortIndicator { None, Up, Down };

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

signals:
    // A cell edit was posted to the table (field name).
    void edited(const QString& field);

private:
    dbf::Table& table_;
    std::vector<GridColumn>* columns_ = nullptr;
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

    // Re-reads the table's view (after any filter/order/row change).
    void reload();
    // Applies widths/visibility/colours from columns() to the view.
    void applyColumns();

    // Fit-to-width: shown columns are stretched in proportion to fill the grid.
    void setFitToWidth(bool on);
    bool fitToWidth() const { return fit_; }

    // Selected rows (view rows of the table), ascending.
    QList<int> selectedRows() const;
    // The column that has the focus, -1 when none.
    int currentColumnIndex() const;

    // Commits a pending cell edit (posts it).
    void commitPendingEdit();

signals:
    // A title click changed a column's sort indicator.
    void titleStateChanged(int column);

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void onHeaderClicked(int logical);
    void stretchColumns();

    dbf::Table& table_;
    RecordModel* model_;
    std::vector<GridColumn> columns_;
    bool fit_ = true;
    int nextSortOrder_ = 1;
};

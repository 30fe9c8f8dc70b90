#include "views/string_grid.h"

#include <QHeaderView>

StringGridModel::StringGridModel(QObject* parent) : QAbstractTableModel(parent) {}

int StringGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int StringGridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(columns_.size());
}

QVariant StringGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rows_ || index.column() >= cols())
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return columns_[size_t(index.column())].at(index.row());
    return {};
}

void StringGridModel::setColCount(int cols)
{
    cols = qMax(0, cols);
    if (cols == this->cols())
        return;
    beginResetModel();
    columns_.resize(size_t(cols));
    for (auto& c : columns_) {
        while (c.size() < rows_)
            c.append(QString());
    }
    endResetModel();
}

void StringGridModel::setRowCount(int rows)
{
    rows = qMax(0, rows);
    if (rows == rows_)
        return;
    // A reset is cheaper than row insertion signals for a view of 10^5 rows.
    beginResetModel();
    for (auto& c : columns_) {
        if (c.size() > rows)
            c.resize(rows);
        else {
            c.reserve(rows);
            while (c.size() < rows)
                c.append(QString());
        }
    }
    rows_ = rows;
    endResetModel();
}

QString StringGridModel::cell(int col, int row) const
{
    if (col < 0 || col >= cols() || row < 0 || row >= rows_)
        return {};
    return columns_[size_t(col)].at(row);
}

void StringGridModel::setCell(int col, int row, const QString& text)
{
    if (col < 0 || col >= cols() || row < 0 || row >= rows_)
        return;
    columns_[size_t(col)][row] = text;
    const QModelIndex i = index(row, col);
    emit dataChanged(i, i, {Qt::DisplayRole});
}

void StringGridModel::setColumn(int col, int fromRow, const QStringList& texts)
{
    if (col < 0 || col >= cols() || fromRow < 0)
        return;
    const int need = fromRow + int(texts.size());
    if (need > rows_)
        setRowCount(need);
    QStringList& c = columns_[size_t(col)];
    if (fromRow == 0 && texts.size() == c.size()) {
        c = texts;  // shares the list, no copy of the texts
    } else {
        for (int i = 0; i < texts.size(); ++i)
            c[fromRow + i] = texts.at(i);
    }
    if (!texts.isEmpty())
        emit dataChanged(index(fromRow, col), index(need - 1, col), {Qt::DisplayRole});
}

void StringGridModel::clearCells()
{
    if (rows_ == 0)
        return;
    beginResetModel();
    for (auto& c : columns_) {
        c.clear();
        c.reserve(rows_);
        for (int i = 0; i < rows_; ++i)
            c.append(QString());
    }
    endResetModel();
}

// ---------------------------------------------------------------------------

StringGrid::StringGrid(QWidget* parent, int cols) : QTableView(parent), model_(new StringGridModel(this))
{
    model_->setColCount(cols);
    setModel(model_);
    horizontalHeader()->hide();
    verticalHeader()->hide();
    // Fixed row height: the header then never measures the rows, which keeps
    // a very long list instant to fill and scroll.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(1);
    setDefaultRowHeight(16);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setWordWrap(false);
    setCornerButtonEnabled(false);
}

void StringGrid::setColCount(int cols) { model_->setColCount(cols); }

void StringGrid::setDefaultRowHeight(int height) { verticalHeader()->setDefaultSectionSize(height); }

int StringGrid::defaultRowHeight() const { return verticalHeader()->defaultSectionSize(); }

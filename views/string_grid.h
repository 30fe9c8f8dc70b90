#pragma once
// A light grid of text cells addressed as (column, row), as the series lists
// use it.  The texts live in one QStringList per column inside the model, so
// a list of 150,000 rows costs two string lists and no widget per cell.  No
// header rows or columns: row 0 is an ordinary row that scrolls with the rest.

#include <QAbstractTableModel>
#include <QStringList>
#include <QTableView>
#include <vector>

class StringGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit StringGridModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    int rows() const { return rows_; }
    int cols() const { return int(columns_.size()); }
    void setColCount(int cols);
    void setRowCount(int rows);  // new cells are empty; cut rows are dropped
    QString cell(int col, int row) const;  // empty outside the grid
    void setCell(int col, int row, const QString& text);  // ignored outside the grid
    // Replaces a whole column from row `fromRow` on; the grid grows to fit.
    void setColumn(int col, int fromRow, const QStringList& texts);
    void clearCells();  // every cell empty, size kept

private:
    std::vector<QStringList> columns_;  // each holds exactly rows_ texts
    int rows_ = 0;
};

class StringGrid : public QTableView {
    Q_OBJECT
public:
    explicit StringGrid(QWidget* parent = nullptr, int cols = 2);

    StringGridModel* gridModel() const { return model_; }

    int colCount() const { return model_->cols(); }
    int rowCount() const { return model_->rows(); }
    void setColCount(int cols);
    void setRowCount(int rows) { model_->setRowCount(rows); }
    QString cell(int col, int row) const { return model_->cell(col, row); }
    void setCell(int col, int row, const QString& text) { model_->setCell(col, row, text); }
    void setColumn(int col, int fromRow, const QStringList& texts) { model_->setColumn(col, fromRow, texts); }
    void clearCells() { model_->clearCells(); }

    void setColWidth(int col, int width) { setColumnWidth(col, width); }
    int colWidth(int col) const { return columnWidth(col); }
    void setDefaultRowHeight(int height);
    int defaultRowHeight() const;

private:
    StringGridModel* model_;
};

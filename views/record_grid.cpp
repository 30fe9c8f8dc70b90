#include "views/record_grid.h"

#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <cmath>

#include "ground/app_locale.h"
#include "ground/dialogs.h"
#include "store/dbf.h"

// ---------------------------------------------------------------------------
// RecordModel

RecordModel::RecordModel(dbf::Table& table, QObject* parent) : QAbstractTableModel(parent), table_(table) {}

void RecordModel::setColumns(std::vector<GridColumn>* columns)
{
    beginResetModel();
    columns_ = columns;
    mapFields();
    endResetModel();
}

void RecordModel::mapFields()
{
    fieldIndex_.clear();
    fieldType_.clear();
    if (!columns_)
        return;
    const bool open = table_.isOpen();
    for (const GridColumn& c : *columns_) {
        const int fi = open ? table_.fieldIndex(c.field) : -1;
        fieldIndex_.push_back(fi);
        fieldType_.push_back(fi >= 0 ? table_.fields()[size_t(fi)].type : char(0));
    }
}

void RecordModel::reload()
{
    beginResetModel();
    rows_ = table_.isOpen() ? table_.recordCount() : 0;
    mapFields();
    endResetModel();
}

void RecordModel::columnsChanged()
{
    if (!columns_ || columns_->empty())
        return;
    emit headerDataChanged(Qt::Horizontal, 0, int(columns_->size()) - 1);
    if (rows_ > 0)
        emit dataChanged(index(0, 0), index(rows_ - 1, int(columns_->size()) - 1),
                         {Qt::BackgroundRole, Qt::FontRole, Qt::TextAlignmentRole});
}

int RecordModel::fieldOf(int column) const
{
    return column >= 0 && size_t(column) < fieldIndex_.size() ? fieldIndex_[size_t(column)] : -1;
}

int RecordModel::fieldWidth(int column) const
{
    const int fi = fieldOf(column);
    return fi >= 0 && table_.isOpen() ? table_.fields()[size_t(fi)].width : 0;
}

bool RecordModel::isNumeric(int column) const
{
    return column >= 0 && size_t(column) < fieldType_.size() && fieldType_[size_t(column)] == 'N';
}

int RecordModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows_;
}

int RecordModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() || !columns_ ? 0 : int(columns_->size());
}

QString RecordModel::directionArrows(const QString& stored)
{
    QString out = stored;
    for (QChar& ch : out) {
        switch (ch.unicode()) {
        case 0x0431: ch = QChar(0x2191); break;  // б: up
        case 0x0434: ch = QChar(0x2197); break;  // д: up and right
        case 0x0430: ch = QChar(0x2192); break;  // а: right
        case 0x0436: ch = QChar(0x2198); break;  // ж: down and right
        case 0x0432: ch = QChar(0x2193); break;  // в: down
        default: break;
        }
    }
    return out;
}

namespace {

// The number's plain text: shortest digits that read back as the same value,
// never in exponent form, decimal comma.
QString plainNumber(double value)
{
    return appLocale().toString(value, 'f', QLocale::FloatingPointShortest);
}

int formatDecimals(const QString& format)
{
    const auto point = format.indexOf(u'.');
    return point < 0 ? 0 : int(format.size() - point - 1);
}

}  // namespace

QString RecordModel::displayText(const GridColumn& c, const QString& stored, bool isNumeric, double value, bool isNull)
{
    if (isNumeric) {
        if (isNull)
            return {};
        if (!c.displayFormat.isEmpty())
            return appLocale().toString(value, 'f', formatDecimals(c.displayFormat));
        return plainNumber(value);
    }
    return c.symbolFont ? directionArrows(stored) : stored;
}

QVariant RecordModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || !columns_ || index.column() >= int(columns_->size()) || index.row() >= rows_)
        return {};
    const GridColumn& c = (*columns_)[size_t(index.column())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: {
        const int fi = fieldOf(index.column());
        if (fi < 0 || !table_.isOpen())
            return {};
        try {
            const uint32_t rec = table_.physicalRecNoAt(index.row());
            if (fieldType_[size_t(index.column())] == 'N') {
                const bool null = table_.isNullAt(rec, fi);
                const double v = null ? 0.0 : table_.floatAt(rec, fi);
                if (role == Qt::EditRole)
                    return null ? QString() : plainNumber(v);
                return displayText(c, {}, true, v, null);
            }
            const QString s = table_.stringAt(rec, fi);
            return role == Qt::EditRole ? s : displayText(c, s, false, 0.0, false);
        } catch (const dbf::Error&) {
            return {};
        }
    }
    case Qt::TextAlignmentRole:
        return int((c.alignment & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter);
    case Qt::BackgroundRole:
        if (c.color)
            return QBrush(*c.color);
        return {};
    case Qt::FontRole:
        if (c.font)
            return *c.font;
        return {};
    default:
        return {};
    }
}

QVariant RecordModel::headerData(int section, Qt::Orientation o, int role) const
{
    if (o != Qt::Horizontal || !columns_ || section < 0 || section >= int(columns_->size()))
        return {};
    if (role == Qt::DisplayRole)
        return (*columns_)[size_t(section)].title;
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter) | int(Qt::TextWordWrap);
    return {};
}

Qt::ItemFlags RecordModel::flags(const QModelIndex& index) const
{
    if (!index.isValid() || !columns_ || index.column() >= int(columns_->size()))
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    if (!(*columns_)[size_t(index.column())].readOnly && fieldOf(index.column()) >= 0)
        f |= Qt::ItemIsEditable;
    return f;
}

bool RecordModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || !columns_ || index.row() >= rows_ ||
        index.column() >= int(columns_->size()) || !table_.isOpen())
        return false;
    const GridColumn& c = (*columns_)[size_t(index.column())];
    const int fi = fieldOf(index.column());
    if (c.readOnly || fi < 0)
        return false;
    const bool numeric = fieldType_[size_t(index.column())] == 'N';
    const QString text = numeric ? value.toString().trimmed() : value.toString();
    if (!c.pickList.isEmpty() && !c.pickList.contains(text))
        return false;

    double number = 0.0;
    if (numeric && !text.isEmpty()) {
        bool ok = false;
        number = appLocale().toDouble(text, &ok);
        if (!ok)
            number = QLocale::c().toDouble(text, &ok);
        if (!ok || !std::isfinite(number))
            return false;
    }
    if (text == data(index, Qt::EditRole).toString())
        return true;  // nothing changed: nothing to post

    try {
        table_.moveTo(index.row());
        table_.edit();
        if (!numeric)
            table_.setString(fi, text);
        else if (text.isEmpty())
            table_.setNull(fi);
        else
            table_.setFloat(fi, number);
        table_.post();
    } catch (const dbf::Error& e) {
        if (table_.editing())
            table_.cancel();
        ui::showError(qobject_cast<QWidget*>(QObject::parent()), e.text());
        return false;
    }
    emit dataChanged(this->index(index.row(), 0), this->index(index.row(), int(columns_->size()) - 1));
    emit edited(c.field);
    return true;
}

// ---------------------------------------------------------------------------
// Drawing helpers of the grid

namespace {

// Silver grid lines whatever the platform style draws.
class GridStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* ret) const override
    {
        if (hint == SH_Table_GridLineColor)
            return int(QColor(Qt::lightGray).rgba());  // silver, #c0c0c0
        return QProxyStyle::styleHint(hint, option, widget, ret);
    }
};

}  // namespace

// Column titles: centred, two lines, with the sort indicator drawn as a
// small triangle at the right edge.
class RecordHeader : public QHeaderView {
public:
    explicit RecordHeader(RecordGrid* grid) : QHeaderView(Qt::Horizontal, grid), grid_(grid)
    {
        setSectionsClickable(true);
        setSectionsMovable(false);
        setHighlightSections(false);
        setSortIndicatorShown(false);
        setDefaultAlignment(Qt::Alignment(int(Qt::AlignCenter) | int(Qt::TextWordWrap)));
        setMinimumSectionSize(1);
        setSectionResizeMode(QHeaderView::Interactive);
        setStretchLastSection(false);
        connect(this, &QHeaderView::sectionClicked, grid, [this](int logical) { grid_->onHeaderClicked(logical); });
    }

    Qt::KeyboardModifiers clickModifiers() const { return modifiers_; }

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logical) const override
    {
        // The base class leaves the painter clipped to nothing: draw it on a
        // saved state and clip the indicator to the section ourselves.
        painter->save();
        QHeaderView::paintSection(painter, rect, logical);
        painter->restore();
        const auto& cols = grid_->columns();
        if (logical < 0 || size_t(logical) >= cols.size() || cols[size_t(logical)].sort == SortIndicator::None)
            return;
        const int side = 7;
        const int x = rect.right() - side - 3;
        const int y = rect.center().y() - side / 2;
        if (x < rect.left())
            return;
        QPolygon tri;
        if (cols[size_t(logical)].sort == SortIndicator::Up)
            tri << QPoint(x, y + side - 2) << QPoint(x + side, y + side - 2) << QPoint(x + side / 2, y);
        else
            tri << QPoint(x, y) << QPoint(x + side, y) << QPoint(x + side / 2, y + side - 2);
        painter->save();
        painter->setClipRect(rect);
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(palette().color(QPalette::WindowText));
        painter->drawPolygon(tri);
        painter->restore();
    }

    void mousePressEvent(QMouseEvent* e) override
    {
        modifiers_ = e->modifiers();
        QHeaderView::mousePressEvent(e);
    }

    void mouseReleaseEvent(QMouseEvent* e) override
    {
        modifiers_ = e->modifiers();
        QHeaderView::mouseReleaseEvent(e);
        grid_->userResizeFinished();
    }

private:
    RecordGrid* grid_;
    Qt::KeyboardModifiers modifiers_;
};

// Editors: a closed list for pick-list columns, a line for the others (a
// number line accepts digits, a sign and one decimal separator).
class RecordDelegate : public QStyledItemDelegate {
public:
    explicit RecordDelegate(RecordGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const override
    {
        const auto& cols = grid_->columns();
        if (index.column() < 0 || size_t(index.column()) >= cols.size())
            return nullptr;
        const GridColumn& c = cols[size_t(index.column())];
        QWidget* editor = nullptr;
        if (!c.pickList.isEmpty()) {
            auto* box = new QComboBox(parent);
            box->setEditable(false);
            box->addItems(c.pickList);
            editor = box;
        } else {
            auto* line = new QLineEdit(parent);
            line->setFrame(false);
            const QVariant stored = index.data(Qt::EditRole);
            const int width = grid_->model_->fieldWidth(index.column());
            if (isNumberColumn(index)) {
                static const QRegularExpression number(QStringLiteral("^[-+]?\\d{0,12}([.,]\\d{0,9})?$"));
                line->setValidator(new QRegularExpressionValidator(number, line));
            } else if (width > 0) {
                line->setMaxLength(width);
            }
            editor = line;
        }
        grid_->editor_ = editor;
        emit grid_->editStarted(index.column());
        return editor;
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override
    {
        const QString value = index.data(Qt::EditRole).toString();
        if (auto* box = qobject_cast<QComboBox*>(editor))
            box->setCurrentIndex(box->findText(value));
        else if (auto* line = qobject_cast<QLineEdit*>(editor))
            line->setText(value);
    }

    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override
    {
        if (auto* box = qobject_cast<QComboBox*>(editor)) {
            if (box->currentIndex() >= 0)
                model->setData(index, box->currentText(), Qt::EditRole);
        } else if (auto* line = qobject_cast<QLineEdit*>(editor)) {
            model->setData(index, line->text(), Qt::EditRole);
        }
    }

private:
    bool isNumberColumn(const QModelIndex& index) const
    {
        const auto& cols = grid_->columns();
        // Numbers are the columns with a number format or a numeric field.
        return !cols[size_t(index.column())].displayFormat.isEmpty() || grid_->model_->isNumeric(index.column());
    }

    RecordGrid* grid_;
};

// ---------------------------------------------------------------------------
// RecordGrid

RecordGrid::RecordGrid(dbf::Table& table, QWidget* parent)
    : QTableView(parent), table_(table), model_(new RecordModel(table, this))
{
    auto* style = new GridStyle;
    style->setParent(this);
    setStyle(style);

    setHorizontalHeader(new RecordHeader(this));
    setModel(model_);
    model_->setColumns(&columns_);
    setItemDelegate(new RecordDelegate(this));

    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed);
    setTabKeyNavigation(true);
    setSortingEnabled(false);
    setShowGrid(true);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);

    horizontalHeader()->setMinimumHeight(2 * fontMetrics().lineSpacing() + 8);
    connect(horizontalHeader(), &QHeaderView::sectionResized, this, &RecordGrid::onSectionResized);
}

void RecordGrid::setColumns(std::vector<GridColumn> cols)
{
    commitPendingEdit();
    columns_ = std::move(cols);
    currentColumn_ = -1;
    applying_ = true;
    model_->setColumns(&columns_);
    applying_ = false;
    applyColumns();
}

int RecordGrid::columnOf(const QString& field) const
{
    for (size_t i = 0; i < columns_.size(); ++i)
        if (columns_[i].field.compare(field, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

void RecordGrid::reload()
{
    if (state() == QAbstractItemView::EditingState)
        commitPendingEdit();
    applying_ = true;
    model_->reload();
    applying_ = false;
    applyColumns();

    // A reload (new file, filter, order or deleted rows) leaves nothing
    // selected: rows of the old view are not the user's choice in the new.
    clearSelection();
    // The current row is the table's current record.
    const int rows = model_->rowCount();
    if (rows > 0 && table_.isOpen()) {
        int row = table_.recNo();
        if (row < 0 || row >= rows)
            row = 0;
        int col = currentColumn_;
        if (col < 0 || size_t(col) >= columns_.size() || !columns_[size_t(col)].visible) {
            col = -1;
            for (size_t i = 0; i < columns_.size() && col < 0; ++i)
                if (columns_[i].visible)
                    col = int(i);
        }
        if (col >= 0) {
            followTable_ = true;
            setCurrentIndex(model_->index(row, col));
            followTable_ = false;
        }
    }
}

void RecordGrid::applyColumns()
{
    const bool was = applying_;
    applying_ = true;
    for (size_t i = 0; i < columns_.size(); ++i)
        setColumnHidden(int(i), !columns_[i].visible);
    if (fit_) {
        stretchColumns();
    } else {
        for (size_t i = 0; i < columns_.size(); ++i)
            if (columns_[i].visible)
                setColumnWidth(int(i), std::max(0, columns_[i].width));
    }
    applying_ = was;
    model_->columnsChanged();
    horizontalHeader()->viewport()->update();
    viewport()->update();
}

void RecordGrid::setFitToWidth(bool on)
{
    fit_ = on;
    applyColumns();
}

void RecordGrid::stretchColumns()
{
    std::vector<int> shown;
    long long total = 0;
    for (size_t i = 0; i < columns_.size(); ++i) {
        if (!columns_[i].visible)
            continue;
        shown.push_back(int(i));
        total += std::max(0, columns_[i].width);
    }
    if (shown.empty())
        return;
    // The width the columns share: the grid less its frame and the vertical
    // scroll bar, which is always there (known also before the grid is shown).
    const int avail = std::max(int(shown.size()), maximumViewportSize().width());

    const bool was = applying_;
    applying_ = true;
    long long cum = 0;
    int pos = 0;
    for (size_t k = 0; k < shown.size(); ++k) {
        const GridColumn& c = columns_[size_t(shown[k])];
        cum += total > 0 ? std::max(0, c.width) : 1;
        const long long all = total > 0 ? total : (long long)shown.size();
        const int next = int((cum * avail + all / 2) / all);
        setColumnWidth(shown[k], std::max(1, next - pos));
        pos = next;
    }
    applying_ = was;
}

void RecordGrid::onSectionResized(int logical, int, int newSize)
{
    if (applying_ || logical < 0 || size_t(logical) >= columns_.size())
        return;
    // The user drags a title border: the shown widths become the columns'
    // widths; with fit-to-width on, they are stretched again on release.
    columns_[size_t(logical)].width = newSize;
    for (size_t i = 0; i < columns_.size(); ++i)
        if (columns_[i].visible)
            columns_[i].width = columnWidth(int(i));
    userResizing_ = true;
}

void RecordGrid::userResizeFinished()
{
    if (!userResizing_)
        return;
    userResizing_ = false;
    if (fit_)
        stretchColumns();
}

void RecordGrid::resizeEvent(QResizeEvent* e)
{
    QTableView::resizeEvent(e);
    if (fit_)
        stretchColumns();
}

QItemSelectionModel::SelectionFlags RecordGrid::selectionCommand(const QModelIndex& index,
                                                                 const QEvent* event) const
{
    // Moving the current row from the program selects nothing.
    if (!event)
        return QItemSelectionModel::NoUpdate;
    // Plain keyboard moves carry the current row and drop any selection;
    // with Shift they select a range, with Ctrl they only move.
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        const Qt::KeyboardModifiers mods = key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier);
        if (mods == Qt::NoModifier) {
            switch (key->key()) {
            case Qt::Key_Up: case Qt::Key_Down: case Qt::Key_Left: case Qt::Key_Right:
            case Qt::Key_PageUp: case Qt::Key_PageDown: case Qt::Key_Home: case Qt::Key_End:
            case Qt::Key_Tab: case Qt::Key_Backtab:
                return QItemSelectionModel::Clear;
            default:
                break;
            }
        }
    }
    return QTableView::selectionCommand(index, event);
}

void RecordGrid::paintEvent(QPaintEvent* e)
{
    QTableView::paintEvent(e);
    // The current row, selected or not, wears a dotted frame across the
    // shown columns.
    const QModelIndex cur = currentIndex();
    if (!cur.isValid())
        return;
    const int y = rowViewportPosition(cur.row());
    const int h = rowHeight(cur.row());
    if (y + h < 0 || y > viewport()->height())
        return;
    QPainter p(viewport());
    QPen pen(palette().color(QPalette::Text));
    pen.setStyle(Qt::DotLine);
    p.setPen(pen);
    const int right = std::min(viewport()->width(), horizontalHeader()->length() - horizontalOffset());
    p.drawRect(QRect(0, y, std::max(1, right) - 1, h - 1));
}

void RecordGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTableView::currentChanged(current, previous);
    viewport()->update();
    if (!current.isValid())
        return;
    currentColumn_ = current.column();
    // The grid's current row is the table's current record.
    if (followTable_ || !table_.isOpen() || table_.editing() || current.row() == previous.row())
        return;
    try {
        table_.moveTo(current.row());
    } catch (const dbf::Error&) {
    }
}

QList<int> RecordGrid::selectedRows() const
{
    QList<int> rows;
    if (!selectionModel())
        return rows;
    for (const QItemSelectionRange& r : selectionModel()->selection())
        for (int row = r.top(); row <= r.bottom(); ++row)
            rows << row;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

int RecordGrid::currentColumnIndex() const
{
    const QModelIndex i = currentIndex();
    if (i.isValid())
        return i.column();
    return currentColumn_ >= 0 && size_t(currentColumn_) < columns_.size() ? currentColumn_ : -1;
}

void RecordGrid::setCurrentColumn(int column)
{
    if (column < 0 || size_t(column) >= columns_.size())
        return;
    currentColumn_ = column;
    const QModelIndex i = currentIndex();
    if (i.isValid() && i.column() != column)
        selectionModel()->setCurrentIndex(model_->index(i.row(), column), QItemSelectionModel::NoUpdate);
}

void RecordGrid::commitPendingEdit()
{
    if (editor_ && state() == QAbstractItemView::EditingState) {
        QWidget* e = editor_;
        commitData(e);
        closeEditor(e, QAbstractItemDelegate::NoHint);
    }
}

void RecordGrid::onHeaderClicked(int logical)
{
    auto* header = static_cast<RecordHeader*>(horizontalHeader());
    titleClick(logical, header->clickModifiers());
}

void RecordGrid::titleClick(int column, Qt::KeyboardModifiers modifiers)
{
    if (column < 0 || size_t(column) >= columns_.size())
        return;
    GridColumn& c = columns_[size_t(column)];
    SortIndicator next;
    if (modifiers & Qt::ControlModifier)
        next = SortIndicator::None;
    else
        next = c.sort == SortIndicator::Up ? SortIndicator::Down : SortIndicator::Up;
    for (size_t i = 0; i < columns_.size(); ++i) {
        if (int(i) == column)
            continue;
        columns_[i].sort = SortIndicator::None;
        columns_[i].sortOrder = 0;
    }
    c.sort = next;
    if (next == SortIndicator::None)
        c.sortOrder = 0;
    else if (c.sortOrder == 0)
        c.sortOrder = 1;  // one sorted column at a time: always the first
    horizontalHeader()->viewport()->update();
    emit titleStateChanged(column);
}

namespace {

layout::HAlign toHAlign(Qt::Alignment a)
{
    if (a & Qt::AlignHCenter)
        return layout::HAlign::Center;
    if (a & Qt::AlignRight)
        return layout::HAlign::Right;
    return layout::HAlign::Left;
}

Qt::Alignment fromHAlign(layout::HAlign a)
{
    switch (a) {
    case layout::HAlign::Center: return Qt::AlignHCenter;
    case layout::HAlign::Right: return Qt::AlignRight;
    case layout::HAlign::Left: break;
    }
    return Qt::AlignLeft;
}

}  // namespace

std::vector<layout::ColumnLayout> RecordGrid::layout() const
{
    std::vector<layout::ColumnLayout> out;
    out.reserve(columns_.size());
    for (const GridColumn& c : columns_) {
        layout::ColumnLayout l;
        l.field = c.field;
        l.width = c.width;
        l.sort = c.sort;
        l.sortOrder = c.sortOrder;
        if (c.color)
            l.color = c.color->rgba();
        l.alignment = toHAlign(c.alignment);
        if (c.font)
            l.font = c.font->toString();
        out.push_back(std::move(l));
    }
    return out;
}

bool RecordGrid::applyLayout(const std::vector<layout::ColumnLayout>& cols, QString* error)
{
    // Check first, so that a bad entry leaves the grid as it was.
    std::vector<std::optional<QFont>> fonts(cols.size());
    for (size_t k = 0; k < cols.size(); ++k) {
        if (!cols[k].font || columnOf(cols[k].field) < 0)
            continue;
        QFont f;
        if (!f.fromString(*cols[k].font)) {
            if (error)
                *error = QStringLiteral("столбец %1: недопустимый шрифт «%2»").arg(cols[k].field, *cols[k].font);
            return false;
        }
        fonts[k] = f;
    }
    for (size_t k = 0; k < cols.size(); ++k) {
        const int i = columnOf(cols[k].field);
        if (i < 0)
            continue;
        GridColumn& c = columns_[size_t(i)];
        const layout::ColumnLayout& l = cols[k];
        c.width = l.width;
        c.sort = l.sort;
        c.sortOrder = l.sortOrder;
        c.color = l.color ? std::optional<QColor>(QColor::fromRgba(*l.color)) : std::nullopt;
        c.alignment = fromHAlign(l.alignment);
        c.font = fonts[k];
    }
    applyColumns();
    return true;
}

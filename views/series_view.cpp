// The parts the waiting and observation series views share: header strip,
// list, note box and slider, the picker, and the note store.

#include "views/series_view.h"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QTextCursor>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <optional>
#include <qcustomplot.h>

#include "ground/dialogs.h"
#include "series/series_logic.h"
#include "store/dbf.h"
#include "views/string_grid.h"

namespace {

const char* const NoPointsText = "Серия не содержит точек";

QLabel* headerLabel(const QString& text, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    return l;
}

QLabel* headerText(const char* name, int minWidth, QWidget* parent)
{
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setFrameShape(QFrame::StyledPanel);
    l->setFrameShadow(QFrame::Sunken);
    l->setMinimumWidth(minWidth);
    l->setMargin(2);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
}

// The lists keep the column proportions of the original layout (105 : 65
// and 35 : 65 pixels, meant for a smaller screen font) but are sized to
// their texts at the window's own font: every column holds its widest text
// without eliding it, the rows are as high as the font needs, and the list is
// as wide as its columns, frame and vertical scroll bar, so nothing scrolls
// sideways.  Returns the list's width.
int sizeListToTexts(StringGrid* grid, const std::array<int, 2>& baseWidths,
                    const std::array<QStringList, 2>& widestTexts)
{
    const QFontMetrics fm(grid->font());
    // What the cell painter leaves around a text: its margins and the grid line.
    const int margin = grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid) + 1;
    const int padding = 2 * margin + 3;
    double scale = 1.0;
    for (size_t c = 0; c < 2; ++c)
        for (const QString& text : widestTexts[c])
            scale = std::max(scale, double(fm.horizontalAdvance(text) + padding) / baseWidths[c]);
    int width = 2 * grid->frameWidth() + grid->verticalScrollBar()->sizeHint().width();
    for (size_t c = 0; c < 2; ++c) {
        const int w = int(std::ceil(baseWidths[c] * scale));
        grid->setColWidth(int(c), w);
        width += w;
    }
    grid->setFixedWidth(width);
    grid->setDefaultRowHeight(std::max(16, fm.height() + 2));
    return width;
}

// Widest text of the deflection column: a deflection with its sign.
const QString WidestValue = QStringLiteral("-000,000");

QFont readoutFont(const QFont& base)
{
    QFont f = base;
    f.setPointSize(14);
    f.setBold(true);
    return f;
}

// A note box takes at most NoteMaxLength characters: what goes beyond is
// dropped from the text just typed or pasted (before the cursor).  True when
// something was cut; the cut itself changes the text once more.
bool cutNoteToLength(QPlainTextEdit* memo)
{
    const int length = memo->document()->characterCount() - 1;
    const int excess = length - series::NoteMaxLength;
    if (excess <= 0)
        return false;
    const int cursorAt = memo->textCursor().position();
    const int from = cursorAt >= excess ? cursorAt - excess : series::NoteMaxLength;
    QTextCursor cut(memo->document());
    cut.setPosition(from);
    cut.setPosition(from + excess, QTextCursor::KeepAnchor);
    cut.removeSelectedText();
    return true;
}

// Where a view's note goes: the series' first record in stored order.  The
// record number is kept on the note box together with what would move it
// (another file, appended, deleted or packed rows); otherwise it is looked up
// again by MODE and TYPE, whatever filter the table has at the moment.
void rememberFirstRecord(QObject* memo, const dbf::Table& t, std::optional<uint32_t> recno)
{
    memo->setProperty("firstRecord", recno ? QVariant(qulonglong(*recno)) : QVariant());
    memo->setProperty("firstRecordFile", t.fileName());
    memo->setProperty("firstRecordCount", qulonglong(t.physicalCount()));
    memo->setProperty("firstRecordDeleted", qulonglong(t.deletedCount()));
}

std::optional<uint32_t> firstRecordForNote(QObject* memo, const dbf::Table& t, int mode, int ordinal)
{
    const QVariant cached = memo->property("firstRecord");
    if (cached.isValid() && memo->property("firstRecordFile").toString() == t.fileName() &&
        memo->property("firstRecordCount").toULongLong() == t.physicalCount() &&
        memo->property("firstRecordDeleted").toULongLong() == t.deletedCount()) {
        const auto rec = uint32_t(cached.toULongLong());
        const int modeField = t.fieldIndex(u"MODE");
        const int typeField = t.fieldIndex(u"TYPE");
        if (rec < t.physicalCount() && !t.isDeletedAt(rec) && modeField >= 0 && typeField >= 0 &&
            int(t.floatAt(rec, modeField)) == mode && int(t.floatAt(rec, typeField)) == ordinal)
            return rec;
    }
    const auto found = series::firstRecordOf(t, mode, ordinal);
    rememberFirstRecord(memo, t, found);
    return found;
}

void forgetFirstRecord(QObject* memo) { memo->setProperty("firstRecord", QVariant()); }

QString errorText(const std::exception& e)
{
    if (const auto* de = dynamic_cast<const dbf::Error*>(&e))
        return de->text();
    return QString::fromLocal8Bit(e.what());
}

// Stores the note into the series' first record; the table's filter and
// current row stay as they are unless the record is outside the view, in
// which case both are put back afterwards.
void storeNoteInto(dbf::Table& t, QWidget* parent, QPlainTextEdit* memo, int mode, int ordinal)
{
    if (!memo || ordinal <= 0 || !t.isOpen())
        return;
    const QString note = memo->toPlainText();
    if (note.size() <= series::notePrefix().size())
        return;
    const int commentField = t.fieldIndex(u"COMMENT");
    if (commentField < 0)
        return;
    std::optional<uint32_t> rec;
    try {
        rec = firstRecordForNote(memo, t, mode, ordinal);
        if (!rec || !series::noteShouldBeStored(note, t.stringAt(*rec, commentField)))
            return;
        if (t.gotoPhysical(*rec)) {
            t.edit();
            t.setString(commentField, note);
            t.post();
            return;
        }
        const bool wasFiltered = t.filtered();
        const bool hadRow = t.recNo() >= 0;
        const uint32_t wasAt = hadRow ? t.physicalRecNo() : 0;
        const auto restoreView = [&] {
            t.setFiltered(wasFiltered);
            t.refresh();
            if (hadRow)
                t.gotoPhysical(wasAt);
        };
        t.setFiltered(false);
        t.refresh();
        try {
            if (t.gotoPhysical(*rec)) {
                t.edit();
                t.setString(commentField, note);
                t.post();
            }
        } catch (...) {
            // A refused note (code page, read-only file) leaves the view as it was.
            t.cancel();
            restoreView();
            throw;
        }
        restoreView();
    } catch (const std::exception& e) {
        if (t.editing())
            t.cancel();
        forgetFirstRecord(memo);
        // The box goes back to the note the file holds, so that it never
        // shows a text that was not stored.  A read-only table refuses every
        // further keystroke as well: the box stops taking them until the
        // next series is shown, instead of repeating the message.
        QString stored;
        try {
            if (rec)
                stored = t.stringAt(*rec, commentField);
        } catch (const std::exception&) {
        }
        {
            const QSignalBlocker block(memo);
            memo->setPlainText(stored.isEmpty() ? series::notePrefix() : stored);
            memo->moveCursor(QTextCursor::End);
            if (t.readOnly())
                memo->setReadOnly(true);
        }
        ui::showError(parent, errorText(e));
    }
}

}  // namespace

SeriesView::SeriesView(dbf::Table& table, int mode, FilterSetter setFilter, QWidget* parent)
    : QWidget(parent), table_(table), mode_(mode), setFilter_(std::move(setFilter))
{
}

// ---------------------------------------------------------------------------
// layout

void SeriesView::buildHeaderStrip(QVBoxLayout* outer, QComboBox*& picker, const char* pickerName,
                                  std::initializer_list<HeaderItem> items, QLabel*& readout,
                                  const char* readoutName)
{
    // The strip keeps its height and stays on top also while the list and
    // the chart are hidden (no series picked yet).
    auto* header = new QFrame(this);
    header->setFrameShape(QFrame::StyledPanel);
    auto* hl = new QHBoxLayout(header);
    hl->setContentsMargins(6, 3, 6, 3);
    hl->setSpacing(6);
    picker = new QComboBox(header);
    picker->setObjectName(QLatin1String(pickerName));
    picker->setEditable(false);
    picker->setMinimumWidth(80);
    hl->addWidget(headerLabel(QStringLiteral("№ Испытания"), header));
    hl->addWidget(picker);
    for (const HeaderItem& item : items) {
        *item.text = headerText(item.name, item.minWidth, header);
        texts_.push_back(*item.text);
        hl->addSpacing(12);
        hl->addWidget(headerLabel(item.label, header));
        hl->addWidget(*item.text);
    }
    hl->addStretch(1);
    readout = new QLabel(header);
    readout->setObjectName(QLatin1String(readoutName));
    readout->setFont(readoutFont(readout->font()));
    readout->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    hl->addWidget(readout);
    header->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    outer->addWidget(header, 0, Qt::AlignTop);
    picker_ = picker;
    readout_ = readout;
}

StringGrid* SeriesView::makeList(QWidget* parent, const char* name, const std::array<int, 2>& baseWidths,
                                 const QString& firstWidest, const QString& firstTitle, int* width)
{
    auto* grid = new StringGrid(parent, 2);
    grid->setObjectName(QLatin1String(name));
    const int w = sizeListToTexts(grid, baseWidths,
                                  {QStringList{firstWidest, firstTitle}, QStringList{WidestValue, QStringLiteral("Прогиб")}});
    if (width)
        *width = w;
    list_ = grid;
    return grid;
}

QPlainTextEdit* SeriesView::makeNoteBox(const char* name)
{
    memo_ = new QPlainTextEdit(this);
    memo_->setObjectName(QLatin1String(name));
    memo_->setFixedHeight(40);
    memo_->setPlainText(series::notePrefix());
    return memo_;
}

QSlider* SeriesView::makeSlider(const char* name)
{
    slider_ = new QSlider(Qt::Horizontal, this);
    slider_->setObjectName(QLatin1String(name));
    slider_->setFixedHeight(34);
    slider_->setTickPosition(QSlider::TicksBelow);
    slider_->setRange(0, 0);
    return slider_;
}

void SeriesView::connectControls(std::function<void()> picked, std::function<void()> moved,
                                 std::function<void()> noted)
{
    connect(picker_, &QComboBox::activated, this, [picked] { picked(); });
    connect(slider_, &QSlider::valueChanged, this, [this, moved] {
        if (!updating_)
            moved();
    });
    connect(memo_, &QPlainTextEdit::textChanged, this, [this, noted] {
        if (updating_ || cutNoteToLength(memo_))
            return;
        noted();
    });
    list_->hide();
    chart_->hide();
    memo_->hide();
    slider_->hide();
}

// ---------------------------------------------------------------------------
// picker

void SeriesView::fillPicker()
{
    if (!table_.isOpen())
        return;
    const QStringList ordinals = series::seriesOrdinalTexts(table_, mode_);
    const QSignalBlocker block(picker_);
    const bool wasEmpty = picker_->count() == 0;
    picker_->addItems(ordinals);
    // A freshly filled picker shows no series until the user picks one.
    if (wasEmpty)
        picker_->setCurrentIndex(-1);
}

void SeriesView::addSeries(const QString& number) { picker_->addItem(number); }

int SeriesView::listedSeries() const { return picker_->count(); }

QString SeriesView::pickedSeries() const { return picker_->currentText(); }

void SeriesView::selectNoneIf(bool wasEmpty)
{
    if (wasEmpty)
        picker_->setCurrentIndex(-1);
}

bool SeriesView::pickedOrdinal(int& ordinal) const
{
    if (!table_.isOpen())
        return false;
    bool isNumber = false;
    ordinal = picker_->currentText().trimmed().toInt(&isNumber);
    return isNumber;
}

void SeriesView::firstRow() { table_.first(); }

// ---------------------------------------------------------------------------
// texts and notes

void SeriesView::rememberNoteRecord(bool hasPoints, uint32_t firstRecord)
{
    rememberFirstRecord(memo_, table_, hasPoints ? std::optional<uint32_t>(firstRecord) : std::nullopt);
}

void SeriesView::showNote(const QString& comment, bool hasPoints)
{
    memo_->clear();
    memo_->setPlainText(comment.isEmpty() ? series::notePrefix() : comment);
    memo_->moveCursor(QTextCursor::End);
    memo_->setEnabled(hasPoints);
    memo_->setReadOnly(false);
}

void SeriesView::setReadout(const QString& text)
{
    readout_->setText(text);
    readout_->setFont(readoutFont(readout_->font()));
}

void SeriesView::showNoPoints()
{
    readout_->setFont(readoutFont(readout_->font()));
    readout_->setText(QString::fromUtf8(NoPointsText));
}

void SeriesView::storeNote() { storeNoteInto(table_, this, memo_, mode_, shownSeries); }

void SeriesView::reportError(const std::exception& e) { ui::showError(this, errorText(e)); }

// ---------------------------------------------------------------------------

void SeriesView::clear()
{
    const QScopedValueRollback<bool> quiet(updating_, true);
    shownSeries = 0;
    {
        const QSignalBlocker block(picker_);
        picker_->clear();
    }
    for (int i = 0; i < chart_->plottableCount(); ++i) {
        if (auto* g = qobject_cast<QCPGraph*>(chart_->plottable(i)))
            g->data()->clear();
        else if (auto* b = qobject_cast<QCPBars*>(chart_->plottable(i)))
            b->data()->clear();
    }
    clearTexts();
    list_->clearCells();
    list_->hide();
    chart_->hide();
    forgetFirstRecord(memo_);
    memo_->setPlainText(series::notePrefix());
    memo_->setReadOnly(false);
    const QSignalBlocker block(slider_);
    slider_->setRange(0, 0);
}

void SeriesView::hideSeries()
{
    for (QWidget* w : std::initializer_list<QWidget*>{list_, slider_, memo_})
        w->hide();
}

void SeriesView::clearTexts()
{
    for (QLabel* l : texts_)
        l->clear();
    readout_->clear();
}

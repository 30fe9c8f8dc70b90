// The waiting and observation series views of the main window: picker,
// header strip, two-column list, chart, note box and cursor slider.  The
// table work (reading a series, number and date texts) lives in
// series_logic.cpp; this file puts the results on screen.

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QStyle>
#include <QSignalBlocker>
#include <QSlider>
#include <QTextCursor>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <qcustomplot.h>

#include "ground/app_locale.h"
#include "ground/dialogs.h"
#include "mainwindow/main_window.h"
#include "series/series_logic.h"
#include "views/string_grid.h"

namespace {

const char* const NoPointsText = "Серия не содержит точек";

// Below this many bars the chart is drawn antialiased; above it every bar is
// thinner than a pixel anyway and plain drawing keeps a redraw fast.
constexpr int AntialiasedBarLimit = 2000;
// Slider ticks are drawn only while they stay a few pixels apart.
constexpr int TickMarkLimit = 200;

// Bars narrower than this many pixels are drawn without their outline.
constexpr double MinOutlinedBarPixels = 4.0;
// Colour of bars drawn as strokes: light enough that the threshold and zero
// lines and the cursor stay readable over a dense series.
const QColor ThinBarColour(150, 150, 150);

// Bars of a waiting series.  While every bar gets a few pixels they are drawn
// as outlined bars.  Thinner bars would be all outline, and a long series a
// solid black mass: then each pixel column gets one grey stroke from zero to
// the highest and the lowest bar in it, which also keeps a redraw of 150,000
// bars in milliseconds.
class WaitingBars : public QCPBars {
public:
    using QCPBars::QCPBars;

protected:
    void draw(QCPPainter* painter) override
    {
        QCPAxis* keys = keyAxis();
        QCPAxis* values = valueAxis();
        if (!keys || !values || data()->isEmpty()) {
            QCPBars::draw(painter);
            return;
        }
        const auto begin = data()->findBegin(keys->range().lower);
        const auto end = data()->findEnd(keys->range().upper);
        const double columns = std::abs(keys->coordToPixel(keys->range().upper) - keys->coordToPixel(keys->range().lower));
        const double barPixels =
            std::abs(keys->coordToPixel(keys->range().lower + width()) - keys->coordToPixel(keys->range().lower));
        if (double(end - begin) * 3 <= columns && barPixels >= MinOutlinedBarPixels) {
            QCPBars::draw(painter);
            return;
        }
        painter->setAntialiasing(false);
        painter->setPen(QPen(ThinBarColour, 1));
        painter->setBrush(Qt::NoBrush);
        const double zero = values->coordToPixel(0);
        int column = 0;
        double top = zero, bottom = zero;
        bool open = false;
        auto flush = [&] {
            if (open)
                painter->drawLine(QLineF(column, top, column, bottom));
        };
        for (auto it = begin; it != end; ++it) {
            const int x = int(std::lround(keys->coordToPixel(it->key)));
            const double y = values->coordToPixel(it->value);
            if (!open || x != column) {
                flush();
                column = x;
                top = bottom = zero;
                open = true;
            }
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
        flush();
    }
};

// A line series drawn segment by segment on every painter.  The chart's own
// fast-polyline drawing is left out when it draws into a picture, an SVG or a
// printer, and stroking one wide polyline over thousands of points there takes
// seconds; separate segments look the same and take milliseconds.
class SegmentGraph : public QCPGraph {
public:
    using QCPGraph::QCPGraph;

protected:
    void drawLinePlot(QCPPainter* painter, const QVector<QPointF>& lines) const override
    {
        if (painter->pen().style() != Qt::SolidLine || lines.size() < 2) {
            QCPGraph::drawLinePlot(painter, lines);
            return;
        }
        if (painter->pen().color().alpha() == 0)
            return;
        applyDefaultAntialiasingHint(painter);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QPointF& a = lines[i - 1];
            const QPointF& b = lines[i];
            if (!qIsNaN(a.y()) && !qIsNaN(b.y()) && !qIsNaN(a.x()) && !qIsNaN(b.x()))
                painter->drawLine(QLineF(a, b));
        }
    }
};

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

// Widest texts of the lists: a point time, an interval number of the largest
// series (150,000 points), the titles and a deflection with its sign.
const QString WidestValue = QStringLiteral("-000,000");
const QString WidestTime = QStringLiteral("00.00.0000 00:00:00");
const QString WidestInterval = QStringLiteral("000000");

QFont readoutFont(const QFont& base)
{
    QFont f = base;
    f.setPointSize(14);
    f.setBold(true);
    return f;
}

struct HeaderItem {
    QString label;
    const char* name;  // object name of the value text
    int minWidth;
    QLabel** text;
};

// The header strip of a series view: the picker after "№ Испытания", the
// label and value of each item, and the cursor readout at the right end.  It
// keeps its height and stays on top also while the list and the chart are
// hidden (no series picked yet).
void buildHeaderStrip(QWidget* sheet, QVBoxLayout* outer, QComboBox*& picker, const char* pickerName,
                      std::initializer_list<HeaderItem> items, QLabel*& readout, const char* readoutName)
{
    auto* header = new QFrame(sheet);
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
}

void setupChart(QCustomPlot* chart, const QString& xTitle, const QString& yTitle)
{
    chart->setBackground(Qt::white);
    chart->setLocale(appLocale());
    chart->legend->setVisible(false);
    chart->setInteractions(QCP::Interactions());
    // Solid lines drawn segment by segment: a wide polyline over thousands of
    // points would cost the raster engine seconds per redraw.
    chart->setPlottingHint(QCP::phFastPolylines, true);
    chart->axisRect()->setBackground(Qt::white);
    // Room on the right and at the top so that the outermost tick labels
    // (two lines on the time axis) are never cut by the widget's edge.
    chart->axisRect()->setMinimumMargins(QMargins(8, 14, 40, 6));
    QFont titleFont = chart->font();
    titleFont.setBold(true);
    for (QCPAxis* a : {chart->xAxis, chart->yAxis}) {
        a->setLabelFont(titleFont);
        a->setBasePen(QPen(Qt::black));
        a->setTickPen(QPen(Qt::black));
        a->setSubTickPen(QPen(Qt::black));
        a->grid()->setPen(QPen(QColor(210, 210, 210), 0, Qt::DotLine));
        a->grid()->setZeroLinePen(Qt::NoPen);
    }
    chart->xAxis->setLabel(xTitle);
    chart->yAxis->setLabel(yTitle);
}

QCPGraph* lineSeries(QCustomPlot* chart, const char* name, const QPen& pen, bool markers)
{
    QCPGraph* g = new SegmentGraph(chart->xAxis, chart->yAxis);
    g->setName(QLatin1String(name));
    g->setPen(pen);
    g->setLineStyle(QCPGraph::lsLine);
    if (markers)
        g->setScatterStyle(
            QCPScatterStyle(QCPScatterStyle::ssSquare, QPen(QColor(0, 80, 0), 2), QBrush(QColor(0, 220, 0)), 12));
    else
        g->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
    return g;
}

QPen cursorPen() { return QPen(QColor(0, 160, 0), 2); }

// The cursor is drawn on a buffered layer of its own, so that moving it
// redraws one point and not the whole series.
void putOnCursorLayer(QCustomPlot* chart, QCPGraph* cursor)
{
    const QString name = QStringLiteral("cursor");
    if (!chart->layer(name)) {
        chart->addLayer(name, chart->layer(QStringLiteral("main")), QCustomPlot::limAbove);
        chart->layer(name)->setMode(QCPLayer::lmBuffered);
    }
    cursor->setLayer(name);
}

void replotCursor(QCustomPlot* chart, QCPGraph* cursor)
{
    if (QCPLayer* layer = cursor->layer(); layer && layer->mode() == QCPLayer::lmBuffered)
        layer->replot();
    else
        chart->replot(QCustomPlot::rpQueuedReplot);
}
QPen thresholdPen() { return QPen(Qt::red, 3, Qt::DashDotLine); }

void setTimeAxisFormat(QCustomPlot* chart)
{
    auto ticker = qSharedPointerDynamicCast<QCPAxisTickerDateTime>(chart->xAxis->ticker());
    if (!ticker) {
        ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
        chart->xAxis->setTicker(ticker);
    }
    // Time over date; keys are UTC seconds, so the labels read as stored.
    ticker->setDateTimeFormat(QStringLiteral("hh:mm:ss\ndd.MM.yy"));
    ticker->setDateTimeSpec(Qt::UTC);
    ticker->setTickCount(6);
}

void showTicks(QSlider* slider)
{
    const int span = slider->maximum() - slider->minimum();
    const int step = qMax(1, slider->tickInterval());
    slider->setTickPosition(span / step <= TickMarkLimit ? QSlider::TicksBelow : QSlider::NoTicks);
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

void reportBadDates(QWidget* parent, const QStringList& bad)
{
    if (bad.isEmpty())
        return;
    QString text = QStringLiteral("Не удалось прочитать дату и время точки: \"%1\".").arg(bad.first());
    if (bad.size() > 1)
        text += QStringLiteral("\nТакже не прочитано точек: %1.").arg(bad.size() - 1);
    text += QStringLiteral("\nЭти точки не нанесены на график.");
    ui::showError(parent, text);
}

}  // namespace

// ---------------------------------------------------------------------------
// layout

void TForm1::buildWaitingSheet(QWidget* sheet)
{
    auto* outer = new QVBoxLayout(sheet);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->setSpacing(4);

    buildHeaderStrip(sheet, outer, ComboBox1, "ComboBox1",
                     {{QStringLiteral("Длительность:"), "StaticText5", 70, &StaticText5},
                      {QStringLiteral("Порог:"), "StaticText6", 60, &StaticText6},
                      {QStringLiteral("Начало:"), "StaticText7", 140, &StaticText7}},
                     Label11, "Label11");

    auto* body = new QHBoxLayout;
    body->setSpacing(4);
    StringGrid1 = new StringGrid(sheet, 2);
    StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
    sizeListToTexts(StringGrid1, {105, 65},
                    {QStringList{WidestTime, QStringLiteral("Дата")}, QStringList{WidestValue, QStringLiteral("Прогиб")}});
    body->addWidget(StringGrid1);

    auto* right = new QVBoxLayout;
    right->setSpacing(2);
    Chart1 = new QCustomPlot(sheet);
    Chart1->setObjectName(QStringLiteral("Chart1"));
    setupChart(Chart1, QStringLiteral("t, мин."), QStringLiteral("f, мм."));
    setTimeAxisFormat(Chart1);
    // Index order on the chart: bars, cursor, upper threshold, zero, lower threshold.
    Series1 = new WaitingBars(Chart1->xAxis, Chart1->yAxis);
    Series1->setName(QStringLiteral("Series1"));
    Series1->setPen(QPen(QColor(40, 40, 40)));
    Series1->setBrush(Qt::white);
    Series1->setWidthType(QCPBars::wtPlotCoords);
    Series3 = lineSeries(Chart1, "Series3", cursorPen(), true);
    putOnCursorLayer(Chart1, Series3);
    Series4 = lineSeries(Chart1, "Series4", thresholdPen(), false);
    Series5 = lineSeries(Chart1, "Series5", QPen(Qt::black, 1), false);
    Series6 = lineSeries(Chart1, "Series6", thresholdPen(), false);
    right->addWidget(Chart1, 1);

    Memo1 = new QPlainTextEdit(sheet);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setFixedHeight(40);
    Memo1->setPlainText(series::notePrefix());
    right->addWidget(Memo1);

    TrackBar2 = new QSlider(Qt::Horizontal, sheet);
    TrackBar2->setObjectName(QStringLiteral("TrackBar2"));
    TrackBar2->setFixedHeight(34);
    TrackBar2->setTickPosition(QSlider::TicksBelow);
    TrackBar2->setRange(0, 0);
    right->addWidget(TrackBar2);
    body->addLayout(right, 1);
    outer->addLayout(body, 1);

    connect(ComboBox1, &QComboBox::activated, this, [this] { ComboBox1Change(); });
    connect(TrackBar2, &QSlider::valueChanged, this, [this] {
        if (!inSeriesUpdate_)
            TrackBar2Change();
    });
    connect(Memo1, &QPlainTextEdit::textChanged, this, [this] {
        if (inSeriesUpdate_ || cutNoteToLength(Memo1))
            return;
        Memo1Change();
    });

    StringGrid1->hide();
    Chart1->hide();
    Memo1->hide();
    TrackBar2->hide();
}

void TForm1::buildObservationSheet(QWidget* sheet)
{
    auto* outer = new QVBoxLayout(sheet);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->setSpacing(4);

    buildHeaderStrip(sheet, outer, ComboBox2, "ComboBox2",
                     {{QStringLiteral("Длительность:"), "StaticText1", 70, &StaticText1},
                      {QStringLiteral("Интервал:"), "StaticText2", 60, &StaticText2},
                      {QStringLiteral("Начало:"), "StaticText3", 140, &StaticText3},
                      {QStringLiteral("Окончание:"), "StaticText4", 140, &StaticText4}},
                     Label10, "Label10");

    auto* body = new QHBoxLayout;
    body->setSpacing(4);
    Panel5 = new QWidget(sheet);
    Panel5->setObjectName(QStringLiteral("Panel5"));
    auto* panelLayout = new QVBoxLayout(Panel5);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    StringGrid2 = new StringGrid(Panel5, 2);
    StringGrid2->setObjectName(QStringLiteral("StringGrid2"));
    const int listWidth = sizeListToTexts(
        StringGrid2, {35, 65}, {QStringList{WidestInterval, QStringLiteral("№")}, QStringList{WidestValue, QStringLiteral("Прогиб")}});
    Panel5->setFixedWidth(listWidth + 10);  // the panel is 10 pixels wider than its list
    panelLayout->addWidget(StringGrid2, 1, Qt::AlignLeft);
    body->addWidget(Panel5);

    auto* right = new QVBoxLayout;
    right->setSpacing(2);
    Chart2 = new QCustomPlot(sheet);
    Chart2->setObjectName(QStringLiteral("Chart2"));
    setupChart(Chart2, QStringLiteral("№ инт"), QStringLiteral("f, мм."));
    // Interval numbers are whole numbers: no fractional ticks.
    auto ticker = QSharedPointer<QCPAxisTickerFixed>::create();
    ticker->setTickStep(1.0);
    ticker->setScaleStrategy(QCPAxisTickerFixed::ssMultiples);
    Chart2->xAxis->setTicker(ticker);
    LineSeries1 = lineSeries(Chart2, "LineSeries1", QPen(Qt::red, 2), false);
    Series2 = lineSeries(Chart2, "Series2", cursorPen(), true);
    putOnCursorLayer(Chart2, Series2);
    right->addWidget(Chart2, 1);

    Memo2 = new QPlainTextEdit(sheet);
    Memo2->setObjectName(QStringLiteral("Memo2"));
    Memo2->setFixedHeight(40);
    Memo2->setPlainText(series::notePrefix());
    right->addWidget(Memo2);

    TrackBar1 = new QSlider(Qt::Horizontal, sheet);
    TrackBar1->setObjectName(QStringLiteral("TrackBar1"));
    TrackBar1->setFixedHeight(34);
    TrackBar1->setTickPosition(QSlider::TicksBelow);
    TrackBar1->setRange(0, 0);
    right->addWidget(TrackBar1);
    body->addLayout(right, 1);
    outer->addLayout(body, 1);

    connect(ComboBox2, &QComboBox::activated, this, [this] { ComboBox2Change(); });
    connect(TrackBar1, &QSlider::valueChanged, this, [this] {
        if (!inSeriesUpdate_)
            TrackBar1Change();
    });
    connect(Memo2, &QPlainTextEdit::textChanged, this, [this] {
        if (inSeriesUpdate_ || cutNoteToLength(Memo2))
            return;
        Memo2Change();
    });

    StringGrid2->hide();
    Chart2->hide();
    Memo2->hide();
    TrackBar1->hide();
}

// ---------------------------------------------------------------------------
// pickers

void TForm1::fillSeriesPicker(QComboBox* picker, int mode)
{
    if (!picker || !Dbf1.isOpen())
        return;
    const QStringList ordinals = series::seriesOrdinalTexts(Dbf1, mode);
    const QSignalBlocker block(picker);
    const bool wasEmpty = picker->count() == 0;
    picker->addItems(ordinals);
    // A freshly filled picker shows no series until the user picks one.
    if (wasEmpty)
        picker->setCurrentIndex(-1);
}

// ---------------------------------------------------------------------------
// waiting series

void TForm1::ComboBox1Change()
{
    if (!ComboBox1 || !Dbf1.isOpen())
        return;
    bool isNumber = false;
    const int ordinal = ComboBox1->currentText().trimmed().toInt(&isNumber);
    if (!isNumber)
        return;

    series::WaitingSeries s;
    {
        const QScopedValueRollback<bool> quiet(inSeriesUpdate_, true);
        try {
            // 1. The series' records, read in stored order whatever the sort.
            setTableFilter(QStringLiteral("MODE=1 AND TYPE=%1").arg(ordinal));
            Dbf1.first();
            s = series::readWaitingSeries(Dbf1, series::viewRecordsInStoredOrder(Dbf1));
        } catch (const std::exception& e) {
            ui::showError(this, errorText(e));
            return;
        }
        waitingSeries = ordinal;
        rememberFirstRecord(Memo1, Dbf1, s.count > 0 ? std::optional<uint32_t>(s.firstRecord) : std::nullopt);

        // 2. Empty chart, time-over-date labels; list, chart, note and slider shown.
        StringGrid1->show();
        Series1->data()->clear();
        for (QCPGraph* g : {Series3, Series4, Series5, Series6})
            g->data()->clear();
        setTimeAxisFormat(Chart1);
        Chart1->show();
        Memo1->show();
        TrackBar2->show();

        // 3, 7, 8. The list: title row, then one row per record.
        StringGrid1->clearCells();
        StringGrid1->setRowCount(s.count + 1);
        StringGrid1->setColumn(0, 0, s.dates);
        StringGrid1->setColumn(1, 0, s.values);
        StringGrid1->scrollToTop();

        // 4. Header texts.
        StaticText5->setText(s.duration);
        StaticText6->setText(s.threshold);
        StaticText7->setText(s.start);

        // 5. The note of the series.
        Memo1->clear();
        Memo1->setPlainText(s.comment.isEmpty() ? series::notePrefix() : s.comment);
        Memo1->moveCursor(QTextCursor::End);
        Memo1->setEnabled(s.count > 0);
        Memo1->setReadOnly(false);

        // 6, 8. Bars, threshold and zero lines from the first to the last time.
        Series1->setData(s.keys, s.deflections);
        const bool manyBars = s.keys.size() > AntialiasedBarLimit;
        Series1->setAntialiased(!manyBars);
        Series1->setAntialiasedFill(!manyBars);
        QVector<double> sortedKeys = s.keys;  // shared unless it must be sorted
        if (!std::is_sorted(sortedKeys.cbegin(), sortedKeys.cend()))
            std::sort(sortedKeys.begin(), sortedKeys.end());
        Series1->setWidth(series::barWidth(sortedKeys));
        if (s.hasLineKeys) {
            const double thr = s.thresholdValue;
            Series4->setData({s.firstKey, s.lastKey}, {thr, thr});
            Series5->setData({s.firstKey, s.lastKey}, {0.0, 0.0});
            Series6->setData({s.firstKey, s.lastKey}, {-thr, -thr});
        }

        // Axes over the data with a little room around it.
        if (!s.keys.isEmpty()) {
            const auto [kmin, kmax] = std::minmax_element(s.keys.cbegin(), s.keys.cend());
            const double halfBar = Series1->width() / 2;
            const auto [x0, x1] = series::paddedRange(*kmin - halfBar, *kmax + halfBar, 0.03, 60.0);
            Chart1->xAxis->setRange(x0, x1);
            const auto [vmin, vmax] = std::minmax_element(s.deflections.cbegin(), s.deflections.cend());
            const double lo = std::min({*vmin, 0.0, -double(std::abs(s.thresholdValue))});
            const double hi = std::max({*vmax, 0.0, double(std::abs(s.thresholdValue))});
            const auto [y0, y1] = series::paddedRange(lo, hi, 0.08, 1.0);
            Chart1->yAxis->setRange(y0, y1);
        } else {
            const QDateTime now = QDateTime::currentDateTimeUtc();
            const double k = series::dateTimeKey(now);
            Chart1->xAxis->setRange(k - 3600, k + 3600);
            Chart1->yAxis->setRange(-1, 1);
        }

        // 8.4, 8.5, 9. The slider over the list rows.
        {
            const QSignalBlocker block(TrackBar2);
            TrackBar2->setMinimum(s.count > 0 ? 1 : 0);
            TrackBar2->setMaximum(s.count);
            TrackBar2->setTickInterval(1);
            TrackBar2->setValue(TrackBar2->minimum());
        }
        showTicks(TrackBar2);
        TrackBar2->setEnabled(s.count > 0);
    }

    if (s.count > 0) {
        TrackBar2Change();
    } else {
        Label11->setFont(readoutFont(Label11->font()));
        Label11->setText(QString::fromUtf8(NoPointsText));
    }
    Chart1->replot(QCustomPlot::rpQueuedReplot);
    TrackBar2->setFocus();
    reportBadDates(this, s.badDates);
}

void TForm1::TrackBar2Change()
{
    if (!TrackBar2 || !Series3)
        return;
    Series3->data()->clear();
    const int p = TrackBar2->value();
    if (p < 1 || p >= StringGrid1->rowCount()) {
        replotCursor(Chart1, Series3);
        return;
    }
    const QString when = StringGrid1->cell(0, p);
    const QString value = StringGrid1->cell(1, p);
    const auto key = series::pointKey(when);
    const auto y = series::parseNumber(value);
    if (key && y)
        Series3->addData(*key, *y);
    Label11->setText(QStringLiteral("Дата:") + when + QStringLiteral(" Порог:") + value + QStringLiteral("  "));
    Label11->setFont(readoutFont(Label11->font()));
    replotCursor(Chart1, Series3);
}

// ---------------------------------------------------------------------------
// observation series

void TForm1::ComboBox2Change()
{
    if (!ComboBox2 || !Dbf1.isOpen())
        return;
    bool isNumber = false;
    const int ordinal = ComboBox2->currentText().trimmed().toInt(&isNumber);
    if (!isNumber)
        return;

    series::ObservationSeries s;
    {
        const QScopedValueRollback<bool> quiet(inSeriesUpdate_, true);
        try {
            setTableFilter(QStringLiteral("MODE=2 AND TYPE=%1").arg(ordinal));
            Dbf1.first();
            s = series::readObservationSeries(Dbf1, series::viewRecordsInStoredOrder(Dbf1));
        } catch (const std::exception& e) {
            ui::showError(this, errorText(e));
            return;
        }
        observationSeries = ordinal;
        rememberFirstRecord(Memo2, Dbf1, s.count > 0 ? std::optional<uint32_t>(s.firstRecord) : std::nullopt);

        StringGrid2->show();
        LineSeries1->data()->clear();
        Series2->data()->clear();
        Chart2->show();
        Memo2->show();
        TrackBar1->show();

        StringGrid2->clearCells();
        StringGrid2->setRowCount(s.count + 1);
        StringGrid2->setColumn(0, 0, s.numbers);
        StringGrid2->setColumn(1, 0, s.values);
        StringGrid2->scrollToTop();

        StaticText1->setText(s.duration);
        StaticText2->setText(s.interval);
        StaticText3->setText(s.start);
        StaticText4->setText(s.end);

        Memo2->clear();
        Memo2->setPlainText(s.comment.isEmpty() ? series::notePrefix() : s.comment);
        Memo2->moveCursor(QTextCursor::End);
        Memo2->setEnabled(s.count > 0);
        Memo2->setReadOnly(false);

        LineSeries1->setData(s.keys, s.deflections);
        if (!s.keys.isEmpty()) {
            const auto [kmin, kmax] = std::minmax_element(s.keys.cbegin(), s.keys.cend());
            const auto [x0, x1] = series::paddedRange(*kmin, *kmax, 0.02, 1.0);
            Chart2->xAxis->setRange(x0, x1);
            const auto [vmin, vmax] = std::minmax_element(s.deflections.cbegin(), s.deflections.cend());
            const auto [y0, y1] = series::paddedRange(*vmin, *vmax, 0.08, 1.0);
            Chart2->yAxis->setRange(y0, y1);
        } else {
            Chart2->xAxis->setRange(0, 10);
            Chart2->yAxis->setRange(-1, 1);
        }

        {
            const QSignalBlocker block(TrackBar1);
            TrackBar1->setMinimum(s.sliderMin);
            TrackBar1->setMaximum(s.sliderMax);
            // A single record leaves the frequency as it was.
            if (s.tickFrequency && *s.tickFrequency > 0)
                TrackBar1->setTickInterval(*s.tickFrequency);
            TrackBar1->setValue(TrackBar1->minimum());
        }
        showTicks(TrackBar1);
        TrackBar1->setEnabled(s.count > 0);
    }

    if (s.count > 0) {
        TrackBar1Change();
    } else {
        Label10->setFont(readoutFont(Label10->font()));
        Label10->setText(QString::fromUtf8(NoPointsText));
    }
    Chart2->replot(QCustomPlot::rpQueuedReplot);
    TrackBar1->setFocus();
}

void TForm1::TrackBar1Change()
{
    if (!TrackBar1 || !Series2)
        return;
    Series2->data()->clear();
    // The position is the interval number, which is also the list row.
    const int p = TrackBar1->value();
    if (p < 1 || p >= StringGrid2->rowCount()) {
        replotCursor(Chart2, Series2);
        return;
    }
    const QString number = StringGrid2->cell(0, p);
    const QString value = StringGrid2->cell(1, p);
    if (const auto y = series::parseNumber(value))
        Series2->addData(double(p), *y);
    Label10->setText(QStringLiteral("N:") + number + QStringLiteral(" Прогиб:") + value + QStringLiteral("  "));
    Label10->setFont(readoutFont(Label10->font()));
    replotCursor(Chart2, Series2);
}

// ---------------------------------------------------------------------------
// notes

namespace {

// Stores the note into the series' first record; the table's filter and
// current row stay as they are unless the record is outside the view, in
// which case both are put back afterwards.
void storeNote(TForm1* form, QPlainTextEdit* memo, int mode, int ordinal)
{
    dbf::Table& t = form->Dbf1;
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
        ui::showError(form, errorText(e));
    }
}

}  // namespace

void TForm1::Memo1Change() { storeNote(this, Memo1, 1, waitingSeries); }

void TForm1::Memo2Change() { storeNote(this, Memo2, 2, observationSeries); }

// ---------------------------------------------------------------------------

void TForm1::clearSeriesViews()
{
    const QScopedValueRollback<bool> quiet(inSeriesUpdate_, true);
    waitingSeries = 0;
    observationSeries = 0;
    for (QComboBox* c : {ComboBox1, ComboBox2}) {
        if (c) {
            const QSignalBlocker block(c);
            c->clear();
        }
    }
    if (Series1)
        Series1->data()->clear();
    for (QCPGraph* g : {Series3, Series4, Series5, Series6, LineSeries1, Series2})
        if (g)
            g->data()->clear();
    for (QLabel* l : {StaticText1, StaticText2, StaticText3, StaticText4, StaticText5, StaticText6, StaticText7,
                      Label10, Label11})
        if (l)
            l->clear();
    for (StringGrid* g : {StringGrid1, StringGrid2}) {
        if (g) {
            g->clearCells();
            g->hide();
        }
    }
    for (QCustomPlot* c : {Chart1, Chart2})
        if (c)
            c->hide();
    for (QPlainTextEdit* m : {Memo1, Memo2}) {
        if (m) {
            forgetFirstRecord(m);
            m->setPlainText(series::notePrefix());
            m->setReadOnly(false);
        }
    }
    for (QSlider* s : {TrackBar1, TrackBar2}) {
        if (s) {
            const QSignalBlocker block(s);
            s->setRange(0, 0);
        }
    }
}

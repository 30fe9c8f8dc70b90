// Chart pieces of the series views.

#include "views/series_chart.h"

#include <QSlider>
#include <algorithm>
#include <cmath>

#include "ground/app_locale.h"

namespace seriesview {

namespace {

// Slider ticks are drawn only while they stay a few pixels apart.
constexpr int TickMarkLimit = 200;
// Bars narrower than this many pixels are drawn without their outline.
constexpr double MinOutlinedBarPixels = 4.0;
// Colour of bars drawn as strokes: light enough that the threshold and zero
// lines and the cursor stay readable over a dense series.
const QColor ThinBarColour(150, 150, 150);

}  // namespace

void WaitingBars::draw(QCPPainter* painter)
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

void SegmentGraph::drawLinePlot(QCPPainter* painter, const QVector<QPointF>& lines) const
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

}  // namespace seriesview

#pragma once
// Chart pieces of the series views: the bars of a waiting series, line series
// drawn segment by segment, the cursor layer, axes and slider ticks.

#include <QColor>
#include <QPen>
#include <QString>
#include <qcustomplot.h>

class QSlider;

namespace seriesview {

// Below this many bars the chart is drawn antialiased; above it every bar is
// thinner than a pixel anyway and plain drawing keeps a redraw fast.
constexpr int AntialiasedBarLimit = 2000;

// Bars of a waiting series.  While every bar gets a few pixels they are drawn
// as outlined bars.  Thinner bars would be all outline, and a long series a
// solid black mass: then each pixel column gets one grey stroke from zero to
// the highest and the lowest bar in it, which also keeps a redraw of 150,000
// bars in milliseconds.
class WaitingBars : public QCPBars {
public:
    using QCPBars::QCPBars;

protected:
    void draw(QCPPainter* painter) override;
};

// A line series drawn segment by segment on every painter.  The chart's own
// fast-polyline drawing is left out when it draws into a picture, an SVG or a
// printer, and stroking one wide polyline over thousands of points there takes
// seconds; separate segments look the same and take milliseconds.
class SegmentGraph : public QCPGraph {
public:
    using QCPGraph::QCPGraph;

protected:
    void drawLinePlot(QCPPainter* painter, const QVector<QPointF>& lines) const override;
};

// White chart without interactions, titled axes and dotted grid lines.
void setupChart(QCustomPlot* chart, const QString& xTitle, const QString& yTitle);
// A line series of the chart; `markers` draws the cursor's square.
QCPGraph* lineSeries(QCustomPlot* chart, const char* name, const QPen& pen, bool markers);
QPen cursorPen();
QPen thresholdPen();
// The cursor is drawn on a buffered layer of its own, so that moving it
// redraws one point and not the whole series.
void putOnCursorLayer(QCustomPlot* chart, QCPGraph* cursor);
void replotCursor(QCustomPlot* chart, QCPGraph* cursor);
// Time over date on the key axis; keys are UTC seconds.
void setTimeAxisFormat(QCustomPlot* chart);
// Tick marks only while they stay a few pixels apart.
void showTicks(QSlider* slider);

}  // namespace seriesview

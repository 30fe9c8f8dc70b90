#pragma once
// Drawing prepared report pages: one painter for the preview, the printer
// and PDF files, and the chart pictures the series reports carry.

#include <QSizeF>
#include <map>
#include <memory>

#include "output/report_model.h"

class QCustomPlot;
class QPainter;
class QPrinter;
class QSvgRenderer;

namespace report {

class PagePainter {
public:
    explicit PagePainter(const PreparedReport& report);
    ~PagePainter();

    // Paints page `index` with its top-left corner at `origin` (device
    // pixels), `scale` device pixels per report unit.  Fonts are sized for the
    // painter's device, so the page looks the same on screen, paper and PDF.
    void paint(QPainter& painter, int index, QPointF origin, double scale);

private:
    QSvgRenderer* renderer(int picture);
    const PreparedReport& report_;
    std::map<int, std::unique_ptr<QSvgRenderer>> renderers_;
};

// The widths and line heights of texts as this painter draws them, for
// preparing a report whose texts all fit their boxes.
TextMetrics painterTextMetrics();

// Prints pages first..last (1-based, inclusive; 0 and 0 for all) on the
// printer, each page in its own orientation.  False when nothing could be
// printed (the printer did not start).
bool printPages(const PreparedReport& report, QPrinter& printer, int first = 0, int last = 0);

// The chart drawn as vectors at w x h pixels, whatever its size on screen.
QByteArray chartSvg(QCustomPlot& chart, int w, int h);
// The same as an enhanced metafile (the picture Windows programs paste).
QByteArray chartEmf(QCustomPlot& chart, int w, int h);

// The chart drawn at `size` (report units) as an SVG drawing and as a PNG
// at twice that size, whatever its size on screen.
PictureSource chartPicture(QCustomPlot& chart, QSizeF size);

}  // namespace report

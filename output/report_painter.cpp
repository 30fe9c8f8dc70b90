#include "output/report_painter.h"

#include "output/emf_writer.h"

#include <QBuffer>
#include <QHash>
#include <QImage>
#include <QFontMetricsF>
#include <QPainter>
#include <QPrinter>
#include <QSvgGenerator>
#include <QSvgRenderer>
#include <cmath>
#include <optional>
#include <qcustomplot.h>

namespace report {

PagePainter::PagePainter(const PreparedReport& report) : report_(report) {}
PagePainter::~PagePainter() = default;

QSvgRenderer* PagePainter::renderer(int picture)
{
    if (picture < 0 || picture >= int(report_.pictures.size()))
        return nullptr;
    auto& r = renderers_[picture];
    if (!r)
        r = std::make_unique<QSvgRenderer>(report_.pictures[size_t(picture)].svg);
    return r->isValid() ? r.get() : nullptr;
}

void PagePainter::paint(QPainter& p, int index, QPointF origin, double scale)
{
    if (index < 0 || index >= report_.pageCount())
        return;
    const PreparedPage& page = report_.pages[size_t(index)];
    // Edges on whole device pixels, so that the frames of neighbouring
    // cells meet in one line on screen; on paper the difference is nil.
    auto map = [&](const QRectF& r) {
        const double x0 = std::round(origin.x() + r.left() * scale), y0 = std::round(origin.y() + r.top() * scale);
        const double x1 = std::round(origin.x() + r.right() * scale), y1 = std::round(origin.y() + r.bottom() * scale);
        return QRectF(x0, y0, x1 - x0, y1 - y0);
    };
    const double dpi = p.device() ? p.device()->logicalDpiY() : UnitsPerInch;
    // A font of P points is P/72 inch high; on a device with `dpi` logical
    // dots per inch and `scale` pixels per unit (1/96 inch) that takes this
    // point size.
    const double fontScale = scale * UnitsPerInch / dpi;

    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    for (const PreparedPicture& pic : page.pictures)
        if (QSvgRenderer* r = renderer(pic.source))
            r->render(&p, map(pic.rect));

    // Frames first, with one pen, then the texts: fewer pen changes make a
    // PDF of thousands of pages much quicker to write.
    QPen framePen(Qt::black);
    framePen.setWidthF(std::max(1.0, scale));
    framePen.setJoinStyle(Qt::MiterJoin);
    p.setPen(framePen);
    p.setBrush(Qt::NoBrush);
    for (const PreparedText& t : page.texts)
        if (t.frame)
            p.drawRect(map(t.rect));

    p.setPen(Qt::black);
    int currentFont = -1;
    std::optional<QFontMetricsF> metrics;
    const double pad = 2 * scale;
    for (const PreparedText& t : page.texts) {
        if (t.text.isEmpty())
            continue;
        const QRectF rect = map(t.rect);
        if (int(t.font) != currentFont) {
            const Font& f = report_.fonts[t.font];
            QFont qf(f.family);
            qf.setPointSizeF(f.points * fontScale);
            qf.setBold(f.bold);
            qf.setStyleHint(QFont::SansSerif);
            p.setFont(qf);
            metrics.emplace(p.font(), p.device());
            currentFont = t.font;
        }
        const QRectF inner = rect.adjusted(pad, t.wrap ? pad : 0, -pad, 0);
        if (!t.wrap) {
            // One line that fits its cell: placed directly, which is many
            // times faster than laying the text out in a rectangle and counts
            // on reports of thousands of pages.  The width is the sum of the
            // characters' advances (the report's texts need no shaping).
            const QFontMetricsF& fm = *metrics;
            double w = 0;
            for (QChar c : t.text)
                w += fm.horizontalAdvance(c);
            if (w <= inner.width()) {
                const double x = t.align == Align::Centre  ? inner.left() + (inner.width() - w) / 2
                                 : t.align == Align::Right ? inner.right() - w
                                                           : inner.left();
                const double y = inner.top() + (inner.height() - fm.height()) / 2 + fm.ascent();
                p.drawText(QPointF(x, y), t.text);
                continue;
            }
        }
        // Texts were measured to fit when the report was prepared; a device
        // that measures a little wider still shows all of them.
        int flags = (t.wrap ? (Qt::AlignTop | Qt::TextWordWrap) : Qt::AlignVCenter) | Qt::TextDontClip;
        flags |= t.align == Align::Centre ? Qt::AlignHCenter : t.align == Align::Right ? Qt::AlignRight : Qt::AlignLeft;
        p.drawText(inner, flags, t.text);
    }
    p.restore();
}

TextMetrics painterTextMetrics()
{
    // Measured as a page painted one unit per pixel at 96 dpi: the preview at
    // full size.  Advances are kept per font and character; reports of
    // thousands of pages measure every cell.
    struct Cache {
        QImage device{1, 1, QImage::Format_RGB32};
        Font font;
        std::optional<QFontMetricsF> metrics;
        QHash<char16_t, double> advances;

        const QFontMetricsF& use(const Font& f)
        {
            if (!metrics || !(f == font)) {
                device.setDotsPerMeterX(int(std::lround(UnitsPerInch / 0.0254)));
                device.setDotsPerMeterY(int(std::lround(UnitsPerInch / 0.0254)));
                QFont qf(f.family);
                qf.setPointSizeF(f.points);
                qf.setBold(f.bold);
                qf.setStyleHint(QFont::SansSerif);
                metrics.emplace(qf, &device);
                font = f;
                advances.clear();
            }
            return *metrics;
        }
    };
    auto cache = std::make_shared<Cache>();
    TextMetrics m;
    m.width = [cache](const Font& f, const QString& text) {
        const QFontMetricsF& fm = cache->use(f);
        double w = 0;
        for (QChar c : text) {
            auto it = cache->advances.constFind(c.unicode());
            if (it == cache->advances.constEnd())
                it = cache->advances.insert(c.unicode(), fm.horizontalAdvance(c));
            w += *it;
        }
        return w;
    };
    m.lineHeight = [cache](const Font& f) { return cache->use(f).lineSpacing(); };
    return m;
}

bool printPages(const PreparedReport& report, QPrinter& printer, int first, int last)
{
    const int n = report.pageCount();
    if (n == 0)
        return false;
    if (first <= 0 || last <= 0) {
        first = 1;
        last = n;
    }
    first = std::clamp(first, 1, n);
    last = std::clamp(last, first, n);

    printer.setFullPage(true);
    auto layoutFor = [&](const PreparedPage& pg) {
        printer.setPageSize(QPageSize(QPageSize::A4));
        printer.setPageOrientation(pg.landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
        printer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    };
    layoutFor(report.pages[size_t(first - 1)]);
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    PagePainter pages(report);
    for (int i = first; i <= last; ++i) {
        const PreparedPage& pg = report.pages[size_t(i - 1)];
        if (i > first) {
            layoutFor(pg);
            printer.newPage();
        }
        // With a full page the painter's origin is the paper's corner; the
        // device may still be a little off the page's exact size, so scale by
        // the resolution rather than by the painted width.
        const double scale = printer.resolution() / UnitsPerInch;
        pages.paint(painter, i - 1, QPointF(0, 0), scale);
    }
    return painter.end();
}

QByteArray chartSvg(QCustomPlot& chart, int w, int h)
{
    QByteArray svg;
    QBuffer buf(&svg);
    buf.open(QIODevice::WriteOnly);
    QSvgGenerator gen;
    gen.setOutputDevice(&buf);
    gen.setSize(QSize(w, h));
    gen.setViewBox(QRect(0, 0, w, h));
    gen.setResolution(int(UnitsPerInch));
    QCPPainter painter;
    painter.begin(&gen);
    chart.toPainter(&painter, w, h);
    painter.end();
    return svg;
}

QByteArray chartEmf(QCustomPlot& chart, int w, int h)
{
    EmfDevice emf(QSize(w, h), QStringLiteral("ДОРК-5\nChart"));
    QCPPainter painter;
    painter.begin(&emf);
    chart.toPainter(&painter, w, h);
    painter.end();
    return emf.bytes();
}

PictureSource chartPicture(QCustomPlot& chart, QSizeF size)
{
    PictureSource out;
    out.size = size;
    const int w = int(std::lround(size.width()));
    const int h = int(std::lround(size.height()));
    out.svg = chartSvg(chart, w, h);
    {
        const QPixmap pm = chart.toPixmap(w, h, 2.0);
        QBuffer buf(&out.png);
        buf.open(QIODevice::WriteOnly);
        pm.toImage().save(&buf, "PNG");
    }
    return out;
}

}  // namespace report

// The EMF paint engine: every QPainter primitive becomes one or a few EMF
// records in device coordinates (the engine applies the painter's transform
// itself, so texts keep their rotation as a font escapement).  Pens, brushes
// and fonts are created when a record first needs one that differs from the
// selected one; each kind alternates between two object slots so that the
// old object is deleted only after the new one is selected.

#include "output/emf_writer.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPaintEngine>
#include <QPainterPath>
#include <QPixmap>
#include <QTextItem>
#include <QtEndian>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <optional>

namespace {

constexpr quint32 StockNullBrush = 0x80000005;
constexpr quint32 StockNullPen = 0x80000008;
constexpr int Dpi = 96;
// The reference device the header names: 1920 x 1080 pixels at 96 dpi.
constexpr int RefDevW = 1920, RefDevH = 1080;
// Its size in whole millimetres, as the header gives it, and from that the
// hundredths of a millimetre per pixel that a text record states.
const long RefMmW = std::lround(RefDevW * 25.4 / Dpi), RefMmH = std::lround(RefDevH * 25.4 / Dpi);
// Object slots: pens 1-2, brushes 3-4, fonts 5-6 (slot 0 is the metafile's own).
constexpr quint16 HandleCount = 7;
// Points per drawing record: keeps every record far below any size limit.
constexpr int MaxPointsPerRecord = 8000;

// Little-endian record body.
class Record {
public:
    explicit Record(quint32 type) { u32(type), u32(0); }
    Record& u32(quint32 v)
    {
        const quint32 le = qToLittleEndian(v);
        data_.append(reinterpret_cast<const char*>(&le), 4);
        return *this;
    }
    Record& i32(qint32 v) { return u32(quint32(v)); }
    Record& u16(quint16 v)
    {
        const quint16 le = qToLittleEndian(v);
        data_.append(reinterpret_cast<const char*>(&le), 2);
        return *this;
    }
    Record& i16(qint16 v) { return u16(quint16(v)); }
    Record& u8(quint8 v)
    {
        data_.append(char(v));
        return *this;
    }
    Record& f32(float v)
    {
        quint32 bits;
        std::memcpy(&bits, &v, 4);
        return u32(bits);
    }
    Record& rect(const QRect& r) { return i32(r.left()).i32(r.top()).i32(r.right()).i32(r.bottom()); }
    Record& bytes(const QByteArray& b)
    {
        data_.append(b);
        return *this;
    }
    Record& pad()
    {
        while (data_.size() % 4)
            data_.append('\0');
        return *this;
    }
    qsizetype size() const { return data_.size(); }
    QByteArray finish()
    {
        pad();
        const quint32 le = qToLittleEndian(quint32(data_.size()));
        std::memcpy(data_.data() + 4, &le, 4);
        return data_;
    }

private:
    QByteArray data_;
};

quint32 colorRef(const QColor& c)
{
    const QColor rgb = c.toRgb();
    return quint32(rgb.red()) | quint32(rgb.green()) << 8 | quint32(rgb.blue()) << 16;
}

qint16 coord(double v) { return qint16(std::clamp(std::lround(v), -32768L, 32767L)); }

QRect boundsOf(const QPointF* points, int count)
{
    if (count <= 0)
        return {0, 0, 0, 0};
    double x0 = points[0].x(), x1 = x0, y0 = points[0].y(), y1 = y0;
    for (int i = 1; i < count; ++i) {
        x0 = std::min(x0, points[i].x());
        x1 = std::max(x1, points[i].x());
        y0 = std::min(y0, points[i].y());
        y1 = std::max(y1, points[i].y());
    }
    return QRect(QPoint(coord(std::floor(x0)), coord(std::floor(y0))), QPoint(coord(std::ceil(x1)), coord(std::ceil(y1))));
}

// The colour a brush paints with where EMF knows only solid brushes.
QColor solidColourOf(const QBrush& brush)
{
    if (const QGradient* g = brush.gradient(); g && !g->stops().isEmpty())
        return g->stops().first().second;
    if (brush.style() == Qt::TexturePattern)
        return Qt::gray;
    return brush.color();
}

}  // namespace

class EmfPaintEngine : public QPaintEngine {
public:
    explicit EmfPaintEngine(QSize size, QString description)
        : QPaintEngine(QPaintEngine::AllFeatures), size_(size),
          description_(std::move(description))
    {
    }

    QByteArray result() const { return result_; }

    bool begin(QPaintDevice*) override
    {
        body_.clear();
        records_ = 0;
        penKey_.reset();
        brushKey_.reset();
        fontKey_.reset();
        textColour_.reset();
        fillMode_.reset();
        penTurn_ = brushTurn_ = fontTurn_ = 0;
        penLive_ = brushLive_ = fontLive_ = false;
        xf_ = QTransform();
        clip_ = QRectF();
        clipOn_ = false;
        pen_ = QPen();
        brush_ = QBrush();
        add(Record(emf::SetMapMode).u32(1));   // MM_TEXT: one unit is one pixel
        add(Record(emf::SetBkMode).u32(1));    // TRANSPARENT
        add(Record(emf::SetTextAlign).u32(24));  // TA_BASELINE | TA_LEFT
        return true;
    }

    bool end() override
    {
        add(Record(emf::Eof).u32(0).u32(16).u32(20));
        result_ = header() + body_;
        return true;
    }

    Type type() const override { return QPaintEngine::User; }

    void updateState(const QPaintEngineState& state) override
    {
        const DirtyFlags flags = state.state();
        if (flags & DirtyTransform)
            xf_ = state.transform();
        if (flags & DirtyPen)
            pen_ = state.pen();
        if (flags & DirtyBrush)
            brush_ = state.brush();
        if (flags & DirtyFont)
            font_ = state.font();
        if (flags & (DirtyClipEnabled | DirtyClipRegion | DirtyClipPath)) {
            // The painter hands the clip over in the coordinates of its
            // transform at the time; EMF gets the bounding rectangle in device
            // coordinates, after going back to no clip at all.
            if (flags & (DirtyClipRegion | DirtyClipPath)) {
                const QRectF next = xf_.mapRect((flags & DirtyClipPath) ? state.clipPath().boundingRect()
                                                                        : QRectF(state.clipRegion().boundingRect()));
                switch (state.clipOperation()) {
                case Qt::NoClip: clip_ = QRectF(); break;
                case Qt::IntersectClip: clip_ = clip_.isNull() ? next : clip_.intersected(next); break;
                default: clip_ = next; break;
                }
                clipOn_ = state.clipOperation() != Qt::NoClip;
            }
            if (flags & DirtyClipEnabled)
                clipOn_ = state.isClipEnabled();
            add(Record(emf::ExtSelectClipRgn).u32(0).u32(5));  // RGN_COPY with no region
            if (clipOn_ && !clip_.isNull()) {
                const QRect r = clip_.toAlignedRect();
                add(Record(emf::IntersectClipRect).i32(r.left()).i32(r.top()).i32(r.right() + 1).i32(r.bottom() + 1));
            }
        }
    }

    void drawLines(const QLineF* lines, int count) override
    {
        for (int from = 0; from < count; from += MaxPointsPerRecord / 2) {
            const int n = std::min(count - from, MaxPointsPerRecord / 2);
            QList<QPolygonF> polys;
            polys.reserve(n);
            for (int i = 0; i < n; ++i)
                polys.append(QPolygonF({xf_.map(lines[from + i].p1()), xf_.map(lines[from + i].p2())}));
            polyRecord(emf::PolyPolyline16, polys, false);
        }
    }

    void drawRects(const QRectF* rects, int count) override
    {
        for (int i = 0; i < count; ++i)
            polygonRecord(xf_.map(QPolygonF(rects[i])), true, Qt::OddEvenFill);
    }

    void drawPoints(const QPointF* points, int count) override
    {
        // A point is a pen-wide dot: a line of no length with a square cap.
        QList<QLineF> lines;
        for (int i = 0; i < count; ++i)
            lines.append(QLineF(points[i], points[i] + QPointF(0.01, 0)));
        drawLines(lines.constData(), int(lines.size()));
    }

    void drawPolygon(const QPointF* points, int count, PolygonDrawMode mode) override
    {
        QPolygonF poly;
        poly.reserve(count);
        for (int i = 0; i < count; ++i)
            poly.append(xf_.map(points[i]));
        if (mode == PolylineMode) {
            for (int from = 0; from < count - 1; from += MaxPointsPerRecord - 1) {
                const int n = std::min(int(count) - from, MaxPointsPerRecord);
                selectPen();
                add(pointsRecord(emf::Polyline16, poly.constData() + from, n));
            }
            return;
        }
        polygonRecord(poly, true, mode == WindingMode ? Qt::WindingFill : Qt::OddEvenFill);
    }

    void drawEllipse(const QRectF& r) override
    {
        QPainterPath path;
        path.addEllipse(r);
        drawPath(path);
    }

    void drawPath(const QPainterPath& path) override
    {
        const QList<QPolygonF> polys = path.toSubpathPolygons(xf_);
        if (polys.isEmpty())
            return;
        if (brush_.style() != Qt::NoBrush) {
            setFillMode(path.fillRule());
            polyRecord(emf::PolyPolygon16, polys, true);
        } else {
            polyRecord(emf::PolyPolyline16, polys, false);
        }
    }

    void drawTextItem(const QPointF& p, const QTextItem& item) override
    {
        const QString text = item.text();
        if (text.isEmpty())
            return;
        const double scale = std::sqrt(std::abs(xf_.determinant()));
        const double angle = std::atan2(xf_.m12(), xf_.m11()) * 180.0 / M_PI;
        const QFont font = item.font();
        const QFontMetricsF fm(font);
        selectFont(font, scale, -angle);
        const QColor colour = pen_.color();
        if (!textColour_ || *textColour_ != colorRef(colour)) {
            textColour_ = colorRef(colour);
            add(Record(emf::SetTextColor).u32(*textColour_));
        }
        const QPointF at = xf_.map(p);
        // Advances of every character, rounded so that their sum stays on
        // the text's own width.
        QList<qint32> dx;
        double sum = 0;
        long placed = 0;
        for (QChar c : text) {
            sum += fm.horizontalAdvance(c) * scale;
            const long next = std::lround(sum);
            dx.append(qint32(next - placed));
            placed = next;
        }
        const QRectF box(p.x(), p.y() - fm.ascent(), fm.horizontalAdvance(text), fm.height());
        const QPolygonF corners = xf_.map(QPolygonF(box));
        Record r(emf::ExtTextOutW);
        r.rect(boundsOf(corners.constData(), int(corners.size())));
        // GM_COMPATIBLE, with the page units' size in hundredths of a
        // millimetre, which players of that mode use to scale the font.
        r.u32(1).f32(float(100.0 * RefMmW / RefDevW)).f32(float(100.0 * RefMmH / RefDevH));
        r.i32(qint32(std::lround(at.x()))).i32(qint32(std::lround(at.y())));
        const quint32 stringOffset = 76;
        const quint32 stringBytes = quint32((text.size() * 2 + 3) / 4 * 4);
        r.u32(quint32(text.size())).u32(stringOffset).u32(0);
        r.i32(0).i32(0).i32(-1).i32(-1);  // no clipping or opaque rectangle
        r.u32(stringOffset + stringBytes);
        for (QChar c : text)
            r.u16(c.unicode());
        r.pad();
        for (qint32 d : dx)
            r.i32(d);
        add(std::move(r));
    }

    void drawPixmap(const QRectF& r, const QPixmap& pm, const QRectF& sr) override
    {
        drawImage(r, pm.toImage(), sr, Qt::AutoColor);
    }

    void drawImage(const QRectF& r, const QImage& image, const QRectF& sr, Qt::ImageConversionFlags) override
    {
        const QImage src = image.copy(sr.toAlignedRect()).convertToFormat(QImage::Format_RGB32);
        if (src.isNull())
            return;
        const QRect dest = xf_.mapRect(r).toAlignedRect();
        const quint32 bitsSize = quint32(src.width() * src.height() * 4);
        Record rec(emf::StretchDIBits);
        rec.rect(dest.adjusted(0, 0, -1, -1));
        rec.i32(dest.x()).i32(dest.y()).i32(0).i32(0).i32(src.width()).i32(src.height());
        rec.u32(80).u32(40).u32(120).u32(bitsSize);
        rec.u32(0).u32(0x00CC0020);  // DIB_RGB_COLORS, SRCCOPY
        rec.i32(dest.width()).i32(dest.height());
        // BITMAPINFOHEADER of a bottom-up 32-bit DIB
        rec.u32(40).i32(src.width()).i32(src.height()).u16(1).u16(32).u32(0).u32(bitsSize).i32(3780).i32(3780).u32(0).u32(0);
        QByteArray bits;
        bits.reserve(bitsSize);
        for (int y = src.height() - 1; y >= 0; --y)
            bits.append(reinterpret_cast<const char*>(src.constScanLine(y)), src.width() * 4);
        rec.bytes(bits);
        add(std::move(rec));
    }

    void drawTiledPixmap(const QRectF& r, const QPixmap& pm, const QPointF& origin) override
    {
        for (double y = r.top() - origin.y(); y < r.bottom(); y += pm.height())
            for (double x = r.left() - origin.x(); x < r.right(); x += pm.width()) {
                const QRectF tile = QRectF(QPointF(x, y), pm.size()).intersected(r);
                drawPixmap(tile, pm, tile.translated(-x, -y));
            }
    }

private:
    void add(Record r)
    {
        body_.append(r.finish());
        ++records_;
    }

    QByteArray header() const
    {
        QString desc = description_;
        desc.replace(QLatin1Char('\n'), QChar(0));
        desc += QChar(0);
        desc += QChar(0);
        const quint32 descBytes = quint32((desc.size() * 2 + 3) / 4 * 4);
        const quint32 total = 108 + descBytes + quint32(body_.size());
        const int w = size_.width(), h = size_.height();
        const int devW = RefDevW, devH = RefDevH;
        Record r(emf::Header);
        r.rect(QRect(0, 0, w, h));
        r.i32(0).i32(0).i32(qint32(std::lround(w * 2540.0 / Dpi)) - 1).i32(qint32(std::lround(h * 2540.0 / Dpi)) - 1);
        r.u32(0x464D4520).u32(0x10000).u32(total).u32(records_ + 1);
        r.u16(HandleCount).u16(0);
        r.u32(quint32(desc.size())).u32(108).u32(0);
        r.i32(devW).i32(devH);
        r.i32(qint32(RefMmW)).i32(qint32(RefMmH));
        r.u32(0).u32(0).u32(0);
        r.i32(qint32(std::lround(devW * 25400.0 / Dpi))).i32(qint32(std::lround(devH * 25400.0 / Dpi)));
        for (QChar c : desc)
            r.u16(c.unicode());
        return r.finish();
    }

    static Record pointsRecord(quint32 type, const QPointF* points, int count)
    {
        Record r(type);
        r.rect(boundsOf(points, count));
        r.u32(quint32(count));
        for (int i = 0; i < count; ++i)
            r.i16(coord(points[i].x())).i16(coord(points[i].y()));
        return r;
    }

    void polygonRecord(const QPolygonF& poly, bool filled, Qt::FillRule rule)
    {
        if (poly.size() < 2)
            return;
        selectPen();
        selectBrush(filled);
        setFillMode(rule);
        add(pointsRecord(emf::Polygon16, poly.constData(), int(poly.size())));
    }

    // A polypolyline or polypolygon over several records when it is long.
    void polyRecord(quint32 type, const QList<QPolygonF>& polys, bool filled)
    {
        selectPen();
        if (filled)
            selectBrush(true);
        qsizetype i = 0;
        while (i < polys.size()) {
            qsizetype end = i, points = 0;
            while (end < polys.size() && (end == i || points + polys[end].size() <= MaxPointsPerRecord))
                points += polys[end++].size();
            QPolygonF all;
            all.reserve(points);
            for (qsizetype k = i; k < end; ++k)
                all += polys[k];
            Record r(type);
            r.rect(boundsOf(all.constData(), int(all.size())));
            r.u32(quint32(end - i)).u32(quint32(all.size()));
            for (qsizetype k = i; k < end; ++k)
                r.u32(quint32(polys[k].size()));
            for (const QPointF& p : all)
                r.i16(coord(p.x())).i16(coord(p.y()));
            add(std::move(r));
            i = end;
        }
    }

    void setFillMode(Qt::FillRule rule)
    {
        const quint32 mode = rule == Qt::WindingFill ? 2 : 1;  // WINDING, ALTERNATE
        if (fillMode_ != mode) {
            fillMode_ = mode;
            add(Record(emf::SetPolyFillMode).u32(mode));
        }
    }

    // Puts a created object (its record names `slot`) into use and deletes
    // the one the kind's other slot held, which is no longer selected.
    void useCreated(Record create, quint32 slot, quint32 otherSlot, bool& otherLive)
    {
        add(std::move(create));
        add(Record(emf::SelectObject).u32(slot));
        if (otherLive)
            add(Record(emf::DeleteObject).u32(otherSlot));
        otherLive = true;
    }

    void selectPen()
    {
        const QColor c = pen_.color();
        const bool none = pen_.style() == Qt::NoPen || c.alpha() == 0 || pen_.brush().style() == Qt::NoBrush;
        const double scale = pen_.isCosmetic() ? 1.0 : std::sqrt(std::abs(xf_.determinant()));
        const int width = none ? 0 : std::max(1, int(std::lround(pen_.widthF() * scale)));
        quint32 style = 0;  // PS_SOLID
        switch (pen_.style()) {
        case Qt::DashLine: style = 1; break;
        case Qt::DotLine: style = 2; break;
        case Qt::DashDotLine: style = 3; break;
        case Qt::DashDotDotLine: style = 4; break;
        default: break;
        }
        if (width > 1) {
            style |= 0x10000;  // PS_GEOMETRIC
            style |= pen_.capStyle() == Qt::FlatCap ? 0x200 : pen_.capStyle() == Qt::SquareCap ? 0x100 : 0;
            style |= pen_.joinStyle() == Qt::MiterJoin ? 0x2000 : pen_.joinStyle() == Qt::BevelJoin ? 0x1000 : 0;
        }
        const PenKey key{none, width, style, colorRef(c)};
        if (penKey_ && *penKey_ == key)
            return;
        penKey_ = key;
        if (none) {
            add(Record(emf::SelectObject).u32(StockNullPen));
            return;
        }
        penTurn_ ^= 1;
        const quint32 slot = 1 + quint32(penTurn_);
        // A pen that CreatePen can make (solid of any width, or any style one
        // pixel wide) goes as CREATEPEN, the record every player reads (the
        // 64-bit Wine player, for one, misreads EXTCREATEPEN); wide solid
        // lines then end round.  Wide dashes, which need the geometric style,
        // go as EXTCREATEPEN.
        const quint32 dash = style & 0xF;
        if (width <= 1 || dash == 0) {
            Record create(emf::CreatePen);
            create.u32(slot).u32(dash).i32(width).i32(0).u32(colorRef(c));
            useCreated(std::move(create), slot, 1 + quint32(penTurn_ ^ 1), penLive_);
            return;
        }
        Record create(emf::ExtCreatePen);
        create.u32(slot).u32(0).u32(0).u32(0).u32(0);  // no pattern bitmap
        create.u32(style).u32(quint32(width)).u32(0).u32(colorRef(c)).u32(0).u32(0);
        useCreated(std::move(create), slot, 1 + quint32(penTurn_ ^ 1), penLive_);
    }

    void selectBrush(bool filled)
    {
        const QColor c = solidColourOf(brush_);
        const bool none = !filled || brush_.style() == Qt::NoBrush || c.alpha() == 0;
        const BrushKey key{none, colorRef(c)};
        if (brushKey_ && *brushKey_ == key)
            return;
        brushKey_ = key;
        if (none) {
            add(Record(emf::SelectObject).u32(StockNullBrush));
            return;
        }
        brushTurn_ ^= 1;
        const quint32 slot = 3 + quint32(brushTurn_);
        useCreated(Record(emf::CreateBrushIndirect).u32(slot).u32(0).u32(colorRef(c)).u32(0), slot,
                   3 + quint32(brushTurn_ ^ 1), brushLive_);
    }

    void selectFont(const QFont& font, double scale, double angleDegrees)
    {
        double px = font.pixelSize() > 0 ? font.pixelSize() : font.pointSizeF() * Dpi / 72.0;
        px *= scale;
        const FontKey key{font.family(), int(std::lround(px)), font.weight(), font.italic(), font.underline(),
                          font.strikeOut(), int(std::lround(angleDegrees * 10))};
        if (fontKey_ && *fontKey_ == key)
            return;
        fontKey_ = key;
        fontTurn_ ^= 1;
        const quint32 slot = 5 + quint32(fontTurn_);
        Record r(emf::ExtCreateFontIndirectW);
        r.u32(slot);
        r.i32(-std::max(1, key.height)).i32(0).i32(key.escapement).i32(key.escapement).i32(key.weight);
        r.u8(key.italic).u8(key.underline).u8(key.strikeOut).u8(1);  // DEFAULT_CHARSET
        // TrueType precision: a face the reader lacks is replaced by an
        // outline font of the same family kind, which scales and turns (a
        // raster substitute does neither).
        const QFont::StyleHint hint = font.styleHint();
        const quint8 family = font.fixedPitch() || hint == QFont::Monospace || hint == QFont::TypeWriter
                                  ? 0x31  // FF_MODERN | FIXED_PITCH
                              : hint == QFont::Serif ? 0x12  // FF_ROMAN | VARIABLE_PITCH
                                                     : 0x22;  // FF_SWISS | VARIABLE_PITCH
        r.u8(3).u8(0).u8(0).u8(family);  // OUT_TT_PRECIS, default clipping and quality
        const QString face = key.family.left(31);
        for (int i = 0; i < 32; ++i)
            r.u16(i < face.size() ? face.at(i).unicode() : 0);
        useCreated(std::move(r), slot, 5 + quint32(fontTurn_ ^ 1), fontLive_);
    }

    struct PenKey {
        bool none;
        int width;
        quint32 style;
        quint32 colour;
        bool operator==(const PenKey&) const = default;
    };
    struct BrushKey {
        bool none;
        quint32 colour;
        bool operator==(const BrushKey&) const = default;
    };
    struct FontKey {
        QString family;
        int height;
        int weight;
        bool italic, underline, strikeOut;
        int escapement;
        bool operator==(const FontKey&) const = default;
    };

    QSize size_;
    QString description_;
    QByteArray body_;
    QByteArray result_;
    quint32 records_ = 0;
    QTransform xf_;
    QPen pen_;
    QBrush brush_;
    QFont font_;
    QRectF clip_;
    bool clipOn_ = false;
    std::optional<PenKey> penKey_;
    std::optional<BrushKey> brushKey_;
    std::optional<FontKey> fontKey_;
    std::optional<quint32> textColour_;
    std::optional<quint32> fillMode_;
    int penTurn_ = 0, brushTurn_ = 0, fontTurn_ = 0;
    // Whether the slot a kind would delete next holds an object.
    bool penLive_ = false, brushLive_ = false, fontLive_ = false;
};

EmfDevice::EmfDevice(QSize size, const QString& description)
    : size_(size.expandedTo(QSize(1, 1))), engine_(std::make_unique<EmfPaintEngine>(size_, description))
{
}

EmfDevice::~EmfDevice() = default;

QPaintEngine* EmfDevice::paintEngine() const { return engine_.get(); }

QByteArray EmfDevice::bytes() const { return engine_->result(); }

int EmfDevice::metric(PaintDeviceMetric metric) const
{
    switch (metric) {
    case PdmWidth: return size_.width();
    case PdmHeight: return size_.height();
    case PdmWidthMM: return int(std::lround(size_.width() * 25.4 / Dpi));
    case PdmHeightMM: return int(std::lround(size_.height() * 25.4 / Dpi));
    case PdmNumColors: return INT_MAX;
    case PdmDepth: return 32;
    case PdmDpiX:
    case PdmDpiY:
    case PdmPhysicalDpiX:
    case PdmPhysicalDpiY: return Dpi;
    case PdmDevicePixelRatio: return 1;
    case PdmDevicePixelRatioScaled: return int(QPaintDevice::devicePixelRatioFScale());
    }
    return 0;
}

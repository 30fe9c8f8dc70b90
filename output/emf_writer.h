#pragma once
// An enhanced metafile (EMF) drawn with QPainter: lines, polygons, rectangles,
// paths and texts become EMF drawing records (vectors, so the picture stays
// sharp when a word processor scales it); pixmaps and images become DIB
// records.  The bytes are those of an .emf file; on Windows the clipboard
// takes them as CF_ENHMETAFILE.
//
// Logical units are pixels at 96 dots per inch; the frame is sized in
// hundredths of a millimetre to match.

#include <QByteArray>
#include <QPaintDevice>
#include <QSize>
#include <QString>
#include <memory>

class EmfPaintEngine;

class EmfDevice : public QPaintDevice {
public:
    // `description` is the application and picture name stored in the header.
    explicit EmfDevice(QSize size, const QString& description = QString());
    ~EmfDevice() override;

    QPaintEngine* paintEngine() const override;
    // The finished metafile; valid once the painter has ended.
    QByteArray bytes() const;

protected:
    int metric(PaintDeviceMetric metric) const override;

private:
    QSize size_;
    std::unique_ptr<EmfPaintEngine> engine_;
};

// Record types the writer uses (MS-EMF), for the readers in the tests.
namespace emf {
enum RecordType : quint32 {
    Header = 1,
    Eof = 14,
    SetMapMode = 17,
    SetBkMode = 18,
    SetPolyFillMode = 19,
    SetTextAlign = 22,
    SetTextColor = 24,
    IntersectClipRect = 30,
    SelectObject = 37,
    CreateBrushIndirect = 39,
    CreatePen = 38,
    DeleteObject = 40,
    ExtSelectClipRgn = 75,
    StretchDIBits = 81,
    ExtCreateFontIndirectW = 82,
    ExtTextOutW = 84,
    Polygon16 = 86,
    Polyline16 = 87,
    PolyPolyline16 = 90,
    PolyPolygon16 = 91,
    ExtCreatePen = 95,
};
}  // namespace emf

// Enhanced metafiles drawn with QPainter: the records are well formed, the
// objects they create are used and deleted in a valid order, the primitives
// land where the painter put them, and a chart comes out as vectors that
// LibreOffice (on Windows: the system) renders.

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>
#include <map>
#include <qcustomplot.h>
#include <set>

#ifdef _WIN32
#include <windows.h>
#include <cstring>
#endif

#include "output/emf_writer.h"
#include "output/report_painter.h"
#include "tool_run.h"

namespace {

#ifdef _WIN32
// Plays metafile bytes into a white bitmap of w x h pixels with the system's
// own metafile player.
QImage playWithGdi(const QByteArray& bytes, int w, int h)
{
    HENHMETAFILE mf = SetEnhMetaFileBits(UINT(bytes.size()), reinterpret_cast<const BYTE*>(bytes.constData()));
    if (!mf)
        return {};
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;  // top-down rows
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    QImage out;
    if (bmp && bits) {
        HGDIOBJ old = SelectObject(dc, bmp);
        std::memset(bits, 0xFF, size_t(w) * size_t(h) * 4);
        const RECT r{0, 0, w, h};
        if (PlayEnhMetaFile(dc, mf, &r)) {
            GdiFlush();
            out = QImage(static_cast<const uchar*>(bits), w, h, QImage::Format_RGB32).copy();
        }
        SelectObject(dc, old);
        DeleteObject(bmp);
    }
    DeleteDC(dc);
    DeleteEnhMetaFile(mf);
    return out;
}
#endif

struct Rec {
    quint32 type;
    QByteArray data;  // the whole record
    quint32 u32(int at) const { return qFromLittleEndian<quint32>(data.constData() + at); }
    qint32 i32(int at) const { return qint32(u32(at)); }
    qint16 i16(int at) const { return qFromLittleEndian<qint16>(data.constData() + at); }
    QString utf16(int at, int chars) const
    {
        QString s;
        for (int i = 0; i < chars; ++i)
            s += QChar(qFromLittleEndian<quint16>(data.constData() + at + 2 * i));
        return s;
    }
    QList<QPoint> points16(int countAt, int pointsAt) const
    {
        QList<QPoint> out;
        for (quint32 i = 0; i < u32(countAt); ++i)
            out.append(QPoint(i16(pointsAt + 4 * int(i)), i16(pointsAt + 4 * int(i) + 2)));
        return out;
    }
};

// The records of a metafile; fails the test on a malformed one.
QList<Rec> readRecords(const QByteArray& emf)
{
    QList<Rec> out;
    qsizetype at = 0;
    while (at + 8 <= emf.size()) {
        const quint32 type = qFromLittleEndian<quint32>(emf.constData() + at);
        const quint32 size = qFromLittleEndian<quint32>(emf.constData() + at + 4);
        if (size < 8 || size % 4 || at + qsizetype(size) > emf.size()) {
            qWarning("record %u at %lld has size %u", type, qlonglong(at), size);
            return {};
        }
        out.append({type, emf.mid(at, size)});
        at += size;
    }
    return at == emf.size() ? out : QList<Rec>{};
}

// Plays the object records the way GDI keeps its handle table: an object is
// created into a free slot, selected while it exists, and deleted only when
// no longer selected.  Returns the first fault, empty when none.
QString objectFault(const QList<Rec>& recs, quint16 handles)
{
    std::map<quint32, quint32> kindOf;  // slot -> record type that created it
    std::map<quint32, quint32> selected;  // kind -> slot
    for (const Rec& r : recs) {
        if (r.type == emf::ExtCreatePen || r.type == emf::CreatePen || r.type == emf::CreateBrushIndirect ||
            r.type == emf::ExtCreateFontIndirectW) {
            const quint32 slot = r.u32(8);
            if (slot == 0 || slot >= handles || kindOf.count(slot))
                return QStringLiteral("create into slot %1").arg(slot);
            kindOf[slot] = r.type == emf::CreatePen ? quint32(emf::ExtCreatePen) : r.type;  // both are pens
        } else if (r.type == emf::SelectObject) {
            const quint32 slot = r.u32(8);
            if (slot & 0x80000000u) {
                selected[slot == 0x80000008u ? quint32(emf::ExtCreatePen) : quint32(emf::CreateBrushIndirect)] = slot;
                continue;
            }
            if (!kindOf.count(slot))
                return QStringLiteral("select of empty slot %1").arg(slot);
            selected[kindOf[slot]] = slot;
        } else if (r.type == emf::DeleteObject) {
            const quint32 slot = r.u32(8);
            if (!kindOf.count(slot) || selected[kindOf[slot]] == slot)
                return QStringLiteral("delete of slot %1").arg(slot);
            kindOf.erase(slot);
        }
    }
    return {};
}

QList<Rec> ofType(const QList<Rec>& recs, quint32 type)
{
    QList<Rec> out;
    for (const Rec& r : recs)
        if (r.type == type)
            out.append(r);
    return out;
}

QString textOf(const Rec& r) { return r.utf16(r.i32(48), r.i32(44)); }

}  // namespace

class EmfTest : public QObject {
    Q_OBJECT
private slots:
    void sceneRecordsLandWherePainted()
    {
        EmfDevice device(QSize(300, 200), QStringLiteral("ДОРК-5\nChart"));
        QPainter p(&device);
        p.translate(5, 7);
        p.setPen(QPen(Qt::red, 3, Qt::DashDotLine, Qt::FlatCap));
        p.drawLine(QPointF(0, 0), QPointF(100, 0));
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(10, 10, 20, 30));
        QFont font(QStringLiteral("Liberation Sans"));
        font.setPixelSize(16);
        p.setFont(font);
        p.setPen(Qt::blue);
        p.drawText(QPointF(10, 50), QStringLiteral("Прогиб"));
        p.save();
        p.rotate(-90);
        p.drawText(QPointF(-100, 20), QStringLiteral("f, мм."));
        p.restore();
        p.setClipRect(QRect(0, 0, 50, 50));
        p.drawPolyline(QPolygonF({QPointF(0, 0), QPointF(10, 10), QPointF(20, 0)}));
        p.setClipping(false);
        QImage img(4, 4, QImage::Format_RGB32);
        img.fill(Qt::green);
        p.drawImage(QRect(0, 0, 4, 4), img);
        // Many pen changes: the object slots are reused over and over.
        for (int i = 0; i < 20; ++i) {
            p.setPen(QPen(QColor(i, 0, 0), 1 + i % 3));
            p.setBrush(i % 2 ? QBrush(Qt::NoBrush) : QBrush(QColor(0, i, 0)));
            p.drawRect(QRectF(i, i, 2, 2));
        }
        QVERIFY(p.end());

        const QByteArray bytes = device.bytes();
        const QList<Rec> recs = readRecords(bytes);
        QVERIFY(!recs.isEmpty());
        const Rec& h = recs.first();
        QCOMPARE(h.type, quint32(emf::Header));
        QCOMPARE(h.u32(40), 0x464D4520u);  // " EMF"
        QCOMPARE(h.u32(48), quint32(bytes.size()));
        QCOMPARE(h.u32(52), quint32(recs.size()));
        QCOMPARE(QRect(QPoint(h.i32(8), h.i32(12)), QPoint(h.i32(16), h.i32(20))), QRect(0, 0, 300, 200));
        QCOMPARE(h.i32(32), qRound(300 * 2540 / 96.0) - 1);  // frame in hundredths of a millimetre
        QCOMPARE(h.utf16(h.i32(64), h.i32(60)), QStringLiteral("ДОРК-5") + QChar(0) + QStringLiteral("Chart") + QChar(0) + QChar(0));
        QCOMPARE(recs.last().type, quint32(emf::Eof));
        QCOMPARE(objectFault(recs, quint16(h.u32(56) & 0xFFFF)), QString());

        // The dashed red pen: geometric, dash-dot, flat ends, 3 wide.
        const QList<Rec> pens = ofType(recs, emf::ExtCreatePen);
        QVERIFY(!pens.isEmpty());
        QCOMPARE(pens.first().u32(28), 0x10000u | 0x200u | 3u | 0x1000u);
        QCOMPARE(pens.first().u32(32), 3u);
        QCOMPARE(pens.first().u32(40), 0x0000FFu);
        QCOMPARE(ofType(recs, emf::PolyPolyline16).first().points16(28, 36), (QList<QPoint>{{5, 7}, {105, 7}}));
        QCOMPARE(ofType(recs, emf::Polygon16).first().points16(24, 28).mid(0, 4),
                 (QList<QPoint>{{15, 17}, {35, 17}, {35, 47}, {15, 47}}));
        QCOMPARE(ofType(recs, emf::CreateBrushIndirect).first().u32(16), 0xFFFFFFu);

        // Texts: the characters, the baseline point, advances that add up to
        // the text's width, and the rotated one in a font turned by 90°.
        const QList<Rec> texts = ofType(recs, emf::ExtTextOutW);
        // The painter hands a text over in runs of one script each.
        QCOMPARE(texts.size(), 3);
        QCOMPARE(textOf(texts[0]), QStringLiteral("Прогиб"));
        QCOMPARE(QPoint(texts[0].i32(36), texts[0].i32(40)), QPoint(15, 57));
        qint32 sum = 0;
        for (int i = 0; i < 6; ++i)
            sum += texts[0].i32(texts[0].i32(72) + 4 * i);
        QCOMPARE(sum, qint32(std::lround(QFontMetricsF(font).horizontalAdvance(QStringLiteral("Прогиб")))));
        QCOMPARE(textOf(texts[1]) + textOf(texts[2]), QStringLiteral("f, мм."));
        QCOMPARE(texts[2].i32(36), 25);  // further up the same vertical baseline
        QVERIFY(texts[2].i32(40) < 107);
        QCOMPARE(QPoint(texts[1].i32(36), texts[1].i32(40)), QPoint(25, 107));
        const QList<Rec> fonts = ofType(recs, emf::ExtCreateFontIndirectW);
        QCOMPARE(fonts.size(), 2);  // one per direction
        QCOMPARE(fonts[0].i32(12), -16);
        QCOMPARE(fonts[1].i32(20), 900);  // escapement
        QCOMPARE(fonts[0].utf16(40, 15), QStringLiteral("Liberation Sans"));

        const QList<Rec> clips = ofType(recs, emf::IntersectClipRect);
        QCOMPARE(clips.size(), 1);
        QCOMPARE(QRect(QPoint(clips[0].i32(8), clips[0].i32(12)), QPoint(clips[0].i32(16) - 1, clips[0].i32(20) - 1)),
                 QRect(5, 7, 50, 50));
        const QList<Rec> dibs = ofType(recs, emf::StretchDIBits);
        QCOMPARE(dibs.size(), 1);
        QCOMPARE(dibs[0].data.size(), 120 + 4 * 4 * 4);
        QCOMPARE(dibs[0].u32(120) & 0xFFFFFFu, 0x00FF00u);  // a green pixel
    }

    void chartIsVectorsThatLibreOfficeRenders()
    {
        QCustomPlot chart;
        chart.resize(600, 400);
        chart.xAxis->setLabel(QStringLiteral("t, мин."));
        chart.yAxis->setLabel(QStringLiteral("f, мм."));
        for (QCPAxis* axis : {chart.xAxis, chart.yAxis}) {  // the reports' family, which every system has
            axis->setLabelFont(QFont(QStringLiteral("Arial"), 9));
            axis->setTickLabelFont(QFont(QStringLiteral("Arial"), 8));
        }
        auto* bars = new QCPBars(chart.xAxis, chart.yAxis);
        QVector<double> keys, values;
        for (int i = 0; i < 50; ++i)
            keys.append(i), values.append(std::sin(i / 5.0) * 4);
        bars->setData(keys, values);
        bars->setWidth(0.6);
        QCPGraph* line = chart.addGraph();
        line->setPen(QPen(Qt::red, 3));
        line->setData({0, 49}, {3, 3});
        chart.xAxis->setRange(-1, 50);
        chart.yAxis->setRange(-5, 5);

        const QByteArray bytes = report::chartEmf(chart, 600, 400);
        const QList<Rec> recs = readRecords(bytes);
        QVERIFY(!recs.isEmpty());
        QVERIFY(ofType(recs, emf::StretchDIBits).isEmpty());
        // Solid pens, the 3 wide red one among them, are plain CREATEPEN records.
        QVERIFY(ofType(recs, emf::ExtCreatePen).isEmpty());
        bool redPen = false;
        for (const Rec& r : ofType(recs, emf::CreatePen))
            redPen = redPen || (r.u32(12) == 0 && r.i32(16) == 3 && r.u32(24) == 0x0000FFu);
        QVERIFY(redPen);
        QVERIFY(ofType(recs, emf::Polygon16).size() + ofType(recs, emf::PolyPolygon16).size() >= 50);
        QString texts;
        for (const Rec& r : ofType(recs, emf::ExtTextOutW))
            texts += textOf(r);
        QVERIFY2(texts.contains(QStringLiteral("t, мин.")) && texts.contains(QStringLiteral("f, мм.")), qPrintable(texts));
        QCOMPARE(objectFault(recs, quint16(recs.first().u32(56) & 0xFFFF)), QString());

#ifdef _WIN32
        // The system plays the metafile into a bitmap.
        const QImage png = playWithGdi(bytes, 600, 400);
        QVERIFY2(!png.isNull(), "the system did not play the metafile");
#else
        if (!tooltest::haveSoffice())
            QSKIP("LibreOffice (soffice) is not installed");
        QTemporaryDir dir;
        QFile f(dir.filePath(QStringLiteral("chart.emf")));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        f.close();
        QString err;
        QVERIFY2(tooltest::soffice(dir.path(), {QStringLiteral("--convert-to"), QStringLiteral("png"),
                                                QStringLiteral("--outdir"), dir.path(), f.fileName()},
                                   err),
                 qPrintable(err));
        const QImage png(dir.filePath(QStringLiteral("chart.png")));
        QVERIFY2(!png.isNull(), "LibreOffice wrote no picture");
        // Draw puts the picture on a page.
#endif
        // The red threshold line, the filled bars, the axes and the texts are
        // on the picture.
        int red = 0, blue = 0, dark = 0;
        for (int y = 0; y < png.height(); ++y)
            for (int x = 0; x < png.width(); ++x) {
                const QColor c = png.pixelColor(x, y);
                red += c.red() > 200 && c.green() < 80 && c.blue() < 80;
                blue += c.blue() > 200 && c.red() < 100 && c.green() < 100;
                dark += c.lightness() < 80;
            }
        QVERIFY2(red > 500 && blue > 5000 && dark > 800,
                 qPrintable(QStringLiteral("%1 red, %2 blue, %3 dark").arg(red).arg(blue).arg(dark)));
    }
};

QTEST_MAIN(EmfTest)
#include "test_emf.moc"

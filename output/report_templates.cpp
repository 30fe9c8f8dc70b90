// Design of the three reports.  Sizes are screen units (pixels at 96 dpi);
// fonts are Arial in points.

#include "output/report_templates.h"

namespace report {
namespace {

const QSizeF A4(unitsFromMm(210), unitsFromMm(297));
const QString Product = QStringLiteral("ДОРК-5");

ObjectDef text(const QString& name, const QRectF& rect, const QString& value, double points, bool bold,
               Align align = Align::Left)
{
    ObjectDef o;
    o.name = name;
    o.rect = rect;
    o.text = value;
    o.font = Font{QStringLiteral("Arial"), points, bold};
    o.align = align;
    return o;
}

// Column title: centred in a frame.
ObjectDef columnTitle(double x, double width, double height, const QString& title, double points = 12)
{
    ObjectDef o = text(QString(), QRectF(x, 0, width, height), title, points, true, Align::Centre);
    o.frame = true;
    return o;
}

// Data cell of the list band: the record's field, centred in a frame.
ObjectDef dataCell(double x, double width, double height, const QString& field, const QString& format = {})
{
    ObjectDef o = text(QString(), QRectF(x, 0, width, height), QString(), 10, false, Align::Centre);
    o.field = field;
    o.numberFormat = format;
    o.frame = true;
    return o;
}

// Information line: left-aligned, unframed, wraps onto a second line when
// the text is longer than its place.
ObjectDef info(const char* name, double x, double width, double height, double points)
{
    ObjectDef o = text(QLatin1String(name), QRectF(x, 0, width, height), QString(), points, true);
    o.wrap = true;
    return o;
}

BandDef band(BandDef::Type type, double height, std::vector<ObjectDef> objects)
{
    return BandDef{type, height, std::move(objects)};
}

// "ДОРК-5" at the left, the archive's name in the middle of `width`.
BandDef titleBand(const QString& archive, double width)
{
    return band(BandDef::Type::ReportTitle, 40,
                {text(QString(), QRectF(0, 4, 150, 28), Product, 16, true),
                 text(QString(), QRectF(width / 2 - 200, 6, 400, 26), archive, 14, true, Align::Centre)});
}

BandDef footerBand(double width)
{
    return band(BandDef::Type::PageFooter, 24,
                {text(QString(), QRectF(0, 4, width, 18), QStringLiteral("Стр. [PAGE#] из [TOTALPAGES]"), 10,
                      false, Align::Right)});
}

PageDesign landscape(double left, double right)
{
    PageDesign d;
    d.paper = A4;
    d.landscape = true;
    d.marginLeft = left;
    d.marginRight = right;
    d.marginTop = unitsFromMm(10);
    d.marginBottom = unitsFromMm(10);
    return d;
}

// The list pages: A4 portrait with no page margins; the objects keep a small
// distance from the paper's edge so that a printer does not cut them.
PageDesign portraitList()
{
    PageDesign d;
    d.paper = A4;
    d.landscape = false;
    d.marginLeft = unitsFromMm(8);
    d.marginTop = unitsFromMm(5);
    d.marginBottom = unitsFromMm(5);
    return d;
}

// First page of a series report: title, information texts, note, chart.
PageDesign seriesFirstPage(const QString& archive, std::vector<ObjectDef> infoTexts, double infoHeight)
{
    PageDesign d = landscape(unitsFromMm(10), unitsFromMm(8));
    const double width = ChartWidth;
    ObjectDef note = text(QStringLiteral("Memo5"), QRectF(0, 4, 1019, 81), QString(), 12, false);
    note.wrap = true;
    ObjectDef chart;
    chart.kind = ObjectDef::Kind::Picture;
    chart.name = QStringLiteral("Picture1");
    chart.rect = QRectF(0, 4, ChartWidth, ChartHeight);
    d.bands = {titleBand(archive, width), band(BandDef::Type::PageHeader, infoHeight + 4, std::move(infoTexts)),
               band(BandDef::Type::Body, 89, {note}), band(BandDef::Type::Body, ChartHeight + 8, {chart}),
               footerBand(width)};
    return d;
}

}  // namespace

Template frReport1()
{
    Template t;
    t.name = QStringLiteral("frReport1");
    // Columns: 61 + 88 + 72 + 314 + 485 = 1020, centred on the landscape sheet.
    const double width = 1020;
    const double side = (A4.height() - width) / 2;
    PageDesign d = landscape(side, side);
    const double h = 24, row = 20;
    d.bands = {titleBand(QStringLiteral("Архив оперативный"), width),
               band(BandDef::Type::PageHeader, h,
                    {columnTitle(0, 61, h, QStringLiteral("N")), columnTitle(61, 88, h, QStringLiteral("Дата")),
                     columnTitle(149, 72, h, QStringLiteral("Время")),
                     columnTitle(221, 314, h, QStringLiteral("Прогиб f,мм.")),
                     columnTitle(535, 485, h, QStringLiteral("Примечание"))}),
               band(BandDef::Type::ListBand, row,
                    {dataCell(0, 61, row, QStringLiteral("N")), dataCell(61, 88, row, QStringLiteral("DATE")),
                     dataCell(149, 72, row, QStringLiteral("TIME")),
                     dataCell(221, 314, row, QStringLiteral("R"), QStringLiteral("0.0")),
                     dataCell(535, 485, row, QStringLiteral("COMMENT"))}),
               footerBand(width)};
    t.designs.push_back(std::move(d));
    return t;
}

Template frReport2()
{
    Template t;
    t.name = QStringLiteral("frReport2");
    const double ih = 22;  // one line of 12 point text
    t.designs.push_back(seriesFirstPage(QStringLiteral("Архив ждущий"),
                                        {info("Memo1", 0, 110, ih, 12), info("Memo2", 110, 245, ih, 12),
                                         info("Memo3", 355, 192, ih, 12), info("Memo4", 547, 183, ih, 12)},
                                        ih));
    PageDesign list = portraitList();
    const double h = 24, row = 18;
    list.bands = {titleBand(QStringLiteral("Архив ждущий"), 730),
                  band(BandDef::Type::PageHeader, ih + 6 + h,
                       {info("Memo14", 0, 110, ih, 12), info("Memo15", 110, 245, ih, 12),
                        info("Memo10", 355, 192, ih, 12), info("Memo11", 547, 183, ih, 12),
                        columnTitle(0, 110, h, QStringLiteral("Прогиб f, мм.")),
                        columnTitle(110, 244, h, QStringLiteral("Дата"))}),
                  band(BandDef::Type::ListBand, row,
                       {dataCell(0, 110, row, QStringLiteral("R")), dataCell(110, 244, row, QStringLiteral("ARTICLE"))})};
    // The column titles sit under the information line.
    for (int i = 4; i < 6; ++i)
        list.bands[1].objects[size_t(i)].rect.translate(0, ih + 6);
    t.designs.push_back(std::move(list));
    return t;
}

Template frReport3()
{
    Template t;
    t.name = QStringLiteral("frReport3");
    const double ih = 30;  // up to two lines of 10 point text
    t.designs.push_back(seriesFirstPage(QStringLiteral("Архив наблюдения"),
                                        {info("Memo1", 0, 110, ih, 10), info("Memo2", 110, 258, ih, 10),
                                         info("Memo21", 368, 265, ih, 10), info("Memo3", 633, 192, ih, 10),
                                         info("Memo4", 825, 183, ih, 10)},
                                        ih));
    PageDesign list = portraitList();
    const double h = 24, row = 18;
    list.bands = {titleBand(QStringLiteral("Архив наблюдения"), 720),
                  band(BandDef::Type::PageHeader, ih + 6 + h,
                       {info("Memo8", 0, 95, ih, 10), info("Memo9", 95, 193, ih, 10),
                        info("Memo14", 288, 223, ih, 10), info("Memo10", 511, 124, ih, 10),
                        info("Memo11", 635, 85, ih, 10), columnTitle(0, 110, h, QStringLiteral("Прогиб f, мм.")),
                        columnTitle(110, 104, h, QStringLiteral("№"))}),
                  band(BandDef::Type::ListBand, row,
                       {dataCell(0, 110, row, QStringLiteral("R")), dataCell(110, 104, row, QStringLiteral("N"))})};
    for (int i = 5; i < 7; ++i)
        list.bands[1].objects[size_t(i)].rect.translate(0, ih + 6);
    t.designs.push_back(std::move(list));
    return t;
}

void frReport2BeforePrint(ObjectFill& o, const WaitingTexts& s, int chartPicture)
{
    const QString& n = o.name;
    if (n == QLatin1String("Memo1") || n == QLatin1String("Memo14"))
        o.text = QStringLiteral("№ Серии: ") + s.series;
    else if (n == QLatin1String("Memo2") || n == QLatin1String("Memo15"))
        o.text = QStringLiteral("Дата: ") + s.start;
    else if (n == QLatin1String("Memo3") || n == QLatin1String("Memo10"))
        o.text = QStringLiteral("Длительность: ") + s.duration;
    else if (n == QLatin1String("Memo4") || n == QLatin1String("Memo11"))
        o.text = QStringLiteral("Порог: ") + s.threshold;
    else if (n == QLatin1String("Memo5"))
        o.text = s.note;
    else if (n == QLatin1String("Picture1"))
        o.picture = chartPicture;
}

void frReport3BeforePrint(ObjectFill& o, const ObservationTexts& s, int chartPicture)
{
    const QString& n = o.name;
    if (n == QLatin1String("Memo1") || n == QLatin1String("Memo8"))
        o.text = QStringLiteral("№ Серии: ") + s.series;
    else if (n == QLatin1String("Memo2") || n == QLatin1String("Memo9"))
        o.text = QStringLiteral("Дата начала: ") + s.start;
    else if (n == QLatin1String("Memo21") || n == QLatin1String("Memo14"))
        o.text = QStringLiteral("Дата окончания: ") + s.end;
    else if (n == QLatin1String("Memo3") || n == QLatin1String("Memo10"))
        o.text = QStringLiteral("Длительность: ") + s.duration;
    else if (n == QLatin1String("Memo4") || n == QLatin1String("Memo11"))
        o.text = QStringLiteral("Интервал: ") + s.interval;
    else if (n == QLatin1String("Memo5"))
        o.text = s.note;
    else if (n == QLatin1String("Picture1"))
        o.picture = chartPicture;
}

}  // namespace report

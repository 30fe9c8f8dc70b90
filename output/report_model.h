#pragma once
// The banded report model: a template (page designs made of bands of framed
// texts and picture slots) and the prepared report the engine lays it out
// into (pages of positioned texts and pictures).  Window-free: prepared pages
// are plain data that the painter, the PDF writer and the workbook exporter
// all read, and that tests inspect directly.
//
// Units: lengths are screen units, pixels at 96 dots per inch, measured from
// the top-left corner of the paper.

#include <QByteArray>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace report {

constexpr double UnitsPerInch = 96.0;
constexpr double unitsFromMm(double mm) { return mm * UnitsPerInch / 25.4; }

struct Font {
    QString family = QStringLiteral("Arial");
    double points = 10;
    bool bold = false;
    bool operator==(const Font&) const = default;
};

enum class Align { Left, Centre, Right };

// One object of a band.  A text object prints `text`, in which "[PAGE#]" and
// "[TOTALPAGES]" stand for the page number and the page count; a data object
// (field set) prints the field of the current record instead.
struct ObjectDef {
    enum class Kind { Text, Picture };
    Kind kind = Kind::Text;
    QString name;  // "Memo1", "Picture1" ...
    QRectF rect;   // within the band
    QString text;
    QString field;         // data field of the list band's record
    QString numberFormat;  // "0.0": fixed decimals with a decimal comma; empty: as stored
    Font font;
    Align align = Align::Left;
    bool frame = false;  // thin frame on all four sides
    bool wrap = false;   // word-wrapped block (notes); otherwise one line
};

struct BandDef {
    // A title prints once at the top of its design's first page, a page
    // header at the top of every page of the design (below the title), a
    // body band once after them, a list band once per record, and a page
    // footer at the bottom of every page of the design.
    enum class Type { ReportTitle, PageHeader, Body, ListBand, PageFooter };
    Type type = Type::ListBand;
    double height = 0;
    std::vector<ObjectDef> objects;
};

struct PageDesign {
    QSizeF paper;  // portrait size of the sheet (A4: 210 x 297 mm)
    bool landscape = false;
    double marginLeft = 0, marginTop = 0, marginRight = 0, marginBottom = 0;
    std::vector<BandDef> bands;

    QSizeF pageSize() const { return landscape ? paper.transposed() : paper; }
};

struct Template {
    QString name;  // "frReport1" ...
    std::vector<PageDesign> designs;
};

// ---- prepared pages ----------------------------------------------------

struct PreparedText {
    QRectF rect;  // on the page
    QString text;
    std::optional<double> number;  // the value behind a numeric data cell
    uint16_t font = 0;             // index into PreparedReport::fonts
    uint16_t numberFormat = 0;     // index into PreparedReport::numberFormats (0: none)
    Align align = Align::Left;
    bool frame = false;
    bool wrap = false;
};

struct PreparedPicture {
    QRectF rect;
    int source = -1;  // index into PreparedReport::pictures; -1: empty slot
};

struct PreparedPage {
    int design = 0;  // which page design laid it out
    QSizeF size;
    bool landscape = false;
    std::vector<PreparedText> texts;
    std::vector<PreparedPicture> pictures;
};

// A picture's content: a vector drawing (SVG) to print and preview, and the
// same picture as PNG for the workbook.
struct PictureSource {
    QByteArray svg;
    QByteArray png;
    QSizeF size;
};

struct PreparedReport {
    QString name;
    std::vector<PreparedPage> pages;
    std::vector<Font> fonts;
    std::vector<QString> numberFormats{QString()};
    std::vector<PictureSource> pictures;

    int pageCount() const { return int(pages.size()); }
    uint16_t fontIndex(const Font& f);
    uint16_t numberFormatIndex(const QString& format);
};

// ---- what the engine reads ------------------------------------------------

// The records of the list band, in the order they are printed.
class RecordSource {
public:
    virtual ~RecordSource() = default;
    virtual int count() const = 0;
    virtual void moveTo(int row) = 0;
    virtual QString text(const QString& field) const = 0;
    // The field's value when it is a number and not blank.
    virtual std::optional<double> number(const QString& field) const = 0;
};

// What the program fills in just before an object prints: called for every
// object, with its name.  A handler changes `text` or sets `picture`.
struct ObjectFill {
    const QString& name;
    QString& text;
    int& picture;  // index into PreparedReport::pictures, -1 for none
};
using BeforePrint = std::function<void(ObjectFill&)>;

// Text sizes in report units as the painter draws them.  With them the
// engine keeps every text inside its box: a text wider than its box is broken
// into lines ("\n" in the prepared text) and the box, its band and the band's
// other boxes that reach its bottom grow to hold them; boxes below move down.
// Without them texts are placed as designed.
struct TextMetrics {
    std::function<double(const Font&, const QString&)> width;
    std::function<double(const Font&)> lineHeight;
    explicit operator bool() const { return width && lineHeight; }
};

// Inner distance between a text and its box, in report units: left and
// right, and at the top of a block of several lines.
constexpr double TextPadding = 2;

// The lines `text` prints on within `width` units: breaks at its own line
// breaks, then between words, and inside a word only when the word alone is
// wider than the line.
QStringList breakLines(const TextMetrics& metrics, const Font& font, const QString& text, double width);

// Lays the template out.  `records` may be null for a template without a
// list band.  Pictures that the handler refers to must already be in
// `report.pictures` (the caller adds them before calling).
void prepare(const Template& tpl, RecordSource* records, const BeforePrint& beforePrint,
             PreparedReport& report, const TextMetrics& metrics = {});

// "0.0" -> one decimal with a decimal comma; empty format -> `stored`.
QString formatNumber(double value, const QString& format);

}  // namespace report

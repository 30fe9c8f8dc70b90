#pragma once
// Writer of Excel 97-2003 workbooks (BIFF8 in a compound file, ".xls").
// Window-free: the exporter fills a Workbook from a prepared report and this
// module turns it into bytes.  Readers it is checked against: xlrd,
// LibreOffice Calc.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <variant>
#include <vector>

namespace xls {

// A sheet holds rows 0 .. MaxRows - 1 and columns 0 .. MaxColumns - 1,
// rows of at most MaxRowPoints and at most MaxPageBreaks manual page breaks.
constexpr int MaxRows = 65536;
constexpr int MaxColumns = 256;
constexpr double MaxRowPoints = 409.5;
constexpr int MaxPageBreaks = 1026;

enum class HAlign { General, Left, Centre, Right };
enum class VAlign { Top, Centre, Bottom };

struct CellStyle {
    QString fontName = QStringLiteral("Arial");
    double fontPoints = 10;
    bool bold = false;
    HAlign hAlign = HAlign::General;
    VAlign vAlign = VAlign::Bottom;
    bool wrap = false;
    bool border = false;      // thin black line on all four sides
    QString numberFormat;     // Excel format code ("0.0"); empty: General

    bool operator==(const CellStyle&) const = default;
};

// Empty (monostate) cells are written as BLANK so that their style (a
// border) shows; so are numbers a sheet cannot hold (NaN, infinity).
using CellValue = std::variant<std::monostate, QString, double>;

struct Cell {
    int row = 0;
    int col = 0;
    CellValue value;
    CellStyle style;
};

struct Merge {  // inclusive ranges; the top-left cell carries the value
    int firstRow, lastRow, firstCol, lastCol;
};

// A picture floating over the cells, anchored at its top-left cell with an
// offset in pixels, drawn at its own size in pixels (96 dpi).  A width or
// height of 0 takes the PNG's own.
struct Picture {
    QByteArray png;  // PNG file bytes
    int row = 0, col = 0;
    int dxPx = 0, dyPx = 0;
    int widthPx = 0, heightPx = 0;
};

struct PageSetup {
    bool landscape = false;
    double leftInch = 0.75, rightInch = 0.75, topInch = 1.0, bottomInch = 1.0;
    double headerInch = 0.5, footerInch = 0.5;
    int paperSize = 9;  // A4
    // Printed at this size, 10 to 400 %.
    int scalePercent = 100;
    // Printed scaled to the paper's width (as many pages down as needed)
    // instead of at scalePercent.  Excel ignores manual page breaks then.
    bool fitToWidth = false;
};

struct Sheet {
    QString name;                            // 1..31 chars, unique, none of : \ / ? * [ ]
    std::vector<Cell> cells;                 // any order; one cell per (row, col)
    std::map<int, int> columnWidthsPx;       // column -> width in pixels
    std::map<int, double> rowHeightsPoints;  // row -> height in points
    std::vector<int> pageBreaks;             // rows that begin a printed page, ascending, > 0
    std::vector<Merge> merges;
    std::vector<Picture> pictures;
    PageSetup page;
};

// A column's width in the sheet's units (1/256 of a character of the
// default font, Arial 10) for a width in pixels as Excel shows it at 100 %:
// a column of c characters (c >= 1) is c * 7 + 5 pixels wide, a narrower one
// c * 12.
int columnWidthUnits(int px);

struct Workbook {
    std::vector<Sheet> sheets;  // at least one
};

class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The whole .xls file.  Throws Error for a workbook it cannot represent
// (no sheet, a cell outside the sheet, a bad sheet name, two cells in one
// place, overlapping merges, a text over 32767 characters, a picture that is
// not a PNG or runs off the sheet, a row too high, page breaks out of order
// or too many, a scale outside 10..400 %).
QByteArray toBytes(const Workbook& book);

// Writes the file to a work file beside `path` and renames it into place
// once complete, so that a failure never leaves a half-written file and
// never touches an existing one.  A target that is not a regular file, or
// an existing file that is write-protected, is refused before anything is
// written.  Throws Error with a Russian message that names the file.
void save(const Workbook& book, const QString& path);

}  // namespace xls

#include "output/report_workbook.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

namespace report {
namespace {

// Edges closer than this (report units) fall on one column or row border,
// so that objects that almost line up share their cells.
constexpr double ColumnSnap = 6;
constexpr double RowSnap = 4;

// Sorted, snapped borders: each edge maps to the border at or just before it.
class Borders {
public:
    void add(double v) { raw_.push_back(v); }
    void finish(double snap)
    {
        std::sort(raw_.begin(), raw_.end());
        for (double v : raw_)
            if (edges_.empty() || v - edges_.back() > snap)
                edges_.push_back(v);
        raw_.clear();
        raw_.shrink_to_fit();
    }
    // Index of the border nearest to v.
    int index(double v) const
    {
        auto it = std::lower_bound(edges_.begin(), edges_.end(), v);
        if (it == edges_.end())
            return int(edges_.size()) - 1;
        if (it != edges_.begin() && v - *(it - 1) < *it - v)
            --it;
        return int(it - edges_.begin());
    }
    const std::vector<double>& edges() const { return edges_; }
    // Adds borders inside every gap wider than `max`, sharing it equally,
    // so that no row or column is wider than a sheet allows.
    void limitGaps(double max)
    {
        std::vector<double> out;
        out.reserve(edges_.size());
        for (size_t i = 0; i < edges_.size(); ++i) {
            if (i > 0) {
                const double gap = edges_[i] - edges_[i - 1];
                const int parts = int(std::ceil(gap / max));
                for (int k = 1; k < parts; ++k)
                    out.push_back(edges_[i - 1] + gap * k / parts);
            }
            out.push_back(edges_[i]);
        }
        edges_ = std::move(out);
    }

private:
    std::vector<double> raw_;
    std::vector<double> edges_;
};

// Left edge of a page's content: the leftmost object.  Pages of different
// designs (other margins) are aligned on it.
double contentLeft(const PreparedPage& page)
{
    double left = page.size.width();
    for (const PreparedText& t : page.texts)
        left = std::min(left, t.rect.left());
    for (const PreparedPicture& p : page.pictures)
        left = std::min(left, p.rect.left());
    return left;
}

// The highest row a page's rows may have, in report units: a little under
// the sheet's limit so that rounding to twips never passes it.
constexpr double MaxRowUnits = (xls::MaxRowPoints - 4) * UnitsPerInch / 72.0;

// The print scale at which a page of the given size (inches) fits the
// sheet's paper (A4) within its margins: at most 100 %, with room for a
// printer's font measuring wider than the screen's and for LibreOffice,
// which lays rows out a little higher than their stored heights.
int printScale(const xls::PageSetup& page, double widthInch, double heightInch)
{
    const double shortSide = 210 / 25.4, longSide = 297 / 25.4;
    const double w = (page.landscape ? longSide : shortSide) - page.leftInch - page.rightInch;
    const double h = (page.landscape ? shortSide : longSide) - page.topInch - page.bottomInch;
    double scale = 100;
    if (widthInch > 0)
        scale = std::min(scale, 94 * w / widthInch);
    if (heightInch > 0)
        scale = std::min(scale, 94 * h / heightInch);
    return std::clamp(int(std::floor(scale)), 10, 100);
}

xls::CellStyle styleOf(const PreparedReport& report, const PreparedText& t)
{
    xls::CellStyle s;
    const Font& f = report.fonts[t.font];
    s.fontName = f.family;
    s.fontPoints = f.points;
    s.bold = f.bold;
    s.hAlign = t.align == Align::Centre ? xls::HAlign::Centre
               : t.align == Align::Right ? xls::HAlign::Right
                                         : xls::HAlign::Left;
    s.vAlign = t.wrap ? xls::VAlign::Top : xls::VAlign::Centre;
    s.wrap = t.wrap;
    s.border = t.frame;
    if (t.number)
        s.numberFormat = report.numberFormats[t.numberFormat];
    return s;
}

}  // namespace

xls::Workbook toWorkbook(const PreparedReport& report, int maxRowsPerSheet)
{
    // Columns: one set of borders for the whole report, from every object's
    // left and right edge measured from its page's content edge.
    std::vector<double> lefts(report.pages.size());
    Borders columns;
    std::set<int> designsSeen;
    for (size_t i = 0; i < report.pages.size(); ++i) {
        const PreparedPage& page = report.pages[i];
        lefts[i] = contentLeft(page);
        // Pages of one design repeat the same columns; a design's first two
        // pages (with and without its title) give them all.
        if (designsSeen.count(page.design * 2 + (i > 0 && report.pages[i - 1].design == page.design)))
            continue;
        designsSeen.insert(page.design * 2 + (i > 0 && report.pages[i - 1].design == page.design));
        for (const PreparedText& t : page.texts) {
            columns.add(t.rect.left() - lefts[i]);
            columns.add(t.rect.right() - lefts[i]);
        }
        for (const PreparedPicture& p : page.pictures) {
            columns.add(p.rect.left() - lefts[i]);
            columns.add(p.rect.right() - lefts[i]);
        }
    }
    columns.add(0);
    columns.finish(ColumnSnap);
    const std::vector<double>& colEdges = columns.edges();

    // Each prepared page prints as a page of its own: a manual page break
    // before it and a print scale at which every page of its sheet fits the
    // paper.  A sheet has one orientation, so a page whose orientation
    // differs from the page before begins a new sheet.
    xls::Workbook book;
    std::vector<double> tallestPage, widestPage;  // per sheet, points and units
    auto newSheet = [&](const PreparedPage& first) {
        xls::Sheet s;
        s.name = QStringLiteral("Лист%1").arg(book.sheets.size() + 1);
        for (size_t c = 0; c + 1 < colEdges.size(); ++c)
            s.columnWidthsPx[int(c)] = std::max(1, int(std::lround(colEdges[c + 1] - colEdges[c])));
        s.page.landscape = first.landscape;
        s.page.leftInch = s.page.rightInch = 0.25;
        s.page.topInch = s.page.bottomInch = 0.4;
        s.page.headerInch = s.page.footerInch = 0.2;
        book.sheets.push_back(std::move(s));
        tallestPage.push_back(0);
        widestPage.push_back(0);
    };

    int row = 0;  // next free row of the current sheet
    for (size_t i = 0; i < report.pages.size(); ++i) {
        const PreparedPage& page = report.pages[i];
        const double left = lefts[i];
        Borders rows;
        for (const PreparedText& t : page.texts) {
            rows.add(t.rect.top());
            rows.add(t.rect.bottom());
        }
        for (const PreparedPicture& p : page.pictures) {
            rows.add(p.rect.top());
            rows.add(p.rect.bottom());
        }
        rows.finish(RowSnap);
        rows.limitGaps(MaxRowUnits);
        const std::vector<double>& rowEdges = rows.edges();
        const int pageRows = std::max(1, int(rowEdges.size()) - 1);
        if (book.sheets.empty() || row + pageRows > maxRowsPerSheet || page.landscape != book.sheets.back().page.landscape ||
            int(book.sheets.back().pageBreaks.size()) >= xls::MaxPageBreaks) {
            newSheet(page);
            row = 0;
        } else {
            book.sheets.back().pageBreaks.push_back(row);
        }
        xls::Sheet& sheet = book.sheets.back();
        double pageHeight = 0;
        for (int r = 0; r + 1 < int(rowEdges.size()); ++r) {
            const double points = (rowEdges[size_t(r) + 1] - rowEdges[size_t(r)]) * 72.0 / UnitsPerInch;
            sheet.rowHeightsPoints[row + r] = points;
            pageHeight += points;
        }
        tallestPage.back() = std::max(tallestPage.back(), pageHeight);
        double right = left;
        for (const PreparedText& t : page.texts)
            right = std::max(right, t.rect.right());
        for (const PreparedPicture& p : page.pictures)
            right = std::max(right, p.rect.right());
        widestPage.back() = std::max(widestPage.back(), right - left);

        // Cells already filled on this page, merged ranges included: a text
        // whose place overlaps another's moves right into the free part, or
        // is dropped when there is none (it would be covered anyway).
        std::set<std::pair<int, int>> taken;
        auto free = [&taken](int r0, int r1, int c) {
            for (int r = r0; r <= r1; ++r)
                if (taken.count({r, c}))
                    return false;
            return true;
        };
        for (const PreparedText& t : page.texts) {
            const int r0 = row + rows.index(t.rect.top());
            const int r1 = std::max(r0, row + rows.index(t.rect.bottom()) - 1);
            int c0 = columns.index(t.rect.left() - left);
            int c1 = std::min(std::max(c0, columns.index(t.rect.right() - left) - 1), xls::MaxColumns - 1);
            while (c0 <= c1 && !free(r0, r1, c0))
                ++c0;
            if (c0 > c1)
                continue;
            for (int c = c0 + 1; c <= c1; ++c)
                if (!free(r0, r1, c)) {
                    c1 = c - 1;
                    break;
                }
            for (int rr = r0; rr <= r1; ++rr)
                for (int cc = c0; cc <= c1; ++cc)
                    taken.insert({rr, cc});
            const xls::CellStyle style = styleOf(report, t);
            xls::Cell cell{r0, c0, {}, style};
            if (t.number)
                cell.value = *t.number;
            else if (!t.text.isEmpty())
                cell.value = t.text;
            sheet.cells.push_back(std::move(cell));
            // The writer gives the rest of a merged range the top-left
            // cell's style, so a framed range shows its borders.
            if (r1 > r0 || c1 > c0)
                sheet.merges.push_back({r0, r1, c0, c1});
        }
        for (const PreparedPicture& p : page.pictures) {
            // A slot without a chart (none was drawn) stays empty.
            if (p.source < 0 || p.source >= int(report.pictures.size()) || report.pictures[size_t(p.source)].png.isEmpty())
                continue;
            xls::Picture pic;
            pic.png = report.pictures[size_t(p.source)].png;
            const int r = rows.index(p.rect.top());
            const int c = columns.index(p.rect.left() - left);
            pic.row = row + r;
            pic.col = c;
            pic.dxPx = std::max(0, int(std::lround(p.rect.left() - left - colEdges[size_t(c)])));
            pic.dyPx = std::max(0, int(std::lround(p.rect.top() - rowEdges[size_t(r)])));
            pic.widthPx = int(std::lround(p.rect.width()));
            pic.heightPx = int(std::lround(p.rect.height()));
            sheet.pictures.push_back(std::move(pic));
        }
        row += pageRows;
    }
    for (size_t i = 0; i < book.sheets.size(); ++i)
        book.sheets[i].page.scalePercent = printScale(book.sheets[i].page, widestPage[i] / UnitsPerInch, tallestPage[i] / 72.0);
    if (book.sheets.empty()) {
        xls::Sheet s;
        s.name = QStringLiteral("Лист1");
        book.sheets.push_back(std::move(s));
    }
    return book;
}

}  // namespace report

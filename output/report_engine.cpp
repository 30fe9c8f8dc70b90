// Lays a report template out into prepared pages.

#include "output/report_model.h"

#include <QLocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/app_locale.h"

namespace report {

uint16_t PreparedReport::fontIndex(const Font& f)
{
    for (size_t i = 0; i < fonts.size(); ++i)
        if (fonts[i] == f)
            return uint16_t(i);
    fonts.push_back(f);
    return uint16_t(fonts.size() - 1);
}

uint16_t PreparedReport::numberFormatIndex(const QString& format)
{
    for (size_t i = 0; i < numberFormats.size(); ++i)
        if (numberFormats[i] == format)
            return uint16_t(i);
    numberFormats.push_back(format);
    return uint16_t(numberFormats.size() - 1);
}

QString formatNumber(double value, const QString& format)
{
    // Formats of the form "0", "0.0", "0.00" ...: fixed decimals.
    const int point = format.indexOf(QLatin1Char('.'));
    const int decimals = point < 0 ? 0 : int(format.size() - point - 1);
    if (!std::isfinite(value))
        return {};
    // Rounded half away from zero on the number's 15-digit decimal form, so
    // that a stored 5.55 prints 5,6 although the nearest double lies below.
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
    std::string digits;
    digits += buf[0];
    digits.append(buf + 2, 14);
    const int exponent = std::atoi(std::strchr(buf, 'e') + 1);
    // value = 0.d1 d2 ... d15 x 10^(exponent + 1); keep the digits up to
    // the last decimal wanted.
    const int keep = exponent + 1 + decimals;
    QString out;
    if (keep < 0) {
        out = QString(decimals + 1, QLatin1Char('0'));
    } else {
        std::string kept = digits.substr(0, size_t(std::min(keep, 15)));
        kept.append(size_t(std::max(0, keep - 15)), '0');
        if (keep < 15 && digits[size_t(keep)] >= '5') {
            int i = int(kept.size()) - 1;
            for (; i >= 0 && kept[size_t(i)] == '9'; --i)
                kept[size_t(i)] = '0';
            if (i >= 0)
                ++kept[size_t(i)];
            else
                kept.insert(kept.begin(), '1');
        }
        while (int(kept.size()) < decimals + 1)
            kept.insert(kept.begin(), '0');
        out = QString::fromLatin1(kept.data(), qsizetype(kept.size()));
    }
    if (decimals > 0)
        out.insert(out.size() - decimals, appLocale().decimalPoint());
    const bool zero = out.count(QLatin1Char('0')) + (decimals > 0) == out.size();
    if (value < 0 && !zero)
        out.prepend(QLatin1Char('-'));
    return out;
}

namespace {

const QString PageToken = QStringLiteral("[PAGE#]");
const QString TotalToken = QStringLiteral("[TOTALPAGES]");

class Layout {
public:
    Layout(PreparedReport& out, const BeforePrint& beforePrint) : out_(out), beforePrint_(beforePrint) {}

    void run(const Template& tpl, RecordSource* records)
    {
        out_.name = tpl.name;
        for (size_t d = 0; d < tpl.designs.size(); ++d)
            runDesign(int(d), tpl.designs[d], records);
        // Page counts are known only now.
        const QString total = QString::number(out_.pages.size());
        for (auto [page, text] : totals_) {
            QString& t = out_.pages[size_t(page)].texts[size_t(text)].text;
            t.replace(TotalToken, total);
        }
    }

private:
    void runDesign(int index, const PageDesign& design, RecordSource* records)
    {
        design_ = &design;
        designIndex_ = index;
        footer_ = nullptr;
        for (const BandDef& b : design.bands)
            if (b.type == BandDef::Type::PageFooter)
                footer_ = &b;
        newPage();
        for (const BandDef& b : design.bands)
            if (b.type == BandDef::Type::ReportTitle)
                place(b);
        printHeaders();
        for (const BandDef& b : design.bands) {
            if (b.type == BandDef::Type::Body) {
                fit(b.height);
                place(b);
            } else if (b.type == BandDef::Type::ListBand && records) {
                const int n = records->count();
                for (int r = 0; r < n; ++r) {
                    records->moveTo(r);
                    fit(b.height);
                    place(b, records);
                }
            }
        }
        finishPage();
    }

    double bottomLimit() const
    {
        return design_->pageSize().height() - design_->marginBottom - (footer_ ? footer_->height : 0);
    }

    // Starts a new page when a band of this height no longer fits (unless
    // the page holds nothing but its headers: then it overflows).
    void fit(double height)
    {
        if (y_ + height <= bottomLimit() + 1e-6 || y_ <= headerEnd_ + 1e-6)
            return;
        finishPage();
        newPage();
        printHeaders();
    }

    void newPage()
    {
        PreparedPage p;
        p.design = designIndex_;
        p.size = design_->pageSize();
        p.landscape = design_->landscape;
        out_.pages.push_back(std::move(p));
        y_ = design_->marginTop;
    }

    void printHeaders()
    {
        for (const BandDef& b : design_->bands)
            if (b.type == BandDef::Type::PageHeader)
                place(b);
        headerEnd_ = y_;
    }

    void finishPage()
    {
        if (!footer_)
            return;
        y_ = design_->pageSize().height() - design_->marginBottom - footer_->height;
        place(*footer_);
    }

    void place(const BandDef& band, RecordSource* record = nullptr)
    {
        PreparedPage& page = out_.pages.back();
        const double x0 = design_->marginLeft;
        for (const ObjectDef& o : band.objects) {
            const QRectF rect = o.rect.translated(x0, y_);
            QString text = o.text;
            int picture = -1;
            std::optional<double> number;
            if (!o.field.isEmpty() && record) {
                number = record->number(o.field);
                text = number && !o.numberFormat.isEmpty() ? formatNumber(*number, o.numberFormat)
                                                           : record->text(o.field);
            }
            if (beforePrint_ && !o.name.isEmpty()) {
                ObjectFill fill{o.name, text, picture};
                beforePrint_(fill);
            }
            if (o.kind == ObjectDef::Kind::Picture) {
                page.pictures.push_back({rect, picture});
                continue;
            }
            if (text.contains(PageToken))
                text.replace(PageToken, QString::number(out_.pages.size()));
            PreparedText t;
            t.rect = rect;
            t.number = number;
            t.font = out_.fontIndex(o.font);
            t.numberFormat = number ? out_.numberFormatIndex(o.numberFormat) : 0;
            t.align = o.align;
            t.frame = o.frame;
            t.wrap = o.wrap;
            if (text.contains(TotalToken))
                totals_.emplace_back(int(out_.pages.size() - 1), int(page.texts.size()));
            t.text = std::move(text);
            page.texts.push_back(std::move(t));
        }
        y_ += band.height;
    }

    PreparedReport& out_;
    const BeforePrint& beforePrint_;
    const PageDesign* design_ = nullptr;
    const BandDef* footer_ = nullptr;
    int designIndex_ = 0;
    double y_ = 0;
    double headerEnd_ = 0;
    std::vector<std::pair<int, int>> totals_;  // (page, text) holding the page count token
};

}  // namespace

void prepare(const Template& tpl, RecordSource* records, const BeforePrint& beforePrint, PreparedReport& report)
{
    report.pages.clear();
    Layout(report, beforePrint).run(tpl, records);
}

}  // namespace report

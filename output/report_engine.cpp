// Lays a report template out into prepared pages.

#include "output/report_model.h"

#include <QLocale>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ground/app_locale.h"

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

QStringList breakLines(const TextMetrics& metrics, const Font& font, const QString& text, double width)
{
    QStringList lines;
    for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
        QString line;
        // Appends a word, breaking it where it alone is wider than a line.
        auto addWord = [&](const QString& word) {
            const QString joined = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
            if (metrics.width(font, joined) <= width) {
                line = joined;
                return;
            }
            if (!line.isEmpty())
                lines << line;
            line.clear();
            for (QChar c : word) {
                if (!line.isEmpty() && metrics.width(font, line + c) > width) {
                    lines << line;
                    line.clear();
                }
                line += c;
            }
        };
        for (const QString& word : paragraph.split(QLatin1Char(' '), Qt::SkipEmptyParts))
            addWord(word);
        lines << line;
    }
    return lines;
}

namespace {

const QString PageToken = QStringLiteral("[PAGE#]");
const QString TotalToken = QStringLiteral("[TOTALPAGES]");

class Layout {
public:
    Layout(PreparedReport& out, const BeforePrint& beforePrint, const TextMetrics& metrics)
        : out_(out), beforePrint_(beforePrint), metrics_(metrics)
    {
    }

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
                place(b, nullptr, true);
            } else if (b.type == BandDef::Type::ListBand && records) {
                const int n = records->count();
                for (int r = 0; r < n; ++r) {
                    records->moveTo(r);
                    place(b, records, true);
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

    // A band's objects as they will print: texts filled in, broken into
    // lines that fit, and boxes grown to hold them.  Positions are still
    // relative to the band; `height` is the band's height after growing.
    struct Placed {
        const ObjectDef* def;
        QRectF rect;
        QString text;
        int picture = -1;
        std::optional<double> number;
        bool wrap = false;
    };

    std::vector<Placed> evaluate(const BandDef& band, RecordSource* record, double& height)
    {
        std::vector<Placed> out;
        out.reserve(band.objects.size());
        std::vector<std::pair<size_t, double>> grown;  // object, height it needs
        for (const ObjectDef& o : band.objects) {
            Placed p{&o, o.rect, o.text, -1, std::nullopt, o.wrap};
            if (!o.field.isEmpty() && record) {
                p.number = record->number(o.field);
                p.text = p.number && !o.numberFormat.isEmpty() ? formatNumber(*p.number, o.numberFormat)
                                                               : record->text(o.field);
            }
            if (beforePrint_ && !o.name.isEmpty()) {
                ObjectFill fill{o.name, p.text, p.picture};
                beforePrint_(fill);
            }
            if (metrics_ && o.kind == ObjectDef::Kind::Text && !p.text.isEmpty()) {
                const double need = fitText(o, p);
                if (need > o.rect.height() + 1e-6)
                    grown.emplace_back(out.size(), need);
            }
            out.push_back(std::move(p));
        }
        height = band.height;
        if (grown.empty())
            return out;
        // The band opens up under each grown box: extra height is inserted
        // at the box's bottom edge, so boxes below it move down, boxes
        // beside it that reach that edge (the other cells of a row) grow
        // with it, and boxes stacked one over another add up.
        std::sort(grown.begin(), grown.end(), [&out](const auto& a, const auto& b) {
            return out[a.first].def->rect.bottom() < out[b.first].def->rect.bottom();
        });
        std::vector<std::pair<double, double>> inserted;  // edge, extra height; edges ascending
        auto shift = [&inserted](double y, bool strictlyAbove) {
            double s = 0;
            for (const auto& [edge, extra] : inserted)
                if (strictlyAbove ? edge < y - 1e-6 : edge <= y + 1e-6)
                    s += extra;
            return s;
        };
        for (const auto& [index, need] : grown) {
            const QRectF& r = out[index].def->rect;
            const double extra = need - (r.height() + shift(r.bottom(), true) - shift(r.top(), false));
            if (extra <= 1e-6)
                continue;
            if (!inserted.empty() && inserted.back().first >= r.bottom() - 1e-6)
                inserted.back().second = std::max(inserted.back().second, extra);
            else
                inserted.emplace_back(r.bottom(), extra);
        }
        for (Placed& p : out) {
            const QRectF& r = p.def->rect;
            const double top = r.top() + shift(r.top(), false);
            p.rect = QRectF(r.left(), top, r.width(), r.bottom() + shift(r.bottom(), false) - top);
        }
        height = band.height + shift(band.height, false);
        return out;
    }

    // Breaks the text when it does not fit its box on one line; returns the
    // height the box needs.
    double fitText(const ObjectDef& o, Placed& p)
    {
        const Font& f = o.font;
        const double inner = o.rect.width() - 2 * TextPadding;
        // A block of lines keeps a little room to spare, so that a device
        // whose font sizes round differently from the measuring one (a
        // screen at another zoom, a printer) does not break its lines again.
        const double width = inner * 0.97 - 1;
        if (!p.text.contains(QLatin1Char('\n'))) {
            const double w = metrics_.width(f, p.text);
            if (!o.wrap && w <= inner)
                return o.rect.height();
            if (o.wrap && w <= width)
                return TextPadding + metrics_.lineHeight(f) * 1.03;
        }
        const QStringList lines = breakLines(metrics_, f, p.text, width);
        p.text = lines.join(QLatin1Char('\n'));
        p.wrap = true;
        return TextPadding + lines.size() * metrics_.lineHeight(f) * 1.03 + 1;
    }

    void place(const std::vector<Placed>& objects, double height)
    {
        PreparedPage& page = out_.pages.back();
        const double x0 = design_->marginLeft;
        for (const Placed& p : objects) {
            const ObjectDef& o = *p.def;
            const QRectF rect = p.rect.translated(x0, y_);
            if (o.kind == ObjectDef::Kind::Picture) {
                page.pictures.push_back({rect, p.picture});
                continue;
            }
            QString text = p.text;
            if (text.contains(PageToken))
                text.replace(PageToken, QString::number(out_.pages.size()));
            PreparedText t;
            t.rect = rect;
            t.number = p.number;
            t.font = out_.fontIndex(o.font);
            t.numberFormat = p.number ? out_.numberFormatIndex(o.numberFormat) : 0;
            t.align = o.align;
            t.frame = o.frame;
            t.wrap = p.wrap;
            if (text.contains(TotalToken))
                totals_.emplace_back(int(out_.pages.size() - 1), int(page.texts.size()));
            t.text = std::move(text);
            page.texts.push_back(std::move(t));
        }
        y_ += height;
    }

    // Places a band at the current position, on a new page first when it
    // must fit (body and list bands) and no longer does.
    void place(const BandDef& band, RecordSource* record = nullptr, bool mustFit = false)
    {
        double height = 0;
        const std::vector<Placed> objects = evaluate(band, record, height);
        if (mustFit)
            fit(height);
        place(objects, height);
    }

    PreparedReport& out_;
    const BeforePrint& beforePrint_;
    const TextMetrics& metrics_;
    const PageDesign* design_ = nullptr;
    const BandDef* footer_ = nullptr;
    int designIndex_ = 0;
    double y_ = 0;
    double headerEnd_ = 0;
    std::vector<std::pair<int, int>> totals_;  // (page, text) holding the page count token
};

}  // namespace

void prepare(const Template& tpl, RecordSource* records, const BeforePrint& beforePrint, PreparedReport& report,
             const TextMetrics& metrics)
{
    report.pages.clear();
    Layout(report, beforePrint, metrics).run(tpl, records);
}

}  // namespace report

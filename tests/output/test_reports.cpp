// The report layout over real measurement tables: which records each report
// lists and in what order, pages and their footers, the series information
// texts, note and chart slot, and the workbook made from prepared pages.

#include <QPrinter>
#include <QTemporaryDir>
#include <QtTest>
#include <set>
#include <tuple>

#include "../series/test_series_data.h"
#include "output/report_data.h"
#include "output/report_painter.h"
#include "output/report_workbook.h"
#include "tool_run.h"

using namespace seriestest;
using report::PreparedPage;
using report::PreparedReport;

namespace {

std::vector<Row> operativeRows(int n)
{
    std::vector<Row> rows;
    for (int i = 1; i <= n; ++i)
        rows.push_back({0, 3, double(i), i * 0.11, {}, {}, QStringLiteral("01.03.2015"),
                        QStringLiteral("09:%1:00").arg(i % 60, 2, 10, QLatin1Char('0')), {},
                        QStringLiteral("замечание %1").arg(i)});
    return rows;
}

QStringList textsOf(const PreparedPage& p)
{
    QStringList out;
    for (const auto& t : p.texts)
        out << t.text;
    return out;
}

// Texts of the list cells (framed, not bold) in page order, one row of
// `columns` cells joined by '|'.
QStringList listRows(const PreparedReport& r, int columns)
{
    QStringList out;
    for (const PreparedPage& p : r.pages) {
        QStringList row;
        for (const auto& t : p.texts) {
            if (!t.frame || r.fonts[t.font].bold)
                continue;
            row << t.text;
            if (row.size() == columns) {
                out << row.join(QLatin1Char('|'));
                row.clear();
            }
        }
    }
    return out;
}

const report::PreparedText* findText(const PreparedPage& p, const QString& start)
{
    for (const auto& t : p.texts)
        if (t.text.startsWith(start))
            return &t;
    return nullptr;
}

}  // namespace

class TestReports : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

    std::unique_ptr<dbf::Table> table(const std::vector<Row>& rows, const QString& filter)
    {
        const QString path = dir_.filePath(QStringLiteral("t%1.db").arg(++files_));
        writeTable(path, rows);
        auto t = std::make_unique<dbf::Table>();
        t->setFileName(path);
        t->open();
        t->setFilter(filter);
        t->setFiltered(true);
        t->refresh();
        return t;
    }
    int files_ = 0;

private slots:
    void operativeListsEveryRecordOfTheViewOnNumberedPages()
    {
        std::vector<Row> rows = operativeRows(150);
        rows.push_back({1, 1, 5, 9.9, 1, 1, QStringLiteral("02.03.2015"), QStringLiteral("10:00:00"),
                        QStringLiteral("02.03.2015 10:00:00"), {}});
        auto t = table(rows, QStringLiteral("MODE=0"));
        const PreparedReport r = report::prepareOperative(*t);
        QVERIFY(r.pageCount() > 2);
        const QStringList list = listRows(r, 5);
        QCOMPARE(list.size(), 150);
        QCOMPARE(list.first(), QStringLiteral("1|01.03.2015|09:01:00|0,1|замечание 1"));
        QCOMPARE(list.at(9), QStringLiteral("10|01.03.2015|09:10:00|1,1|замечание 10"));
        QCOMPARE(list.last(), QStringLiteral("150|01.03.2015|09:30:00|16,5|замечание 150"));
        for (int i = 0; i < r.pageCount(); ++i) {
            const PreparedPage& p = r.pages[size_t(i)];
            QVERIFY(p.landscape);
            const QStringList texts = textsOf(p);
            // The title only on the first page; column titles and the footer on every page.
            QCOMPARE(texts.contains(QStringLiteral("Архив оперативный")), i == 0);
            QCOMPARE(texts.count(QStringLiteral("Прогиб f,мм.")), 1);
            QVERIFY(texts.contains(QStringLiteral("Стр. %1 из %2").arg(i + 1).arg(r.pageCount())));
            // Nothing runs into the footer or off the paper.
            const auto* footer = findText(p, QStringLiteral("Стр. "));
            for (const auto& x : p.texts) {
                QVERIFY(x.rect.bottom() <= p.size.height());
                if (&x != footer)
                    QVERIFY(x.rect.bottom() <= footer->rect.top() + 0.5);
            }
        }
        // The number cell keeps its value for the workbook.
        const auto* cell = findText(r.pages[0], QStringLiteral("0,1"));
        QVERIFY(cell && cell->number);
        QCOMPARE(*cell->number, 0.11);
        QCOMPARE(r.numberFormats[cell->numberFormat], QStringLiteral("0.0"));
    }

    void operativeFollowsTheGridSort()
    {
        auto t = table(operativeRows(5), QStringLiteral("MODE=0"));
        t->createIndexTag(QStringLiteral("tab1"), u"R", true);
        t->selectIndex(QStringLiteral("tab1"));
        const QStringList list = listRows(report::prepareOperative(*t), 5);
        QCOMPARE(list.first().section(QLatin1Char('|'), 0, 0), QStringLiteral("5"));
        QCOMPARE(list.last().section(QLatin1Char('|'), 0, 0), QStringLiteral("1"));
    }

    void footersCountPagesAcrossThreePages()
    {
        // Find a record count that fills exactly three pages.
        int n = 1;
        for (;; ++n) {
            auto t = table(operativeRows(n), QStringLiteral("MODE=0"));
            if (report::prepareOperative(*t).pageCount() == 3)
                break;
            QVERIFY(n < 200);
        }
        auto t = table(operativeRows(n), QStringLiteral("MODE=0"));
        const PreparedReport r = report::prepareOperative(*t);
        for (int i = 0; i < 3; ++i)
            QVERIFY(textsOf(r.pages[size_t(i)]).contains(QStringLiteral("Стр. %1 из 3").arg(i + 1)));
    }

    void emptyViewStillGivesOnePage()
    {
        auto t = table(operativeRows(3), QStringLiteral("MODE=5"));
        const PreparedReport r = report::prepareOperative(*t);
        QCOMPARE(r.pageCount(), 1);
        QVERIFY(textsOf(r.pages[0]).contains(QStringLiteral("Стр. 1 из 1")));
        QVERIFY(listRows(r, 5).isEmpty());
    }

    void waitingReportShowsTheSeriesPageAndItsPoints()
    {
        auto t = table(standardRows(), QStringLiteral("MODE=1 AND TYPE=1"));
        // A sort of the operative grid does not reorder a series.
        t->createIndexTag(QStringLiteral("tab1"), u"R", true);
        t->selectIndex(QStringLiteral("tab1"));
        report::WaitingTexts w{QStringLiteral("1"), QStringLiteral("01.03.2015 10:00:00"), QStringLiteral("24час."),
                               QStringLiteral("2,6мм."), QStringLiteral("Примечание: тест")};
        report::PictureSource chart;
        chart.size = QSizeF(1052, 444);
        chart.svg = "<svg/>";
        const PreparedReport r = report::prepareWaiting(*t, w, chart);
        QCOMPARE(r.pageCount(), 2);
        const PreparedPage& first = r.pages[0];
        QVERIFY(first.landscape);
        const QStringList texts = textsOf(first);
        for (const char* s : {"ДОРК-5", "Архив ждущий", "№ Серии: 1", "Дата: 01.03.2015 10:00:00", "Длительность: 24час.",
                              "Порог: 2,6мм.", "Примечание: тест", "Стр. 1 из 2"})
            QVERIFY2(texts.contains(QString::fromUtf8(s)), s);
        QCOMPARE(first.pictures.size(), size_t(1));
        QCOMPARE(first.pictures[0].rect.size(), QSizeF(1052, 444));
        QCOMPARE(first.pictures[0].source, 0);
        // The chart sits below the note, inside the paper.
        QVERIFY(first.pictures[0].rect.top() >= findText(first, QStringLiteral("Примечание"))->rect.bottom());
        QVERIFY(first.pictures[0].rect.right() <= first.size.width());
        QVERIFY(first.pictures[0].rect.bottom() <= findText(first, QStringLiteral("Стр."))->rect.top());

        const PreparedPage& list = r.pages[1];
        QVERIFY(!list.landscape);
        const QStringList lt = textsOf(list);
        for (const char* s : {"Архив ждущий", "№ Серии: 1", "Дата: 01.03.2015 10:00:00", "Длительность: 24час.",
                              "Порог: 2,6мм.", "Прогиб f, мм.", "Дата"})
            QVERIFY2(lt.contains(QString::fromUtf8(s)), s);
        QVERIFY(findText(list, QStringLiteral("Стр.")) == nullptr);
        QCOMPARE(listRows(r, 2), QStringList({"0,5|01.03.2015 10:00:00", "1,25|01.03.2015 10:30:00",
                                              "-3|01.03.2015 11:00:00"}));
    }

    void seriesReportsListTheirOwnSeriesWhateverTheFilter()
    {
        // The filter a series report may meet: the whole table, each tab's
        // mode (left behind by a tab change), another series, and a sort.
        const QStringList filters = {QString(), QStringLiteral("MODE=0"), QStringLiteral("MODE=1"),
                                     QStringLiteral("MODE=2"), QStringLiteral("MODE=1 AND TYPE=2"),
                                     QStringLiteral("MODE=2 AND TYPE=1")};
        // Expected points per series of the standard table, in stored order.
        const std::vector<std::tuple<int, int, QStringList>> seriesRows = {
            {1, 1, {"0,5|01.03.2015 10:00:00", "1,25|01.03.2015 10:30:00", "-3|01.03.2015 11:00:00"}},
            {1, 2, {"0,1|02.03.2015 08:00:00", "0,2|02.03.2015 08:10:00"}},
            {1, 3, {"12|06.03.2015 12:00:00"}},
            {1, 4, {}},
            {2, 1, {"0,7|1", "1|2", "1,5|3", "2|4"}},
            {2, 2, {"4|1"}},
        };
        for (const QString& filter : filters) {
            for (const bool sorted : {false, true}) {
                auto t = table(standardRows(), filter);
                if (sorted) {
                    t->createIndexTag(QStringLiteral("tab3"), u"R", true);
                    t->selectIndex(QStringLiteral("tab3"));
                }
                for (const auto& [mode, ordinal, rows] : seriesRows) {
                    const QString series = QString::number(ordinal);
                    const PreparedReport r = mode == 1 ? report::prepareWaiting(*t, {series, {}, {}, {}, {}}, {})
                                                       : report::prepareObservation(*t, {series, {}, {}, {}, {}, {}}, {});
                    QVERIFY2(listRows(r, 2) == rows,
                             qPrintable(QStringLiteral("mode %1 series %2 filter '%3' sorted %4: %5")
                                            .arg(mode).arg(ordinal).arg(filter).arg(sorted)
                                            .arg(listRows(r, 2).join(QLatin1Char(' ')))));
                }
            }
        }
    }

    void observationReportAndLongListsPaginate()
    {
        std::vector<Row> rows;
        for (int i = 1; i <= 400; ++i)
            rows.push_back({2, 1, double(i), i / 100.0, i == 1 ? std::optional<double>(5) : std::nullopt,
                            i == 1 ? std::optional<double>(1) : std::nullopt, QStringLiteral("01.03.2015"),
                            QStringLiteral("10:00:00"), i == 1 ? QStringLiteral("01.03.2015 16:39:00") : QString(), {}});
        auto t = table(rows, QStringLiteral("MODE=2 AND TYPE=1"));
        report::ObservationTexts o{QStringLiteral("1"), QStringLiteral("01.03.2015 10:00:00"),
                                   QStringLiteral("01.03.2015 16:39:00"), QStringLiteral("5час."),
                                   QStringLiteral("1мин."), QString()};
        const PreparedReport r = report::prepareObservation(*t, o, {});
        QVERIFY(r.pageCount() >= 6);
        const QStringList texts = textsOf(r.pages[0]);
        for (const char* s : {"Архив наблюдения", "№ Серии: 1", "Дата начала: 01.03.2015 10:00:00",
                              "Дата окончания: 01.03.2015 16:39:00", "Длительность: 5час.", "Интервал: 1мин."})
            QVERIFY2(texts.contains(QString::fromUtf8(s)), s);
        // An empty note prints an empty note block; the slot has no picture.
        QVERIFY(texts.contains(QString()));
        QCOMPARE(r.pages[0].pictures[0].source, 0);
        const QStringList list = listRows(r, 2);
        QCOMPARE(list.size(), 400);
        QCOMPARE(list.at(41), QStringLiteral("0,42|42"));
        // Every list page repeats the information line and the column titles;
        // only the first list page has the title.
        for (int i = 1; i < r.pageCount(); ++i) {
            const QStringList lt = textsOf(r.pages[size_t(i)]);
            QVERIFY(lt.contains(QStringLiteral("№ Серии: 1")));
            QVERIFY(lt.contains(QStringLiteral("№")));
            QCOMPARE(lt.contains(QStringLiteral("Архив наблюдения")), i == 1);
            QVERIFY(!r.pages[size_t(i)].landscape);
        }
        QVERIFY(findText(r.pages[0], QStringLiteral("Стр. 1 из %1").arg(r.pageCount())));
    }

    void fixedDecimalsRoundHalfAwayFromZeroOnTheDecimalValue()
    {
        const QString f1 = QStringLiteral("0.0");
        QCOMPARE(report::formatNumber(5.55, f1), QStringLiteral("5,6"));
        QCOMPARE(report::formatNumber(9.25, f1), QStringLiteral("9,3"));
        QCOMPARE(report::formatNumber(-0.05, f1), QStringLiteral("-0,1"));
        QCOMPARE(report::formatNumber(-0.04, f1), QStringLiteral("0,0"));
        QCOMPARE(report::formatNumber(0, f1), QStringLiteral("0,0"));
        QCOMPARE(report::formatNumber(99.96, f1), QStringLiteral("100,0"));
        QCOMPARE(report::formatNumber(0.004, f1), QStringLiteral("0,0"));
        QCOMPARE(report::formatNumber(1234567.25, f1), QStringLiteral("1234567,3"));
        QCOMPARE(report::formatNumber(1e20, f1), QStringLiteral("100000000000000000000,0"));
        QCOMPARE(report::formatNumber(2.675, QStringLiteral("0.00")), QStringLiteral("2,68"));
        QCOMPARE(report::formatNumber(2.5, QStringLiteral("0")), QStringLiteral("3"));
        QCOMPARE(report::formatNumber(0.5, QStringLiteral("0")), QStringLiteral("1"));
        QCOMPARE(report::formatNumber(0.4, QStringLiteral("0")), QStringLiteral("0"));
    }

    void workbookKeepsTextsNumbersFramesAndPicture()
    {
        auto t = table(standardRows(), QStringLiteral("MODE=1 AND TYPE=1"));
        report::PictureSource chart;
        chart.size = QSizeF(1052, 444);
        chart.png = "PNG";
        const PreparedReport r = report::prepareWaiting(*t, {QStringLiteral("1"), {}, {}, {}, {}}, chart);
        const xls::Workbook book = report::toWorkbook(r);
        // The landscape first page and the portrait list: one sheet each.
        QCOMPARE(book.sheets.size(), size_t(2));
        const xls::Sheet& s = book.sheets[0];
        QVERIFY(s.page.landscape);
        QVERIFY(!book.sheets[1].page.landscape);
        QCOMPARE(s.pictures.size(), size_t(1));
        QCOMPARE(s.pictures[0].widthPx, 1052);
        QCOMPARE(s.pictures[0].heightPx, 444);
        QCOMPARE(s.pictures[0].png, QByteArray("PNG"));
        // Texts in reading order; numbers as numbers; framed cells bordered.
        std::vector<const xls::Cell*> cells;
        for (const xls::Sheet& sheet : book.sheets) {
            std::vector<const xls::Cell*> own;
            std::set<std::pair<int, int>> seen;
            for (const auto& c : sheet.cells) {
                QVERIFY(seen.insert({c.row, c.col}).second);
                own.push_back(&c);
            }
            std::sort(own.begin(), own.end(),
                      [](auto* a, auto* b) { return std::pair(a->row, a->col) < std::pair(b->row, b->col); });
            cells.insert(cells.end(), own.begin(), own.end());
        }
        QStringList texts;
        std::vector<double> numbers;
        for (const xls::Cell* c : cells) {
            if (auto* q = std::get_if<QString>(&c->value))
                texts << *q;
            if (auto* d = std::get_if<double>(&c->value)) {
                numbers.push_back(*d);
                QVERIFY(c->style.border);
            }
        }
        QCOMPARE(texts.indexOf(QStringLiteral("ДОРК-5")), 0);
        QVERIFY(texts.indexOf(QStringLiteral("№ Серии: 1")) < texts.indexOf(QStringLiteral("Прогиб f, мм.")));
        QVERIFY(texts.contains(QStringLiteral("01.03.2015 10:30:00")));
        QCOMPARE(numbers, std::vector<double>({0.5, 1.25, -3}));
        for (const auto& [col, px] : s.columnWidthsPx)
            QVERIFY2(px > 0 && col < 40, qPrintable(QString::number(col)));
    }

    void workbookOfEveryPageFillIsValid()
    {
        // Every operative record count up to four full pages, and series
        // whose last list page holds from one point to a full page: each
        // prepared page is one printed page of its sheet, in its own
        // orientation, with no row higher than a sheet allows.
        QTemporaryDir temp;
        // With DORK5_REPORT_DIR set the workbooks are kept there to be looked at.
        const QDir out(qEnvironmentVariable("DORK5_REPORT_DIR", temp.path()));
        QStringList files, expected;
        auto check = [&](const PreparedReport& r, const QString& what) {
            const xls::Workbook book = report::toWorkbook(r);
            size_t page = 0;
            QString summary;
            for (const xls::Sheet& sheet : book.sheets) {
                QVERIFY2(sheet.page.scalePercent >= 10 && sheet.page.scalePercent <= 100 && !sheet.page.fitToWidth,
                         qPrintable(what));
                for (size_t k = 0; k <= sheet.pageBreaks.size(); ++k, ++page)
                    QVERIFY2(page < r.pages.size() && r.pages[page].landscape == sheet.page.landscape, qPrintable(what));
                int numbers = 0;
                for (const xls::Cell& c : sheet.cells)
                    numbers += std::holds_alternative<double>(c.value);
                summary += QStringLiteral("%1/%2 ").arg(sheet.pageBreaks.size()).arg(numbers);
            }
            QVERIFY2(page == size_t(std::max(1, r.pageCount())), qPrintable(what));
            QByteArray bytes;
            try {
                bytes = xls::toBytes(book);
            } catch (const xls::Error& e) {
                QFAIL(qPrintable(what + QStringLiteral(": ") + QString::fromUtf8(e.what())));
            }
            files << out.filePath(QStringLiteral("%1.xls").arg(files.size()));
            QFile f(files.last());
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
            expected << summary.trimmed();
        };
        for (int n = 0;; ++n) {
            const PreparedReport r = report::prepareOperative(*table(operativeRows(n), QStringLiteral("MODE=0")));
            if (r.pageCount() > 4)
                break;
            check(r, QStringLiteral("operative, %1 records").arg(n));
            if (QTest::currentTestFailed())
                return;
            QVERIFY(n < 1000);
        }
        for (int mode : {1, 2}) {
            for (int n = 1;; ++n) {
                std::vector<Row> rows;
                for (int i = 1; i <= n; ++i)
                    rows.push_back({mode, 1, double(i), i / 10.0, {}, {}, QStringLiteral("01.03.2015"),
                                    QStringLiteral("10:00:00"), QStringLiteral("01.03.2015 10:00:00"), {}});
                auto t = table(rows, {});
                const PreparedReport r = mode == 1 ? report::prepareWaiting(*t, {QStringLiteral("1"), {}, {}, {}, {}}, {})
                                                   : report::prepareObservation(*t, {QStringLiteral("1"), {}, {}, {}, {}, {}}, {});
                if (r.pageCount() > 3)
                    break;
                check(r, QStringLiteral("mode %1, %2 points").arg(mode).arg(n));
                if (QTest::currentTestFailed())
                    return;
            }
        }
        // An independent reader sees the same sheets, breaks and numbers.
        QByteArray got;
        QString err;
        if (!tooltest::run(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral("import xlrd")}, got, err))
            QSKIP("python3-xlrd is not installed");
        QVERIFY2(tooltest::run(QStringLiteral("/usr/bin/python3"),
                               QStringList{QStringLiteral("-c"), QStringLiteral(R"(
import sys, xlrd
for path in sys.argv[1:]:
    b = xlrd.open_workbook(path, formatting_info=True)
    print(' '.join('%d/%d' % (len(s.horizontal_page_breaks),
                              sum(s.cell_type(r, c) == xlrd.XL_CELL_NUMBER for r in range(s.nrows) for c in range(s.ncols)))
                   for s in b.sheets()))
)")} + files,
                               got, err),
                 qPrintable(err));
        QCOMPARE(QString::fromUtf8(got).trimmed().split(QLatin1Char('\n')), expected);
    }

    void seriesReportValuesFitTheirBoxes()
    {
        // The longest value each field can hold, measured with the painter's
        // own font metrics: every line inside its box, no box over another,
        // no character lost.
        const report::TextMetrics m = report::painterTextMetrics();
        const double num = -8888888.888888888;
        const QString numText = QStringLiteral("-8888888,888888888");
        const QString wide(30, QChar(u'Ш'));
        std::vector<Row> rows;
        for (int mode : {1, 2})
            for (int i = 0; i < 3; ++i)
                rows.push_back({mode, 9999, num, num, num, num, QString(10, QChar(u'Ш')), QString(8, QChar(u'Ш')), wide, {}});
        auto t = table(rows, {});
        QString note = QStringLiteral("Примечание:");
        for (int i = 0; i < 12; ++i)
            note += QStringLiteral(" широкий текст примечания ") + wide;
        const QString series = QStringLiteral("9999");
        const report::WaitingTexts w{series, wide, numText + QStringLiteral("час."), numText + QStringLiteral("мм."), note};
        const report::ObservationTexts o{series, wide, wide, numText + QStringLiteral("час."),
                                         numText + QStringLiteral("мин."), note};
        for (int mode : {1, 2}) {
            const PreparedReport r = mode == 1 ? report::prepareWaiting(*t, w, {}, m) : report::prepareObservation(*t, o, {}, m);
            if (qEnvironmentVariableIsSet("DORK5_REPORT_DIR")) {  // kept to be looked at
                QPrinter printer(QPrinter::HighResolution);
                printer.setOutputFormat(QPrinter::PdfFormat);
                printer.setOutputFileName(QDir(qEnvironmentVariable("DORK5_REPORT_DIR")).filePath(QStringLiteral("longest%1.pdf").arg(mode)));
                QVERIFY(report::printPages(r, printer));
            }
            QStringList values = {series, wide, numText, note};
            QString all;
            for (const PreparedPage& p : r.pages) {
                for (size_t i = 0; i < p.texts.size(); ++i) {
                    const report::PreparedText& x = p.texts[i];
                    all += x.text;
                    if (x.text.isEmpty())
                        continue;
                    const report::Font& f = r.fonts[x.font];
                    const QStringList lines = x.text.split(QLatin1Char('\n'));
                    const QString where = QStringLiteral("mode %1 «%2»").arg(mode).arg(x.text.left(40));
                    for (const QString& line : lines)
                        QVERIFY2(m.width(f, line) <= x.rect.width() - 2 * report::TextPadding, qPrintable(where));
                    QVERIFY2(lines.size() * m.lineHeight(f) + (x.wrap ? report::TextPadding : 0) <= x.rect.height() + 0.5,
                             qPrintable(where));
                    for (size_t k = 0; k < i; ++k) {
                        const QRectF both = x.rect.intersected(p.texts[k].rect);
                        QVERIFY2(p.texts[k].text.isEmpty() || both.width() < 1.5 || both.height() < 1.5,
                                 qPrintable(where + QStringLiteral(" over «%1»").arg(p.texts[k].text.left(30))));
                    }
                }
            }
            all.remove(QRegularExpression(QStringLiteral("\\s")));
            for (QString v : values)
                QVERIFY2(all.contains(v.remove(QRegularExpression(QStringLiteral("\\s")))), qPrintable(v.left(40)));
            QCOMPARE(listRows(r, 2).size(), 3);
        }
    }

    void workbookGoesOnInFurtherSheets()
    {
        auto t = table(operativeRows(120), QStringLiteral("MODE=0"));
        const PreparedReport r = report::prepareOperative(*t);
        const xls::Workbook book = report::toWorkbook(r, 60);
        QVERIFY(book.sheets.size() >= 3);
        int numbers = 0;
        for (const xls::Sheet& s : book.sheets) {
            QVERIFY(s.name.startsWith(QStringLiteral("Лист")));
            for (const auto& c : s.cells) {
                QVERIFY(c.row < 60);
                numbers += std::holds_alternative<double>(c.value) && c.style.numberFormat == QStringLiteral("0.0");
            }
        }
        QCOMPARE(numbers, 120);  // every R, none lost at a sheet's end
    }
};

QTEST_MAIN(TestReports)
#include "test_reports.moc"

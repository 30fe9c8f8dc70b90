// Workbooks from the writer read by independent programs: Python's xlrd
// (with formatting), and LibreOffice Calc converting them to CSV and PDF.

#include "output/xls_writer.h"
#include "tool_run.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

namespace {

const char* kPython = "/usr/bin/python3";

QString workDir() {
    const QString d = qEnvironmentVariable("DORK5_TEST_WORKDIR", QDir::tempPath()) + "/xls_interop";
    QDir().mkpath(d);
    return d;
}

using tooltest::run;

bool haveXlrd() {
    QByteArray out;
    QString err;
    return QFile::exists(kPython) && run(kPython, {"-c", "import xlrd"}, out, err);
}

QJsonObject xlrdDump(const QString& path) {
    // Per sheet: cells with their formatting, column widths, merges.
    static const QString script = QStringLiteral(R"(
import json, sys, xlrd
b = xlrd.open_workbook(sys.argv[1], formatting_info=True)
out = {'sheets': []}
for s in b.sheets():
    cells = []
    for r in range(s.nrows):
        for c in range(s.ncols):
            cell = s.cell(r, c)
            if cell.ctype == xlrd.XL_CELL_EMPTY:
                continue
            xf = b.xf_list[cell.xf_index]
            font = b.font_list[xf.font_index]
            bd = xf.border
            cells.append({'r': r, 'c': c, 'type': cell.ctype, 'v': cell.value, 'bold': bool(font.bold),
                          'font': font.name, 'twips': font.height, 'fmt': b.format_map[xf.format_key].format_str,
                          'lines': [bd.left_line_style, bd.right_line_style, bd.top_line_style, bd.bottom_line_style],
                          'colours': [bd.left_colour_index, bd.right_colour_index, bd.top_colour_index, bd.bottom_colour_index],
                          'h': xf.alignment.hor_align, 'vert': xf.alignment.vert_align, 'wrap': xf.alignment.text_wrapped})
    out['sheets'].append({'name': s.name, 'nrows': s.nrows, 'ncols': s.ncols, 'cells': cells,
                          'widths': {str(c): i.width for c, i in s.colinfo_map.items()},
                          'heights': {str(r): i.height for r, i in s.rowinfo_map.items()},
                          'merged': [list(m) for m in s.merged_cells]})
print(json.dumps(out))
)");
    QByteArray out;
    QString err;
    if (!run(kPython, {"-c", script, path}, out, err))
        qWarning("xlrd: %s", qPrintable(err));
    return QJsonDocument::fromJson(out).object();
}

QByteArray pngOf(const QImage& img) {
    QByteArray png;
    QBuffer b(&png);
    b.open(QIODevice::WriteOnly);
    img.save(&b, "PNG");
    return png;
}

// A chart-like picture: white with a magenta band no cell uses, and grey
// noise that makes its PNG larger than one record.
QImage testPicture() {
    QImage img(240, 120, QImage::Format_RGB32);
    img.fill(Qt::white);
    quint32 seed = 1;
    for (int y = 85; y < 118; ++y)
        for (int x = 0; x < 240; ++x) {
            seed = seed * 1103515245u + 12345u;
            const int g = int(seed >> 24);
            img.setPixel(x, y, qRgb(g, g, g));
        }
    QPainter p(&img);
    p.fillRect(20, 40, 200, 40, QColor(255, 0, 255));
    p.setPen(QPen(Qt::black, 2));
    p.drawRect(1, 1, 237, 117);
    return img;
}

xls::CellStyle headerStyle() {
    xls::CellStyle s;
    s.bold = true;
    s.border = true;
    s.hAlign = xls::HAlign::Centre;
    s.vAlign = xls::VAlign::Centre;
    s.wrap = true;
    return s;
}

xls::CellStyle numberStyle(const QString& fmt) {
    xls::CellStyle s;
    s.border = true;
    s.numberFormat = fmt;
    s.hAlign = xls::HAlign::Right;
    return s;
}

// A report-like sheet: a bold header row and rows of a date, a text and two numbers.
xls::Sheet reportSheet(const QString& name, int rows, int seed) {
    xls::Sheet s;
    s.name = name;
    const QStringList head{"Дата", "Примечание", "Прогиб, мм", "Порог"};
    for (int c = 0; c < head.size(); ++c)
        s.cells.push_back({0, c, head[c], headerStyle()});
    xls::CellStyle textStyle;
    textStyle.border = true;
    for (int r = 1; r <= rows; ++r) {
        s.cells.push_back({r, 0, QStringLiteral("%1.02.2024 10:20:%2").arg(r % 28 + 1, 2, 10, QChar('0')).arg(r % 60, 2, 10, QChar('0')), textStyle});
        s.cells.push_back({r, 1, QStringLiteral("Плита ПК-%1 ёж").arg(r + seed), textStyle});
        s.cells.push_back({r, 2, (r + seed) * 0.25 - 3, numberStyle("0.00")});
        if (r % 3)
            s.cells.push_back({r, 3, double(r * 7 + seed), numberStyle("0")});
        else
            s.cells.push_back({r, 3, std::monostate{}, textStyle});
    }
    s.columnWidthsPx = {{0, 130}, {1, 160}, {2, 90}, {3, 70}};
    s.rowHeightsPoints = {{0, 30}};
    return s;
}

// The largest report: a number and a date-time text per row, split by
// rows of 65,536 over several sheets.
QString largeReportText(int r) {
    return QStringLiteral("%1.%2.2024 %3:%4:%5 ж")
        .arg(r % 28 + 1, 2, 10, QChar('0'))
        .arg(r / 28 % 12 + 1, 2, 10, QChar('0'))
        .arg(r / 3600 % 24, 2, 10, QChar('0'))
        .arg(r / 60 % 60, 2, 10, QChar('0'))
        .arg(r % 60, 2, 10, QChar('0'));
}

xls::Workbook largeReport(int rows) {
    xls::Workbook b;
    for (int first = 0; first < rows; first += xls::MaxRows) {
        xls::Sheet s;
        s.name = QStringLiteral("Лист %1").arg(first / xls::MaxRows + 1);
        s.cells.reserve(2 * xls::MaxRows);
        for (int r = first; r < std::min(rows, first + xls::MaxRows); ++r) {
            s.cells.push_back({r - first, 0, r * 0.5, {}});
            s.cells.push_back({r - first, 1, largeReportText(r), {}});
        }
        b.sheets.push_back(std::move(s));
    }
    return b;
}

}  // namespace

class TestXlsInterop : public QObject {
    Q_OBJECT

    QString dir_;
    QTemporaryDir office_;  // LibreOffice profile and HOME of this run

    bool soffice(const QStringList& args, QString& err) { return tooltest::soffice(office_.path(), args, err); }

private slots:
    void initTestCase() {
        dir_ = workDir();
        QDir(dir_).removeRecursively();
        QVERIFY(QDir().mkpath(dir_));
        QVERIFY(office_.isValid());
    }

    void xlrdReadsTextsNumbersAndFormatting() {
        if (!haveXlrd())
            QSKIP("/usr/bin/python3 has no xlrd module");
        xls::Workbook b;
        b.sheets.push_back(reportSheet("Оперативный", 12, 0));
        b.sheets.push_back(reportSheet("Ждущий (серия 1)", 5, 100));
        b.sheets[1].page.landscape = true;
        b.sheets[0].merges.push_back({14, 14, 0, 3});
        b.sheets[0].cells.push_back({14, 0, QStringLiteral("Итого: 12 измерений"), headerStyle()});
        xls::CellStyle big;
        big.fontName = "Times New Roman";
        big.fontPoints = 14;
        big.numberFormat = "0.000";
        b.sheets[1].cells.push_back({20, 5, 3.14159, big});
        b.sheets[1].pictures.push_back({pngOf(testPicture()), 22, 0, 0, 0, 0, 0});  // drawing records read too
        const QString path = dir_ + "/formatting.xls";
        xls::save(b, path);

        const QJsonObject doc = xlrdDump(path);
        const QJsonArray sheets = doc["sheets"].toArray();
        QCOMPARE(sheets.size(), 2);
        for (int si = 0; si < 2; ++si) {
            const xls::Sheet& want = b.sheets[size_t(si)];
            const QJsonObject s = sheets[si].toObject();
            QCOMPARE(s["name"].toString(), want.name);
            QJsonObject byPos;
            for (const QJsonValue& v : s["cells"].toArray())
                byPos[QStringLiteral("%1,%2").arg(v["r"].toInt()).arg(v["c"].toInt())] = v;
            for (const xls::Cell& c : want.cells) {
                const QJsonObject got = byPos[QStringLiteral("%1,%2").arg(c.row).arg(c.col)].toObject();
                const QString where = QStringLiteral("%1 (%2,%3)").arg(want.name).arg(c.row).arg(c.col);
                QVERIFY2(!got.isEmpty(), qPrintable(where));
                if (const QString* t = std::get_if<QString>(&c.value)) {
                    QCOMPARE(got["type"].toInt(), 1);
                    QCOMPARE(got["v"].toString(), *t);
                } else if (const double* d = std::get_if<double>(&c.value)) {
                    QCOMPARE(got["type"].toInt(), 2);
                    QCOMPARE(got["v"].toDouble(), *d);
                } else {
                    QCOMPARE(got["type"].toInt(), 6);  // blank with its format
                }
                QCOMPARE(got["bold"].toBool(), c.style.bold);
                QCOMPARE(got["font"].toString(), c.style.fontName);
                QCOMPARE(got["twips"].toInt(), int(c.style.fontPoints * 20));
                QCOMPARE(got["fmt"].toString(), c.style.numberFormat.isEmpty() ? QString("General") : c.style.numberFormat);
                const int line = c.style.border ? 1 : 0;
                QCOMPARE(got["lines"].toArray(), (QJsonArray{line, line, line, line}));
                if (c.style.border)
                    QCOMPARE(got["colours"].toArray(), (QJsonArray{8, 8, 8, 8}));
                const int h[] = {0, 1, 2, 3};
                QCOMPARE(got["h"].toInt(), h[int(c.style.hAlign)]);
                const int v[] = {0, 1, 2};
                QCOMPARE(got["vert"].toInt(), v[int(c.style.vAlign)]);
                QCOMPARE(got["wrap"].toInt(), c.style.wrap ? 1 : 0);
            }
            const QJsonObject widths = s["widths"].toObject();
            for (const auto& [col, px] : want.columnWidthsPx)
                QCOMPARE(widths[QString::number(col)].toInt(), xls::columnWidthUnits(px));
            QCOMPARE(s["heights"].toObject()["0"].toInt(), 600);
        }
        // The merged total row: its other cells carry the same bordered format.
        const QJsonArray merged = sheets[0].toObject()["merged"].toArray();
        QCOMPARE(merged, (QJsonArray{QJsonArray{14, 15, 0, 4}}));
        int blanks = 0;
        for (const QJsonValue& v : sheets[0].toObject()["cells"].toArray())
            if (v["r"].toInt() == 14 && v["type"].toInt() == 6) {
                ++blanks;
                QVERIFY(v["bold"].toBool());
                QCOMPARE(v["lines"].toArray(), (QJsonArray{1, 1, 1, 1}));
            }
        QCOMPARE(blanks, 3);
    }

    // The largest report, split by rows of 65,536 over three sheets.
    void xlrdReadsTheLargestReport() {
        if (!haveXlrd())
            QSKIP("/usr/bin/python3 has no xlrd module");
        constexpr int rows = 150000;
        QCryptographicHash texts(QCryptographicHash::Md5);
        double sum = 0;
        for (int r = 0; r < rows; ++r) {
            texts.addData(largeReportText(r).toUtf8() + "\n");
            sum += r * 0.5;
        }
        const xls::Workbook b = largeReport(rows);
        const QString path = dir_ + "/largest.xls";
        xls::save(b, path);
        QVERIFY(QFileInfo(path).size() > 7 * 1024 * 1024);  // beyond 109 FAT sectors

        static const QString script = QStringLiteral(R"(
import hashlib, json, sys, xlrd
b = xlrd.open_workbook(sys.argv[1])
h = hashlib.md5()
total = 0.0
for s in b.sheets():
    for v in s.col_values(0):
        total += v
    for t in s.col_values(1):
        h.update((t + '\n').encode('utf-8'))
print(json.dumps({'names': b.sheet_names(), 'rows': [s.nrows for s in b.sheets()], 'sum': total, 'md5': h.hexdigest()}))
)");
        QByteArray out;
        QString err;
        QVERIFY2(run(kPython, {"-c", script, path}, out, err), qPrintable(err));
        const QJsonObject doc = QJsonDocument::fromJson(out).object();
        QCOMPARE(doc["names"].toArray(), (QJsonArray{"Лист 1", "Лист 2", "Лист 3"}));
        QCOMPARE(doc["rows"].toArray(), (QJsonArray{65536, 65536, rows - 2 * 65536}));
        QCOMPARE(doc["sum"].toDouble(), sum);
        QCOMPARE(doc["md5"].toString(), QString::fromLatin1(texts.result().toHex()));
    }

    // LibreOffice shows the cells as written: every sheet converted to CSV.
    void libreOfficeCsvEqualsTheCells() {
        if (QStandardPaths::findExecutable("soffice").isEmpty())
            QSKIP("LibreOffice (soffice) is not installed");
        xls::Workbook b;
        b.sheets.push_back(reportSheet("Оперативный", 30, 0));
        b.sheets.push_back(reportSheet("Наблюдения", 8, 50));
        b.sheets.push_back(reportSheet("Ждущий", 3, 7));
        b.sheets[2].cells.push_back({0, 6, QString(3000, QChar(u'щ')), {}});  // text across SST records
        const QString path = dir_ + "/csv.xls";
        xls::save(b, path);
        const QString outDir = dir_ + "/csv";
        QDir().mkpath(outDir);
        QString err;
        QVERIFY2(soffice({"--convert-to", "csv:Text - txt - csv (StarCalc):44,34,76,1,,1033,false,true,true,false,false,-1",
                          "--outdir", outDir, path},
                         err),
                 qPrintable(err));
        for (const xls::Sheet& s : b.sheets) {
            QFile f(outDir + "/csv-" + s.name + ".csv");
            QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(f.fileName() + " " + err));
            const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
            std::map<std::pair<int, int>, QString> want;
            int lastCol = 0, lastRow = 0;
            for (const xls::Cell& c : s.cells) {
                QString t;
                if (const QString* x = std::get_if<QString>(&c.value))
                    t = *x;
                else if (const double* d = std::get_if<double>(&c.value))
                    t = QString::number(*d, 'f', c.style.numberFormat == "0" ? 0 : 2);
                if (t.contains(','))
                    t = '"' + t + '"';
                want[{c.row, c.col}] = t;
                lastCol = std::max(lastCol, c.col);
                lastRow = std::max(lastRow, c.row);
            }
            QCOMPARE(lines.size(), lastRow + 1);
            for (int r = 0; r <= lastRow; ++r) {
                QStringList row;
                for (int c = 0; c <= lastCol; ++c)
                    row << want[{r, c}];
                QCOMPARE(lines[r].trimmed(), row.join(','));
            }
        }
    }

    // LibreOffice reads the largest report (a file with DIFAT sectors) whole.
    void libreOfficeReadsTheLargestReport() {
        if (QStandardPaths::findExecutable("soffice").isEmpty())
            QSKIP("LibreOffice (soffice) is not installed");
        constexpr int rows = 150000;
        const QString path = dir_ + "/large.xls";
        xls::save(largeReport(rows), path);
        const QString outDir = dir_ + "/large";
        QDir().mkpath(outDir);
        QString err;
        QVERIFY2(soffice({"--convert-to", "csv:Text - txt - csv (StarCalc):44,34,76,1,,1033,false,true,true,false,false,-1",
                          "--outdir", outDir, path},
                         err),
                 qPrintable(err));
        int r = 0;
        for (int sheet = 1; sheet <= 3; ++sheet) {
            QFile f(outDir + QStringLiteral("/large-Лист %1.csv").arg(sheet));
            QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(f.fileName() + " " + err));
            const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
            QCOMPARE(lines.size(), std::min(xls::MaxRows, rows - (sheet - 1) * xls::MaxRows));
            for (const QString& line : lines) {
                QCOMPARE(line.trimmed(), QString::number(r * 0.5, 'g', 10) + ',' + largeReportText(r));
                ++r;
            }
        }
        QCOMPARE(r, rows);
    }

    // The PDF of a sheet with a picture shows the picture, on a landscape page.
    void libreOfficePdfShowsThePicture() {
        if (QStandardPaths::findExecutable("soffice").isEmpty())
            QSKIP("LibreOffice (soffice) is not installed");
        xls::Workbook b;
        b.sheets.push_back(reportSheet("Серия 1", 6, 0));
        b.sheets[0].page.landscape = true;
        const QByteArray png = pngOf(testPicture());
        QVERIFY(png.size() > 2 * 8224);  // the drawing group needs CONTINUE records
        b.sheets[0].pictures.push_back({png, 8, 1, 10, 5, 0, 0});
        const QString path = dir_ + "/picture.xls";
        xls::save(b, path);
        QString err;
        QVERIFY2(soffice({"--convert-to", "pdf", "--outdir", dir_, path}, err), qPrintable(err));
        const QString pdf = dir_ + "/picture.pdf";
        QVERIFY2(QFile::exists(pdf), qPrintable(err));

        QByteArray out;
        QVERIFY2(run("pdfimages", {"-list", pdf}, out, err), qPrintable(err));
        QVERIFY2(out.contains(" 240   120 "), out.constData());
        QVERIFY2(run("pdfinfo", {pdf}, out, err), qPrintable(err));
        const QRegularExpressionMatch size =
            QRegularExpression("Page size:\\s+([0-9.]+) x ([0-9.]+)").match(QString::fromLatin1(out));
        QVERIFY(size.hasMatch());
        QVERIFY2(size.captured(1).toDouble() > size.captured(2).toDouble(), out.constData());  // landscape

        QVERIFY2(run("pdftoppm", {"-r", "60", "-png", "-singlefile", pdf, dir_ + "/picture"}, out, err), qPrintable(err));
        const QImage page(dir_ + "/picture.png");
        QVERIFY(!page.isNull());
        int magenta = 0;
        for (int y = 0; y < page.height(); ++y)
            for (int x = 0; x < page.width(); ++x) {
                const QColor c = page.pixelColor(x, y);
                magenta += c.red() > 200 && c.blue() > 200 && c.green() < 60;
            }
        QVERIFY2(magenta > 200, qPrintable(QString::number(magenta)));
    }
};

QTEST_GUILESS_MAIN(TestXlsInterop)
#include "test_xls_interop.moc"

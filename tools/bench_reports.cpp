// Timing of the three reports at the instrument's full capacity: the
// operative report of 4,681 records and the waiting and observation reports
// of a 150,000-point series.  For each it prints how long preparing the
// pages takes, how long until the first page is visible in the preview,
// writing a PDF and writing the workbook, and at the end the peak memory.
// Prints figures only; it checks nothing.
//
//   bench_reports [points=150000] [operative records=4681] [output folder]

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QTabWidget>
#include <QTemporaryDir>
#include <cstdio>
#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

#include "ground/app_locale.h"
#include "ground/dialogs.h"
#include "ground/settings_key.h"
#include "output/report_commands.h"
#include "output/report_painter.h"
#include "output/report_preview.h"
#include "output/report_workbook.h"
#include "output/xls_writer.h"
#include "store/dbf.h"
#include "store/measurement.h"
#include "mainwindow/main_window.h"
#include "views/observation_view.h"
#include "views/waiting_view.h"

namespace {

double ms(const QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e6; }

void writeTable(const QString& path, int operative, int points)
{
    dbf::Table::create(path, measurementFields());
    dbf::Table t;
    t.setFileName(path);
    t.open();
    t.beginBulk();
    for (int k = 1; k <= operative; ++k) {
        t.append();
        t.setInteger(u"MODE", 0);
        t.setInteger(u"TYPE", 3);
        t.setFloat(u"N", k);
        t.setFloat(u"R", double((k * 37) % 1000) / 100.0);
        t.setString(u"DATE", QStringLiteral("01.03.2015"));
        t.setString(u"TIME", QStringLiteral("10:00:00"));
        t.post();
    }
    const QDateTime start(QDate(2015, 3, 1), QTime(10, 0), Qt::UTC);
    for (int mode = 1; mode <= 2; ++mode) {
        for (int k = 1; k <= points; ++k) {
            t.append();
            t.setInteger(u"MODE", mode);
            t.setInteger(u"TYPE", 1);
            t.setFloat(u"N", mode == 1 ? 1 : k);
            t.setFloat(u"R", double((k * 37) % 1000 - 500) / 100.0);
            t.setString(u"DATE", QStringLiteral("01.03.2015"));
            t.setString(u"TIME", QStringLiteral("10:00:00"));
            if (k == 1) {
                t.setFloat(u"M1", 240);
                t.setFloat(u"M2", mode == 1 ? 3 : 1);
                t.setString(u"COMMENT", QStringLiteral("Примечание: пролёт 3"));
            }
            if (mode == 1)
                t.setString(u"ARTICLE", start.addSecs(k * 5).toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")));
            else if (k == 1)
                t.setString(u"ARTICLE", QStringLiteral("11.03.2015 10:00:00"));
            t.post();
        }
    }
    t.endBulk();
    t.close();
}

// The process's peak resident memory.
long peakMb()
{
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS c{};
    if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &c, sizeof c))
        return -1;
    return long(c.PeakWorkingSetSize >> 20);
#else
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024;
#endif
}

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toLocal8Bit());
    installAppLocale();
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    bool ok1 = true, ok2 = true;
    const int points = argc > 1 ? QByteArray(argv[1]).toInt(&ok1) : 150000;
    const int operative = argc > 2 ? QByteArray(argv[2]).toInt(&ok2) : 4681;
    if (!ok1 || !ok2 || points < 1 || operative < 1) {
        std::fprintf(stderr, "usage: bench_reports [points] [operative records] [output folder]\n");
        return 2;
    }
    const QString out = argc > 3 ? QString::fromLocal8Bit(argv[3]) : dir.path();

    const QString path = dir.filePath(QStringLiteral("bench.db"));
    QElapsedTimer timer;
    timer.start();
    writeTable(path, operative, points);
    std::printf("table: %d operative records, 2 series of %d points: %.0f ms\n", operative, points, ms(timer));

    ui::ScriptedDialogs answers;
    ui::ScopedDialogs scope(&answers);
    SettingsKey settings;
    TForm1 form(settings);
    form.resize(1280, 800);
    form.show();
    if (!form.Open_DB(path)) {
        std::printf("the table could not be opened\n");
        return 1;
    }
    app.processEvents();

    report::ReportCommands commands(&form, form.Dbf1);
    struct Case {
        const char* name;
        int sheet;
        report::ReportRequest::Kind kind;
    };
    for (const Case& c : {Case{"operative", 0, report::ReportRequest::Kind::Operative},
                          Case{"waiting", 1, report::ReportRequest::Kind::Waiting},
                          Case{"observation", 2, report::ReportRequest::Kind::Observation}}) {
        form.PageControl1->setCurrentIndex(c.sheet);
        app.processEvents();
        report::ReportRequest req;
        req.kind = c.kind;
        if (c.sheet == 1) {
            form.waitingView->ComboBox1->setCurrentIndex(0);
            form.waitingView->ComboBox1Change();
            req.waiting = {form.waitingView->ComboBox1->currentText(), QStringLiteral("01.03.2015 10:00:00"),
                           QStringLiteral("240час."), QStringLiteral("3мм."), form.waitingView->Memo1->toPlainText()};
            req.chart = form.waitingView->Chart1;
        } else if (c.sheet == 2) {
            form.observationView->ComboBox2->setCurrentIndex(0);
            form.observationView->ComboBox2Change();
            req.observation = {form.observationView->ComboBox2->currentText(), QStringLiteral("01.03.2015 10:00:00"),
                               QStringLiteral("11.03.2015 10:00:00"), QStringLiteral("240час."),
                               QStringLiteral("1мин."), form.observationView->Memo2->toPlainText()};
            req.chart = form.observationView->Chart2;
        }
        app.processEvents();
        double chartMs = 0;
        if (req.chart) {
            timer.restart();
            const report::PictureSource pic = report::chartPicture(*req.chart, QSizeF(1052, 444));
            chartMs = ms(timer);
            std::printf("%s: chart picture %.0f ms (SVG %.1f kB, PNG %.1f kB)\n", c.name, chartMs,
                        pic.svg.size() / 1e3, pic.png.size() / 1e3);
        }

        const long before = peakMb();
        timer.restart();
        std::optional<report::PreparedReport> r = commands.prepare(req);
        const double prepare = ms(timer);
        const long afterPrepare = peakMb();
        if (!r) {
            std::printf("%s: not prepared\n", c.name);
            return 1;
        }

        // Preview: from the prepared report until its first page is painted.
        timer.restart();
        {
            report::ReportPreview preview(*r, {}, {}, &form);
            preview.resize(1000, 800);
            preview.show();
            app.processEvents();
            preview.view()->viewport()->grab();
        }
        const double firstPage = ms(timer);

        const QString pdf = QDir(out).filePath(QStringLiteral("%1.pdf").arg(QLatin1String(c.name)));
        timer.restart();
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        report::printPages(*r, printer);
        const double pdfMs = ms(timer);
        const long afterPdf = peakMb();

        const QString xlsPath = QDir(out).filePath(QStringLiteral("%1.xls").arg(QLatin1String(c.name)));
        // As the export command does it: the workbook replaces the pages.
        timer.restart();
        const int pageCount = r->pageCount();
        {
            const xls::Workbook book = report::toWorkbook(*r);
            r.reset();
            xls::save(book, xlsPath);
        }
        const double xlsMs = ms(timer);

        std::printf("%s: peak memory before %ld MB, after preparing %ld MB, after preview and PDF %ld MB, "
                    "after the workbook %ld MB\n",
                    c.name, before, afterPrepare, afterPdf, peakMb());
        std::printf("%s: %d pages; prepare %.0f ms; first preview page %.0f ms (after prepare); PDF %.0f ms "
                    "(%.1f MB); xls %.0f ms (%.1f MB)\n",
                    c.name, pageCount, prepare, firstPage, pdfMs, QFileInfo(pdf).size() / 1e6, xlsMs,
                    QFileInfo(xlsPath).size() / 1e6);
    }
    std::printf("peak memory: %ld MB\n", peakMb());
    form.Close_DB();
    return 0;
}

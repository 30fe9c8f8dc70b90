// Timing of the series views on long series: builds a table with one waiting
// and one observation series of N points each (150,000 unless given as the
// first argument), opens it in the main window and prints how long picking,
// drawing and moving the cursor take.  Prints figures only; it checks nothing.
//
//   bench_series [points] [picture-prefix]
//
// With a picture prefix the two views are also saved as prefix-waiting.png
// and prefix-observation.png after the timings.

#include <QApplication>
#include <functional>
#include <QComboBox>
#include <QElapsedTimer>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>
#include <cstdio>
#include <qcustomplot.h>

#include "ground/app_locale.h"
#include "ground/dialogs.h"
#include "ground/settings_key.h"
#include "store/dbf.h"
#include "store/measurement.h"
#include "mainwindow/main_window.h"
#include "series/series_logic.h"
#include "views/observation_view.h"
#include "views/waiting_view.h"

namespace {

double ms(const QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e6; }

void writeSeries(const QString& path, int points)
{
    dbf::Table::create(path, measurementFields());
    dbf::Table t;
    t.setFileName(path);
    t.open();
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
            }
            if (mode == 1)
                t.setString(u"ARTICLE", start.addSecs(k * 5).toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")));
            else if (k == 1)
                t.setString(u"ARTICLE", QStringLiteral("11.03.2015 10:00:00"));
            t.post();
        }
    }
    t.close();
}

}  // namespace

int main(int argc, char** argv)
{
    // A count that is not a whole number from 1 to the capacity of a series
    // archive is refused, not read as something else.
    int points = 150000;
    if (argc > 1) {
        bool ok = false;
        points = QByteArray(argv[1]).toInt(&ok);
        if (!ok || points < 1 || points > 150000) {
            std::fprintf(stderr, "bench_series: points must be a whole number from 1 to 150000, not \"%s\"\n"
                                 "usage: bench_series [points] [picture-prefix]\n",
                         argv[1]);
            return 2;
        }
    }
    QTemporaryDir dir;
    // Settings of this run stay in the temporary folder.
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toLocal8Bit());
    installAppLocale();
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    const QString path = dir.filePath(QStringLiteral("bench.db"));
    QElapsedTimer timer;
    timer.start();
    writeSeries(path, points);
    std::printf("table with 2 x %d points written: %.0f ms\n", points, ms(timer));

    ui::ScriptedDialogs answers;
    ui::ScopedDialogs scope(&answers);
    SettingsKey settings;
    TForm1 form(settings);
    form.show();
    form.resize(1280, 800);
    if (!form.Open_DB(path)) {
        std::printf("the table could not be opened\n");
        return 1;
    }
    app.processEvents();

    auto pickAndDraw = [&](int sheet, QComboBox* picker, QCustomPlot* chart, QSlider* slider,
                           std::function<void()> change, const char* name) {
        form.PageControl1->setCurrentIndex(sheet);
        app.processEvents();
        picker->setCurrentIndex(picker->findText(QStringLiteral("1")));

        timer.restart();
        change();
        const double select = ms(timer);
        timer.restart();
        app.processEvents();  // layout and the queued replot
        chart->replot(QCustomPlot::rpImmediateRefresh);
        const double draw = ms(timer);
        std::printf("%s: select (filter, list, chart data) %.1f ms, draw %.1f ms, total %.1f ms\n", name, select,
                    draw, select + draw);

        const int moves = 200;
        timer.restart();
        for (int i = 0; i < moves; ++i) {
            slider->setValue(slider->minimum() + (i * 7919) % qMax(1, slider->maximum() - slider->minimum()));
            app.processEvents();
        }
        std::printf("%s: cursor move with redraw %.2f ms each (%d moves)\n", name, ms(timer) / moves, moves);
    };

    WaitingView& w = *form.waitingView;
    ObservationView& o = *form.observationView;
    pickAndDraw(1, w.ComboBox1, w.Chart1, w.TrackBar2, [&] { w.ComboBox1Change(); }, "waiting");
    pickAndDraw(2, o.ComboBox2, o.Chart2, o.TrackBar1, [&] { o.ComboBox2Change(); }, "observation");

    if (argc > 2) {
        const QString prefix = QString::fromLocal8Bit(argv[2]);
        for (int sheet : {1, 2}) {
            form.PageControl1->setCurrentIndex(sheet);
            (sheet == 1 ? form.waitingView->TrackBar2 : form.observationView->TrackBar1)->setValue(points / 3);
            app.processEvents();
            form.grab().save(prefix + (sheet == 1 ? QStringLiteral("-waiting.png") : QStringLiteral("-observation.png")));
        }
    }

    form.PageControl1->setCurrentIndex(1);
    app.processEvents();
    timer.restart();
    const int notes = 100;
    for (int i = 0; i < notes; ++i)
        form.waitingView->Memo1->setPlainText(QStringLiteral("Примечание: запись %1").arg(i));
    std::printf("note stored %.2f ms per keystroke\n", ms(timer) / notes);

    timer.restart();
    const auto ordinals = series::seriesOrdinalTexts(form.Dbf1, 1);
    std::printf("picker fill walk over %u records: %.1f ms\n", form.Dbf1.physicalCount(), ms(timer));
    form.Close_DB();
    return ordinals.isEmpty() ? 1 : 0;
}

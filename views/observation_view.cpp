// The observation series view: layout, reading a series onto the screen, cursor.

#include "views/observation_view.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>
#include <qcustomplot.h>

#include "ground/object_names.h"
#include "series/series_logic.h"
#include "store/dbf.h"
#include "views/series_chart.h"
#include "views/string_grid.h"

using namespace seriesview;

ObservationView::ObservationView(dbf::Table& table, FilterSetter setFilter, QWidget* parent)
    : SeriesView(table, 2, std::move(setFilter), parent)
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->setSpacing(4);

    buildHeaderStrip(outer, ComboBox2, "ComboBox2",
                     {{QStringLiteral("Длительность:"), "StaticText1", 70, &StaticText1},
                      {QStringLiteral("Интервал:"), "StaticText2", 60, &StaticText2},
                      {QStringLiteral("Начало:"), "StaticText3", 140, &StaticText3},
                      {QStringLiteral("Окончание:"), "StaticText4", 140, &StaticText4}},
                     Label10, "Label10");

    auto* body = new QHBoxLayout;
    body->setSpacing(4);
    Panel5 = new QWidget(this);
    Panel5->setObjectName(QStringLiteral("Panel5"));
    auto* panelLayout = new QVBoxLayout(Panel5);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    // The widest interval number (a series of 150,000 points); proportions 35 : 65.
    int listWidth = 0;
    StringGrid2 = makeList(Panel5, "StringGrid2", {35, 65}, QStringLiteral("000000"), QStringLiteral("№"), &listWidth);
    Panel5->setFixedWidth(listWidth + 10);  // the panel is 10 pixels wider than its list
    panelLayout->addWidget(StringGrid2, 1, Qt::AlignLeft);
    body->addWidget(Panel5);

    auto* right = new QVBoxLayout;
    right->setSpacing(2);
    Chart2 = chart_ = new QCustomPlot(this);
    Chart2->setObjectName(QStringLiteral("Chart2"));
    setupChart(Chart2, QStringLiteral("№ инт"), QStringLiteral("f, мм."));
    // Interval numbers are whole numbers: no fractional ticks.
    auto ticker = QSharedPointer<QCPAxisTickerFixed>::create();
    ticker->setTickStep(1.0);
    ticker->setScaleStrategy(QCPAxisTickerFixed::ssMultiples);
    Chart2->xAxis->setTicker(ticker);
    LineSeries1 = lineSeries(Chart2, "LineSeries1", QPen(Qt::red, 2), false);
    Series2 = lineSeries(Chart2, "Series2", cursorPen(), true);
    putOnCursorLayer(Chart2, Series2);
    right->addWidget(Chart2, 1);
    right->addWidget(Memo2 = makeNoteBox("Memo2"));
    right->addWidget(TrackBar1 = makeSlider("TrackBar1"));
    body->addLayout(right, 1);
    outer->addLayout(body, 1);

    setObjectNames({{LineSeries1, "LineSeries1"}, {Series2, "Series2"}});
    connectControls([this] { ComboBox2Change(); }, [this] { TrackBar1Change(); }, [this] { Memo2Change(); });
}

void ObservationView::ComboBox2Change()
{
    int ordinal = 0;
    if (!pickedOrdinal(ordinal))
        return;

    series::ObservationSeries s;
    {
        const QScopedValueRollback<bool> quiet(updating_, true);
        if (!readSeries(ordinal,
                        [&] { s = series::readObservationSeries(table_, series::viewRecordsInStoredOrder(table_)); }))
            return;
        shownSeries = ordinal;
        rememberNoteRecord(s.count > 0, s.firstRecord);

        StringGrid2->show();
        LineSeries1->data()->clear();
        Series2->data()->clear();
        Chart2->show();
        Memo2->show();
        TrackBar1->show();

        StringGrid2->clearCells();
        StringGrid2->setRowCount(s.count + 1);
        StringGrid2->setColumn(0, 0, s.numbers);
        StringGrid2->setColumn(1, 0, s.values);
        StringGrid2->scrollToTop();

        StaticText1->setText(s.duration);
        StaticText2->setText(s.interval);
        StaticText3->setText(s.start);
        StaticText4->setText(s.end);
        showNote(s.comment, s.count > 0);

        LineSeries1->setData(s.keys, s.deflections);
        if (!s.keys.isEmpty()) {
            const auto [kmin, kmax] = std::minmax_element(s.keys.cbegin(), s.keys.cend());
            const auto [x0, x1] = series::paddedRange(*kmin, *kmax, 0.02, 1.0);
            Chart2->xAxis->setRange(x0, x1);
            const auto [vmin, vmax] = std::minmax_element(s.deflections.cbegin(), s.deflections.cend());
            const auto [y0, y1] = series::paddedRange(*vmin, *vmax, 0.08, 1.0);
            Chart2->yAxis->setRange(y0, y1);
        } else {
            Chart2->xAxis->setRange(0, 10);
            Chart2->yAxis->setRange(-1, 1);
        }

        {
            const QSignalBlocker block(TrackBar1);
            TrackBar1->setMinimum(s.sliderMin);
            TrackBar1->setMaximum(s.sliderMax);
            // A single record leaves the frequency as it was.
            if (s.tickFrequency && *s.tickFrequency > 0)
                TrackBar1->setTickInterval(*s.tickFrequency);
            TrackBar1->setValue(TrackBar1->minimum());
        }
        showTicks(TrackBar1);
        TrackBar1->setEnabled(s.count > 0);
    }

    if (s.count > 0)
        TrackBar1Change();
    else
        showNoPoints();
    Chart2->replot(QCustomPlot::rpQueuedReplot);
    TrackBar1->setFocus();
}

void ObservationView::TrackBar1Change()
{
    Series2->data()->clear();
    // The position is the interval number, which is also the list row.
    const int p = TrackBar1->value();
    if (p < 1 || p >= StringGrid2->rowCount()) {
        replotCursor(Chart2, Series2);
        return;
    }
    const QString number = StringGrid2->cell(0, p);
    const QString value = StringGrid2->cell(1, p);
    if (const auto y = series::parseNumber(value))
        Series2->addData(double(p), *y);
    setReadout(QStringLiteral("N:") + number + QStringLiteral(" Прогиб:") + value + QStringLiteral("  "));
    replotCursor(Chart2, Series2);
}

void ObservationView::Memo2Change() { storeNote(); }

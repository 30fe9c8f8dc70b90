// The waiting series view: layout, reading a series onto the screen, cursor.

#include "views/waiting_view.h"

#include <QComboBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <qcustomplot.h>

#include "ground/dialogs.h"
#include "ground/object_names.h"
#include "series/series_logic.h"
#include "store/dbf.h"
#include "views/series_chart.h"
#include "views/string_grid.h"

using namespace seriesview;

namespace {

void reportBadDates(QWidget* parent, const QStringList& bad)
{
    if (bad.isEmpty())
        return;
    QString text = QStringLiteral("Не удалось прочитать дату и время точки: \"%1\".").arg(bad.first());
    if (bad.size() > 1)
        text += QStringLiteral("\nТакже не прочитано точек: %1.").arg(bad.size() - 1);
    text += QStringLiteral("\nЭти точки не нанесены на график.");
    ui::showError(parent, text);
}

}  // namespace

WaitingView::WaitingView(dbf::Table& table, FilterSetter setFilter, QWidget* parent)
    : SeriesView(table, 1, std::move(setFilter), parent)
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->setSpacing(4);

    buildHeaderStrip(outer, ComboBox1, "ComboBox1",
                     {{QStringLiteral("Длительность:"), "StaticText5", 70, &StaticText5},
                      {QStringLiteral("Порог:"), "StaticText6", 60, &StaticText6},
                      {QStringLiteral("Начало:"), "StaticText7", 140, &StaticText7}},
                     Label11, "Label11");

    auto* body = new QHBoxLayout;
    body->setSpacing(4);
    // The widest time of a point; the list keeps the proportions 105 : 65.
    StringGrid1 = makeList(this, "StringGrid1", {105, 65}, QStringLiteral("00.00.0000 00:00:00"), QStringLiteral("Дата"));
    body->addWidget(StringGrid1);

    auto* right = new QVBoxLayout;
    right->setSpacing(2);
    Chart1 = chart_ = new QCustomPlot(this);
    Chart1->setObjectName(QStringLiteral("Chart1"));
    setupChart(Chart1, QStringLiteral("t, мин."), QStringLiteral("f, мм."));
    setTimeAxisFormat(Chart1);
    // Index order on the chart: bars, cursor, upper threshold, zero, lower threshold.
    Series1 = new WaitingBars(Chart1->xAxis, Chart1->yAxis);
    Series1->setName(QStringLiteral("Series1"));
    Series1->setPen(QPen(QColor(40, 40, 40)));
    Series1->setBrush(Qt::white);
    Series1->setWidthType(QCPBars::wtPlotCoords);
    Series3 = lineSeries(Chart1, "Series3", cursorPen(), true);
    putOnCursorLayer(Chart1, Series3);
    Series4 = lineSeries(Chart1, "Series4", thresholdPen(), false);
    Series5 = lineSeries(Chart1, "Series5", QPen(Qt::black, 1), false);
    Series6 = lineSeries(Chart1, "Series6", thresholdPen(), false);
    right->addWidget(Chart1, 1);
    right->addWidget(Memo1 = makeNoteBox("Memo1"));
    right->addWidget(TrackBar2 = makeSlider("TrackBar2"));
    body->addLayout(right, 1);
    outer->addLayout(body, 1);

    setObjectNames({{Series1, "Series1"}, {Series3, "Series3"}, {Series4, "Series4"}, {Series5, "Series5"},
                    {Series6, "Series6"}});
    connectControls([this] { ComboBox1Change(); }, [this] { TrackBar2Change(); }, [this] { Memo1Change(); });
}

void WaitingView::ComboBox1Change()
{
    int ordinal = 0;
    if (!pickedOrdinal(ordinal))
        return;

    series::WaitingSeries s;
    {
        const QScopedValueRollback<bool> quiet(updating_, true);
        // 1. The series' records, read in stored order whatever the sort.
        if (!readSeries(ordinal, [&] { s = series::readWaitingSeries(table_, series::viewRecordsInStoredOrder(table_)); }))
            return;
        shownSeries = ordinal;
        rememberNoteRecord(s.count > 0, s.firstRecord);

        // 2. Empty chart, time-over-date labels; list, chart, note and slider shown.
        StringGrid1->show();
        Series1->data()->clear();
        for (QCPGraph* g : {Series3, Series4, Series5, Series6})
            g->data()->clear();
        setTimeAxisFormat(Chart1);
        Chart1->show();
        Memo1->show();
        TrackBar2->show();

        // 3. The list: title row, then one row per record.
        StringGrid1->clearCells();
        StringGrid1->setRowCount(s.count + 1);
        StringGrid1->setColumn(0, 0, s.dates);
        StringGrid1->setColumn(1, 0, s.values);
        StringGrid1->scrollToTop();

        // 4. Header texts and the note of the series.
        StaticText5->setText(s.duration);
        StaticText6->setText(s.threshold);
        StaticText7->setText(s.start);
        showNote(s.comment, s.count > 0);

        // 5. Bars, threshold and zero lines from the first to the last time.
        Series1->setData(s.keys, s.deflections);
        const bool manyBars = s.keys.size() > AntialiasedBarLimit;
        Series1->setAntialiased(!manyBars);
        Series1->setAntialiasedFill(!manyBars);
        QVector<double> sortedKeys = s.keys;  // shared unless it must be sorted
        if (!std::is_sorted(sortedKeys.cbegin(), sortedKeys.cend()))
            std::sort(sortedKeys.begin(), sortedKeys.end());
        Series1->setWidth(series::barWidth(sortedKeys));
        if (s.hasLineKeys) {
            const double thr = s.thresholdValue;
            Series4->setData({s.firstKey, s.lastKey}, {thr, thr});
            Series5->setData({s.firstKey, s.lastKey}, {0.0, 0.0});
            Series6->setData({s.firstKey, s.lastKey}, {-thr, -thr});
        }

        // Axes over the data with a little room around it.
        if (!s.keys.isEmpty()) {
            const auto [kmin, kmax] = std::minmax_element(s.keys.cbegin(), s.keys.cend());
            const double halfBar = Series1->width() / 2;
            const auto [x0, x1] = series::paddedRange(*kmin - halfBar, *kmax + halfBar, 0.03, 60.0);
            Chart1->xAxis->setRange(x0, x1);
            const auto [vmin, vmax] = std::minmax_element(s.deflections.cbegin(), s.deflections.cend());
            const double lo = std::min({*vmin, 0.0, -double(std::abs(s.thresholdValue))});
            const double hi = std::max({*vmax, 0.0, double(std::abs(s.thresholdValue))});
            const auto [y0, y1] = series::paddedRange(lo, hi, 0.08, 1.0);
            Chart1->yAxis->setRange(y0, y1);
        } else {
            const double k = series::dateTimeKey(QDateTime::currentDateTimeUtc());
            Chart1->xAxis->setRange(k - 3600, k + 3600);
            Chart1->yAxis->setRange(-1, 1);
        }

        // 6. The slider over the list rows.
        {
            const QSignalBlocker block(TrackBar2);
            TrackBar2->setMinimum(s.count > 0 ? 1 : 0);
            TrackBar2->setMaximum(s.count);
            TrackBar2->setTickInterval(1);
            TrackBar2->setValue(TrackBar2->minimum());
        }
        showTicks(TrackBar2);
        TrackBar2->setEnabled(s.count > 0);
    }

    if (s.count > 0)
        TrackBar2Change();
    else
        showNoPoints();
    Chart1->replot(QCustomPlot::rpQueuedReplot);
    TrackBar2->setFocus();
    reportBadDates(this, s.badDates);
}

void WaitingView::TrackBar2Change()
{
    Series3->data()->clear();
    const int p = TrackBar2->value();
    if (p < 1 || p >= StringGrid1->rowCount()) {
        replotCursor(Chart1, Series3);
        return;
    }
    const QString when = StringGrid1->cell(0, p);
    const QString value = StringGrid1->cell(1, p);
    const auto key = series::pointKey(when);
    const auto y = series::parseNumber(value);
    if (key && y)
        Series3->addData(*key, *y);
    setReadout(QStringLiteral("Дата:") + when + QStringLiteral(" Порог:") + value + QStringLiteral("  "));
    replotCursor(Chart1, Series3);
}

void WaitingView::Memo1Change() { storeNote(); }

#pragma once
// The three report templates of the main window and the handlers that fill
// the series reports' information texts, note and chart just before they
// print.

#include "output/report_model.h"

namespace report {

// Operative archive: one landscape design listing the records.
Template frReport1();
// Waiting archive: a landscape first page with the series' information, note
// and chart, then portrait pages listing its points.
Template frReport2();
// Observation archive: the same structure as the waiting report.
Template frReport3();

// Texts of the waiting view's controls.
struct WaitingTexts {
    QString series;     // the series box
    QString start;      // "Начало:"
    QString duration;   // "Длительность:"
    QString threshold;  // "Порог:"
    QString note;       // the note box, whole text
};

// Texts of the observation view's controls.
struct ObservationTexts {
    QString series;
    QString start;     // "Начало:"
    QString end;       // "Окончание:"
    QString duration;  // "Длительность:"
    QString interval;  // "Интервал:"
    QString note;
};

// The size the series chart is drawn at in the report.
constexpr double ChartWidth = 1052;
constexpr double ChartHeight = 444;

void frReport2BeforePrint(ObjectFill& object, const WaitingTexts& texts, int chartPicture);
void frReport3BeforePrint(ObjectFill& object, const ObservationTexts& texts, int chartPicture);

}  // namespace report

#pragma once
// The waiting series view: a series of deflections over time against a
// threshold, as a list of times and values, a bar chart with the threshold
// and zero lines, a cursor slider and the series' note.

#include "views/series_view.h"

class QCPBars;
class QCPGraph;

class WaitingView : public SeriesView {
    Q_OBJECT
public:
    WaitingView(dbf::Table& table, FilterSetter setFilter, QWidget* parent = nullptr);

    void ComboBox1Change();  // a series picked: read and show it
    void TrackBar2Change();  // the cursor moved
    void Memo1Change();      // the note edited

    QComboBox* ComboBox1 = nullptr;
    QLabel* StaticText5 = nullptr;  // duration
    QLabel* StaticText6 = nullptr;  // threshold
    QLabel* StaticText7 = nullptr;  // start
    QLabel* Label11 = nullptr;      // cursor readout
    StringGrid* StringGrid1 = nullptr;
    QCustomPlot* Chart1 = nullptr;
    QCPBars* Series1 = nullptr;   // bars
    QCPGraph* Series3 = nullptr;  // cursor
    QCPGraph* Series4 = nullptr;  // upper threshold
    QCPGraph* Series5 = nullptr;  // zero
    QCPGraph* Series6 = nullptr;  // lower threshold
    QPlainTextEdit* Memo1 = nullptr;
    QSlider* TrackBar2 = nullptr;
};

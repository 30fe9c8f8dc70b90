#pragma once
// The observation series view: deflections at numbered intervals, as a list
// of interval numbers and values, a line chart, a cursor slider and the
// series' note.

#include "views/series_view.h"

class QCPGraph;

class ObservationView : public SeriesView {
    Q_OBJECT
public:
    ObservationView(dbf::Table& table, FilterSetter setFilter, QWidget* parent = nullptr);

    void ComboBox2Change();  // a series picked: read and show it
    void TrackBar1Change();  // the cursor moved
    void Memo2Change();      // the note edited

    QComboBox* ComboBox2 = nullptr;
    QLabel* StaticText1 = nullptr;  // duration
    QLabel* StaticText2 = nullptr;  // interval
    QLabel* StaticText3 = nullptr;  // start
    QLabel* StaticText4 = nullptr;  // end
    QLabel* Label10 = nullptr;      // cursor readout
    QWidget* Panel5 = nullptr;
    StringGrid* StringGrid2 = nullptr;
    QCustomPlot* Chart2 = nullptr;
    QCPGraph* LineSeries1 = nullptr;  // deflections
    QCPGraph* Series2 = nullptr;      // cursor
    QPlainTextEdit* Memo2 = nullptr;
    QSlider* TrackBar1 = nullptr;
};

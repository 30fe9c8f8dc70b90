#pragma once
// What the waiting and the observation series views share: the picker of
// series numbers, the header strip with the cursor readout, the two-column
// list, the chart, the note box and the cursor slider.  A view is handed the
// table and a way to put a filter on it; it reads its series through that
// filter, shows it and stores its note.

#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <vector>

class QComboBox;
class QCustomPlot;
class QLabel;
class QPlainTextEdit;
class QSlider;
class QVBoxLayout;
class StringGrid;
namespace dbf {
class Table;
}

class SeriesView : public QWidget {
    Q_OBJECT
public:
    // Puts a filter on the table and has every view of it re-read the rows.
    using FilterSetter = std::function<void(const QString& filter)>;

    // `mode` is the MODE of the series' records: 1 waiting, 2 observation.
    SeriesView(dbf::Table& table, int mode, FilterSetter setFilter, QWidget* parent = nullptr);

    int mode() const { return mode_; }
    // The ordinal (TYPE) of the series on show; 0 when none.
    int shownSeries = 0;

    // Lists the mode's series numbers in the picker, selecting none when the
    // picker was empty.
    void fillPicker();
    // Adds one number to the picker (a download lists its new series).
    void addSeries(const QString& number);
    // Number of entries in the picker, and its current text.
    int listedSeries() const;
    QString pickedSeries() const;
    // A picker filled since `wasEmpty` shows no series until one is picked.
    void selectNoneIf(bool wasEmpty);

    // Back to no series: empty picker, chart, texts and list, default note.
    void clear();
    // Hides the list, the slider and the note box (no database).
    void hideSeries();
    // Empties the header texts and the readout.
    void clearTexts();

protected:
    struct HeaderItem {
        QString label;
        const char* name;  // object name of the value text
        int minWidth;
        QLabel** text;
    };

    // The header strip on top of `outer`: the picker after "№ Испытания", the
    // label and value of each item, the cursor readout at the right end.
    void buildHeaderStrip(QVBoxLayout* outer, QComboBox*& picker, const char* pickerName,
                          std::initializer_list<HeaderItem> items, QLabel*& readout, const char* readoutName);
    // The list, the note box and the slider, named as given.
    StringGrid* makeList(QWidget* parent, const char* name, const std::array<int, 2>& baseWidths,
                         const QString& firstWidest, const QString& firstTitle, int* width = nullptr);
    QPlainTextEdit* makeNoteBox(const char* name);
    QSlider* makeSlider(const char* name);
    // Wires the picker, the slider and the note box to the view's handlers;
    // none of them runs while the view itself updates its widgets.
    void connectControls(std::function<void()> picked, std::function<void()> moved, std::function<void()> noted);

    // The picked number, when it is one.
    bool pickedOrdinal(int& ordinal) const;
    // Reads the rows of the picked series through its filter, in stored
    // order; false after an error box.
    template <typename Read>
    bool readSeries(int ordinal, Read read);
    // Remembers the series' first record (where its note goes).
    void rememberNoteRecord(bool hasPoints, uint32_t firstRecord);
    // Shows the note of a series in the note box.
    void showNote(const QString& comment, bool hasPoints);
    // "Серия не содержит точек" in the readout.
    void showNoPoints();
    void setReadout(const QString& text);
    // Stores the note box's text into the series' first record.
    void storeNote();
    // A message for what a read or a store threw.
    void reportError(const std::exception& e);
    void firstRow();

    dbf::Table& table_;
    const int mode_;
    FilterSetter setFilter_;
    bool updating_ = false;

    QComboBox* picker_ = nullptr;
    QLabel* readout_ = nullptr;
    std::vector<QLabel*> texts_;
    StringGrid* list_ = nullptr;
    QCustomPlot* chart_ = nullptr;
    QPlainTextEdit* memo_ = nullptr;
    QSlider* slider_ = nullptr;
};

template <typename Read>
bool SeriesView::readSeries(int ordinal, Read read)
{
    try {
        setFilter_(QStringLiteral("MODE=%1 AND TYPE=%2").arg(mode_).arg(ordinal));
        firstRow();
        read();
    } catch (const std::exception& e) {
        reportError(e);
        return false;
    }
    return true;
}

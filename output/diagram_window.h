#pragma once
// "График": the single readings of one result as bars, its mean strength as
// a line across them; printed through a preview or saved as a bitmap.

#include <QColor>
#include <QDialog>
#include <map>
#include <qcustomplot.h>

namespace dbf {
class Table;
}
class QPrinter;
class QPushButton;

// Bars coloured one by one.  Their values are written above them by text
// items of the chart, so that the line of the mean never covers one.
class ReadingBars : public QCPBars {
    Q_OBJECT
public:
    ReadingBars(QCPAxis* keyAxis, QCPAxis* valueAxis);
    void clearBars();
    void addBar(double key, double value, const QColor& colour);
    QColor colourAt(double key) const;  // invalid when there is no bar
    QString labelAt(double key) const;  // the text written above the bar
    static QString valueText(double value);

protected:
    void draw(QCPPainter* painter) override;

private:
    std::map<double, QColor> colours_;
};

class TForm5 : public QDialog {
    Q_OBJECT
public:
    // The table is the main window's; the window reads its current record.
    explicit TForm5(dbf::Table& table, QWidget* parent = nullptr);

    // Fills the chart from the table's current record.  Run before the
    // window is shown.
    void FormShow();
    void BitBtn1Click();  // "Печать": print preview of the chart
    void Button1Click();  // "Export to bmp"

    // Reading of a stored value: the tenths count w, the plotted value
    // (w AND 0x7FFF) / 10, and bit 15 of w as the mark.
    struct Reading {
        double value;
        bool marked;
    };
    static Reading reading(double stored);

    QCustomPlot* Chart1 = nullptr;
    ReadingBars* Series1 = nullptr;
    QCPGraph* Series2 = nullptr;
    QCPTextElement* Label1 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* Button1 = nullptr;

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void placeChildren();
    void printChart(QPrinter* printer);
    void restoreRanges();

    dbf::Table& table_;
    QCPRange keyRange_, valueRange_;
};

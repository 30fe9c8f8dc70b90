#pragma once
// The output commands of the main window: preview, print and workbook
// export of the current tab's report, and the series chart to the
// clipboard.  The main window chooses the report and hands over what it
// needs; everything else happens here.

#include <QString>
#include <optional>

#include "output/report_templates.h"

class QCustomPlot;
class QPrinter;
class QWidget;

namespace dbf {
class Table;
}

namespace report {

struct ReportRequest {
    enum class Kind { Operative, Waiting, Observation };
    Kind kind = Kind::Operative;
    WaitingTexts waiting;          // Kind::Waiting
    ObservationTexts observation;  // Kind::Observation
    QCustomPlot* chart = nullptr;  // the series chart (Waiting, Observation)
};

// Which report a tab prints: sheet 1 the operative report, sheet 2 and 3 the
// waiting and observation reports when their series box shows a series.
std::optional<ReportRequest::Kind> reportForSheet(int sheet, const QString& waitingSeries,
                                                  const QString& observationSeries);

class ReportCommands {
public:
    ReportCommands(QWidget* parent, const dbf::Table& table);

    void setHelpFile(const QString& file) { helpFile_ = file; }

    // Prepares the report (nothing when that fails).
    std::optional<PreparedReport> prepare(const ReportRequest& request) const;
    // Prepares the report and opens its preview.
    void preview(const ReportRequest& request);
    // Prepares and prints: the operative report on the default printer
    // without a dialog (nothing without a printer), the series reports
    // through the print dialog.
    void print(const ReportRequest& request);
    // Prepares the report, asks for a workbook name (starting in `directory`),
    // writes the workbook and opens it in the spreadsheet application.
    void exportWorkbook(const ReportRequest& request, const QString& directory);

    // Prints through the print dialog (printer, copies, page range).
    void printWithDialog(const PreparedReport& report);

private:
    QWidget* parent_;
    const dbf::Table& table_;
    QString helpFile_;
};

// The whole chart on the clipboard as a picture at its size on screen.
void copyChartToClipboard(QCustomPlot& chart);

}  // namespace report

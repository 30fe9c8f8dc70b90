// The main window's output commands: the report of the current tab goes to
// the report commands (preview, print, workbook, chart copy).
#include "mainwindow/main_window.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QPlainTextEdit>
#include <QRadioButton>

#include "output/report_commands.h"
#include "views/observation_view.h"
#include "views/waiting_view.h"

// ---------------------------------------------------------------------------
// output commands: the report of the current tab goes to the report commands

std::optional<report::ReportRequest> TForm1::currentReport() const
{
    if (!db_open || !Dbf1.isOpen() || PageControl1->isHidden())
        return std::nullopt;
    const WaitingView& w = *waitingView;
    const ObservationView& o = *observationView;
    const auto kind = report::reportForSheet(currentSheet(), w.pickedSeries(), o.pickedSeries());
    if (!kind)
        return std::nullopt;
    report::ReportRequest r;
    r.kind = *kind;
    if (*kind == report::ReportRequest::Kind::Waiting) {
        r.waiting = {w.pickedSeries(), w.StaticText7->text(), w.StaticText5->text(), w.StaticText6->text(),
                     w.Memo1->toPlainText()};
        r.chart = w.Chart1;
    } else if (*kind == report::ReportRequest::Kind::Observation) {
        r.observation = {o.pickedSeries(),    o.StaticText3->text(), o.StaticText4->text(),
                         o.StaticText1->text(), o.StaticText2->text(), o.Memo2->toPlainText()};
        r.chart = o.Chart2;
    }
    return r;
}

void TForm1::ToolButton4Click()
{
    if (const auto r = currentReport()) {
        reports_->setHelpFile(help_file);
        reports_->preview(*r);
    }
}

void TForm1::ToolButton5Click()
{
    if (const auto r = currentReport())
        reports_->print(*r);
}

void TForm1::Excel1Click()
{
    if (const auto r = currentReport())
        reports_->exportWorkbook(*r, open_dialog_dir);
}

void TForm1::N38Click()
{
    if (PageControl1->isHidden())
        return;
    const int sheet = currentSheet();
    if (sheet == 2 && !waitingView->pickedSeries().isEmpty())
        report::copyChartToClipboard(*waitingView->Chart1);
    if (sheet == 3 && !observationView->pickedSeries().isEmpty())
        report::copyChartToClipboard(*observationView->Chart2);
}

// The hidden service command "1": shows the tab area and the waiting tab and
// adds the items "0" to "50" to the waiting tab's service group (every use
// adds them again).
void TForm1::N110Click()
{
    PageControl1->show();
    auto* lay = RadioGroup1->layout();
    for (int i = 0; i <= 50; ++i)
        lay->addWidget(new QRadioButton(QString::number(i), RadioGroup1));
    PageControl1->setTabVisible(1, true);
}

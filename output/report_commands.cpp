#include "output/report_commands.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <exception>
#include <new>
#include <qcustomplot.h>

#include "ground/dialogs.h"
#include "ground/help.h"
#include "ground/platform.h"
#include "output/report_data.h"
#include "output/report_painter.h"
#include "output/report_preview.h"
#include "output/report_workbook.h"
#include "output/xls_writer.h"
#include "store/dbf.h"

namespace report {

std::optional<ReportRequest::Kind> reportForSheet(int sheet, const QString& waitingSeries,
                                                  const QString& observationSeries)
{
    switch (sheet) {
    case 1: return ReportRequest::Kind::Operative;
    case 2:
        if (!waitingSeries.isEmpty())
            return ReportRequest::Kind::Waiting;
        break;
    case 3:
        if (!observationSeries.isEmpty())
            return ReportRequest::Kind::Observation;
        break;
    default: break;
    }
    return std::nullopt;
}

namespace {

// The name a print job (and a PDF file) is offered under.
QString documentName(const PreparedReport& r)
{
    if (r.name == QLatin1String("frReport2"))
        return QStringLiteral("ДОРК-5 Архив ждущий");
    if (r.name == QLatin1String("frReport3"))
        return QStringLiteral("ДОРК-5 Архив наблюдения");
    return QStringLiteral("ДОРК-5 Архив оперативный");
}

}  // namespace

ReportCommands::ReportCommands(QWidget* parent, const dbf::Table& table) : parent_(parent), table_(table) {}

std::optional<PreparedReport> ReportCommands::prepare(const ReportRequest& request) const
{
    if (!table_.isOpen())
        return std::nullopt;
    try {
        const TextMetrics metrics = painterTextMetrics();
        switch (request.kind) {
        case ReportRequest::Kind::Operative: return prepareOperative(table_, metrics);
        case ReportRequest::Kind::Waiting:
        case ReportRequest::Kind::Observation: {
            PictureSource chart;
            chart.size = QSizeF(ChartWidth, ChartHeight);
            if (request.chart)
                chart = chartPicture(*request.chart, chart.size);
            if (request.kind == ReportRequest::Kind::Waiting)
                return prepareWaiting(table_, request.waiting, std::move(chart), metrics);
            return prepareObservation(table_, request.observation, std::move(chart), metrics);
        }
        }
    } catch (const std::bad_alloc&) {
        ui::showError(parent_, QStringLiteral("Недостаточно памяти для подготовки отчёта"));
    } catch (const dbf::Error& e) {
        ui::showError(parent_, e.text());
    } catch (const std::exception& e) {
        ui::showError(parent_, QString::fromLocal8Bit(e.what()));
    }
    return std::nullopt;
}

void ReportCommands::preview(const ReportRequest& request)
{
    const std::optional<PreparedReport> r = prepare(request);
    if (!r)
        return;
    ReportPreview dlg(
        *r, [this, &r] { printWithDialog(*r); },
        [this] {
            if (!helpFile_.isEmpty())
                showHelp(parent_, helpFile_);
        },
        parent_);
    ui::dialogs().exec(dlg);
}

void ReportCommands::printWithDialog(const PreparedReport& report)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(documentName(report));
    printer.setFromTo(0, 0);
    QPrintDialog dlg(&printer, parent_);
    dlg.setWindowTitle(QStringLiteral("Печать"));
    dlg.setMinMax(1, std::max(1, report.pageCount()));
    dlg.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintPageRange |
                   QAbstractPrintDialog::PrintCollateCopies | QAbstractPrintDialog::PrintShowPageSize);
    if (ui::dialogs().exec(dlg) != QDialog::Accepted)
        return;
    int first = 0, last = 0;
    if (printer.printRange() == QPrinter::PageRange) {
        first = printer.fromPage();
        last = printer.toPage();
    }
    if (!printPages(report, printer, first, last))
        ui::showError(parent_, QStringLiteral("Не удалось напечатать отчёт"));
}

void ReportCommands::print(const ReportRequest& request)
{
    const std::optional<PreparedReport> r = prepare(request);
    if (!r)
        return;
    if (request.kind != ReportRequest::Kind::Operative) {
        printWithDialog(*r);
        return;
    }
    // The operative report goes to the default printer: all pages, one copy.
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull())
        return;
    QPrinter printer(info, QPrinter::HighResolution);
    printer.setDocName(documentName(*r));
    printer.setCopyCount(1);
    if (!printPages(*r, printer))
        ui::showError(parent_, QStringLiteral("Не удалось напечатать отчёт"));
}

void ReportCommands::exportWorkbook(const ReportRequest& request, const QString& directory)
{
    std::optional<PreparedReport> r = prepare(request);
    if (!r)
        return;
    ui::FileRequest req;
    req.caption = QStringLiteral("Экспорт в Excel");
    req.directory = directory;
    req.filter = QStringLiteral("Книга Excel|*.xls");
    req.defaultSuffix = QStringLiteral("xls");
    req.confirmOverwrite = true;
    QString path = ui::dialogs().saveFile(parent_, req);
    if (path.isEmpty())
        return;
    // A name typed without an extension gets ".xls", as the dialog would add.
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".xls");
    try {
        const xls::Workbook book = toWorkbook(*r);
        r.reset();  // the pages are in the workbook now; a long report needs the memory
        xls::save(book, path);
    } catch (const xls::Error& e) {
        ui::showError(parent_, QString::fromUtf8(e.what()));
        return;
    } catch (const std::bad_alloc&) {
        ui::showError(parent_, QStringLiteral("Недостаточно памяти для записи книги %1").arg(path));
        return;
    }
    if (!platform::openDocument(path))
        ui::showInfo(parent_,
                     QStringLiteral("Книга сохранена в файле %1, но программа для её просмотра не найдена.")
                         .arg(QDir::toNativeSeparators(path)),
                     QStringLiteral("Экспорт в Excel"));
}

void copyChartToClipboard(QCustomPlot& chart)
{
    const int w = std::max(1, chart.width());
    const int h = std::max(1, chart.height());
    platform::putPictureOnClipboard(chart.toPixmap(w, h).toImage(), chartSvg(chart, w, h), chartEmf(chart, w, h));
}

}  // namespace report

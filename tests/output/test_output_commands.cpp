// The output commands of the main window end to end over a real database:
// which report each tab prints, preview, print to PDF through the print
// dialog, workbook export with its save dialog, and the chart on the
// clipboard.  PDF text is read back with pdftotext and compared with the
// table as python3-dbfread reads it.

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QRadioButton>
#include <QGroupBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <qcustomplot.h>

#include "../series/test_series_data.h"
#include "ground/dialogs.h"
#include "ground/platform.h"
#include "ground/settings_key.h"
#include "output/report_preview.h"
#include "mainwindow/main_window.h"
#include "views/observation_view.h"
#include "views/waiting_view.h"
#include "tool_run.h"

#include <QtEndian>
#include <cstdlib>
#include <map>
#ifdef _WIN32
#include <windows.h>
#endif

namespace {
// The independent readers (poppler, Python's xlrd and dbfread) are Linux
// programs; the Windows build checks what it can without them.
#ifdef _WIN32
constexpr bool kReaders = false;
#else
constexpr bool kReaders = true;
#endif
}  // namespace

using namespace seriestest;

namespace {

std::vector<Row> tableRows()
{
    std::vector<Row> rows = standardRows();
    for (int i = 1; i <= 70; ++i)
        rows.push_back({0, 3, double(100 + i), i * 0.37, {}, {}, QStringLiteral("05.04.2016"),
                        QStringLiteral("11:%1:30").arg(i % 60, 2, 10, QLatin1Char('0')), {},
                        i % 7 ? QString() : QStringLiteral("трещина у опоры %1").arg(i)});
    return rows;
}

QString run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return QStringLiteral("ERROR: ") + QString::fromUtf8(p.readAllStandardError());
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The words of each non-empty line, joined by one space.
QStringList normalisedLines(const QString& text)
{
    QStringList out;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const QString s = line.simplified();
        if (!s.isEmpty())
            out << s;
    }
    return out;
}

// With DORK5_REPORT_DIR set, the files a test writes are kept there to be
// looked at.
void keep(const QString& file)
{
    const QString dir = qEnvironmentVariable("DORK5_REPORT_DIR");
    if (dir.isEmpty())
        return;
    const QString to = QDir(dir).filePath(QFileInfo(file).fileName());
    QFile::remove(to);
    QFile::copy(file, to);
}

}  // namespace

class TestOutputCommands : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path_;
    std::unique_ptr<SettingsKey> settings_;
    std::unique_ptr<ui::ScriptedDialogs> dialogs_;
    std::unique_ptr<ui::ScopedDialogs> scope_;
    std::unique_ptr<TForm1> form_;
    QStringList opened_;

    TForm1& f() { return *form_; }

    void showSheet(int index)
    {
        f().PageControl1->setCurrentIndex(index);
        QCOMPARE(f().currentSheet(), index + 1);
        QCoreApplication::processEvents();
    }

    void pick(QComboBox* box, const QString& text)
    {
        const int i = box->findText(text);
        QVERIFY2(i >= 0, qPrintable(text));
        box->setCurrentIndex(i);
        emit box->activated(i);
        QCoreApplication::processEvents();
    }

    // The next print dialog is accepted with PDF output to `pdf`.
    void printNextTo(const QString& pdf)
    {
        dialogs_->execResults.push_back(QDialog::Accepted);
        dialogs_->onExec = [pdf](QDialog& d) {
            if (auto* pd = qobject_cast<QPrintDialog*>(&d)) {
                pd->printer()->setOutputFormat(QPrinter::PdfFormat);
                pd->printer()->setOutputFileName(pdf);
            }
        };
    }

    QString pdfText(const QString& pdf, bool layout = true)
    {
        keep(pdf);
        QStringList args;
        if (layout)
            args << QStringLiteral("-layout");
        args << pdf << QStringLiteral("-");
        return run(QStringLiteral("pdftotext"), args);
    }

    int pdfPages(const QString& pdf)
    {
#ifdef _WIN32
        // poppler is not there: the page objects are counted instead.
        QFile f(pdf);
        if (!f.open(QIODevice::ReadOnly))
            return -1;
        return int(QString::fromLatin1(f.readAll()).count(QRegularExpression(QStringLiteral("/Type\\s*/Page(?!s)"))));
#endif
        const QString info = run(QStringLiteral("pdfinfo"), {pdf});
        const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info);
        return m.hasMatch() ? m.captured(1).toInt() : -1;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        platform::setDocumentOpener([this](const QString& p) {
            opened_ << p;
            return true;
        });
    }

    void init()
    {
        opened_.clear();
        dialogs_ = std::make_unique<ui::ScriptedDialogs>();
        scope_ = std::make_unique<ui::ScopedDialogs>(dialogs_.get());
        path_ = dir_.filePath(QStringLiteral("out.db"));
        QFile::remove(path_);
        writeTable(path_, tableRows());
        settings_ = std::make_unique<SettingsKey>();
        form_ = std::make_unique<TForm1>(*settings_);
        form_->show();
        QVERIFY(form_->Open_DB(path_));
        form_->open_dialog_dir = dir_.path();
    }

    void cleanup()
    {
        form_.reset();
        scope_.reset();
        dialogs_.reset();
    }

    void silentWithoutAReport()
    {
        // Waiting tab with an empty series box: nothing is prepared or asked.
        showSheet(1);
        QCOMPARE(f().waitingView->ComboBox1->currentText(), QString());
        f().ToolButton4Click();
        f().ToolButton5Click();
        f().Excel1Click();
        QVERIFY(dialogs_->execLog.isEmpty());
        QVERIFY(dialogs_->fileRequests.empty());
        QVERIFY(dialogs_->messages.empty());
        // No database: nothing either.
        f().Close_DB();
        f().ToolButton4Click();
        f().Excel1Click();
        QVERIFY(dialogs_->execLog.isEmpty());
        QVERIFY(dialogs_->fileRequests.empty());
    }

    void previewOpensAtOneWholePageAndPaintsOnDemand()
    {
        showSheet(1);
        pick(f().waitingView->ComboBox1, QStringLiteral("1"));
        dialogs_->onExec = [](QDialog& d) {
            auto* preview = qobject_cast<report::ReportPreview*>(&d);
            QVERIFY(preview);
            preview->resize(900, 700);
            preview->show();
            QCoreApplication::processEvents();
            report::PageView* view = preview->view();
            QCOMPARE(view->currentPage(), 0);
            // One whole landscape page fits the view.
            QVERIFY(view->zoom() * 1122 <= view->viewport()->width());
            QVERIFY(view->zoom() * 793 <= view->viewport()->height());
            view->grab();
            QVERIFY(view->pagesPainted() >= 1);
            QVERIFY(view->pagesPainted() <= 4);
            // "Whole page" on the portrait list page fits that page.
            view->showPage(1);
            view->setFit(report::PageView::Fit::WholePage);
            QCOMPARE(view->currentPage(), 1);
            QVERIFY(view->zoom() * 1122 <= view->viewport()->height());
        };
        f().ToolButton4Click();
        QCOMPARE(dialogs_->execLog, QStringList({"ReportPreview"}));
    }

    void previewOfALongReportPaintsOnlyWhatIsSeen()
    {
        // The operative tab of this table is short; build a long one.
        form_.reset();
        std::vector<Row> rows;
        for (int i = 1; i <= 3000; ++i)
            rows.push_back({0, 3, double(i), i * 0.01, {}, {}, QStringLiteral("01.01.2020"), QStringLiteral("10:00:00"),
                            {}, {}});
        QFile::remove(path_);
        writeTable(path_, rows);
        form_ = std::make_unique<TForm1>(*settings_);
        form_->show();
        QVERIFY(form_->Open_DB(path_));
        showSheet(0);
        int painted = -1;
        dialogs_->onExec = [&painted](QDialog& d) {
            auto* preview = qobject_cast<report::ReportPreview*>(&d);
            preview->resize(900, 700);
            preview->show();
            QCoreApplication::processEvents();
            preview->view()->showPage(50);
            preview->view()->grab();
            QCOMPARE(preview->view()->currentPage(), 50);
            painted = preview->view()->pagesPainted();
        };
        f().ToolButton4Click();
        QVERIFY(painted >= 1 && painted < 10);
    }

    void operativePrintNeedsNoDialog()
    {
        showSheet(0);
        // Without a printer the operative report prints nothing and asks nothing.
        f().ToolButton5Click();
        QVERIFY(dialogs_->execLog.isEmpty());
        QVERIFY(dialogs_->messages.empty());
    }

    void operativeReportToPdfListsEveryRowOfTheTab()
    {
        showSheet(0);
        // From the preview: its print button shows the print dialog.
        const QString pdf = dir_.filePath(QStringLiteral("operative.pdf"));
        // The preview is run first and rejected on close; inside it the print
        // dialog is accepted with PDF output.
        dialogs_->execResults = {QDialog::Accepted, QDialog::Rejected};
        dialogs_->onExec = [pdf](QDialog& d) {
            if (auto* pd = qobject_cast<QPrintDialog*>(&d)) {
                pd->printer()->setOutputFormat(QPrinter::PdfFormat);
                pd->printer()->setOutputFileName(pdf);
            } else if (auto* preview = qobject_cast<report::ReportPreview*>(&d)) {
                preview->printAction()->trigger();
            }
        };
        f().ToolButton4Click();
        QCOMPARE(dialogs_->execLog.first(), QStringLiteral("ReportPreview"));
        QVERIFY(QFileInfo::exists(pdf));
        const int pages = pdfPages(pdf);
        QVERIFY(pages >= 2);
        if (!kReaders)
            return;

        const QStringList lines = normalisedLines(pdfText(pdf));
        // The rows as an independent reader sees them.
        const QString expected = run(QStringLiteral("/usr/bin/python3"),
                                     {QStringLiteral("-c"), QStringLiteral(R"(
import sys, dbfread, decimal
for r in dbfread.DBF(sys.argv[1], encoding='cp1251'):
    if r['MODE'] != 0: continue
    n = r['N']; n = str(int(n)) if n == int(n) else str(n)
    rv = str(decimal.Decimal(repr(r['R'])).quantize(decimal.Decimal('0.1'), decimal.ROUND_HALF_UP)).replace('.', ',')
    print(' '.join(x for x in [n, r['DATE'], r['TIME'], rv, r['COMMENT']] if x))
)"),
                                      path_});
        QVERIFY2(!expected.startsWith(QStringLiteral("ERROR")), qPrintable(expected));
        const QStringList want = normalisedLines(expected);
        QCOMPARE(want.size(), 72);
        QStringList got;
        for (const QString& l : lines)
            if (QRegularExpression(QStringLiteral("^\\d+ \\d\\d\\.\\d\\d\\.\\d{4} ")).match(l).hasMatch())
                got << l;
        QCOMPARE(got, want);
        for (int i = 1; i <= pages; ++i)
            QVERIFY2(lines.contains(QStringLiteral("Стр. %1 из %2").arg(i).arg(pages)), qPrintable(QString::number(i)));
        QVERIFY(lines.first().contains(QStringLiteral("ДОРК-5")));
        QVERIFY(lines.first().contains(QStringLiteral("Архив оперативный")));
    }

    void waitingReportToPdfFromThePrintCommand()
    {
        showSheet(1);
        pick(f().waitingView->ComboBox1, QStringLiteral("1"));
        f().waitingView->Memo1->setPlainText(QStringLiteral("Примечание: пролёт 3"));
        // Leaving the tab and coming back resets the table's filter to the
        // whole mode; the report still lists the series it names.
        showSheet(0);
        showSheet(1);
        const QString pdf = dir_.filePath(QStringLiteral("waiting.pdf"));
        printNextTo(pdf);
        f().ToolButton5Click();
        QCOMPARE(dialogs_->execLog.size(), 1);
        QCOMPARE(pdfPages(pdf), 2);
        if (!kReaders)
            return;
        // The first page landscape, the list of points portrait, both A4.
        const QString sizes = run(QStringLiteral("pdfinfo"), {QStringLiteral("-f"), QStringLiteral("1"),
                                                             QStringLiteral("-l"), QStringLiteral("2"), pdf});
        QVERIFY2(sizes.contains(QRegularExpression(QStringLiteral("Page\\s+1 size:\\s+84[12][.0-9]* x 595"))), qPrintable(sizes));
        QVERIFY2(sizes.contains(QRegularExpression(QStringLiteral("Page\\s+2 size:\\s+595[.0-9]* x 84[12]"))), qPrintable(sizes));
        const QString text = pdfText(pdf);
        for (const char* s : {"Архив ждущий", "№ Серии: 1", "Дата: 01.03.2015 10:00:00", "Длительность: 24час.",
                              "Порог: 2,6мм.", "Примечание: пролёт 3", "Стр. 1 из 2", "Прогиб f, мм."})
            QVERIFY2(text.contains(QString::fromUtf8(s)), s);
        const QStringList lines = normalisedLines(text);
        QVERIFY(lines.contains(QStringLiteral("0,5 01.03.2015 10:00:00")));
        QVERIFY(lines.contains(QStringLiteral("1,25 01.03.2015 10:30:00")));
        QVERIFY(lines.contains(QStringLiteral("-3 01.03.2015 11:00:00")));
        // Only the selected series: no point of series 2.
        QVERIFY(!text.contains(QStringLiteral("02.03.2015 08:10:00")));
        // The chart is drawn as vectors, not pasted in as a bitmap.
        const QString images = run(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf});
        QCOMPARE(images.split(QLatin1Char('\n'), Qt::SkipEmptyParts).size(), 2);  // the list's title lines only
    }

    void observationReportToPdfWithAPageRange()
    {
        showSheet(2);
        pick(f().observationView->ComboBox2, QStringLiteral("1"));
        showSheet(1);
        showSheet(2);
        const QString pdf = dir_.filePath(QStringLiteral("observation.pdf"));
        printNextTo(pdf);
        dialogs_->onExec = [pdf](QDialog& d) {
            auto* pd = qobject_cast<QPrintDialog*>(&d);
            QVERIFY(pd);
            pd->printer()->setOutputFormat(QPrinter::PdfFormat);
            pd->printer()->setOutputFileName(pdf);
            pd->printer()->setPrintRange(QPrinter::PageRange);
            pd->printer()->setFromTo(2, 2);
        };
        f().ToolButton5Click();
        QCOMPARE(pdfPages(pdf), 1);
        if (kReaders) {
            const QStringList lines = normalisedLines(pdfText(pdf));
            QVERIFY(lines.contains(QStringLiteral("0,7 1")));
            QVERIFY(lines.contains(QStringLiteral("2 4")));
            QVERIFY(!lines.contains(QStringLiteral("4 1")));  // series 2
            QVERIFY(!lines.join(QLatin1Char(' ')).contains(QStringLiteral("Стр. 1")));
        }

        // Cancelling the dialog prints nothing.
        QFile::remove(pdf);
        dialogs_->onExec = {};
        dialogs_->execResults.push_back(QDialog::Rejected);
        f().ToolButton5Click();
        QVERIFY(!QFileInfo::exists(pdf));
    }

    void exportAsksForAWorkbookAndOpensIt()
    {
        showSheet(0);
        dialogs_->files.push_back(dir_.filePath(QStringLiteral("архив")));
        f().Excel1Click();
        QCOMPARE(dialogs_->fileRequests.size(), size_t(1));
        const ui::FileRequest& req = dialogs_->fileRequests[0];
        QCOMPARE(req.filter, QStringLiteral("Книга Excel|*.xls"));
        QCOMPARE(req.defaultSuffix, QStringLiteral("xls"));
        QCOMPARE(req.directory, dir_.path());
        const QString xls = dir_.filePath(QStringLiteral("архив.xls"));
        QVERIFY(QFileInfo::exists(xls));
        keep(xls);
        QCOMPARE(opened_, QStringList({xls}));
        QVERIFY(dialogs_->messages.empty());
        if (!kReaders)
            return;
        // The sheet as an independent reader sees it.
        const QString cells = run(QStringLiteral("/usr/bin/python3"),
                                  {QStringLiteral("-c"), QStringLiteral(R"(
import sys, xlrd
b = xlrd.open_workbook(sys.argv[1], formatting_info=True)
s = b.sheet_by_index(0)
print(b.nsheets)
for r in range(s.nrows):
    for c in range(s.ncols):
        v = s.cell_value(r, c)
        if v != '': print(repr(v))
        if v == 0.37:
            xf = b.xf_list[s.cell_xf_index(r, c)]
            print('format', b.format_map[xf.format_key].format_str, 'border', xf.border.left_line_style)
)"),
                                   xls});
        QVERIFY2(!cells.startsWith(QStringLiteral("ERROR")), qPrintable(cells));
        const QStringList values = cells.split(QLatin1Char('\n'));
        QCOMPARE(values.first(), QStringLiteral("1"));
        QVERIFY(values.contains(QStringLiteral("'ДОРК-5'")));
        QVERIFY(values.contains(QStringLiteral("'Прогиб f,мм.'")));
        QVERIFY(values.contains(QStringLiteral("'трещина у опоры 7'")));
        QVERIFY(values.contains(QStringLiteral("101.0")));  // N as a number
        QVERIFY(values.contains(QStringLiteral("0.37")));   // R as a number, shown as 0,4
        QVERIFY(values.contains(QStringLiteral("format 0.0 border 1")));
    }

    void seriesWorkbookShowsTheChartInLibreOffice()
    {
        if (!tooltest::haveSoffice())
            QSKIP("LibreOffice (soffice) is not installed");
        showSheet(1);
        pick(f().waitingView->ComboBox1, QStringLiteral("1"));
        const QString xls = dir_.filePath(QStringLiteral("series.xls"));
        dialogs_->files.push_back(xls);
        f().Excel1Click();
        QCOMPARE(opened_, QStringList({xls}));
        keep(xls);
        QTemporaryDir office;
        QString err;
        QVERIFY2(tooltest::soffice(office.path(), {QStringLiteral("--convert-to"), QStringLiteral("pdf"),
                                                   QStringLiteral("--outdir"), office.path(), xls},
                                   err),
                 qPrintable(err));
        const QString pdf = office.filePath(QStringLiteral("series.pdf"));
        QVERIFY2(QFileInfo::exists(pdf), qPrintable(err));
        // The chart is the one picture, in the place of its 1052 x 444 slot.
        const QStringList images = run(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf})
                                       .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(images.size(), 3);
        QVERIFY2(images[2].simplified().contains(QStringLiteral("image 2104 888")), qPrintable(images[2]));
        const QString text = pdfText(pdf, false);
        for (const char* s : {"Архив ждущий", "№ Серии: 1", "Порог: 2,6мм.", "01.03.2015 10:30:00"})
            QVERIFY2(text.contains(QString::fromUtf8(s)), s);
    }

    void exportSaysWhereTheBookIsWhenNothingCanOpenIt()
    {
        platform::setDocumentOpener([](const QString&) { return false; });
        showSheet(0);
        const QString xls = dir_.filePath(QStringLiteral("без программы.xls"));
        dialogs_->files.push_back(xls);
        f().Excel1Click();
        platform::setDocumentOpener([this](const QString& p) {
            opened_ << p;
            return true;
        });
        QVERIFY(QFileInfo::exists(xls));
        QCOMPARE(dialogs_->messages.size(), size_t(1));
        QVERIFY(dialogs_->messages[0].text.contains(QDir::toNativeSeparators(xls)));
        QCOMPARE(dialogs_->messages[0].icon, ui::Icon::Information);
    }

    void exportCancelledOrRefusedWritesNothing()
    {
        showSheet(2);
        pick(f().observationView->ComboBox2, QStringLiteral("1"));
        const QStringList before = QDir(dir_.path()).entryList(QDir::AllEntries | QDir::Hidden);
        f().Excel1Click();  // the dialog is cancelled
        QCOMPARE(dialogs_->fileRequests.size(), size_t(1));
        QVERIFY(opened_.isEmpty());
        QCOMPARE(QDir(dir_.path()).entryList(QDir::AllEntries | QDir::Hidden), before);

        // A folder in the way: a clear message, nothing opened.
        const QString folder = dir_.filePath(QStringLiteral("папка.xls"));
        QVERIFY(QDir().mkpath(folder));
        dialogs_->files.push_back(folder);
        f().Excel1Click();
        QCOMPARE(dialogs_->messages.size(), size_t(1));
        QCOMPARE(dialogs_->messages[0].caption, QStringLiteral("Ошибка"));
        QVERIFY(opened_.isEmpty());
        QVERIFY(QFileInfo(folder).isDir());
    }

    void chartCopyPutsTheWholeChartOnTheClipboard()
    {
        QClipboard* cb = QGuiApplication::clipboard();
        cb->setText(QStringLiteral("до копирования"));
        // The operative tab has no chart: the clipboard stays as it was.
        showSheet(0);
        f().N38Click();
        QCOMPARE(cb->text(), QStringLiteral("до копирования"));
        // Observation tab without a series: nothing either.
        showSheet(2);
        f().N38Click();
        QCOMPARE(cb->text(), QStringLiteral("до копирования"));

        pick(f().observationView->ComboBox2, QStringLiteral("1"));
        f().N38Click();
#ifdef _WIN32
        // The system's clipboard: the chart as a metafile of vectors, and as
        // a bitmap of its size.
        QVERIFY(OpenClipboard(nullptr));
        const auto mf = static_cast<HENHMETAFILE>(GetClipboardData(CF_ENHMETAFILE));
        QVERIFY(mf);
        QByteArray emf(int(GetEnhMetaFileBits(mf, 0, nullptr)), '\0');
        GetEnhMetaFileBits(mf, UINT(emf.size()), reinterpret_cast<BYTE*>(emf.data()));
        std::map<quint32, int> kinds;
        for (qsizetype at = 0; at + 8 <= emf.size();) {
            const quint32 type = qFromLittleEndian<quint32>(emf.constData() + at);
            const quint32 size = qFromLittleEndian<quint32>(emf.constData() + at + 4);
            ++kinds[type];
            if (size < 8)
                break;
            at += size;
        }
        QCOMPARE(kinds[14], 1);  // EMR_EOF, reached record by record
        QCOMPARE(kinds[81], 0);  // no bitmap (STRETCHDIBITS) inside
        QVERIFY(kinds[90] + kinds[87] > 10);  // lines
        QVERIFY(kinds[84] > 5);  // texts
        const auto* dib = static_cast<const BITMAPINFOHEADER*>(GlobalLock(GetClipboardData(CF_DIB)));
        QVERIFY(dib);
        const QSize dibSize(dib->biWidth, std::abs(dib->biHeight));
        GlobalUnlock(GetClipboardData(CF_DIB));
        CloseClipboard();
        QCOMPARE(dibSize, f().observationView->Chart2->size());
        return;
#endif
        const QMimeData* data = cb->mimeData();
        QVERIFY(data->hasImage());
        const QImage img = qvariant_cast<QImage>(data->imageData());
        QCOMPARE(img.size(), f().observationView->Chart2->size());
        QVERIFY(data->hasFormat(QStringLiteral("image/png")));
        QVERIFY(data->data(QStringLiteral("image/svg+xml")).contains("<svg"));
        QVERIFY(!data->hasText());
    }

    void hiddenServiceCommandAddsItsItemsEachTime()
    {
        f().N110Click();
        f().N110Click();
        const auto buttons = f().RadioGroup1->findChildren<QRadioButton*>();
        QCOMPARE(buttons.size(), 102);
        QCOMPARE(buttons.first()->text(), QStringLiteral("0"));
        QCOMPARE(buttons.at(50)->text(), QStringLiteral("50"));
        QVERIFY(f().PageControl1->isVisible());
        QVERIFY(f().PageControl1->isTabVisible(1));
    }
};

QTEST_MAIN(TestOutputCommands)
#include "test_output_commands.moc"

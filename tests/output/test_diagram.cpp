// The diagram window: bars and line from the current record, the legend,
// the bitmap export and the print preview, offscreen with scripted dialogs.
#include <QDir>
#include <QImage>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "ground/app_locale.h"
#include "ground/dialogs.h"
#include "ground/settings_key.h"
#include "output/diagram_window.h"
#include "store/dbf.h"
#include "store/measurement.h"
#include "mainwindow/main_window.h"
#include "tests/write_failure.h"
#include "tests/object_names.h"

class DiagramTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void readingsOfTheRecord();
    void emptyReadingsLeaveTheirPlace();
    void exportBitmap();
    void lockedFolderNamesTheCause();
    void fullDiskNamesTheCause();
    void printPreview();
    void shownByTheMainWindow();

private:
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<ui::ScriptedDialogs> dialogs_;
    std::unique_ptr<ui::ScopedDialogs> scope_;
    dbf::Table table_;

    // One result row: date, time, R and readings (NaN: no value).
    void addRow(const QString& date, const QString& time, double r, int count, std::vector<double> m)
    {
        table_.append();
        table_.setString(u"DATE", date);
        table_.setString(u"TIME", time);
        table_.setFloat(u"R", r);
        table_.setInteger(u"COUNT", count);
        table_.setInteger(u"MODE", 0);
        table_.setInteger(u"TYPE", 3);
        for (size_t i = 0; i < m.size(); ++i)
            if (!std::isnan(m[i]))
                table_.setFloat(QStringLiteral("M%1").arg(i + 1), m[i]);
        table_.post();
    }
    QString path(const QString& n) const { return dir_->filePath(n); }
};

void DiagramTest::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    dialogs_ = std::make_unique<ui::ScriptedDialogs>();
    scope_ = std::make_unique<ui::ScopedDialogs>(dialogs_.get());
    const QString f = path(QStringLiteral("d.db"));
    dbf::Table::create(f, measurementFields());
    table_.setFileName(f);
    table_.setFiltered(false);
    table_.setFilter(QString());
    table_.open();
    addRow(QStringLiteral("07.03.2015"), QStringLiteral("14:07:05"), 25.1, 3, {25.3, 26.1, 3300.8});
    table_.refresh();
    table_.first();
}

void DiagramTest::cleanup()
{
    table_.close();
    scope_.reset();
    dialogs_.reset();
    dir_.reset();
}

void DiagramTest::readingsOfTheRecord()
{
    TForm5 form(table_);
    QCOMPARE(form.windowTitle(), QStringLiteral("График"));
    QCOMPARE(form.size(), QSize(570, 357));
    QCOMPARE(form.Chart1->size(), form.size());
    verifyObjectNames(form, {{form.Chart1, "Chart1"}, {form.Series1, "Series1"}, {form.Series2, "Series2"},
                             {form.Label1, "Label1"}, {form.BitBtn1, "BitBtn1"}, {form.Button1, "Button1"}});
    form.FormShow();
    QCOMPARE(form.Label1->text(), QStringLiteral("07.03.2015 14:07:05"));

    // Two plain bars and the marked one: 3300.8 is the word 240 + 0x8000.
    const auto bars = form.Series1->data();
    QCOMPARE(bars->size(), 3);
    const double values[] = {25.3, 26.1, 24.0};
    const QColor colours[] = {QColor(0, 0, 255), QColor(0, 0, 255), QColor(255, 0, 0)};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(bars->at(i)->key, double(i));
        QCOMPARE(bars->at(i)->value, values[i]);
        QCOMPARE(form.Series1->colourAt(i), colours[i]);
    }
    QCOMPARE(form.Series1->labelAt(0), QStringLiteral("25,3"));
    QCOMPARE(form.Series1->labelAt(2), QStringLiteral("24"));
    QCOMPARE(form.Chart1->itemCount(), 3);
    const auto* label = qobject_cast<QCPItemText*>(form.Chart1->item(2));
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("24"));
    QCOMPARE(label->position->coords(), QPointF(2, 24.0));
    // The mean as a flat line over every bar, named in the legend; the bars
    // are not in it.
    const auto line = form.Series2->data();
    QCOMPARE(line->size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(line->at(i)->key, double(i));
        QCOMPARE(line->at(i)->value, 25.1);
    }
    QCOMPARE(form.Series2->name(), QStringLiteral("Av (25,1)"));
    QCOMPARE(form.Series2->pen().width(), 3);
    QCOMPARE(form.Series2->pen().color(), QColor(Qt::black));
    QCOMPARE(form.Chart1->legend->itemCount(), 1);
    QVERIFY(form.Chart1->legend->hasItemWithPlottable(form.Series2));
    QCOMPARE(form.Chart1->yAxis->label(), QStringLiteral("R, MPa"));
    QCOMPARE(form.Chart1->legend->font().pointSize(), 16);

    // The tenths count and its mark.
    QCOMPARE(TForm5::reading(3300.8).value, 24.0);
    QVERIFY(TForm5::reading(3300.8).marked);
    QVERIFY(!TForm5::reading(25.34).marked);
    QCOMPARE(TForm5::reading(25.34).value, 25.3);
    QCOMPARE(TForm5::reading(0.25).value, 0.2);  // 2.5 tenths: ties to even

    // Opening again rebuilds everything from the record then current.
    addRow(QStringLiteral("08.03.2015"), QStringLiteral("09:00:00"), 30, 1, {31.5});
    table_.refresh();
    table_.last();
    form.FormShow();
    QCOMPARE(form.Series1->data()->size(), 1);
    QCOMPARE(form.Chart1->itemCount(), 1);
    QCOMPARE(form.Series2->name(), QStringLiteral("Av (30)"));
    QCOMPARE(form.Label1->text(), QStringLiteral("08.03.2015 09:00:00"));
}

void DiagramTest::emptyReadingsLeaveTheirPlace()
{
    TForm5 form(table_);
    addRow(QStringLiteral("09.03.2015"), QStringLiteral("10:00:00"), 20, 17, {NAN, 21.0, NAN, 19.0});
    table_.refresh();
    table_.last();
    form.FormShow();
    // A count beyond M15 draws the fifteen fields there are; readings
    // without a value have no bar, the line still spans their places.
    QCOMPARE(form.Series1->data()->size(), 2);
    QCOMPARE(form.Series1->data()->at(0)->key, 1.0);
    QCOMPARE(form.Series1->data()->at(1)->key, 3.0);
    QCOMPARE(form.Series2->data()->size(), 15);
    QVERIFY(!form.Series1->colourAt(0).isValid());

    // No record: an empty chart.
    table_.setFilter(QStringLiteral("MODE=7"));
    table_.setFiltered(true);
    table_.refresh();
    form.FormShow();
    QCOMPARE(form.Series1->data()->size(), 0);
    QCOMPARE(form.Series2->data()->size(), 0);
    QCOMPARE(form.Label1->text(), QString());
}

void DiagramTest::exportBitmap()
{
    TForm5 form(table_);
    form.FormShow();
    // "chart" becomes chart.bmp, of the chart's size.
    dialogs_->files.push_back(path(QStringLiteral("chart")));
    form.Button1Click();
    QCOMPARE(dialogs_->fileRequests.size(), size_t(1));
    QCOMPARE(dialogs_->fileRequests[0].filter, QStringLiteral("*.bmp|*.bmp"));
    QCOMPARE(dialogs_->fileRequests[0].defaultSuffix, QStringLiteral("bmp"));
    QVERIFY(dialogs_->messages.empty());
    QFile f(path(QStringLiteral("chart.bmp")));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.read(2), QByteArray("BM"));
    f.close();
    QImage img(f.fileName(), "BMP");
    QCOMPARE(img.size(), form.Chart1->size());
    QCOMPARE(img.pixel(2, 2) & 0xFFFFFF, 0xFFFFFFu);
    // Some red (the marked bar) and some blue made it into the picture.
    bool red = false, blue = false;
    for (int y = 0; y < img.height(); y += 2)
        for (int x = 0; x < img.width(); x += 2) {
            const QRgb c = img.pixel(x, y) & 0xFFFFFF;
            red = red || c == 0xFF0000;
            blue = blue || c == 0x0000FF;
        }
    QVERIFY(red);
    QVERIFY(blue);

    // The chart follows the window, and the bitmap the chart.
    form.show();
    form.resize(700, 400);
    QTRY_COMPARE(form.Chart1->size(), QSize(700, 400));
    QCOMPARE(form.BitBtn1->geometry().bottom(), 400 - 8 - 1);
    QCOMPARE(form.Button1->geometry().bottom(), 357 - 8 - 1);
    dialogs_->files.push_back(path(QStringLiteral("big.bmp")));
    form.Button1Click();
    QCOMPARE(QImage(path(QStringLiteral("big.bmp"))).size(), QSize(700, 400));

    // Cancelling writes nothing; a folder is refused with a message.
    form.Button1Click();
    QVERIFY(dialogs_->messages.empty());
    QDir(dir_->path()).mkdir(QStringLiteral("folder.bmp"));
    dialogs_->files.push_back(path(QStringLiteral("folder.bmp")));
    form.Button1Click();
    QCOMPARE(dialogs_->messages.size(), size_t(1));
    QCOMPARE(dialogs_->messages[0].icon, ui::Icon::Error);
    QVERIFY(dialogs_->messages[0].text.contains(QStringLiteral("folder.bmp")));
    QVERIFY(QFileInfo(path(QStringLiteral("folder.bmp"))).isDir());
}

// The reason of a failed save is Russian and names the cause: a folder that
// refuses new files (root included), a full disk.
static QString exportFailure(TForm5& form, ui::ScriptedDialogs& dialogs, const QString& file)
{
    dialogs.messages.clear();
    dialogs.files.push_back(file);
    form.Button1Click();
    return dialogs.messages.size() == 1 ? dialogs.messages[0].text : QString();
}

void DiagramTest::lockedFolderNamesTheCause()
{
    TForm5 form(table_);
    form.FormShow();
    const QString locked = path(QStringLiteral("locked"));
    QVERIFY(QDir().mkpath(locked));
    const QString cannot = writefail::lockFolder(locked);
    const QString m = cannot.isEmpty() ? exportFailure(form, *dialogs_, locked + QStringLiteral("/chart.bmp")) : QString();
    writefail::unlockFolder(locked);
    if (!cannot.isEmpty())
        QSKIP(qPrintable(cannot));
    QVERIFY2(m.endsWith(QStringLiteral(": Нет прав на запись")), qPrintable(m));
}

void DiagramTest::fullDiskNamesTheCause()
{
    WRITEFAIL_ON_SMALL_DISK("fullDiskNamesTheCause", path(QStringLiteral("small")));
    TForm5 form(table_);
    form.FormShow();
    form.show();
    form.resize(700, 400);  // a bitmap of some 800 KB
    QTRY_COMPARE(form.Chart1->size(), QSize(700, 400));
    const QString dir = writefail::smallDisk();
    const QString m = exportFailure(form, *dialogs_, dir + QStringLiteral("/chart.bmp"));
    QVERIFY2(m.endsWith(QStringLiteral(": Недостаточно места на диске")), qPrintable(m));
    QCOMPARE(QDir(dir).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden), QStringList());
}

void DiagramTest::printPreview()
{
    TForm5 form(table_);
    form.FormShow();
    bool seen = false;
    dialogs_->onExec = [&](QDialog& d) {
        auto* preview = qobject_cast<QPrintPreviewDialog*>(&d);
        QVERIFY(preview);
        const QPageLayout layout = preview->printer()->pageLayout();
        const QRectF full = layout.fullRect(QPageLayout::Millimeter);
        const QMarginsF m = layout.margins(QPageLayout::Millimeter);
        QVERIFY(std::abs(m.left() - full.width() * 0.04) < 0.5);
        QVERIFY(std::abs(m.right() - full.width() * 0.04) < 0.5);
        QVERIFY(std::abs(m.top() - full.height() * 0.04) < 0.5);
        QVERIFY(std::abs(m.bottom() - full.height() * 0.04) < 0.5);
        seen = true;
    };
    form.BitBtn1->click();
    QVERIFY(seen);
    QCOMPARE(dialogs_->execLog, QStringList({QStringLiteral("PrintPreview")}));
}

void DiagramTest::shownByTheMainWindow()
{
    QTemporaryDir cfg;
    SettingsKey settings(cfg.filePath(QStringLiteral("ORL.reg")));
    TForm1 form1(settings);
    TForm5 form5(form1.Dbf1, &form1);
    form1.setDiagramWindow(&form5);
    table_.close();
    QVERIFY(form1.Open_DB(path(QStringLiteral("d.db"))));
    QVERIFY(TForm1::commandEnabled(form1.N34));
    form1.Dbf1.first();
    QString label;
    dialogs_->onExec = [&](QDialog& d) {
        QCOMPARE(&d, static_cast<QDialog*>(&form5));
        label = form5.Label1->text();
    };
    form1.N34Click();
    QCOMPARE(dialogs_->execLog, QStringList({QStringLiteral("TForm5")}));
    QCOMPARE(label, QStringLiteral("07.03.2015 14:07:05"));
    QCOMPARE(form5.Series1->data()->size(), 3);
    form1.Close_DB();
}

QTEST_MAIN(DiagramTest)
#include "test_diagram.moc"

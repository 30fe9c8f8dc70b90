// The waiting and observation series views of the main window over a real
// measurement table: pickers, list, header texts, charts, cursor, notes.

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStyle>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <qcustomplot.h>

#include "ground/app_locale.h"
#include "ground/dialogs.h"
#include "ground/settings_key.h"
#include "../series/test_series_data.h"
#include "mainwindow/main_window.h"
#include "views/observation_view.h"
#include "views/waiting_view.h"
#include "series/series_logic.h"
#include "views/string_grid.h"

using namespace seriestest;

namespace {

QVector<double> keysOf(const QCPAbstractPlottable* p)
{
    QVector<double> out;
    if (const auto* g = qobject_cast<const QCPGraph*>(p))
        for (auto it = g->data()->constBegin(); it != g->data()->constEnd(); ++it)
            out.append(it->key);
    if (const auto* b = qobject_cast<const QCPBars*>(p))
        for (auto it = b->data()->constBegin(); it != b->data()->constEnd(); ++it)
            out.append(it->key);
    return out;
}

QVector<double> valuesOf(const QCPAbstractPlottable* p)
{
    QVector<double> out;
    if (const auto* g = qobject_cast<const QCPGraph*>(p))
        for (auto it = g->data()->constBegin(); it != g->data()->constEnd(); ++it)
            out.append(it->value);
    if (const auto* b = qobject_cast<const QCPBars*>(p))
        for (auto it = b->data()->constBegin(); it != b->data()->constEnd(); ++it)
            out.append(it->value);
    return out;
}

double utcKey(int d, int h, int m)
{
    return double(QDateTime(QDate(2015, 3, d), QTime(h, m), Qt::UTC).toSecsSinceEpoch());
}

// A list at the window's font, in the column proportions of the original layout, whose
// columns hold their widest texts and fit the list without sideways scrolling.
void listFitsItsTexts(StringGrid* g, int base0, int base1, const QString& widest0)
{
    QWidget* window = g->window();
    QCOMPARE(QFontInfo(g->font()).pixelSize(), QFontInfo(window->font()).pixelSize());
    const int w0 = g->columnWidth(0), w1 = g->columnWidth(1);
    QVERIFY2(std::abs(w0 * base1 - w1 * base0) <= base0 + base1, qPrintable(QStringLiteral("%1 : %2").arg(w0).arg(w1)));
    QVERIFY(w0 >= base0 && w1 >= base1);
    const QFontMetrics fm(g->font());
    const int margins = 2 * (g->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, g) + 1);
    QVERIFY2(fm.horizontalAdvance(widest0) + margins <= w0, qPrintable(widest0));
    QVERIFY(fm.horizontalAdvance(QStringLiteral("-000,000")) + margins <= w1);
    QVERIFY(fm.horizontalAdvance(QStringLiteral("Прогиб")) + margins <= w1);
    QVERIFY2(w0 + w1 <= g->viewport()->width(), qPrintable(QString::number(g->viewport()->width())));
    QVERIFY(!g->horizontalScrollBar()->isVisible());
    QVERIFY(g->defaultRowHeight() >= fm.height());
}

QStringList column(const StringGrid* g, int col)
{
    QStringList out;
    for (int r = 0; r < g->rowCount(); ++r)
        out.append(g->cell(col, r));
    return out;
}

}  // namespace

class TestSeriesViews : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path_;
    std::unique_ptr<SettingsKey> settings_;
    std::unique_ptr<ui::ScriptedDialogs> dialogs_;
    std::unique_ptr<ui::ScopedDialogs> scope_;
    std::unique_ptr<TForm1> form_;

    TForm1& f() { return *form_; }

    QString commentAt(uint32_t rec) { return f().Dbf1.stringAt(rec, f().Dbf1.fieldIndex(u"COMMENT")); }

    // Makes a tab current; when it already is, its show handler runs again
    // as on a repeated visit.
    void showSheet(int index)
    {
        if (f().PageControl1->currentIndex() != index) {
            f().PageControl1->setCurrentIndex(index);
        } else if (index == 0) {
            f().TabSheet1Show();
        } else if (index == 1) {
            f().TabSheet2Show();
        } else if (index == 2) {
            f().TabSheet3Show();
        }
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

    void openWith(const std::vector<Row>& rows)
    {
        form_.reset();
        path_ = dir_.filePath(QStringLiteral("series.db"));
        QFile::remove(path_);
        writeTable(path_, rows);
        settings_ = std::make_unique<SettingsKey>();
        form_ = std::make_unique<TForm1>(*settings_);
        form_->show();
        QVERIFY(form_->Open_DB(path_));
        QVERIFY(form_->Dbf1.isOpen());
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void init()
    {
        dialogs_ = std::make_unique<ui::ScriptedDialogs>();
        scope_ = std::make_unique<ui::ScopedDialogs>(dialogs_.get());
        openWith(standardRows());
    }

    void cleanup()
    {
        form_.reset();
        scope_.reset();
        dialogs_.reset();
    }

    void pickersFilledWhenTabsShown()
    {
        showSheet(1);
        QCOMPARE(f().Dbf1.filter(), QStringLiteral("MODE=1"));
        QCOMPARE(f().waitingView->ComboBox1->count(), 3);
        QCOMPARE(f().waitingView->ComboBox1->itemText(0), QStringLiteral("1"));
        QCOMPARE(f().waitingView->ComboBox1->itemText(2), QStringLiteral("3"));
        // Nothing is selected, so no series is shown or printed yet.
        QCOMPARE(f().waitingView->ComboBox1->currentText(), QString());
        QVERIFY(f().waitingView->StringGrid1->isHidden());
        QVERIFY(f().waitingView->Chart1->isHidden());
        showSheet(2);
        QCOMPARE(f().observationView->ComboBox2->count(), 2);
        QCOMPARE(f().observationView->ComboBox2->itemText(1), QStringLiteral("2"));
        // A filled picker is not filled again by the next visit.
        showSheet(1);
        QCOMPARE(f().waitingView->ComboBox1->count(), 3);
    }

    void waitingSeriesSelected()
    {
        showSheet(1);
        pick(f().waitingView->ComboBox1, QStringLiteral("1"));
        QCOMPARE(f().Dbf1.filter(), QStringLiteral("MODE=1 AND TYPE=1"));
        QVERIFY(f().Dbf1.filtered());
        QCOMPARE(f().waitingView->shownSeries, 1);

        // List: title row, then the points as stored.
        QVERIFY(f().waitingView->StringGrid1->isVisible());
        QCOMPARE(column(f().waitingView->StringGrid1, 0),
                 (QStringList{"Дата", "01.03.2015 10:00:00", "01.03.2015 10:30:00", "01.03.2015 11:00:00"}));
        QCOMPARE(column(f().waitingView->StringGrid1, 1), (QStringList{"Прогиб", "0,5", "1,25", "-3"}));
        listFitsItsTexts(f().waitingView->StringGrid1, 105, 65, QStringLiteral("00.00.0000 00:00:00"));

        // Header texts: number and unit without a space.
        QCOMPARE(f().waitingView->StaticText5->text(), QStringLiteral("24час."));
        QCOMPARE(f().waitingView->StaticText6->text(), QStringLiteral("2,6мм."));
        QCOMPARE(f().waitingView->StaticText7->text(), QStringLiteral("01.03.2015 10:00:00"));
        QCOMPARE(f().waitingView->Memo1->toPlainText(), QStringLiteral("Примечание: "));
        QVERIFY(f().waitingView->Memo1->isVisible());
        QVERIFY(f().waitingView->TrackBar2->isVisible());
        QVERIFY(f().waitingView->Chart1->isVisible());

        // Chart: series in index order, bars at the points' times.
        QCOMPARE(f().waitingView->Chart1->plottableCount(), 5);
        QCOMPARE(f().waitingView->Chart1->plottable(0), static_cast<QCPAbstractPlottable*>(f().waitingView->Series1));
        QCOMPARE(f().waitingView->Chart1->plottable(1), static_cast<QCPAbstractPlottable*>(f().waitingView->Series3));
        QCOMPARE(f().waitingView->Chart1->plottable(4), static_cast<QCPAbstractPlottable*>(f().waitingView->Series6));
        const double k0 = utcKey(1, 10, 0);
        QCOMPARE(keysOf(f().waitingView->Series1), (QVector<double>{k0, k0 + 1800, k0 + 3600}));
        QCOMPARE(valuesOf(f().waitingView->Series1), (QVector<double>{0.5, 1.25, -3}));
        QCOMPARE(f().waitingView->Series1->width(), 0.15 * 1800);
        QCOMPARE(f().waitingView->Series1->brush().color(), QColor(Qt::white));
        // Threshold 2,6 rounds to 3; lines from the first to the last time.
        QCOMPARE(keysOf(f().waitingView->Series4), (QVector<double>{k0, k0 + 3600}));
        QCOMPARE(valuesOf(f().waitingView->Series4), (QVector<double>{3, 3}));
        QCOMPARE(valuesOf(f().waitingView->Series5), (QVector<double>{0, 0}));
        QCOMPARE(valuesOf(f().waitingView->Series6), (QVector<double>{-3, -3}));
        QCOMPARE(f().waitingView->Series4->pen().style(), Qt::DashDotLine);
        QCOMPARE(f().waitingView->Series4->pen().widthF(), 3.0);
        QCOMPARE(f().waitingView->Series4->pen().color(), QColor(Qt::red));
        QCOMPARE(f().waitingView->Series5->pen().color(), QColor(Qt::black));
        QCOMPARE(f().waitingView->Series3->scatterStyle().shape(), QCPScatterStyle::ssSquare);
        // Axes hold every bar and line.
        QVERIFY(f().waitingView->Chart1->xAxis->range().lower < k0 - f().waitingView->Series1->width() / 2);
        QVERIFY(f().waitingView->Chart1->xAxis->range().upper > k0 + 3600 + f().waitingView->Series1->width() / 2);
        QVERIFY(f().waitingView->Chart1->yAxis->range().lower < -3);
        QVERIFY(f().waitingView->Chart1->yAxis->range().upper > 3);
        QCOMPARE(f().waitingView->Chart1->xAxis->label(), QStringLiteral("t, мин."));
        QCOMPARE(f().waitingView->Chart1->yAxis->label(), QStringLiteral("f, мм."));
        auto ticker = qSharedPointerDynamicCast<QCPAxisTickerDateTime>(f().waitingView->Chart1->xAxis->ticker());
        QVERIFY(ticker);
        QCOMPARE(ticker->dateTimeFormat(), QStringLiteral("hh:mm:ss\ndd.MM.yy"));
        QCOMPARE(ticker->dateTimeSpec(), Qt::UTC);

        // Slider and cursor on the first record.
        QCOMPARE(f().waitingView->TrackBar2->minimum(), 1);
        QCOMPARE(f().waitingView->TrackBar2->maximum(), 3);
        QCOMPARE(f().waitingView->TrackBar2->tickInterval(), 1);
        QCOMPARE(f().waitingView->TrackBar2->value(), 1);
        QCOMPARE(keysOf(f().waitingView->Series3), QVector<double>{k0});
        QCOMPARE(valuesOf(f().waitingView->Series3), QVector<double>{0.5});
        QCOMPARE(f().waitingView->Label11->text(), QStringLiteral("Дата:01.03.2015 10:00:00 Порог:0,5  "));
        QCOMPARE(f().waitingView->Label11->font().pointSize(), 14);
        QVERIFY(f().waitingView->Label11->font().bold());
        QVERIFY(dialogs_->messages.empty());
    }

    void sliderMovesCursorOnly()
    {
        showSheet(1);
        pick(f().waitingView->ComboBox1, QStringLiteral("1"));
        f().waitingView->TrackBar2->setValue(3);
        const double k0 = utcKey(1, 10, 0);
        QCOMPARE(keysOf(f().waitingView->Series3), QVector<double>{k0 + 3600});
        QCOMPARE(valuesOf(f().waitingView->Series3), QVector<double>{-3});
        QCOMPARE(f().waitingView->Label11->text(), QStringLiteral("Дата:01.03.2015 11:00:00 Порог:-3  "));
        // The arrow keys move it too.
        QTest::keyClick(f().waitingView->TrackBar2, Qt::Key_Left);
        QCOMPARE(f().waitingView->TrackBar2->value(), 2);
        QCOMPARE(keysOf(f().waitingView->Series3), QVector<double>{k0 + 1800});
        // Clicking a list row does not move the cursor.
        f().waitingView->StringGrid1->setCurrentIndex(f().waitingView->StringGrid1->model()->index(1, 0));
        QCOMPARE(f().waitingView->TrackBar2->value(), 2);
        QCOMPARE(keysOf(f().waitingView->Series3), QVector<double>{k0 + 1800});
    }

    void anotherSeriesReplacesEverything()
    {
        showSheet(1);
        pick(f().waitingView->ComboBox1, QStringLiteral("1"));
        f().waitingView->TrackBar2->setValue(3);
        pick(f().waitingView->ComboBox1, QStringLiteral("2"));
        QCOMPARE(f().waitingView->shownSeries, 2);
        QCOMPARE(f().waitingView->StringGrid1->rowCount(), 3);
        QCOMPARE(column(f().waitingView->StringGrid1, 1), (QStringList{"Прогиб", "0,1", "0,2"}));
        QCOMPARE(f().waitingView->StaticText5->text(), QStringLiteral("час."));  // blank M1
        QCOMPARE(f().waitingView->StaticText6->text(), QStringLiteral("5мм."));
        QCOMPARE(f().waitingView->StaticText7->text(), QStringLiteral("02.03.2015 08:00:00"));
        QCOMPARE(f().waitingView->Memo1->toPlainText(), QStringLiteral("Первая серия утром"));
        QCOMPARE(keysOf(f().waitingView->Series1).size(), 2);
        QCOMPARE(valuesOf(f().waitingView->Series4), (QVector<double>{5, 5}));
        QCOMPARE(f().waitingView->TrackBar2->value(), 1);
        QCOMPARE(f().waitingView->TrackBar2->maximum(), 2);
        QCOMPARE(keysOf(f().waitingView->Series3), QVector<double>{utcKey(2, 8, 0)});
        QCOMPARE(f().waitingView->Label11->text(), QStringLiteral("Дата:02.03.2015 08:00:00 Порог:0,1  "));
        // Showing the note did not write it back anywhere.
        QCOMPARE(commentAt(2), QString());
    }

    void seriesOfOneRecord()
    {
        showSheet(1);
        pick(f().waitingView->ComboBox1, QStringLiteral("3"));
        QCOMPARE(f().waitingView->TrackBar2->minimum(), 1);
        QCOMPARE(f().waitingView->TrackBar2->maximum(), 1);
        QCOMPARE(f().waitingView->StringGrid1->rowCount(), 2);
        const double k = double(QDateTime(QDate(2015, 3, 6), QTime(12, 0), Qt::UTC).toSecsSinceEpoch());
        QCOMPARE(keysOf(f().waitingView->Series1), QVector<double>{k});
        QCOMPARE(keysOf(f().waitingView->Series4), (QVector<double>{k, k}));
        QCOMPARE(valuesOf(f().waitingView->Series4), (QVector<double>{0, 0}));
        QCOMPARE(keysOf(f().waitingView->Series3), QVector<double>{k});
        QCOMPARE(f().waitingView->StaticText5->text(), QStringLiteral("1час."));
        QCOMPARE(f().waitingView->StaticText6->text(), QStringLiteral("0мм."));
        QVERIFY(f().waitingView->Chart1->xAxis->range().lower < k);
        QVERIFY(f().waitingView->Chart1->xAxis->range().upper > k);
        QCOMPARE(f().waitingView->Label11->text(), QStringLiteral("Дата:06.03.2015 12:00:00 Порог:12  "));
    }

    void unknownSeriesShowsNoPoints()
    {
        showSheet(1);
        pick(f().waitingView->ComboBox1, QStringLiteral("1"));
        f().waitingView->ComboBox1->addItem(QStringLiteral("9"));
        pick(f().waitingView->ComboBox1, QStringLiteral("9"));
        QCOMPARE(f().Dbf1.filter(), QStringLiteral("MODE=1 AND TYPE=9"));
        QCOMPARE(f().waitingView->StringGrid1->rowCount(), 1);
        QCOMPARE(f().waitingView->StringGrid1->cell(0, 0), QStringLiteral("Дата"));
        QCOMPARE(f().waitingView->StringGrid1->cell(1, 0), QStringLiteral("Прогиб"));
        QVERIFY(keysOf(f().waitingView->Series1).isEmpty());
        QVERIFY(keysOf(f().waitingView->Series3).isEmpty());
        QVERIFY(keysOf(f().waitingView->Series4).isEmpty());
        QCOMPARE(f().waitingView->Label11->text(), QStringLiteral("Серия не содержит точек"));
        QCOMPARE(f().waitingView->StaticText5->text(), QString());
        QVERIFY(dialogs_->messages.empty());
        // Nothing to write the note into.
        f().waitingView->Memo1->setPlainText(QStringLiteral("Примечание: ничего"));
        for (uint32_t r = 0; r < f().Dbf1.physicalCount(); ++r)
            QVERIFY(commentAt(r) != QStringLiteral("Примечание: ничего"));

        showSheet(2);
        f().observationView->ComboBox2->addItem(QStringLiteral("7"));
        pick(f().observationView->ComboBox2, QStringLiteral("7"));
        QCOMPARE(f().observationView->StringGrid2->rowCount(), 1);
        QVERIFY(keysOf(f().observationView->LineSeries1).isEmpty());
        QCOMPARE(f().observationView->Label10->text(), QStringLiteral("Серия не содержит точек"));
    }

    void noteGoesToFirstRecordOfItsSeries()
    {
        showSheet(1);
        pick(f().waitingView->ComboBox1, QStringLiteral("1"));
        f().waitingView->Memo1->setFocus();
        f().waitingView->Memo1->moveCursor(QTextCursor::End);
        // The bare prefix is never written.
        QCOMPARE(f().waitingView->Memo1->toPlainText().size(), 12);
        QCOMPARE(commentAt(2), QString());
        QTest::keyClicks(f().waitingView->Memo1, QStringLiteral("x"));
        QCOMPARE(commentAt(2), QStringLiteral("Примечание: x"));
        QCOMPARE(commentAt(3), QString());
        QCOMPARE(commentAt(4), QString());
        QCOMPARE(commentAt(9), QStringLiteral("Первая серия утром"));

        // Series 2, whose first record is not the first of the mode: leave
        // the tab and come back (the mode-wide filter is set again); the note
        // still goes to series 2.
        pick(f().waitingView->ComboBox1, QStringLiteral("2"));
        showSheet(0);
        QCOMPARE(f().Dbf1.filter(), QStringLiteral("MODE=0"));
        showSheet(1);
        QCOMPARE(f().Dbf1.filter(), QStringLiteral("MODE=1"));
        QCOMPARE(f().Dbf1.physicalRecNo(), 2u);  // the view starts at series 1
        f().waitingView->Memo1->setFocus();
        f().waitingView->Memo1->moveCursor(QTextCursor::End);
        QTest::keyClicks(f().waitingView->Memo1, QStringLiteral("y"));
        QCOMPARE(commentAt(9), QStringLiteral("Первая серия утромy"));
        QCOMPARE(commentAt(2), QStringLiteral("Примечание: x"));
        QCOMPARE(commentAt(10), QString());
        pick(f().waitingView->ComboBox1, QStringLiteral("1"));
        f().waitingView->Memo1->moveCursor(QTextCursor::End);
        QTest::keyClicks(f().waitingView->Memo1, QStringLiteral("y"));
        QCOMPARE(commentAt(2), QStringLiteral("Примечание: xy"));
        QCOMPARE(commentAt(9), QStringLiteral("Первая серия утромy"));

        // Even with the series outside the table's view the note finds its
        // record, and the view and current row are put back.
        showSheet(0);
        f().Dbf1.moveTo(1);
        const uint32_t current = f().Dbf1.physicalRecNo();
        f().waitingView->Memo1->setPlainText(QStringLiteral("Примечание: xyz"));
        QCOMPARE(commentAt(2), QStringLiteral("Примечание: xyz"));
        QCOMPARE(f().Dbf1.filter(), QStringLiteral("MODE=0"));
        QVERIFY(f().Dbf1.filtered());
        QCOMPARE(f().Dbf1.recordCount(), 2);
        QCOMPARE(f().Dbf1.physicalRecNo(), current);

        // The note is back on the next selection, also after reopening.
        showSheet(1);
        pick(f().waitingView->ComboBox1, QStringLiteral("2"));
        pick(f().waitingView->ComboBox1, QStringLiteral("1"));
        QCOMPARE(f().waitingView->Memo1->toPlainText(), QStringLiteral("Примечание: xyz"));
        f().Close_DB();
        QVERIFY(f().Open_DB(path_));
        QCOMPARE(commentAt(2), QStringLiteral("Примечание: xyz"));
    }

    // A read-only database refuses the note once: the box shows the stored
    // note again and takes no more keys until the next series is shown.
    void refusedNoteShowsTheStoredOne()
    {
        form_.reset();
        QVERIFY(QFile::setPermissions(path_, QFile::ReadOwner | QFile::ReadGroup));
        form_ = std::make_unique<TForm1>(*settings_);
        form_->show();
        QVERIFY(form_->Open_DB(path_));
        QVERIFY(f().Dbf1.readOnly());
        dialogs_->messages.clear();
        showSheet(1);
        pick(f().waitingView->ComboBox1, QStringLiteral("2"));
        QCOMPARE(f().waitingView->Memo1->toPlainText(), QStringLiteral("Первая серия утром"));
        f().waitingView->Memo1->setFocus();
        f().waitingView->Memo1->moveCursor(QTextCursor::End);
        QTest::keyClicks(f().waitingView->Memo1, QStringLiteral("abc"));
        QCOMPARE(dialogs_->messages.size(), size_t(1));
        QVERIFY(dialogs_->messages[0].text.contains(QStringLiteral("только для чтения")));
        QCOMPARE(f().waitingView->Memo1->toPlainText(), QStringLiteral("Первая серия утром"));
        QVERIFY(f().waitingView->Memo1->isReadOnly());
        pick(f().waitingView->ComboBox1, QStringLiteral("1"));
        QCOMPARE(f().waitingView->Memo1->toPlainText(), QStringLiteral("Примечание: "));
        QVERIFY(!f().waitingView->Memo1->isReadOnly());
        f().waitingView->Memo1->moveCursor(QTextCursor::End);
        QTest::keyClicks(f().waitingView->Memo1, QStringLiteral("x"));
        QCOMPARE(dialogs_->messages.size(), size_t(2));
        QCOMPARE(f().waitingView->Memo1->toPlainText(), QStringLiteral("Примечание: "));
        QCOMPARE(commentAt(2), QString());
        form_.reset();
        QVERIFY(QFile::setPermissions(path_, QFile::ReadOwner | QFile::WriteOwner));
    }

    void noteFollowsAppendedAndDeletedRows()
    {
        showSheet(1);
        pick(f().waitingView->ComboBox1, QStringLiteral("2"));
        f().waitingView->Memo1->setPlainText(QStringLiteral("Примечание: один"));
        QCOMPARE(commentAt(9), QStringLiteral("Примечание: один"));
        // Rows before the series go away: its first record moves.
        f().Dbf1.setDeleted(0, true);
        f().Dbf1.setDeleted(1, true);
        f().Dbf1.pack();
        QCOMPARE(commentAt(7), QStringLiteral("Примечание: один"));
        f().waitingView->Memo1->setPlainText(QStringLiteral("Примечание: два"));
        QCOMPARE(commentAt(7), QStringLiteral("Примечание: два"));
        QCOMPARE(commentAt(8), QString());
        QCOMPARE(commentAt(0), QString());
    }

    void noteLimits()
    {
        showSheet(1);
        pick(f().waitingView->ComboBox1, QStringLiteral("1"));
        // The field keeps the first 50 characters; the box shows them next time.
        const QString sixty = QStringLiteral("Примечание: ") + QString(48, QChar(u'ж'));
        QCOMPARE(sixty.size(), 60);
        f().waitingView->Memo1->setPlainText(sixty);
        QCOMPARE(commentAt(2), sixty.left(50));
        pick(f().waitingView->ComboBox1, QStringLiteral("2"));
        pick(f().waitingView->ComboBox1, QStringLiteral("1"));
        QCOMPARE(f().waitingView->Memo1->toPlainText(), sixty.left(50));

        // The box itself takes at most 256 characters.
        f().waitingView->Memo1->setPlainText(QString(256, QChar(u'a')));
        f().waitingView->Memo1->setFocus();
        f().waitingView->Memo1->moveCursor(QTextCursor::End);
        QTest::keyClicks(f().waitingView->Memo1, QStringLiteral("bc"));
        QCOMPARE(f().waitingView->Memo1->toPlainText(), QString(256, QChar(u'a')));
        f().waitingView->Memo1->moveCursor(QTextCursor::Start);
        QTest::keyClicks(f().waitingView->Memo1, QStringLiteral("b"));
        QCOMPARE(f().waitingView->Memo1->toPlainText(), QString(256, QChar(u'a')));
        f().waitingView->Memo1->setPlainText(QString(300, QChar(u'z')));
        QCOMPARE(f().waitingView->Memo1->toPlainText().size(), 256);
        QCOMPARE(commentAt(2), QString(50, QChar(u'z')));
    }

    // A waiting series far denser than the chart's pixel columns: the bars
    // are not a black mass of outlines, the threshold lines show through, and
    // the cursor mark is drawn over everything.
    void denseWaitingChartStaysReadable()
    {
        std::vector<Row> rows;
        const QDateTime start(QDate(2015, 3, 1), QTime(10, 0), Qt::UTC);
        for (int k = 0; k < 20000; ++k)
            rows.push_back({1, 1, 1, 4.0, k == 0 ? std::optional<double>(48) : std::nullopt,
                            k == 0 ? std::optional<double>(2) : std::nullopt, QStringLiteral("01.03.2015"),
                            QStringLiteral("10:00:00"), start.addSecs(5 * k).toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")),
                            {}});
        openWith(rows);
        f().resize(1200, 800);
        showSheet(1);
        pick(f().waitingView->ComboBox1, QStringLiteral("1"));
        f().waitingView->TrackBar2->setValue(10000);
        QCoreApplication::processEvents();
        QCustomPlot* chart = f().waitingView->Chart1;
        chart->replot(QCustomPlot::rpImmediateRefresh);
        const QImage img = chart->toPixmap(chart->width(), chart->height()).toImage();
        QCPAxis* x = chart->xAxis;
        QCPAxis* y = chart->yAxis;
        const int left = int(x->coordToPixel(series::dateTimeKey(start))) + 2;
        const int right = int(x->coordToPixel(series::dateTimeKey(start.addSecs(5 * 19999)))) - 2;
        const int top = int(y->coordToPixel(4.0)) + 2, bottom = int(y->coordToPixel(0.0)) - 2;
        QVERIFY(right - left > 100 && bottom - top > 50);

        auto isDark = [](QColor c) { return std::max({c.red(), c.green(), c.blue()}) < 90; };
        auto isRed = [](QColor c) { return c.red() > 180 && c.green() < 90 && c.blue() < 90; };
        auto isGreen = [](QColor c) { return c.green() > 150 && c.red() < 110 && c.blue() < 110; };
        int dark = 0, all = 0;
        for (int py = top; py <= bottom; py += 3)
            for (int px = left; px <= right; px += 3) {
                ++all;
                dark += isDark(img.pixelColor(px, py));
            }
        QVERIFY2(dark * 10 < all, qPrintable(QStringLiteral("%1 of %2 dark").arg(dark).arg(all)));

        const int thresholdRow = int(std::lround(y->coordToPixel(2.0)));
        int red = 0;
        for (int px = left; px <= right; ++px)
            for (int dy = -1; dy <= 1; ++dy)
                red += isRed(img.pixelColor(px, thresholdRow + dy));
        QVERIFY2(red > (right - left) / 3, qPrintable(QString::number(red)));

        const auto key = series::pointKey(f().waitingView->StringGrid1->cell(0, 10000));
        QVERIFY(key);
        const QPoint cursor(int(std::lround(x->coordToPixel(*key))), int(std::lround(y->coordToPixel(4.0))));
        QVERIFY2(isGreen(img.pixelColor(cursor)), qPrintable(img.pixelColor(cursor).name()));
    }

    void observationSeriesSelected()
    {
        showSheet(2);
        pick(f().observationView->ComboBox2, QStringLiteral("1"));
        QCOMPARE(f().Dbf1.filter(), QStringLiteral("MODE=2 AND TYPE=1"));
        QCOMPARE(f().observationView->shownSeries, 1);
        QCOMPARE(column(f().observationView->StringGrid2, 0), (QStringList{"№", "1", "2", "3", "4"}));
        QCOMPARE(column(f().observationView->StringGrid2, 1), (QStringList{"Прогиб", "0,7", "1", "1,5", "2"}));
        // Interval numbers of the largest series (150,000 points) are not elided.
        listFitsItsTexts(f().observationView->StringGrid2, 35, 65, QStringLiteral("150000"));
        QCOMPARE(f().observationView->Panel5->width(), f().observationView->StringGrid2->width() + 10);
        QCOMPARE(f().observationView->StaticText1->text(), QStringLiteral("30час."));
        QCOMPARE(f().observationView->StaticText2->text(), QStringLiteral("15мин."));
        QCOMPARE(f().observationView->StaticText3->text(), QStringLiteral("01.03.2015 10:00:00"));
        QCOMPARE(f().observationView->StaticText4->text(), QStringLiteral("02.03.2015 16:00:00"));
        QCOMPARE(f().observationView->Memo2->toPlainText(), QStringLiteral("Примечание: "));

        QCOMPARE(f().observationView->Chart2->plottable(0), static_cast<QCPAbstractPlottable*>(f().observationView->LineSeries1));
        QCOMPARE(f().observationView->Chart2->plottable(1), static_cast<QCPAbstractPlottable*>(f().observationView->Series2));
        QCOMPARE(keysOf(f().observationView->LineSeries1), (QVector<double>{1, 2, 3, 4}));
        QCOMPARE(valuesOf(f().observationView->LineSeries1), (QVector<double>{0.7, 1, 1.5, 2}));
        QCOMPARE(f().observationView->LineSeries1->pen().color(), QColor(Qt::red));
        QCOMPARE(f().observationView->LineSeries1->pen().widthF(), 2.0);
        QCOMPARE(f().observationView->Chart2->xAxis->label(), QStringLiteral("№ инт"));
        QCOMPARE(f().observationView->Chart2->yAxis->label(), QStringLiteral("f, мм."));
        QVERIFY(f().observationView->Chart2->xAxis->range().contains(1) && f().observationView->Chart2->xAxis->range().contains(4));
        QVERIFY(f().observationView->Chart2->yAxis->range().contains(0.7) && f().observationView->Chart2->yAxis->range().contains(2));

        QCOMPARE(f().observationView->TrackBar1->minimum(), 1);
        QCOMPARE(f().observationView->TrackBar1->maximum(), 4);
        QCOMPARE(f().observationView->TrackBar1->tickInterval(), 1);
        QCOMPARE(keysOf(f().observationView->Series2), QVector<double>{1});
        QCOMPARE(valuesOf(f().observationView->Series2), QVector<double>{0.7});
        QCOMPARE(f().observationView->Label10->text(), QStringLiteral("N:1 Прогиб:0,7  "));
        QCOMPARE(f().observationView->Label10->font().pointSize(), 14);

        f().observationView->TrackBar1->setValue(3);
        QCOMPARE(keysOf(f().observationView->Series2), QVector<double>{3});
        QCOMPARE(valuesOf(f().observationView->Series2), QVector<double>{1.5});
        QCOMPARE(f().observationView->Label10->text(), QStringLiteral("N:3 Прогиб:1,5  "));

        // One record: minimum and maximum at its N, the tick step kept.
        f().observationView->TrackBar1->setTickInterval(7);
        pick(f().observationView->ComboBox2, QStringLiteral("2"));
        QCOMPARE(f().observationView->TrackBar1->minimum(), 1);
        QCOMPARE(f().observationView->TrackBar1->maximum(), 1);
        QCOMPARE(f().observationView->TrackBar1->tickInterval(), 7);
        QCOMPARE(f().observationView->StaticText4->text(), QStringLiteral("05.03.2015"));
        QCOMPARE(f().observationView->StaticText1->text(), QStringLiteral("72час."));
        QCOMPARE(f().observationView->Label10->text(), QStringLiteral("N:1 Прогиб:4  "));

        // Its note goes to its own first record.
        pick(f().observationView->ComboBox2, QStringLiteral("1"));
        f().observationView->Memo2->setPlainText(QStringLiteral("Примечание: наблюдение"));
        QCOMPARE(commentAt(5), QStringLiteral("Примечание: наблюдение"));
        QCOMPARE(commentAt(6), QString());
        QCOMPARE(commentAt(2), QString());
        QCOMPARE(commentAt(11), QString());
    }

    void observationTickStepFromTheList()
    {
        std::vector<Row> rows;
        for (int n = 5; n <= 20; n += 5)
            rows.push_back({2, 1, double(n), n / 10.0, n == 5 ? std::optional<double>(4) : std::nullopt, {},
                            QStringLiteral("01.03.2015"), QStringLiteral("10:00:00"), {}, {}});
        openWith(rows);
        showSheet(2);
        pick(f().observationView->ComboBox2, QStringLiteral("1"));
        QCOMPARE(f().observationView->TrackBar1->minimum(), 5);
        QCOMPARE(f().observationView->TrackBar1->maximum(), 20);
        QCOMPARE(f().observationView->TrackBar1->tickInterval(), 5);
        QCOMPARE(f().observationView->TrackBar1->value(), 5);
    }

    void sortedTableListsInStoredOrder()
    {
        showSheet(1);
        f().Dbf1.createIndexTag(QStringLiteral("tab1"), u"R", true);
        f().Dbf1.selectIndex(QStringLiteral("tab1"));
        f().Dbf1.refresh();
        pick(f().waitingView->ComboBox1, QStringLiteral("1"));
        QCOMPARE(column(f().waitingView->StringGrid1, 1), (QStringList{"Прогиб", "0,5", "1,25", "-3"}));
        QCOMPARE(f().waitingView->Label11->text(), QStringLiteral("Дата:01.03.2015 10:00:00 Порог:0,5  "));
        f().waitingView->Memo1->setPlainText(QStringLiteral("Примечание: по порядку"));
        QCOMPARE(commentAt(2), QStringLiteral("Примечание: по порядку"));
        QCOMPARE(commentAt(3), QString());
    }

    void unreadableDateIsReportedOnce()
    {
        auto rows = standardRows();
        rows.push_back({1, 4, 1, 2, 1, 1, QStringLiteral("01.01.2010"), QStringLiteral("00:00:00"),
                        QStringLiteral("31.02.2015 10:00:00"), {}});
        rows.push_back({1, 4, 1, 3, {}, {}, QStringLiteral("01.01.2010"), QStringLiteral("00:00:00"),
                        QStringLiteral("01.03.2015 12:00:00"), {}});
        openWith(rows);
        showSheet(1);
        pick(f().waitingView->ComboBox1, QStringLiteral("4"));
        QCOMPARE(f().waitingView->StringGrid1->rowCount(), 3);
        QCOMPARE(f().waitingView->StringGrid1->cell(0, 1), QStringLiteral("31.02.2015 10:00:00"));
        QCOMPARE(keysOf(f().waitingView->Series1).size(), 1);
        QCOMPARE(dialogs_->messages.size(), size_t(1));
        QVERIFY(dialogs_->messages[0].text.contains(QStringLiteral("31.02.2015 10:00:00")));
        QCOMPARE(dialogs_->messages[0].icon, ui::Icon::Error);
        // The cursor on that row has no point but a readout.
        QVERIFY(keysOf(f().waitingView->Series3).isEmpty());
        QCOMPARE(f().waitingView->Label11->text(), QStringLiteral("Дата:31.02.2015 10:00:00 Порог:2  "));
        f().waitingView->TrackBar2->setValue(2);
        QCOMPARE(keysOf(f().waitingView->Series3).size(), 1);
    }

    void closingEmptiesTheViews()
    {
        showSheet(1);
        pick(f().waitingView->ComboBox1, QStringLiteral("1"));
        showSheet(2);
        pick(f().observationView->ComboBox2, QStringLiteral("1"));
        f().tab_vis_dis();
        QCOMPARE(f().waitingView->ComboBox1->count(), 0);
        QCOMPARE(f().observationView->ComboBox2->count(), 0);
        QVERIFY(keysOf(f().waitingView->Series1).isEmpty());
        QVERIFY(keysOf(f().observationView->LineSeries1).isEmpty());
        for (QLabel* l : {f().observationView->StaticText1, f().observationView->StaticText2, f().observationView->StaticText3, f().observationView->StaticText4, f().waitingView->StaticText5,
                          f().waitingView->StaticText6, f().waitingView->StaticText7, f().observationView->Label10, f().waitingView->Label11})
            QCOMPARE(l->text(), QString());
        QCOMPARE(f().waitingView->StringGrid1->cell(1, 1), QString());
        QCOMPARE(f().observationView->StringGrid2->cell(0, 0), QString());
        QVERIFY(f().waitingView->StringGrid1->isHidden());
        QVERIFY(f().observationView->StringGrid2->isHidden());
        QVERIFY(f().waitingView->Chart1->isHidden());
        QVERIFY(f().observationView->Chart2->isHidden());
        QCOMPARE(f().waitingView->shownSeries, 0);
        QCOMPARE(f().observationView->shownSeries, 0);
        // A note typed now goes nowhere.
        f().waitingView->Memo1->setPlainText(QStringLiteral("Примечание: после"));
        QCOMPARE(commentAt(2), QString());
    }
};

int main(int argc, char** argv)
{
    installAppLocale();
    QApplication app(argc, argv);
    TestSeriesViews t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_series_views.moc"

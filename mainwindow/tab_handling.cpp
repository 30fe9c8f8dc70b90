// The main window's mode tabs: which tab shows, the table's filter and sort
// for each, and which tabs a database shows.
#include "mainwindow/main_window.h"

#include <QComboBox>
#include <QTabWidget>

#include "views/grid_presentation.h"
#include "views/observation_view.h"
#include "views/record_grid.h"
#include "views/waiting_view.h"

// ---------------------------------------------------------------------------
// tabs and filters

int TForm1::currentSheet() const
{
    if (!PageControl1)
        return 0;
    const int i = PageControl1->currentIndex();
    if (i < 0 || !PageControl1->isTabVisible(i))
        return 0;
    return i + 1;
}

bool TForm1::activeOperativeSheet() const
{
    return !PageControl1->isHidden() && currentSheet() == 1;
}

void TForm1::onCurrentTabChanged(int index)
{
    if (!PageControl1->isHidden() && index >= 0 && PageControl1->isTabVisible(index))
        sheetShown(index + 1);
}

void TForm1::sheetShown(int sheet)
{
    switch (sheet) {
    case 1: TabSheet1Show(); break;
    case 2: TabSheet2Show(); break;
    case 3: TabSheet3Show(); break;
    case 4: TabSheet4Show(); break;
    case 5: TabSheet5Show(); break;
    case 6: TabSheet6Show(); break;
    default: break;
    }
}

QString TForm1::sortTagOf(const RecordGrid* grid) const
{
    return grid == DBGridPro1   ? QStringLiteral("tab1")
           : grid == DBGridPro3 ? QStringLiteral("tab3")
           : grid == DBGridPro4 ? QStringLiteral("tab4")
           : grid == DBGridPro5 ? QStringLiteral("tab5")
                                : QStringLiteral("tab6");
}

void TForm1::reset_sort_all()
{
    for (RecordGrid* g : {DBGridPro1, DBGridPro3, DBGridPro4, DBGridPro5, DBGridPro6})
        presentation->reset_sort(g, sortTagOf(g));
}

void TForm1::setTableFilter(const QString& filter)
{
    if (!Dbf1.isOpen())
        return;
    Dbf1.setFiltered(false);
    Dbf1.setFilter(filter);
    Dbf1.setFiltered(true);
    Dbf1.refresh();
    reloadGrids();
}

void TForm1::reloadGrids()
{
    for (RecordGrid* g : {DBGridPro1, DBGridPro3, DBGridPro4, DBGridPro5, DBGridPro6})
        if (g)
            g->reload();
}

void TForm1::TabSheet1Show() { setTableFilter(QStringLiteral("MODE=0")); }

void TForm1::TabSheet2Show()
{
    if (!Dbf1.isOpen())
        return;
    setTableFilter(QStringLiteral("MODE=1"));
    Dbf1.first();
    if (Dbf1.recordCount() > 0 && waitingView->listedSeries() == 0)
        waitingView->fillPicker();
}

void TForm1::TabSheet3Show()
{
    if (!Dbf1.isOpen())
        return;
    setTableFilter(QStringLiteral("MODE=2"));
    Dbf1.first();
    if (Dbf1.recordCount() > 0 && observationView->listedSeries() == 0)
        observationView->fillPicker();
}

void TForm1::TabSheet4Show() { setTableFilter(QStringLiteral("MODE=1")); }
void TForm1::TabSheet5Show() { setTableFilter(QStringLiteral("MODE=0")); }
void TForm1::TabSheet6Show() { setTableFilter(QStringLiteral("MODE=1")); }

void TForm1::tab_vis_en()
{
    const QSignalBlocker block(PageControl1);
    for (int i = 0; i < PageControl1->count(); ++i)
        PageControl1->setTabVisible(i, false);
    if (!Dbf1.isOpen())
        return;
    PageControl1->hide();
    Dbf1.setFiltered(false);
    Dbf1.refresh();
    Dbf1.first();
    if (Dbf1.locate(QStringLiteral("TYPE"), QStringLiteral("3")))
        PageControl1->setTabVisible(0, true);
    const bool series = Dbf1.locate(QStringLiteral("TYPE"), QStringLiteral("1"));
    PageControl1->setTabVisible(1, series);
    PageControl1->setTabVisible(2, series);
    Dbf1.setFiltered(true);
    Dbf1.refresh();

    // Hidden pages cannot be current: fall back to the first shown one.
    if (!PageControl1->isTabVisible(PageControl1->currentIndex())) {
        for (int i = 0; i < PageControl1->count(); ++i)
            if (PageControl1->isTabVisible(i)) {
                PageControl1->setCurrentIndex(i);
                break;
            }
    }
    PageControl1->show();
    reloadGrids();
    sheetShown(currentSheet());
}

void TForm1::tab_vis_dis()
{
    for (int i = 0; i < PageControl1->count(); ++i)
        PageControl1->setTabVisible(i, false);
    PageControl1->hide();
    waitingView->clear();
    observationView->clear();
}

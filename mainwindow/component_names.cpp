// The main window's components carry the names of their members as object
// names, so that tests, accessibility tools and a debugger find each one by
// the name the window's code uses for it.

#include "mainwindow/main_window.h"

#include <QAction>
#include <QGroupBox>
#include <QMenu>
#include <QTabWidget>
#include <QToolBar>

#include "ground/object_names.h"
#include "views/observation_view.h"
#include "views/record_grid.h"
#include "views/waiting_view.h"

void TForm1::nameComponents()
{
    setObjectName(QStringLiteral("TForm1"));
    setObjectNames({
        // menus and their items, in menu order
        {N1, "N1"}, {N2, "N2"}, {N3, "N3"}, {N4, "N4"}, {N5, "N5"}, {N6, "N6"}, {N8, "N8"}, {N9, "N9"},
        {bin1, "bin1"}, {Dsjl1, "Dsjl1"},
        {N32, "N32"}, {N36, "N36"},
        {N27, "N27"}, {N31, "N31"}, {N28, "N28"}, {N29, "N29"}, {N30, "N30"}, {N20, "N20"},
        {N35, "N35"}, {Excel1, "Excel1"}, {N37, "N37"}, {SV1, "SV1"}, {N110, "N110"}, {N38, "N38"},
        {N22, "N22"}, {N23, "N23"}, {N24, "N24"},
        {PopupMenu1, "PopupMenu1"}, {N34, "N34"}, {N26, "N26"}, {N11, "N11"}, {N12, "N12"}, {N13, "N13"},
        {N14, "N14"}, {N33, "N33"}, {N16, "N16"},
        // toolbar, tabs and record grids
        {ToolBar1, "ToolBar1"},
        {PageControl1, "PageControl1"}, {TabSheet1, "TabSheet1"}, {TabSheet2, "TabSheet2"},
        {TabSheet3, "TabSheet3"}, {TabSheet4, "TabSheet4"}, {TabSheet5, "TabSheet5"}, {TabSheet6, "TabSheet6"},
        {DBGridPro1, "DBGridPro1"}, {DBGridPro3, "DBGridPro3"}, {DBGridPro4, "DBGridPro4"},
        {DBGridPro5, "DBGridPro5"}, {DBGridPro6, "DBGridPro6"}, {RadioGroup1, "RadioGroup1"},
        {waitingView, "waitingView"}, {observationView, "observationView"},
    });

    // The toolbar buttons share their menu items' commands (ToolButton1 is
    // the command of N2, and so on); the button widgets carry the buttons'
    // own names.
    const std::pair<QAction*, const char*> buttons[] = {
        {ToolButton1, "ToolButton1"}, {ToolButton2, "ToolButton2"}, {ToolButton3, "ToolButton3"},
        {ToolButton4, "ToolButton4"}, {ToolButton5, "ToolButton5"}, {ToolButton6, "ToolButton6"},
        {ToolButton7, "ToolButton7"},
    };
    for (const auto& [command, name] : buttons)
        ToolBar1->widgetForAction(command)->setObjectName(QLatin1String(name));
}

#pragma once
#include <QString>
class QWidget;

// Help finder (command 11) on the help file: the program shows the guide
// (HTML) in its own help window on every system.  A missing file is said in
// a message box.
constexpr int HelpFinder = 11;
void showHelp(QWidget* parent, const QString& helpFile, int command = HelpFinder, int data = 0);

// The help file "orl.hlp": beside the program, or, for a program installed
// under a prefix (prefix/bin), in prefix/share/dork5.  Empty when neither
// holds it.
QString findHelpFile(const QString& programDir);

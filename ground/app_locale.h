#pragma once
#include <QLocale>

// The program formats and parses numbers and dates the Russian way (decimal
// comma, dd.MM.yyyy, HH:mm:ss) whatever the machine's locale.
QLocale appLocale();
// Makes appLocale() the process default (QLocale()).
void installAppLocale();

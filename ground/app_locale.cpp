#include "ground/app_locale.h"

QLocale appLocale()
{
    QLocale l(QLocale::Russian, QLocale::Russia);
    // Plain digits: no group separator when numbers are written or parsed.
    l.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return l;
}

void installAppLocale() { QLocale::setDefault(appLocale()); }

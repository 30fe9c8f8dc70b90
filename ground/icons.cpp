#include "ground/icons.h"

static void initIconResources() { Q_INIT_RESOURCE(app); }

QIcon appIcon(AppIcon which)
{
    static const bool loaded = (initIconResources(), true);
    Q_UNUSED(loaded);
    switch (which) {
    case AppIcon::New: return QIcon(QStringLiteral(":/icons/new.svg"));
    case AppIcon::Open: return QIcon(QStringLiteral(":/icons/open.svg"));
    case AppIcon::Save: return QIcon(QStringLiteral(":/icons/save.svg"));
    case AppIcon::Preview: return QIcon(QStringLiteral(":/icons/preview.svg"));
    case AppIcon::Print: return QIcon(QStringLiteral(":/icons/print.svg"));
    case AppIcon::RemoveSort: return QIcon(QStringLiteral(":/icons/nosort.svg"));
    case AppIcon::Help: return QIcon(QStringLiteral(":/icons/help.svg"));
    }
    return {};
}

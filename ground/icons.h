#pragma once
#include <QIcon>

// The seven toolbar pictures, drawn from the program's own SVG resources.
enum class AppIcon { New, Open, Save, Preview, Print, RemoveSort, Help };
QIcon appIcon(AppIcon which);

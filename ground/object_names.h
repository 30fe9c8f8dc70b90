#pragma once
// Gives each component of a window the name its member has in the window's
// code, as its object name: tests, accessibility tools and a debugger find
// the component by that name.

#include <QObject>
#include <QString>
#include <initializer_list>
#include <utility>

inline void setObjectNames(std::initializer_list<std::pair<QObject*, const char*>> components)
{
    for (const auto& [component, name] : components)
        component->setObjectName(QLatin1String(name));
}

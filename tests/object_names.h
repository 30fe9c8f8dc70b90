#pragma once
// Checks that each name names exactly one object under a window, and that
// this object is the window's member of that name.

#include <QList>
#include <QObject>
#include <QTest>
#include <initializer_list>
#include <utility>

inline void verifyObjectNames(const QObject& window,
                              std::initializer_list<std::pair<const QObject*, const char*>> members)
{
    for (const auto& [member, name] : members) {
        const QList<QObject*> found = window.findChildren<QObject*>(QLatin1String(name));
        QVERIFY2(found.size() == 1 && found[0] == member, name);
    }
}

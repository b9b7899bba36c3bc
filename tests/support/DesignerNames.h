#pragma once

// Checks that a window's controls are found under the names the designer gave them, as tests
// and scripts look them up (QObject::findChild).

#include <QObject>
#include <QTest>

#include <initializer_list>
#include <utility>

inline void verifyDesignerNames(const QObject& window,
                                std::initializer_list<std::pair<const char*, const QObject*>> controls) {
    for (const auto& [name, control] : controls)
        QVERIFY2(window.findChild<QObject*>(QString::fromLatin1(name)) == control, name);
}

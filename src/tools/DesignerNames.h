#pragma once

// The windows' controls have member names that say what each one is; the names the designer gave
// them (BitBtn1, RadioButton3, Timer2) stay their object names, by which tests and scripts find
// them (QObject::findChild). docs/controls.md maps the one to the other.

#include <QObject>
#include <QString>

#include <initializer_list>
#include <utility>

inline void KeepDesignerNames(std::initializer_list<std::pair<QObject*, const char*>> controls) {
    for (const auto& [control, name] : controls)
        control->setObjectName(QString::fromLatin1(name));
}

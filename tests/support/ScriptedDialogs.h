#pragma once

#include "platform/DialogService.h"

#include <QList>
#include <QString>

// A dialog service that answers message boxes from a script: each expected box is given
// with (part of) its text and the button to press. An unexpected box fails the test; so
// does a script that still holds expectations when the object is destroyed.
class ScriptedDialogs : public platform::DialogService {
public:
    ScriptedDialogs();
    ~ScriptedDialogs() override;

    // Expects a box whose text contains `textPart` and answers it with `answer`.
    ScriptedDialogs& expect(const QString& textPart,
                            platform::DialogButton answer = platform::DialogButton::Ok);
    // Expects a box with exactly this text and kind.
    ScriptedDialogs& expectExactly(platform::DialogKind kind, const QString& text,
                                   platform::DialogButton answer = platform::DialogButton::Ok);

    platform::DialogButton show(const platform::DialogRequest& request) override;

    // Every box shown so far, in order.
    const QList<platform::DialogRequest>& shown() const { return m_shown; }
    bool allAnswered() const { return m_script.isEmpty(); }

private:
    struct Expectation {
        QString text;
        bool exact = false;
        std::optional<platform::DialogKind> kind;
        platform::DialogButton answer;
    };
    QList<Expectation> m_script;
    QList<platform::DialogRequest> m_shown;
    platform::ScopedPort<platform::DialogService> m_scope;
};

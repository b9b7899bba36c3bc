#include "ScriptedDialogs.h"

#include <QtTest>

using platform::DialogButton;
using platform::DialogKind;
using platform::DialogRequest;

ScriptedDialogs::ScriptedDialogs()
    : m_scope(*this) {}

ScriptedDialogs::~ScriptedDialogs() {
    if (!m_script.isEmpty() && !QTest::currentTestFailed())
        QTest::qFail(qPrintable(QStringLiteral("message box never shown: ") + m_script.first().text),
                     __FILE__, __LINE__);
}

ScriptedDialogs& ScriptedDialogs::expect(const QString& textPart, DialogButton answer) {
    m_script.append({textPart, false, std::nullopt, answer});
    return *this;
}

ScriptedDialogs& ScriptedDialogs::expectExactly(DialogKind kind, const QString& text, DialogButton answer) {
    m_script.append({text, true, kind, answer});
    return *this;
}

DialogButton ScriptedDialogs::show(const DialogRequest& request) {
    m_shown.append(request);
    if (m_script.isEmpty()) {
        QTest::qFail(qPrintable(QStringLiteral("unexpected message box: ") + request.text), __FILE__,
                     __LINE__);
        return DialogButton::None;
    }
    const Expectation next = m_script.takeFirst();
    const bool textMatches = next.exact ? request.text == next.text : request.text.contains(next.text);
    const bool kindMatches = !next.kind || *next.kind == request.kind;
    if (!textMatches || !kindMatches) {
        QTest::qFail(
            qPrintable(
                QStringLiteral("message box \"%1\" where \"%2\" was expected").arg(request.text, next.text)),
            __FILE__, __LINE__);
        return DialogButton::None;
    }
    return next.answer;
}

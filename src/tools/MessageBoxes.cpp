#include "tools/MessageBoxes.h"

#include "platform/DialogService.h"

using platform::DialogButton;
using platform::DialogKind;
using platform::DialogRequest;

void WarningBox(const QString& text) {
    DialogRequest request;
    request.kind = DialogKind::Warning;
    request.title = QStringLiteral("Information");
    request.text = text;
    request.buttons = {DialogButton::Ok};
    request.defaultButton = DialogButton::Ok;
    platform::dialogs().show(request);
}

bool QuestionBox(const QString& text) {
    DialogRequest request;
    request.kind = DialogKind::Question;
    request.title = QStringLiteral("Fråga");
    request.text = text;
    request.buttons = {DialogButton::Yes, DialogButton::No};
    request.defaultButton = DialogButton::Yes;
    return platform::dialogs().show(request) == DialogButton::Yes;
}

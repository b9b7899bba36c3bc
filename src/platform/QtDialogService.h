#pragma once

#include "platform/DialogService.h"

namespace platform {

// Message boxes as QMessageBox: the kind's icon, the requested buttons and default button,
// the kind's standard title when none is given. A "\r" of the text becomes a line break on
// screen only. Without a widget application (a command-line program) the text goes to the
// standard error stream and the answer is None.
class QtDialogService : public DialogService {
public:
    DialogButton show(const DialogRequest& request) override;
};

// For unattended runs (KELVO_UNATTENDED=1: end-to-end tests, the demo without a user):
// every box is written to the standard error stream as one line, "[title] text" with
// carriage returns and line feeds shown as \r and \n, and answered with its default button.
class UnattendedDialogService : public DialogService {
public:
    DialogButton show(const DialogRequest& request) override;
};

// The title a box of `kind` gets when the request gives none.
QString StandardDialogTitle(DialogKind kind);
// The text as it is displayed: every "\r\n" and every lone "\r" becomes "\n".
QString DisplayText(const QString& text);

} // namespace platform

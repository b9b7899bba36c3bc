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

// The title a box of `kind` gets when the request gives none.
QString StandardDialogTitle(DialogKind kind);
// The text as it is displayed: every "\r\n" and every lone "\r" becomes "\n".
QString DisplayText(const QString& text);

} // namespace platform

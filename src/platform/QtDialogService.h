#pragma once

#include "platform/DialogService.h"

namespace platform {

// Message boxes as QMessageBox: the kind's icon, the requested buttons and default button,
// the kind's standard title when none is given. A "\r" of the text becomes a line break on
// screen only. Without a widget application (a command-line program) the box is written to
// the standard error stream and the answer is None.
class QtDialogService : public DialogService {
public:
    DialogButton show(const DialogRequest& request) override;
};

// Makes QtDialogService the program's interactive boxes; a widget program calls it at start.
void UseWidgetDialogs();

} // namespace platform

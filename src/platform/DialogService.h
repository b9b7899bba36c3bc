#pragma once

#include "platform/Port.h"

#include <QList>
#include <QString>

class QWidget;

namespace platform {

enum class DialogKind { Information, Warning, Error, Question, Confirmation };
enum class DialogButton { None, Ok, Yes, No, Cancel };

struct DialogRequest {
    DialogKind kind = DialogKind::Information;
    QString title; // empty: the kind's standard title
    QString text;  // may hold "\r"; only the display turns it into a line break
    QList<DialogButton> buttons{DialogButton::Ok};
    DialogButton defaultButton = DialogButton::Ok;
};

// Every modal message box of the program goes through this service, so that tests can
// answer them from a script (tests/support/ScriptedDialogs.h).
class DialogService {
public:
    virtual ~DialogService() = default;
    // Shows the box modally and returns the button chosen (None when closed otherwise).
    virtual DialogButton show(const DialogRequest& request) = 0;

    static std::unique_ptr<DialogService> makeDefault();
};

inline DialogService& dialogs() {
    return Port<DialogService>::instance();
}

} // namespace platform

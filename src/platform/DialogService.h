#pragma once

#include "platform/Port.h"

#include <QList>
#include <QString>

#include <exception>
#include <memory>

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
//
// The standard service needs no windows of its own, so that parts without windows can show
// messages too: for unattended runs (KELVO_UNATTENDED=1) it writes each box to the standard
// error stream and answers with the default button; otherwise it hands the box to the
// interactive service a widget program installs at start (UseWidgetDialogs, in
// platform/QtDialogService.h), and without one it writes the box to the standard error
// stream, unanswered.
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

// The service the standard one hands its boxes to from now on (nullptr: none).
void InstallInteractiveDialogs(std::unique_ptr<DialogService> service);

// For unattended runs (end-to-end tests, the demo without a user): every box is written to
// the standard error stream as one line, "[title] text" with carriage returns and line feeds
// shown as \r and \n, and answered with its default button.
class UnattendedDialogService : public DialogService {
public:
    DialogButton show(const DialogRequest& request) override;
};

// A box where nobody can answer: "title: text" on the standard error stream; the answer is None.
DialogButton ShowWithoutWindows(const DialogRequest& request);

// The title a box of `kind` gets when the request gives none.
QString StandardDialogTitle(DialogKind kind);
// The text as it is displayed: every "\r\n" and every lone "\r" becomes "\n".
QString DisplayText(const QString& text);

} // namespace platform

// The text of a failure, as it follows a message's lead-in. The program's own failures
// (database, scanner control) carry their text as UTF-8.
QString FailureText(const std::exception& failure);

#include "platform/QtDialogService.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

namespace platform {

namespace {

QMessageBox::Icon iconOf(DialogKind kind) {
    switch (kind) {
    case DialogKind::Information:
        return QMessageBox::Information;
    case DialogKind::Warning:
        return QMessageBox::Warning;
    case DialogKind::Error:
        return QMessageBox::Critical;
    case DialogKind::Question:
    case DialogKind::Confirmation:
        break;
    }
    return QMessageBox::Question;
}

QMessageBox::StandardButton standardButtonOf(DialogButton button) {
    switch (button) {
    case DialogButton::Ok:
        return QMessageBox::Ok;
    case DialogButton::Yes:
        return QMessageBox::Yes;
    case DialogButton::No:
        return QMessageBox::No;
    case DialogButton::Cancel:
        return QMessageBox::Cancel;
    case DialogButton::None:
        break;
    }
    return QMessageBox::NoButton;
}

DialogButton dialogButtonOf(QMessageBox::StandardButton button) {
    switch (button) {
    case QMessageBox::Ok:
        return DialogButton::Ok;
    case QMessageBox::Yes:
        return DialogButton::Yes;
    case QMessageBox::No:
        return DialogButton::No;
    case QMessageBox::Cancel:
        return DialogButton::Cancel;
    default:
        return DialogButton::None;
    }
}

bool widgetsAvailable() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

} // namespace

DialogButton QtDialogService::show(const DialogRequest& request) {
    if (!widgetsAvailable())
        return ShowWithoutWindows(request);
    const QString title = request.title.isEmpty() ? StandardDialogTitle(request.kind) : request.title;
    QMessageBox::StandardButtons buttons;
    for (const DialogButton button : request.buttons)
        buttons |= standardButtonOf(button);
    // The box belongs to the active window, which an event handled during exec() may delete
    // together with the box; the guarded pointer notices that.
    QPointer<QMessageBox> box = new QMessageBox(iconOf(request.kind), title, DisplayText(request.text),
                                                buttons, QApplication::activeWindow());
    if (QAbstractButton* defaultButton = box->button(standardButtonOf(request.defaultButton)))
        box->setDefaultButton(qobject_cast<QPushButton*>(defaultButton));
    box->exec();
    if (!box)
        return DialogButton::None;
    const DialogButton chosen =
        box->clickedButton() ? dialogButtonOf(box->standardButton(box->clickedButton())) : DialogButton::None;
    delete box.data();
    return chosen;
}

void UseWidgetDialogs() {
    InstallInteractiveDialogs(std::make_unique<QtDialogService>());
}

} // namespace platform

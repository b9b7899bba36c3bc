#include "platform/QtDialogService.h"

#include "platform/Logging.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include <cstdio>

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

const char* buttonName(DialogButton button) {
    switch (button) {
    case DialogButton::Ok:
        return "OK";
    case DialogButton::Yes:
        return "Yes";
    case DialogButton::No:
        return "No";
    case DialogButton::Cancel:
        return "Cancel";
    case DialogButton::None:
        break;
    }
    return "nothing (closed)";
}

// Every box of the program passes here once, whichever service shows it: its text goes to the
// log as the user reads it, before it shows, and so does the answer to a box that asks.
class LoggedDialogService final : public DialogService {
public:
    explicit LoggedDialogService(std::unique_ptr<DialogService> shown)
        : m_shown(std::move(shown)) {}

    DialogButton show(const DialogRequest& request) override {
        const QString title = request.title.isEmpty() ? StandardDialogTitle(request.kind) : request.title;
        const QString line = QLatin1Char('[') + title + QStringLiteral("] ") + DisplayText(request.text);
        switch (request.kind) {
        case DialogKind::Warning:
            qCWarning(lcDialog).noquote() << line;
            break;
        case DialogKind::Error:
            qCCritical(lcDialog).noquote() << line;
            break;
        case DialogKind::Information:
        case DialogKind::Question:
        case DialogKind::Confirmation:
            qCInfo(lcDialog).noquote() << line;
            break;
        }
        const DialogButton answer = m_shown->show(request);
        if (request.buttons.size() > 1)
            qCInfo(lcDialog).noquote() << QLatin1Char('[') + title + QStringLiteral("] answered ") +
                                              QLatin1String(buttonName(answer));
        return answer;
    }

private:
    std::unique_ptr<DialogService> m_shown;
};

} // namespace

QString StandardDialogTitle(DialogKind kind) {
    switch (kind) {
    case DialogKind::Information:
        return QStringLiteral("Information");
    case DialogKind::Warning:
        return QStringLiteral("Warning");
    case DialogKind::Error:
        return QStringLiteral("Error");
    case DialogKind::Question:
        return QStringLiteral("Question");
    case DialogKind::Confirmation:
        break;
    }
    return QStringLiteral("Confirm");
}

QString DisplayText(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

DialogButton QtDialogService::show(const DialogRequest& request) {
    const QString title = request.title.isEmpty() ? StandardDialogTitle(request.kind) : request.title;
    if (!widgetsAvailable()) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(DisplayText(request.text)));
        return DialogButton::None;
    }
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

DialogButton UnattendedDialogService::show(const DialogRequest& request) {
    const QString title = request.title.isEmpty() ? StandardDialogTitle(request.kind) : request.title;
    QString text = request.text;
    text.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    text.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    std::fprintf(stderr, "[%s] %s\n", qPrintable(title), qPrintable(text));
    std::fflush(stderr);
    return request.defaultButton;
}

std::unique_ptr<DialogService> DialogService::makeDefault() {
    if (qEnvironmentVariableIntValue("KELVO_UNATTENDED") != 0)
        return std::make_unique<LoggedDialogService>(std::make_unique<UnattendedDialogService>());
    return std::make_unique<LoggedDialogService>(std::make_unique<QtDialogService>());
}

} // namespace platform

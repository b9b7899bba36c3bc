#include "platform/DialogService.h"

#include "platform/Logging.h"

#include <cstdio>

namespace platform {

namespace {

std::unique_ptr<DialogService>& interactiveService() {
    static std::unique_ptr<DialogService> service;
    return service;
}

QString titleOf(const DialogRequest& request) {
    return request.title.isEmpty() ? StandardDialogTitle(request.kind) : request.title;
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

// Every box of the program passes here once, however it is shown: its title and text go to
// the log as the user reads them, before it shows.
void logBox(const DialogRequest& request) {
    const QString line =
        QLatin1Char('[') + titleOf(request) + QStringLiteral("] ") + DisplayText(request.text);
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
}

// The answer to a box that asks.
void logAnswer(const DialogRequest& request, DialogButton answer) {
    if (request.buttons.size() > 1)
        qCInfo(lcDialog).noquote() << QLatin1Char('[') + titleOf(request) + QStringLiteral("] answered ") +
                                          QLatin1String(buttonName(answer));
}

class StandardDialogService : public DialogService {
public:
    DialogButton show(const DialogRequest& request) override {
        logBox(request);
        const DialogButton answer = shown(request);
        logAnswer(request, answer);
        return answer;
    }

private:
    static DialogButton shown(const DialogRequest& request) {
        if (qEnvironmentVariableIntValue("KELVO_UNATTENDED") != 0)
            return UnattendedDialogService().show(request);
        if (DialogService* interactive = interactiveService().get())
            return interactive->show(request);
        return ShowWithoutWindows(request);
    }
};

} // namespace

std::unique_ptr<DialogService> DialogService::makeDefault() {
    return std::make_unique<StandardDialogService>();
}

void InstallInteractiveDialogs(std::unique_ptr<DialogService> service) {
    interactiveService() = std::move(service);
}

DialogButton UnattendedDialogService::show(const DialogRequest& request) {
    QString text = request.text;
    text.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    text.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    std::fprintf(stderr, "[%s] %s\n", qPrintable(titleOf(request)), qPrintable(text));
    std::fflush(stderr);
    return request.defaultButton;
}

DialogButton ShowWithoutWindows(const DialogRequest& request) {
    std::fprintf(stderr, "%s: %s\n", qPrintable(titleOf(request)), qPrintable(DisplayText(request.text)));
    return DialogButton::None;
}

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

} // namespace platform

QString FailureText(const std::exception& failure) {
    return QString::fromUtf8(failure.what());
}

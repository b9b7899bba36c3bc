#include "platform/DialogService.h"

#include <cstdio>

namespace platform {

namespace {

std::unique_ptr<DialogService>& interactiveService() {
    static std::unique_ptr<DialogService> service;
    return service;
}

class StandardDialogService : public DialogService {
public:
    DialogButton show(const DialogRequest& request) override {
        if (qEnvironmentVariableIntValue("KELVO_UNATTENDED") != 0)
            return UnattendedDialogService().show(request);
        if (DialogService* interactive = interactiveService().get())
            return interactive->show(request);
        return ShowWithoutWindows(request);
    }
};

QString titleOf(const DialogRequest& request) {
    return request.title.isEmpty() ? StandardDialogTitle(request.kind) : request.title;
}

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

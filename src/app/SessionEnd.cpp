#include "app/SessionEnd.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace {

// How often a modal window that was asked to close is looked at again.
constexpr int kModalRetryMs = 50;

} // namespace

void CloseAfterModalWindows(QWidget* mainWindow) {
    const QPointer<QWidget> window(mainWindow);
    if (!window || !window->isVisible())
        return;
    if (QWidget* modal = QApplication::activeModalWidget()) {
        // Closed like the title bar's close button: a dialog is rejected (a question answered
        // "No", the preview discarded). Its loop returns once control is back there.
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
        QTimer::singleShot(kModalRetryMs, window, [window] { CloseAfterModalWindows(window); });
        return;
    }
    window->close();
}

std::unique_ptr<platform::TerminationWatch> CloseOnTerminationRequest(QWidget& mainWindow) {
    const QPointer<QWidget> window(&mainWindow);
    return platform::terminationRequests().watch([window](const QString&) {
        // From the event loop, never from inside the handler of a message or a click.
        QTimer::singleShot(0, window, [window] { CloseAfterModalWindows(window); });
    });
}

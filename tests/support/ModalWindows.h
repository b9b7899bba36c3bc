#pragma once

#include <QApplication>
#include <QString>
#include <QTimer>
#include <functional>

// Drives modal windows as a user would: the action runs inside the window's own modal loop.

// Runs `action` on the modal window of type T as soon as one is showing and active
// (activation is what fills some windows, the data-provider chooser's list among them).
template <typename T> void whenModal(std::function<void(T*)> action) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, action] {
        auto* window = qobject_cast<T*>(QApplication::activeModalWidget());
        if (window && window->isActiveWindow()) {
            poll->stop();
            poll->deleteLater();
            action(window);
        }
    });
    poll->start(10);
}

// Chooses `name` in the data-provider chooser and presses OK as soon as it shows; presses
// "Avbryt" when the list holds no such entry.
void chooseDataProviderWhenAsked(const QString& name);

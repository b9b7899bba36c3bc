#pragma once

#include "platform/Port.h"

#include <QList>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>

class QWidget;

namespace platform {

// A window handle on the bus: a positive 32-bit number, unique among the windows that
// are registered at the same time. 0 means "no window". Handles travel on command lines
// in decimal ("HWND=123456") and are read back as 32-bit signed integers.
using WindowHandle = qint32;

// Answers one message sent to a window and returns the result the sender gets.
// It runs on the thread that registered the window (the GUI thread).
using MessageHandler = std::function<qint64(quint32 msg, qint64 wParam, qint64 lParam)>;

// What a process registers on the bus to be found and to receive messages.
struct WindowDefinition {
    QString className;
    QString title;
    // Without a handler every message is answered with 0.
    MessageHandler handler;
    // The window that an activation request restores, raises and activates; optional.
    // Its activations also move the entry to the front of the activation order.
    QWidget* widget = nullptr;
};

// One registered window. The entry lives exactly as long as this object: destroying it
// removes the window from the bus.
class WindowRegistration {
public:
    virtual ~WindowRegistration() = default;

    virtual WindowHandle handle() const = 0;
    virtual QString title() const = 0;
    virtual void setTitle(const QString& title) = 0;
    // Moves the window to the front of the activation order (enumWindows, findWindow).
    virtual void noteActivated() = 0;
};

// A window as other processes see it.
struct WindowInfo {
    WindowHandle handle = 0;
    QString className;
    QString title;
    qint64 processId = 0;
    qint64 activationStamp = 0; // larger = activated more recently
};

// Windows of all programs of this user meeting on one desktop: registered message
// numbers, finding windows, synchronous messages and activation requests.
// Other programs, in any language, take part through the protocol in docs/host-protocol.md.
class WindowBus {
public:
    virtual ~WindowBus() = default;

    // The number for a message name: the same in every process of this user, names compared
    // without regard to letter case, numbers from 0xC000 upwards. 0 when the name is empty,
    // longer than 255 characters, contains a line break, or the table cannot be used.
    virtual quint32 registerWindowMessage(const QString& name) = 0;
    // The name a number was registered under (in its first spelling); empty when unknown.
    virtual QString messageName(quint32 msg) = 0;

    // Registers a window for the calling thread, which must run an event loop (the GUI thread).
    // Returns nullptr with `error` set when the bus folder or the window's socket cannot be made.
    virtual std::unique_ptr<WindowRegistration> registerWindow(const WindowDefinition& definition,
                                                               QString* error = nullptr) = 0;

    // The most recently activated window whose class and title match; an empty class or
    // title matches any. Both are compared without regard to letter case. 0 when none.
    virtual WindowHandle findWindow(const QString& className, const QString& title) = 0;
    // Every live window, the most recently activated first.
    virtual QList<WindowInfo> enumWindows() = 0;
    virtual bool isWindow(WindowHandle window) = 0;

    // Sends a message and waits until the receiving window's handler has returned; gives
    // its result. Returns 0 at once for handle 0, message 0 or a window that does not exist
    // (any more). While it waits, the calling thread answers messages sent to its own
    // windows, so two windows sending to each other at the same time cannot deadlock.
    virtual qint64 sendMessage(WindowHandle window, quint32 msg, qint64 wParam, qint64 lParam) = 0;
    // As sendMessage, giving up after `timeoutMs` milliseconds. True with `result` set when
    // the handler answered in time; false (and `result` 0) otherwise.
    virtual bool sendMessageTimeout(WindowHandle window, quint32 msg, qint64 wParam, qint64 lParam,
                                    int timeoutMs, qint64* result = nullptr) = 0;

    // Asks the window's process to restore (un-minimise), raise and activate the window.
    // True when the target answered within `timeoutMs` that it did so.
    virtual bool activate(WindowHandle window, int timeoutMs = 5000) = 0;

    // The global atom table: a text kept under a number from 0xC000 to 0xFFFF, so that a
    // message can carry a text in its lParam. Every add gives an atom of its own, also for a
    // text that is already in the table; the sender deletes it after the send. 0 when the text
    // is longer than kMaxAtomLength or the table cannot be used.
    virtual quint32 globalAddAtom(const QString& text) = 0;
    // The text of an atom; std::nullopt when there is no such atom (any more).
    virtual std::optional<QString> globalGetAtomName(quint32 atom) = 0;
    virtual void globalDeleteAtom(quint32 atom) = 0;
    static constexpr qsizetype kMaxAtomLength = 255;

    static std::unique_ptr<WindowBus> makeDefault();
};

inline WindowBus& windowBus() {
    return Port<WindowBus>::instance();
}

} // namespace platform

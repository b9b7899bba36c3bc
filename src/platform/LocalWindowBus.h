#pragma once

#include "platform/WindowBus.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <optional>

namespace platform {

// The bus's two file formats, read from bytes (docs/host-protocol.md).
namespace buswire {

// The table of registered message numbers: one line "<number> <name>" per message.
struct MessageTable {
    QHash<QString, quint32> byFoldedName;
    QHash<quint32, QString> byNumber;
};

// Reads the complete lines of the table into `table`; returns the length of the part of
// the content made of complete lines (a writer that died mid-line leaves a partial one).
qsizetype parseMessageTable(const QByteArray& content, MessageTable* table);

// A window's entry file; nothing when it names no window.
std::optional<WindowInfo> parseEntry(const QByteArray& content);

} // namespace buswire

// The window bus of one Linux user: a folder holding the message-number table, one entry
// file and one local socket per window, and one file per global atom (docs/host-protocol.md
// describes every file and frame).
class LocalWindowBus : public WindowBus {
public:
    // Uses defaultFolder(), looked up anew at every call, so that a changed XDG_RUNTIME_DIR
    // (an isolated test installation) moves the bus with it.
    LocalWindowBus() = default;
    // Uses a fixed folder.
    explicit LocalWindowBus(const QString& folder);

    // $XDG_RUNTIME_DIR/kelvo-bus, or /tmp/kelvo-bus-<uid> when XDG_RUNTIME_DIR is unset or
    // not an absolute path.
    static QString defaultFolder();
    QString folder() const;

    quint32 registerWindowMessage(const QString& name) override;
    QString messageName(quint32 msg) override;
    std::unique_ptr<WindowRegistration> registerWindow(const WindowDefinition& definition,
                                                       QString* error = nullptr) override;
    WindowHandle findWindow(const QString& className, const QString& title) override;
    QList<WindowInfo> enumWindows() override;
    bool isWindow(WindowHandle window) override;
    qint64 sendMessage(WindowHandle window, quint32 msg, qint64 wParam, qint64 lParam) override;
    bool sendMessageTimeout(WindowHandle window, quint32 msg, qint64 wParam, qint64 lParam, int timeoutMs,
                            qint64* result = nullptr) override;
    bool activate(WindowHandle window, int timeoutMs = 5000) override;
    quint32 globalAddAtom(const QString& text) override;
    std::optional<QString> globalGetAtomName(quint32 atom) override;
    void globalDeleteAtom(quint32 atom) override;

private:
    std::optional<qint64> transact(quint32 kind, WindowHandle window, quint32 msg, qint64 wParam,
                                   qint64 lParam, int timeoutMs);

    QString m_fixedFolder;
};

} // namespace platform

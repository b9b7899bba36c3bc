#pragma once

// Keeps the program's database connections alive across a suspend and resume of the
// computer: a suspend closes every open connection and marks it; a resume opens the
// marked ones again, each with a transaction, and tells the user what came of it.

#include <QList>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>

class TADOConnection;

namespace platform {
class PowerEvents;
}

// The tag that marks a connection closed by a suspend; it stays after the reconnection,
// so the connection is reconnected at every later resume too.
inline constexpr int kSuspendedConnectionTag = 666;

// The connections to keep alive, in the order they registered. A connection leaves the
// list by itself when it is destroyed.
void RegisterPowerConnection(TADOConnection* connection);
void UnregisterPowerConnection(TADOConnection* connection);
QList<TADOConnection*> PowerConnections();

// Closes each connected one of `connections` and marks it.
void HandleSuspend(const QList<TADOConnection*>& connections);

struct TResumeOptions {
    // Time for the network and the database server to come back after the wake-up; the
    // user interface does not respond meanwhile.
    std::chrono::milliseconds wait{10000};
    // Ends the program when no connection could be had again; the default ends the
    // process at once with the given exit code.
    std::function<void(int exitCode)> terminate;
};

// Reconnects each marked one of `connections` and begins a transaction on it, asking the
// user before a second attempt; reports the count, or ends the program after a failure.
void HandleResume(const QList<TADOConnection*>& connections, const TResumeOptions& options = {});

// The tools library's power handling, created once when the program starts: runs the
// handlers over the registered connections when the power port reports a suspend or a resume.
// It was the hidden window TfrmKelvoTools (frmKelvoTools); it is no window, and its designer
// name stays its object name.
class TKelvoPowerHandler : public QObject {
    Q_OBJECT
public:
    explicit TKelvoPowerHandler(platform::PowerEvents& events, TResumeOptions options = {},
                                QObject* parent = nullptr);
    // Listens to the computer's own power notices.
    explicit TKelvoPowerHandler(QObject* parent = nullptr);

private:
    TResumeOptions m_options;
};

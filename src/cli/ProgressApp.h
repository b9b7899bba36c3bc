#pragma once

// kelvo-progress: the suite's progress program. A small always-on-top window that shows what
// a client program is waiting for (caption, status text, a running animation), driven by the
// client's registered messages over the window bus (docs/host-protocol.md, "The progress
// program"). It runs in a process of its own, so it keeps painting while its client is busy.

#include "platform/WindowBus.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>

class TfrmProgress;

// What the start-up command line gives: CAPTION=, STYLE=, STATUS= and CLIENTHWND= (keys in any
// letter case; a value in double quotes loses them).
struct TProgressAppStart {
    QString caption;
    QString style;
    QString status;
    platform::WindowHandle client = 0;
};
TProgressAppStart ParseProgressAppArguments(const QStringList& arguments);

// The variable naming a file to which the program appends one line for each message it
// receives and each change it makes, for the tests and for whoever needs to see what a client sends.
inline const char* const kProgressLogVariable = "KELVO_PROGRESS_LOG";

// How often the program looks whether its clients' windows are still there, and how long it
// waits for a first client when it was started for none.
inline constexpr int kClientCheckMs = 1000;
inline constexpr int kNoClientGraceMs = 10000;

class TProgressApp : public QObject {
    Q_OBJECT
public:
    // `version` is the program's own file version as a number; it chooses the window class.
    TProgressApp(const TProgressAppStart& start, qint32 version, QObject* parent = nullptr);
    ~TProgressApp() override;

    // Puts the message window on the bus; false, with `error` set, when that fails.
    bool Register(QString* error);
    // Answers one message sent to the window: 1 when it was one of the progress messages and
    // was carried out, else 0.
    qint64 Receive(quint32 msg, qint64 wParam, qint64 lParam);

    TfrmProgress* Window() const { return m_window.get(); }
    QString WindowClass() const { return m_windowClass; }
    platform::WindowHandle Handle() const;
    int Activations() const { return m_activations; }
    QSet<platform::WindowHandle> Clients() const { return m_clients; }
    // Looks whether a client is still there; emits clientsGone() when none is.
    void CheckClients();

Q_SIGNALS:
    // None of the clients has a window any more (or none came): the program should end.
    void clientsGone();

private:
    void addClient(platform::WindowHandle window);
    void showWindow();
    void hideWindow();
    void applyStyle(const QString& name);
    std::optional<QString> atomText(qint64 lParam);
    void log(const QString& line);

    const QString m_windowClass;
    std::unique_ptr<TfrmProgress> m_window;
    std::unique_ptr<platform::WindowRegistration> m_registration;
    QSet<platform::WindowHandle> m_clients;
    int m_activations = 0;
    QTimer m_clientCheck;
    QDeadlineTimer m_noClientGrace;
    QString m_logFile;
};

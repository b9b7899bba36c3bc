#pragma once

#include "platform/WindowBus.h"

#include <QObject>
#include <QProcess>
#include <QTextStream>

// The stand-in for the practice's journal program: it registers a host window on the
// bus, starts ravlek with "HWND=" + that window's handle followed by the arguments it was
// given, prints every message the window receives, and ends with ravlek's exit code.
class StandInHost : public QObject {
    Q_OBJECT
public:
    // `program` is the ravlek executable; `out` receives one line per message.
    StandInHost(QString program, QStringList arguments, QTextStream& out, QObject* parent = nullptr);

    // Registers the window and starts ravlek; false with `error` set when either fails.
    bool start(QString* error);

    // "<message name> wParam=<n> lParam=<n>", the number in place of a name the bus does not know.
    static QString describeMessage(const QString& name, quint32 msg, qint64 wParam, qint64 lParam);

Q_SIGNALS:
    void finished(int exitCode);

private:
    qint64 receive(quint32 msg, qint64 wParam, qint64 lParam);
    void onFinished(int exitCode, QProcess::ExitStatus status);

    QString m_program;
    QStringList m_arguments;
    QTextStream& m_out;
    QProcess m_ravlek;
    std::unique_ptr<platform::WindowRegistration> m_window;
};

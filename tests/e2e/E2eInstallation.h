#pragma once

// Helpers for the end-to-end runs: an isolated installation configured the way an
// administrator would (ravlek-reg, ravlek-sim, a data-link file), the real programs started as
// processes, and what they leave behind (the patient folder, the information file, the lock
// rows, the simulated devices' state). Header-only, so that the tests and the start-up
// benchmark share it.

#include "TestEnvironment.h"
#include "sim/SimCatalogue.h"
#include "sim/SimDeviceFolder.h"
#include "tools/KelvoEnvironment.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QThread>

#include <array>
#include <csignal>
#include <memory>
#include <optional>

namespace e2e {

// Everything a run of one program gave back.
struct ProgramRun {
    bool finished = false; // false: it was still running at the time-out and has been killed
    int exitCode = -1;
    QString output;
    QString errors;

    // The host's notices: the lines of ravlek-host's output that name an XRAY_ message.
    QStringList notices() const {
        QStringList lines;
        for (const QString& line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            if (line.startsWith(QLatin1String("XRAY_")))
                lines.append(line.trimmed());
        return lines;
    }
    QString describe() const {
        return QStringLiteral("finished=%1 exit=%2\n--- output\n%3--- errors\n%4")
            .arg(finished)
            .arg(exitCode)
            .arg(output, errors);
    }
};

// The process ids whose parent is `pid` (read from /proc).
inline QList<qint64> childProcesses(qint64 pid) {
    QList<qint64> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool numeric = false;
        const qint64 candidate = entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the name may hold blanks, so read after its last ')'.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields.at(1).toLongLong() == pid)
            children.append(candidate);
    }
    return children;
}

// Ends a process and everything it started, children first.
inline void killProcessTree(qint64 pid) {
    if (pid <= 0)
        return;
    for (const qint64 child : childProcesses(pid))
        killProcessTree(child);
    ::kill(static_cast<pid_t>(pid), SIGKILL);
}

// A program running in the background; killed with its children when
// the object goes away while it still runs.
class RunningProgram {
public:
    RunningProgram(const QString& program, const QStringList& arguments,
                   const QProcessEnvironment& environment) {
        // A program of the build by its name, any other by its full path.
        m_process.setProgram(QDir::isAbsolutePath(program) ? program : programPath(program));
        m_process.setArguments(arguments);
        m_process.setProcessEnvironment(environment);
        m_process.start();
    }
    ~RunningProgram() {
        if (m_process.state() != QProcess::NotRunning) {
            killProcessTree(m_process.processId());
            m_process.waitForFinished(5000);
        }
    }
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    QProcess& process() { return m_process; }
    qint64 pid() const { return m_process.processId(); }
    // The first process this one started (ravlek, when this is ravlek-host); 0 when none.
    qint64 firstChild() const {
        const QList<qint64> children = childProcesses(pid());
        return children.isEmpty() ? 0 : children.first();
    }

    // Waits for the end; kills the tree after `timeoutMs`.
    ProgramRun wait(int timeoutMs) {
        ProgramRun run;
        run.finished = m_process.waitForFinished(timeoutMs);
        if (!run.finished) {
            killProcessTree(m_process.processId());
            m_process.waitForFinished(5000);
        } else {
            run.exitCode = m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
        }
        run.output = QString::fromUtf8(m_process.readAllStandardOutput());
        run.errors = QString::fromUtf8(m_process.readAllStandardError());
        return run;
    }

private:
    QProcess m_process;
};

// The variable that makes ravlek answer its message boxes by itself: each box is written to
// the error output as one line, "[title] text" with its carriage returns shown as "\r", and
// answered with its default button, so that a run without a user cannot hang on one.
inline const char* const kUnattendedVariable = "KELVO_UNATTENDED";

// The line an unattended message box leaves in the error output.
inline QString unattendedBoxLine(const QString& title, QString text) {
    text.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    text.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return QLatin1Char('[') + title + QStringLiteral("] ") + text;
}

// The environment of the programs: the test's isolated installation (set by TestEnvironment),
// the offscreen platform unless a display was asked for, a locale with a decimal point, and
// message boxes answered automatically.
inline QProcessEnvironment programEnvironment() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!environment.contains(QStringLiteral("QT_QPA_PLATFORM")))
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    environment.insert(QString::fromLatin1(kUnattendedVariable), QStringLiteral("1"));
    return environment;
}

// Runs a program to its end.
inline ProgramRun runProgram(const QString& program, const QStringList& arguments, int timeoutMs = 30000,
                             const QProcessEnvironment& environment = programEnvironment()) {
    RunningProgram running(program, arguments, environment);
    return running.wait(timeoutMs);
}

// The installation key of the current directory, which is where ravlek starts.
inline QString installationKey() {
    return QStringLiteral("SOFTWARE\\Kelvo\\") + ApplicationKeyFor(QDir::currentPath());
}

// Stores one text setting of the installation in the user's hive, as an administrator
// would with ravlek-reg. Empty when done, else what went wrong.
inline QString setSetting(const QString& section, const QString& key, const QString& value) {
    const ProgramRun run =
        runProgram(QStringLiteral("ravlek-reg"),
                   {QStringLiteral("add"), QStringLiteral("HKCU\\") + installationKey() + section,
                    QStringLiteral("/v"), key, QStringLiteral("/t"), QStringLiteral("REG_SZ"),
                    QStringLiteral("/d"), value, QStringLiteral("/f")});
    return run.finished && run.exitCode == 0 ? QString() : QStringLiteral("ravlek-reg: ") + run.describe();
}

// Runs ravlek-sim with `arguments`. Empty when it succeeded, else what went wrong.
inline QString simulator(const QStringList& arguments) {
    const ProgramRun run = runProgram(QStringLiteral("ravlek-sim"), arguments);
    return run.finished && run.exitCode == 0 ? QString() : QStringLiteral("ravlek-sim: ") + run.describe();
}

// The settings of a capture station that takes one image for a patient and closes: no
// preview, the working file kept, one-shot mode, the given device types and format.
inline QString configureCaptureStation(const QString& connectTo, const QString& fileType,
                                       const QString& bits) {
    const QList<std::array<QString, 3>> settings{
        {QStringLiteral("DigoraDevices"), QStringLiteral("1"), QStringLiteral("Digora")},
        {QStringLiteral("DigoraDevices"), QStringLiteral("4"), QStringLiteral("Digora OPTIME")},
        {QStringLiteral("DigoraDevices"), QStringLiteral("8"), QStringLiteral("Digora Toto")},
        {QStringLiteral("DigoraDevices"), QStringLiteral("ConnectTo"), connectTo},
        {QStringLiteral("XRay"), QStringLiteral("Preview"), QStringLiteral("0")},
        {QStringLiteral("XRay"), QStringLiteral("DeleteSource"), QStringLiteral("0")},
        {QStringLiteral("XRay"), QStringLiteral("TotoOneShot"), QStringLiteral("-1")},
        {QStringLiteral("XRay"), QStringLiteral("PlaySoundWhenScannerIsReady"), QStringLiteral("0")},
        {QStringLiteral("XRay"), QStringLiteral("FileTypeExt"), fileType},
        {QStringLiteral("XRay"), QStringLiteral("FileTypeBits"), bits},
    };
    for (const auto& [section, key, value] : settings)
        if (QString failure = setSetting(section, key, value); !failure.isEmpty())
            return failure;
    return {};
}

// The state folder of a simulated device, by type number or address.
inline std::optional<SimDeviceFolder> simulatedDevice(const QString& typeOrAddress) {
    const SimCatalogue catalogue;
    const std::optional<SimDevice> device = catalogue.find(typeOrAddress);
    if (!device)
        return std::nullopt;
    return SimDeviceFolder(catalogue.deviceFolder(*device));
}

// The lines of an information file: its section line, then "key=value" lines.
inline QStringList fileLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll())
        .split(QRegularExpression(QStringLiteral("\r?\n")), Qt::SkipEmptyParts);
}

inline QByteArray fileContent(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace e2e

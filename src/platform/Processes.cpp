#include "platform/Processes.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>

#include <signal.h>

namespace platform {

namespace {

// A process that has ended but whose parent has not collected it yet ("zombie") still answers
// to its id; where nobody collects it (a container without an init process that does) it
// stays so.
bool endedButNotCollected(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    // "pid (name) state ...": the name may hold blanks and brackets, so read after the last ')'.
    const QByteArray text = stat.read(4096);
    const qsizetype close = text.lastIndexOf(')');
    return close >= 0 && text.size() > close + 2 && text.at(close + 2) == 'Z';
}

} // namespace

bool processRunning(qint64 pid) {
    if (pid <= 0)
        return false;
    // Signal 0 only asks; EPERM means the process is there but belongs to someone else.
    if (::kill(pid_t(pid), 0) != 0 && errno != EPERM)
        return false;
    return !endedButNotCollected(pid);
}

} // namespace platform

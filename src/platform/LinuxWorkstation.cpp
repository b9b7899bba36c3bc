#include "platform/LinuxWorkstation.h"

#include <QHostAddress>
#include <QStringList>

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kMaxComputerNameLength = 15;

bool hasValue(const char* name) {
    return !qEnvironmentVariableIsEmpty(name);
}

// The client's address: the first field of SSH_CONNECTION ("client port server port") or
// of SSH_CLIENT ("client port serverport").
QString sshClientAddress() {
    for (const char* name : {"SSH_CONNECTION", "SSH_CLIENT"}) {
        const QString first =
            qEnvironmentVariable(name).section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
        if (!QHostAddress(first).isNull())
            return first;
    }
    return {};
}

// The name that the resolver gives for `address`; empty when it knows none.
QString nameOfAddress(const QString& address) {
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (::getaddrinfo(address.toLatin1().constData(), nullptr, &hints, &found) != 0)
        return {};
    char host[NI_MAXHOST] = {};
    const int result =
        ::getnameinfo(found->ai_addr, found->ai_addrlen, host, sizeof host, nullptr, 0, NI_NAMEREQD);
    ::freeaddrinfo(found);
    return result == 0 ? QString::fromLocal8Bit(host) : QString();
}

} // namespace

QString ComputerNameOfHost(const QString& hostName) {
    return hostName.section(QLatin1Char('.'), 0, 0).toUpper().left(kMaxComputerNameLength);
}

QString LinuxWorkstation::computerName() {
    const QString configured = qEnvironmentVariable("KELVO_COMPUTERNAME").trimmed();
    if (!configured.isEmpty())
        return configured;
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0)
        return {};
    return ComputerNameOfHost(QString::fromLocal8Bit(host));
}

bool LinuxWorkstation::isRemoteSession() {
    if (!qEnvironmentVariable("KELVO_COMPUTERNAME").trimmed().isEmpty())
        return false;
    return hasValue("SSH_CONNECTION") || hasValue("SSH_CLIENT") || hasValue("CLIENTNAME");
}

QString LinuxWorkstation::remoteClientName(QString* error) {
    const QString announced = announcedClientName(error);
    if (!announced.isEmpty())
        return announced;
    return addressClientName(error);
}

QString LinuxWorkstation::announcedClientName(QString* error) {
    if (!hasValue("CLIENTNAME"))
        return {};
    const QString name = qEnvironmentVariable("CLIENTNAME").trimmed();
    if (name.isEmpty() && error)
        *error = QStringLiteral("CLIENTNAME holds only blanks");
    return name;
}

QString LinuxWorkstation::addressClientName(QString* error) {
    const QString address = sshClientAddress();
    if (address.isEmpty()) {
        if (error)
            *error = QStringLiteral("SSH_CONNECTION and SSH_CLIENT name no client address");
        return {};
    }
    const QString name = nameOfAddress(address);
    return name.isEmpty() ? address : ComputerNameOfHost(name);
}

std::unique_ptr<Workstation> Workstation::makeDefault() {
    return std::make_unique<LinuxWorkstation>();
}

} // namespace platform

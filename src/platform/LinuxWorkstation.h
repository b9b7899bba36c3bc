#pragma once

#include "platform/Workstation.h"

namespace platform {

// The computer and session as Linux sees them.
//
// KELVO_COMPUTERNAME names the workstation outright: with it set the session counts as
// local, so that several "computers" can run side by side on one machine whatever the
// session is. Otherwise a session is remote when SSH_CONNECTION, SSH_CLIENT or CLIENTNAME
// is set and not empty; the client is then known by CLIENTNAME, else by the name of the SSH client's
// address (short, upper case, at most 15 characters), else by the address itself.
class LinuxWorkstation : public Workstation {
public:
    QString computerName() override;
    bool isRemoteSession() override;
    QString remoteClientName(QString* error) override;
    QString announcedClientName(QString* error) override;
    QString addressClientName(QString* error) override;
};

// A host name as Windows shows a computer name: the part before the first ".", upper case,
// at most 15 characters.
QString ComputerNameOfHost(const QString& hostName);

} // namespace platform

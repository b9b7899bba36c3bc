#pragma once

#include "platform/Port.h"

#include <QString>

namespace platform {

// The name under which this computer is known to its peers.
class Workstation {
public:
    virtual ~Workstation() = default;

    // KELVO_COMPUTERNAME when set; otherwise the short host name in upper case, at most 15 characters.
    virtual QString computerName() = 0;
    // True in a remote session (SSH, RDP).
    virtual bool isRemoteSession() = 0;
    // The client computer's name in a remote session; empty with `error` set when it cannot be told.
    // It is the announced name when there is one, else the name found from the client's address.
    virtual QString remoteClientName(QString* error) = 0;
    // The client's name as the session announces it (CLIENTNAME, set by RDP and Citrix sessions):
    // empty when none is announced, empty with `error` set when the announcement is unusable.
    virtual QString announcedClientName(QString* error) = 0;
    // The client's name found from its network address (an SSH session): empty with `error` set
    // when the session names no client address.
    virtual QString addressClientName(QString* error) = 0;

    static std::unique_ptr<Workstation> makeDefault();
};

inline Workstation& workstation() {
    return Port<Workstation>::instance();
}

} // namespace platform

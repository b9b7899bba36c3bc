#pragma once

#include "platform/Port.h"

#include <QString>

#include <functional>
#include <memory>

namespace platform {

// While it lives, requests to end the program are caught; destroying it lets them end the
// process at once again.
class TerminationWatch {
public:
    virtual ~TerminationWatch() = default;
};

// Requests from outside that the program end: the session's logout or shutdown, `kill`, the
// Ctrl+C of a terminal. Unless they are watched, such a request ends the process at once,
// without any of its own clean-up.
class TerminationRequests {
public:
    virtual ~TerminationRequests() = default;

    // From now on, each request calls `handler` with its name ("SIGTERM", "SIGINT", "SIGHUP")
    // from the event loop of the calling thread, and no longer ends the process. Nothing
    // (nullptr) when another watch is active or the requests cannot be caught.
    virtual std::unique_ptr<TerminationWatch> watch(std::function<void(const QString& request)> handler) = 0;

    static std::unique_ptr<TerminationRequests> makeDefault();
};

inline TerminationRequests& terminationRequests() {
    return Port<TerminationRequests>::instance();
}

} // namespace platform

#pragma once

#include "platform/TerminationRequests.h"

namespace platform {

// The requests are the signals SIGTERM (a shutdown, a logout, `kill`), SIGINT (Ctrl+C) and
// SIGHUP (the terminal or the session went away). A signal handler may do next to nothing, so
// it only writes the signal's number into a pipe (the "self-pipe"); a socket notifier on the
// pipe's other end calls the handler from the event loop, where anything may be done. The
// signals are caught for the whole process, so only one watch can be active at a time. A
// signal that was ignored when the watch began (`nohup` ignores SIGHUP, a shell's background
// job SIGINT) stays ignored, as whoever started the program asked.
class SignalTerminationRequests : public TerminationRequests {
public:
    std::unique_ptr<TerminationWatch> watch(std::function<void(const QString& request)> handler) override;
};

} // namespace platform

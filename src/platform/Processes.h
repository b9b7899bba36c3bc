#pragma once

#include <QtGlobal>

namespace platform {

// Whether a process of this computer with the id `pid` is running (also one of another
// user) and has not ended. False for 0 and negative ids.
bool processRunning(qint64 pid);

} // namespace platform

#pragma once

#include "platform/Port.h"
#include "platform/WindowBus.h"

namespace platform {

// The progress states of a taskbar entry that the program uses.
enum class TaskbarState {
    NoProgress, // no progress indication
    Normal,     // a progress indication in the normal (working) colour
};

// The progress indication on the program's taskbar entry (or dock icon). Every call may come
// from any thread, also while the GUI thread is busy.
class TaskbarProgress {
public:
    virtual ~TaskbarProgress() = default;

    // True when the desktop's taskbar can be told at all.
    virtual bool available() = 0;
    // `window` is the window whose entry shows the progress; a desktop that shows progress per
    // program rather than per window shows it on the program's entry.
    virtual void setProgressState(WindowHandle window, TaskbarState state) = 0;
    // Shows `completed` out of `total` (total above 0) in the normal state.
    virtual void setProgressValue(WindowHandle window, quint64 completed, quint64 total) = 0;

    static std::unique_ptr<TaskbarProgress> makeDefault();
};

inline TaskbarProgress& taskbarProgress() {
    return Port<TaskbarProgress>::instance();
}

} // namespace platform

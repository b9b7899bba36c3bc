#pragma once

// Whole-file locks that the kernel releases when their holder ends, however it ends.
// Open-file-description locks (F_OFD_SETLK) are used rather than flock or POSIX record locks:
// they conflict between two opens in the same process too (two controls in one program), and
// another process can ask who holds one without taking it.

#include "platform/UniqueFd.h"

#include <QString>
#include <optional>

// Moving a lock hands it over; destroying it releases it.
class SimFileLock {
public:
    SimFileLock() = default;

    // Takes the lock without waiting and writes this process's id into the file.
    // Empty when another holder has it or the file cannot be opened.
    static std::optional<SimFileLock> tryAcquire(const QString& path);
    // Waits for the lock; used for short read-modify-write sections. Empty only when the file
    // cannot be opened.
    static std::optional<SimFileLock> acquire(const QString& path);
    // Whether any open file description holds the lock now (this process's own included).
    static bool isHeld(const QString& path);
    // The process id the last holder wrote, 0 when none.
    static qint64 recordedHolder(const QString& path);

    void release();

private:
    explicit SimFileLock(platform::UniqueFd fd);
    // Closing the last descriptor of the open file description drops its lock.
    platform::UniqueFd m_fd;
};

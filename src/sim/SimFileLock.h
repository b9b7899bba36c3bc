#pragma once

// Whole-file locks that the kernel releases when their holder ends, however it ends.
// Open-file-description locks (F_OFD_SETLK) are used rather than flock or POSIX record locks:
// they conflict between two opens in the same process too (two controls in one program), and
// another process can ask who holds one without taking it.

#include <QString>
#include <optional>

class SimFileLock {
public:
    SimFileLock() = default;
    ~SimFileLock();
    SimFileLock(SimFileLock&& other) noexcept;
    SimFileLock& operator=(SimFileLock&& other) noexcept;
    SimFileLock(const SimFileLock&) = delete;
    SimFileLock& operator=(const SimFileLock&) = delete;

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
    explicit SimFileLock(int fd);
    int m_fd = -1;
};

#pragma once

// A file descriptor that is closed when it goes out of scope.

#include <cerrno>
#include <utility>

#include <unistd.h>

namespace platform {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd)
        : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }

    // Closes the descriptor now. errno is kept, so that the reason of a failed call made just
    // before survives the clean-up.
    void reset() {
        if (m_fd >= 0) {
            const int saved = errno;
            ::close(m_fd);
            errno = saved;
        }
        m_fd = -1;
    }

    // Closes the descriptor now and answers the error that a delayed write may only report at
    // this point (0 when it closed cleanly).
    int close() {
        const int fd = std::exchange(m_fd, -1);
        return fd < 0 || ::close(fd) == 0 ? 0 : errno;
    }

private:
    int m_fd = -1;
};

} // namespace platform

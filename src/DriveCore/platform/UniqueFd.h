#pragma once

#include <cerrno>
#include <utility>

#include <unistd.h>

namespace DriveCore {

// Owns one file descriptor and closes it when it goes away.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : m_fd(fd) {}
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }
    // Closes the one held and holds `fd`, errno kept as the call that gave `fd` left it.
    void reset(int fd = -1)
    {
        const int error = errno;
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
        errno = error;
    }

private:
    int m_fd;
};

} // namespace DriveCore

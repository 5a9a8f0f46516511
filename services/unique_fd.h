#pragma once

#include <unistd.h>

#include <cstddef>
#include <memory>

namespace velquist {

// A file descriptor owned the way std::unique_ptr owns a pointer: closed once, moved for free.
struct FdCloser {
    // The "pointer" unique_ptr stores: an int that is null when negative.
    struct pointer {
        int fd = -1;
        pointer() = default;
        pointer(std::nullptr_t) {}
        explicit pointer(int value) : fd(value) {}
        explicit operator bool() const { return fd >= 0; }
        friend bool operator==(pointer a, pointer b) { return a.fd == b.fd; }
        friend bool operator!=(pointer a, pointer b) { return a.fd != b.fd; }
    };
    void operator()(pointer p) const noexcept { ::close(p.fd); }
};
using UniqueFd = std::unique_ptr<int, FdCloser>;

inline UniqueFd AdoptFd(int fd) { return UniqueFd(FdCloser::pointer(fd)); }

}  // namespace velquist

// The host side of a board folder: descriptors opened beneath the folder and never through a
// symbolic link, so that a folder someone else prepared cannot send a read, write, delete or
// chmod anywhere else. Where the kernel has openat2, it refuses every step that would leave the
// folder or follow a link (RESOLVE_BENEATH, RESOLVE_NO_SYMLINKS); elsewhere each step is opened
// from its parent's descriptor with O_NOFOLLOW, which holds as well since every step is one name.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>

#include <string>
#include <vector>

namespace vboard {
namespace host {

// A descriptor that is closed with its owner.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd();
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();

private:
    int fd_ = -1;
};

// Opens one entry of a folder: `name` is a single name, never a path. Symbolic links are not
// followed: one there fails with ELOOP (or EEXIST for an exclusive create). O_CLOEXEC is added.
Fd openIn(int folder, const std::string& name, int flags, mode_t mode = 0);

// Whether openIn uses the kernel's openat2; false after the kernel refused it (ENOSYS, or EPERM
// from a seccomp filter), when every open falls back to O_NOFOLLOW.
bool kernelResolvesBeneath();

// The entry of a folder named `name` without regard to case, as CE compares names: the exact
// name when an entry has it, else the first in the folder's order whose name folds the same.
// False when there is none. `info` is the entry itself (lstat: a link is a link).
bool findEntry(int folder, const std::string& name, std::string& found, struct stat& info);

// The names of a folder's entries, without "." and "..".
std::vector<std::string> entries(int folder);

// A fresh name for a temporary file: `prefix` and 16 random hex digits.
std::string temporaryName(const std::string& prefix);

// Writes all of `size` bytes, or reads exactly that many, going on after a signal; false on an
// error or (reading) an early end.
bool writeAll(int fd, const uint8_t* data, size_t size);
bool readExactly(int fd, uint8_t* data, size_t size);

}  // namespace host
}  // namespace vboard

// Descriptors beneath a board folder (see host_folder.h).
#include "os/host_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#if __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#define VBOARD_HAVE_OPENAT2 1
#endif

#include "os/text.h"

namespace vboard {
namespace host {
namespace {

std::atomic<bool> openat2Works{true};

#if defined(VBOARD_HAVE_OPENAT2) && defined(SYS_openat2)
bool refusedByFilter(int folder) {
    open_how how{};
    how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH;
    const long fd = ::syscall(SYS_openat2, folder, ".", &how, sizeof how);
    if (fd >= 0) ::close(static_cast<int>(fd));
    return fd < 0 && errno == EPERM;
}
#endif

}  // namespace

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

Fd::~Fd() {
    if (fd_ >= 0) ::close(fd_);
}

int Fd::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

Fd openIn(int folder, const std::string& name, int flags, mode_t mode) {
    flags |= O_NOFOLLOW | O_CLOEXEC;
    if (!(flags & O_CREAT)) mode = 0;
#if defined(VBOARD_HAVE_OPENAT2) && defined(SYS_openat2)
    if (openat2Works.load(std::memory_order_relaxed)) {
        open_how how{};
        how.flags = static_cast<uint64_t>(flags);
        how.mode = mode;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        const long fd = ::syscall(SYS_openat2, folder, name.c_str(), &how, sizeof how);
        if (fd >= 0) return Fd(static_cast<int>(fd));
        // An older kernel has no openat2; a container's seccomp filter may refuse it with EPERM,
        // which a file's own flags can also give, so the folder itself is tried once more. The
        // walk below is as safe, one name at a time.
        const int error = errno;
        if (error != ENOSYS && (error != EPERM || !refusedByFilter(folder))) {
            errno = error;
            return Fd();
        }
        openat2Works.store(false, std::memory_order_relaxed);
    }
#endif
    return Fd(::openat(folder, name.c_str(), flags, mode));
}

bool kernelResolvesBeneath() {
#if defined(VBOARD_HAVE_OPENAT2) && defined(SYS_openat2)
    return openat2Works.load(std::memory_order_relaxed);
#else
    return false;
#endif
}

std::vector<std::string> entries(int folder) {
    std::vector<std::string> names;
    // The listing gets a descriptor of its own: closedir closes it.
    Fd listing = openIn(folder, ".", O_RDONLY | O_DIRECTORY);
    if (!listing.valid()) return names;
    DIR* dir = ::fdopendir(listing.get());
    if (dir == nullptr) return names;
    listing.release();
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) names.emplace_back(name);
    }
    ::closedir(dir);
    return names;
}

bool findEntry(int folder, const std::string& name, std::string& found, struct stat& info) {
    if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        found = name;
        return true;
    }
    if (errno != ENOENT) return false;
    const std::string wanted = fold(name);
    for (const std::string& entry : entries(folder))
        if (fold(entry) == wanted && ::fstatat(folder, entry.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
            found = entry;
            return true;
        }
    return false;
}

std::string temporaryName(const std::string& prefix) { return prefix + randomHex(8); }

bool writeAll(int fd, const uint8_t* data, size_t size) {
    for (size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool readExactly(int fd, uint8_t* data, size_t size) {
    for (size_t done = 0; done < size;) {
        const ssize_t n = ::read(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace host
}  // namespace vboard

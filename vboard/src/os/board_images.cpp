// The images of the parts that keep their contents (an EEPROM, a flash), at the top of the board
// folder beside its volumes: raw bytes, offset for offset, that xxd and hexdump read. Like every
// file of the board folder they are reached beneath it and never through a symbolic link.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "os/board_storage.h"
#include "os/host.h"
#include "os/host_folder.h"

namespace vboard {
namespace {

// As the storage names its temporary files, so that the next start sweeps a forgotten one.
const char* const kTemporaryPrefix = ".vboard-tmp-";

host::Fd openRoot(const std::string& folder) {
    // The folder's own path is the user's: it is followed as given.
    return host::Fd(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

// Writes the image whole beside its place and renames it there; "" or why not.
std::string store(const std::string& folder, const std::string& name, const Bytes& data) {
    if (data.size() > kMaxBoardImage) return "larger than the board keeps (16 MiB)";
    host::Fd root = openRoot(folder);
    if (!root.valid()) return std::string("cannot open the board folder: ") + std::strerror(errno);
    struct stat info;
    // A link or a device in the image's place is not written over (nor through).
    if (::fstatat(root.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(info.st_mode))
        return S_ISLNK(info.st_mode) ? "a symbolic link, which the board does not follow"
                                     : "not a regular file";
    std::string temporary;
    host::Fd out;
    for (int attempt = 0; attempt < 8 && !out.valid(); ++attempt) {
        temporary = host::temporaryName(kTemporaryPrefix);
        out = host::openIn(root.get(), temporary, O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (!out.valid() && errno != EEXIST) break;
    }
    if (!out.valid()) return std::string("cannot write it: ") + std::strerror(errno);
    const bool written = host::writeAll(out.get(), data.data(), data.size()) && ::close(out.release()) == 0;
    const int error = errno;
    if (!written || ::renameat(root.get(), temporary.c_str(), root.get(), name.c_str()) != 0) {
        const int renameError = written ? errno : error;
        ::unlinkat(root.get(), temporary.c_str(), 0);
        return std::string("cannot write it: ") + std::strerror(renameError);
    }
    return "";
}

}  // namespace

void reportBoardProblem(const std::string& problem) { installedStorage().addProblem(problem); }

BoardImage loadBoardImage(const std::string& name, size_t size, const std::string& part) {
    BoardImage image;
    image.folder = installedStorage().folder();
    if (image.folder.empty()) return image;
    image.path = image.folder + "/" + name;
    auto refuse = [&](const std::string& why) {
        image.state = BoardImage::kRefused;
        image.problem = image.path + ": " + why + "; it is left as it is, and " + part +
                        " is not kept in it";
        return image;
    };
    if (size > kMaxBoardImage) return refuse(part + " is larger than the board keeps (16 MiB)");
    host::Fd root = openRoot(image.folder);
    if (!root.valid()) {
        image.state = BoardImage::kAbsent;  // made again by the first write, as the storage does
        return image;
    }
    // Not blocking: a pipe in the image's place must not hold the board up.
    host::Fd file = host::openIn(root.get(), name, O_RDONLY | O_NONBLOCK);
    if (!file.valid()) {
        if (errno == ENOENT) {
            image.state = BoardImage::kAbsent;
            return image;
        }
        if (errno == ELOOP) return refuse("a symbolic link, which the board does not follow");
        return refuse(std::string("cannot read it: ") + std::strerror(errno));
    }
    struct stat info;
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return refuse("not a regular file");
    if (static_cast<uint64_t>(info.st_size) != size)
        return refuse("it holds " + std::to_string(info.st_size) + " bytes, but " + part + " holds " +
                      std::to_string(size) + " (remove the file, or give the part its size)");
    image.data.resize(size);
    if (!host::readExactly(file.get(), image.data.data(), size)) {
        image.data.clear();
        return refuse(std::string("cannot read it: ") + std::strerror(errno));
    }
    image.state = BoardImage::kLoaded;
    return image;
}

ImageKeeper keepBoardImage(const std::string& folder, const std::string& name) {
    auto reported = std::make_shared<bool>(false);
    return [folder, name, reported](const Bytes& data) {
        const std::string problem = store(folder, name, data);
        // The part calls its keeper one write cycle at a time, so the flag needs no lock.
        if (!problem.empty() && !*reported) {
            *reported = true;
            reportBoardProblem(folder + "/" + name + ": " + problem + "; the part's contents are not kept");
        } else if (problem.empty()) {
            *reported = false;
        }
    };
}

}  // namespace vboard

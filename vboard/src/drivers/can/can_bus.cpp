// The CAN bus between processes (see can_bus.h): its folder, its members' sockets and the frames
// between them.
#include "drivers/can/can_bus.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "os/text.h"

namespace vboard {
namespace {

constexpr size_t kMaxNameLength = 32;
const char* const kNodeSuffix = ".node";
// A frame on the wire between members: "TVC1", the identifier (little-endian), flags (1: 29-bit,
// 2: remote), the data length (or a remote frame's length), eight data bytes.
constexpr size_t kWireSize = 18;
constexpr uint8_t kExtendedFlag = 1;
constexpr uint8_t kRemoteFlag = 2;

std::string errorText(const std::string& what) { return what + ": " + std::strerror(errno); }

// Makes (when missing) and checks one folder of the bus's path: a folder, no link, the user's
// own and closed to everyone else.
bool ownFolder(const std::string& path, std::string& problem) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        problem = errorText("cannot make " + path);
        return false;
    }
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) {
        problem = errorText("cannot use " + path);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        problem = path + " is not a folder" + (S_ISLNK(info.st_mode) ? " (a symbolic link)" : "");
        return false;
    }
    if (info.st_uid != ::getuid() || (info.st_mode & 077) != 0) {
        problem = path + " is not the user's own folder with mode 0700; the bus is not joined";
        return false;
    }
    return true;
}

bool isNode(const std::string& name) {
    const size_t suffix = std::strlen(kNodeSuffix);
    return name.size() > suffix && name.compare(name.size() - suffix, suffix, kNodeSuffix) == 0;
}

std::vector<std::string> nodes(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = ::readdir(dir))
        if (isNode(entry->d_name)) names.emplace_back(entry->d_name);
    ::closedir(dir);
    return names;
}

bool address(const std::string& path, sockaddr_un& out) {
    out = sockaddr_un{};
    out.sun_family = AF_UNIX;
    if (path.size() >= sizeof out.sun_path) return false;
    std::memcpy(out.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// A datagram socket connected to a member; -1 when nobody is bound there (a dead member's socket,
// which is removed then) or it can't be reached.
int connectTo(const std::string& folder, const std::string& name) {
    const std::string path = folder + "/" + name;
    sockaddr_un to;
    if (!address(path, to)) return -1;
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) return fd;
    if (errno == ECONNREFUSED) ::unlink(path.c_str());
    ::close(fd);
    return -1;
}

void encode(const CanFrame& frame, uint8_t* wire) {
    std::memset(wire, 0, kWireSize);
    std::memcpy(wire, "TVC1", 4);
    for (int i = 0; i < 4; ++i) wire[4 + i] = static_cast<uint8_t>(frame.id >> (8 * i));
    wire[8] = static_cast<uint8_t>((frame.extended ? kExtendedFlag : 0) | (frame.remote ? kRemoteFlag : 0));
    wire[9] = static_cast<uint8_t>(frame.remote ? frame.remoteLength : frame.data.size());
    if (!frame.remote) std::memcpy(wire + 10, frame.data.data(), frame.data.size());
}

bool decode(const uint8_t* wire, size_t size, CanFrame& frame) {
    if (size != kWireSize || std::memcmp(wire, "TVC1", 4) != 0 || wire[9] > 8 ||
        (wire[8] & ~(kExtendedFlag | kRemoteFlag)) != 0)
        return false;
    frame = CanFrame{};
    for (int i = 0; i < 4; ++i) frame.id |= static_cast<uint32_t>(wire[4 + i]) << (8 * i);
    frame.extended = (wire[8] & kExtendedFlag) != 0;
    frame.remote = (wire[8] & kRemoteFlag) != 0;
    if (frame.id > (frame.extended ? 0x1FFFFFFFu : 0x7FFu)) return false;
    if (frame.remote)
        frame.remoteLength = wire[9];
    else
        frame.data.assign(wire + 10, wire + 10 + wire[9]);
    return true;
}

}  // namespace

std::string canBusNameProblem(const std::string& name) {
    const std::string rule = " (1 to 32 letters, digits, '-', '_' or '.', not starting with '.')";
    if (name.empty() || name.size() > kMaxNameLength || name[0] == '.')
        return "bad CAN bus name '" + name + "'" + rule;
    for (unsigned char c : name)
        if (!std::isalnum(c) && c != '-' && c != '_' && c != '.')
            return "bad CAN bus name '" + name + "'" + rule;
    if (name == "off") return "'off' names no bus: it leaves the one joined";
    return "";
}

std::string canBusRuntimeFolder(std::string& problem) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string folder;
    if (runtime != nullptr && runtime[0] == '/') {
        folder = std::string(runtime) + "/tarvik";
    } else {
        folder = "/tmp/tarvik-" + std::to_string(::getuid());
    }
    if (!ownFolder(folder, problem)) return "";
    return folder;
}

std::unique_ptr<CanBusLink> CanBusLink::join(const std::string& name, Deliver deliver,
                                             std::string& problem) {
    problem = canBusNameProblem(name);
    if (!problem.empty()) return nullptr;
    const std::string runtime = canBusRuntimeFolder(problem);
    if (runtime.empty() || !ownFolder(runtime + "/can", problem)) return nullptr;
    const std::string folder = runtime + "/can/" + name;
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        problem = errorText("cannot make a socket");
        return nullptr;
    }
    std::string self;
    // The last member may remove the folder between its making and the bind here: made again.
    for (int attempt = 0;; ++attempt) {
        if (!ownFolder(folder, problem)) break;
        self = std::to_string(::getpid()) + "-" + randomHex(4) + kNodeSuffix;
        sockaddr_un at;
        if (!address(folder + "/" + self, at)) {
            problem = folder + ": the path is too long for a socket";
            break;
        }
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) == 0) {
            problem.clear();
            break;
        }
        problem = errorText("cannot join the CAN bus at " + folder);
        if ((errno != ENOENT && errno != EADDRINUSE) || attempt == 8) break;
    }
    const int stop = problem.empty() ? ::eventfd(0, EFD_CLOEXEC) : -1;
    if (!problem.empty() || stop < 0) {
        if (problem.empty()) {
            problem = errorText("cannot make an eventfd");
            ::unlink((folder + "/" + self).c_str());
        }
        ::close(fd);
        return nullptr;
    }
    // Dead members' sockets are removed as soon as one is met; a joiner meets them all.
    for (const std::string& node : nodes(folder))
        if (node != self) {
            const int peer = connectTo(folder, node);
            if (peer >= 0) ::close(peer);
        }
    return std::unique_ptr<CanBusLink>(new CanBusLink(name, folder, self, fd, stop, std::move(deliver)));
}

CanBusLink::CanBusLink(std::string name, std::string folder, std::string self, int socket,
                       int stop, Deliver deliver)
    : name_(std::move(name)),
      folder_(std::move(folder)),
      self_(std::move(self)),
      socket_(socket),
      stop_(stop),
      owner_(static_cast<long>(::getpid())),
      deliver_(std::move(deliver)) {
    reader_.reset(new std::thread([this] { receive(); }));
}

CanBusLink::~CanBusLink() {
    if (static_cast<long>(::getpid()) != owner_) {
        // A child that inherited the link: the thread is the parent's, and so are the eventfd it
        // waits on and the socket's name. Only the child's descriptors go.
        (void)reader_.release();
        for (auto& peer : peers_) ::close(peer.second.fd);
        ::close(socket_);
        ::close(stop_);
        return;
    }
    const uint64_t one = 1;
    if (::write(stop_, &one, sizeof one) < 0) {
        // An eventfd takes a write unless its counter is full, which one write never makes it.
    }
    reader_->join();
    for (auto& peer : peers_) ::close(peer.second.fd);
    ::close(socket_);
    ::close(stop_);
    ::unlink((folder_ + "/" + self_).c_str());
    // Dead members' sockets would keep the folder; then the last one out removes it.
    for (const std::string& node : nodes(folder_)) {
        const int peer = connectTo(folder_, node);
        if (peer >= 0) ::close(peer);
    }
    ::rmdir(folder_.c_str());
}

void CanBusLink::send(const CanFrame& frame) {
    uint8_t wire[kWireSize];
    encode(frame, wire);
    std::lock_guard<std::mutex> hold(sending_);
    // The members as they are now: a member that joined a moment ago hears this frame.
    std::map<std::string, Peer> current;
    for (const std::string& node : nodes(folder_)) {
        if (node == self_) continue;
        auto known = peers_.find(node);
        if (known != peers_.end()) {
            current.emplace(node, known->second);
            peers_.erase(known);
        } else {
            const int fd = connectTo(folder_, node);
            if (fd >= 0) current.emplace(node, Peer{fd, false});
        }
    }
    for (auto& gone : peers_) ::close(gone.second.fd);
    peers_ = std::move(current);

    for (auto it = peers_.begin(); it != peers_.end();) {
        Peer& peer = it->second;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kCanBusWaitMs);
        bool sent = false;
        bool dead = false;
        for (;;) {
            const ssize_t n = ::send(peer.fd, wire, sizeof wire, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n == static_cast<ssize_t>(sizeof wire)) {
                sent = true;
                break;
            }
            if (errno == EINTR) continue;
            if (errno == ECONNREFUSED || errno == ENOTCONN) {
                dead = true;  // the member went away since it was met
                break;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) break;
            // Its queue is full: it is waited for, unless it was found stuck before.
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (peer.stalled || left.count() <= 0) break;
            pollfd ready = {peer.fd, POLLOUT, 0};
            ::poll(&ready, 1, static_cast<int>(left.count()));
        }
        if (dead) {
            ::close(peer.fd);
            ::unlink((folder_ + "/" + it->first).c_str());
            it = peers_.erase(it);
            continue;
        }
        peer.stalled = !sent;
        if (!sent) ++undelivered_;
        ++it;
    }
}

void CanBusLink::receive() {
    pollfd watch[2] = {{socket_, POLLIN, 0}, {stop_, POLLIN, 0}};
    for (;;) {
        if (::poll(watch, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (watch[1].revents != 0) return;
        uint8_t wire[kWireSize + 1];
        for (;;) {
            const ssize_t n = ::recv(socket_, wire, sizeof wire, MSG_DONTWAIT);
            if (n < 0) break;
            CanFrame frame;
            // Only the user's own processes reach the folder; a datagram of another shape is
            // ignored all the same.
            if (decode(wire, static_cast<size_t>(n), frame)) deliver_(frame);
        }
    }
}

}  // namespace vboard

// The live board's listener: a Unix-domain stream socket that only the user who runs the program
// can reach, served by one thread of its own that moves bytes between the clients and their
// protocol sessions (live_protocol.h). Nothing of it exists until the board is asked to listen.
//
// Who gets in: the socket file is 0600 (an `auto` socket is in a folder of the user's, 0700), and
// every connection's peer credentials must name the same user: a file system that ignores modes
// or a folder opened by mistake lets nobody else in either.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "control/live_protocol.h"
#include "vboard/vboard.h"

namespace vboard {
namespace {

// How much a client's output holds before the listener stops taking its events (they wait in its
// queue, which loses its oldest) and, at four times that, stops reading its commands.
constexpr size_t kEventOutputLimit = size_t{256} << 10;
constexpr size_t kCommandOutputLimit = size_t{1} << 20;
// How long the program's end waits, at most, for its last events to reach the clients.
constexpr int kExitFlushMilliseconds = 1000;
// How long events gather after the first wakes the serving thread: well within what a queue holds
// (kLiveQueueEvents) of an application publishing as fast as it can.
constexpr std::chrono::microseconds kEventGather(250);

std::string errnoText(int error) { return std::strerror(error); }

// Where `auto` puts the sockets: the user's runtime folder, or a folder of the user's in /tmp.
// Created 0700; one that exists must be the user's own, a real folder, and closed to others.
bool autoFolder(std::string& folder, std::string& problem) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime == '/')
        folder = std::string(runtime) + "/tarvik";
    else
        folder = "/tmp/tarvik-" + std::to_string(::geteuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        problem = "cannot create the folder " + folder + ": " + errnoText(errno);
        return false;
    }
    struct stat info;
    if (::lstat(folder.c_str(), &info) != 0) {
        problem = "cannot look at the folder " + folder + ": " + errnoText(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 077) != 0) {
        problem = "the folder " + folder +
                  " is not one only you can enter (it must be your own folder, mode 0700)";
        return false;
    }
    return true;
}

bool socketAddress(const std::string& path, sockaddr_un& address, std::string& problem) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        problem = "a socket path of 1 to " + std::to_string(sizeof address.sun_path - 1) +
                  " bytes is needed; '" + path + "' has " + std::to_string(path.size());
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size());
    return true;
}

// A socket file already at `path`: a board still listening there refuses the path; the socket
// of a process that has ended is removed.
bool clearStaleSocket(const std::string& path, const sockaddr_un& address, std::string& problem) {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) return true;
    if (!S_ISSOCK(info.st_mode)) {
        problem = path + " exists and is no socket";
        return false;
    }
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        problem = "no socket: " + errnoText(errno);
        return false;
    }
    const bool live = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    const int error = errno;
    ::close(probe);
    if (live) {
        problem = "a board listens on " + path + " already";
        return false;
    }
    if (error != ECONNREFUSED && error != ENOENT) {
        problem = "cannot tell whether " + path + " is in use: " + errnoText(error);
        return false;
    }
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        problem = "cannot remove the stale socket " + path + ": " + errnoText(errno);
        return false;
    }
    return true;
}

// "/run/user/1000/tarvik/42.sock" -> "/run/user/1000/tarvik/42.info".
std::string infoPathOf(const std::string& socketPath) {
    const std::string suffix = ".sock";
    if (socketPath.size() > suffix.size() &&
        socketPath.compare(socketPath.size() - suffix.size(), suffix.size(), suffix) == 0)
        return socketPath.substr(0, socketPath.size() - suffix.size()) + ".info";
    return socketPath + ".info";
}

// Writes the .info beside the socket, for `tarvik boards`: through a temporary file renamed into
// place, so that a reader never sees half of it.
void writeInfo(const std::string& path, const std::string& socketPath) {
    const std::string text = "pid=" + std::to_string(::getpid()) + "\nprogram=" + liveProgramName() +
                             "\nsocket=" + socketPath + "\nprotocol=1\n";
    const std::string temporary = path + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return;
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) ::unlink(temporary.c_str());
}

struct Client {
    int fd = -1;
    LiveLineReader reader;
    std::unique_ptr<LiveSession> session;
    std::string out;
    bool closing = false;     // said quit: closed once its answer is out
    bool inputEnded = false;  // sends no more; kept while it watches, for its events
    bool done() const {
        return out.empty() && (closing || (inputEnded && !session->watching()));
    }
};

class Listener {
public:
    std::string start(const std::string& where);
    std::string path() {
        std::lock_guard<std::mutex> hold(lock_);
        return path_;
    }
    void stop();
    void flushAtExit();

private:
    void serve();
    void accept();
    bool readFrom(Client& client);
    bool writeTo(Client& client);
    void wake() {
        const uint64_t one = 1;
        (void)!::write(wake_, &one, sizeof one);
    }

    std::mutex lock_;
    std::string path_;
    std::string infoPath_;
    bool automatic_ = false;
    int listen_ = -1;
    int wake_ = -1;
    std::atomic<bool> stopping_{false};
    // Whether the serving thread sleeps in poll() with every queue it serves empty: only then
    // does an event wake it, so that a client that keeps up costs the application one write to
    // the eventfd a batch rather than one an event.
    std::atomic<bool> asleep_{false};
    std::thread thread_;
    std::vector<std::unique_ptr<Client>> clients_;  // the serving thread's alone
    bool exitHandler_ = false;
    pid_t owner_ = 0;  // the process that listens
};

Listener& listener() {
    static Listener* kept = new Listener();  // like the board, never destroyed
    return *kept;
}

std::string Listener::start(const std::string& where) {
    std::lock_guard<std::mutex> hold(lock_);
    if (where.empty()) return "expected: listen <path>|auto";
    std::string folder;
    std::string problem;
    std::string socketPath = where;
    const bool automatic = where == "auto";
    if (automatic) {
        if (!autoFolder(folder, problem)) return problem;
        socketPath = folder + "/" + std::to_string(::getpid()) + ".sock";
    }
    if (listen_ >= 0) {
        // The same place again (a configuration applied again at reset) is where it listens.
        if (automatic ? automatic_ : socketPath == path_) return "";
        return "the board listens on " + path_ + " already";
    }
    sockaddr_un address;
    if (!socketAddress(socketPath, address, problem) || !clearStaleSocket(socketPath, address, problem))
        return problem;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return "no socket: " + errnoText(errno);
    // Closed to others from its creation: the mode is set on the file before anybody can
    // connect, as listen() comes after it.
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        problem = "cannot listen on " + socketPath + ": " + errnoText(errno);
        ::close(fd);
        return problem;
    }
    if (::chmod(socketPath.c_str(), 0600) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        problem = "cannot listen on " + socketPath + ": " + errnoText(errno);
        ::close(fd);
        ::unlink(socketPath.c_str());
        return problem;
    }
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0) {
        problem = "no event descriptor: " + errnoText(errno);
        ::close(fd);
        ::unlink(socketPath.c_str());
        return problem;
    }
    listen_ = fd;
    path_ = socketPath;
    automatic_ = automatic;
    infoPath_ = infoPathOf(socketPath);
    writeInfo(infoPath_, socketPath);
    stopping_ = false;
    owner_ = ::getpid();
    thread_ = std::thread([this] { serve(); });
    // The files go when the program ends, and the thread with them.
    if (!exitHandler_) {
        exitHandler_ = true;
        std::atexit([] { listener().stop(); });
    }
    return "";
}

void Listener::stop() {
    std::thread serving;
    {
        std::lock_guard<std::mutex> hold(lock_);
        // A child the program forked ends without the thread, which it does not have, and leaves
        // the socket to its parent.
        if (listen_ < 0 || owner_ != ::getpid()) return;
        stopping_ = true;
        wake();
        serving = std::move(thread_);
    }
    // Joined without the lock: the thread may be applying a client's `listen`, which takes it.
    bool joined = false;
    if (serving.joinable()) {
        // A directive applied by a client that ends the program runs on the serving thread.
        joined = serving.get_id() != std::this_thread::get_id();
        if (joined)
            serving.join();
        else
            serving.detach();
    }
    std::lock_guard<std::mutex> hold(lock_);
    // The sessions that could wake the thread went with it.
    if (joined) {
        ::close(wake_);
        wake_ = -1;
    }
    ::unlink(path_.c_str());
    ::unlink(infoPath_.c_str());
    ::close(listen_);
    listen_ = -1;
    path_.clear();
    infoPath_.clear();
}

void Listener::accept() {
    for (;;) {
        const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return;
        ucred peer{};
        socklen_t size = sizeof peer;
        const bool same = ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
                          peer.uid == ::geteuid();
        const char* refusal = !same ? "error: this board takes connections of its own user only\n"
                              : clients_.size() >= kLiveClientLimit ? "error: too many clients\n"
                                                                    : nullptr;
        if (refusal != nullptr) {
            (void)!::send(fd, refusal, std::strlen(refusal), MSG_NOSIGNAL | MSG_DONTWAIT);
            ::close(fd);
            continue;
        }
        auto client = std::make_unique<Client>();
        client->fd = fd;
        const int wakeFd = wake_;
        client->session = std::make_unique<LiveSession>(
            [](const std::string& line) { return applyConfigLine(line); },
            [this, wakeFd] {
                if (!asleep_.exchange(false)) return;
                const uint64_t one = 1;
                (void)!::write(wakeFd, &one, sizeof one);
            });
        clients_.push_back(std::move(client));
    }
}

// False when the client is gone.
bool Listener::readFrom(Client& client) {
    char buffer[16384];
    const ssize_t got = ::recv(client.fd, buffer, sizeof buffer, 0);
    if (got == 0) {
        // `echo show gpio | socat - UNIX-CONNECT:...` ends its sending at once: its answers
        // still go out, and a watch still streams until it closes.
        client.inputEnded = true;
        return true;
    }
    if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    for (const LiveLineReader::Line& line : client.reader.feed(buffer, static_cast<size_t>(got))) {
        if (client.closing) break;
        const std::string answer = client.session->answer(line);
        if (!answer.empty()) client.out += answer + "\n";
        if (client.session->ended()) client.closing = true;
    }
    return true;
}

bool Listener::writeTo(Client& client) {
    while (!client.out.empty()) {
        const ssize_t put = ::send(client.fd, client.out.data(), client.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (put < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        client.out.erase(0, static_cast<size_t>(put));
    }
    return true;
}

void Listener::serve() {
    std::vector<pollfd> fds;
    while (!stopping_) {
        // Events waiting go out while a client reads them; a client that does not read keeps
        // them in its queue, which loses the oldest.
        for (auto& client : clients_)
            while (client->out.size() < kEventOutputLimit) {
                const std::string events = client->session->takeEvents();
                if (events.empty()) break;
                client->out += events;
            }
        fds.clear();
        fds.push_back({listen_, POLLIN, 0});
        fds.push_back({wake_, POLLIN, 0});
        for (auto& client : clients_) {
            short want = 0;
            if (!client->closing && !client->inputEnded && client->out.size() < kCommandOutputLimit)
                want |= POLLIN;
            if (!client->out.empty()) want |= POLLOUT;
            fds.push_back({client->fd, want, 0});
        }
        // An event published before the flag went up woke nobody: look again before sleeping.
        asleep_.store(true);
        bool waiting = false;
        for (auto& client : clients_)
            waiting = waiting || (client->out.size() < kEventOutputLimit && client->session->hasEvents());
        if (waiting) {
            asleep_.store(false);
            continue;
        }
        const int polled = ::poll(fds.data(), fds.size(), -1);
        asleep_.store(false);
        if (polled < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[1].revents & POLLIN) {
            uint64_t count;
            (void)!::read(wake_, &count, sizeof count);
            // Woken by an event: more gather for a moment before they are taken, so that an
            // application publishing fast wakes this thread a few thousand times a second,
            // not once an event.
            if (!stopping_) std::this_thread::sleep_for(kEventGather);
        }
        const size_t known = clients_.size();
        std::vector<bool> gone(known, false);
        for (size_t i = 0; i < known; ++i) {
            Client& client = *clients_[i];
            const short revents = fds[i + 2].revents;
            if ((revents & POLLIN) && !readFrom(client)) gone[i] = true;
            if (!gone[i] && (revents & (POLLOUT | POLLIN)) && !writeTo(client)) gone[i] = true;
            if ((revents & (POLLERR | POLLHUP | POLLNVAL)) && !(revents & POLLIN)) gone[i] = true;
            if (client.done()) gone[i] = true;
        }
        for (size_t i = known; i-- > 0;)
            if (gone[i]) {
                ::close(clients_[i]->fd);
                clients_.erase(clients_.begin() + static_cast<ptrdiff_t>(i));
            }
        if (fds[0].revents & POLLIN) accept();
    }
    flushAtExit();
    for (auto& client : clients_) ::close(client->fd);
    clients_.clear();
}

// As the program ends, what its last moments published (the BYE it wrote, its last frame) still
// reaches the clients that watch: their waiting events and answers go out, for at most
// kExitFlushMilliseconds in all, so that a client that does not read cannot hold the exit up.
void Listener::flushAtExit() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kExitFlushMilliseconds);
    for (auto& client : clients_)
        for (std::string events; !(events = client->session->takeEvents()).empty();) client->out += events;
    for (;;) {
        std::vector<pollfd> fds;
        for (auto& client : clients_)
            if (!client->out.empty()) fds.push_back({client->fd, POLLOUT, 0});
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (fds.empty() || left.count() <= 0 || ::poll(fds.data(), fds.size(), static_cast<int>(left.count())) <= 0)
            return;
        for (auto& client : clients_)
            if (!client->out.empty() && !writeTo(*client)) client->out.clear();
    }
}

}  // namespace

std::string listen(const std::string& where) { return listener().start(where); }

std::string listeningPath() { return listener().path(); }

}  // namespace vboard

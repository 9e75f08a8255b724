// The client side of the live board's protocol (see attach_client.h).
#include "attach_client.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace tarvik_tool {

std::string liveBoardFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime == '/') return std::string(runtime) + "/tarvik";
    return "/tmp/tarvik-" + std::to_string(::geteuid());
}

namespace {

bool allDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Whether a process still runs (a PID of another user's process answers EPERM: it runs).
bool running(pid_t pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

}  // namespace

std::vector<LiveBoard> liveBoards() {
    std::vector<LiveBoard> boards;
    const std::string folder = liveBoardFolder();
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return boards;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        const std::string suffix = ".info";
        if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        std::ifstream in(folder + "/" + name);
        LiveBoard board;
        for (std::string line; std::getline(in, line);) {
            const size_t eq = line.find('=');
            if (eq == std::string::npos) continue;
            const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
            if (key == "pid" && allDigits(value) && value.size() < 10) board.pid = static_cast<pid_t>(std::stol(value));
            if (key == "program") board.program = value;
            if (key == "socket") board.socket = value;
        }
        // The files of a process that ended without removing them are no board.
        if (!running(board.pid) || board.socket.empty() || ::access(board.socket.c_str(), F_OK) != 0) continue;
        boards.push_back(board);
    }
    ::closedir(dir);
    std::sort(boards.begin(), boards.end(), [](const LiveBoard& a, const LiveBoard& b) { return a.pid < b.pid; });
    return boards;
}

AttachClient::~AttachClient() { close(); }

void AttachClient::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    buffered_.clear();
    events_.clear();
}

bool AttachClient::connect(const std::string& target, std::string& problem) {
    close();
    std::string path = target;
    if (allDigits(target)) {
        path = liveBoardFolder() + "/" + target + ".sock";
        if (::access(path.c_str(), F_OK) != 0) {
            problem = "no board of process " + target + " listens (" + path +
                      " is not there; start the program with VBOARD_LISTEN=auto)";
            return false;
        }
    }
    fd_ = connectToBoard(path, problem);
    return fd_ >= 0;
}

int connectToBoard(const std::string& path, std::string& problem) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        problem = "'" + path + "' is no socket path";
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        problem = "cannot connect to the board at " + path + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return -1;
    }
    return fd;
}

bool sendBoardLine(int fd, const std::string& line) {
    const std::string text = line + "\n";
    for (size_t at = 0; at < text.size();) {
        const ssize_t put = ::send(fd, text.data() + at, text.size() - at, MSG_NOSIGNAL);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        at += static_cast<size_t>(put);
    }
    return true;
}

bool takeBoardLine(std::string& buffer, std::string& line) {
    const size_t newline = buffer.find('\n');
    if (newline == std::string::npos) return false;
    line = buffer.substr(0, newline);
    buffer.erase(0, newline + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

bool AttachClient::send(const std::string& line) { return sendBoardLine(fd_, line); }

std::optional<std::string> AttachClient::readLine(int milliseconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds < 0 ? 0 : milliseconds);
    if (!events_.empty()) {
        std::string event = std::move(events_.front());
        events_.erase(events_.begin());
        return event;
    }
    for (;;) {
        if (std::string line; takeBoardLine(buffered_, line)) return line;
        if (fd_ < 0) return std::nullopt;
        // Once the time is up, what is already there is still read (0 looks without waiting).
        int wait = -1;
        if (milliseconds >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            wait = left > 0 ? static_cast<int>(left) : 0;
        }
        pollfd fd{fd_, POLLIN, 0};
        const int ready = ::poll(&fd, 1, wait);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return std::nullopt;
        char chunk[65536];
        const ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            // Gone: fd() tells a closed board from a wait that ran out.
            close();
            return std::nullopt;
        }
        buffered_.append(chunk, static_cast<size_t>(got));
    }
}

bool AttachClient::isEvent(const std::string& line) {
    return line.compare(0, 6, "event ") == 0 || line.compare(0, 9, "{\"event\":") == 0;
}

std::optional<std::string> AttachClient::command(const std::string& line, int milliseconds) {
    if (!send(line)) return std::nullopt;
    std::vector<std::string> events = std::move(events_);
    events_.clear();
    std::optional<std::string> answer;
    while ((answer = readLine(milliseconds)) && isEvent(*answer)) events.push_back(std::move(*answer));
    events_ = std::move(events);
    return answer;
}

}  // namespace tarvik_tool

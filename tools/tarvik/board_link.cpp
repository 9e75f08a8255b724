// The client side of a listening board's socket (see board_link.h).
#include "board_link.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tarvik_tool {

BoardLink::~BoardLink() { close(); }

std::string BoardLink::socketPath(const std::string& target) {
    const bool pid = !target.empty() && target.find_first_not_of("0123456789") == std::string::npos;
    if (!pid) return target;
    // The same folder the board's "auto" chooses: the runtime folder when the session has one,
    // else a folder of the user's own in /tmp.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string folder = runtime != nullptr && runtime[0] != '\0'
                                   ? std::string(runtime) + "/tarvik"
                                   : "/tmp/tarvik-" + std::to_string(getuid());
    return folder + "/" + target + ".sock";
}

bool BoardLink::connect(const std::string& path, std::string& error) {
    close();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        error = "'" + path + "' is no socket path (at most " + std::to_string(sizeof address.sun_path - 1) +
                " bytes)";
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = "no board listens at " + path + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    fd_ = fd;
    buffer_.clear();
    events_.clear();
    return true;
}

void BoardLink::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

BoardLink::Read BoardLink::readLine(std::string& line, int milliseconds) {
    line.clear();
    for (;;) {
        const size_t end = buffer_.find('\n');
        if (end != std::string::npos) {
            line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return Read::Line;
        }
        if (fd_ < 0) return Read::Closed;
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, milliseconds);
        if (ready == 0 || (ready < 0 && errno == EINTR)) return Read::Interrupted;
        if (ready < 0) return Read::Error;
        char chunk[4096];
        const ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
        if (got < 0 && errno == EINTR) return Read::Interrupted;
        if (got < 0 && errno != ECONNRESET) return Read::Error;
        if (got <= 0) {
            close();
            return Read::Closed;
        }
        buffer_.append(chunk, static_cast<size_t>(got));
    }
}

bool BoardLink::send(const std::string& line) {
    if (fd_ < 0) return false;
    const std::string text = line + "\n";
    size_t done = 0;
    while (done < text.size()) {
        // MSG_NOSIGNAL: a board that went away is an answer (false), not a SIGPIPE.
        const ssize_t put = ::send(fd_, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<size_t>(put);
    }
    return true;
}

BoardLink::Read BoardLink::request(const std::string& command, std::string& answer) {
    if (!send(command)) return Read::Closed;
    for (;;) {
        const Read read = readLine(answer, -1);
        if (read == Read::Interrupted) continue;
        if (read != Read::Line) return read;
        if (!isEventLine(answer)) return Read::Line;
        events_.push_back(answer);
    }
}

BoardLink::Read BoardLink::nextEvent(std::string& line, int milliseconds) {
    if (!events_.empty()) {
        line = events_.front();
        events_.pop_front();
        return Read::Line;
    }
    return readLine(line, milliseconds);
}

bool isEventLine(const std::string& line) {
    if (line.rfind("event ", 0) == 0) return true;
    if (line.empty() || line[0] != '{') return false;
    const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
    return object.is_object() && object.contains("event");
}

}  // namespace tarvik_tool

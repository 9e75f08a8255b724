// The client side of the live board's protocol: finding the boards that listen, connecting to
// one by PID or socket path, and exchanging lines with it. Plain POSIX and the standard library,
// so that the tool's --attach commands, `tarvik boards` and tests share it.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace tarvik_tool {

// Where `listen auto` puts the sockets: $XDG_RUNTIME_DIR/tarvik, or /tmp/tarvik-<uid>.
std::string liveBoardFolder();

// A board that listens, as its .info file beside the socket describes it.
struct LiveBoard {
    pid_t pid = 0;
    std::string program;
    std::string socket;
};
// The boards of the folder whose processes still run, by PID; stale sockets are skipped.
std::vector<LiveBoard> liveBoards();

// Connects a stream socket to the board that listens at `path`: its descriptor, or -1 with the
// reason.
int connectToBoard(const std::string& path, std::string& problem);
// Sends `line` and its LF whole; false when the board is gone.
bool sendBoardLine(int fd, const std::string& line);
// Takes the first whole line out of `buffer`, without its LF (or CR LF); false when it has none.
bool takeBoardLine(std::string& buffer, std::string& line);

class AttachClient {
public:
    AttachClient() = default;
    ~AttachClient();
    AttachClient(const AttachClient&) = delete;
    AttachClient& operator=(const AttachClient&) = delete;

    // Connects to a board: a PID (its socket in liveBoardFolder()) or a socket path. False,
    // with the reason, when it can't.
    bool connect(const std::string& target, std::string& problem);
    // Sends one line (the LF is added). False when the board is gone.
    bool send(const std::string& line);
    // The next line from the board, without its LF; nullopt when the board closed the
    // connection (fd() is then -1), or after `milliseconds` (-1: no limit) without a whole line.
    std::optional<std::string> readLine(int milliseconds = -1);
    // Sends a command and reads its answer; the events that come before it are kept for
    // readLine, in order.
    std::optional<std::string> command(const std::string& line, int milliseconds = -1);
    // Whether a line is an event ("event ...", {"event":...}) rather than an answer.
    static bool isEvent(const std::string& line);
    int fd() const { return fd_; }
    void close();

private:
    int fd_ = -1;
    std::string buffered_;
    std::vector<std::string> events_;  // read while waiting for an answer
};

}  // namespace tarvik_tool

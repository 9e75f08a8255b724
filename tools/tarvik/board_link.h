// A connection to a running application's board: the Unix-domain socket that a board opened with
// VBOARD_LISTEN (or the listen directive) serves, and its line protocol. Used by tarvik --attach
// and tarvik test; the board side lives in the virtual board's control folder.
#pragma once

#include <nlohmann/json.hpp>

#include <deque>
#include <string>

namespace tarvik_tool {

class BoardLink {
public:
    BoardLink() = default;
    BoardLink(const BoardLink&) = delete;
    BoardLink& operator=(const BoardLink&) = delete;
    ~BoardLink();

    // Where the board of `target` listens: a number is a process id, whose board (started with
    // VBOARD_LISTEN=auto) listens in the user's runtime folder; anything else is a socket's path.
    static std::string socketPath(const std::string& target);

    // Connects; false with `error` set ("no board listens at ...: <reason>").
    bool connect(const std::string& path, std::string& error);
    void close();
    int fd() const { return fd_; }

    enum class Read { Line, Closed, Interrupted, Error };
    // The next line from the board, without its end. Waits at most `milliseconds` (-1: without
    // limit); Interrupted when a signal came or the time ran out (`line` then empty).
    Read readLine(std::string& line, int milliseconds = -1);
    bool send(const std::string& line);

    // Sends one command and reads its answer line. Event lines read while waiting are kept for
    // nextEvent, in order. Closed when the board went away first.
    Read request(const std::string& command, std::string& answer);
    // The next event: one kept by request, else the next line read.
    Read nextEvent(std::string& line, int milliseconds = -1);

private:
    int fd_ = -1;
    std::string buffer_;
    std::deque<std::string> events_;
};

// Whether a line from the board is an event of a watch (text "event ..." or JSON {"event":...}).
bool isEventLine(const std::string& line);

}  // namespace tarvik_tool

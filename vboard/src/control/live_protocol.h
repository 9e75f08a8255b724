// The live board's protocol: text lines from a client, one answer line for each, and the events
// of what it watches. The listener (live_listener.cpp) moves bytes; this part reads them into
// lines and answers them, without a socket, so that a fuzz target and tests drive it directly.
//
//   hello                         ok pid=<pid> program=<name> protocol=1
//   <any configuration directive> ok | error: <the reader's reason>
//   show gpio|i2c|eeprom <bus> <address>|spi|serial|can|handles|faults|clock
//   watch <kind>... / unwatch [<kind>]   gpio trace debug can serial [COMn] i2c spi
//   json on|off                   every answer and event as one JSON object a line
//   serial write COMn TEXT        the far end types TEXT (\r \n \t \\ \xHH), paced to the reads
//   serial write-raw COMn TEXT    the same bytes at once, as a burst on the line
//   quit                          ok, and the connection ends
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "os/live.h"

namespace vboard {

// What the protocol holds at most: a line of 64 KiB, 16 clients at once.
constexpr size_t kLiveLineLimit = size_t{64} << 10;
constexpr size_t kLiveClientLimit = 16;

// Cuts a byte stream into lines at LF (a CR before it is dropped). A line longer than the limit
// is reported once as too long and the rest of it, up to its LF, skipped.
class LiveLineReader {
public:
    struct Line {
        std::string text;
        bool tooLong = false;
    };
    // Reads `size` bytes and answers the lines they complete.
    std::vector<Line> feed(const char* bytes, size_t size);

private:
    std::string partial_;
    bool skipping_ = false;
};

// One client's side of the protocol.
class LiveSession {
public:
    // The directives: applyConfigLine for the board; a fuzz target gives its own.
    using Apply = std::function<std::vector<std::string>(const std::string& line)>;
    // `wake` is called when a watched event arrives while none was waiting.
    LiveSession(Apply apply, std::function<void()> wake);
    ~LiveSession();
    LiveSession(const LiveSession&) = delete;
    LiveSession& operator=(const LiveSession&) = delete;

    // The answer to one line, without its LF; "" for a blank line (no command, no answer).
    std::string answer(const LiveLineReader::Line& line);
    // Whether the client said quit.
    bool ended() const { return ended_; }
    // Whether it watches anything.
    bool watching() const;
    // The events waiting for this client, rendered, each ending in LF.
    std::string takeEvents();
    // Whether an event waits for this client.
    bool hasEvents() const;

private:
    std::string command(const std::string& line);
    std::string watch(const std::vector<std::string>& words, bool on);
    std::string serialWrite(const std::vector<std::string>& words, const std::string& line);

    Apply apply_;
    bool json_ = false;
    bool ended_ = false;
    std::shared_ptr<LiveWatcher> watcher_;
    std::vector<LiveEvent> taken_;  // the ring last taken, its room kept for the queue's next turn
};

// An event as a client reads it: "event gpio t=1.000250 index=1 pad=0.2 level=1", or one JSON
// object; without LF, after what `out` holds.
void appendLiveEvent(std::string& out, const LiveEvent& event, bool json);

// The text of `serial write`: C escapes \r \n \t \\ \" \0 and \xHH read into bytes; false, with
// the reason, for a bad escape.
bool unescapeLiveText(const std::string& text, std::vector<uint8_t>& bytes, std::string& problem);

// The program's name, for hello and the socket's .info file.
std::string liveProgramName();

}  // namespace vboard

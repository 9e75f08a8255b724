// tarvik panel: a running application's board in the browser. The panel is a client of the
// board's socket (two connections: one for commands and queries, one for the events it watches)
// and an HTTP server on 127.0.0.1 that serves the page and pushes the events to it.
//
//   panel.cpp        the command: finding or starting the board, the process's life
//   panel_board.cpp  the board's socket: commands answered one line each, the watch stream
//   panel_http.cpp   the HTTP server: token and origin checks, the page's files, the API
//   panel_vcd.cpp    the waveform of the events, as the VCD file the board's --vcd writes
#pragma once

#include <nlohmann/json.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace CLI {
class App;
}

namespace tarvik_tool {

class Tool;
void addPanelCommand(CLI::App& app, Tool& tool);

namespace panel {

// Ordered, so that the board's answers reach the page with their keys as the board wrote them.
using Json = nlohmann::ordered_json;

// ---- The board's socket ----

// One connection to the board, one line a command, JSON answers. Thread-safe: commands from
// several HTTP requests take turns.
class BoardConnection {
public:
    ~BoardConnection();
    // Connects and switches the connection to JSON. False with `error` set.
    bool open(const std::string& socketPath, std::string& error);
    // Sends one line and answers the board's answer object; {"ok":false,"error":...} when the
    // board did not answer (gone, or silent for 5 s). Events that come before the answer (on a
    // connection that watches) go to `events` when given.
    Json command(const std::string& line, std::vector<std::string>* events = nullptr);
    void close();

private:
    // One line within `milliseconds` (-1: as long as it takes); false at the end or the limit.
    bool readLine(std::string& line, int milliseconds);

    std::mutex lock_;
    int fd_ = -1;
    std::string buffer_;
    friend class BoardWatch;
};

// Where the events go: every subscriber (an open page) has a queue of its own, bounded as the
// board bounds its watchers'; a page that does not read loses the oldest events and is told how
// many. Publishing never waits for a page, so the board's own watcher queue never fills because
// of one. The latest events are kept so that a page opened later starts with what came before.
class EventHub {
public:
    static constexpr size_t kMaxEvents = 4096;
    static constexpr size_t kMaxBytes = 1 << 20;

    struct Subscriber {
        std::mutex lock;
        std::condition_variable ready;
        std::deque<std::string> queue;
        size_t bytes = 0;
        uint64_t dropped = 0;
        bool closed = false;
    };

    // Every event, as one line of JSON. `kind` is its "event" value.
    void publish(const std::string& line);
    std::shared_ptr<Subscriber> subscribe();
    void unsubscribe(const std::shared_ptr<Subscriber>& subscriber);
    size_t subscribers();
    // True when every page has taken every event published so far.
    bool drained();
    // Ends every subscriber's stream (the panel stops).
    void close();

private:
    static void push(Subscriber& s, const std::string& line);

    std::mutex lock_;
    std::vector<std::shared_ptr<Subscriber>> subscribers_;
    std::deque<std::string> history_;
    size_t historyBytes_ = 0;
    bool closed_ = false;
};

// The GPIO pins' levels over time, from the board's events, written out as the VCD file the
// board's own recorder writes (scopes gpio.bank<b>, signals gpio<b>_<p>, and gpio<b>_<p>_dir
// when the events carry directions; the board's clock in microseconds). Keeps the latest kMaxChanges changes; older ones are folded
// into the values the file starts with.
class VcdRecorder {
public:
    static constexpr size_t kMaxChanges = 1000000;

    // The pins as `show gpio` answered, at the board's time `t` (microseconds).
    void start(const Json& pins, uint64_t t);
    // A "gpio" event.
    void event(const Json& event);
    std::string file();

private:
    struct Pin {
        bool touched = false;
        unsigned order = 0;
        bool output = false, level = false;            // now
        bool startOutput = false, startLevel = false;  // when the file starts
    };
    struct Change {
        uint64_t t;
        int bank, pin;
        bool output, level;
    };
    void touch(Pin& p);

    std::mutex lock_;
    std::map<std::pair<int, int>, Pin> pins_;
    std::deque<Change> changes_;
    bool directions_ = false;  // the events carry the pins' directions
    uint64_t startTime_ = 0;
    unsigned touched_ = 0;
};

// The watch connection: a thread reading the board's events into the hub (and the waveform)
// until the board goes away or stop() is called.
class BoardWatch {
public:
    ~BoardWatch();
    // Connects, switches to JSON and watches every kind the page shows. False with `error`.
    bool start(const std::string& socketPath, EventHub& hub, VcdRecorder& vcd, std::string& error);
    void stop();
    // True once the board closed the connection (the application ended).
    bool ended() const { return ended_; }

private:
    void run();

    BoardConnection connection_;
    EventHub* hub_ = nullptr;
    VcdRecorder* vcd_ = nullptr;
    std::thread thread_;
    int stopPipe_[2] = {-1, -1};
    std::atomic<bool> ended_{false};
};

// ---- The HTTP server ----

struct ServerSettings {
    std::string token;    // every request carries it (?token= or the X-Tarvik-Token header)
    std::string assets;   // the folder of index.html, panel.js, panel.css
    int port = 0;         // 0: a free port
};

class Server {
public:
    Server(const ServerSettings& settings, BoardConnection& board, EventHub& hub, VcdRecorder& vcd);
    ~Server();
    // Binds 127.0.0.1 and serves from a thread; answers the port, or -1 (errno set).
    int start();
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The folder of the page's files: beside the installed tool (../share/tarvik/panel) or in the
// build tree (panel/ beside the executable). "" when neither holds index.html.
std::string findAssets();
// 32 random bytes in hex.
std::string randomToken();
// The command line a page may send to the board: one line of printable text whose first word is
// not one of the protocol's connection commands (json, watch, unwatch, quit). "" when it may, or
// why not.
std::string refuseCommand(const std::string& line);

}  // namespace panel
}  // namespace tarvik_tool

// A pseudo-terminal on the host that stands in for the cable of a serial port: what the port
// sends, a host program reads from the terminal's path, and what the program writes there
// arrives on the port. The terminal is raw (no echo, no line editing, no newline translation),
// so it carries bytes exactly; its speed and format follow the port's DCB for programs that look.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tarvik_platform.h"

namespace vboard {

class PtyLink {
public:
    // Called on the link's own thread with bytes a host program wrote.
    using Deliver = std::function<void(const PtyLink* link, const uint8_t* bytes, size_t size)>;

    // Opens a terminal and starts carrying bytes; null, with the reason in `problem`, when the
    // host has no terminal to give.
    static std::shared_ptr<PtyLink> open(Deliver deliver, std::string& problem);
    // Stops the link's thread and closes the terminal. Never call it from `deliver`.
    ~PtyLink();
    // At the end of the process, for every link open: what the port sent reaches the program at
    // the far end (the terminal's hang-up would discard what it has not read), then the link's
    // thread ends. Run by an exit handler; the links stay usable for nothing but destruction.
    static void finishAll();
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    const std::string& path() const { return path_; }
    // Queues bytes for the host program; beyond `limit` unread bytes, more are lost as on a wire
    // that nobody listens to.
    void send(const uint8_t* bytes, size_t size, size_t limit);
    // Drops what the host has not taken yet (a transmit purge).
    void purge();
    // Forgets every byte in flight either way, for a port that starts afresh.
    void restart();
    // Mirrors the port's baud rate, byte size, parity and stop bits onto the terminal.
    void applyLine(const DCB& dcb);

private:
    PtyLink() = default;
    void pump();
    void wake();
    // Waits while the far end reads what was sent, for as long as it makes progress.
    void drain();
    void stopThread();

    int master_ = -1;
    int slave_ = -1;  // kept open so that the terminal lives while host programs come and go
    int wake_[2] = {-1, -1};
    std::string path_;
    Deliver deliver_;
    std::mutex lock_;
    std::deque<uint8_t> pending_;
    uint64_t purges_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace vboard

// A CAN bus shared by the user's processes, by name: each board that joins it is a node, and
// what one node's controller sends reaches every other node's controller, which takes it through
// its own filters as a frame from the bus.
//
// No daemon: the bus is a folder, `<runtime>/can/<name>/`, where <runtime> is
// `$XDG_RUNTIME_DIR/tarvik` or, without that variable, `/tmp/tarvik-<uid>` (each folder made 0700
// and refused unless it is the user's own, no symbolic link, closed to others). Each member binds
// a Unix datagram socket there, `<pid>-<random>.node`. A frame is one datagram to each other
// member's socket; a receiving thread in each member hands it to its controller as it arrives,
// stamped on that board's clock then. The first member makes the folder; a member leaving
// (`can bus off`, another bus, or the process's normal end) removes its socket and then the folder
// when it is empty, so the last one out removes the bus. A member that was killed leaves its
// socket behind: a datagram to it is refused, and whoever meets such a socket first removes it.
//
// Datagram sockets rather than shared memory: the kernel keeps each member's queue and wakes its
// reader, a dead reader is told apart from a slow one by the refusal, the folder's permissions
// keep other users out, and nothing is left locked by a process that dies mid-frame.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "vboard/can.h"

namespace vboard {

// Why a bus name is refused, or "" for a good one: 1 to 32 letters, digits, '-', '_' or '.', not
// starting with '.', and not "off".
std::string canBusNameProblem(const std::string& name);

// The folder the user's buses live in (made when missing); "" with `problem` set when it can't
// be used.
std::string canBusRuntimeFolder(std::string& problem);

class CanBusLink {
public:
    using Deliver = std::function<void(const CanFrame&)>;
    // Joins the bus; nullptr, with `problem` set, when it can't. `deliver` is called from the
    // link's own thread with each frame another member sends, in the order they arrive.
    static std::unique_ptr<CanBusLink> join(const std::string& name, Deliver deliver,
                                            std::string& problem);
    // Leaves the bus: the thread stopped, the socket removed, the bus's folder too when this was
    // its last member. A child process that inherited the link leaves the parent's socket alone.
    ~CanBusLink();
    CanBusLink(const CanBusLink&) = delete;
    CanBusLink& operator=(const CanBusLink&) = delete;

    // Puts a frame on the bus: one datagram to every other member. A member whose queue is full
    // is waited for (at most kCanBusWaitMs, then not again until it takes a frame), as a node
    // that holds the bus up would be; frames it could not take are counted.
    void send(const CanFrame& frame);
    const std::string& name() const { return name_; }
    // Frames that a member could not take (it stayed full), since the link was made.
    uint64_t undelivered() const { return undelivered_.load(); }

private:
    CanBusLink(std::string name, std::string folder, std::string self, int socket, int stop,
               Deliver deliver);
    void receive();

    struct Peer {
        int fd = -1;
        bool stalled = false;
    };
    const std::string name_;
    const std::string folder_;  // the bus's folder
    const std::string self_;    // this member's socket's name in it
    const int socket_;
    const int stop_;            // an eventfd that ends the thread
    const long owner_;          // the process that joined
    Deliver deliver_;
    std::mutex sending_;        // one frame on the bus at a time from this member
    std::map<std::string, Peer> peers_;
    std::atomic<uint64_t> undelivered_{0};
    // On the heap: a child process that inherited the link leaves the parent's thread alone.
    std::unique_ptr<std::thread> reader_;
};

// How long a member with a full queue is waited for before its frames are counted lost.
constexpr int kCanBusWaitMs = 1000;

}  // namespace vboard

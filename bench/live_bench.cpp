// What a listening board costs an application and how fast it answers a client.
//
//   live_bench [TARVIK_TOOL]
//
// 1. A command's round trip: a client sends "gpio input 0.4 <level>" (the button's pad) and the
//    application's thread, waiting on its both-edge interrupt, wakes: the time from the send to
//    the wake, median and 99th percentile over 2,000 commands. With the tool's path, also the
//    whole `tarvik --attach PATH board drive 2 <level>` process, started to woken, over 100.
// 2. GPIOSetPin(1, i & 1) calls a second with a client watching the trace, as a ratio to the
//    rate with nobody watching (target: at least 0.5). Each call publishes its trace lines, which
//    a thread of this process reads from the socket as a client on another terminal would.
// 3. Memory with a stalled client: a client watches the trace and never reads; the process's
//    resident memory after 100,000 and after 1,000,000 more calls (target: within 10%), since
//    its queue keeps the newest 4,096 events and drops the rest.
// Prints one line a figure, "ok" or "MISS" where there is a target; exits 1 on a miss.
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "Tarvik.h"
#include "vboard/vboard.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

int connectTo(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("connect");
        std::exit(2);
    }
    return fd;
}

// Sends a line and reads until its answer's LF (the client watches nothing, so the one line that
// comes is the answer).
void ask(int fd, const std::string& line) {
    const std::string text = line + "\n";
    if (::send(fd, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size())) std::exit(2);
    char c = 0;
    while (::recv(fd, &c, 1, 0) == 1 && c != '\n') {
    }
}

long residentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())))];
}

bool report(const char* what, bool ok) {
    std::printf("%s  %s\n", ok ? "ok  " : "MISS", what);
    return ok;
}

// The application's side of the round trip: a thread armed on the button's both edges, stamping
// each wake.
struct Button {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int64_t> woke{0};
    std::atomic<bool> stop{false};
    std::thread thread;
    Button() {
        GPIOSetInterrupt(2, TARVIK_GPIO_BOTH_EDGES, event);
        thread = std::thread([this] {
            while (!stop) {
                if (WaitForSingleObject(event, 100) == WAIT_OBJECT_0)
                    woke = Clock::now().time_since_epoch().count();
            }
        });
    }
    ~Button() {
        stop = true;
        thread.join();
        GPIOClearInterrupt(2);
        CloseHandle(event);
    }
    // Waits for a wake stamped after `since`; its time in microseconds after `since`.
    double after(int64_t since) {
        int64_t at;
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while ((at = woke.load()) <= since) {
            if (Clock::now() > deadline) {
                std::fprintf(stderr, "live_bench: the interrupt did not fire within 10 s\n");
                std::exit(2);
            }
            std::this_thread::yield();
        }
        return static_cast<double>(at - since) / 1000.0;
    }
};

void roundTrip(const std::string& path, const char* tool) {
    Button button;
    const int fd = connectTo(path);
    std::vector<double> micros;
    for (int i = 0; i < 2000; ++i) {
        const int64_t sent = Clock::now().time_since_epoch().count();
        ask(fd, std::string("gpio input 0.4 ") + (i % 2 == 0 ? "1" : "0"));
        micros.push_back(button.after(sent));
    }
    ::close(fd);
    std::printf("      round trip, client's command to the interrupt's wake (2000): median %.0f us, p99 %.0f us\n",
                percentile(micros, 0.5), percentile(micros, 0.99));
    if (tool == nullptr) return;
    micros.clear();
    for (int i = 0; i < 100; ++i) {
        std::string level = i % 2 == 0 ? "1" : "0";
        std::string socket = path;
        std::string args[] = {tool, "--attach", socket, "board", "drive", "2", level};
        char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(),
                        args[4].data(), args[5].data(), args[6].data(), nullptr};
        const int64_t started = Clock::now().time_since_epoch().count();
        pid_t child = 0;
        if (::posix_spawn(&child, tool, nullptr, nullptr, argv, environ) != 0) std::exit(2);
        micros.push_back(button.after(started));
        ::waitpid(child, nullptr, 0);
    }
    std::printf("      round trip, tarvik --attach board drive started to the wake (100): median %.0f us, p99 %.0f us\n",
                percentile(micros, 0.5), percentile(micros, 0.99));
}

double setPinRate(long calls) {
    const auto start = Clock::now();
    for (long i = 0; i < calls; ++i) GPIOSetPin(1, static_cast<uint8_t>(i & 1));
    return static_cast<double>(calls) / std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    vboard::echoDebugTo("");
    vboard::setVirtualSleep(true);
    const std::string path = "/tmp/tarvik-live-bench-" + std::to_string(::getpid()) + ".sock";
    if (const std::string problem = vboard::listen(path); !problem.empty()) {
        std::fprintf(stderr, "live_bench: %s\n", problem.c_str());
        return 2;
    }
    bool ok = true;
    roundTrip(path, argc > 1 ? argv[1] : nullptr);

    // Throughput: nobody watching, then a client that reads every trace line.
    constexpr long kCalls = 300000;
    setPinRate(kCalls / 10);  // warm up
    const double alone = setPinRate(kCalls);
    const int watcher = connectTo(path);
    ask(watcher, "watch trace");
    std::atomic<bool> reading{true};
    std::atomic<uint64_t> bytes{0};
    std::thread reader([&] {
        char buffer[65536];
        while (reading) {
            pollfd p{watcher, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                const ssize_t got = ::recv(watcher, buffer, sizeof buffer, 0);
                if (got <= 0) break;
                bytes += static_cast<uint64_t>(got);
            }
        }
    });
    const double watched = setPinRate(kCalls);
    reading = false;
    reader.join();
    ::close(watcher);
    char line[256];
    std::snprintf(line, sizeof line,
                  "GPIOSetPin with a client watching the trace: %.0f calls/s, alone %.0f: ratio %.2f (>= 0.5; %.1f MB of events read)",
                  watched, alone, watched / alone, static_cast<double>(bytes) / 1e6);
    ok &= report(line, watched / alone >= 0.5);

    // Memory with a client that never reads.
    const int stalled = connectTo(path);
    ask(stalled, "watch trace");
    setPinRate(100000);
    const long before = residentKiB();
    setPinRate(1000000);
    const long after = residentKiB();
    std::snprintf(line, sizeof line,
                  "resident memory with a stalled watcher: %ld KiB after 100,000 calls, %ld KiB after 1,000,000 more (within 10%%)",
                  before, after);
    ok &= report(line, static_cast<double>(after) <= 1.10 * static_cast<double>(before));
    ::close(stalled);
    return ok ? 0 : 1;
}

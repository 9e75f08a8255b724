// The panel's side of the board's socket: commands and their one-line answers, the watch stream,
// and the hub that hands the events to the open pages.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "attach_client.h"
#include "panel.h"

namespace tarvik_tool {
namespace panel {
namespace {

// The board refuses longer lines; an event longer than this is no event of its.
constexpr size_t kLineLimit = 64 * 1024 + 2;
constexpr int kAnswerMilliseconds = 5000;

Json failed(const std::string& why) { return Json{{"ok", false}, {"error", why}}; }

}  // namespace

// ---- BoardConnection ----

BoardConnection::~BoardConnection() { close(); }

void BoardConnection::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    buffer_.clear();
}

bool BoardConnection::open(const std::string& socketPath, std::string& error) {
    fd_ = connectToBoard(socketPath, error);
    if (fd_ < 0) return false;
    const Json answer = command("json on");
    if (!answer.value("ok", false)) {
        error = "the board at '" + socketPath + "' did not take 'json on': " +
                answer.value("error", std::string("no answer"));
        close();
        return false;
    }
    return true;
}

bool BoardConnection::readLine(std::string& line, int milliseconds) {
    for (;;) {
        if (takeBoardLine(buffer_, line)) return true;
        if (buffer_.size() > kLineLimit) return false;
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, milliseconds);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        char chunk[8192];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        buffer_.append(chunk, static_cast<size_t>(n));
    }
}

Json BoardConnection::command(const std::string& line, std::vector<std::string>* events) {
    std::lock_guard<std::mutex> hold(lock_);
    if (fd_ < 0) return failed("the board is gone");
    if (!sendBoardLine(fd_, line)) {
        close();
        return failed("the board is gone");
    }
    for (;;) {
        std::string answer;
        if (!readLine(answer, kAnswerMilliseconds)) {
            close();
            return failed("the board did not answer");
        }
        Json object = Json::parse(answer, nullptr, false);
        if (object.is_object() && object.contains("event")) {
            if (events != nullptr) events->push_back(answer);
            continue;
        }
        if (!object.is_object() || !object.contains("ok")) return failed("the board answered '" + answer + "'");
        return object;
    }
}

// ---- BoardWatch ----

BoardWatch::~BoardWatch() { stop(); }

bool BoardWatch::start(const std::string& socketPath, EventHub& hub, VcdRecorder& vcd, std::string& error) {
    if (!connection_.open(socketPath, error)) return false;
    hub_ = &hub;
    vcd_ = &vcd;
    // One kind a command, so that a kind this board lacks (a port it has not) costs only itself.
    // The events of the first kinds may come before the answers to the next.
    std::vector<std::string> early;
    for (const char* kind : {"gpio", "debug", "can", "i2c", "serial COM1", "serial COM2"}) {
        const Json answer = connection_.command(std::string("watch ") + kind, &early);
        if (!answer.value("ok", false) && std::string(kind).rfind("serial", 0) != 0)
            std::cerr << "tarvik panel: the board does not show '" << kind
                      << "': " << answer.value("error", std::string("no answer")) << "\n";
    }
    for (const std::string& line : early) {
        const Json event = Json::parse(line);
        if (event["event"] == "gpio") vcd.event(event);
        hub.publish(line);
    }
    if (::pipe2(stopPipe_, O_CLOEXEC) != 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    thread_ = std::thread([this] { run(); });
    return true;
}

void BoardWatch::stop() {
    if (thread_.joinable()) {
        const char byte = 0;
        while (::write(stopPipe_[1], &byte, 1) < 0 && errno == EINTR) {
        }
        thread_.join();
    }
    for (int& fd : stopPipe_) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    connection_.close();
}

void BoardWatch::run() {
    std::string& buffer = connection_.buffer_;
    const int fd = connection_.fd_;
    for (;;) {
        for (std::string line; takeBoardLine(buffer, line);) {
            const Json event = Json::parse(line, nullptr, false);
            if (!event.is_object() || !event.contains("event")) continue;  // a late answer
            if (event["event"] == "gpio") vcd_->event(event);
            hub_->publish(line);
        }
        // A line the board would never send: the stream cannot be followed any more.
        if (buffer.size() > kLineLimit) break;
        pollfd p[2] = {{fd, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (p[1].revents != 0) return;
        char chunk[16384];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        buffer.append(chunk, static_cast<size_t>(n));
    }
    ended_ = true;
    hub_->publish(R"({"event":"closed","reason":"the board closed its socket: the application ended"})");
}

// ---- EventHub ----

void EventHub::push(Subscriber& s, const std::string& line) {
    s.queue.push_back(line);
    s.bytes += line.size();
    while (s.queue.size() > kMaxEvents || s.bytes > kMaxBytes) {
        s.bytes -= s.queue.front().size();
        s.queue.pop_front();
        ++s.dropped;
    }
}

void EventHub::publish(const std::string& line) {
    std::lock_guard<std::mutex> hold(lock_);
    history_.push_back(line);
    historyBytes_ += line.size();
    while (history_.size() > kMaxEvents || historyBytes_ > kMaxBytes) {
        historyBytes_ -= history_.front().size();
        history_.pop_front();
    }
    for (const auto& s : subscribers_) {
        {
            std::lock_guard<std::mutex> own(s->lock);
            push(*s, line);
        }
        s->ready.notify_one();
    }
}

std::shared_ptr<EventHub::Subscriber> EventHub::subscribe() {
    auto s = std::make_shared<Subscriber>();
    std::lock_guard<std::mutex> hold(lock_);
    for (const std::string& line : history_) push(*s, line);
    s->closed = closed_;
    subscribers_.push_back(s);
    return s;
}

void EventHub::unsubscribe(const std::shared_ptr<Subscriber>& subscriber) {
    std::lock_guard<std::mutex> hold(lock_);
    subscribers_.erase(std::remove(subscribers_.begin(), subscribers_.end(), subscriber),
                       subscribers_.end());
}

size_t EventHub::subscribers() {
    std::lock_guard<std::mutex> hold(lock_);
    return subscribers_.size();
}

bool EventHub::drained() {
    std::lock_guard<std::mutex> hold(lock_);
    for (const auto& s : subscribers_) {
        std::lock_guard<std::mutex> own(s->lock);
        if (!s->queue.empty()) return false;
    }
    return true;
}

void EventHub::close() {
    std::lock_guard<std::mutex> hold(lock_);
    closed_ = true;
    for (const auto& s : subscribers_) {
        {
            std::lock_guard<std::mutex> own(s->lock);
            s->closed = true;
        }
        s->ready.notify_all();
    }
}

}  // namespace panel
}  // namespace tarvik_tool

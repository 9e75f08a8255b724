// The pseudo-terminal behind a serial port wired to "pty": one thread per terminal moves bytes
// both ways, and waits in poll() so that a stop or new bytes to send wake it at once.
#include "drivers/uart/pty_link.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace vboard {
namespace {

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

speed_t speedOf(DWORD baud) {
    switch (baud) {
        case 300: return B300;
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        case 230400: return B230400;
        case 460800: return B460800;
        case 921600: return B921600;
        default: return B0;  // no such terminal speed: the terminal keeps its own
    }
}

// The links open, for the exit handler.
struct OpenLinks {
    std::mutex lock;
    std::vector<PtyLink*> links;
    bool handler = false;
};
OpenLinks& openLinks() {
    static OpenLinks* kept = new OpenLinks();  // reached from an exit handler: never destroyed
    return *kept;
}

// How long the end of the process waits for a far end that reads nothing more.
constexpr std::chrono::milliseconds kDrainPatience(2000);

}  // namespace

std::shared_ptr<PtyLink> PtyLink::open(Deliver deliver, std::string& problem) {
    std::shared_ptr<PtyLink> link(new PtyLink());
    link->deliver_ = std::move(deliver);
    link->master_ = posix_openpt(O_RDWR | O_NOCTTY);
    char name[128] = {};
    if (link->master_ < 0 || grantpt(link->master_) != 0 || unlockpt(link->master_) != 0 ||
        ptsname_r(link->master_, name, sizeof name) != 0) {
        problem = std::string("no pseudo-terminal: ") + std::strerror(errno);
        return nullptr;
    }
    link->path_ = name;
    link->slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (link->slave_ < 0 || pipe2(link->wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        problem = "cannot open " + link->path_ + ": " + std::strerror(errno);
        return nullptr;
    }
    termios raw{};
    if (tcgetattr(link->slave_, &raw) == 0) {
        cfmakeraw(&raw);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        tcsetattr(link->slave_, TCSANOW, &raw);
    }
    fcntl(link->master_, F_SETFD, FD_CLOEXEC);
    fcntl(link->master_, F_SETFL, fcntl(link->master_, F_GETFL) | O_NONBLOCK);
    PtyLink* self = link.get();
    link->thread_ = std::thread([self] { self->pump(); });
    OpenLinks& all = openLinks();
    std::lock_guard<std::mutex> hold(all.lock);
    all.links.push_back(self);
    // Without it the process would end with the thread running (a leak to memory checkers) and
    // the terminal's unread bytes discarded by its hang-up.
    if (!all.handler) {
        all.handler = true;
        std::atexit(finishAll);
    }
    return link;
}

void PtyLink::finishAll() {
    OpenLinks& all = openLinks();
    std::lock_guard<std::mutex> hold(all.lock);
    for (PtyLink* link : all.links) {
        link->drain();
        link->stopThread();
    }
}

void PtyLink::drain() {
    using Clock = std::chrono::steady_clock;
    size_t last = SIZE_MAX;
    Clock::time_point progress = Clock::now();
    while (!stop_) {
        size_t waiting;
        {
            std::lock_guard<std::mutex> hold(lock_);
            waiting = pending_.size();
        }
        // Bytes written to the terminal reach its input queue through a kernel worker, a moment
        // later; a poll of the terminal finishes that work first, so that the count is whole.
        pollfd input{slave_, POLLIN, 0};
        const bool pending = ::poll(&input, 1, 0) > 0 && (input.revents & POLLIN) != 0;
        int unread = 0;
        if (pending && (::ioctl(slave_, FIONREAD, &unread) != 0 || unread <= 0)) unread = 1;
        const size_t left = waiting + static_cast<size_t>(pending ? unread : 0);
        if (left == 0) return;
        if (left < last) {
            last = left;
            progress = Clock::now();
        } else if (Clock::now() - progress > kDrainPatience) {
            return;  // nobody reads them: the bytes go as on a cable nobody listens to
        }
        usleep(1000);
    }
}

void PtyLink::stopThread() {
    stop_ = true;
    if (thread_.joinable()) {
        wake();
        thread_.join();
    }
}

PtyLink::~PtyLink() {
    {
        OpenLinks& all = openLinks();
        std::lock_guard<std::mutex> hold(all.lock);
        all.links.erase(std::remove(all.links.begin(), all.links.end(), this), all.links.end());
    }
    stopThread();
    closeFd(master_);
    closeFd(slave_);
    closeFd(wake_[0]);
    closeFd(wake_[1]);
}

void PtyLink::wake() {
    const char byte = 1;
    if (wake_[1] >= 0) (void)!::write(wake_[1], &byte, 1);
}

void PtyLink::send(const uint8_t* bytes, size_t size, size_t limit) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        // Straight onto the terminal when nothing waits before these bytes: once a write has
        // reported them sent, a purge or the end of the program must not take them back, as
        // bytes a UART has shifted out are at the far end. Only what the terminal cannot take
        // now waits for the pump (the master is non-blocking).
        if (pending_.empty() && size > 0) {
            const ssize_t put = ::write(master_, bytes, size);
            if (put > 0) {
                bytes += put;
                size -= static_cast<size_t>(put);
            }
        }
        const size_t room = pending_.size() < limit ? limit - pending_.size() : 0;
        pending_.insert(pending_.end(), bytes, bytes + std::min(size, room));
    }
    wake();
}

void PtyLink::purge() {
    std::lock_guard<std::mutex> hold(lock_);
    pending_.clear();
    ++purges_;
}

void PtyLink::restart() {
    purge();
    tcflush(slave_, TCIOFLUSH);
}

void PtyLink::applyLine(const DCB& dcb) {
    termios line{};
    if (tcgetattr(slave_, &line) != 0) return;
    if (const speed_t speed = speedOf(dcb.BaudRate); speed != B0) {
        cfsetispeed(&line, speed);
        cfsetospeed(&line, speed);
    }
    line.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    line.c_cflag |= dcb.ByteSize >= 5 && dcb.ByteSize <= 8 ? sizes[dcb.ByteSize - 5] : CS8;
    if (dcb.Parity == ODDPARITY) line.c_cflag |= PARENB | PARODD;
    if (dcb.Parity == EVENPARITY) line.c_cflag |= PARENB;
    if (dcb.StopBits == TWOSTOPBITS) line.c_cflag |= CSTOPB;
    tcsetattr(slave_, TCSANOW, &line);
}

void PtyLink::pump() {
    uint8_t buffer[4096];
    while (!stop_) {
        bool sending;
        {
            std::lock_guard<std::mutex> hold(lock_);
            sending = !pending_.empty();
        }
        pollfd fds[2] = {{master_, static_cast<short>(POLLIN | (sending ? POLLOUT : 0)), 0},
                         {wake_[0], POLLIN, 0}};
        if (poll(fds, 2, 500) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents & POLLIN)
            while (::read(wake_[0], buffer, sizeof buffer) > 0) {
            }
        if (stop_) return;
        if (fds[0].revents & POLLIN) {
            const ssize_t got = ::read(master_, buffer, sizeof buffer);
            if (got > 0) deliver_(this, buffer, static_cast<size_t>(got));
        }
        if (fds[0].revents & POLLOUT) {
            size_t count;
            uint64_t purges;
            {
                std::lock_guard<std::mutex> hold(lock_);
                count = std::min(pending_.size(), sizeof buffer);
                std::copy_n(pending_.begin(), count, buffer);
                purges = purges_;
            }
            const ssize_t put = ::write(master_, buffer, count);
            if (put > 0) {
                std::lock_guard<std::mutex> hold(lock_);
                // After a purge the queue holds newer bytes, none of which were written.
                if (purges == purges_)
                    pending_.erase(pending_.begin(), pending_.begin() + put);
            }
        }
        // The terminal hung up or failed: wait a little rather than spin until it recovers.
        if ((fds[0].revents & (POLLHUP | POLLERR)) && !(fds[0].revents & POLLIN))
            usleep(20000);
    }
}

}  // namespace vboard

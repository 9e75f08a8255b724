// The GPIO waveform: value changes into an anonymous file while recording, the VCD file whole at
// the end.
#include "drivers/gpio/gpio_waveform.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace vboard {
namespace {

// An unlinked file in the temporary folder: it goes away with the last descriptor.
int anonymousFile() {
    const char* dir = std::getenv("TMPDIR");
    std::string name = std::string(dir != nullptr && *dir != 0 ? dir : "/tmp") + "/vboard-vcd-XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd >= 0) ::unlink(name.c_str());
    return fd;
}

}  // namespace

// Identifier codes are short strings of the printable characters '!' to '~'.
std::string gpioVcdCode(unsigned order, GpioVcdSignal signal) {
    constexpr unsigned kSignalsAPin = 3;
    unsigned number = order * kSignalsAPin + static_cast<unsigned>(signal);
    std::string text;
    do {
        text += static_cast<char>('!' + number % 94);
        number /= 94;
    } while (number != 0);
    return text;
}

GpioWaveform::~GpioWaveform() { close(); }

void GpioWaveform::close() {
    if (file_ != nullptr) std::fclose(file_);
    if (body_ >= 0) ::close(body_);
    file_ = nullptr;
    body_ = -1;
    pending_.clear();
}

void GpioWaveform::spill(bool all) {
    if (pending_.size() < (all ? 1u : 65536u)) return;
    // A forked child's changes are not its parent's to write.
    if (owner_ != static_cast<long>(::getpid())) {
        pending_.clear();
        return;
    }
    for (size_t done = 0; done < pending_.size();) {
        const ssize_t n = ::write(body_, pending_.data() + done, pending_.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failed_ = true;
            break;
        }
        done += static_cast<size_t>(n);
    }
    pending_.clear();
}

bool GpioWaveform::start(const std::string& path, const Pins& pins, BoardClock::Reading now) {
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) return false;
    body_ = anonymousFile();
    if (body_ < 0) {
        const int error = errno;
        close();
        errno = error;
        return false;
    }
    path_ = path;
    owner_ = static_cast<long>(::getpid());
    failed_ = false;
    touched_ = 0;
    falls_.clear();
    startTime_ = last_ = now.nanoseconds / 1000;
    startRunning_ = now.running;
    for (int bank = 0; bank < kGpioBanks; ++bank)
        for (int pin = 0; pin < kGpioPinsPerBank; ++pin) {
            Trace& t = traces_[bank][pin];
            t = Trace{};
            t.output = t.startOutput = pins[bank][pin].output;
            t.level = t.startLevel = pins[bank][pin].level();
        }
    return true;
}

// Microseconds, the file's time unit: fine enough for a pin the library toggles, coarse enough
// that a viewer sampling the file at its time unit gets a few million samples a run, not billions.
uint64_t GpioWaveform::timeOf(BoardClock::Reading now) {
    // The board's clock when recording began, and the time that has passed on the board since:
    // a power-on starts the board's clock again, while the file's time goes on.
    return std::max(last_, startTime_ + (now.running - startRunning_) / 1000);
}

void GpioWaveform::stamp(uint64_t time) {
    if (time == last_) return;
    last_ = time;
    pending_ += '#';
    pending_ += std::to_string(time);
    pending_ += '\n';
}

void GpioWaveform::at(uint64_t time) {
    size_t ended = 0;
    for (; ended < falls_.size() && falls_[ended].time <= time; ++ended) {
        stamp(falls_[ended].time);
        change(falls_[ended].code, false);
    }
    falls_.erase(falls_.begin(), falls_.begin() + static_cast<std::ptrdiff_t>(ended));
    stamp(time);
}

void GpioWaveform::change(const std::string& code, bool value) {
    pending_ += value ? '1' : '0';
    pending_ += code;
    pending_ += '\n';
    spill(false);
}

std::string GpioWaveform::code(const Trace& trace, Signal signal) const {
    return gpioVcdCode(trace.order, static_cast<GpioVcdSignal>(signal));
}

void GpioWaveform::record(int bank, int pin, const GpioPinState& state, BoardClock::Reading now,
                          bool mark) {
    if (!active()) return;
    Trace& t = traces_[bank][pin];
    const bool output = state.output;
    const bool level = state.level();
    if (!mark && !t.touched && output == t.output && level == t.level) return;
    if (!t.touched) {
        t.touched = true;
        t.order = touched_++;
    }
    if (output == t.output && level == t.level) return;
    at(timeOf(now));
    if (output != t.output) change(code(t, kDirection), output);
    if (level != t.level) change(code(t, kLevel), level);
    t.output = output;
    t.level = level;
}

void GpioWaveform::touch(int bank, int pin, const GpioPinState& state, BoardClock::Reading now) {
    record(bank, pin, state, now, true);
}

void GpioWaveform::follow(int bank, int pin, const GpioPinState& state, BoardClock::Reading now) {
    record(bank, pin, state, now, false);
}

void GpioWaveform::interrupt(int bank, int pin, BoardClock::Reading now) {
    if (!active()) return;
    Trace& t = traces_[bank][pin];
    if (!t.touched) {
        t.touched = true;
        t.order = touched_++;
    }
    const uint64_t time = timeOf(now);
    at(time);
    const std::string irq = code(t, kInterrupt);
    for (const Fall& f : falls_)
        if (f.code == irq) return;  // still high from an interrupt at this same instant
    change(irq, true);
    falls_.push_back(Fall{time + 1, irq});
}

bool GpioWaveform::finish(BoardClock::Reading now) {
    if (!active()) return true;
    if (owner_ != static_cast<long>(::getpid())) {
        // Closing our copies of the streams discards what they buffered, unwritten.
        close();
        return true;
    }
    const uint64_t end = timeOf(now);
    at(std::max(end, falls_.empty() ? end : falls_.back().time));
    const bool written = writeFile();
    const int error = errno;
    close();
    errno = error;
    return written;
}

bool GpioWaveform::writeFile() {
    std::FILE* out = file_;
    std::fprintf(out, "$version Tarvik virtual board $end\n$timescale 1us $end\n");
    std::fprintf(out, "$scope module gpio $end\n");
    for (int bank = 0; bank < kGpioBanks; ++bank) {
        bool opened = false;
        for (int pin = 0; pin < kGpioPinsPerBank; ++pin) {
            const Trace& t = traces_[bank][pin];
            if (!t.touched) continue;
            if (!opened) std::fprintf(out, "$scope module bank%d $end\n", bank);
            opened = true;
            // Names carry bank and pin, as viewers that flatten the scopes show only the name.
            static const char* const suffix[kSignals] = {"", "_dir", "_irq"};
            for (int s = 0; s < kSignals; ++s)
                std::fprintf(out, "$var wire 1 %s gpio%d_%d%s $end\n",
                             code(t, static_cast<Signal>(s)).c_str(), bank, pin, suffix[s]);
        }
        if (opened) std::fprintf(out, "$upscope $end\n");
    }
    std::fprintf(out, "$upscope $end\n$enddefinitions $end\n#%llu\n$dumpvars\n",
                 static_cast<unsigned long long>(startTime_));
    for (int bank = 0; bank < kGpioBanks; ++bank)
        for (int pin = 0; pin < kGpioPinsPerBank; ++pin) {
            const Trace& t = traces_[bank][pin];
            if (!t.touched) continue;
            std::fprintf(out, "%c%s\n%c%s\n0%s\n", t.startLevel ? '1' : '0',
                         code(t, kLevel).c_str(), t.startOutput ? '1' : '0',
                         code(t, kDirection).c_str(), code(t, kInterrupt).c_str());
        }
    std::fprintf(out, "$end\n");
    // The changes, as recorded.
    spill(true);
    bool ok = !failed_ && ::lseek(body_, 0, SEEK_SET) == 0;
    char buffer[8192];
    ssize_t n;
    while (ok && (n = ::read(body_, buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0 && std::fwrite(buffer, 1, static_cast<size_t>(n), out) == static_cast<size_t>(n);
    }
    ok = ok && std::fflush(out) == 0 && !std::ferror(out);
    if (!ok && errno == 0) errno = EIO;
    return ok;
}

}  // namespace vboard

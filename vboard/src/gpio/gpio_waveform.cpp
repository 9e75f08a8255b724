// The GPIO waveform: value changes into an anonymous file while recording, the VCD file whole at
// the end.
#include "gpio/gpio_waveform.h"

#include <algorithm>
#include <cerrno>

namespace vboard {
namespace {

// Identifier codes are short strings of the printable characters '!' to '~'.
std::string identifier(unsigned number) {
    std::string text;
    do {
        text += static_cast<char>('!' + number % 94);
        number /= 94;
    } while (number != 0);
    return text;
}

}  // namespace

GpioWaveform::~GpioWaveform() { close(); }

void GpioWaveform::close() {
    if (file_ != nullptr) std::fclose(file_);
    if (body_ != nullptr) std::fclose(body_);
    file_ = body_ = nullptr;
}

bool GpioWaveform::start(const std::string& path, const Pins& pins, BoardClock::Reading now) {
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) return false;
    body_ = std::tmpfile();
    if (body_ == nullptr) {
        const int error = errno;
        close();
        errno = error;
        return false;
    }
    path_ = path;
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
    if (std::fprintf(body_, "#%llu\n", static_cast<unsigned long long>(time)) < 0) failed_ = true;
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
    if (std::fprintf(body_, "%c%s\n", value ? '1' : '0', code.c_str()) < 0) failed_ = true;
}

std::string GpioWaveform::code(const Trace& trace, Signal signal) const {
    return identifier(trace.order * kSignals + signal);
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
    bool ok = !failed_ && std::fflush(body_) == 0 && std::fseek(body_, 0, SEEK_SET) == 0;
    char buffer[8192];
    for (size_t n; ok && (n = std::fread(buffer, 1, sizeof buffer, body_)) > 0;)
        ok = std::fwrite(buffer, 1, n, out) == n;
    ok = ok && !std::ferror(body_) && std::fflush(out) == 0 && !std::ferror(out);
    if (!ok && errno == 0) errno = EIO;
    return ok;
}

}  // namespace vboard

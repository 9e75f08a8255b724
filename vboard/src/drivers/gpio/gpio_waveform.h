// A waveform of the GPIO pins, as a Value Change Dump file (IEEE 1364 VCD) that waveform viewers
// and logic-analyser software open: for every pin the library or the outside world touched while
// recording, its direction, its level and the interrupts it fired, stamped with the board's clock.
//
// VCD declares its signals before the first change, and which pins a run touches is known only
// at its end, so the changes go to an anonymous file first; finish() writes the declarations, the
// touched pins' values when recording began, then the changes. The changes are buffered here and
// written with write(2), not through stdio: a forked child (a death test) that ends with exit()
// must not flush a copy of them into the file its parent is still writing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "os/clock.h"
#include "vboard/gpio.h"

namespace vboard {

class GpioWaveform {
public:
    using Pins = GpioPinState[kGpioBanks][kGpioPinsPerBank];

    ~GpioWaveform();
    // Starts recording into `path`, the pins being as `pins` say at `now`. False, with errno set,
    // when the file can't be created. A recording already running must be finished first.
    bool start(const std::string& path, const Pins& pins, BoardClock::Reading now);
    // Writes the file and stops. False, with errno set, when it could not be written whole. A
    // process forked from the one that started the recording (a death test's child) stops
    // without writing: the file is its parent's.
    bool finish(BoardClock::Reading now);
    bool active() const { return file_ != nullptr; }
    const std::string& path() const { return path_; }

    // A pin the library configured or set, or the outside world drove: it is in the file, and
    // what changed in its direction or level is recorded.
    void touch(int bank, int pin, const GpioPinState& state, BoardClock::Reading now);
    // Records a change of direction or level only; an unchanged pin stays out of the file.
    void follow(int bank, int pin, const GpioPinState& state, BoardClock::Reading now);
    // An interrupt the pin fired: a pulse one time unit (1 us) wide. Interrupts fired at the same
    // instant show as one pulse.
    void interrupt(int bank, int pin, BoardClock::Reading now);

private:
    // In the order of GpioVcdSignal.
    enum Signal { kLevel, kDirection, kInterrupt, kSignals };
    struct Trace {
        bool touched = false;
        unsigned order = 0;  // which pin was touched first names the codes
        bool output = false, level = false;           // as last written
        bool startOutput = false, startLevel = false;  // when recording began
    };
    struct Fall {
        uint64_t time;
        std::string code;
    };

    uint64_t timeOf(BoardClock::Reading now);
    // Writes the timestamp of `time`, after the interrupt pulses that end before it.
    void at(uint64_t time);
    void stamp(uint64_t time);
    void change(const std::string& code, bool value);
    // Writes the buffered changes to the anonymous file once there are enough of them (or all).
    void spill(bool all);
    std::string code(const Trace& trace, Signal signal) const;
    void record(int bank, int pin, const GpioPinState& state, BoardClock::Reading now, bool mark);
    bool writeFile();
    void close();

    std::string path_;
    long owner_ = 0;             // the process that started the recording
    std::FILE* file_ = nullptr;  // the VCD file, created at start so that a bad path shows early
    int body_ = -1;              // the anonymous file of the changes, until finish
    std::string pending_;        // changes not yet in it
    bool failed_ = false;        // a write of the body failed
    Trace traces_[kGpioBanks][kGpioPinsPerBank];
    unsigned touched_ = 0;
    std::vector<Fall> falls_;    // interrupt pulses still high, oldest first
    uint64_t startTime_ = 0;     // the board's clock when recording began, in microseconds
    uint64_t startRunning_ = 0;  // the clock's running time then, in nanoseconds
    uint64_t last_ = 0;          // the latest timestamp written
};

}  // namespace vboard

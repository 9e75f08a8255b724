// The panel's waveform: the board's GPIO events kept as value changes, written out on request in
// the layout of the board's own VCD recorder, so that a viewer's saved signal lists fit both.
#include <algorithm>
#include <cstdio>

#include "panel.h"
#include "vboard/gpio.h"

namespace tarvik_tool {
namespace panel {
namespace {

// The board's recorder has three signals a pin (level, direction, interrupt). The board's events
// carry levels, so those are always in the file; directions only once the events carry them
// (a direction seen only when the panel attached would go stale unseen). The codes are the
// recorder's.
std::string levelCode(unsigned order) { return vboard::gpioVcdCode(order, vboard::GpioVcdSignal::Level); }
std::string directionCode(unsigned order) { return vboard::gpioVcdCode(order, vboard::GpioVcdSignal::Direction); }

// "0.2" into bank and pin; false for anything else.
bool parsePad(const Json& pad, int& bank, int& pin) {
    if (!pad.is_string()) return false;
    return std::sscanf(pad.get<std::string>().c_str(), "%d.%d", &bank, &pin) == 2 && bank >= 0 &&
           bank < 64 && pin >= 0 && pin < 64;
}

bool levelOf(const Json& value) {
    return value.is_number() ? value.get<int>() != 0 : value.is_boolean() && value.get<bool>();
}

}  // namespace

void VcdRecorder::touch(Pin& p) {
    if (p.touched) return;
    p.touched = true;
    p.order = touched_++;
}

void VcdRecorder::start(const Json& pins, uint64_t t) {
    std::lock_guard<std::mutex> hold(lock_);
    pins_.clear();
    changes_.clear();
    touched_ = 0;
    directions_ = false;
    startTime_ = t;
    if (!pins.is_array()) return;
    for (const Json& entry : pins) {
        int bank, pin;
        if (!entry.is_object() || !parsePad(entry.value("pad", Json()), bank, pin)) continue;
        Pin& p = pins_[{bank, pin}];
        p.output = p.startOutput = entry.value("direction", std::string()) == "out";
        p.level = p.startLevel = levelOf(entry.value("level", Json()));
        // What the application set up is in the file from the start: its outputs, its interrupts.
        if (p.output || !entry.value("interrupt", Json()).is_null()) touch(p);
    }
}

void VcdRecorder::event(const Json& event) {
    int bank, pin;
    if (!parsePad(event.value("pad", Json()), bank, pin) || !event.value("t", Json()).is_number_unsigned())
        return;
    std::lock_guard<std::mutex> hold(lock_);
    Pin& p = pins_[{bank, pin}];
    touch(p);
    const bool level = levelOf(event.value("level", Json()));
    const std::string direction = event.value("direction", std::string());
    if (!direction.empty()) directions_ = true;
    const bool output = direction.empty() ? p.output : direction == "out";
    if (level == p.level && output == p.output) return;
    const uint64_t t = std::max(startTime_, event["t"].get<uint64_t>());
    changes_.push_back(Change{t, bank, pin, output, level});
    p.level = level;
    p.output = output;
    // The oldest change becomes where the file starts.
    while (changes_.size() > kMaxChanges) {
        const Change& oldest = changes_.front();
        Pin& q = pins_[{oldest.bank, oldest.pin}];
        q.startLevel = oldest.level;
        q.startOutput = oldest.output;
        startTime_ = oldest.t;
        changes_.pop_front();
    }
}

std::string VcdRecorder::file() {
    std::lock_guard<std::mutex> hold(lock_);
    std::string out = "$version Tarvik virtual board $end\n$timescale 1us $end\n$scope module gpio $end\n";
    int openBank = -1;
    for (const auto& [where, p] : pins_) {
        if (!p.touched) continue;
        if (where.first != openBank) {
            if (openBank >= 0) out += "$upscope $end\n";
            openBank = where.first;
            out += "$scope module bank" + std::to_string(openBank) + " $end\n";
        }
        const std::string name = "gpio" + std::to_string(where.first) + "_" + std::to_string(where.second);
        out += "$var wire 1 " + levelCode(p.order) + " " + name + " $end\n";
        if (directions_) out += "$var wire 1 " + directionCode(p.order) + " " + name + "_dir $end\n";
    }
    if (openBank >= 0) out += "$upscope $end\n";
    out += "$upscope $end\n$enddefinitions $end\n#" + std::to_string(startTime_) + "\n$dumpvars\n";
    for (const auto& [where, p] : pins_) {
        if (!p.touched) continue;
        out += std::string(p.startLevel ? "1" : "0") + levelCode(p.order) + "\n";
        if (directions_) out += std::string(p.startOutput ? "1" : "0") + directionCode(p.order) + "\n";
    }
    out += "$end\n";
    // Replays the changes over the start values, writing what differs at each time.
    std::map<std::pair<int, int>, std::pair<bool, bool>> now;  // output, level
    for (const auto& [where, p] : pins_) now[where] = {p.startOutput, p.startLevel};
    uint64_t stamped = startTime_;
    for (const Change& c : changes_) {
        const Pin& p = pins_[{c.bank, c.pin}];
        auto& [output, level] = now[{c.bank, c.pin}];
        if (output == c.output && level == c.level) continue;
        if (c.t != stamped) {
            stamped = c.t;
            out += "#" + std::to_string(c.t) + "\n";
        }
        if (output != c.output && directions_)
            out += std::string(c.output ? "1" : "0") + directionCode(p.order) + "\n";
        if (level != c.level) out += std::string(c.level ? "1" : "0") + levelCode(p.order) + "\n";
        output = c.output;
        level = c.level;
    }
    return out;
}

}  // namespace panel
}  // namespace tarvik_tool

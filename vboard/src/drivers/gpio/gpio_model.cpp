// The GPIO controller behind "GIO1:": the driver's five requests, the outside world driving input
// pads, interrupts setting the events the library registered, and the trace decode.
#include "drivers/gpio/gpio_model.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "os/text.h"

namespace vboard {
namespace {

static_assert(sizeof(GpioDirectionRecord) == 16, "bank, pin, direction, mode");
static_assert(sizeof(GpioLevelRecord) == 12, "bank, pin, level");
static_assert(sizeof(GpioPinRecord) == 8, "bank, pin");
static_assert(sizeof(GpioEventRecord) == 8 + sizeof(HANDLE), "bank, pin, then the handle");

// The driver takes a request only when the input buffer is exactly its record.
template <class Record>
bool readRecord(const IoRequest& request, Record& record) {
    if (request.in == nullptr || request.inSize != sizeof(Record)) return false;
    std::memcpy(&record, request.in, sizeof record);
    return true;
}

// Whether an input pad going from `before` to `after` raises the interrupt of a pin in `mode`.
// A level interrupt is raised whenever the pad is at its level, changed or not; an edge needs
// the change. Asked with before == after, it tells whether the pad's level alone asserts it.
bool raises(uint32_t mode, bool before, bool after) {
    switch (mode) {
        case kGpioLowLevel: return !after;
        case kGpioHighLevel: return after;
        case kGpioRisingEdge: return !before && after;
        case kGpioFallingEdge: return before && !after;
        case kGpioBothEdges: return before != after;
        default: return false;
    }
}

// ---- Trace decode ----

const char* requestName(DWORD code) {
    switch (code) {
        case kGpioSetDirection: return "SET_DIRECTION";
        case kGpioSetPin: return "SET_PIN";
        case kGpioGetPin: return "GET_PIN";
        case kGpioSetEvent: return "SET_EVENT";
        case kGpioClearEvent: return "CLEAR_EVENT";
        default: return nullptr;
    }
}

size_t recordSize(DWORD code) {
    switch (code) {
        case kGpioSetDirection: return sizeof(GpioDirectionRecord);
        case kGpioSetPin:
        case kGpioGetPin: return sizeof(GpioLevelRecord);
        case kGpioSetEvent: return sizeof(GpioEventRecord);
        default: return sizeof(GpioPinRecord);
    }
}

uint32_t word(const Bytes& bytes, size_t offset) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value |= static_cast<uint32_t>(bytes[offset + i]) << (8 * i);
    return value;
}

// ---- Configuration ----


std::string gpioDirective(GpioController& gpio, const std::vector<std::string>& words) {
    const std::string sub = words.size() > 1 ? words[1] : "";
    if (sub == "reset") {
        if (words.size() != 2) return "expected: gpio reset";
        gpio.reset();
        return "";
    }
    if (sub != "input") return "expected: gpio input <bank>.<pin>|<index> <0|1> or gpio reset";
    const std::string usage = "expected: gpio input <bank>.<pin>|<index> <0|1>";
    if (words.size() != 4) return usage;
    const std::string& where = words[2];
    const size_t dot = where.find('.');
    int64_t bank = 0;
    int64_t pin = 0;
    if (dot == std::string::npos) {
        // A module index, as the library's callers number the pins.
        uint64_t index = 0;
        if (!parseUnsigned(where, UINT32_MAX, index)) return usage;
        const auto pad = gpioPadOf(static_cast<uint32_t>(index));
        if (!pad) return "module index " + where + " has no GPIO (1 to 23 and 34 have)";
        bank = pad->bank;
        pin = pad->pin;
    } else if (!parseSigned(where.substr(0, dot), INT32_MIN, INT32_MAX, bank) ||
               !parseSigned(where.substr(dot + 1), INT32_MIN, INT32_MAX, pin)) {
        return usage;
    }
    if (words[3] != "0" && words[3] != "1") return usage;
    if (!GpioController::onBoard(bank, pin)) return "no pin " + where + " on the board";
    gpio.driveInput(static_cast<int>(bank), static_cast<int>(pin), words[3] == "1");
    return "";
}

// The controller installed on this process's board. Like the board it is never destroyed: the
// device can be taken off the board while tests still drive its pins, and callers may reach
// gpio() from their own static destructors.
Installed<GpioController> installed;

}  // namespace

// ---- Bus side ----

DWORD GpioController::ioControl(IoRequest& request) {
    switch (request.code) {
        case kGpioSetDirection: return setDirection(request);
        case kGpioSetPin: return setPin(request);
        case kGpioGetPin: return getPin(request);
        case kGpioSetEvent: return setEvent(request);
        case kGpioClearEvent: return clearEvent(request);
        default: return static_cast<DWORD>(ERROR_NOT_SUPPORTED);
    }
}

DWORD GpioController::setDirection(const IoRequest& request) {
    GpioDirectionRecord record;
    if (!readRecord(request, record) || !onBoard(record.bank, record.pin) ||
        record.pinDirection > 1)
        return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    const bool output = record.pinDirection == 1;
    // An output raises no interrupt whatever mode came with it; an input's mode must be one the
    // interrupt configuration register can hold.
    if (!output && record.interruptMode > kGpioNoInterrupt)
        return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> hold(lock_);
    GpioPinState& state = pins_[record.bank][record.pin];
    state.output = output;
    state.mode = output ? static_cast<uint32_t>(kGpioNoInterrupt) : record.interruptMode;
    touchLocked(record.bank, record.pin);
    return ERROR_SUCCESS;
}

DWORD GpioController::setPin(const IoRequest& request) {
    GpioLevelRecord record;
    if (!readRecord(request, record) || !onBoard(record.bank, record.pin) || record.level > 1)
        return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    // The data register latches the level for an input too; it reaches the pad once the pin is
    // turned to an output.
    std::lock_guard<std::mutex> hold(lock_);
    pins_[record.bank][record.pin].latch = record.level == 1;
    touchLocked(record.bank, record.pin);
    return ERROR_SUCCESS;
}

DWORD GpioController::getPin(IoRequest& request) {
    GpioLevelRecord record;
    if (!readRecord(request, record) || !onBoard(record.bank, record.pin))
        return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    uint32_t level;
    {
        std::lock_guard<std::mutex> hold(lock_);
        level = pins_[record.bank][record.pin].level() ? 1 : 0;
    }
    std::memcpy(request.in + offsetof(GpioLevelRecord, level), &level, sizeof level);
    return ERROR_SUCCESS;
}

DWORD GpioController::setEvent(const IoRequest& request) {
    GpioEventRecord record;
    if (!readRecord(request, record) || !onBoard(record.bank, record.pin) ||
        record.eventHandle == nullptr || !eventSignaled(record.eventHandle).has_value())
        return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    HANDLE fire = nullptr;
    {
        std::lock_guard<std::mutex> hold(lock_);
        GpioPinState& state = pins_[record.bank][record.pin];
        state.event = record.eventHandle;
        if (owners_[record.bank][record.pin] == 0) ++registered_;
        owners_[record.bank][record.pin] = request.instance;
        touchLocked(record.bank, record.pin);
        // A level interrupt is asserted as soon as it is enabled on a pad already at its level.
        if (!state.output && raises(state.mode, state.input, state.input))
            fire = fireLocked(record.bank, record.pin, state);
    }
    if (fire != nullptr) signalEvent(fire);
    return ERROR_SUCCESS;
}

DWORD GpioController::clearEvent(const IoRequest& request) {
    GpioPinRecord record;
    if (!readRecord(request, record) || !onBoard(record.bank, record.pin))
        return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> hold(lock_);
    pins_[record.bank][record.pin].event = nullptr;
    if (owners_[record.bank][record.pin] != 0) --registered_;
    owners_[record.bank][record.pin] = 0;
    touchLocked(record.bank, record.pin);
    return ERROR_SUCCESS;
}

void GpioController::close(uint64_t instance) {
    std::lock_guard<std::mutex> hold(lock_);
    // Most opens register nothing (a pin set or read): only a kept interrupt handle has a pin.
    if (registered_ == 0) return;
    for (int bank = 0; bank < kGpioBanks; ++bank)
        for (int pin = 0; pin < kGpioPinsPerBank; ++pin)
            if (owners_[bank][pin] == instance) {
                owners_[bank][pin] = 0;
                pins_[bank][pin].event = nullptr;
                --registered_;
            }
}

HANDLE GpioController::fireLocked(int bank, int pin, const GpioPinState& state) {
    interrupts_.push(GpioInterrupt{bank, pin, state.mode, state.event}, kDefaultRecordLimit);
    waveform_.interrupt(bank, pin, clock_.read());
    return state.event;
}

void GpioController::touchLocked(int bank, int pin) {
    if (waveform_.active()) waveform_.touch(bank, pin, pins_[bank][pin], clock_.read());
}

// ---- Control side ----

std::optional<GpioPad> gpioPadOf(uint32_t index) {
    // The module's connector pins and the i.MX6 pads behind them, as the library maps them.
    static constexpr struct {
        uint32_t index;
        int bank;
        int pin;
    } kPads[] = {{1, 0, 2},   {2, 0, 4},   {3, 0, 5},   {4, 5, 3},   {5, 3, 5},   {6, 3, 20},
                 {7, 2, 27},  {8, 3, 7},   {9, 3, 8},   {10, 5, 14}, {11, 5, 15}, {12, 3, 9},
                 {13, 6, 0},  {14, 6, 1},  {15, 4, 21}, {16, 6, 13}, {17, 0, 18}, {18, 0, 16},
                 {19, 0, 17}, {20, 0, 19}, {21, 0, 20}, {22, 4, 18}, {23, 4, 19}, {34, 0, 21}};
    for (const auto& pad : kPads)
        if (pad.index == index) return GpioPad{pad.bank, pad.pin};
    return std::nullopt;
}

bool GpioController::driveInput(int bank, int pin, bool level) {
    if (!onBoard(bank, pin)) return false;
    HANDLE fire = nullptr;
    {
        std::lock_guard<std::mutex> hold(lock_);
        GpioPinState& state = pins_[bank][pin];
        const bool before = state.input;
        state.input = level;
        touchLocked(bank, pin);
        // An output drives its own pad: what the outside world does to it is only recorded.
        if (!state.output && state.event != nullptr && raises(state.mode, before, level))
            fire = fireLocked(bank, pin, state);
    }
    // Signalled once our lock is released: setting the event takes the board's lock and the
    // event's, and the thread it wakes goes straight back to the driver.
    if (fire != nullptr) signalEvent(fire);
    return true;
}

GpioPinState GpioController::pin(int bank, int pin) const {
    if (!onBoard(bank, pin)) return GpioPinState{};
    std::lock_guard<std::mutex> hold(lock_);
    return pins_[bank][pin];
}

std::vector<GpioInterrupt> GpioController::interrupts() const {
    std::lock_guard<std::mutex> hold(lock_);
    return interrupts_.items();
}

void GpioController::reset() {
    std::lock_guard<std::mutex> hold(lock_);
    const BoardClock::Reading now = clock_.read();
    for (int bank = 0; bank < kGpioBanks; ++bank)
        for (int pin = 0; pin < kGpioPinsPerBank; ++pin) {
            pins_[bank][pin] = GpioPinState{};
            waveform_.follow(bank, pin, pins_[bank][pin], now);
        }
    for (auto& bank : owners_)
        for (uint64_t& owner : bank) owner = 0;
    registered_ = 0;
}

void GpioController::powerOn() {
    reset();
    std::lock_guard<std::mutex> hold(lock_);
    interrupts_.clear();
}

bool GpioController::recordWaveform(const std::string& path) {
    std::lock_guard<std::mutex> hold(lock_);
    return recordWaveformLocked(path);
}

bool GpioController::recordWaveformLocked(const std::string& path) {
    const BoardClock::Reading now = clock_.read();
    const std::string finished = waveform_.path();
    const bool written = waveform_.finish(now);
    const int error = errno;
    // Said here, as the caller may be starting another file or ending the process.
    if (!written)
        std::fprintf(stderr, "vboard: cannot write the GPIO waveform '%s': %s\n", finished.c_str(),
                     std::strerror(error));
    if (!path.empty() && !waveform_.start(path, pins_, now)) return false;
    errno = error;
    return written;
}

bool GpioController::keepRecording(const std::string& path) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!path.empty() && waveform_.active() && waveform_.path() == path) return true;
    return recordWaveformLocked(path);
}

// ---- Trace ----

std::optional<std::string> GpioController::decode(const TraceEntry& entry) const {
    return decodeGpioRequest(entry);
}

std::optional<std::string> decodeGpioRequest(const TraceEntry& e) {
    if (e.function != "DeviceIoControl") return std::nullopt;
    const char* name = requestName(e.code);
    if (name == nullptr) return std::nullopt;
    if (e.in.size() != recordSize(e.code))
        return std::string(name) + " malformed [" + hexBytes(e.in) + "]";

    std::string text = std::string(name) +
                       " bank " + std::to_string(static_cast<int32_t>(word(e.in, 0))) +
                       " pin " + std::to_string(static_cast<int32_t>(word(e.in, 4)));
    switch (e.code) {
        case kGpioSetDirection: {
            const uint32_t direction = word(e.in, 8);
            text += direction == 0   ? " input"
                    : direction == 1 ? " output"
                                     : " direction " + std::to_string(direction);
            text += " mode " + std::to_string(word(e.in, 12));
            break;
        }
        case kGpioSetPin:
            text += " level " + std::to_string(word(e.in, 8));
            break;
        case kGpioGetPin:
            // The level is the driver's answer, so there is one only when the call succeeded.
            if (e.ok && e.inAfter.size() == e.in.size())
                text += " level " + std::to_string(word(e.inAfter, 8));
            break;
        case kGpioSetEvent: {
            HANDLE event;
            std::memcpy(&event, e.in.data() + offsetof(GpioEventRecord, eventHandle), sizeof event);
            text += " event " + handleLabel(event);
            break;
        }
        default:
            break;
    }
    return text;
}

// ---- Installation ----

void installGpio(Host& host) {
    auto controller = std::make_shared<GpioController>(host.clock());
    installed.keep(controller);
    // At power-on every pin is an input, low, without an interrupt, and "GIO1:" is on the board.
    host.plugAtPowerOn({{kGpioDevice, controller}}, [controller] { controller->powerOn(); });
    // The directive drives the model it was installed with, also while the device is removed.
    GpioController* model = controller.get();
    host.addDirective(Directive{
        "gpio", "gpio input <bank>.<pin>|<index> 0|1 | gpio reset",
        [model](const std::vector<std::string>& words, const std::string&) {
            return gpioDirective(*model, words);
        }});
    host.addDirective(Directive{
        "vcd", "vcd <file>|off",
        [model](const std::vector<std::string>& words, const std::string&) -> std::string {
            if (words.size() != 2) return "expected: vcd <file>|off";
            if (model->keepRecording(words[1] == "off" ? "" : words[1])) return "";
            return "cannot write the waveform '" + words[1] + "': " + std::strerror(errno);
        }});
    host.nameRequests("GIO", {{"SET_DIRECTION", kGpioSetDirection},
                              {"SET_PIN", kGpioSetPin},
                              {"GET_PIN", kGpioGetPin},
                              {"SET_EVENT", kGpioSetEvent},
                              {"CLEAR_EVENT", kGpioClearEvent}});
    // A waveform still recording when the process ends is written out then.
    std::atexit([] { installed.kept().recordWaveform(""); });
}

bool recordVcd(const std::string& path) { return installed.get().recordWaveform(path); }

GpioControl& gpio() { return installed.get(); }

}  // namespace vboard

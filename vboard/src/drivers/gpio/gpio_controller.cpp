// The GPIO controller behind "GIO1:": the driver's five requests, the outside world driving input
// pads, and interrupts setting the events the library registered.
#include "drivers/gpio/gpio_controller.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "os/text.h"

namespace vboard {
namespace {

// The highest module GPIO index that has a pad (see gpioPadOf).
constexpr uint32_t kHighestGpioIndex = 34;

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
    showLocked(bank, pin);
}

void GpioController::showLocked(int bank, int pin) {
    const bool level = pins_[bank][pin].level();
    if (level == shown_[bank][pin]) return;
    shown_[bank][pin] = level;
    if (!liveWatched(LiveKind::Gpio)) return;
    LiveEvent event;
    event.kind = LiveKind::Gpio;
    LiveField index{"index", "", LiveField::Null};
    for (uint32_t i = 1; i <= kHighestGpioIndex; ++i)
        if (const auto pad = gpioPadOf(i); pad && pad->bank == bank && pad->pin == pin)
            index = LiveField{"index", std::to_string(i), LiveField::Number};
    event.fields = {index, {"pad", std::to_string(bank) + "." + std::to_string(pin)},
                    {"level", level ? "1" : "0", LiveField::Number}};
    publishLive(std::move(event));
}

// ---- Control side ----

bool GpioController::driveInput(int bank, int pin, bool level) {
    if (!onBoard(bank, pin)) return false;
    HANDLE fire = nullptr;
    {
        std::lock_guard<std::mutex> hold(lock_);
        GpioPinState& state = pins_[bank][pin];
        const bool before = state.input;
        state.input = level;
        state.driven = true;
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
            showLocked(bank, pin);
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

}  // namespace vboard

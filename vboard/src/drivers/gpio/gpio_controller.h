// The board's GPIO stream driver, "GIO1:", as a model: the seven 32-pin banks of the i.MX6 GPIO
// block, with the pin's direction, output latch, input pad and interrupt configuration.
//
// The driver reads its requests as records in the caller's input buffer and answers a pin read
// in that same record; there is no output buffer. The records below are the driver's own view of
// them, laid out as the compiler lays out the driver's structs (the event record carries a
// native HANDLE, so it is 16 bytes on a 64-bit host and 12 on the 32-bit module).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "os/host.h"
#include "drivers/gpio/gpio_waveform.h"
#include "vboard/gpio.h"
#include "vboard/vboard.h"

namespace vboard {

constexpr DWORD kGpioSetDirection = 0x224000;
constexpr DWORD kGpioSetPin = 0x224004;
constexpr DWORD kGpioGetPin = 0x224008;
constexpr DWORD kGpioSetEvent = 0x22400C;
constexpr DWORD kGpioClearEvent = 0x224010;

constexpr const char* kGpioDevice = "GIO1:";

struct GpioDirectionRecord {
    int32_t bank;
    int32_t pin;
    uint32_t pinDirection;  // 0 input, 1 output
    uint32_t interruptMode; // GpioInterruptMode; only meaningful for an input
};

struct GpioLevelRecord {
    int32_t bank;
    int32_t pin;
    uint32_t level;  // SET_PIN: the level to latch; GET_PIN: written back by the driver
};

struct GpioEventRecord {
    int32_t bank;
    int32_t pin;
    HANDLE eventHandle;
};

struct GpioPinRecord {
    int32_t bank;
    int32_t pin;
};

class GpioController : public StreamDriver, public GpioControl {
public:
    // The clock that stamps the waveform: the board's.
    explicit GpioController(const BoardClock& clock) : clock_(clock) {}

    DWORD ioControl(IoRequest& request) override;
    // An open that goes away takes its pins' interrupt registrations with it.
    void close(uint64_t instance) override;
    std::optional<std::string> decode(const TraceEntry& entry) const override;

    bool driveInput(int bank, int pin, bool level) override;
    GpioPinState pin(int bank, int pin) const override;
    std::vector<GpioInterrupt> interrupts() const override;
    void reset() override;
    // The board's power-on: reset pins, and no interrupt seen yet.
    void powerOn();
    // Starts a waveform of the pins into a VCD file, writing out the one running first; "" only
    // stops. False, with errno set, when a file can't be created or written.
    bool recordWaveform(const std::string& path);
    // What the `vcd` directive does: as recordWaveform, but a recording already going into the
    // same file goes on (the directive is applied again at every power-on).
    bool keepRecording(const std::string& path);

    static bool onBoard(int64_t bank, int64_t pin) {
        return bank >= 0 && bank < kGpioBanks && pin >= 0 && pin < kGpioPinsPerBank;
    }

private:
    DWORD setDirection(const IoRequest& request);
    DWORD setPin(const IoRequest& request);
    DWORD getPin(IoRequest& request);
    DWORD setEvent(const IoRequest& request);
    DWORD clearEvent(const IoRequest& request);

    // Records an interrupt of a pin and answers the event to set once the lock is released.
    HANDLE fireLocked(int bank, int pin, const GpioPinState& state);

    // Records a pin's change into the waveform and tells the board's watchers of a new level,
    // with lock_ held.
    void touchLocked(int bank, int pin);
    void showLocked(int bank, int pin);
    bool recordWaveformLocked(const std::string& path);

    const BoardClock& clock_;
    mutable std::mutex lock_;
    GpioWaveform waveform_;
    GpioPinState pins_[kGpioBanks][kGpioPinsPerBank];
    // The level each pin had when last touched: a watcher hears of changes only.
    bool shown_[kGpioBanks][kGpioPinsPerBank] = {};
    // Which open registered each pin's event (0 = none).
    uint64_t owners_[kGpioBanks][kGpioPinsPerBank] = {};
    unsigned registered_ = 0;  // pins with an owner
    Window<GpioInterrupt> interrupts_;
};

// Renders a GPIO request for the trace, or declines a call that is not one.
std::optional<std::string> decodeGpioRequest(const TraceEntry& entry);

// The "gpio" and "vcd" directives, on the controller they were installed with.
std::string gpioDirective(GpioController& gpio, const std::vector<std::string>& words);
std::string vcdDirective(GpioController& gpio, const std::vector<std::string>& words);

// Puts the controller on a board under construction, with its power-on step, the "gpio" and
// "vcd" directives and its requests' names.
void installGpio(Host& host);

}  // namespace vboard

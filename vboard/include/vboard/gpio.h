// The virtual GPIO controller behind "GIO1:": the i.MX6's seven GPIO banks of 32 pins.
//
// Bus side (what the library sends): the five GPIO requests, 0x224000 to 0x224010, with the
// records the board's driver reads. Control side (this header): drive inputs as the outside world
// would ("the button on pin 3.5 is pressed"), look at what the library drove, and see interrupts.
//
// Interrupt modes the model understands, as the i.MX6 interrupt configuration register numbers
// them, with 5 for no interrupt:
//   0 low level, 1 high level, 2 rising edge, 3 falling edge, 4 both edges, 5 none.
// A level mode fires each time the input is driven to (or registered at) its level; an edge mode
// fires when a driven input changes that way. Firing sets the event registered for the pin.
//
// Device models: a chip of your own on the pins is a stream driver put in front of "GIO1:" with
// vboard::addDriver that forwards to the board's controller (vboard::driver("GIO1:")). As every
// device model may, it may use the control API (this header's, vboard.h's, any family's) from
// inside a call, to drive an input as the output it just saw set would; only vboard::reset() is
// out of bounds there, as it waits for the calls in flight to end.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tarvik_platform.h"

namespace vboard {

enum GpioInterruptMode : uint32_t {
    kGpioLowLevel = 0,
    kGpioHighLevel = 1,
    kGpioRisingEdge = 2,
    kGpioFallingEdge = 3,
    kGpioBothEdges = 4,
    kGpioNoInterrupt = 5,
};

constexpr int kGpioBanks = 7;
constexpr int kGpioPinsPerBank = 32;

struct GpioPinState {
    bool output = false;     // direction: false = input (the reset state)
    bool latch = false;      // the level last driven by SET_PIN (kept for inputs too)
    bool input = false;      // the level the outside world drives on the pad
    uint32_t mode = kGpioNoInterrupt;
    HANDLE event = nullptr;  // registered by SET_EVENT, until CLEAR_EVENT
    bool driven = false;     // the outside world has driven the pad since power-on
    // What a GET_PIN reads: the latch for an output, the pad for an input.
    bool level() const { return output ? latch : input; }
};

// The pad behind a module GPIO index, as Tarvik.h numbers the module's pins: index 3 is bank 0,
// pin 5. Indices 1 to 23 and 34 have one; the others (0, 24 to 29, the serial ports' RTS lines,
// 30 to 33, 35 and up) answer nullopt.
struct GpioPad {
    int bank = 0;
    int pin = 0;
};
std::optional<GpioPad> gpioPadOf(uint32_t index);

// The board's VCD files name a pin's signals with short codes: the pins numbered in the order the
// recording first touched them, three signals each. A program that writes the same layout (the
// tool's panel does) uses these codes, so that a viewer's saved signal lists fit both files.
enum class GpioVcdSignal : unsigned { Level, Direction, Interrupt };
std::string gpioVcdCode(unsigned order, GpioVcdSignal signal);

struct GpioInterrupt {
    int bank = 0;
    int pin = 0;
    uint32_t mode = kGpioNoInterrupt;
    HANDLE event = nullptr;
};

class GpioControl {
public:
    virtual ~GpioControl() = default;
    // Drives an input pad from outside, firing the pin's interrupt when its mode says so. False,
    // and nothing driven, when the board has no such pin.
    virtual bool driveInput(int bank, int pin, bool level) = 0;
    // The same by module index (see gpioPadOf); false for an index without a GPIO.
    bool driveIndex(uint32_t index, bool level) {
        const auto pad = gpioPadOf(index);
        return pad && driveInput(pad->bank, pad->pin, level);
    }
    virtual GpioPinState pin(int bank, int pin) const = 0;
    // Interrupts fired so far, oldest first.
    virtual std::vector<GpioInterrupt> interrupts() const = 0;
    // Puts every pin back in its reset state: input, low, no interrupt.
    virtual void reset() = 0;
};

// The board's GPIO controller (the model behind "GIO1:", also while the device is removed).
GpioControl& gpio();

}  // namespace vboard

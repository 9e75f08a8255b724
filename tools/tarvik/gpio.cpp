// tarvik gpio: pins by module index, levels shown as a person reads the pin (1 high, 0 low).
#include <memory>

#include "Tarvik.h"
#include "tool.h"
#include "vboard/gpio.h"

namespace tarvik_tool {

std::optional<std::pair<int, int>> gpioPad(uint32_t index) {
    // The board's own table of the module's connector: the tool names the pads the board drives.
    const auto pad = vboard::gpioPadOf(index);
    if (!pad) return std::nullopt;
    return std::make_pair(pad->bank, pad->pin);
}

namespace {

constexpr uint64_t kMaxWatchSeconds = 86400;

struct GpioArgs {
    std::string index, level, direction, mode = "both", count = "1", timeout = "0";
};

uint32_t pinIndex(const std::string& text, const std::string& command) {
    return number(text, command + ": INDEX", UINT32_MAX);
}

// The library refuses an index without a GPIO behind it (and says so in its debug lines); for
// a read its answer then looks like a high pin, so the tool says what happened instead.
void requirePad(uint32_t index, const std::string& command) {
    if (!gpioPad(index))
        throw Failure(command + ": module index " + std::to_string(index) +
                      " has no GPIO (1 to 23 and 34 have; 24 to 29 are the serial ports' RTS lines)");
}

uint8_t level01(const std::string& text, const std::string& command) {
    return static_cast<uint8_t>(choice(text, command + ": LEVEL", {"0", "1"}));
}

}  // namespace

void addGpioCommands(CLI::App& app, Tool& tool) {
    auto* gpio = app.add_subcommand("gpio", "GPIO pins by module index (1-23, 34)");
    gpio->require_subcommand(1);
    auto args = std::make_shared<GpioArgs>();

    auto* get = gpio->add_subcommand("get", "read a pin: 1 high, 0 low");
    get->add_option("INDEX", args->index, "module GPIO index")->required();
    get->callback([&tool, args] {
        const uint32_t index = pinIndex(args->index, "gpio get");
        // GPIOGetPin answers 1 for a pin that reads low: the tool shows the pin's level.
        const int level = GPIOGetPin(index) == 1 ? 0 : 1;
        requirePad(index, "gpio get");
        tool.emit("gpio get", std::to_string(level), {{"index", index}, {"level", level}});
    });

    auto* set = gpio->add_subcommand("set", "drive a pin's output latch to 0 or 1");
    set->add_option("INDEX", args->index, "module GPIO index")->required();
    set->add_option("LEVEL", args->level, "0 or 1")->required();
    set->callback([&tool, args] {
        const uint32_t index = pinIndex(args->index, "gpio set");
        const uint8_t level = level01(args->level, "gpio set");
        // GPIOSetPin answers nothing: a refusal shows only in the debug lines.
        GPIOSetPin(index, level);
        requirePad(index, "gpio set");
        tool.emit("gpio set", "", {{"index", index}, {"level", level}});
    });

    auto* dir = gpio->add_subcommand("dir", "make a pin an input or an output, driving LEVEL");
    dir->add_option("INDEX", args->index, "module GPIO index")->required();
    dir->add_option("DIRECTION", args->direction, "in or out")->required();
    dir->add_option("LEVEL", args->level, "0 or 1 (default 0), sent for an input too");
    dir->callback([&tool, args] {
        const uint32_t index = pinIndex(args->index, "gpio dir");
        const bool input = choice(args->direction, "gpio dir: DIRECTION", {"out", "in"}) == 1;
        const uint8_t level = args->level.empty() ? 0 : level01(args->level, "gpio dir");
        Tool::check(GPIOSetDirection(index, input ? 1 : 0, level) == 1, "gpio dir",
                    "the library refused index " + std::to_string(index) + " as an " +
                        (input ? "input" : "output"));
        tool.emit("gpio dir", "",
                  {{"index", index}, {"direction", input ? "in" : "out"}, {"level", level}});
    });

    auto* watch = gpio->add_subcommand("watch", "wait for a pin's interrupts and print each");
    watch->add_option("INDEX", args->index, "module GPIO index")->required();
    watch->add_option("--mode", args->mode, "rising, falling, both (edges), high or low (levels)")
        ->capture_default_str();
    watch->add_option("--count", args->count, "interrupts to wait for")->capture_default_str();
    watch->add_option("--timeout", args->timeout, "give up after S seconds (0: never)")
        ->type_name("S")
        ->capture_default_str();
    watch->callback([&tool, args] {
        static const std::vector<std::string> kModes = {"rising", "falling", "both", "high", "low"};
        static constexpr uint32_t kModeCodes[] = {TARVIK_GPIO_RISING_EDGE, TARVIK_GPIO_FALLING_EDGE,
                                                  TARVIK_GPIO_BOTH_EDGES, TARVIK_GPIO_HIGH_LEVEL,
                                                  TARVIK_GPIO_LOW_LEVEL};
        const uint32_t index = pinIndex(args->index, "gpio watch");
        const size_t mode = choice(args->mode, "gpio watch: --mode", kModes);
        const uint32_t count = number(args->count, "gpio watch: --count", 1000000);
        const uint32_t seconds = number(args->timeout, "gpio watch: --timeout", kMaxWatchSeconds);
        if (count == 0) throw UsageError("gpio watch: --count must be at least 1");

        HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        Tool::check(event != nullptr, "gpio watch", "no event to wait on");
        const bool armed = GPIOSetInterrupt(index, kModeCodes[mode], event) == 1;
        uint32_t seen = 0;
        while (armed && seen < count) {
            if (WaitForSingleObject(event, seconds == 0 ? INFINITE : seconds * 1000) != WAIT_OBJECT_0)
                break;
            ++seen;
            tool.emit("gpio watch", "index " + std::to_string(index) + ": " + kModes[mode],
                      {{"index", index}, {"mode", kModes[mode]}, {"event", seen}});
        }
        if (armed) GPIOClearInterrupt(index);
        CloseHandle(event);
        Tool::check(armed, "gpio watch",
                    "the library refused an interrupt on index " + std::to_string(index));
        Tool::check(seen == count, "gpio watch",
                    "timed out after " + std::to_string(seconds) + " s with " +
                        std::to_string(seen) + " of " + std::to_string(count) + " interrupts");
    });
}

}  // namespace tarvik_tool

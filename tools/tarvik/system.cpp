// tarvik phy, backlight, touch, registry, kitl, reset: the module's system services.
#include <cstdio>
#include <memory>

#include "Tarvik.h"
#include "tool.h"

namespace tarvik_tool {
namespace {

struct SystemArgs {
    std::string device, address, value, width = "32", level, seconds, onOff;
    bool readback = false;
};

struct Access {
    uint8_t device;
    uint32_t address;
    uint8_t width;
};

Access access(const SystemArgs& a, const std::string& command) {
    const auto device = static_cast<uint8_t>(number(a.device, command + ": DEV", 9));
    if (device == 0) throw UsageError(command + ": DEV must be 1 to 9 (PHY1: to PHY9:)");
    const auto width = static_cast<uint8_t>(number(a.width, command + ": WIDTH", 32));
    if (width != 8 && width != 16 && width != 32)
        throw UsageError(command + ": WIDTH '" + a.width + "' is not 8, 16 or 32");
    return {device, number(a.address, command + ": ADDR"), width};
}

// devmem's way: zero-padded to the register's width.
std::string padded(uint32_t value, unsigned width) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", static_cast<int>(width / 4), static_cast<unsigned>(value));
    return text;
}

// A command that is one call answering 1 or 0.
void simple(CLI::App* parent, Tool& tool, const char* name, const char* help, const std::string& command,
            uint8_t (*call)(), const char* refused) {
    parent->add_subcommand(name, help)->callback([&tool, command, call, refused] {
        Tool::check(call() == 1, command, refused);
        tool.emit(command, "");
    });
}

uint8_t kitlOn() { return ControlPowerKITL(1); }
uint8_t kitlOff() { return ControlPowerKITL(0); }

}  // namespace

void addSystemCommands(CLI::App& app, Tool& tool) {
    auto a = std::make_shared<SystemArgs>();

    auto* phy = app.add_subcommand("phy", "physical registers through PHY1: to PHY9:, like devmem");
    phy->require_subcommand(1);
    auto* read = phy->add_subcommand("read", "read a register");
    read->add_option("DEV", a->device, "driver 1 to 9")->required();
    read->add_option("ADDR", a->address, "physical address")->required();
    read->add_option("WIDTH", a->width, "8, 16 or 32")->capture_default_str();
    read->callback([&tool, a] {
        const Access x = access(*a, "phy read");
        // 0 is also what a failed read answers; the debug lines tell the two apart.
        const uint32_t value = ReadPhysicalAddress(x.device, x.address, x.width);
        tool.emit("phy read", padded(value, x.width),
                  {{"device", x.device}, {"address", x.address}, {"width", x.width}, {"value", value}});
    });
    auto* write = phy->add_subcommand("write", "write a register");
    write->add_option("DEV", a->device, "driver 1 to 9")->required();
    write->add_option("ADDR", a->address, "physical address")->required();
    write->add_option("VALUE", a->value, "value to write")->required();
    write->add_option("WIDTH", a->width, "8, 16 or 32")->capture_default_str();
    write->add_flag("--readback", a->readback, "read the register back and print it");
    write->callback([&tool, a] {
        const Access x = access(*a, "phy write");
        const uint32_t value = number(a->value, "phy write: VALUE", x.width == 32 ? UINT32_MAX : (1ull << x.width) - 1);
        const uint32_t answer = WritePhysicalAddress(x.device, x.address, x.width, value, a->readback ? 1 : 0);
        // 0xFFFFFFFF is the library's failure; read back from a 32-bit register it may also be
        // the register's value, which the debug lines then show.
        Tool::check(answer != 0xFFFFFFFFu || (a->readback && x.width == 32), "phy write",
                    "the write to " + padded(x.address, 32) + " failed");
        Json fields = {{"device", x.device}, {"address", x.address}, {"width", x.width}, {"value", value}};
        if (a->readback) fields["readback"] = answer;
        tool.emit("phy write", a->readback ? padded(answer, x.width) : "", fields);
    });

    auto* backlight = app.add_subcommand("backlight", "the display's backlight");
    backlight->require_subcommand(1);
    auto* level = backlight->add_subcommand("level", "set the brightness");
    level->add_option("N", a->level, "brightness level")->required();
    level->callback([&tool, a] {
        const uint32_t n = number(a->level, "backlight level: N");
        Tool::check(SetBacklightLevel(n) == 1, "backlight level", "the driver refused level " + a->level);
        tool.emit("backlight level", "", {{"level", n}});
    });
    auto* suspend = backlight->add_subcommand("suspend", "switch off after SECONDS idle (on) or never (off)");
    suspend->add_option("SECONDS", a->seconds, "idle time")->required();
    suspend->add_option("STATE", a->onOff, "on or off")->required();
    suspend->callback([&tool, a] {
        const uint32_t seconds = number(a->seconds, "backlight suspend: SECONDS");
        const bool on = choice(a->onOff, "backlight suspend: STATE", {"off", "on"}) == 1;
        Tool::check(SetBacklightSuspend(seconds, on ? 1 : 0) == 1, "backlight suspend",
                    "the settings could not be written");
        tool.emit("backlight suspend", "", {{"seconds", seconds}, {"enabled", on}});
    });

    auto* touch = app.add_subcommand("touch", "the touch screen's calibration");
    touch->require_subcommand(1);
    simple(touch, tool, "calibrate", "run the calibration", "touch calibrate", CalibrateTouch,
           "the calibration failed");
    simple(touch, tool, "clear", "delete the stored calibration", "touch clear", ClearTouchCalibrationData,
           "there was no calibration to delete");

    auto* registry = app.add_subcommand("registry", "the registry's persistent copies");
    registry->require_subcommand(1);
    simple(registry, tool, "save", "write both hives through to storage", "registry save", SaveRegistry,
           "the hives could not be saved");
    simple(registry, tool, "backup", "save both hives to the storage card", "registry backup",
           CreateRegistryBackup, "the backup could not be made");
    simple(registry, tool, "restore", "restore both hives from the card, then reset", "registry restore",
           RestoreRegistryBackup, "there is no complete backup on the card");

    auto* kitl = app.add_subcommand("kitl", "the kernel debug link's power");
    kitl->require_subcommand(1);
    simple(kitl, tool, "on", "power the link", "kitl on", kitlOn, "the link could not be powered");
    simple(kitl, tool, "off", "switch the link off", "kitl off", kitlOff, "the link could not be switched off");
    simple(kitl, tool, "restart", "switch the link off and on", "kitl restart", RestartPowerKITL,
           "the link could not be restarted");

    app.add_subcommand("reset", "reset the module")->callback([&tool] {
        // On the module the call does not come back; on the virtual board the board restarts.
        SoftReset();
        tool.state = SessionState{};
        tool.emit("reset", "");
    });
}

}  // namespace tarvik_tool

// The door lamp's test on the virtual board: the test plays the door switch and looks at the
// lamp, with the board's C++ control API (and resets it with the C one).
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <vboard/vboard.h>
#include <vboard/vboard_c.h>

#include "door.h"

namespace {

int failures = 0;

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

bool lampLit() {
    const vboard::GpioPinState lamp = vboard::gpio().pin(0, 2);  // index 1 is bank 0, pin 2
    return lamp.output && lamp.latch;
}

}  // namespace

int main() {
    vboard_reset();
    vboard::setVirtualSleep(true);
    const std::string waveform = "door_monitor_test.vcd";
    check(vboard::recordVcd(waveform), "the waveform file can be made");

    check(door_setup() == 1, "the lamp is set up");
    check(!lampLit(), "the lamp starts dark");
    vboard::gpio().driveInput(0, 5, true);  // index 3: the door opens
    check(door_update() == 1 && lampLit(), "an open door lights the lamp");
    vboard::advanceClock(2000000000);      // two seconds later the door closes
    vboard::gpio().driveInput(0, 5, false);
    check(door_update() == 0 && !lampLit(), "a closed door puts the lamp out");

    check(vboard::misuses().empty(), "no handle was misused");
    check(vboard::recordVcd(""), "the waveform is written");
    std::stringstream text;
    text << std::ifstream(waveform).rdbuf();
    check(text.str().find(" gpio0_2 ") != std::string::npos &&
              text.str().find(" gpio0_5 ") != std::string::npos,
          "the waveform shows the lamp and the switch");

    std::printf("%s\n", failures == 0 ? "door_monitor_test: passed" : "door_monitor_test: FAILED");
    return failures == 0 ? 0 : 1;
}

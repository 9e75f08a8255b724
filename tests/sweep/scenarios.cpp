// The sequences the fault sweep runs: for every export a valid use of it, as an application makes
// it (open, configure, transfer, close for the buses; each GPIO operation; each system service).
#include "sweep.h"

#include <atomic>
#include <cstring>
#include <thread>

#include "Tarvik.h"
#include "vboard/vboard.h"

namespace sweep {

namespace {

// The caller's event for the GPIO interrupt: the application's, created before the sequence and
// closed after it, so it is never the library's to leak.
HANDLE gInterruptEvent = nullptr;

int64_t u8(uint8_t value) { return value; }

// Every uint8_t export answers 0 for failure, the void ones answer nothing.
Step answer(const char* name, std::function<uint8_t()> call, std::vector<std::string> ignored = {}) {
    return Step{name, [call] { return u8(call()); }, 0, std::move(ignored)};
}
Step nothing(const char* name, std::function<void()> call) {
    return Step{name, [call] { call(); return int64_t{0}; }, std::nullopt, {}};
}

std::vector<Scenario> build() {
    std::vector<Scenario> all;

    // ---- Versions ----
    all.push_back({"versions", nullptr, {},
                   {Step{"TarvikGetVersion", [] { return int64_t{TarvikGetVersion()}; }, std::nullopt, {}},
                    Step{"BSPGetVersion", [] { return int64_t{BSPGetVersion()}; }, 0, {}},
                    Step{"WinCEImageGetVersion", [] { return int64_t{WinCEImageGetVersion()}; }, 0, {}}},
                   nullptr});

    // ---- GPIO: index 3 is bank 0, pin 5; at power-on it reads low, which GPIOGetPin answers 1 ----
    all.push_back({"gpio-direction", nullptr, {}, {answer("GPIOSetDirection", [] { return GPIOSetDirection(3, 0, 1); })}, nullptr});
    all.push_back({"gpio-set-pin", nullptr, {}, {nothing("GPIOSetPin", [] { GPIOSetPin(3, 1); })}, nullptr});
    all.push_back({"gpio-get-pin", nullptr, {}, {answer("GPIOGetPin", [] { return GPIOGetPin(3); })}, nullptr});
    all.push_back({"gpio-interrupt",
                   [] { gInterruptEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr); },
                   {},
                   {answer("GPIOSetInterrupt", [] { return GPIOSetInterrupt(3, TARVIK_GPIO_RISING_EDGE, gInterruptEvent); }),
                    answer("GPIOSetInterrupt", [] { return GPIOSetInterrupt(3, TARVIK_GPIO_BOTH_EDGES, gInterruptEvent); }),
                    // Answers 1 whenever the driver was asked, even when it refused.
                    answer("GPIOClearInterrupt", [] { return GPIOClearInterrupt(3); }, {"DeviceIoControl"})},
                   [] { CloseHandle(gInterruptEvent); }});

    // ---- I2C: bus 0 has a 32 KiB EEPROM at 0x50 ----
    all.push_back({"i2c", nullptr, {},
                   {answer("I2COpen", [] { return I2COpen(0, 1); }),
                    answer("I2CWrite", [] { return I2CWrite(0, 0, 0x50, 0x10, 0x5A); }),
                    answer("I2CRead", [] { uint8_t v = 0; return I2CRead(0, 0, 0x50, 0x10, &v); }),
                    answer("I2CWriteMultipleBytes", [] {
                        const uint8_t data[4] = {1, 2, 3, 4};
                        return I2CWriteMultipleBytes(0, 0, 0x50, 0x20, 4, data);
                    }),
                    // The one transfer that goes on when the bus could not be configured.
                    answer("I2CReadMultipleBytes", [] {
                        uint8_t data[4] = {};
                        return I2CReadMultipleBytes(0, 0, 0x50, 0x20, 4, data);
                    }, {"DeviceIoControl 0x002A2EE4", "DeviceIoControl 0x002A2EF8", "DeviceIoControl 0x002A2EE8"}),
                    nothing("I2CClose", [] { I2CClose(0); })},
                   nullptr});

    // A transfer closes the handle I2COpen kept before it opens its own: this is the close that
    // finds one.
    all.push_back({"i2c-open-close", nullptr, {},
                   {answer("I2COpen", [] { return I2COpen(2, 0); }), nothing("I2CClose", [] { I2CClose(2); })},
                   nullptr});

    // ---- SPI ----
    all.push_back({"spi", nullptr, {},
                   {answer("SPIOpen", [] { return SPIOpen(0); }),
                    answer("SPIConfigure", [] { return SPIConfigure(0, 0, 1000000, 0); }),
                    answer("SPIExchange", [] {
                        const uint8_t tx[4] = {0x9F, 0, 0, 0};
                        uint8_t rx[4] = {};
                        return SPIExchange(0, 32, tx, rx);
                    }, {"WaitForSingleObject"}),  // the completion wait's answer is not examined
                    nothing("SPIClose", [] { SPIClose(0); })},
                   nullptr});

    // ---- UART: COM1 and COM2 are wired to each other; the bytes UARTRead takes arrive from outside ----
    all.push_back({"uart", nullptr, {},
                   {answer("UARTOpen", [] { return UARTOpen(1, 0, 115200); }),
                    // Opening an open port closes its old handle first.
                    answer("UARTOpen", [] { return UARTOpen(1, 1, 57600); }),
                    answer("UARTConfigure", [] { return UARTConfigure(1, 0, 0, 0, 8, 115200); }),
                    answer("UARTConfigureStructure", [] {
                        DCB dcb;
                        std::memset(&dcb, 0, sizeof dcb);
                        dcb.BaudRate = 115200;
                        dcb.fBinary = 1;
                        dcb.ByteSize = 8;
                        return UARTConfigureStructure(1, &dcb);
                    }),
                    // The flush before a write, a read or new time-outs reports a failure and goes on.
                    answer("UARTWrite", [] { return UARTWrite(1, "ping"); }, {"PurgeComm"}),
                    answer("UARTConfigureTimeout", [] { return UARTConfigureTimeout(1, 0, 0); }, {"PurgeComm"}),
                    answer("UARTClearBuffer", [] { return UARTClearBuffer(1); }),
                    answer("UARTRead", [] {
                        // UARTRead flushes the port before it waits: the bytes come once it waits.
                        std::atomic<bool> done{false};
                        std::thread peer([&done] {
                            while (!done) {
                                if (vboard::serial().awaitBlocked("COM1", 20)) {
                                    vboard::serial().receive("COM1", {'p', 'o', 'n', 'g'});
                                    return;
                                }
                            }
                        });
                        uint8_t buffer[4] = {};
                        const uint8_t result = UARTRead(1, 4, buffer);
                        done = true;
                        peer.join();
                        return result;
                    }, {"PurgeComm"}),
                    nothing("UARTClose", [] { UARTClose(1); })},
                   nullptr});

    // ---- CAN: another node answers the board's frame ----
    all.push_back({"can", [] { vboard::can().setReceiveWait(20); }, {},
                   {answer("CANOpen", [] { return CANOpen(1); }),
                    answer("CANConfigureMode", [] { return CANConfigureMode(1, 0, 250000, 0, 0); }),
                    answer("CANConfigureTiming", [] { return CANConfigureTiming(1, 15, 2, 3, 2, 0); }),
                    answer("CANConfigureMessage", [] { return CANConfigureMessage(1, 0, 0x123, 0, 0, 1); }),
                    answer("CANWrite", [] {
                        const uint8_t data[4] = {0xDE, 0xAD, 0xBE, 0xEF};
                        uint32_t status = 0;
                        return CANWrite(1, data, 4, &status);
                    }),
                    answer("CANConfigureMessage", [] { return CANConfigureMessage(1, 0, 0x321, 0, 0, 0); }),
                    answer("CANRead", [] {
                        vboard::can().inject(*vboard::parseCanFrame("321#0102"));
                        uint8_t buffer[8] = {};
                        uint32_t status = 0;
                        return CANRead(1, buffer, 8, &status);
                    }),
                    answer("CANGetMessageParameter", [] {
                        uint32_t id = 0, length = 0, frame = 0, value = 0, transmit = 0;
                        uint8_t aux = 0;
                        return CANGetMessageParameter(1, &id, &length, &frame, &aux, &value, &transmit, 0);
                    }),
                    answer("CANConfigureFilter", [] { return CANConfigureFilter(1, 0x123, 0x7FF, 0, 0); }),
                    answer("CANResetFilter", [] { return CANResetFilter(1); }),
                    nothing("CANClose", [] { CANClose(1); })},
                   nullptr});

    // ---- System services ----
    all.push_back({"physical-read", nullptr, {},
                   {Step{"ReadPhysicalAddress", [] { return int64_t{ReadPhysicalAddress(1, vboard::kAnatopDigprog, 32)}; }, 0, {}}},
                   nullptr});
    all.push_back({"physical-write", nullptr, {},
                   {Step{"WritePhysicalAddress",
                         [] { return int64_t{WritePhysicalAddress(2, vboard::kSrcScr, 32, 0x521, 1)}; },
                         int64_t{0xFFFFFFFF}, {}}},
                   nullptr});
    all.push_back({"backlight", nullptr, {},
                   {answer("SetBacklightLevel", [] { return SetBacklightLevel(100); }),
                    answer("SetBacklightSuspend", [] { return SetBacklightSuspend(60, 1); })},
                   nullptr});
    all.push_back({"touch", nullptr, {},
                   {answer("CalibrateTouch", [] { return CalibrateTouch(); }),
                    answer("ClearTouchCalibrationData", [] { return ClearTouchCalibrationData(); })},
                   nullptr});
    all.push_back({"registry", nullptr, {},
                   {answer("SaveRegistry", [] { return SaveRegistry(); }),
                    // Removing an earlier backup first may fail: there need not be one.
                    answer("CreateRegistryBackup", [] { return CreateRegistryBackup(); }, {"DeleteFileW"})},
                   nullptr});
    all.push_back({"registry-restore", nullptr,
                   {answer("CreateRegistryBackup", [] { return CreateRegistryBackup(); })},
                   // Once both backup files are found, each later step reports its failure and the restore goes on
                   // to the reset: only a missing backup answers 0.
                   {answer("RestoreRegistryBackup", [] { return RestoreRegistryBackup(); },
                           {"CopyFileW", "RegReplaceKeyW", "DeleteFileW", "SetCurrentUser",
                            "SetFileAttributesW", "CreateFileW", "DeviceIoControl"})},
                   nullptr});
    all.push_back({"kitl", nullptr, {},
                   {answer("ControlPowerKITL", [] { return ControlPowerKITL(0); }),
                    answer("ControlPowerKITL", [] { return ControlPowerKITL(1); }),
                    answer("RestartPowerKITL", [] { return RestartPowerKITL(); })},
                   nullptr});
    all.push_back({"soft-reset", nullptr, {}, {nothing("SoftReset", [] { SoftReset(); })}, nullptr});
    return all;
}

}  // namespace

const std::vector<Scenario>& scenarios() {
    static const std::vector<Scenario> all = build();
    return all;
}

}  // namespace sweep

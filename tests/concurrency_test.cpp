// src/gpio, src/i2c, src/uart, src/spi, src/can: operations on different GPIO indices, different
// I2C buses and different serial ports, run at the same time from threads of their own, as an
// application with one thread per peripheral does; with the SPI ports (one thread for both) and the
// CAN controller besides in the last test. Callers only serialise per index, bus or port, so these
// must not race in the library nor in the board under it; the ThreadSanitizer build (make tsan)
// runs them.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "Tarvik.h"
#include "library_test.h"
#include "vboard/vboard.h"

namespace {

class Concurrency : public tarvik_test::LibraryTest {};

constexpr int kRounds = 50;

// Runs each worker on a thread of its own, all at once, and waits for them.
void together(const std::vector<std::function<void()>>& workers) {
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (const auto& work : workers)
        threads.emplace_back([&ready, &work, n = static_cast<int>(workers.size())] {
            ++ready;
            while (ready < n) std::this_thread::yield();
            work();
        });
    for (auto& t : threads) t.join();
}

struct Pin {
    uint32_t index;
    int bank;
    int pin;
};

// Each thread owns one index: direction, level, read-back and an edge interrupt that the outside
// world fires on its pad.
std::function<void()> gpioWorker(Pin p, std::atomic<int>& failures) {
    return [p, &failures] {
        HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        for (int round = 0; round < kRounds; ++round) {
            bool ok = GPIOSetDirection(p.index, 0, 1) == 1;
            GPIOSetPin(p.index, 0);
            ok = ok && GPIOSetDirection(p.index, 1, 0) == 1;
            vboard::gpio().driveInput(p.bank, p.pin, 0);
            ok = ok && GPIOGetPin(p.index) == 1;  // a low pin answers 1
            ok = ok && GPIOSetInterrupt(p.index, TARVIK_GPIO_RISING_EDGE, event) == 1;
            vboard::gpio().driveInput(p.bank, p.pin, 1);
            ok = ok && WaitForSingleObject(event, 5000) == WAIT_OBJECT_0;
            ok = ok && GPIOClearInterrupt(p.index) == 1;
            vboard::gpio().driveInput(p.bank, p.pin, 0);
            if (!ok) ++failures;
        }
        CloseHandle(event);
    };
}

TEST_F(Concurrency, GpioOperationsOnDifferentIndicesRunTogether) {
    std::atomic<int> failures{0};
    together({gpioWorker({1, 0, 2}, failures), gpioWorker({5, 3, 5}, failures),
              gpioWorker({10, 5, 14}, failures), gpioWorker({13, 6, 0}, failures)});
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(vboard::openDriverHandles(), 0u);
}

TEST_F(Concurrency, I2cTransfersOnDifferentBusesRunTogether) {
    std::atomic<int> failures{0};
    // Bus 0: the EEPROM at 0x50, written and read back. Bus 2: the temperature sensor at 0x48.
    auto eeprom = [&failures] {
        for (int round = 0; round < kRounds; ++round) {
            const uint8_t data[3] = {static_cast<uint8_t>(round), 0x5A, 0xA5};
            uint8_t back[3] = {};
            uint8_t one = 0;
            bool ok = I2COpen(0, 1) == 1;
            ok = ok && I2CWriteMultipleBytes(0, 0, 0x50, 0x20, 3, data) == 1;
            ok = ok && I2CReadMultipleBytes(0, 0, 0x50, 0x20, 3, back) == 1;
            ok = ok && I2CWrite(0, 0, 0x50, 0x30, 0x77) == 1 && I2CRead(0, 0, 0x50, 0x30, &one) == 1;
            ok = ok && back[0] == data[0] && back[1] == 0x5A && back[2] == 0xA5 && one == 0x77;
            I2CClose(0);
            if (!ok) ++failures;
        }
    };
    auto sensor = [&failures] {
        for (int round = 0; round < kRounds; ++round) {
            uint8_t value[2] = {};
            bool ok = I2COpen(2, 0) == 1;
            ok = ok && I2CReadMultipleBytes(2, 0, 0x48, 0x00, 2, value) == 1;
            I2CClose(2);
            if (!ok) ++failures;
        }
    };
    together({eeprom, sensor});
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(vboard::openDriverHandles(), 0u);
}

// Each port is wired back to itself, so that what one writes never lands in the other's read:
// each configures, writes, clears and reads what the outside world sends it, while the other
// does the same.
std::function<void()> uartWorker(uint32_t port, std::atomic<int>& failures) {
    return [port, &failures] {
        const std::string name = "COM" + std::to_string(port);
        bool ok = UARTOpen(port, 0, 115200) == 1;
        for (int round = 0; ok && round < kRounds / 5; ++round) {
            ok = UARTConfigure(port, 0, 0, 0, 8, 115200) == 1 && UARTWrite(port, "ping") == 1 &&
                 UARTClearBuffer(port) == 1;
            std::atomic<bool> done{false};
            std::thread outside([&] {
                while (!done)
                    if (vboard::serial().awaitBlocked(name, 20)) {
                        vboard::serial().receive(name, {'o', 'k'});
                        return;
                    }
            });
            uint8_t buffer[2] = {};
            ok = ok && UARTRead(port, 2, buffer) == 1 && buffer[0] == 'o' && buffer[1] == 'k';
            done = true;
            outside.join();
        }
        UARTClose(port);
        if (!ok) ++failures;
    };
}

void loopBothPorts() {
    ASSERT_EQ(vboard::serial().loopback("COM1"), "");
    ASSERT_EQ(vboard::serial().loopback("COM2"), "");
}

TEST_F(Concurrency, SerialPortsRunTogether) {
    vboard::setVirtualSleep(true);
    loopBothPorts();
    std::atomic<int> failures{0};
    together({uartWorker(1, failures), uartWorker(2, failures)});
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(vboard::openDriverHandles(), 0u);
}

// Both SPI ports from one thread, as Tarvik.h asks (they share one completion event): the
// flash's identification on port 0, the loopback on port 1.
std::function<void()> spiWorker(std::atomic<int>& failures) {
    return [&failures] {
        bool ok = SPIOpen(0) == 1 && SPIOpen(1) == 1 && SPIConfigure(0, 0, 1000000, 0) == 1 &&
                  SPIConfigure(1, 0, 1000000, 0) == 1;
        for (int round = 0; ok && round < kRounds; ++round) {
            uint8_t id[4] = {0x9F, 0, 0, 0};
            uint8_t back[2] = {};
            const uint8_t sent[2] = {static_cast<uint8_t>(round), 0xA5};
            ok = SPIExchange(0, 32, id, id) == 1 && id[1] == 0xEF && id[2] == 0x40 &&
                 id[3] == 0x14 && SPIExchange(1, 16, sent, back) == 1 && back[0] == sent[0] &&
                 back[1] == 0xA5;
        }
        SPIClose(0);
        SPIClose(1);
        if (!ok) ++failures;
    };
}

// The CAN controller in loopback: each frame sent comes back to the reader.
std::function<void()> canWorker(std::atomic<int>& failures) {
    return [&failures] {
        bool ok = CANOpen(1) == 1 && CANConfigureMode(1, 0, 500000, 0, 1) == 1 &&
                  CANConfigureMessage(1, 0, 0x123, 0, 0, 1) == 1;
        for (int round = 0; ok && round < kRounds; ++round) {
            const uint8_t data[2] = {static_cast<uint8_t>(round), 0x5A};
            uint8_t back[8] = {};
            uint32_t id = 0;
            ok = CANWrite(1, data, 2, nullptr) == 1 && CANRead(1, back, 8, nullptr) == 1 &&
                 CANGetMessageParameter(1, &id, nullptr, nullptr, nullptr, nullptr, nullptr, 0) == 1 &&
                 id == 0x123 && back[0] == data[0] && back[1] == 0x5A;
        }
        CANClose(1);
        if (!ok) ++failures;
    };
}

// Every family's independent users at once: the board's one lock, trace and debug output under
// all of them.
TEST_F(Concurrency, AllFamiliesRunTogether) {
    vboard::setVirtualSleep(true);
    loopBothPorts();
    std::atomic<int> failures{0};
    together({gpioWorker({2, 0, 4}, failures), gpioWorker({9, 3, 8}, failures),
              uartWorker(1, failures), spiWorker(failures), canWorker(failures), [&failures] {
                  for (int round = 0; round < kRounds; ++round)
                      if (I2CWrite(0, 0, 0x50, 0x40, static_cast<uint8_t>(round)) != 1) ++failures;
              }});
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(vboard::openDriverHandles(), 0u);
}

}  // namespace

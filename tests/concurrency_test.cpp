// Operations on different GPIO indices, different I2C buses and different serial ports, run at
// the same time from threads of their own, as an application with one thread per peripheral does.
// Callers only serialise per index, bus or port, so these must not race in the library nor in the
// board under it; the ThreadSanitizer build (make tsan) runs them.
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

// Every family's independent users at once: the board's one lock, trace and debug output under
// all of them.
TEST_F(Concurrency, AllFamiliesRunTogether) {
    vboard::setVirtualSleep(true);
    loopBothPorts();
    std::atomic<int> failures{0};
    together({gpioWorker({2, 0, 4}, failures), gpioWorker({9, 3, 8}, failures),
              uartWorker(1, failures), [&failures] {
                  for (int round = 0; round < kRounds; ++round)
                      if (I2CWrite(0, 0, 0x50, 0x40, static_cast<uint8_t>(round)) != 1) ++failures;
              }});
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(vboard::openDriverHandles(), 0u);
}

}  // namespace

// src/gpio: the five GPIO exports on the virtual board: the exact requests and debug lines of every
// path, the RTS lines, the interrupt lifecycle and the handles left behind.
#include <cstring>
#include <atomic>
#include <functional>
#include <thread>

#include "Tarvik.h"
#include "gpio/gpio_records.h"
#include "library_test.h"
#include "test_support.h"

using tarvik_test::Case;
using tarvik_test::codesAndInputs;
using tarvik_test::countOf;
using tarvik_test::expectNoMisuse;
using tarvik_test::gpioEventRecord;
using tarvik_test::Lines;
using tarvik_test::Request;
using tarvik_test::words;

namespace {

constexpr DWORD kDirection = 0x224000, kSetPin = 0x224004, kGetPin = 0x224008,
                kSetEvent = 0x22400C, kClearEvent = 0x224010;

void armRejection(DWORD code, DWORD error = ERROR_GEN_FAILURE) {
    vboard::armFault({"DeviceIoControl", "GIO1:", code, 0, error});
}

// Each case starts with the GPIO pins at power-on and no fault armed, on the driver the test left.
void runCases(const std::vector<Case>& cases) {
    tarvik_test::CaseRules rules;
    rules.start = [] {
        vboard::clearFaults();
        vboard::gpio().reset();
    };
    rules.sent = codesAndInputs;
    tarvik_test::runCases(cases, rules);
}

int setPin(uint32_t index, uint8_t level) {
    GPIOSetPin(index, level);
    return -1;
}

}  // namespace

class GpioOperations : public tarvik_test::LibraryTest {};
class GpioInterrupt : public tarvik_test::LibraryTest {};
class GpioHandles : public tarvik_test::LibraryTest {};

TEST_F(GpioOperations, SendTheRecordsAndPrintTheLinesOfASuccess) {
    runCases({
        {"set pin 1 high", nullptr, [] { return setPin(1, 1); }, -1,
         {"VELNA set gpio 0 pin 2 - Rout 1\r\n", "VELNA gpio operate successful\r\n"},
         {{kSetPin, words({0, 2, 1})}}},
        {"a level flag of 2 drives low", nullptr, [] { return setPin(16, 2); }, -1,
         {"VELNA set gpio 6 pin 13 - Rout 1\r\n", "VELNA gpio operate successful\r\n"},
         {{kSetPin, words({6, 13, 0})}}},
        {"input, level sent too", nullptr, [] { return GPIOSetDirection(1, 1, 1); }, 1,
         {"VELNA set direction gpio 0 pin 2 direction 0 - Rout 1\r\n",
          "VELNA set gpio 0 pin 2 - Rout 1\r\n"},
         {{kDirection, words({0, 2, 0, 5})}, {kSetPin, words({0, 2, 1})}}},
        {"a direction flag of 2 is an output", nullptr, [] { return GPIOSetDirection(16, 2, 2); }, 1,
         {"VELNA set direction gpio 6 pin 13 direction 1 - Rout 1\r\n",
          "VELNA set gpio 6 pin 13 - Rout 1\r\n"},
         {{kDirection, words({6, 13, 1, 5})}, {kSetPin, words({6, 13, 0})}}},
        {"index 34, beyond the first table", nullptr, [] { return GPIOSetDirection(34, 0, 1); }, 1,
         {"VELNA set direction gpio 0 pin 21 direction 1 - Rout 1\r\n",
          "VELNA set gpio 0 pin 21 - Rout 1\r\n"},
         {{kDirection, words({0, 21, 1, 5})}, {kSetPin, words({0, 21, 1})}}},
        {"a pin read as 0 answers 1", nullptr, [] { return GPIOGetPin(4); }, 1,
         {"VELNA get gpio 5 pin 3 data 0 - Rout 1\r\n"}, {{kGetPin, words({5, 3, 1})}}},
        {"a pin read as 1 answers 0", [] { vboard::gpio().driveInput(5, 3, true); },
         [] { return GPIOGetPin(4); }, 0, {"VELNA get gpio 5 pin 3 data 1 - Rout 1\r\n"},
         {{kGetPin, words({5, 3, 1})}}},
    });
}

TEST_F(GpioOperations, OpenTheDriverWithTheBoardsParameters) {
    GPIOSetPin(1, 1);
    EXPECT_EQ(vboard::driverTraceLines(),
              (Lines{"CreateFileW \"GIO1:\" access 0xC0000000 share 3 creation 3 flags 0x10000000 -> h1",
                     "GIO1: SET_PIN bank 0 pin 2 level 1 -> ok", "CloseHandle h1 \"GIO1:\" -> ok"}));
}

TEST_F(GpioOperations, ReportEveryRejectedRequest) {
    runCases({
        {"set pin rejected", [] { armRejection(kSetPin); }, [] { return setPin(1, 1); }, -1,
         {"VELNA set gpio 0 pin 2 - Rerr 0\r\n", "VELNA HANDLE ERROR: 31\r\n",
          "VELNA gpio doesn't operate successful\r\n"},
         {{kSetPin, words({0, 2, 1})}}},
        {"direction rejected: no level is sent", [] { armRejection(kDirection, 87); },
         [] { return GPIOSetDirection(1, 0, 1); }, 0,
         {"VELNA set direction gpio 0 pin 2 direction 1 - Rerr 0\r\n", "VELNA HANDLE ERROR: 87\r\n"},
         {{kDirection, words({0, 2, 1, 5})}}},
        {"level rejected after the direction", [] { armRejection(kSetPin); },
         [] { return GPIOSetDirection(1, 1, 0); }, 0,
         {"VELNA set direction gpio 0 pin 2 direction 0 - Rout 1\r\n",
          "VELNA set gpio 0 pin 2 - Rerr 0\r\n", "VELNA HANDLE ERROR: 31\r\n"},
         {{kDirection, words({0, 2, 0, 5})}, {kSetPin, words({0, 2, 0})}}},
        {"get rejected prints the level as sent", [] { armRejection(kGetPin); },
         [] { return GPIOGetPin(1); }, 0,
         {"VELNA get gpio 0 pin 2 data 1 - Rerr 0\r\n", "VELNA HANDLE ERROR: 31\r\n"},
         {{kGetPin, words({0, 2, 1})}}},
    });
}

TEST_F(GpioOperations, WithoutTheDriverEveryRequestFailsOnTheInvalidHandle) {
    vboard::removeDriver("GIO1:");
    runCases({
        {"set pin", nullptr, [] { return setPin(1, 1); }, -1,
         {"VELNA set gpio 0 pin 2 - Rerr 0\r\n", "VELNA HANDLE ERROR: 6\r\n",
          "VELNA gpio doesn't operate successful\r\n"},
         {{kSetPin, words({0, 2, 1})}}},
        {"set direction", nullptr, [] { return GPIOSetDirection(2, 1, 1); }, 0,
         {"VELNA set direction gpio 0 pin 4 direction 0 - Rerr 0\r\n", "VELNA HANDLE ERROR: 6\r\n"},
         {{kDirection, words({0, 4, 0, 5})}}},
        {"get pin", nullptr, [] { return GPIOGetPin(3); }, 0,
         {"VELNA get gpio 0 pin 5 data 1 - Rerr 0\r\n", "VELNA HANDLE ERROR: 6\r\n"},
         {{kGetPin, words({0, 5, 1})}}},
        {"set interrupt tests the handle first", nullptr,
         [] { return GPIOSetInterrupt(3, 2, CreateEventW(nullptr, FALSE, FALSE, nullptr)); }, 0,
         {"VELNA gpio handle error\r\n"}, {}},
        {"an RTS refusal", nullptr, [] { return GPIOSetDirection(25, 1, 0); }, 0,
         {"UART RTS could not be an input\r\n"}, {}},
    });
    EXPECT_EQ(countOf("CloseHandle"), 0u) << "a failed open is never closed";
    EXPECT_EQ(countOf("EventModify"), 0u);
}

TEST_F(GpioOperations, IndicesWithoutAGpioNeverReachTheDriver) {
    std::vector<Case> cases;
    for (uint32_t index : {0u, 30u, 33u, 35u, 100u, 0xFFFFFFFFu}) {
        const Lines missing = {"VELNA gpio doesn't exist\r\n"};
        cases.push_back({"set direction", nullptr, [=] { return GPIOSetDirection(index, 1, 1); }, 0, missing, {}});
        cases.push_back({"set pin", nullptr, [=] { return setPin(index, 1); }, -1, missing, {}});
        cases.push_back({"get pin", nullptr, [=] { return GPIOGetPin(index); }, 0, missing, {}});
        cases.push_back({"set interrupt", nullptr,
                         [=] { return GPIOSetInterrupt(index, 2, CreateEventW(nullptr, FALSE, FALSE, nullptr)); },
                         0, missing, {}});
        cases.push_back({"clear interrupt", nullptr, [=] { return GPIOClearInterrupt(index); }, 0, missing, {}});
    }
    for (uint32_t index = 24; index <= 29; ++index) {
        cases.push_back({"RTS set pin", nullptr, [=] { return setPin(index, 1); }, -1,
                         {"VELNA gpio doesn't exist\r\n"}, {}});
    }
    for (Case& c : cases) c.opens = 0;
    runCases(cases);
}

TEST_F(GpioOperations, RtsLinesRefuseTheirForbiddenDirectionAndHaveNoGpio) {
    const char* input = "UART RTS could not be an input\r\n";
    const char* output = "UART RTS could not be an output\r\n";
    const char* missing = "VELNA gpio doesn't exist\r\n";
    struct Rts {
        uint32_t index;
        uint8_t direction;
        const char* line;
    };
    const Rts table[] = {
        {24, 0, output}, {24, 2, output}, {24, 1, missing}, {25, 1, input}, {25, 0, missing},
        {25, 2, missing}, {26, 0, output}, {26, 1, missing}, {27, 1, input}, {27, 0, missing},
        {28, 0, output}, {28, 1, missing}, {29, 1, input},  {29, 0, missing},
    };
    std::vector<Case> cases;
    for (const Rts& r : table)
        cases.push_back({"RTS line", nullptr, [=] { return GPIOSetDirection(r.index, r.direction, 1); },
                         0, {r.line}, {}});
    // Each one opens the driver for its test and closes it again (runCases checks the close).
    for (Case& c : cases) c.opens = 1;
    runCases(cases);
}

TEST_F(GpioInterrupt, SignalsTheCallersEventUntilCleared) {
    HANDLE event = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    ASSERT_EQ(GPIOSetInterrupt(3, vboard::kGpioRisingEdge, event), 1);
    EXPECT_EQ(vboard::eventSignaled(event), false) << "the event is reset before it is armed";
    EXPECT_EQ(codesAndInputs(), (std::vector<Request>{{kDirection, words({0, 5, 0, 2})},
                                                {kSetEvent, gpioEventRecord(0, 5, event)}}));
    EXPECT_EQ(vboard::debugLines(),
              (Lines{"VELNA set direction gpio 0 pin 5 direction 0 - Rout 1\r\n",
                     "VELNA event on gpio 0 pin 5 data 0 - Rout 1\r\n"}));
    EXPECT_EQ(vboard::openDriverHandles("GIO1:"), 1u);

    // Other operations on the index use handles of their own and leave the interrupt alone.
    EXPECT_EQ(GPIOGetPin(3), 1);
    GPIOSetPin(3, 0);
    EXPECT_EQ(vboard::openDriverHandles("GIO1:"), 1u);

    vboard::gpio().driveInput(0, 5, true);
    EXPECT_EQ(WaitForSingleObject(event, 1000), WAIT_OBJECT_0);

    vboard::clearDebug();
    EXPECT_EQ(GPIOClearInterrupt(3), 1);
    EXPECT_EQ(vboard::debugLines(), (Lines{"VELNA event on gpio 0 pin 5 clear- Rout 1\r\n",
                                           "VELNA gpio clear interrupt operate successful\r\n"}));
    EXPECT_EQ(codesAndInputs().back(), (Request{kClearEvent, words({0, 5})}));
    EXPECT_EQ(vboard::openDriverHandles(), 0u);
    EXPECT_EQ(vboard::gpio().pin(0, 5).event, nullptr);

    vboard::gpio().driveInput(0, 5, false);
    vboard::gpio().driveInput(0, 5, true);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT) << "a cleared interrupt stays quiet";

    vboard::clearDebug();
    EXPECT_EQ(GPIOClearInterrupt(3), 0) << "nothing left to clear";
    EXPECT_EQ(vboard::debugLines(), (Lines{"VELNA gpio clear interrupt doesn't operate successful\r\n"}));
    expectNoMisuse();
}

TEST_F(GpioInterrupt, SettingItAgainReArmsTheKeptHandle) {
    HANDLE first = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE second = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_EQ(GPIOSetInterrupt(1, vboard::kGpioRisingEdge, first), 1);
    ASSERT_EQ(GPIOSetInterrupt(1, vboard::kGpioFallingEdge, second), 1);
    EXPECT_EQ(countOf("CreateFileW"), 1u);
    EXPECT_EQ(vboard::openDriverHandles("GIO1:"), 1u);
    EXPECT_EQ(vboard::gpio().pin(0, 2).mode, static_cast<uint32_t>(vboard::kGpioFallingEdge));
    vboard::gpio().driveInput(0, 2, true);
    vboard::gpio().driveInput(0, 2, false);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    EXPECT_EQ(GPIOClearInterrupt(1), 1);
    EXPECT_EQ(vboard::openDriverHandles(), 0u);
    expectNoMisuse();
}

TEST_F(GpioInterrupt, EachFailureClosesTheHandleAndLeavesNothingSet) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    struct Failure {
        const char* what;
        vboard::Fault fault;
        Lines lines;
        size_t requests;
    } failures[] = {
        {"ResetEvent rejected", {"EventModify", "", std::nullopt, 1, ERROR_INVALID_HANDLE},
         {"VELNA gpio event handle error\r\n"}, 0},
        {"direction rejected", {"DeviceIoControl", "GIO1:", kDirection, 1, ERROR_GEN_FAILURE},
         {"VELNA set direction gpio 0 pin 2 direction 0 - Rerr 0\r\n", "VELNA HANDLE ERROR: 31\r\n",
          "VELNA gpio direction doesn't operate successful\r\n"},
         1},
        {"event rejected", {"DeviceIoControl", "GIO1:", kSetEvent, 1, ERROR_GEN_FAILURE},
         {"VELNA set direction gpio 0 pin 2 direction 0 - Rout 1\r\n",
          "VELNA event on gpio 0 pin 2 data 0 - Rerr 0\r\n", "VELNA HANDLE ERROR: 31\r\n",
          "VELNA gpio interrupt doesn't operate successful\r\n"},
         2},
    };
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.what);
        vboard::clearTrace();
        vboard::clearDebug();
        vboard::armFault(f.fault);
        EXPECT_EQ(GPIOSetInterrupt(1, 2, event), 0);
        EXPECT_EQ(vboard::debugLines(), f.lines);
        EXPECT_EQ(codesAndInputs().size(), f.requests);
        EXPECT_EQ(countOf("CloseHandle"), 1u);
        EXPECT_EQ(vboard::openDriverHandles(), 0u);
        EXPECT_EQ(vboard::gpio().pin(0, 2).event, nullptr) << "nothing stays registered";
        vboard::clearDebug();
        EXPECT_EQ(GPIOClearInterrupt(1), 0);
        EXPECT_EQ(vboard::debugLines(), (Lines{"VELNA gpio clear interrupt doesn't operate successful\r\n"}));
    }
    expectNoMisuse();
}

TEST_F(GpioInterrupt, AFailedReArmTakesTheRegistrationWithItsHandle) {
    HANDLE first = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_EQ(GPIOSetInterrupt(1, vboard::kGpioRisingEdge, first), 1);
    EXPECT_EQ(vboard::gpio().pin(0, 2).event, first);
    // Re-armed with no event: ResetEvent refuses it, and the library closes its kept handle.
    EXPECT_EQ(GPIOSetInterrupt(1, vboard::kGpioRisingEdge, nullptr), 0);
    EXPECT_EQ(vboard::misuses().size(), 1u) << "the caller's null event";
    vboard::clearMisuses();
    EXPECT_EQ(vboard::openDriverHandles(), 0u);
    EXPECT_EQ(vboard::gpio().pin(0, 2).event, nullptr) << "the driver dropped it with the open";
    EXPECT_EQ(GPIOClearInterrupt(1), 0);
    vboard::gpio().driveInput(0, 2, true);
    EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_TIMEOUT) << "a released interrupt stays quiet";
    EXPECT_TRUE(vboard::gpio().interrupts().empty());
}

TEST_F(GpioInterrupt, ClearAnswersOneEvenWhenTheDriverRejectsIt) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_EQ(GPIOSetInterrupt(2, 4, event), 1);
    armRejection(kClearEvent);
    vboard::clearDebug();
    EXPECT_EQ(GPIOClearInterrupt(2), 1);
    EXPECT_EQ(vboard::debugLines(), (Lines{"VELNA event on gpio 0 pin 4 clear - Rerr 0\r\n",
                                           "VELNA HANDLE ERROR: 31\r\n",
                                           "VELNA gpio clear interrupt doesn't operate successful\r\n"}));
    EXPECT_EQ(vboard::openDriverHandles(), 0u) << "the handle is closed all the same";
    EXPECT_EQ(vboard::gpio().pin(0, 4).event, nullptr) << "and its registration went with it";
    expectNoMisuse();
}

TEST_F(GpioHandles, OnlySetInterruptsStayOpenWhateverTheCallers) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    for (uint32_t index = 0; index <= 40; ++index) {
        GPIOSetDirection(index, static_cast<uint8_t>(index % 3), 1);
        GPIOSetPin(index, 1);
        GPIOGetPin(index);
        GPIOClearInterrupt(index);
        GPIOSetInterrupt(index, 1, event);
        GPIOSetInterrupt(index, 2, event);
        GPIOGetPin(index);
    }
    EXPECT_EQ(vboard::openDriverHandles("GIO1:"), 24u);
    for (uint32_t index = 0; index <= 40; ++index) GPIOClearInterrupt(index);
    EXPECT_EQ(vboard::openDriverHandles(), 0u);
    expectNoMisuse();
    EXPECT_EQ(vboard::invalidHandleCalls(), 0u);
}

TEST_F(GpioHandles, CallersOnDifferentIndicesAtOnceEachGetTheirOwnPin) {
    // The library takes no lock: what makes this safe is that each call opens its own handle.
    constexpr uint32_t kThreads = 4;
    constexpr int kRounds = 200;
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (uint32_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &wrong] {
            const uint32_t index = t + 1;
            for (int i = 0; i < kRounds; ++i) {
                const uint8_t level = static_cast<uint8_t>(i & 1);
                if (GPIOSetDirection(index, 0, level) != 1) ++wrong;
                // GPIOGetPin answers 1 for a low pin.
                if (GPIOGetPin(index) != (level ? 0 : 1)) ++wrong;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(vboard::debugLines().size(), size_t{kThreads * kRounds * 3});
    EXPECT_EQ(vboard::openDriverHandles(), 0u);
    EXPECT_EQ(countOf("CreateFileW"), size_t{kThreads * kRounds * 2});
    EXPECT_EQ(countOf("CloseHandle"), size_t{kThreads * kRounds * 2});
    // Index 1..4 are bank 0 pins 2, 4, 5 and bank 5 pin 3; each ends at its last level, high.
    for (auto [bank, pin] : {std::pair{0, 2}, {0, 4}, {0, 5}, {5, 3}}) {
        EXPECT_TRUE(vboard::gpio().pin(bank, pin).output);
        EXPECT_TRUE(vboard::gpio().pin(bank, pin).latch);
    }
}

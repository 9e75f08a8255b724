// vboard/src/drivers/gpio: the board's GPIO controller alone, as the library reaches it through
// "GIO1:": the records it takes and refuses, pin reads, interrupts per mode, the trace decode and
// the "gpio" directives.
#include <cstring>
#include <functional>
#include <iterator>

#include "vboard/gtest.h"
#include "vboard/vboard_c.h"
#include "model_support.h"
#include "test_support.h"

using tarvik_test::gpioEventRecord;
using tarvik_test::words;
using vboard::Bytes;

namespace {

constexpr DWORD kSetDirection = 0x224000;
constexpr DWORD kSetPin = 0x224004;
constexpr DWORD kGetPin = 0x224008;
constexpr DWORD kSetEvent = 0x22400C;
constexpr DWORD kClearEvent = 0x224010;




HANDLE openGpio() {
    return CreateFileW(L"GIO1:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                       nullptr);
}

BOOL send(HANDLE h, DWORD code, Bytes& record) {
    return DeviceIoControl(h, code, record.empty() ? nullptr : record.data(),
                           static_cast<DWORD>(record.size()), nullptr, 0, nullptr, nullptr);
}

class GpioController : public vboard::testing::BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        h = openGpio();
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        EXPECT_TRUE(CloseHandle(h));
        BoardTest::TearDown();
    }

    BOOL request(DWORD code, Bytes record) { return send(h, code, record); }
    BOOL setDirection(int32_t bank, int32_t pin, uint32_t direction, uint32_t mode) {
        return request(kSetDirection, words({uint32_t(bank), uint32_t(pin), direction, mode}));
    }
    BOOL setPin(int32_t bank, int32_t pin, uint32_t level) {
        return request(kSetPin, words({uint32_t(bank), uint32_t(pin), level}));
    }
    BOOL setEvent(int32_t bank, int32_t pin, HANDLE event) {
        return request(kSetEvent, gpioEventRecord(bank, pin, event));
    }
    BOOL clearEvent(int32_t bank, int32_t pin) {
        return request(kClearEvent, words({uint32_t(bank), uint32_t(pin)}));
    }

    HANDLE h = nullptr;
};

}  // namespace

TEST_F(GpioController, RequestsOutsideTheirRecordAreRefusedAndChangeNothing) {
    HANDLE closed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(closed);
    const Bytes shortEvent(gpioEventRecord(0, 2, nullptr).size() - 4, 0);
    constexpr DWORD kBad = ERROR_INVALID_PARAMETER;
    struct Case {
        const char* what;
        DWORD code;
        Bytes record;
        DWORD error;
    } cases[] = {
        {"direction: short record", kSetDirection, words({0, 2, 0}), kBad},
        {"direction: long record", kSetDirection, words({0, 2, 0, 5, 0}), kBad},
        {"direction: bank 7", kSetDirection, words({7, 2, 0, 5}), kBad},
        {"direction: pin -1", kSetDirection, words({0, 0xFFFFFFFF, 1, 5}), kBad},
        {"direction: 2", kSetDirection, words({0, 2, 2, 5}), kBad},
        {"direction: input mode 6", kSetDirection, words({0, 2, 0, 6}), kBad},
        {"set: bank -1", kSetPin, words({0xFFFFFFFF, 2, 1}), kBad},
        {"set: level 2", kSetPin, words({0, 2, 2}), kBad},
        {"get: long record", kGetPin, words({0, 2, 0xAA, 0}), kBad},
        {"get: pin 32", kGetPin, words({0, 32, 0xAA}), kBad},
        {"event: short record", kSetEvent, shortEvent, kBad},
        {"event: null event", kSetEvent, gpioEventRecord(0, 2, nullptr), kBad},
        {"event: closed event", kSetEvent, gpioEventRecord(0, 2, closed), kBad},
        {"event: a driver handle", kSetEvent, gpioEventRecord(0, 2, h), kBad},
        {"event: never handed out", kSetEvent, gpioEventRecord(0, 2, reinterpret_cast<HANDLE>(0x77)),
         kBad},
        {"clear: pin 32", kClearEvent, words({0, 32}), kBad},
        {"unknown request", 0x224014, words({0, 2, 1}), ERROR_NOT_SUPPORTED},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes before = c.record;
        EXPECT_FALSE(send(h, c.code, c.record));
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(c.record, before) << "a refused request writes nothing back";
    }
    const vboard::GpioPinState state = vboard::gpio().pin(0, 2);
    EXPECT_FALSE(state.output || state.latch || state.input);
    EXPECT_EQ(state.mode, vboard::kGpioNoInterrupt);
    EXPECT_EQ(state.event, nullptr);
    EXPECT_TRUE(vboard::gpio().interrupts().empty());
}

TEST_F(GpioController, GetReadsTheLatchOfAnOutputAndThePadOfAnInput) {
    struct Case {
        const char* what;
        uint32_t direction;
        uint32_t latch;
        bool pad;
        uint32_t read;
    } cases[] = {
        {"output driven high, pad low", 1, 1, false, 1},
        {"output driven low, pad high", 1, 0, true, 0},
        {"input latched high, pad low", 0, 1, false, 0},
        {"input latched low, pad high", 0, 0, true, 1},
    };
    int32_t pin = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ++pin;
        // Mode 9 for an output, which ignores it; rising edge for an input.
        ASSERT_TRUE(setDirection(4, pin, c.direction, c.direction ? 9 : 2));
        ASSERT_TRUE(setPin(4, pin, c.latch));
        vboard::gpio().driveInput(4, pin, c.pad);
        Bytes record = words({4, uint32_t(pin), 0xAAAAAAAA});
        ASSERT_TRUE(send(h, kGetPin, record));
        EXPECT_EQ(record, words({4, uint32_t(pin), c.read}));
        const vboard::GpioPinState state = vboard::gpio().pin(4, pin);
        EXPECT_EQ(state.latch, c.latch == 1) << "the latch is kept for an input too";
        EXPECT_EQ(state.mode, c.direction ? 5u : 2u);
    }
    EXPECT_TRUE(vboard::gpio().interrupts().empty()) << "no event was registered";
}

TEST_F(GpioController, InterruptsFireAsTheirModeSays) {
    const bool drives[] = {false, true, true, false, false};
    struct Case {
        uint32_t mode;
        bool pad;               // the input's level when the event is registered
        bool atRegistration;    // fires as soon as it is registered
        const char* perDrive;   // 'x' where a drive of `drives` fires
    } cases[] = {
        {vboard::kGpioLowLevel, false, true, "x..xx"},
        {vboard::kGpioHighLevel, true, true, ".xx.."},
        {vboard::kGpioHighLevel, false, false, ".xx.."},
        {vboard::kGpioRisingEdge, true, false, ".x..."},
        {vboard::kGpioFallingEdge, true, false, "x..x."},
        {vboard::kGpioBothEdges, false, false, ".x.x."},
        {vboard::kGpioNoInterrupt, false, false, "....."},
    };
    int32_t pin = 10;
    for (const auto& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode) + " pad " + std::to_string(c.pad));
        ++pin;
        HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        ASSERT_TRUE(setDirection(1, pin, 0, c.mode));
        vboard::gpio().driveInput(1, pin, c.pad);
        size_t fired = vboard::gpio().interrupts().size();
        auto expectFired = [&](bool expected) {
            EXPECT_EQ(vboard::eventSignaled(event), expected);
            EXPECT_EQ(WaitForSingleObject(event, 0), expected ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
            auto interrupts = vboard::gpio().interrupts();
            ASSERT_EQ(interrupts.size(), fired + (expected ? 1 : 0));
            fired = interrupts.size();
            if (!expected) return;
            EXPECT_EQ(interrupts.back().bank, 1);
            EXPECT_EQ(interrupts.back().pin, pin);
            EXPECT_EQ(interrupts.back().mode, c.mode);
            EXPECT_EQ(interrupts.back().event, event);
        };
        ASSERT_TRUE(setEvent(1, pin, event));
        expectFired(c.atRegistration);
        for (size_t i = 0; i < std::size(drives); ++i) {
            SCOPED_TRACE("drive " + std::to_string(i));
            vboard::gpio().driveInput(1, pin, drives[i]);
            expectFired(c.perDrive[i] == 'x');
        }
        EXPECT_TRUE(CloseHandle(event));
    }
}

TEST_F(GpioController, OutputsAndClearedPinsDoNotInterrupt) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(setDirection(2, 7, 1, vboard::kGpioBothEdges));
    ASSERT_TRUE(setEvent(2, 7, event));
    vboard::gpio().driveInput(2, 7, true);
    EXPECT_TRUE(vboard::gpio().pin(2, 7).input) << "an output's pad is only recorded";
    ASSERT_TRUE(setDirection(2, 7, 0, vboard::kGpioBothEdges));
    ASSERT_TRUE(clearEvent(2, 7));
    EXPECT_TRUE(clearEvent(2, 7)) << "clearing a pin without an event is accepted";
    vboard::gpio().driveInput(2, 7, false);
    EXPECT_TRUE(vboard::gpio().interrupts().empty());
    EXPECT_EQ(vboard::eventSignaled(event), false);
    CloseHandle(event);
}

TEST_F(GpioController, TheControlSideOutlivesTheDeviceAndRefusesPinsOffTheBoard) {
    vboard::removeDriver("GIO1:");
    EXPECT_EQ(openGpio(), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(setDirection(6, 31, 1, 5)) << "the open handle still reaches the controller";
    EXPECT_TRUE(vboard::gpio().pin(6, 31).output);
    struct Row {
        const char* what;
        std::function<int()> drive;  // drives a pad high; answers the call's status
        int status;
        int bank, pin;  // the pad that must be high afterwards; -1: none
    };
    const Row rows[] = {
        {"C++ bank.pin", [] { return int(vboard::gpio().driveInput(3, 5, true)); }, 1, 3, 5},
        {"C++ bank 7", [] { return int(vboard::gpio().driveInput(7, 0, true)); }, 0, -1, -1},
        {"C++ pin -1", [] { return int(vboard::gpio().driveInput(0, -1, true)); }, 0, -1, -1},
        {"C++ index 3 is pad 0.5", [] { return int(vboard::gpio().driveIndex(3, true)); }, 1, 0, 5},
        {"C++ index 34 is pad 0.21", [] { return int(vboard::gpio().driveIndex(34, true)); }, 1, 0, 21},
        {"C++ index 24 is an RTS line", [] { return int(vboard::gpio().driveIndex(24, true)); }, 0, -1, -1},
        {"C bank 9", [] { return vboard_gpio_drive_input(9, 5, 1); }, 0, -1, -1},
        {"C bank.pin", [] { return vboard_gpio_drive_input(6, 13, 1); }, 1, 6, 13},
        {"C index 16 is pad 6.13", [] { return vboard_gpio_drive_index(16, 1); }, 1, 6, 13},
        {"C index 0", [] { return vboard_gpio_drive_index(0, 1); }, 0, -1, -1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        vboard::gpio().reset();
        EXPECT_EQ(r.drive(), r.status);
        for (int bank = 0; bank < vboard::kGpioBanks; ++bank)
            for (int pin = 0; pin < vboard::kGpioPinsPerBank; ++pin)
                EXPECT_EQ(vboard::gpio().pin(bank, pin).input, bank == r.bank && pin == r.pin)
                    << bank << "." << pin;
    }
    int bank = -1, pin = -1;
    EXPECT_EQ(vboard_gpio_pad(5, &bank, &pin), 1);
    EXPECT_EQ(bank * 100 + pin, 305);
    EXPECT_EQ(vboard_gpio_pad(33, &bank, &pin), 0);
}

TEST_F(GpioController, RequestsAreDecodedInTheTrace) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    vboard::clearTrace();
    EXPECT_TRUE(setDirection(0, 2, 1, 5));
    EXPECT_FALSE(setDirection(-1, 2, 7, 9));
    EXPECT_TRUE(setPin(0, 2, 1));
    EXPECT_TRUE(request(kGetPin, words({0, 2, 0})));
    EXPECT_FALSE(request(kGetPin, words({0, 0xFFFFFFFF, 0})));
    EXPECT_TRUE(setDirection(0, 2, 0, 3));
    EXPECT_TRUE(setEvent(0, 2, event));
    EXPECT_TRUE(clearEvent(0, 2));
    EXPECT_FALSE(request(kSetPin, Bytes{1, 2, 0xAB}));
    EXPECT_FALSE(request(0x224014, words({1})));
    Bytes record = words({0, 2, 1});
    EXPECT_FALSE(send(INVALID_HANDLE_VALUE, kSetPin, record));
    EXPECT_EQ(vboard::driverTraceLines(),
              (std::vector<std::string>{
                  "GIO1: SET_DIRECTION bank 0 pin 2 output mode 5 -> ok",
                  "GIO1: SET_DIRECTION bank -1 pin 2 direction 7 mode 9 -> error 87",
                  "GIO1: SET_PIN bank 0 pin 2 level 1 -> ok",
                  "GIO1: GET_PIN bank 0 pin 2 level 1 -> ok",
                  "GIO1: GET_PIN bank 0 pin -1 -> error 87",
                  "GIO1: SET_DIRECTION bank 0 pin 2 input mode 3 -> ok",
                  "GIO1: SET_EVENT bank 0 pin 2 event h2 -> ok",
                  "GIO1: CLEAR_EVENT bank 0 pin 2 -> ok",
                  "GIO1: SET_PIN malformed [01 02 AB] -> error 87",
                  "GIO1: IOCTL 0x224014 in [01 00 00 00] -> error 50",
                  "INVALID_HANDLE_VALUE: IOCTL 0x224004 in [00 00 00 00 02 00 00 00 01 00 00 00] -> error 6",
              }));
    CloseHandle(event);
}

TEST_F(GpioController, ConfigDirectivesDriveInputsAndResetTheController) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_TRUE(setDirection(3, 5, 0, vboard::kGpioRisingEdge));
    ASSERT_TRUE(setEvent(3, 5, event));
    const char* usage = "expected: gpio input <bank>.<pin>|<index> <0|1>";
    struct Case {
        const char* line;
        std::string problem;  // "" when the line applies
        bool pad;             // the pad of pin 3.5 afterwards
    } cases[] = {
        {"gpio input 3.5 1  # the button is pressed", "", true},
        {"gpio input 3.5 2", usage, true},
        {"gpio input 3.x 0", usage, true},
        {"gpio input 9.40 0", "no pin 9.40 on the board", true},
        {"gpio input -1.5 0", "no pin -1.5 on the board", true},
        {"gpio reset now", "expected: gpio reset", true},
        {"gpio", "expected: gpio input <bank>.<pin>|<index> <0|1> or gpio reset", true},
        {"gpio input 24 0", "module index 24 has no GPIO (1 to 23 and 34 have)", true},
        {"gpio input 3.5 0", "", false},
        {"gpio input 5 1  # module index 5 is pad 3.5", "", true},
        {"gpio reset", "", false},
    };
    for (const auto& c : cases) {
        tarvik_test::expectConfigProblem(c.line, c.problem);
        SCOPED_TRACE(c.line);
        EXPECT_EQ(vboard::gpio().pin(3, 5).input, c.pad);
    }
    EXPECT_EQ(vboard::gpio().interrupts().size(), 2u) << "two rising edges";
    const vboard::GpioPinState reset = vboard::gpio().pin(3, 5);
    EXPECT_EQ(reset.mode, vboard::kGpioNoInterrupt);
    EXPECT_EQ(reset.event, nullptr);
    CloseHandle(event);
}

// A chip of the test's own on the pins uses the control side from inside a request, as every
// device model may: a buffer that drives input 1.3 with what output 1.2 is set to.
TEST_F(GpioController, ADeviceModelMayUseTheControlSideFromInsideARequest) {
    vboard::addDriver("GIO1:", std::make_shared<tarvik_test::DeviceInFront>("GIO1:", [](DWORD code) {
                          if (code == kSetPin)
                              vboard::gpio().driveInput(1, 3, vboard::gpio().pin(1, 2).latch);
                      }));
    HANDLE chip = openGpio();
    Bytes high = words({1, 2, 1});
    EXPECT_TRUE(send(chip, kSetPin, high));
    EXPECT_TRUE(vboard::gpio().pin(1, 3).input);
    EXPECT_TRUE(CloseHandle(chip));
}

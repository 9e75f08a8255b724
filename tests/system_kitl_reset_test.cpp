// src/system: the debug link's power and the software reset: the kernel requests sent and the
// restart of the board by "IOC1:", with the handle an accepted reset leaves open.
#include <thread>

#include "Tarvik.h"
#include "library_test.h"
#include "system_test_support.h"

using namespace system_test;

namespace {

constexpr DWORD kKitlPower = 0x01010144;

// The words the kernel was sent, in order.
std::vector<Bytes> kitlRequests() {
    std::vector<Bytes> out;
    for (const auto& e : vboard::trace())
        if (e.function == "KernelIoControl") {
            EXPECT_EQ(e.code, kKitlPower);
            out.push_back(e.in);
        }
    return out;
}

}  // namespace

class DebugLink : public tarvik_test::LibraryTest {};
class Reset : public tarvik_test::LibraryTest {};

TEST_F(DebugLink, SwitchesThePowerWithOneWordAndPrintsNothing) {
    struct Row {
        const char* what;
        std::function<uint8_t()> call;
        bool refuseAll;
        uint8_t result;
        std::vector<Bytes> sent;
        bool poweredAfter;
    };
    const std::vector<Row> rows = {
        {"on", [] { return ControlPowerKITL(1); }, false, 1, {words({1})}, true},
        {"off", [] { return ControlPowerKITL(0); }, false, 1, {words({0})}, false},
        {"a byte of 2 is off", [] { return ControlPowerKITL(2); }, false, 1, {words({0})}, false},
        {"refused", [] { return ControlPowerKITL(1); }, true, 0, {words({1})}, true},
        {"restart: off, then on", [] { return RestartPowerKITL(); }, false, 1,
         {words({0}), words({1})}, true},
        {"restart with a kernel that refuses everything sends one request",
         [] { return RestartPowerKITL(); }, true, 0, {words({0})}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        vboard::reset();
        if (row.refuseAll) fail("KernelIoControl");
        EXPECT_EQ(row.call(), row.result);
        EXPECT_EQ(kitlRequests(), row.sent);
        EXPECT_EQ(vboard::kitlPowered(), row.poweredAfter);
        EXPECT_TRUE(vboard::debugLines().empty());
    }
}

TEST_F(DebugLink, ARefusedPowerOnComesAfterAnAcceptedPowerOff) {
    fail("KernelIoControl", "", kKitlPower, 2);
    EXPECT_EQ(RestartPowerKITL(), 0);
    EXPECT_EQ(kitlRequests(), (std::vector<Bytes>{words({0}), words({1})}));
    EXPECT_FALSE(vboard::kitlPowered()) << "the link stays off";
    EXPECT_EQ(tarvik_test::traceOf("KernelIoControl"),
              (Lines{"KernelIoControl KITL_POWER in [00 00 00 00] -> off",
                     "KernelIoControl KITL_POWER in [01 00 00 00] -> error 31 (fault)"}));
}

TEST_F(Reset, AnAcceptedResetRestartsTheBoardAndLeavesItsHandleToTheRestart) {
    // State the restart must put back: a register written, an interrupt registered, the link off.
    EXPECT_EQ(WritePhysicalAddress(1, vboard::kCcmCcr, 32, 0x1, 0), 1u);
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_EQ(GPIOSetInterrupt(3, 2, event), 1);
    EXPECT_EQ(ControlPowerKITL(0), 1);
    vboard::clearTrace();
    vboard::clearDebug();

    SoftReset();

    EXPECT_EQ(vboard::restarts(), 1u);
    EXPECT_EQ(vboard::driverTraceLines(),
              (Lines{"CreateFileW \"IOC1:\" access 0xC0000000 share 3 creation 3 flags 0x0 -> h4",
                     "IOC1: RESET -> ok"}))
        << "the library never closes an accepted reset's handle";
    EXPECT_TRUE(vboard::openHandles().empty()) << "the restart closed every handle";
    EXPECT_EQ(vboard::physicalMemory().peek(vboard::kCcmCcr, 32), 0x040116FFu);
    EXPECT_EQ(vboard::gpio().pin(0, 5).event, nullptr);
    EXPECT_TRUE(vboard::kitlPowered());
    EXPECT_TRUE(vboard::debugLines().empty());
    // The board works on after the restart, with new handles.
    EXPECT_EQ(ReadPhysicalAddress(1, vboard::kCcmCcr, 32), 0x040116FFu);
}

TEST_F(Reset, ARefusedOrImpossibleResetReturnsQuietly) {
    fail("DeviceIoControl", "IOC1:");
    SoftReset();
    EXPECT_EQ(vboard::restarts(), 0u);
    EXPECT_EQ(vboard::driverTraceLines(),
              (Lines{"CreateFileW \"IOC1:\" access 0xC0000000 share 3 creation 3 flags 0x0 -> h1",
                     "IOC1: RESET -> error 31 (fault)", "CloseHandle h1 \"IOC1:\" -> ok"}));
    vboard::reset();
    vboard::removeDriver("IOC1:");
    SoftReset();
    EXPECT_EQ(vboard::restarts(), 0u);
    EXPECT_EQ(tarvik_test::traceOf("DeviceIoControl").size(), 0u);
    EXPECT_EQ(tarvik_test::traceOf("CloseHandle").size(), 0u);
    EXPECT_TRUE(vboard::debugLines().empty());
}

TEST_F(Reset, ConcurrentResetsAndAnotherOpenOfTheResetDriverDoNotHang) {
    HANDLE other = CreateFileW(L"IOC1:", GENERIC_READ | GENERIC_WRITE, 3, nullptr, OPEN_EXISTING,
                               0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    std::thread first([] { SoftReset(); });
    std::thread second([] { SoftReset(); });
    first.join();
    second.join();
    EXPECT_GE(vboard::restarts(), 1u);
    EXPECT_LE(vboard::restarts(), 2u);
    EXPECT_EQ(vboard::openDriverHandles("IOC1:"), 0u);
    // Depending on the interleaving, one caller's open may have gone with the other's restart
    // before its request, as a process's handles go when the module restarts under it.
    vboard::clearMisuses();
}

TEST_F(Reset, EndsTheProcessOnlyWhenTheBoardIsSetTo) {
    EXPECT_FALSE(vboard::endProcessOnReset());
    EXPECT_EXIT(
        {
            vboard::setEndProcessOnReset(true);
            SoftReset();
            std::fprintf(stderr, "still running\n");
            std::exit(3);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_TRUE(vboard::applyConfigLine("on-reset end-process").empty());
    EXPECT_TRUE(vboard::endProcessOnReset());
    vboard::reset();
    EXPECT_FALSE(vboard::endProcessOnReset());
}

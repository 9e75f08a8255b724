// src/system: ReadPhysicalAddress and WritePhysicalAddress on the virtual board: the record in the
// right buffer, the "Wout:"/"Werr:" lines in order, the read-back's second open and every failure.
#include "Tarvik.h"
#include "library_test.h"
#include "system_test_support.h"

using namespace system_test;

namespace {

constexpr DWORD kRead = 0x6BBD, kWrite = 0x6BBE;
constexpr uint32_t kCcr = vboard::kCcmCcr, kCcrReset = 0x040116FF;

// address, value, width and three zero bytes.
Bytes record(uint32_t address, uint32_t value, uint8_t width) {
    Bytes out = words({address, value});
    out.insert(out.end(), {width, 0, 0, 0});
    return out;
}

Request readOf(int device, uint32_t address, uint8_t width) {
    return {kRead, record(address, 0, width), "PHY" + std::to_string(device) + ":"};
}
Request writeOf(int device, uint32_t address, uint8_t width, uint32_t value) {
    return {kWrite, {}, "PHY" + std::to_string(device) + ":", record(address, value, width)};
}

const Lines kReadStart = {"Wout: Start ReadPhysicalAddress\r\n"};

Lines readLines(int device, const std::string& last) {
    return {"Wout: Start ReadPhysicalAddress\r\n",
            "Wout:ReadPhysicalAddress Device: " + std::to_string(device) + "\r\n", last};
}

}  // namespace

class PhysicalAccess : public tarvik_test::LibraryTest {};

TEST_F(PhysicalAccess, ReadsSendTheRecordAsInputAndAnswerFromIt) {
    runCases({
        {"device 1 reads the clock controller's reset value", nullptr,
         [] { return ReadPhysicalAddress(1, kCcr, 32); }, kCcrReset,
         readLines(1, "Wout:ReadPhysicalAddress\r\n"), {readOf(1, kCcr, 32)}},
        {"device 9, a 16-bit register", nullptr,
         [] { return ReadPhysicalAddress(9, vboard::kWdog1Wcr, 16); }, 0x30,
         readLines(9, "Wout:ReadPhysicalAddress\r\n"), {readOf(9, vboard::kWdog1Wcr, 16)}},
        {"a register holding 0 reads 0 with the success line", nullptr,
         [] { return ReadPhysicalAddress(2, 0x0209C000, 32); }, 0,
         readLines(2, "Wout:ReadPhysicalAddress\r\n"), {readOf(2, 0x0209C000, 32)}},
        {"a width the driver refuses is passed through and fails", nullptr,
         [] { return ReadPhysicalAddress(3, kCcr, 12); }, 0,
         readLines(3, "Werr: ReadPhysicalAddress\r\n"), {readOf(3, kCcr, 12)}},
        {"device 0 names no driver", nullptr, [] { return ReadPhysicalAddress(0, kCcr, 32); }, 0,
         {"Wout: Start ReadPhysicalAddress\r\n", "Wout:ReadPhysicalAddress Device: 0\r\n",
          "Wout:ReadPhysicalAddress Error: 2\r\n", "Werr: ReadPhysicalAddress\r\n"},
         {}},
        {"device 10 names no driver", nullptr, [] { return ReadPhysicalAddress(10, kCcr, 32); }, 0,
         {"Wout: Start ReadPhysicalAddress\r\n", "Wout:ReadPhysicalAddress Device: 10\r\n",
          "Wout:ReadPhysicalAddress Error: 2\r\n", "Werr: ReadPhysicalAddress\r\n"},
         {}},
        {"a driver that is not there", [] { vboard::removeDriver("PHY4:"); },
         [] { return ReadPhysicalAddress(4, kCcr, 32); }, 0,
         {"Wout: Start ReadPhysicalAddress\r\n", "Wout:ReadPhysicalAddress Device: 4\r\n",
          "Wout:ReadPhysicalAddress Error: 2\r\n", "Werr: ReadPhysicalAddress\r\n"},
         {}},
        {"an open refused with another error prints it",
         [] { fail("CreateFileW", "PHY5:", std::nullopt, 0, ERROR_ACCESS_DENIED); },
         [] { return ReadPhysicalAddress(5, kCcr, 32); }, 0,
         {"Wout: Start ReadPhysicalAddress\r\n", "Wout:ReadPhysicalAddress Device: 5\r\n",
          "Wout:ReadPhysicalAddress Error: 5\r\n", "Werr: ReadPhysicalAddress\r\n"},
         {}},
    });
}

TEST_F(PhysicalAccess, WritesSendTheRecordAsOutputAndReadBackOnlyWhenAskedWithOne) {
    const uint32_t scratch = 0x00907000;  // on-chip RAM
    runCases({
        {"without read-back: 1, whatever was written", nullptr,
         [=] { return WritePhysicalAddress(1, scratch, 32, 0xFFFFFFFF, 0); }, 1,
         {"Wout: Start WritePhysicalAddress\r\n", "Wout:WritePhysicalAddress Device: 1\r\n",
          "Wout:WritePhysicalAddress\r\n"},
         {writeOf(1, scratch, 32, 0xFFFFFFFF)}},
        {"with read-back: a second open reads the register again", nullptr,
         [=] { return WritePhysicalAddress(9, scratch, 16, 0xBEEF, 1); }, 0xBEEF,
         {"Wout: Start WritePhysicalAddress\r\n", "Wout:WritePhysicalAddress Device: 9\r\n",
          "Wout:WritePhysicalAddress\r\n", "Wout:ReadPhysicalAddress Device: 9\r\n",
          "Wout:WritePhysicalAddress Readback\r\n"},
         {writeOf(9, scratch, 16, 0xBEEF), readOf(9, scratch, 16)}},
        {"the value read back is returned even when it differs", nullptr,
         [] { return WritePhysicalAddress(2, vboard::kAnatopDigprog, 32, 0x1234, 1); }, 0x00630002,
         {"Wout: Start WritePhysicalAddress\r\n", "Wout:WritePhysicalAddress Device: 2\r\n",
          "Wout:WritePhysicalAddress\r\n", "Wout:ReadPhysicalAddress Device: 2\r\n",
          "Wout:WritePhysicalAddress Readback\r\n"},
         {writeOf(2, vboard::kAnatopDigprog, 32, 0x1234), readOf(2, vboard::kAnatopDigprog, 32)}},
        {"a read-back flag of 2 is no read-back", nullptr,
         [=] { return WritePhysicalAddress(3, scratch, 8, 0x5A, 2); }, 1,
         {"Wout: Start WritePhysicalAddress\r\n", "Wout:WritePhysicalAddress Device: 3\r\n",
          "Wout:WritePhysicalAddress\r\n"},
         {writeOf(3, scratch, 8, 0x5A)}},
        {"a refused write never reads back", nullptr,
         [=] { return WritePhysicalAddress(3, scratch + 1, 32, 7, 1); }, 0xFFFFFFFF,
         {"Wout: Start WritePhysicalAddress\r\n", "Wout:WritePhysicalAddress Device: 3\r\n",
          "Werr: WritePhysicalAddress\r\n"},
         {writeOf(3, scratch + 1, 32, 7)}},
        {"a refused read-back after a write that stays done",
         [] { fail("DeviceIoControl", "PHY6:", kRead); },
         [=] { return WritePhysicalAddress(6, scratch, 32, 0x11, 1); }, 0xFFFFFFFF,
         {"Wout: Start WritePhysicalAddress\r\n", "Wout:WritePhysicalAddress Device: 6\r\n",
          "Wout:WritePhysicalAddress\r\n", "Wout:ReadPhysicalAddress Device: 6\r\n",
          "Werr: WritePhysicalAddress Readback\r\n"},
         {writeOf(6, scratch, 32, 0x11), readOf(6, scratch, 32)}},
        {"the read-back's open failing", [] { fail("CreateFileW", "PHY7:", std::nullopt, 2); },
         [=] { return WritePhysicalAddress(7, scratch, 32, 0x22, 1); }, 0xFFFFFFFF,
         {"Wout: Start WritePhysicalAddress\r\n", "Wout:WritePhysicalAddress Device: 7\r\n",
          "Wout:WritePhysicalAddress\r\n", "Wout:ReadPhysicalAddress Device: 7\r\n",
          "Wout:ReadPhysicalAddress Error: 31\r\n", "Werr: WritePhysicalAddress Readback\r\n"},
         {writeOf(7, scratch, 32, 0x22)}},
        {"device 0 names no driver", nullptr,
         [=] { return WritePhysicalAddress(0, scratch, 32, 1, 1); }, 0xFFFFFFFF,
         {"Wout: Start WritePhysicalAddress\r\n", "Wout:WritePhysicalAddress Device: 0\r\n",
          "Wout:WritePhysicalAddress Error: 2\r\n", "Werr: WritePhysicalAddress\r\n"},
         {}},
        {"device 10 names no driver", nullptr,
         [=] { return WritePhysicalAddress(10, scratch, 32, 1, 0); }, 0xFFFFFFFF,
         {"Wout: Start WritePhysicalAddress\r\n", "Wout:WritePhysicalAddress Device: 10\r\n",
          "Wout:WritePhysicalAddress Error: 2\r\n", "Werr: WritePhysicalAddress\r\n"},
         {}},
    });
}

TEST_F(PhysicalAccess, OpensEachDriverWithTheBoardsParametersAndClosesIt) {
    EXPECT_EQ(WritePhysicalAddress(1, 0x00907000, 32, 0x12345678, 1), 0x12345678u);
    EXPECT_EQ(vboard::driverTraceLines(),
              (Lines{"CreateFileW \"PHY1:\" access 0xC0000000 share 3 creation 3 flags 0x80 -> h1",
                     "PHY1: WRITE 0x00907000 width 32 value 0x12345678 -> ok",
                     "CloseHandle h1 \"PHY1:\" -> ok",
                     "CreateFileW \"PHY1:\" access 0xC0000000 share 3 creation 3 flags 0x80 -> h2",
                     "PHY1: READ 0x00907000 width 32 value 0x12345678 -> ok",
                     "CloseHandle h2 \"PHY1:\" -> ok"}));
    EXPECT_EQ(vboard::openDriverHandles(), 0u);
}

// vboard/src/drivers/phy: the physical-access drivers alone, as the library reaches them through
// "PHY1:" to "PHY9:": one address space, the widths and alignments they take, the reset values,
// read-only registers and the "phy" directive.
#include <cstring>

#include "system_test_support.h"
#include "vboard/gtest.h"

using namespace system_test;
using tarvik_test::openDevice;
using vboard::testing::BoardTest;

namespace {

constexpr DWORD kRead = 0x6BBD, kWrite = 0x6BBE;

struct PhyRecord {
    uint32_t address;
    uint32_t value;
    uint8_t width;
    uint8_t reserved[3];
};

// A read as the driver expects it; the error the caller's GetLastError sees, 0 when accepted.
DWORD phyRead(HANDLE h, uint32_t address, uint8_t width, uint32_t& value) {
    PhyRecord r = {address, 0, width, {0, 0, 0}};
    if (!DeviceIoControl(h, kRead, &r, sizeof r, nullptr, 0, nullptr, nullptr)) return GetLastError();
    value = r.value;
    return 0;
}

DWORD phyWrite(HANDLE h, uint32_t address, uint8_t width, uint32_t value) {
    PhyRecord r = {address, value, width, {0, 0, 0}};
    if (!DeviceIoControl(h, kWrite, nullptr, 0, &r, sizeof r, nullptr, nullptr)) return GetLastError();
    return 0;
}

}  // namespace

class PhysicalMemoryModel : public BoardTest {};

TEST_F(PhysicalMemoryModel, NineDriversShareOneLittleEndianAddressSpace) {
    HANDLE two = openDevice("PHY2:");
    HANDLE seven = openDevice("PHY7:");
    ASSERT_NE(two, INVALID_HANDLE_VALUE);
    EXPECT_EQ(phyWrite(two, 0x00907000, 32, 0x11223344), 0u);
    EXPECT_EQ(phyWrite(two, 0x00907002, 8, 0xAA), 0u);
    uint32_t value = 0;
    struct Read {
        uint32_t address;
        uint8_t width;
        uint32_t value;
    };
    for (const Read& r : {Read{0x00907000, 32, 0x11AA3344}, Read{0x00907000, 16, 0x3344},
                          Read{0x00907002, 16, 0x11AA}, Read{0x00907003, 8, 0x11},
                          Read{0x00907004, 32, 0}}) {
        EXPECT_EQ(phyRead(seven, r.address, r.width, value), 0u);
        EXPECT_EQ(value, r.value) << std::hex << r.address << " width " << int(r.width);
    }
    EXPECT_EQ(vboard::physicalMemory().peek(0x00907000, 32), 0x11AA3344u);
    CloseHandle(two);
    CloseHandle(seven);
}

TEST_F(PhysicalMemoryModel, RefusesWidthsMisalignmentAndRecordsInTheWrongBuffer) {
    HANDLE h = openDevice("PHY1:");
    uint32_t value = 0;
    EXPECT_EQ(phyRead(h, 0x00907000, 12, value), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(phyRead(h, 0x00907000, 64, value), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(phyRead(h, 0x00907002, 32, value), 998u);
    EXPECT_EQ(phyWrite(h, 0x00907001, 16, 1), 998u);
    PhyRecord r = {0x00907000, 5, 32, {0, 0, 0}};
    // A read with its record in the output buffer, a write with it in the input buffer, a short one.
    EXPECT_FALSE(DeviceIoControl(h, kRead, nullptr, 0, &r, sizeof r, nullptr, nullptr));
    EXPECT_FALSE(DeviceIoControl(h, kWrite, &r, sizeof r, nullptr, 0, nullptr, nullptr));
    EXPECT_FALSE(DeviceIoControl(h, kRead, &r, 8, nullptr, 0, nullptr, nullptr));
    EXPECT_FALSE(DeviceIoControl(h, 0x6BBF, &r, sizeof r, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(vboard::physicalMemory().peek(0x00907000, 32), 0u) << "nothing was written";
    CloseHandle(h);
}

TEST_F(PhysicalMemoryModel, PowersOnWithTheResetValuesAndKeepsReadOnlyRegisters) {
    auto& memory = vboard::physicalMemory();
    EXPECT_EQ(memory.peek(vboard::kCcmCcr, 32), 0x040116FFu);
    EXPECT_EQ(memory.peek(vboard::kAnatopDigprog, 32), 0x00630002u);
    EXPECT_EQ(memory.peek(vboard::kSrcScr, 32), 0x00000521u);
    EXPECT_EQ(memory.peek(vboard::kWdog1Wcr, 16), 0x0030u);
    EXPECT_EQ(memory.peek(vboard::kWdog1Wcr, 12), std::nullopt);
    HANDLE h = openDevice("PHY1:");
    EXPECT_EQ(phyWrite(h, vboard::kAnatopDigprog, 32, 0), 0u) << "accepted, and ignored";
    EXPECT_EQ(phyWrite(h, vboard::kCcmCcr, 32, 0x1), 0u);
    CloseHandle(h);
    EXPECT_EQ(memory.peek(vboard::kAnatopDigprog, 32), 0x00630002u);
    const auto seen = memory.accesses();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].device, 1);
    EXPECT_TRUE(seen[1].write);
    EXPECT_EQ(seen[1].value, 1u);
    vboard::reset();
    EXPECT_EQ(memory.peek(vboard::kCcmCcr, 32), 0x040116FFu);
    EXPECT_TRUE(memory.accesses().empty());
}

TEST_F(PhysicalMemoryModel, DirectiveSetsARegisterStrictly) {
    EXPECT_TRUE(vboard::applyConfigLine("phy 0x00907004 16 0xBEEF").empty());
    EXPECT_EQ(vboard::physicalMemory().peek(0x00907004, 32), 0xBEEFu);
    for (const char* bad : {"phy 0x00907004 16 0x1BEEF", "phy 0x00907001 32 1", "phy 0x10 24 1",
                            "phy 0x100000000 32 1", "phy 0x10 32"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(vboard::applyConfigLine(bad).size(), 1u);
    }
}

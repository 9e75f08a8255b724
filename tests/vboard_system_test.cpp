// The board's system-service models alone, driven through the platform calls and read back
// through the control API: the physical address space, the backlight, the reset driver, the
// kernel calls and the storage.
#include <cstring>

#include "system_test_support.h"
#include "vboard/gtest.h"

using namespace system_test;
using vboard::testing::BoardTest;

namespace {

constexpr DWORD kRead = 0x6BBD, kWrite = 0x6BBE;

HANDLE open(const char* device) {
    std::wstring name(device, device + std::strlen(device));
    return CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 3, nullptr, OPEN_EXISTING, 0,
                       nullptr);
}

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
    HANDLE two = open("PHY2:");
    HANDLE seven = open("PHY7:");
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
    HANDLE h = open("PHY1:");
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
    HANDLE h = open("PHY1:");
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

class KernelAndResetModels : public BoardTest {};

TEST_F(KernelAndResetModels, KernelTakesOnlyTheKitlPowerWord) {
    DWORD on = 1, returned = 7;
    uint8_t shortWord[2] = {1, 0};
    EXPECT_FALSE(KernelIoControl(0x01010148, &on, sizeof on, nullptr, 0, &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(returned, 0u);
    EXPECT_FALSE(KernelIoControl(0x01010144, shortWord, sizeof shortWord, nullptr, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(KernelIoControl(0x01010144, nullptr, 4, nullptr, 0, nullptr));
    DWORD off = 0;
    EXPECT_TRUE(KernelIoControl(0x01010144, &off, sizeof off, nullptr, 0, nullptr));
    EXPECT_TRUE(KernelIoControl(0x01010144, &on, sizeof on, nullptr, 0, nullptr));
    EXPECT_EQ(vboard::kitlSwitches(), (std::vector<bool>{false, true}));
    EXPECT_TRUE(vboard::kitlPowered());
}

TEST_F(KernelAndResetModels, ResetDriverTakesOnlyItsRequestWithoutBuffers) {
    HANDLE h = open("IOC1:");
    DWORD word = 0;
    EXPECT_FALSE(DeviceIoControl(h, 0x6BBD, &word, sizeof word, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(DeviceIoControl(h, 0x6BBE, nullptr, 0, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(vboard::restarts(), 0u);
    EXPECT_TRUE(DeviceIoControl(h, 0x6BBD, nullptr, 0, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(vboard::restarts(), 1u);
    EXPECT_EQ(vboard::openDriverHandles(), 0u);
    // The handle went with the restart: using it now is a misuse, as after a reboot.
    EXPECT_FALSE(DeviceIoControl(h, 0x6BBD, nullptr, 0, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(vboard::misuses().size(), 1u);
    vboard::clearMisuses();
}

class BacklightModel : public BoardTest {};

TEST_F(BacklightModel, TakesOnlyAWellFormedLevelAndAppliesItAtTheFollowUp) {
    HANDLE h = open("BKL1:");
    struct Row {
        Bytes record;
        bool accepted;
    };
    for (const Row& row : {Row{words({10, 1, 10, 77}), true}, Row{words({10, 2, 10, 0}), false},
                           Row{words({10, 1, 11, 0}), false}, Row{words({256, 1, 256, 0}), false},
                           Row{words({10, 1, 10}), false}}) {
        Bytes record = row.record;
        EXPECT_EQ(DeviceIoControl(h, 0x0113040C, record.data(), static_cast<DWORD>(record.size()),
                                  nullptr, 0, nullptr, nullptr) != 0,
                  row.accepted);
    }
    EXPECT_EQ(vboard::backlight().level, vboard::kBacklightPowerOnLevel) << "not applied yet";
    EXPECT_TRUE(vboard::backlight().pending);
    DWORD word = 0;
    EXPECT_FALSE(DeviceIoControl(h, 0x01130410, &word, sizeof word, nullptr, 0, nullptr, nullptr));
    EXPECT_TRUE(DeviceIoControl(h, 0x01130410, nullptr, 0, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(vboard::backlight().level, 10u);
    EXPECT_FALSE(vboard::backlight().pending);
    EXPECT_EQ(vboard::backlight().levelRequests, 1u);
    const Lines trace = vboard::driverTraceLines();
    EXPECT_EQ(trace[1], "BKL1: SET_LEVEL 10 -> ok");
    EXPECT_EQ(trace[2], "BKL1: SET_LEVEL 10 [0A 00 00 00 02 00 00 00 0A 00 00 00 00 00 00 00] -> error 87");
    EXPECT_EQ(trace.back(), "BKL1: FOLLOW_UP -> ok");
    CloseHandle(h);
}

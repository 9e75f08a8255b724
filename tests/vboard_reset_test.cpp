// vboard/src/drivers/reset: the module reset driver alone, as the library reaches it through
// "IOC1:": the one request it takes, and the restart that closes every handle.
#include "system_test_support.h"
#include "vboard/gtest.h"

using namespace system_test;
using tarvik_test::openDevice;
using vboard::testing::BoardTest;

class ResetModel : public BoardTest {};

TEST_F(ResetModel, ResetDriverTakesOnlyItsRequestWithoutBuffers) {
    HANDLE h = openDevice("IOC1:");
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

// vboard/src/drivers/backlight: the backlight driver alone, as the library reaches it through
// "BKL1:": the level record it takes, applied only by the follow-up, and the trace decode.
#include "system_test_support.h"
#include "vboard/gtest.h"

using namespace system_test;
using tarvik_test::openDevice;
using vboard::testing::BoardTest;

class BacklightModel : public BoardTest {};

TEST_F(BacklightModel, TakesOnlyAWellFormedLevelAndAppliesItAtTheFollowUp) {
    HANDLE h = openDevice("BKL1:");
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

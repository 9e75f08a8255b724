// src/system: the backlight and touch exports on the virtual board: the level record and its
// follow-up, the settings written value by value, the stored calibration deleted, and every
// refusal.
#include "Tarvik.h"
#include "library_test.h"
#include "system_test_support.h"

using namespace system_test;

namespace {

constexpr DWORD kSetLevel = 0x0113040C, kFollowUp = 0x01130410;
const char* const kSettings = "ControlPanel\\BackLight";

Request levelRequest(uint32_t level) { return {kSetLevel, words({level, 1, level, 0}), "BKL1:"}; }
const Request kFollowUpRequest = {kFollowUp, {}, "BKL1:"};

std::optional<uint32_t> setting(const char* name) {
    auto value = vboard::registryValue(HKEY_CURRENT_USER, kSettings, name);
    if (!value || value->type != REG_DWORD || value->data.size() != 4) return std::nullopt;
    return value->data[0] | value->data[1] << 8 | value->data[2] << 16 |
           static_cast<uint32_t>(value->data[3]) << 24;
}

// Every key the library opened it closed again.
void expectKeysClosed() {
    size_t opened = 0;
    for (const auto& e : vboard::trace()) opened += e.function == "RegOpenKeyExW" && e.ok;
    EXPECT_EQ(countOf("RegCloseKey"), opened);
    EXPECT_TRUE(vboard::openHandles().empty());
}

}  // namespace

class Backlight : public tarvik_test::LibraryTest {};
class Touch : public tarvik_test::LibraryTest {};

TEST_F(Backlight, LevelIsARecordThenAFollowUpOnlyAfterAnAcceptedRecord) {
    runCases({
        {"level 0: words 0, 1, 0 and 0", nullptr, [] { return SetBacklightLevel(0); }, 1, {},
         {levelRequest(0), kFollowUpRequest}},
        {"level 128", nullptr, [] { return SetBacklightLevel(128); }, 1, {},
         {levelRequest(128), kFollowUpRequest}},
        {"0xFFFFFFFF is sent unchanged and the driver refuses it", nullptr,
         [] { return SetBacklightLevel(0xFFFFFFFF); }, 0, {}, {levelRequest(0xFFFFFFFF)}},
        {"follow-up refused after an accepted level",
         [] { fail("DeviceIoControl", "BKL1:", kFollowUp); }, [] { return SetBacklightLevel(5); },
         0, {}, {levelRequest(5), kFollowUpRequest}},
        {"no driver", [] { vboard::removeDriver("BKL1:"); }, [] { return SetBacklightLevel(5); }, 0,
         {"VELNA HANDLE ERROR: 2\r\n"}, {}},
    });
}

TEST_F(Backlight, TheDisplayShowsALevelOnceItsFollowUpIsAccepted) {
    EXPECT_EQ(SetBacklightLevel(40), 1);
    EXPECT_EQ(vboard::backlight().level, 40u);
    fail("DeviceIoControl", "BKL1:", kFollowUp);
    EXPECT_EQ(SetBacklightLevel(200), 0);
    EXPECT_EQ(vboard::backlight().level, 40u);
    EXPECT_TRUE(vboard::backlight().pending) << "the driver took the level request";
    EXPECT_EQ(tarvik_test::traceOf("CreateFileW"),
              (Lines{"CreateFileW \"BKL1:\" access 0xC0000000 share 3 creation 3 flags 0x0 -> h1",
                     "CreateFileW \"BKL1:\" access 0xC0000000 share 3 creation 3 flags 0x0 -> h2"}));
}

TEST_F(Backlight, SuspendWritesFourValuesInOrderAndStopsAtTheFirstFailure) {
    struct Row {
        const char* what;
        uint32_t timeout;
        uint8_t enable;
        unsigned failingWrite;  // 0: none
        uint8_t result;
        Lines lines;
        std::vector<uint32_t> after;  // ACTimeout, BatteryTimeout, UseExt, UseBattery
        size_t opens;
    };
    const std::vector<Row> rows = {
        {"60, enabled", 60, 1, 0, 1, {}, {60, 60, 1, 1}, 2},
        {"an enable byte of 2 is 0", 120, 2, 0, 1, {}, {120, 120, 0, 0}, 2},
        {"ACTimeout refused", 10, 1, 1, 0, {"ERROR: Can't write registry value ACTimeout\r\n"},
         {60, 30, 1, 1}, 1},
        {"BatteryTimeout refused: ACTimeout stays written, the key is not opened again", 10, 0, 2,
         0, {"ERROR: Can't write registry value BatteryTimeout\r\n"}, {10, 30, 1, 1}, 1},
        {"UseExt refused after both time-outs", 10, 0, 3, 0,
         {"ERROR: Can't write registry value UseExt\r\n"}, {10, 10, 1, 1}, 2},
        {"UseBattery refused", 10, 0, 4, 0, {"ERROR: Can't write registry value UseBattery\r\n"},
         {10, 10, 0, 1}, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        vboard::reset();
        if (row.failingWrite) fail("RegSetValueExW", "", std::nullopt, row.failingWrite);
        EXPECT_EQ(SetBacklightSuspend(row.timeout, row.enable), row.result);
        EXPECT_EQ(vboard::debugLines(), row.lines);
        EXPECT_EQ((std::vector<uint32_t>{*setting("ACTimeout"), *setting("BatteryTimeout"),
                                         *setting("UseExt"), *setting("UseBattery")}),
                  row.after);
        EXPECT_EQ(countOf("RegOpenKeyExW"), row.opens);
        expectKeysClosed();
    }
    vboard::reset();
    SetBacklightSuspend(60, 1);
    EXPECT_EQ(tarvik_test::traceOf("RegOpenKeyExW")[0],
              "RegOpenKeyExW HKCU\\ControlPanel\\BackLight options 0 sam 0xF003F -> h1");
    EXPECT_EQ(vboard::registryValue(HKEY_CURRENT_USER, kSettings, "UseExt")->type,
              static_cast<DWORD>(REG_DWORD));
}

TEST_F(Backlight, SuspendWithoutTheSettingsKeyNeverCreatesIt) {
    vboard::deleteRegistryKey(HKEY_CURRENT_USER, kSettings);
    EXPECT_EQ(SetBacklightSuspend(60, 1), 0);
    EXPECT_EQ(vboard::debugLines(),
              (Lines{"ERROR: Can't open Registry Key HKEY_LOCAL_MACHINE\\Ident\r\n"}));
    EXPECT_FALSE(vboard::registryKeyExists(HKEY_CURRENT_USER, kSettings));
    EXPECT_EQ(countOf("RegOpenKeyExW"), 1u);
    EXPECT_EQ(countOf("RegSetValueExW"), 0u);
}

TEST_F(Touch, ClearingDeletesTheStoredCalibrationOnceAndNeverCreatesTheKey) {
    const char* touchKey = "HARDWARE\\DEVICEMAP\\TOUCH";
    EXPECT_EQ(ClearTouchCalibrationData(), 1);
    EXPECT_FALSE(vboard::registryValue(HKEY_LOCAL_MACHINE, touchKey, "CalibrationData"));
    EXPECT_EQ(ClearTouchCalibrationData(), 0);
    EXPECT_EQ(tarvik_test::traceOf("RegOpenKeyExW")[0],
              "RegOpenKeyExW HKLM\\HARDWARE\\DEVICEMAP\\TOUCH options 0 sam 0x2 -> h1");
    EXPECT_EQ(countOf("RegDeleteValueW"), 2u);
    expectKeysClosed();

    vboard::deleteRegistryKey(HKEY_LOCAL_MACHINE, "HARDWARE");
    EXPECT_EQ(ClearTouchCalibrationData(), 0);
    EXPECT_FALSE(vboard::registryKeyExists(HKEY_LOCAL_MACHINE, touchKey));
    EXPECT_EQ(countOf("RegDeleteValueW"), 2u) << "nothing to delete from";
    expectKeysClosed();
    EXPECT_TRUE(vboard::debugLines().empty());
}

TEST_F(Touch, CalibrationStoresANewCalibrationUnlessItFails) {
    EXPECT_EQ(ClearTouchCalibrationData(), 1);
    EXPECT_EQ(CalibrateTouch(), 1);
    EXPECT_EQ(vboard::touchCalibrations(), 1u);
    EXPECT_TRUE(vboard::registryValue(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\TOUCH",
                                      "CalibrationData"));
    fail("TouchCalibrate");
    EXPECT_EQ(CalibrateTouch(), 0);
    EXPECT_EQ(vboard::touchCalibrations(), 1u);
    EXPECT_EQ(countOf("TouchCalibrate"), 2u);
    EXPECT_TRUE(vboard::debugLines().empty());
}

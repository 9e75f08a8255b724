// vboard/src/control: the carrier boards in examples/boards: each loads without a problem and sets
// the board up as its comments say, seen through the library where an application would see it.
#include <string>
#include <vector>

#include "Tarvik.h"
#include "vboard/gtest.h"

namespace {

const std::string kBoards = std::string(TARVIK_SOURCE_DIR) + "/examples/boards/";

std::string registryText(HKEY root, const std::string& path, const std::string& name) {
    auto value = vboard::registryValue(root, path, name);
    if (!value) return "(none)";
    if (value->type == REG_DWORD && value->data.size() == 4)
        return std::to_string(value->data[0] | value->data[1] << 8 | value->data[2] << 16 |
                              static_cast<uint32_t>(value->data[3]) << 24);
    std::string text;  // a UTF-16LE string of ASCII, without its terminating zero
    for (size_t i = 0; i + 1 < value->data.size() && value->data[i] != 0; i += 2)
        text += static_cast<char>(value->data[i]);
    return text;
}

std::vector<uint8_t> addresses(int bus) { return vboard::i2cBus(bus).addresses(); }

class Boards : public vboard::testing::BoardTest {};

TEST_F(Boards, TheEvaluationBoardIsTheBoardAtPowerOn) {
    // What the board is without the file, then with it: the same.
    auto snapshot = [] {
        std::vector<std::string> s;
        s.push_back(std::to_string(BSPGetVersion()));
        for (const char* name : {"ACTimeout", "BatteryTimeout", "UseExt", "UseBattery"})
            s.push_back(registryText(HKEY_CURRENT_USER, "ControlPanel\\BackLight", name));
        for (int bus = 0; bus < 3; ++bus)
            for (uint8_t a : addresses(bus))
                s.push_back(std::to_string(bus) + "/" + std::to_string(a) + " " +
                            vboard::i2cBus(bus).device(a)->kind());
        s.push_back(vboard::spi().device(0, 2) ? vboard::spi().device(0, 2)->kind() : "-");
        s.push_back(vboard::spi().device(1, 0) ? vboard::spi().device(1, 0)->kind() : "-");
        s.push_back(vboard::serial().state("COM1")->peer);
        s.push_back(std::to_string(vboard::can().timing().baseclock));
        for (uint32_t index = 1; index <= 23; ++index) s.push_back(std::to_string(GPIOGetPin(index)));
        return s;
    };
    const auto atPowerOn = snapshot();
    EXPECT_EQ(atPowerOn.size(), 5u + 2u + 2u + 1u + 1u + 23u);
    EXPECT_EQ(vboard::loadConfig(kBoards + "evaluation.conf"), std::vector<std::string>{});
    EXPECT_EQ(snapshot(), atPowerOn);
}

TEST_F(Boards, TheLineControllerWiresItsOwnDevicesInputsAndSettings) {
    ASSERT_EQ(vboard::loadConfig(kBoards + "line-controller.conf"), std::vector<std::string>{});
    EXPECT_EQ(BSPGetVersion(), 0x00030004u);
    EXPECT_EQ(registryText(HKEY_CURRENT_USER, "ControlPanel\\BackLight", "ACTimeout"), "0");
    EXPECT_EQ(registryText(HKEY_CURRENT_USER, "ControlPanel\\Owner", "Name"), "Line controller #2");
    EXPECT_EQ(vboard::registryValue(HKEY_LOCAL_MACHINE, "Software\\LineController", "Station")->data,
              (vboard::Bytes{0x02, 0x07}));

    // The pulled-up inputs read high: the library's inverted answer is 0 for them.
    for (uint32_t index : {3u, 5u, 16u}) {
        SCOPED_TRACE(index);
        EXPECT_EQ(GPIOGetPin(index), 0);
    }
    EXPECT_EQ(GPIOGetPin(1), 1) << "a pin without a pull-up reads low";

    EXPECT_EQ(addresses(1), std::vector<uint8_t>{0x57});
    EXPECT_EQ(addresses(2), std::vector<uint8_t>{0x49});
    uint8_t identity[6] = {};
    ASSERT_EQ(I2COpen(1, 0), 1);
    ASSERT_EQ(I2CReadMultipleBytes(1, 0, 0x57, 0, sizeof identity, identity), 1);
    I2CClose(1);
    EXPECT_EQ(std::vector<uint8_t>(identity, identity + 6),
              (std::vector<uint8_t>{0x4C, 0x43, 0x02, 0x00, 0x26, 0x12}));

    EXPECT_EQ(vboard::spi().device(1, 0), nullptr);
    EXPECT_EQ(vboard::serial().state("COM1")->wiring, vboard::SerialWiring::Loopback);
    EXPECT_EQ(vboard::serial().state("COM2")->wiring, vboard::SerialWiring::Unplugged);
    EXPECT_EQ(vboard::can().pending(), 2u);
}

TEST_F(Boards, ABadLineIsReportedWithItsFileLineAndReason) {
    const std::string path = ::testing::TempDir() + "bad-board-" + std::to_string(::getpid()) + ".conf";
    {
        std::FILE* f = std::fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("# a carrier with two mistakes\ni2c attach 3 0x50 eeprom\n\ngpoi input 0.5 1\n", f);
        std::fclose(f);
    }
    const auto problems = vboard::loadConfig(path);
    std::remove(path.c_str());
    EXPECT_EQ(problems,
              (std::vector<std::string>{
                  path + ":2: expected: i2c attach <bus> <address> eeprom [<size>] "
                         "[page=<bytes>] [write-cycle=<ms>] | i2c attach <bus> <address> sensor | "
                         "i2c detach <bus> <address> | i2c fill <bus> <address> <offset> <hex "
                         "bytes ...>",
                  path + ":4: unknown directive 'gpoi'; did you mean 'gpio'?"}));
}

}  // namespace

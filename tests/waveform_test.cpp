// vboard/src/drivers/gpio: the GPIO waveform: what the library and the outside world do to the
// pins, read back from the VCD file by a reader of the test's own that knows only the file format.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "Tarvik.h"
#include "vboard/gtest.h"
#include "vboard/vboard_c.h"

namespace {

// ---- A small VCD reader (IEEE 1364): declarations, then timestamps and scalar changes ----

using Changes = std::vector<std::pair<uint64_t, char>>;

struct Vcd {
    std::string timescale;
    std::vector<std::string> names;        // full names ("gpio.bank0.gpio0_2"), in file order
    std::map<std::string, Changes> waves;  // every value given, with its time, $dumpvars first
    std::vector<uint64_t> times;
    std::string problem;                   // why the file is not well formed, or ""
};

Vcd readVcd(const std::string& path) {
    Vcd vcd;
    std::ifstream in(path);
    if (!in) {
        vcd.problem = "cannot open " + path;
        return vcd;
    }
    std::vector<std::string> tokens;
    for (std::string t; in >> t;) tokens.push_back(t);
    std::map<std::string, std::string> byCode;
    std::vector<std::string> scope;
    size_t i = 0;
    auto command = [&](std::vector<std::string>& words) {  // the words up to "$end"
        for (++i; i < tokens.size() && tokens[i] != "$end"; ++i) words.push_back(tokens[i]);
        ++i;
        return i <= tokens.size();
    };
    bool defined = false;
    while (i < tokens.size() && !defined) {
        const std::string keyword = tokens[i];
        std::vector<std::string> words;
        if (!command(words)) {
            vcd.problem = keyword + " without $end";
            return vcd;
        }
        if (keyword == "$timescale") {
            for (const auto& w : words) vcd.timescale += w;
        } else if (keyword == "$scope" && words.size() == 2) {
            scope.push_back(words[1]);
        } else if (keyword == "$upscope" && !scope.empty()) {
            scope.pop_back();
        } else if (keyword == "$var" && words.size() == 4 && words[1] == "1") {
            std::string name;
            for (const auto& s : scope) name += s + ".";
            name += words[3];
            if (byCode.count(words[2])) {
                vcd.problem = "code " + words[2] + " declared twice";
                return vcd;
            }
            byCode[words[2]] = name;
            vcd.names.push_back(name);
        } else if (keyword == "$enddefinitions") {
            defined = true;
        } else if (keyword != "$version" && keyword != "$date" && keyword != "$comment") {
            vcd.problem = "unexpected " + keyword;
            return vcd;
        }
    }
    if (!defined || !scope.empty()) {
        vcd.problem = "no $enddefinitions, or scopes left open";
        return vcd;
    }
    bool timed = false;
    uint64_t now = 0;
    for (; i < tokens.size(); ++i) {
        const std::string& t = tokens[i];
        if (t == "$dumpvars" || t == "$end") continue;
        if (t[0] == '#') {
            const uint64_t time = std::strtoull(t.c_str() + 1, nullptr, 10);
            if (timed && time <= now) {
                vcd.problem = "time " + t + " does not move forward";
                return vcd;
            }
            timed = true;
            now = time;
            vcd.times.push_back(time);
            continue;
        }
        auto it = byCode.find(t.substr(1));
        if (!timed || (t[0] != '0' && t[0] != '1') || it == byCode.end()) {
            vcd.problem = "bad change '" + t + "'";
            return vcd;
        }
        vcd.waves[it->second].push_back({now, t[0]});
    }
    return vcd;
}

std::string tempPath(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/tarvik-" + name + "-" +
           std::to_string(::getpid()) + ".vcd";
}

class Waveform : public vboard::testing::BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        vboard::setVirtualSleep(true);
    }
    void TearDown() override {
        vboard::recordVcd("");
        std::remove(path.c_str());
        BoardTest::TearDown();
    }
    // The board's clock in the file's unit.
    static uint64_t micros() { return vboard::clockNanoseconds() / 1000; }
    std::string path = tempPath("wave");
};

TEST_F(Waveform, ShowsWhatTheLibraryAndTheOutsideWorldDidToThePinsOnTheBoardsClock) {
    ASSERT_TRUE(vboard::recordVcd(path));
    const uint64_t t0 = micros();
    // Index 1 is pin 0.2: an output, driven high, low after 5 ms, high again after 5 more.
    ASSERT_EQ(GPIOSetDirection(1, 0, 1), 1);
    Sleep(5);
    GPIOSetPin(1, 0);
    Sleep(5);
    GPIOSetPin(1, 1);
    // Index 3 is pin 0.5: a button with a rising-edge interrupt, pressed 2 ms later, released
    // after 1 ms more.
    HANDLE pressed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_EQ(GPIOSetInterrupt(3, TARVIK_GPIO_RISING_EDGE, pressed), 1);
    vboard::advanceClock(2000000);
    vboard::gpio().driveInput(0, 5, true);
    vboard::advanceClock(1000000);
    vboard::gpio().driveInput(0, 5, false);
    EXPECT_EQ(WaitForSingleObject(pressed, 0), WAIT_OBJECT_0);
    GPIOClearInterrupt(3);
    CloseHandle(pressed);
    vboard::advanceClock(500000);
    ASSERT_TRUE(vboard::recordVcd(""));

    const Vcd vcd = readVcd(path);
    ASSERT_EQ(vcd.problem, "");
    EXPECT_EQ(vcd.timescale, "1us");
    // Only the two pins touched are in the file.
    EXPECT_EQ(vcd.names, (std::vector<std::string>{
                             "gpio.bank0.gpio0_2", "gpio.bank0.gpio0_2_dir", "gpio.bank0.gpio0_2_irq",
                             "gpio.bank0.gpio0_5", "gpio.bank0.gpio0_5_dir", "gpio.bank0.gpio0_5_irq"}));
    const std::map<std::string, Changes> expected = {
        {"gpio.bank0.gpio0_2", {{t0, '0'}, {t0, '1'}, {t0 + 5000, '0'}, {t0 + 10000, '1'}}},
        {"gpio.bank0.gpio0_2_dir", {{t0, '0'}, {t0, '1'}}},
        {"gpio.bank0.gpio0_2_irq", {{t0, '0'}}},
        {"gpio.bank0.gpio0_5", {{t0, '0'}, {t0 + 12000, '1'}, {t0 + 13000, '0'}}},
        {"gpio.bank0.gpio0_5_dir", {{t0, '0'}}},
        {"gpio.bank0.gpio0_5_irq", {{t0, '0'}, {t0 + 12000, '1'}, {t0 + 12001, '0'}}},
    };
    EXPECT_EQ(vcd.waves, expected);
    // The file runs to when the recording stopped.
    ASSERT_FALSE(vcd.times.empty());
    EXPECT_EQ(vcd.times.back(), t0 + 13500);
}

TEST_F(Waveform, IsTakenFromTheDirectiveAndTheCApiAndGoesOnThroughAReset) {
    ASSERT_EQ(vboard::applyConfigLine("vcd " + path), std::vector<std::string>{});
    const uint64_t t0 = micros();
    vboard_gpio_drive_input(2, 7, 1);
    vboard_advance_clock(3000000);
    // Applied again with the same file, as a reset applies the start-up configuration: the
    // recording goes on.
    ASSERT_EQ(vboard::applyConfigLine("vcd " + path), std::vector<std::string>{});
    vboard::reset();  // the pad goes back low; the board's clock starts again at 0
    vboard::setVirtualSleep(true);
    vboard_advance_clock(1000000);
    vboard_gpio_drive_input(6, 31, 1);
    ASSERT_EQ(vboard_vcd(nullptr), 1);

    const Vcd vcd = readVcd(path);
    ASSERT_EQ(vcd.problem, "");
    ASSERT_EQ(vcd.waves.count("gpio.bank2.gpio2_7"), 1u);
    const Changes& before = vcd.waves.at("gpio.bank2.gpio2_7");
    ASSERT_EQ(before.size(), 3u);
    EXPECT_EQ(before[1], (std::pair<uint64_t, char>{t0, '1'}));
    EXPECT_EQ(before[2].second, '0');
    // The reset's change comes when it happened: the board runs on real time from power-on until
    // the test makes its sleep virtual again.
    EXPECT_GE(before[2].first, t0 + 3000);
    EXPECT_LT(before[2].first, t0 + 3000 + 1000000);
    const Changes& after = vcd.waves.at("gpio.bank6.gpio6_31");
    ASSERT_EQ(after.size(), 2u);
    EXPECT_GE(after[1].first, t0 + 4000) << "time goes on after the board's clock restarted";
    EXPECT_EQ(after[1].second, '1');
}

TEST_F(Waveform, AFileThatCannotBeCreatedIsRefusedWithItsReason) {
    const std::string bad = "/nonexistent-folder/wave.vcd";
    EXPECT_FALSE(vboard::recordVcd(bad));
    EXPECT_EQ(vboard_vcd(bad.c_str()), 0);
    EXPECT_EQ(vboard::applyConfigLine("vcd " + bad),
              std::vector<std::string>{"cannot write the waveform '" + bad +
                                       "': No such file or directory"});
    EXPECT_EQ(vboard::applyConfigLine("vcd"), std::vector<std::string>{"expected: vcd <file>|off"});
    // Nothing is recording: stopping is a success with nothing to write.
    EXPECT_TRUE(vboard::recordVcd(""));
    EXPECT_EQ(vboard::applyConfigLine("vcd off"), std::vector<std::string>{});
}

TEST_F(Waveform, InterruptsAtTheSameInstantShowAsOnePulseAndARecordingIsReplaced) {
    const std::string first = tempPath("first");
    ASSERT_TRUE(vboard::recordVcd(first));
    vboard::gpio().driveInput(1, 1, true);
    // A new file: the first is written out whole.
    ASSERT_TRUE(vboard::recordVcd(path));
    const uint64_t t0 = micros();
    HANDLE edge = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_EQ(GPIOSetInterrupt(5, TARVIK_GPIO_BOTH_EDGES, edge), 1);  // index 5 is pin 3.5
    vboard::gpio().driveInput(3, 5, true);
    vboard::gpio().driveInput(3, 5, false);
    vboard::advanceClock(1000);  // 1 us: the next interrupt starts as the pulse ends
    vboard::gpio().driveInput(3, 5, true);
    GPIOClearInterrupt(5);
    CloseHandle(edge);
    ASSERT_TRUE(vboard::recordVcd(""));

    const Vcd one = readVcd(first);
    std::remove(first.c_str());
    ASSERT_EQ(one.problem, "");
    EXPECT_EQ(one.waves.at("gpio.bank1.gpio1_1"), (Changes{{one.times.front(), '0'},
                                                           {one.times.front(), '1'}}));
    const Vcd vcd = readVcd(path);
    ASSERT_EQ(vcd.problem, "");
    EXPECT_EQ(vcd.waves.count("gpio.bank1.gpio1_1"), 0u) << "untouched in the second recording";
    EXPECT_EQ(vcd.waves.at("gpio.bank3.gpio3_5_irq"),
              (Changes{{t0, '0'}, {t0, '1'}, {t0 + 1, '0'}, {t0 + 1, '1'}, {t0 + 2, '0'}}));
    EXPECT_EQ(vcd.waves.at("gpio.bank3.gpio3_5"),
              (Changes{{t0, '0'}, {t0, '1'}, {t0, '0'}, {t0 + 1, '1'}}));
}

TEST_F(Waveform, ARecordingStillGoingIsWrittenWhenTheProcessEnds) {
    EXPECT_EXIT(
        {
            vboard::recordVcd(path);
            vboard::gpio().driveInput(4, 18, true);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    const Vcd vcd = readVcd(path);
    ASSERT_EQ(vcd.problem, "");
    ASSERT_EQ(vcd.waves.count("gpio.bank4.gpio4_18"), 1u);
    EXPECT_EQ(vcd.waves.at("gpio.bank4.gpio4_18").back().second, '1');
}

TEST_F(Waveform, ARecordingIsWrittenWhenAResetRequestEndsTheProcess) {
    EXPECT_EXIT(
        {
            vboard::recordVcd(path);
            vboard::applyConfigLine("on-reset end-process");
            ASSERT_EQ(GPIOSetDirection(1, 0, 1), 1);  // pin 0.2, an output driven high
            SoftReset();
            std::exit(3);
        },
        ::testing::ExitedWithCode(0), "");
    const Vcd vcd = readVcd(path);
    ASSERT_EQ(vcd.problem, "");
    // Driven high, then back to an input, low, as the restart leaves every pin.
    const uint64_t t = vcd.times.front();
    ASSERT_EQ(vcd.waves.count("gpio.bank0.gpio0_2"), 1u);
    const Changes& level = vcd.waves.at("gpio.bank0.gpio0_2");
    ASSERT_EQ(level.size(), 3u);
    EXPECT_EQ(level[1], (std::pair<uint64_t, char>{t, '1'}));
    EXPECT_EQ(level[2].second, '0');
    EXPECT_EQ(vcd.waves.at("gpio.bank0.gpio0_2_dir").back().second, '0');
}

TEST_F(Waveform, AForkedChildThatEndsLeavesItsParentsRecordingAlone) {
    ASSERT_TRUE(vboard::recordVcd(path));
    vboard::gpio().driveInput(0, 16, true);
    // A death test's child inherits the recording; what it does and its exit stay out of the file.
    EXPECT_EXIT(
        {
            for (int i = 0; i < 50000; ++i) vboard::gpio().driveInput(0, 17, i % 2 == 0);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    vboard::gpio().driveInput(0, 18, true);
    ASSERT_TRUE(vboard::recordVcd(""));
    const Vcd vcd = readVcd(path);
    ASSERT_EQ(vcd.problem, "");
    EXPECT_EQ(vcd.names, (std::vector<std::string>{
                             "gpio.bank0.gpio0_16", "gpio.bank0.gpio0_16_dir", "gpio.bank0.gpio0_16_irq",
                             "gpio.bank0.gpio0_18", "gpio.bank0.gpio0_18_dir", "gpio.bank0.gpio0_18_irq"}));
    const uint64_t t = vcd.times.front();
    EXPECT_EQ(vcd.waves.at("gpio.bank0.gpio0_18"), (Changes{{t, '0'}, {t, '1'}}));
}

}  // namespace

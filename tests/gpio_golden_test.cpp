// A whole GPIO scenario against its kept trace: any change in what the library asks of the
// system, in what order, or in what it prints, shows as a diff of tests/golden/.
// Set TARVIK_UPDATE_GOLDEN=1 to write the trace anew after an intended change.
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "Tarvik.h"
#include "library_test.h"
#include "test_support.h"

namespace {

std::string goldenPath(const std::string& name) {
    return std::string(TARVIK_SOURCE_DIR) + "/tests/golden/" + name;
}

void expectGolden(const std::string& name, const std::vector<std::string>& lines) {
    std::string actual;
    for (const std::string& line : lines) actual += line + "\n";
    const std::string path = goldenPath(name);
    if (const char* update = std::getenv("TARVIK_UPDATE_GOLDEN"); update && *update == '1') {
        std::ofstream(path, std::ios::binary) << actual;
        // A rewrite compares nothing, so it never passes: it cannot be left on by mistake.
        FAIL() << "rewrote " << path << "; check its diff and run again without TARVIK_UPDATE_GOLDEN";
    }
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << "no golden trace at " << path << " (TARVIK_UPDATE_GOLDEN=1 writes it)";
    std::stringstream expected;
    expected << in.rdbuf();
    EXPECT_EQ(actual, expected.str()) << "the trace differs from " << path;
}

}  // namespace

class GpioGolden : public tarvik_test::LibraryTest {};

TEST_F(GpioGolden, DirectionReadAndInterruptRoundTrip) {
    EXPECT_EQ(GPIOSetDirection(1, 0, 1), 1);
    EXPECT_EQ(GPIOGetPin(1), 0);
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    EXPECT_EQ(GPIOSetInterrupt(3, vboard::kGpioRisingEdge, event), 1);
    vboard::gpio().driveInput(0, 5, true);
    EXPECT_EQ(WaitForSingleObject(event, 1000), WAIT_OBJECT_0);
    EXPECT_EQ(GPIOClearInterrupt(3), 1);
    EXPECT_EQ(GPIOSetDirection(24, 0, 0), 0);
    CloseHandle(event);
    expectGolden("gpio_round_trip.trace", vboard::traceLines());
    tarvik_test::expectNoMisuse();
}

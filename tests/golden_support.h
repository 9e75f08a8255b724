// Kept traces: a whole scenario compared with its file in tests/golden/. Set
// TARVIK_UPDATE_GOLDEN=1 to write the trace anew after an intended change.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tarvik_test {

inline void expectGolden(const std::string& name, const std::vector<std::string>& lines) {
    std::string actual;
    for (const std::string& line : lines) actual += line + "\n";
    const std::string path = std::string(TARVIK_SOURCE_DIR) + "/tests/golden/" + name;
    if (const char* update = std::getenv("TARVIK_UPDATE_GOLDEN"); update && *update == '1') {
        std::ofstream(path, std::ios::binary) << actual;
        return;
    }
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << "no golden trace at " << path << " (TARVIK_UPDATE_GOLDEN=1 writes it)";
    std::stringstream expected;
    expected << in.rdbuf();
    EXPECT_EQ(actual, expected.str()) << "the trace differs from " << path;
}

}  // namespace tarvik_test

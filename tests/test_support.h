// Helpers shared by the tests: the export list, and checks of what the board saw.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "vboard/vboard.h"

namespace tarvik_test {

// The names on the export list, in the list's order.
inline std::vector<std::string> exportList() {
    std::ifstream in(TARVIK_EXPORT_LIST_FILE);
    std::vector<std::string> names;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        names.push_back(line);
    }
    return names;
}

// No call on a closed or foreign handle, and no close of one, happened.
inline void expectNoMisuse() {
    auto misuses = vboard::misuses();
    EXPECT_TRUE(misuses.empty()) << "first misuse: " << (misuses.empty() ? "" : misuses[0]);
}

// The trace lines of the calls of one function.
inline std::vector<std::string> traceOf(const std::string& function) {
    std::vector<std::string> lines;
    for (const auto& e : vboard::trace())
        if (e.function == function) lines.push_back(vboard::renderTrace(e));
    return lines;
}

// Compares lines with a kept trace in tests/golden/; TARVIK_UPDATE_GOLDEN=1 writes it anew after
// an intended change.
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

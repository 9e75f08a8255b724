// Helpers shared by the tests: the export list, and checks of what the board saw.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
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

}  // namespace tarvik_test

// Helpers shared by the tests: the export list, and checks of what the board saw.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <initializer_list>
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

// 32-bit little-endian words, as every driver record carries them. Negative values are written
// as their two's complement ("pin -1" is FF FF FF FF).
inline vboard::Bytes words(std::initializer_list<int64_t> values) {
    vboard::Bytes out;
    for (int64_t v : values)
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
    return out;
}

// The GPIO event record as the library lays it out on this host: the handle is a native pointer.
inline vboard::Bytes gpioEventRecord(int32_t bank, int32_t pin, HANDLE event) {
    struct {
        int32_t bank;
        int32_t pin;
        HANDLE eventHandle;
    } record = {bank, pin, event};
    vboard::Bytes out(sizeof record);
    std::memcpy(out.data(), &record, sizeof record);
    return out;
}

// The trace lines of the calls of one function.
inline std::vector<std::string> traceOf(const std::string& function) {
    std::vector<std::string> lines;
    for (const auto& e : vboard::trace())
        if (e.function == function) lines.push_back(vboard::renderTrace(e));
    return lines;
}

// Applies a configuration line and checks its answer: applied when `problem` is empty, otherwise
// exactly one problem containing `problem`.
inline void expectConfigLine(const std::string& line, const std::string& problem) {
    SCOPED_TRACE(line);
    const auto problems = vboard::applyConfigLine(line);
    if (problem.empty()) {
        EXPECT_TRUE(problems.empty()) << problems.front();
    } else {
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_NE(problems[0].find(problem), std::string::npos) << problems[0];
    }
}

}  // namespace tarvik_test

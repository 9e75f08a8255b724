// src/system: what the system-service tests share: the shared helpers, and faults armed by name.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "test_support.h"
#include "vboard/vboard.h"

namespace system_test {

using tarvik_test::Case;
using tarvik_test::countOf;
using tarvik_test::Lines;
using tarvik_test::Request;
using tarvik_test::requests;
using tarvik_test::successfulOpens;
using tarvik_test::words;
using vboard::Bytes;

// Each case starts from the power-on board and closes every handle it opens.
inline void runCases(const std::vector<Case>& cases) { tarvik_test::runCases(cases, {}); }

inline void fail(const std::string& function, const std::string& device = "",
                 std::optional<DWORD> code = std::nullopt, unsigned nth = 0,
                 DWORD error = ERROR_GEN_FAILURE) {
    vboard::armFault({function, device, code, nth, error});
}

}  // namespace system_test

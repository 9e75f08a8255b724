// A GoogleTest fixture for tests on the virtual board: each test starts on a board in its
// power-on state and ends with a check that no handle was misused. Use it as the base of your
// fixtures, or with TEST_F directly:
//
//     #include "vboard/gtest.h"
//     using BoardTest = vboard::testing::BoardTest;
//     TEST_F(BoardTest, ButtonWakesTheApp) { ... }
//
// With it a whole suite runs in one process, shuffled and repeated, as IDEs run it. State the
// application keeps in its own globals is the application's to reset.
#pragma once

#include <gtest/gtest.h>

#include "vboard/vboard.h"

namespace vboard {
namespace testing {

class BoardTest : public ::testing::Test {
protected:
    void SetUp() override { vboard::reset(); }
    void TearDown() override { expectNoMisuse(); }

public:
    // No call on a closed or foreign handle, and no bad close, since the board was reset.
    static void expectNoMisuse() {
        const Tally tally = vboard::misuseTally();
        if (tally.recorded == 0) return;
        const auto kept = vboard::misuses();
        ADD_FAILURE() << tally.recorded << " misuse(s) of handles; first kept: "
                      << (kept.empty() ? std::string("(none kept)") : kept.front());
    }
};

}  // namespace testing
}  // namespace vboard

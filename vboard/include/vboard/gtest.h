// A GoogleTest fixture for tests on the virtual board: each test starts on a board in its
// power-on state and ends with two checks: no handle was misused, and no driver handle was left
// open. Use it as the base of your fixtures, or with TEST_F directly:
//
//     #include "vboard/gtest.h"
//     using BoardTest = vboard::testing::BoardTest;
//     TEST_F(BoardTest, ButtonWakesTheApp) { ... }
//
// With it a whole suite runs in one process, shuffled and repeated, as IDEs run it. State the
// application keeps in its own globals is the application's to reset.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "vboard/vboard.h"

namespace vboard {
namespace testing {

class BoardTest : public ::testing::Test {
protected:
    void SetUp() override {
        kept_.clear();
        vboard::reset();
    }
    // A fixture that closes its own handles here does so before calling this.
    void TearDown() override {
        expectNoMisuse();
        expectDriverHandlesClosed();
    }

    // Declares that this test leaves driver handles on `device` ("IOC1:") open on purpose, so the
    // tear-down lets them be: a port the application keeps for good, the handle of a reset that
    // never returns. The next test's reset closes them.
    void keepOpen(const std::string& device) { kept_.push_back(device); }

public:
    // No call on a closed or foreign handle, and no bad close, since the board was reset.
    static void expectNoMisuse() {
        const Tally tally = vboard::misuseTally();
        if (tally.recorded == 0) return;
        const auto kept = vboard::misuses();
        ADD_FAILURE() << tally.recorded << " misuse(s) of handles; first kept: "
                      << (kept.empty() ? std::string("(none kept)") : kept.front());
    }

    // Every driver handle the test opened, itself or through the library, is closed again, but
    // on the devices it declared with keepOpen. A handle left open would be closed by the next
    // test's reset, and that test would fail on the library's later use of it, far from here.
    void expectDriverHandlesClosed() const {
        std::string left;
        size_t count = 0;
        for (const HandleInfo& h : vboard::openHandles()) {
            if (h.kind != "driver" || isKept(h.name)) continue;
            left += std::string(count++ ? ", " : "") + vboard::handleLabel(h.value) + " on \"" +
                    h.name + "\"";
        }
        if (count == 0) return;
        ADD_FAILURE() << "the test left " << count << " driver handle(s) open: " << left
                      << "; close them (a CloseHandle, or the library's close, clear or reset "
                         "call), or declare a handle kept on purpose with keepOpen(\"DEVICE:\")";
    }

private:
    bool isKept(const std::string& device) const {
        for (const std::string& k : kept_) {
            if (k.size() != device.size()) continue;
            bool same = true;
            for (size_t i = 0; i < k.size() && same; ++i)
                same = std::toupper(static_cast<unsigned char>(k[i])) ==
                       std::toupper(static_cast<unsigned char>(device[i]));
            if (same) return true;
        }
        return false;
    }

    std::vector<std::string> kept_;
};

}  // namespace testing
}  // namespace vboard

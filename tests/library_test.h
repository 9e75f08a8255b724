// The fixture of the library's own tests: a power-on board and a library whose kept handles and
// records are forgotten, as if it had just been loaded; no misused handle at the end.
#pragma once

#include "fresh_library.h"
#include "vboard/gtest.h"

namespace tarvik_test {

class LibraryTest : public vboard::testing::BoardTest {
protected:
    void SetUp() override {
        // The board's reset closes the handles the library kept; the library then forgets them.
        BoardTest::SetUp();
        tarvik_test::freshLibrary();
    }
};

}  // namespace tarvik_test

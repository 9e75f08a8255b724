// What every file of the C control API (vboard/vboard_c.h) shares: the guards its entries run
// their bodies behind, so that an exception (from a model or a directive of the application's,
// or memory running out) never reaches a C test, and the texts it hands out in malloc'd buffers.
// Each file defines its bodies in vboard::capi and exports them as C functions behind a guard:
// the control API's common part in control/, each family's in its folder.
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "os/entry_guard.h"

namespace vboard {

// What an entry that hands out a text answers when it fails.
char* const kNoText = nullptr;

// A text for the caller to free with vboard_free; NULL when memory runs out.
char* giveText(const std::string& text);
// The lines joined, each ending in "\n" unless `ended` (debug lines carry their own ending);
// NULL when there are none.
char* giveLines(const std::vector<std::string>& lines, bool ended);
// A C string argument, NULL read as "".
inline std::string orEmpty(const char* text) { return text ? text : ""; }

// An entry of the C control API (vboard_c.h) with a failure status: it answers that status.
template <class Result, class Body>
Result guardControl(const char* function, Result failure, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        if constexpr (std::is_pointer_v<Result>)
            reportEscape(function, escapedWhat(), "answers NULL", -1);
        else
            reportEscape(function, escapedWhat(), "answers", static_cast<long long>(failure));
        return failure;
    }
}

template <class Body>
void guardVoidControl(const char* function, Body&& body) noexcept {
    try {
        body();
    } catch (...) {
        reportEscape(function, escapedWhat(), "returns", -1);
    }
}

// An entry of the C control API that answers NULL when done and a problem text (malloc'd)
// otherwise: the exception is the problem.
template <class Body>
char* guardProblem(const char* function, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        const char* what = escapedWhat();
        reportEscape(function, what, "answers the problem", -1);
        const char* prefix = "an exception in the board: ";
        const size_t size = std::strlen(prefix) + std::strlen(what) + 1;
        char* text = static_cast<char*>(std::malloc(size));
        if (text != nullptr) {
            std::strcpy(text, prefix);
            std::strcat(text, what);
        }
        return text;
    }
}

}  // namespace vboard

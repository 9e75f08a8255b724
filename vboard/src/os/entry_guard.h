// The platform calls' boundary of the virtual board. The library and applications call the board
// through plain C functions, and an exception that reached them would end the process: each
// platform call runs its body behind a guard that turns an exception (a model of the
// application's that throws, memory running out) into the call's failure, the way the system
// fails the call, and says so on stderr. The C control API's guards are in control/c_api.h.
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>

#include "os/call.h"

namespace vboard {

// Inside a catch, for a person: the exception's what(), or a word for one that is no
// std::exception. Valid until the catch ends.
const char* escapedWhat() noexcept;
// Inside a catch: the error a failed platform call reports for it, ERROR_NOT_ENOUGH_MEMORY when
// memory ran out, ERROR_GEN_FAILURE for anything else.
DWORD escapedError() noexcept;
// Tells the person running the program, on stderr, that a call failed because of an exception
// and what it answers instead: `outcome`, then `value` unless it is -1 ("fails with error 31").
void reportEscape(const char* function, const char* what, const char* outcome,
                  long long value) noexcept;

// A platform call that reports failure through its result and the last error. The trace shows
// the failed call.
template <class Result, class Body>
Result guardCall(const char* function, Result failure, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        const DWORD error = escapedError();
        const char* what = escapedWhat();
        reportEscape(function, what, "fails with error", error);
        try {
            Call call(function);
            call.entry.args = std::string("(an exception in the board: ") + what + ")";
            return call.fail(failure, error);
        } catch (...) {
            setLastErrorValue(error);
            return failure;
        }
    }
}

// A registry call, which answers its error instead of setting the last error.
template <class Body>
LONG guardRegistryCall(const char* function, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        const LONG error = static_cast<LONG>(escapedError());
        const char* what = escapedWhat();
        reportEscape(function, what, "answers error", error);
        try {
            Call call(function);
            call.entry.args = std::string("(an exception in the board: ") + what + ")";
            return call.answer(error);
        } catch (...) {
            return error;
        }
    }
}

// A platform call without a result (a pause, a debug line): it returns, as on the device.
template <class Body>
void guardVoidCall(const char* function, Body&& body) noexcept {
    try {
        body();
    } catch (...) {
        reportEscape(function, escapedWhat(), "returns", -1);
    }
}

}  // namespace vboard

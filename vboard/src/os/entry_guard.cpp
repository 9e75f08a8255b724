// What the guards of the C entry points say about an exception they stopped.
#include "os/entry_guard.h"

#include <cstdio>
#include <exception>
#include <new>

namespace vboard {

const char* escapedWhat() noexcept {
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "an exception that is no std::exception";
    }
}

DWORD escapedError() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY);
    } catch (...) {
        return static_cast<DWORD>(ERROR_GEN_FAILURE);
    }
}

void reportEscape(const char* function, const char* what, const char* outcome,
                  long long value) noexcept {
    if (value == -1)
        std::fprintf(stderr, "vboard: %s: an exception in the board (%s): the call %s\n", function,
                     what, outcome);
    else
        std::fprintf(stderr, "vboard: %s: an exception in the board (%s): the call %s %lld\n",
                     function, what, outcome, value);
}

}  // namespace vboard

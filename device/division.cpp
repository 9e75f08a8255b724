// The 32-bit division helpers the compiler calls on this target, inside the DLL: the i.MX6's
// Cortex-A9 has no divide instruction, and whether the module's coredll exports the helpers under
// these names is not something an application DLL can count on (one unresolved import and the
// whole DLL fails to load). A 64-bit division would need __rt_sdiv64/__rt_udiv64, which nothing
// provides: the link then fails on the name rather than the load on the module.
//
// The register convention is the platform's own, not the usual C one: the divisor comes in r0 and
// the dividend in r1, and the quotient goes back in r0 with the remainder in r1 - the low and high
// halves of a 64-bit result. The compiler tests the divisor for 0 before the call (and traps), so
// none arrives here; a 0 would answer quotient 0 and the dividend as remainder.
#include <stdint.h>

namespace {

// Shift-and-subtract long division: no division operator here, which would call the helper itself.
uint64_t divide(uint32_t divisor, uint32_t dividend) {
    uint32_t quotient = 0;
    uint32_t remainder = 0;
    for (int bit = 31; bit >= 0; --bit) {
        // The remainder stays below the divisor, so shifting in one bit cannot lose its top bit
        // unless it is set; then it is certainly at least the divisor.
        const bool carry = (remainder & 0x80000000u) != 0;
        remainder = (remainder << 1) | ((dividend >> bit) & 1u);
        if (divisor != 0 && (carry || remainder >= divisor)) {
            remainder -= divisor;
            quotient |= 1u << bit;
        }
    }
    return (static_cast<uint64_t>(remainder) << 32) | quotient;
}

}  // namespace

extern "C" {

uint64_t __rt_udiv(uint32_t divisor, uint32_t dividend) { return divide(divisor, dividend); }

// Truncates toward zero, the remainder taking the dividend's sign; INT32_MIN / -1 answers
// INT32_MIN with remainder 0, as the divide instructions of later cores do.
uint64_t __rt_sdiv(int32_t divisor, int32_t dividend) {
    const uint32_t magnitudeOfDivisor =
        divisor < 0 ? 0u - static_cast<uint32_t>(divisor) : static_cast<uint32_t>(divisor);
    const uint32_t magnitudeOfDividend =
        dividend < 0 ? 0u - static_cast<uint32_t>(dividend) : static_cast<uint32_t>(dividend);
    const uint64_t both = divide(magnitudeOfDivisor, magnitudeOfDividend);
    uint32_t quotient = static_cast<uint32_t>(both);
    uint32_t remainder = static_cast<uint32_t>(both >> 32);
    if ((divisor < 0) != (dividend < 0)) quotient = 0u - quotient;
    if (dividend < 0) remainder = 0u - remainder;
    return (static_cast<uint64_t>(remainder) << 32) | quotient;
}

}  // extern "C"

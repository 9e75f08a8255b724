/*
 * vboard/src/control: a small application for the environment tests: it sets a pin, reads the
 * version and reports what the board kept. The tests run it with VBOARD_* variables set, as an
 * application is run.
 */
#include <stdio.h>
#include <string.h>

#include "Tarvik.h"
#include "vboard/vboard_c.h"

static void report(const char* when) {
    const uint32_t bsp = BSPGetVersion();
    char* text = vboard_debug_text();
    printf("%s: debug recorded %llu, trace recorded %llu, bsp 0x%08X\n", when,
           (unsigned long long)vboard_debug_count(), (unsigned long long)vboard_trace_count(),
           (unsigned)bsp);
    printf("%s", text ? text : "");
    vboard_free(text);
}

int main(int argc, char** argv) {
    const char* what = argc > 1 ? argv[1] : "";
    /* An application that prints before it first uses the library. */
    if (strcmp(what, "print-first") == 0) printf("first line\n");
    GPIOSetPin(1, 1);
    report("start");
    if (strcmp(what, "reset") == 0) {
        /* After a reset the board is as it started, configuration included. */
        vboard_reset();
        GPIOSetPin(1, 1);
        report("reset");
    }
    return 0;
}

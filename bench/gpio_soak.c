/*
 * A soak test as an application would run one: GPIOSetPin(1, i & 1) in a loop on the default
 * virtual board. Prints the calls, the time, the rate and the process's peak memory, so that
 * bench/run can compare long and short runs and the recording modes.
 *
 *   gpio_soak <calls> [off|last <n>|all]
 */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

#include "Tarvik.h"
#include "vboard/vboard_c.h"

static double seconds(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
    long calls = argc > 1 ? atol(argv[1]) : 100000;
    char setting[64] = "last 65536";
    if (argc > 2) {
        snprintf(setting, sizeof setting, "%s%s%s", argv[2], argc > 3 ? " " : "",
                 argc > 3 ? argv[3] : "");
    }
    if (calls <= 0 || !vboard_record(setting)) {
        fprintf(stderr, "usage: gpio_soak <calls> [off|last <n>|all]\n");
        return 2;
    }
    double start = seconds();
    for (long i = 0; i < calls; ++i) GPIOSetPin(1, (uint8_t)(i & 1));
    double elapsed = seconds() - start;
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    printf("%ld calls, record %s: %.3f s, %.0f calls/s, peak %ld KiB, debug lines %llu\n", calls,
           setting, elapsed, (double)calls / elapsed, usage.ru_maxrss,
           (unsigned long long)vboard_debug_count());
    return 0;
}

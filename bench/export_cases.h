// Every export on its success path, beside its floor: the same platform calls with the same
// arguments, made directly, as if the library cost nothing. The benchmark, the allocation and
// trace checks and the instruction counts all run these cases.
#pragma once

#include <stddef.h>
#include <stdint.h>

// One way of making the call: the library's export, or its floor.
struct Side {
    void (*setup)();     // after the board's reset: what the call needs (open ports, a backup)
    void (*call)();      // one call on the success path; the part that is measured
    void (*after)();     // puts back what the call used up (a frame, a filter); not measured
    void (*teardown)();  // gives back what setup took, so that the library holds no handle
};

struct ExportCase {
    const char* name;     // the export
    Side exportSide;
    Side floorSide;
    uint64_t allocations;  // heap allocations the library makes per call
    const char* note;      // what the timed loop includes beyond the call, or ""
};

// All the cases, in the order of the export list.
const ExportCase* exportCases(size_t* count);

// Puts the board back to power-on, with nothing recorded and nothing echoed (or everything
// recorded, for comparing traces), and the library's kept state released by the previous case.
void prepareBoard(bool recordAll);

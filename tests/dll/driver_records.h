// Every request Tarvik.dll sends a driver or the kernel (DeviceIoControl, KernelIoControl), with
// the offsets of the WCHAR string pointers its input record carries. The stand-in of coredll hands
// the board a copy of such a record with each string in the board's WCHAR. A request missing from
// the table ends the test run with its code, and every record's size is asserted next to the
// table, so that a new record, or a string added to an old one, cannot pass unconverted.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tarvik_platform.h"

namespace tarvik_dll {

struct DriverRecord {
    DWORD code;
    const char* request;
    // The input record's size when it carries strings (it must then be exactly this size).
    uint32_t size;
    uint8_t stringCount;
    uint8_t strings[2];  // byte offsets of the WCHAR pointers in the input record
};

// The table's entry for a request code; null when the table has none.
const DriverRecord* driverRecord(DWORD code);

}  // namespace tarvik_dll

// What the system-service tests share: the requests a call sent, records as bytes, and a table
// of cases that each start from the same board and check result, lines and requests.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <optional>

#include "test_support.h"
#include "vboard/vboard.h"

namespace system_test {

using vboard::Bytes;
using Lines = std::vector<std::string>;

// One DeviceIoControl as the driver received it: both buffers, as sent.
struct Request {
    std::string device;
    DWORD code;
    Bytes in;
    Bytes out;
    bool operator==(const Request& o) const {
        return device == o.device && code == o.code && in == o.in && out == o.out;
    }
};

inline std::ostream& operator<<(std::ostream& os, const Request& r) {
    os << r.device << " 0x" << std::hex << r.code << std::dec << " in [";
    for (uint8_t b : r.in) os << ' ' << static_cast<int>(b);
    os << " ] out [";
    for (uint8_t b : r.out) os << ' ' << static_cast<int>(b);
    return os << " ]";
}

// The requests sent since the trace was cleared. The output buffer is shown as it was after the
// call; the models used here never write into a buffer they only read.
inline std::vector<Request> requests() {
    std::vector<Request> out;
    for (const auto& e : vboard::trace())
        if (e.function == "DeviceIoControl") out.push_back({e.device, e.code, e.in, e.out});
    return out;
}

inline Bytes words(std::initializer_list<uint32_t> values) {
    Bytes out;
    for (uint32_t v : values)
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return out;
}

inline size_t countOf(const std::string& function) { return tarvik_test::traceOf(function).size(); }

inline size_t successfulOpens() {
    size_t count = 0;
    for (const auto& e : vboard::trace()) count += e.function == "CreateFileW" && e.ok;
    return count;
}

struct Case {
    const char* what;
    std::function<void()> setUp;
    std::function<int64_t()> call;
    int64_t result;
    Lines lines;
    std::vector<Request> sent;
};

// Runs each case on a board without faults, with the debug lines and trace cleared after its
// set-up; every handle opened must be closed again.
inline void runCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        vboard::reset();
        if (c.setUp) c.setUp();
        vboard::clearDebug();
        vboard::clearTrace();
        EXPECT_EQ(c.call(), c.result);
        EXPECT_EQ(vboard::debugLines(), c.lines);
        EXPECT_EQ(requests(), c.sent);
        EXPECT_EQ(countOf("CloseHandle"), successfulOpens());
        EXPECT_EQ(vboard::openDriverHandles(), 0u);
        tarvik_test::expectNoMisuse();
    }
}

inline void fail(const std::string& function, const std::string& device = "",
                 std::optional<DWORD> code = std::nullopt, unsigned nth = 0,
                 DWORD error = ERROR_GEN_FAILURE) {
    vboard::armFault({function, device, code, nth, error});
}

}  // namespace system_test

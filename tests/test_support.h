// Helpers shared by the tests: the export list, checks of what the board saw, the requests a
// call sent, and tables of cases that each check result, debug lines, requests and handles.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "vboard/vboard.h"

namespace tarvik_test {

using vboard::Bytes;
using Lines = std::vector<std::string>;

// A path in the test's temporary folder that no other test process uses at the same time (CTest
// runs tests in parallel, and two checkouts may run the same suite at once).
inline std::string scratchPath(const std::string& name) {
    return ::testing::TempDir() + std::to_string(::getpid()) + "-" + name;
}

// The names on the export list, in the list's order.
inline std::vector<std::string> exportList() {
    std::ifstream in(TARVIK_EXPORT_LIST_FILE);
    std::vector<std::string> names;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        names.push_back(line);
    }
    return names;
}

// No call on a closed or foreign handle, and no close of one, happened.
inline void expectNoMisuse() {
    auto misuses = vboard::misuses();
    EXPECT_TRUE(misuses.empty()) << "first misuse: " << (misuses.empty() ? "" : misuses[0]);
}

// 32-bit little-endian words, as every driver record carries them. Negative values are written
// as their two's complement ("pin -1" is FF FF FF FF).
inline vboard::Bytes words(std::initializer_list<int64_t> values) {
    vboard::Bytes out;
    for (int64_t v : values)
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
    return out;
}

// The GPIO event record as the library lays it out on this host: the handle is a native pointer.
inline vboard::Bytes gpioEventRecord(int32_t bank, int32_t pin, HANDLE event) {
    struct {
        int32_t bank;
        int32_t pin;
        HANDLE eventHandle;
    } record = {bank, pin, event};
    vboard::Bytes out(sizeof record);
    std::memcpy(out.data(), &record, sizeof record);
    return out;
}

// The trace lines of the calls of one function.
inline std::vector<std::string> traceOf(const std::string& function) {
    std::vector<std::string> lines;
    for (const auto& e : vboard::trace())
        if (e.function == function) lines.push_back(vboard::renderTrace(e));
    return lines;
}

// Applies a configuration line and checks its answer: applied when `problem` is empty, otherwise
// exactly one problem containing `problem`.
inline void expectConfigLine(const std::string& line, const std::string& problem) {
    SCOPED_TRACE(line);
    const auto problems = vboard::applyConfigLine(line);
    if (problem.empty()) {
        EXPECT_TRUE(problems.empty()) << problems.front();
    } else {
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_NE(problems[0].find(problem), std::string::npos) << problems[0];
    }
}

// The same with the problem whole: no problem when `problem` is empty, otherwise exactly it.
inline void expectConfigProblem(const std::string& line, const std::string& problem) {
    SCOPED_TRACE(line);
    const auto problems = vboard::applyConfigLine(line);
    if (problem.empty())
        EXPECT_TRUE(problems.empty()) << problems[0];
    else
        EXPECT_EQ(problems, std::vector<std::string>{problem});
}

// Opens a stream driver for reading and writing, shared, as a test that talks to a model does.
inline HANDLE openDevice(const char* device) {
    std::wstring name(device, device + std::strlen(device));
    return CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 3, nullptr, OPEN_EXISTING, 0,
                       nullptr);
}

inline size_t countOf(const std::string& function) { return traceOf(function).size(); }

inline size_t successfulOpens() {
    size_t count = 0;
    for (const auto& e : vboard::trace()) count += e.function == "CreateFileW" && e.ok;
    return count;
}

// Forgets the debug lines and the trace, so that what follows is checked on its own.
inline void clearRecords() {
    vboard::clearDebug();
    vboard::clearTrace();
}

// Every driver handle opened since the trace was cleared was closed again, and only those.
inline void expectHandlesBalanced() {
    EXPECT_EQ(countOf("CloseHandle"), successfulOpens());
    EXPECT_EQ(vboard::openDriverHandles(), 0u);
}

// One DeviceIoControl as the driver received it. Tests of a single driver state the code and the
// input only; the device and the output buffer (as it was after the call) are left empty there.
struct Request {
    DWORD code;
    Bytes in;
    std::string device = {};
    Bytes out = {};
    bool operator==(const Request& o) const {
        return code == o.code && in == o.in && device == o.device && out == o.out;
    }
};

inline std::ostream& operator<<(std::ostream& os, const Request& r) {
    auto bytes = [&os](const Bytes& b) {
        os << " [";
        for (uint8_t v : b) os << ' ' << static_cast<int>(v);
        os << " ]";
    };
    if (!r.device.empty()) os << r.device << ' ';
    os << "0x" << std::hex << r.code << std::dec;
    bytes(r.in);
    if (!r.out.empty()) {
        os << " out";
        bytes(r.out);
    }
    return os;
}

// The requests sent since the trace was cleared, whole.
inline std::vector<Request> requests() {
    std::vector<Request> out;
    for (const auto& e : vboard::trace())
        if (e.function == "DeviceIoControl") out.push_back({e.code, e.in, e.device, e.out});
    return out;
}

// The same, code and input only.
inline std::vector<Request> codesAndInputs() {
    std::vector<Request> out;
    for (const Request& r : requests()) out.push_back({r.code, r.in});
    return out;
}

// One call of a table: its set-up, the call (an export's result, or a value the table chooses for
// one that answers nothing), and what it must answer, print and send.
struct Case {
    const char* what;
    std::function<void()> setUp;
    std::function<int64_t()> call;
    int64_t result;
    Lines lines;
    std::vector<Request> sent;
    int opens = -1;  // CreateFileW calls the case makes; -1 leaves them unchecked
};

// How a table's cases begin and what they check beside result, lines and requests.
struct CaseRules {
    // Before each case's own set-up: by default the board's power-on state.
    std::function<void()> start = [] { vboard::reset(); };
    // The requests as the cases state them.
    std::function<std::vector<Request>()> sent = requests;
    // Each case closes every driver handle it opens; false where a port stays open across cases.
    bool closesItsHandles = true;
};

// Runs each case from its start, with the debug lines and trace cleared after its set-up; no case
// may misuse a handle. Each family's tests name their rules once, in a runCases(cases) of their own.
inline void runCases(const std::vector<Case>& cases, const CaseRules& rules) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (rules.start) rules.start();
        if (c.setUp) c.setUp();
        clearRecords();
        EXPECT_EQ(c.call(), c.result);
        EXPECT_EQ(vboard::debugLines(), c.lines);
        EXPECT_EQ(rules.sent(), c.sent);
        if (c.opens >= 0) {
            EXPECT_EQ(countOf("CreateFileW"), static_cast<size_t>(c.opens));
        }
        if (rules.closesItsHandles) expectHandlesBalanced();
        expectNoMisuse();
    }
}

}  // namespace tarvik_test

// vboard/src/drivers/uart: the board's serial ports alone, as a program reaches them through the
// serial calls: the settings they refuse, events and their latching, reads under each kind of
// time-out, blocked calls ended by a close from another thread, one reader and writer per port, the
// wirings, the trace decode, the "serial" directive and the C entry points.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>

#include "model_support.h"
#include "test_support.h"
#include "uart_support.h"
#include "vboard/gtest.h"
#include "vboard/vboard_c.h"

using tarvik_test::bytesOf;
using tarvik_test::whileBlocked;

namespace {

constexpr DWORD kMaxDword = 0xFFFFFFFF;

HANDLE openPort(const wchar_t* name, DWORD access = GENERIC_READ | GENERIC_WRITE) {
    return CreateFileW(name, access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

std::string text(const vboard::Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

class SerialPort : public vboard::testing::BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        com1 = openPort(L"COM1:");
        com2 = openPort(L"COM2:");
        ASSERT_NE(com1, INVALID_HANDLE_VALUE);
        ASSERT_NE(com2, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        if (com1 != nullptr) CloseHandle(com1);
        if (com2 != nullptr) CloseHandle(com2);
        BoardTest::TearDown();
    }

    BOOL write(HANDLE port, const std::string& data) {
        DWORD written = 0;
        const BOOL ok = WriteFile(port, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
        EXPECT_EQ(written, ok ? data.size() : 0u);
        return ok;
    }
    // Reads up to `size` bytes under the given time-outs; answers them, or "<failed>".
    std::string read(HANDLE port, DWORD size, COMMTIMEOUTS timeouts) {
        EXPECT_TRUE(SetCommTimeouts(port, &timeouts));
        std::string data(size, '\0');
        DWORD got = 0;
        if (!ReadFile(port, data.data(), size, &got, nullptr)) return "<failed>";
        return data.substr(0, got);
    }

    HANDLE com1 = nullptr;
    HANDLE com2 = nullptr;
};

}  // namespace

TEST_F(SerialPort, RefusesSettingsNoUartCanDo) {
    DCB good;
    ASSERT_TRUE(GetCommState(com1, &good));
    EXPECT_EQ(good.DCBlength, 28u);
    struct Case {
        const char* what;
        void (*change)(DCB&);
        bool accepted;
    };
    const Case cases[] = {
        {"5 data bits", [](DCB& d) { d.ByteSize = 5; }, true},
        {"4 data bits", [](DCB& d) { d.ByteSize = 4; }, false},
        {"9 data bits", [](DCB& d) { d.ByteSize = 9; }, false},
        {"space parity", [](DCB& d) { d.Parity = SPACEPARITY; }, true},
        {"parity 5", [](DCB& d) { d.Parity = 5; }, false},
        {"two stop bits", [](DCB& d) { d.StopBits = TWOSTOPBITS; }, true},
        {"stop bits 3", [](DCB& d) { d.StopBits = 3; }, false},
        {"baud rate 0", [](DCB& d) { d.BaudRate = 0; }, false},
        {"baud rate 1", [](DCB& d) { d.BaudRate = 1; }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DCB dcb = good;
        c.change(dcb);
        EXPECT_EQ(SetCommState(com1, &dcb), c.accepted ? TRUE : FALSE);
        if (!c.accepted) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        }
        DCB now;
        ASSERT_TRUE(GetCommState(com1, &now));
        EXPECT_EQ(std::memcmp(&now, c.accepted ? &dcb : &good, sizeof now), 0);
        SetCommState(com1, &good);
    }
}

TEST_F(SerialPort, LatchesEventsOfTheMaskUntilTheMaskChanges) {
    ASSERT_EQ(vboard::serial().loopback("COM1"), "");
    ASSERT_TRUE(SetCommMask(com1, EV_RXCHAR | EV_TXEMPTY));
    // Both events happened before the wait: it ends at once with both.
    ASSERT_TRUE(write(com1, "a"));
    DWORD events = 0;
    EXPECT_TRUE(WaitCommEvent(com1, &events, nullptr));
    EXPECT_EQ(events, EV_RXCHAR | EV_TXEMPTY);
    // A write of nothing still empties the transmitter; an event outside the mask is not kept.
    ASSERT_TRUE(SetCommMask(com1, EV_TXEMPTY));
    ASSERT_TRUE(write(com1, ""));
    EXPECT_TRUE(WaitCommEvent(com1, &events, nullptr));
    EXPECT_EQ(events, EV_TXEMPTY);
    // SetCommMask forgets what was latched: the next wait blocks until bytes come.
    ASSERT_TRUE(write(com1, "b"));
    ASSERT_TRUE(SetCommMask(com1, EV_RXCHAR));
    EXPECT_EQ(whileBlocked<BOOL>(
                  "COM1:", [&] { return WaitCommEvent(com1, &events, nullptr); },
                  [] { vboard::serial().receive("COM1:", bytesOf("c")); }),
              TRUE);
    EXPECT_EQ(events, EV_RXCHAR);
    // A new mask from another thread ends a wait, which reports no event.
    EXPECT_EQ(whileBlocked<BOOL>(
                  "COM1:", [&] { return WaitCommEvent(com1, &events, nullptr); },
                  [&] { SetCommMask(com1, EV_RXCHAR); }),
              TRUE);
    EXPECT_EQ(events, 0u);
    // With no mask there is nothing to wait for.
    ASSERT_TRUE(SetCommMask(com1, 0));
    EXPECT_FALSE(WaitCommEvent(com1, &events, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(SerialPort, ReadsHonourTheTimeouts) {
    using std::chrono::milliseconds;
    using Clock = std::chrono::steady_clock;
    struct Case {
        const char* what;
        std::string waiting;  // already in the queue
        DWORD size;
        COMMTIMEOUTS timeouts;
        std::string result;
        milliseconds atLeast;
    };
    const Case cases[] = {
        {"MAXDWORD interval answers at once", "ab", 4, {kMaxDword, 0, 0, 0, 0}, "ab", milliseconds(0)},
        {"at once with nothing", "", 4, {kMaxDword, 0, 0, 0, 0}, "", milliseconds(0)},
        {"whole request there", "abcd", 4, {0, 0, 0, 0, 0}, "abcd", milliseconds(0)},
        {"total time-out", "a", 4, {0, 10, 20, 0, 0}, "a", milliseconds(60)},
        {"interval after the first byte", "ab", 4, {30, 0, 0, 0, 0}, "ab", milliseconds(30)},
        {"first byte only, none yet", "", 4, {kMaxDword, kMaxDword, 40, 0, 0}, "", milliseconds(40)},
        {"first byte only, one there", "z", 4, {kMaxDword, kMaxDword, 40, 0, 0}, "z", milliseconds(0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PurgeComm(com2, PURGE_RXCLEAR);
        vboard::serial().receive("COM2:", bytesOf(c.waiting));
        const auto start = Clock::now();
        EXPECT_EQ(read(com2, c.size, c.timeouts), c.result);
        EXPECT_GE(Clock::now() - start, c.atLeast);
    }
    // With no time-outs a read waits for every byte, and so it does with a total time-out
    // beyond what the clock counts (MAXDWORD per byte of 8,192).
    const COMMTIMEOUTS waitForAll[] = {{0, 0, 0, 0, 0}, {0, kMaxDword, 0, 0, 0}};
    const std::string sent(8192, 'x');
    for (COMMTIMEOUTS timeouts : waitForAll) {
        SCOPED_TRACE(timeouts.ReadTotalTimeoutMultiplier);
        ASSERT_TRUE(SetCommTimeouts(com2, &timeouts));
        std::string data(sent.size(), '\0');
        DWORD got = 0;
        EXPECT_EQ(whileBlocked<BOOL>(
                      "COM2:",
                      [&] {
                          return ReadFile(com2, data.data(), static_cast<DWORD>(data.size()), &got,
                                          nullptr);
                      },
                      [&] { write(com1, sent); }),
                  TRUE);
        EXPECT_EQ(data.substr(0, got), sent);
    }
}

TEST_F(SerialPort, ACloseFromAnotherThreadEndsBlockedCallsWithAFailure) {
    ASSERT_TRUE(SetCommMask(com2, EV_RXCHAR));
    DWORD events = 0;
    EXPECT_EQ(whileBlocked<BOOL>(
                  "COM2:", [&] { return WaitCommEvent(com2, &events, nullptr); },
                  [&] { CloseHandle(com2); }),
              FALSE);
    com2 = openPort(L"COM2:");
    COMMTIMEOUTS none{};
    ASSERT_TRUE(SetCommTimeouts(com2, &none));
    char data[4];
    DWORD got = 0;
    DWORD error = 0;
    EXPECT_EQ(whileBlocked<BOOL>(
                  "COM2:",
                  [&] {
                      const BOOL ok = ReadFile(com2, data, 4, &got, nullptr);
                      error = GetLastError();
                      return ok;
                  },
                  [&] { CloseHandle(com2); }),
              FALSE);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_HANDLE));
    com2 = nullptr;
    // A read aborted by a purge ends with what it had.
    ASSERT_TRUE(SetCommTimeouts(com1, &none));
    vboard::serial().receive("COM1:", bytesOf("q"));
    EXPECT_EQ(whileBlocked<BOOL>(
                  "COM1:", [&] { return ReadFile(com1, data, 4, &got, nullptr); },
                  [&] { PurgeComm(com1, PURGE_RXABORT); }),
              TRUE);
    EXPECT_EQ(std::string(data, got), "q");
}

TEST_F(SerialPort, OneOpenAtATimeReadsAndWrites) {
    HANDLE second = openPort(L"COM1:");
    EXPECT_EQ(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 12u);  // ERROR_INVALID_ACCESS
    // An open without access may look at the settings, not move data.
    HANDLE query = openPort(L"COM1:", 0);
    ASSERT_NE(query, INVALID_HANDLE_VALUE);
    DCB dcb;
    EXPECT_TRUE(GetCommState(query, &dcb));
    EXPECT_FALSE(write(query, "x"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(query);
    CloseHandle(com1);
    com1 = openPort(L"COM1:");
    EXPECT_NE(com1, INVALID_HANDLE_VALUE);
}

TEST_F(SerialPort, WiringDecidesWhereBytesGo) {
    auto queued = [](const char* port) { return vboard::serial().state(port)->queued; };
    // Power-on: the null-modem cable.
    ASSERT_TRUE(write(com1, "ab"));
    ASSERT_TRUE(write(com2, "c"));
    EXPECT_EQ(queued("COM2:"), 2u);
    EXPECT_EQ(queued("COM1:"), 1u);
    EXPECT_EQ(vboard::serial().state("COM1:")->peer, "COM2:");
    // Loopback takes COM1 off the cable, which leaves COM2 unplugged.
    PurgeComm(com1, PURGE_RXCLEAR);
    PurgeComm(com2, PURGE_RXCLEAR);
    ASSERT_EQ(vboard::serial().loopback("com1:"), "");
    EXPECT_EQ(vboard::serial().state("COM2:")->wiring, vboard::SerialWiring::Unplugged);
    ASSERT_TRUE(write(com1, "d"));
    ASSERT_TRUE(write(com2, "e"));
    EXPECT_EQ(queued("COM1:"), 1u);
    EXPECT_EQ(queued("COM2:"), 0u);
    EXPECT_EQ(text(vboard::serial().transmitted("COM1:")), "abd");
    EXPECT_EQ(text(vboard::serial().transmitted("COM2:")), "ce");
    // A full receive queue loses what does not fit and says so with EV_ERR.
    ASSERT_TRUE(SetCommMask(com2, EV_ERR | EV_RXCHAR));
    vboard::serial().receive("COM2:", vboard::Bytes(65536 + 10, 'x'));
    EXPECT_EQ(vboard::serial().state("COM2:")->overruns, 10u);
    DWORD events = 0;
    EXPECT_TRUE(WaitCommEvent(com2, &events, nullptr));
    EXPECT_EQ(events, EV_ERR | EV_RXCHAR);
    // The reset puts the cable back.
    vboard::reset();
    com1 = com2 = nullptr;
    EXPECT_EQ(vboard::serial().state("COM2:")->wiring, vboard::SerialWiring::NullModem);
    EXPECT_EQ(vboard::serial().state("COM2:")->overruns, 0u);
}

// What a program on the far end of a pseudo-terminal reads: up to `size` bytes, within 5 s.
static std::string hostReads(int host, size_t size) {
    std::string got;
    for (int i = 0; i < 50 && got.size() < size; ++i) {
        pollfd p = {host, POLLIN, 0};
        char chunk[8];
        if (poll(&p, 1, 100) > 0) {
            const ssize_t n = ::read(host, chunk, sizeof chunk);
            if (n > 0) got.append(chunk, static_cast<size_t>(n));
        }
    }
    return got;
}

TEST_F(SerialPort, APseudoTerminalCarriesBytesAndKeepsItsPathAcrossResets) {
    ASSERT_EQ(vboard::serial().pty("COM1:"), "");
    const std::string path = vboard::serial().ptyPath("COM1");
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(vboard::serial().state("COM2:")->wiring, vboard::SerialWiring::Unplugged);
    const int host = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(host, 0);
    // Raw both ways: no echo, and "\n" stays one byte.
    ASSERT_TRUE(write(com1, "a\nb"));
    EXPECT_EQ(hostReads(host, 3), "a\nb");
    ASSERT_EQ(::write(host, "z\n", 2), 2);
    COMMTIMEOUTS wait = {0, 0, 2000, 0, 0};
    EXPECT_EQ(read(com1, 2, wait), "z\n");

    // A reset unwires the port; wiring it again gives the same terminal, emptied.
    ASSERT_EQ(::write(host, "stale", 5), 5);
    vboard::reset();
    com1 = com2 = nullptr;
    EXPECT_EQ(vboard::serial().ptyPath("COM1:"), "");
    ASSERT_EQ(vboard::serial().pty("COM1"), "");
    EXPECT_EQ(vboard::serial().ptyPath("COM1:"), path);
    close(host);
}

TEST_F(SerialPort, BytesWrittenToAPseudoTerminalSurviveAPurge) {
    ASSERT_EQ(vboard::serial().pty("COM2:"), "");
    const int host = open(vboard::serial().ptyPath("COM2").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(host, 0);
    // A write that returned is on the line: the purge that UARTRead starts with, right after,
    // must not take it back from the program at the far end.
    for (int round = 0; round < 20; ++round) {
        ASSERT_TRUE(write(com2, "hello"));
        ASSERT_TRUE(PurgeComm(com2, PURGE_TXCLEAR | PURGE_RXCLEAR));
        ASSERT_EQ(hostReads(host, 5), "hello") << "round " << round;
    }
    close(host);
}

TEST_F(SerialPort, TraceNamesEverySerialCall) {
    DCB dcb;
    ASSERT_TRUE(GetCommState(com1, &dcb));
    dcb.BaudRate = 115200;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    COMMTIMEOUTS t = {kMaxDword, 0, 0, 0, 30000};
    vboard::clearTrace();
    SetCommState(com1, &dcb);
    SetCommTimeouts(com1, &t);
    PurgeComm(com1, PURGE_TXCLEAR | PURGE_RXCLEAR);
    PurgeComm(com1, 0x10);
    SetCommMask(com1, 0x1FF);
    write(com1, "hi");
    DWORD events = 0;
    WaitCommEvent(com1, &events, nullptr);
    char data[2];
    DWORD got = 0;
    ReadFile(com2, data, 2, &got, nullptr);
    const std::vector<std::string> expected = {
        "COM1: SetCommState 115200 8N1 rts=handshake -> ok",
        "COM1: SetCommTimeouts read interval 4294967295 multiplier 0 constant 0, write multiplier 0 "
        "constant 30000 -> ok",
        "COM1: PurgeComm TXCLEAR|RXCLEAR -> ok",
        "COM1: PurgeComm 0x10 -> error 87",
        "COM1: SetCommMask 0x1FF -> ok",
        "COM1: WriteFile 2 bytes [68 69] -> 2 written",
        "COM1: WaitCommEvent TXEMPTY -> ok",
        "COM2: ReadFile size 2 [68 69] -> 2 read",
    };
    std::vector<std::string> lines;
    for (const std::string& line : vboard::traceLines())
        if (line.rfind("GetLastError", 0) != 0) lines.push_back(line);
    EXPECT_EQ(lines, expected);
    // On a handle of another driver a serial call is a request that driver does not know.
    HANDLE gpio = CreateFileW(L"GIO1:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    EXPECT_FALSE(GetCommState(gpio, &dcb));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    CloseHandle(gpio);
}

TEST_F(SerialPort, DirectiveAndCEntryPointsWireThePorts) {
    struct Case {
        const char* line;
        bool applies;
    };
    const Case cases[] = {
        {"serial COM1 loopback", true},       {"serial com2: unplugged", true},
        {"serial COM1 null-modem COM2", true}, {"serial COM3 loopback", false},
        {"serial COM1 null-modem COM1", false}, {"serial COM1", false},
        {"serial COM1 loopback extra", false}, {"serial COM1 crossed", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(vboard::applyConfigLine(c.line).empty(), c.applies);
    }
    char* problem = vboard_serial_wire("COM2", "loopback");
    EXPECT_EQ(problem, nullptr);
    vboard_free(problem);
    problem = vboard_serial_wire("COM9", "pty");
    ASSERT_NE(problem, nullptr);
    EXPECT_NE(std::string(problem).find("no serial port 'COM9'"), std::string::npos);
    vboard_free(problem);
    EXPECT_EQ(vboard_serial_pty_path("COM2"), nullptr);

    ASSERT_TRUE(write(com2, "loop"));
    char sent[8] = {};
    EXPECT_EQ(vboard_serial_transmitted("COM2:", sent, 2), 4u);
    EXPECT_EQ(std::string(sent), "op");
    EXPECT_EQ(vboard_serial_receive("COM1:", "in", 2), 1);
    EXPECT_EQ(vboard::serial().state("COM1:")->queued, 2u);
    EXPECT_EQ(vboard_serial_receive("COM5:", "in", 2), 0);
    EXPECT_EQ(vboard_serial_await_blocked("COM1:", 10), 0);
}

// A modem of the test's own on COM1 uses the control side from inside a write, as every device
// model may: it answers what the port sent with "OK".
TEST_F(SerialPort, ADeviceModelMayUseTheControlSideFromInsideACall) {
    ASSERT_TRUE(CloseHandle(com1));
    vboard::addDriver("COM1:", std::make_shared<tarvik_test::DeviceInFront>("COM1:", nullptr, [] {
                          if (!vboard::serial().transmitted("COM1").empty())
                              vboard::serial().receive("COM1", bytesOf("OK"));
                      }));
    com1 = openPort(L"COM1:");
    EXPECT_TRUE(write(com1, "AT"));
    EXPECT_EQ(read(com1, 2, {kMaxDword, 0, 0, 0, 0}), "OK");
}

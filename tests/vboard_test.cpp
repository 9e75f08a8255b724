// vboard/src/os and vboard/src/control: the virtual board where the library relies on it: handles
// and their misuse, drivers, the registry's size contract, faults, named events, debug formatting
// (os/), and the configuration language (control/).
#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <set>
#include <stdexcept>
#include <sstream>
#include <thread>

#include <gtest/gtest-spi.h>

#include "vboard/gtest.h"
#include "vboard/vboard_c.h"
#include "test_support.h"

using vboard::Bytes;

namespace {

// A driver that accepts every request and answers with the input reversed in the output.
class EchoDriver : public vboard::StreamDriver {
public:
    DWORD ioControl(vboard::IoRequest& r) override {
        for (DWORD i = 0; i < r.inSize && i < r.outSize; ++i) r.out[i] = r.in[r.inSize - 1 - i];
        r.bytesReturned = r.inSize < r.outSize ? r.inSize : r.outSize;
        return r.code == 0xBAD ? static_cast<DWORD>(ERROR_INVALID_PARAMETER) : ERROR_SUCCESS;
    }
};

HANDLE openEcho() {
    return CreateFileW(L"ECH1:", GENERIC_READ | GENERIC_WRITE, 3, nullptr, OPEN_EXISTING, 0, nullptr);
}

BOOL sendEcho(HANDLE h, DWORD code = 0x10) {
    uint8_t in[3] = {1, 2, 3};
    uint8_t out[3] = {};
    return DeviceIoControl(h, code, in, sizeof in, out, sizeof out, nullptr, nullptr);
}

// A driver with one blocking request (code 0xB10C) that waits until its open is closed, and
// read/write that move bytes through a small queue. It records its opens' life.
class BlockingDriver : public vboard::StreamDriver {
public:
    DWORD ioControl(vboard::IoRequest& r) override {
        if (r.code != 0xB10C) return ERROR_SUCCESS;
        std::unique_lock<std::mutex> hold(lock_);
        ++blocked_;
        changed_.notify_all();
        changed_.wait(hold, [&] { return closing_.count(r.instance) != 0; });
        return static_cast<DWORD>(ERROR_INVALID_HANDLE);
    }
    void preClose(uint64_t instance) override {
        std::lock_guard<std::mutex> hold(lock_);
        closing_.insert(instance);
        events_.push_back("preClose");
        changed_.notify_all();
    }
    void close(uint64_t) override {
        std::lock_guard<std::mutex> hold(lock_);
        events_.push_back("close");
    }
    DWORD write(uint64_t, const uint8_t* data, DWORD size, DWORD& done) override {
        std::lock_guard<std::mutex> hold(lock_);
        queue_.insert(queue_.end(), data, data + size);
        done = size;
        return ERROR_SUCCESS;
    }
    DWORD read(uint64_t, uint8_t* data, DWORD size, DWORD& done) override {
        std::lock_guard<std::mutex> hold(lock_);
        done = 0;
        while (done < size && !queue_.empty()) {
            data[done++] = queue_.front();
            queue_.erase(queue_.begin());
        }
        return ERROR_SUCCESS;
    }
    void waitUntilBlocked() {
        std::unique_lock<std::mutex> hold(lock_);
        changed_.wait(hold, [&] { return blocked_ > 0; });
    }
    std::vector<std::string> events() {
        std::lock_guard<std::mutex> hold(lock_);
        return events_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::set<uint64_t> closing_;
    unsigned blocked_ = 0;
    std::vector<std::string> events_;
    std::vector<uint8_t> queue_;
};

// A driver whose decoder asks the board about itself, as a family's decoder may.
class IntrospectiveDriver : public EchoDriver {
public:
    std::optional<std::string> decode(const vboard::TraceEntry& e) const override {
        if (e.function != "DeviceIoControl") return std::nullopt;
        return "PING with " + std::to_string(vboard::openDriverHandles("ECH2:")) + " open";
    }
};

}  // namespace

class Drivers : public vboard::testing::BoardTest {};
class Handles : public vboard::testing::BoardTest {};
class Registry : public vboard::testing::BoardTest {};
class Exceptions : public vboard::testing::BoardTest {};

// A model of the application's with a bug: it throws from every entry it is asked to.
class ThrowingDriver : public vboard::StreamDriver {
public:
    DWORD open(uint64_t, const vboard::OpenParams& params) override {
        if (params.flags == 1) throw std::runtime_error("open went wrong");
        return ERROR_SUCCESS;
    }
    DWORD ioControl(vboard::IoRequest&) override { throw std::bad_alloc(); }
    DWORD read(uint64_t, uint8_t*, DWORD, DWORD&) override { throw std::logic_error("read"); }
    DWORD write(uint64_t, const uint8_t*, DWORD, DWORD&) override { throw 42; }
};

class ThrowingI2cDevice : public vboard::I2cDevice {
public:
    std::string kind() const override { return "throwing"; }
    bool write(const uint8_t*, size_t) override { return true; }
    bool read(uint8_t*, size_t) override { return true; }
    bool preload(uint32_t, const Bytes&) override { throw std::runtime_error("preload"); }
};

class Faults : public vboard::testing::BoardTest {};
class Events : public vboard::testing::BoardTest {};
class DebugOutput : public vboard::testing::BoardTest {};
class Time : public vboard::testing::BoardTest {};
class Config : public vboard::testing::BoardTest {};
constexpr size_t kLineLimit = size_t{1} << 20;
class Threads : public vboard::testing::BoardTest {};

TEST_F(Drivers, OpenOfAnAbsentDeviceFailsWithFileNotFoundAndIsRecorded) {
    HANDLE h = CreateFileW(L"NOPE:", GENERIC_READ, 3, nullptr, OPEN_EXISTING, 0x80, nullptr);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    auto opens = vboard::opens();
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].params.device, "NOPE:");
    EXPECT_EQ(opens[0].params.flags, 0x80u);
    EXPECT_EQ(opens[0].result, INVALID_HANDLE_VALUE);
}

TEST_F(Drivers, RequestsReachTheModelAndAreTraced) {
    vboard::addDriver("ECH1:", std::make_shared<EchoDriver>());
    HANDLE h = openEcho();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_NE(h, nullptr);
    uint8_t in[3] = {1, 2, 3};
    uint8_t out[3] = {};
    DWORD returned = 99;
    EXPECT_TRUE(DeviceIoControl(h, 0x224000, in, 3, out, 3, &returned, nullptr));
    EXPECT_EQ(returned, 3u);
    EXPECT_EQ(Bytes(out, out + 3), (Bytes{3, 2, 1}));
    EXPECT_FALSE(sendEcho(h, 0xBAD));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(vboard::driverTraceLines(),
              (std::vector<std::string>{
                  "CreateFileW \"ECH1:\" access 0xC0000000 share 3 creation 3 flags 0x0 -> h1",
                  "ECH1: IOCTL 0x224000 in [01 02 03] out [03 02 01] -> ok",
                  "ECH1: IOCTL 0xBAD in [01 02 03] -> error 87",
                  "CloseHandle h1 \"ECH1:\" -> ok",
              }));
    tarvik_test::expectNoMisuse();
}

// No exception leaves the board through a C entry point: the call fails as the system fails it.
TEST_F(Exceptions, AModelThatThrowsFailsTheCallTheSystemsWay) {
    vboard::addDriver("THR1:", std::make_shared<ThrowingDriver>());
    auto open = [](DWORD flags) {
        return CreateFileW(L"THR1:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags,
                           nullptr);
    };
    HANDLE h = open(0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    uint8_t buffer[4] = {};
    DWORD count = 0;
    struct Case {
        const char* function;
        std::function<bool()> failed;  // the call answered its failure value
        DWORD error;
    };
    const Case cases[] = {
        {"CreateFileW", [&] { return open(1) == INVALID_HANDLE_VALUE; }, ERROR_GEN_FAILURE},
        {"DeviceIoControl",
         [&] { return !DeviceIoControl(h, 0x10, buffer, 4, nullptr, 0, nullptr, nullptr); },
         ERROR_NOT_ENOUGH_MEMORY},
        {"ReadFile", [&] { return !ReadFile(h, buffer, 4, &count, nullptr); }, ERROR_GEN_FAILURE},
        {"WriteFile", [&] { return !WriteFile(h, buffer, 4, &count, nullptr); }, ERROR_GEN_FAILURE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.function);
        vboard::clearTrace();
        SetLastError(0);
        EXPECT_TRUE(c.failed());
        EXPECT_EQ(GetLastError(), c.error);
        const auto lines = tarvik_test::traceOf(c.function);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find("-> error " + std::to_string(c.error)), std::string::npos) << lines[0];
    }
    EXPECT_TRUE(CloseHandle(h));
}

TEST_F(Exceptions, TheCControlApiAnswersItsFailureStatus) {
    vboard::addConfigDirective({"throwing", "throwing", [](const auto&, const auto&) -> std::string {
                                    throw std::runtime_error("directive went wrong");
                                }});
    char* problem = vboard_apply("throwing");
    ASSERT_NE(problem, nullptr);
    EXPECT_STREQ(problem, "an exception in the board: directive went wrong");
    vboard_free(problem);

    vboard::i2cBus(1).attach(0x60, std::make_shared<ThrowingI2cDevice>());
    const uint8_t byte = 1;
    EXPECT_EQ(vboard_i2c_fill(1, 0x60, 0, &byte, 1), 0);
}

TEST_F(Drivers, RemovedDeviceCannotBeOpenedButOpenHandlesKeepWorking) {
    vboard::addDriver("ECH1:", std::make_shared<EchoDriver>());
    HANDLE h = openEcho();
    vboard::removeDriver("ECH1:");
    EXPECT_EQ(openEcho(), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(sendEcho(h));
    EXPECT_EQ(vboard::openDriverHandles("ECH1:"), 1u);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(vboard::openDriverHandles(), 0u);
}

TEST_F(Drivers, AClosedHandleEndsABlockedCallBeforeTheDriverSeesTheClose) {
    auto model = std::make_shared<BlockingDriver>();
    vboard::addDriver("BLK1:", model);
    HANDLE h = CreateFileW(L"BLK1:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    BOOL result = TRUE;
    DWORD error = 0;
    std::thread caller([&] {
        result = DeviceIoControl(h, 0xB10C, nullptr, 0, nullptr, 0, nullptr, nullptr);
        error = GetLastError();
    });
    model->waitUntilBlocked();
    EXPECT_TRUE(CloseHandle(h));
    caller.join();
    EXPECT_FALSE(result);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(model->events(), (std::vector<std::string>{"preClose", "close"}));
}

TEST_F(Drivers, ReadAndWriteReachTheModel) {
    vboard::addDriver("BLK1:", std::make_shared<BlockingDriver>());
    vboard::addDriver("ECH1:", std::make_shared<EchoDriver>());
    HANDLE h = CreateFileW(L"BLK1:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD count = 99;
    EXPECT_TRUE(WriteFile(h, "abc", 3, &count, nullptr));
    EXPECT_EQ(count, 3u);
    char buffer[8] = {};
    EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(std::string(buffer, 3), "abc");
    HANDLE echo = openEcho();
    EXPECT_FALSE(ReadFile(echo, buffer, 1, &count, nullptr)) << "a driver without read";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    EXPECT_EQ(count, 0u);
    CloseHandle(h);
    CloseHandle(echo);
}

TEST_F(Handles, AResetClosesWhatIsOpenAndLaterUseIsAMisuse) {
    auto model = std::make_shared<BlockingDriver>();
    vboard::addDriver("BLK1:", model);
    HANDLE h = CreateFileW(L"BLK1:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    vboard::setRegistryDword(HKEY_LOCAL_MACHINE, "Ident", "BSPVersionNumber", 7);
    vboard::armFault({"CreateFileW", "", std::nullopt, 0, ERROR_ACCESS_DENIED});
    vboard::setVirtualSleep(true);
    vboard::reset();
    EXPECT_EQ(model->events(), (std::vector<std::string>{"preClose", "close"}));
    EXPECT_TRUE(vboard::openHandles().empty());
    EXPECT_EQ(vboard::driver("BLK1:"), nullptr) << "a test's own driver goes with the reset";
    EXPECT_NE(vboard::driver("GIO1:"), nullptr) << "the board's own come back";
    EXPECT_EQ(vboard::registryValue(HKEY_LOCAL_MACHINE, "Ident", "BSPVersionNumber")->data,
              (Bytes{0x01, 0x00, 0x02, 0x00}));
    EXPECT_TRUE(vboard::trace().empty());
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_FALSE(SetEvent(event));
    EXPECT_EQ(vboard::misuses().size(), 2u);
    EXPECT_EQ(vboard::handleLabel(h), "stale h" + std::to_string(
                                          (reinterpret_cast<uintptr_t>(h) - 0x1000) / 4));
    vboard::clearMisuses();
    HANDLE again = CreateFileW(L"GIO1:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(again, INVALID_HANDLE_VALUE) << "the fault went with the reset";
    EXPECT_EQ(vboard::handleLabel(again), "h1") << "labels count from the reset";
    EXPECT_NE(again, h) << "values are never reused";
    CloseHandle(again);
}

TEST_F(Drivers, TheDeviceDecodesItsCallsAndMayAskTheBoardWhileEchoing) {
    vboard::addDriver("ECH1:", std::make_shared<EchoDriver>());
    vboard::addDriver("ECH2:", std::make_shared<IntrospectiveDriver>());
    const std::string echo = tarvik_test::scratchPath("vboard_trace_echo.txt");
    std::remove(echo.c_str());
    ASSERT_TRUE(vboard::echoTraceTo(echo));
    HANDLE plain = openEcho();
    HANDLE asking = CreateFileW(L"ECH2:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    // The same code on two devices: each is decoded by the device its handle was opened on.
    EXPECT_TRUE(sendEcho(plain, 0x224004));
    EXPECT_TRUE(sendEcho(asking, 0x224004));
    ASSERT_TRUE(vboard::echoTraceTo(""));
    CloseHandle(plain);
    CloseHandle(asking);
    EXPECT_EQ(tarvik_test::traceOf("DeviceIoControl"),
              (std::vector<std::string>{"ECH1: IOCTL 0x224004 in [01 02 03] out [03 02 01] -> ok",
                                        "ECH2: PING with 0 open -> ok"}))
        << "read back later, the handle is closed";
    std::ifstream in(echo);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("ECH2: PING with 1 open -> ok\n"), std::string::npos)
        << "the echo rendered it at the time, outside the board's lock";
}

TEST_F(Drivers, TheDriverEchoLeavesOutEveryOtherCall) {
    vboard::addDriver("ECH1:", std::make_shared<EchoDriver>());
    const std::string echo = tarvik_test::scratchPath("vboard_driver_echo.txt");
    std::remove(echo.c_str());
    ASSERT_TRUE(vboard::echoDriverTraceTo(echo));
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE plain = openEcho();
    EXPECT_TRUE(sendEcho(plain, 0x224004));
    Sleep(0);
    CloseHandle(plain);
    CloseHandle(event);
    ASSERT_TRUE(vboard::echoTraceTo(""));
    std::ifstream in(echo);
    std::stringstream text;
    text << in.rdbuf();
    const std::string h = vboard::handleLabel(plain);
    EXPECT_EQ(text.str(), "CreateFileW \"ECH1:\" access 0xC0000000 share 3 creation 3 flags 0x0 -> " + h +
                              "\nECH1: IOCTL 0x224004 in [01 02 03] out [03 02 01] -> ok\n"
                              "CloseHandle " + h + " \"ECH1:\" -> ok\n"
                              "CloseHandle " + vboard::handleLabel(event) + " (event) -> ok\n");
}

TEST_F(Handles, ValuesAreDistinctAndNeverZeroOrInvalid) {
    vboard::addDriver("ECH1:", std::make_shared<EchoDriver>());
    HANDLE a = openEcho();
    HANDLE b = openEcho();
    HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    for (HANDLE h : {a, b, e}) {
        EXPECT_NE(h, nullptr);
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
    }
    EXPECT_NE(a, b);
    EXPECT_NE(b, e);
    CloseHandle(a);
    HANDLE c = openEcho();
    EXPECT_NE(c, a) << "a closed handle's value is never handed out again";
    for (HANDLE h : {b, e, c}) EXPECT_TRUE(CloseHandle(h));
}

TEST_F(Handles, TheFixtureFailsATestThatLeftADriverHandleOpenUnlessItKeepsIt) {
    // The fixture's own life, run by hand inside this test.
    struct Probe : vboard::testing::BoardTest {
        void TestBody() override {}
        using BoardTest::keepOpen;
        using BoardTest::SetUp;
        using BoardTest::TearDown;
    };
    struct Row {
        const char* what;
        bool close;
        const char* kept;     // "" declares nothing
        const char* failure;  // "" passes
    };
    const Row rows[] = {
        {"left open", false, "", "the test left 1 driver handle(s) open: h1 on \"ECH1:\""},
        {"closed", true, "", ""},
        {"declared kept, in any case", false, "ech1:", ""},
        {"another device kept", false, "COM1:", "h1 on \"ECH1:\""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Probe probe;
        probe.SetUp();
        vboard::addDriver("ECH1:", std::make_shared<EchoDriver>());
        HANDLE h = openEcho();
        if (row.close) CloseHandle(h);
        if (*row.kept) probe.keepOpen(row.kept);
        ::testing::TestPartResultArray results;
        {
            ::testing::ScopedFakeTestPartResultReporter intercept(
                ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
            probe.TearDown();
        }
        if (*row.failure) {
            ASSERT_EQ(results.size(), 1);
            EXPECT_NE(std::string(results.GetTestPartResult(0).message()).find(row.failure),
                      std::string::npos)
                << results.GetTestPartResult(0).message();
        } else {
            EXPECT_EQ(results.size(), 0);
        }
        if (!row.close) CloseHandle(h);
    }
}

TEST_F(Handles, CallsOnInvalidHandleAreCountedButAreNoMisuse) {
    EXPECT_FALSE(sendEcho(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(vboard::invalidHandleCalls(), 1u);
    tarvik_test::expectNoMisuse();
}

TEST_F(Handles, MisusesAreRecorded) {
    vboard::addDriver("ECH1:", std::make_shared<EchoDriver>());
    HANDLE h = openEcho();
    EXPECT_TRUE(CloseHandle(h));
    struct Case {
        const char* what;
        std::function<BOOL()> call;
    } cases[] = {
        {"request on a closed handle", [&] { return sendEcho(h); }},
        {"second close", [&] { return CloseHandle(h); }},
        {"close of INVALID_HANDLE_VALUE", [] { return CloseHandle(INVALID_HANDLE_VALUE); }},
        {"close of 0", [] { return CloseHandle(nullptr); }},
        {"request on a foreign handle", [] { return sendEcho(reinterpret_cast<HANDLE>(0x77)); }},
        {"event call on a driver handle", [&] { return ResetEvent(h = openEcho()); }},
    };
    size_t expected = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(c.call());
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_EQ(vboard::misuses().size(), ++expected);
    }
    EXPECT_TRUE(CloseHandle(h));
    vboard::clearMisuses();
}

TEST_F(Registry, QueryHonoursTheSizeContract) {
    vboard::setRegistryValue(HKEY_LOCAL_MACHINE, "A\\B", "Blob", REG_BINARY, {1, 2, 3, 4, 5, 6});
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"a\\b", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);

    uint8_t buffer[8] = {};
    DWORD size = 4;
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"BLOB", nullptr, &type, buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(buffer[0], 0) << "nothing is copied into a buffer that is too small";

    size = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"Blob", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);

    size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExW(key, L"Blob", nullptr, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(Bytes(buffer, buffer + 6), (Bytes{1, 2, 3, 4, 5, 6}));

    EXPECT_EQ(RegQueryValueExW(key, L"Missing", nullptr, nullptr, buffer, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(vboard::misuses().size(), 1u);
    vboard::clearMisuses();
}

TEST_F(Registry, OpenNeverCreatesAndSetDeleteWork) {
    // The image brings the backlight settings; this test starts without them.
    vboard::deleteRegistryKey(HKEY_CURRENT_USER, "ControlPanel");
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"ControlPanel\\BackLight", 0, KEY_ALL_ACCESS, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(vboard::registryKeyExists(HKEY_CURRENT_USER, "ControlPanel"));

    vboard::createRegistryKey(HKEY_CURRENT_USER, "ControlPanel\\BackLight");
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"ControlPanel\\BackLight", 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    DWORD seconds = 60;
    EXPECT_EQ(RegSetValueExW(key, L"ACTimeout", 0, REG_DWORD, reinterpret_cast<BYTE*>(&seconds), 4),
              ERROR_SUCCESS);
    auto value = vboard::registryValue(HKEY_CURRENT_USER, "ControlPanel\\BackLight", "actimeout");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, REG_DWORD);
    EXPECT_EQ(value->data, (Bytes{60, 0, 0, 0}));
    EXPECT_EQ(RegDeleteValueW(key, L"ACTimeout"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key, L"ACTimeout"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_TRUE(vboard::openHandles().empty());
}

TEST_F(Registry, StringsAreStoredAsTheDeviceStoresThem) {
    vboard::setRegistryString(HKEY_LOCAL_MACHINE, "Ident", "Name", "VÉ");
    auto value = vboard::registryValue(HKEY_LOCAL_MACHINE, "Ident", "Name");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, REG_SZ);
    EXPECT_EQ(value->data, (Bytes{'V', 0, 0xC9, 0, 0, 0}));
}

TEST_F(Registry, StringValuesSpeakTheHostsWcharAndAreStoredAsUtf16) {
    vboard::setRegistryString(HKEY_CURRENT_USER, "ControlPanel\\Owner", "Name", "Board Tour");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"ControlPanel\\Owner", 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    WCHAR text[32] = {};
    DWORD size = 0;
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"Name", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 11 * sizeof(WCHAR)) << "ten characters and the terminator, in host WCHARs";
    size = 10 * sizeof(WCHAR);
    EXPECT_EQ(RegQueryValueExW(key, L"Name", nullptr, &type, reinterpret_cast<BYTE*>(text), &size),
              ERROR_MORE_DATA);
    size = sizeof text;
    EXPECT_EQ(RegQueryValueExW(key, L"Name", nullptr, &type, reinterpret_cast<BYTE*>(text), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(text), L"Board Tour");
    EXPECT_EQ(type, REG_SZ);

    // Written from the host, kept as the device keeps it: UTF-16LE, a surrogate pair above U+FFFF.
    const WCHAR written[] = L"\u00C9t\U0001F600";
    EXPECT_EQ(RegSetValueExW(key, L"Mood", 0, REG_SZ, reinterpret_cast<const BYTE*>(written),
                             sizeof written),
              ERROR_SUCCESS);
    EXPECT_EQ(vboard::registryValue(HKEY_CURRENT_USER, "ControlPanel\\Owner", "Mood")->data,
              (Bytes{0xC9, 0, 't', 0, 0x3D, 0xD8, 0x00, 0xDE, 0, 0}));
    WCHAR back[8] = {};
    size = sizeof back;
    EXPECT_EQ(RegQueryValueExW(key, L"Mood", nullptr, nullptr, reinterpret_cast<BYTE*>(back), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, sizeof written);
    EXPECT_EQ(std::wstring(back), std::wstring(written));

    // Binary values are bytes, whatever they hold.
    const uint8_t raw[] = {'A', 0, 'B', 0};
    EXPECT_EQ(RegSetValueExW(key, L"Raw", 0, REG_BINARY, raw, sizeof raw), ERROR_SUCCESS);
    EXPECT_EQ(vboard::registryValue(HKEY_CURRENT_USER, "ControlPanel\\Owner", "Raw")->data,
              (Bytes{'A', 0, 'B', 0}));
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(Faults, FailTheNthMatchingCallOrEveryOneWithTheChosenError) {
    vboard::addDriver("ECH1:", std::make_shared<EchoDriver>());
    HANDLE h = openEcho();
    struct Case {
        vboard::Fault fault;
        std::vector<bool> expected;  // results of four requests with code 0x10
    } cases[] = {
        {{"DeviceIoControl", "ECH1:", 0x10u, 2, ERROR_GEN_FAILURE}, {true, false, true, true}},
        {{"DeviceIoControl", "", std::nullopt, 0, ERROR_GEN_FAILURE}, {false, false, false, false}},
        {{"DeviceIoControl", "", 0x11u, 0, ERROR_GEN_FAILURE}, {true, true, true, true}},
        {{"DeviceIoControl", "OTHER:", std::nullopt, 0, ERROR_GEN_FAILURE}, {true, true, true, true}},
        {{"", "ech1:", std::nullopt, 1, 1234}, {false, true, true, true}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault.function + " " + c.fault.device);
        int id = vboard::armFault(c.fault);
        for (bool expected : c.expected) {
            EXPECT_EQ(sendEcho(h) != FALSE, expected);
            if (!expected) {
                EXPECT_EQ(GetLastError(), c.fault.error);
            }
        }
        vboard::disarmFault(id);
    }
    auto lines = tarvik_test::traceOf("DeviceIoControl");
    EXPECT_EQ(lines[1], "ECH1: IOCTL 0x10 in [01 02 03] -> error 31 (fault)");
    EXPECT_TRUE(CloseHandle(h));
}

TEST_F(Faults, DirectivesCheckDeviceNamesAndTakeRequestsByTheirTraceNames) {
    const std::string usage =
        "expected: fault <function> [device=<name>] [code=<number or name>] [nth=<n>] [error=<number>]";
    struct Refusal {
        const char* line;
        std::string problem;  // "" applies
    };
    const Refusal refusals[] = {
        {"fault DeviceIoControl device=I2C2", "no device 'I2C2' on the board; did you mean 'I2C2:'?"},
        {"fault DeviceIoControl device=I2C9:", "no device 'I2C9:' on the board; did you mean 'I2C1:'?"},
        {"fault CreateFileW device=gio2:", "no device 'gio2:' on the board; did you mean 'GIO1:'?"},
        {"fault SetCommState device=COM3:", "no device 'COM3:' on the board; did you mean 'COM1:'?"},
        {"fault CreateFileW device=\\Storage\\x.txt", ""},
        {"fault EventModify device=ButtonPressed", ""},
        {"fault DeviceIoControl device=GIO1: code=SET_PN",
         "no request 'SET_PN' of GIO1:; did you mean 'SET_PIN'? (or a number)"},
        {"fault DeviceIoControl code=TRANSFER",
         "request 'TRANSFER' is more than one driver's (I2C 0x2A2F04, CAN 0x2A3B84): name the "
         "device with device="},
        {"fault KernelIoControl code=KITL_POWR", "no request 'KITL_POWR'; did you mean 'KITL_POWER'? (or a number)"},
        {"fault DeviceIoControl dveice=GIO1:", "bad fault setting 'dveice=GIO1:'; did you mean 'device=...'? " + usage},
        {"fault DeviceIoControl device", "bad fault setting 'device'; did you mean 'device=...'? " + usage},
    };
    for (const Refusal& r : refusals) tarvik_test::expectConfigProblem(r.line, r.problem);
    EXPECT_EQ(vboard_arm_fault("DeviceIoControl", "I2C9:", 0, 0, 0, 31), 0);
    EXPECT_EQ(vboard_disarm_fault(999), 0) << "no such fault";
    EXPECT_EQ(vboard_disarm_fault(vboard_arm_fault("DeviceIoControl", "i2c2:", 0, 0, 0, 31)), 1);
    vboard::clearFaults();

    // "fault clear" disarms one fault by its number, or all of them.
    const int kept = vboard_arm_fault("DeviceIoControl", "I2C2:", 0, 0, 0, 31);
    const int cleared = vboard_arm_fault("DeviceIoControl", "GIO1:", 0, 0, 0, 31);
    EXPECT_TRUE(vboard::applyConfigLine("fault clear " + std::to_string(cleared)).empty());
    for (const auto& [line, problem] : std::vector<std::pair<std::string, std::string>>{
             {"fault clear " + std::to_string(cleared), "no fault " + std::to_string(cleared) + " is armed"},
             {"fault clear x", "expected: fault clear [<id>]"},
             {"fault clear 1 2", "expected: fault clear [<id>]"}})
        tarvik_test::expectConfigProblem(line, problem);
    EXPECT_TRUE(vboard::applyConfigLine("fault clear").empty());
    EXPECT_EQ(vboard_disarm_fault(kept), 0) << "'fault clear' left it armed";

    // A request named as the trace names it fails that request, and only it.
    struct Named {
        const char* line;
        const wchar_t* device;
        DWORD code, other;
    };
    const Named named[] = {
        {"fault DeviceIoControl device=GIO1: code=SET_PIN error=1234", L"GIO1:", 0x224004, 0x224000},
        {"fault DeviceIoControl device=I2C2: code=transfer error=1234", L"I2C2:", 0x2A2F04, 0x2A2EE4},
        {"fault DeviceIoControl device=CAN1: code=TLPRIO_ON error=1234", L"CAN1:", 0x2A3B8C, 0x2A3B90},
        {"fault DeviceIoControl code=FOLLOW_UP error=1234", L"BKL1:", 0x01130410, 0x0113040C},
        {"fault DeviceIoControl code=0x2A2F58 error=1234", L"SPI1:", 0x2A2F58, 0x2A2F59},
    };
    for (const Named& n : named) {
        SCOPED_TRACE(n.line);
        vboard::clearFaults();
        ASSERT_TRUE(vboard::applyConfigLine(n.line).empty());
        HANDLE h = CreateFileW(n.device, GENERIC_READ | GENERIC_WRITE, 3, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(DeviceIoControl(h, n.code, nullptr, 0, nullptr, 0, nullptr, nullptr));
        EXPECT_EQ(GetLastError(), 1234u);
        SetLastError(0);
        DeviceIoControl(h, n.other, nullptr, 0, nullptr, 0, nullptr, nullptr);
        EXPECT_NE(GetLastError(), 1234u) << "another request is left alone";
        CloseHandle(h);
    }
    vboard::clearFaults();
    ASSERT_TRUE(vboard::applyConfigLine("fault KernelIoControl code=KITL_POWER error=1234").empty());
    DWORD on = 1;
    EXPECT_FALSE(KernelIoControl(0x01010144, &on, sizeof on, nullptr, 0, nullptr));
    EXPECT_EQ(GetLastError(), 1234u);
}

TEST_F(Faults, ApplyToOpensAndEvents) {
    vboard::addDriver("ECH1:", std::make_shared<EchoDriver>());
    vboard::armFault({"CreateFileW", "ECH1:", std::nullopt, 0, ERROR_ACCESS_DENIED});
    EXPECT_EQ(openEcho(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    vboard::clearFaults();
    HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    vboard::armFault({"EventModify", "", std::nullopt, 0, ERROR_INVALID_HANDLE});
    EXPECT_FALSE(ResetEvent(e));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    tarvik_test::expectNoMisuse();
}

TEST_F(Events, NamedEventsAreSharedByName) {
    HANDLE first = CreateEventW(nullptr, FALSE, FALSE, L"SPI_DONE");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    HANDLE second = CreateEventW(nullptr, FALSE, FALSE, L"SPI_DONE");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_NE(first, second);
    EXPECT_TRUE(SetEvent(first));
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_TIMEOUT) << "auto-reset: one wait consumes it";
    CloseHandle(first);
    CloseHandle(second);
    CreateEventW(nullptr, FALSE, FALSE, L"SPI_DONE");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS)) << "the last handle closed it";
}

TEST_F(Events, SetResetAndTimeouts) {
    HANDLE manual = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 10), WAIT_TIMEOUT);
    EXPECT_EQ(vboard::eventSignaled(manual), false);

    // A waiter on another thread is released when a driver sets the event.
    HANDLE automatic = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::thread waiter([&] { EXPECT_EQ(WaitForSingleObject(automatic, 5000), WAIT_OBJECT_0); });
    ASSERT_TRUE(vboard::awaitEventWaiters(automatic, 1, 5000));
    EXPECT_TRUE(vboard::signalEvent(automatic));
    waiter.join();
    EXPECT_EQ(vboard::eventSignaled(automatic), false) << "the waiter consumed the auto-reset event";
    EXPECT_FALSE(EventModify(automatic, 9));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    CloseHandle(manual);
    CloseHandle(automatic);
}

TEST_F(Events, APulseReleasesOnlyTheThreadsWaitingAtThatMoment) {
    struct Case {
        const char* what;
        BOOL manualReset;
        size_t waiting;
        size_t released;
    };
    const Case cases[] = {
        {"auto-reset: one of two waiters", FALSE, 2, 1},
        {"manual-reset: all three waiters", TRUE, 3, 3},
        {"auto-reset, nobody waiting: lost", FALSE, 0, 0},
        {"manual-reset, nobody waiting: lost", TRUE, 0, 0},
    };
    // Whether a released thread wakes before the test's own late wait is up to the scheduler:
    // rounds make a pulse that a late waiter could take show.
    for (int round = 0; round < 10; ++round)
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + ", round " + std::to_string(round));
        HANDLE event = CreateEventW(nullptr, c.manualReset, FALSE, nullptr);
        std::mutex lock;
        std::condition_variable changed;
        size_t done = 0;
        auto awaitDone = [&](size_t count) {
            std::unique_lock<std::mutex> hold(lock);
            return changed.wait_for(hold, std::chrono::seconds(5), [&] { return done == count; });
        };
        std::vector<DWORD> results(c.waiting, WAIT_FAILED);
        std::vector<std::thread> threads;
        for (size_t i = 0; i < c.waiting; ++i)
            threads.emplace_back([&, i] {
                results[i] = WaitForSingleObject(event, 10000);
                std::lock_guard<std::mutex> hold(lock);
                ++done;
                changed.notify_all();
            });
        ASSERT_TRUE(vboard::awaitEventWaiters(event, c.waiting, 5000));

        EXPECT_TRUE(PulseEvent(event));
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT) << "a wait after the pulse";
        EXPECT_EQ(vboard::eventSignaled(event), false);
        EXPECT_TRUE(awaitDone(c.released));
        EXPECT_EQ(vboard::eventWaiters(event), c.waiting - c.released) << "the others still wait";

        // The ones the pulse left are set free one set at a time.
        for (size_t freed = c.released; freed < c.waiting; ++freed) {
            EXPECT_TRUE(SetEvent(event));
            EXPECT_TRUE(awaitDone(freed + 1));
        }
        for (auto& t : threads) t.join();
        for (DWORD result : results) EXPECT_EQ(result, WAIT_OBJECT_0);
        CloseHandle(event);
    }
}

TEST_F(DebugOutput, FormatsTheWideFormatIntoExactLines) {
    NKDbgPrintfW(L"VELNA set gpio %d pin %d - Rout %d\r\n", 0, -1, 1);
    NKDbgPrintfW(L"%u %x %X %04x %s|%5s|%-3s|%c%%\n", 4294967295u, 0xBEEFu, 0xBEEFu, 0xAu, L"wide",
                 L"ab", L"c", L'Z');
    NKDbgPrintfW(L"no arguments\r\n");
    EXPECT_EQ(vboard::debugLines(),
              (std::vector<std::string>{"VELNA set gpio 0 pin -1 - Rout 1\r\n",
                                        "4294967295 beef BEEF 000a wide|   ab|c  |Z%\n",
                                        "no arguments\r\n"}));
    EXPECT_EQ(vboard::debugText(), vboard::debugLines()[0] + vboard::debugLines()[1] +
                                       vboard::debugLines()[2]);
}

TEST_F(DebugOutput, WidthsAndPrecisionsAreBounded) {
    const std::string spaces(1023, ' ');
    struct Case {
        const char* what;
        std::function<void()> print;
        std::string line;
    };
    const Case cases[] = {
        {"a width past int", [] { NKDbgPrintfW(L"[%99999999999s]", L"x"); }, "[" + spaces + "x]"},
        {"a left-aligned one", [] { NKDbgPrintfW(L"[%-99999999999s]", L"x"); }, "[x" + spaces + "]"},
        {"a string precision only cuts", [] { NKDbgPrintfW(L"[%.99999999999s]", L"abc"); }, "[abc]"},
        {"a number's width", [] { NKDbgPrintfW(L"[%99999999999d]", 5); }, "[" + spaces + "5]"},
        {"a number's precision", [] { NKDbgPrintfW(L"[%.99999999999u]", 5u); },
         "[" + std::string(1023, '0') + "5]"},
        {"a width within the bound", [] { NKDbgPrintfW(L"[%100d]", -1); },
         "[" + std::string(98, ' ') + "-1]"},
        {"a negative width from the arguments", [] { NKDbgPrintfW(L"[%*d]", -3, 7); }, "[7  ]"},
        {"the most negative one", [] { NKDbgPrintfW(L"[%*s]", INT_MIN, L"x"); }, "[x" + spaces + "]"},
        {"a negative precision is none", [] { NKDbgPrintfW(L"[%.*s]", -1, L"abc"); }, "[abc]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        vboard::clearDebug();
        c.print();
        EXPECT_EQ(vboard::debugLines(), std::vector<std::string>{c.line});
    }
}

TEST_F(Time, SystemTimeCanBePinnedAndSleepsCanBeVirtual) {
    vboard::setSystemTime({2026, 12, 2, 8, 23, 59, 58, 7});
    SYSTEMTIME t{};
    GetSystemTime(&t);
    EXPECT_EQ(t.wHour, 23);
    EXPECT_EQ(t.wSecond, 58);
    vboard::setVirtualSleep(true);
    auto start = std::chrono::steady_clock::now();
    Sleep(60000);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_EQ(vboard::sleeps(), std::vector<DWORD>{60000});
    vboard::useHostClock();
    GetSystemTime(&t);
    EXPECT_GE(t.wYear, 2024);
}

TEST_F(Time, TheBoardClockMovesWithVirtualPausesAndStartsAgainAtPowerOn) {
    vboard::setVirtualSleep(true);
    const uint64_t start = vboard::clockNanoseconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(vboard::clockNanoseconds(), start) << "virtual time stands still between pauses";
    Sleep(250);
    vboard::advanceClock(1500);
    EXPECT_EQ(vboard::clockNanoseconds(), start + 250000000u + 1500u);

    // Back to real sleep the clock goes on from where virtual time left it, with the host's time.
    vboard::setVirtualSleep(false);
    const uint64_t resumed = vboard::clockNanoseconds();
    EXPECT_GE(resumed, start + 250001500u);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GE(vboard::clockNanoseconds(), resumed + 5000000u);

    // The directive switches the clock as the call does.
    EXPECT_TRUE(vboard::applyConfigLine("sleep virtual").empty());
    const uint64_t held = vboard::clockNanoseconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(vboard_clock_ns(), held);
    vboard_advance_clock(7);
    EXPECT_EQ(vboard_clock_ns(), held + 7);

    vboard::reset();
    EXPECT_LT(vboard::clockNanoseconds(), 1000000000u) << "power-on starts the clock at 0";
}

namespace {

// A path of `levels` keys, each named `name`.
std::string deepPath(size_t levels, const std::string& name = "k") {
    std::string path = name;
    for (size_t i = 1; i < levels; ++i) path += "\\" + name;
    return path;
}

std::wstring wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

}  // namespace

// The system's limits (keys 512 deep, key names of 255 characters, value names of 16,383, data
// of 1 MB) and the host WCHARs that are no character are refused at the call.
TEST_F(Registry, CallsRefuseWhatTheRegistryCannotHold) {
    HKEY ident = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Ident", 0, KEY_ALL_ACCESS, &ident), ERROR_SUCCESS);
    auto open = [](HKEY from, const std::string& path) {
        HKEY key = nullptr;
        const LONG status = RegOpenKeyExW(from, wide(path).c_str(), 0, KEY_ALL_ACCESS, &key);
        if (status == ERROR_SUCCESS) RegCloseKey(key);
        return status;
    };
    auto set = [ident](const std::wstring& name, DWORD type, const void* data, size_t size) {
        return RegSetValueExW(ident, name.c_str(), 0, type, static_cast<const BYTE*>(data),
                              static_cast<DWORD>(size));
    };
    const Bytes megabyte(1024 * 1024), tooLarge(1024 * 1024 + 1);
    const WCHAR loneSurrogate[] = {L'a', static_cast<WCHAR>(0xD800), 0};
    const WCHAR pastUnicode[] = {static_cast<WCHAR>(0x110000), 0};
    DWORD size = 0;
    HKEY unused = nullptr;
    struct Row {
        const char* what;
        std::function<LONG()> call;
        LONG status;
    };
    const std::vector<Row> rows = {
        {"a key name of 255", [&] { return open(HKEY_LOCAL_MACHINE, std::string(255, 'k')); }, ERROR_FILE_NOT_FOUND},
        {"a key name of 256", [&] { return open(HKEY_LOCAL_MACHINE, std::string(256, 'k')); }, ERROR_INVALID_PARAMETER},
        {"512 levels", [&] { return open(HKEY_LOCAL_MACHINE, deepPath(512)); }, ERROR_FILE_NOT_FOUND},
        {"513 levels", [&] { return open(HKEY_LOCAL_MACHINE, deepPath(513)); }, ERROR_INVALID_PARAMETER},
        {"512 below a key one level down", [&] { return open(ident, deepPath(512)); }, ERROR_INVALID_PARAMETER},
        {"a value name of 16,383", [&] { return set(std::wstring(16383, L'v'), REG_DWORD, "1234", 4); }, ERROR_SUCCESS},
        {"a value name of 16,384", [&] { return set(std::wstring(16384, L'v'), REG_DWORD, "1234", 4); }, ERROR_INVALID_PARAMETER},
        {"1 MB of data", [&] { return set(L"big", REG_BINARY, megabyte.data(), megabyte.size()); }, ERROR_SUCCESS},
        {"a byte more", [&] { return set(L"big", REG_BINARY, tooLarge.data(), tooLarge.size()); }, ERROR_INVALID_PARAMETER},
        {"a surrogate alone in a string", [&] { return set(L"s", REG_SZ, loneSurrogate, sizeof loneSurrogate); }, ERROR_INVALID_PARAMETER},
        {"past U+10FFFF in a string", [&] { return set(L"s", REG_MULTI_SZ, pastUnicode, sizeof pastUnicode); }, ERROR_INVALID_PARAMETER},
        {"a surrogate alone in a name", [&] { return set(loneSurrogate, REG_DWORD, "1234", 4); }, ERROR_INVALID_PARAMETER},
        {"querying it", [&] { return RegQueryValueExW(ident, loneSurrogate, nullptr, nullptr, nullptr, &size); }, ERROR_INVALID_PARAMETER},
        {"deleting it", [&] { return RegDeleteValueW(ident, loneSurrogate); }, ERROR_INVALID_PARAMETER},
        {"opening it", [&] { return RegOpenKeyExW(ident, pastUnicode, 0, 0, &unused); }, ERROR_INVALID_PARAMETER},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(row.call(), row.status);
    }
    EXPECT_FALSE(vboard::registryValue(HKEY_LOCAL_MACHINE, "Ident", "s").has_value());
    EXPECT_EQ(RegCloseKey(ident), ERROR_SUCCESS);
    // The control API keeps the same limits.
    EXPECT_TRUE(vboard::createRegistryKey(HKEY_CURRENT_USER, deepPath(512, std::string(255, 'k'))));
    EXPECT_FALSE(vboard::createRegistryKey(HKEY_CURRENT_USER, deepPath(513)));
    EXPECT_FALSE(vboard::setRegistryValue(HKEY_CURRENT_USER, "A", "big", REG_BINARY, Bytes(1024 * 1024 + 1)));
    EXPECT_FALSE(vboard::registryKeyExists(HKEY_CURRENT_USER, "A")) << "a refused value makes no key";
}

TEST_F(Config, RegistryLinesBeyondTheLimitsNameTheirLineAndWhy) {
    const std::string path = tarvik_test::scratchPath("vboard_registry_limits.cfg");
    const std::string longName(256, 'n');
    {
        std::ofstream out(path);
        out << "registry HKLM\\" << deepPath(513) << " v dword 1\n"
            << "registry HKLM\\" << longName << " v dword 1\n"
            << "registry HKLM\\Ident " << std::string(16384, 'v') << " dword 1\n"
            << "registry-delete HKLM\\" << deepPath(513) << "\n"
            << "registry HKLM\\" << deepPath(512) << " v dword 1\n"
            << "registry-delete HKLM\\k\n";
    }
    const std::string cut = std::string(40, 'n') + "... (256 bytes)";
    EXPECT_EQ(vboard::loadConfig(path),
              (std::vector<std::string>{
                  path + ":1: the key is 513 levels deep (at most 512)",
                  path + ":2: the key name '" + cut + "' is 256 characters long (at most 255)",
                  path + ":3: the value name '" + std::string(40, 'v') +
                      "... (16384 bytes)' is 16384 characters long (at most 16383)",
                  path + ":4: the key is 513 levels deep (at most 512)"}));
    EXPECT_FALSE(vboard::registryKeyExists(HKEY_LOCAL_MACHINE, "k")) << "512 levels made, then deleted";
}

TEST_F(Config, DirectivesSetUpTheBoardAndBadLinesAreReported) {
    vboard::addDriver("ECH1:", std::make_shared<EchoDriver>());
    struct Case {
        const char* line;
        const char* problem;  // "" when the line applies
    } cases[] = {
        {"registry HKLM\\Ident BSPVersionNumber dword 0x00030004  # a comment", ""},
        {"registry HKCU\\ControlPanel\\Owner Name string \"Board #1\"  # quoted: the '#' is text", ""},
        {"registry HKLM\\Ident Raw binary 01 ff", ""},
        {"remove-driver ECH1:", ""},
        {"fault CreateFileW device=NOPE: error=5", ""},
        {"time 2024-02-31 12:00:00", "no such date: 2024-02-31"},
        {"time 2023-02-29 12:00:00", "no such date: 2023-02-29"},
        {"time 2024-02-29 12:00:00", ""},
        {"time 2026-12-08 10:30:00", ""},
        {"sleep virtual", ""},
        {"", ""},
        {"frobnicate", "unknown directive 'frobnicate'"},
        {"registry HKXX\\Ident A dword 1",
         "expected: registry <HKLM|HKCU>\\<path> <name> dword|string|binary <value>"},
        {"registry HKLM\\Ident A dword twelve", "bad dword 'twelve' (a number from 0 to 0xFFFFFFFF)"},
        {"remove-driver ECH9:", "no driver 'ECH9:' on the board"},
        // Numbers must fit their field: nothing is truncated or wrapped.
        {"registry HKLM\\Ident A dword 0x100000001",
         "bad dword '0x100000001' (a number from 0 to 0xFFFFFFFF)"},
        {"registry HKLM\\Ident A dword -1", "bad dword '-1' (a number from 0 to 0xFFFFFFFF)"},
        {"registry HKLM\\Ident Raw2 binary 1ff", "bad byte '1ff' (two hex digits)"},
        {"fault DeviceIoControl code=0x1FFFFFFFF",
         "bad code '0x1FFFFFFFF' (a number from 0 to 0xFFFFFFFF, or a request's name)"},
        {"fault DeviceIOControl", "no platform call 'DeviceIOControl'; did you mean 'DeviceIoControl'?"},
        {"gpoi input 0.1 1", "unknown directive 'gpoi'; did you mean 'gpio'?"},
        {"record sometimes", "expected: record off|last <n>|all"},
        {"record last 0", "expected: record off|last <n>|all"},
        {"time 2026-13-08 10:30:00", "expected: time YYYY-MM-DD HH:MM:SS"},
        {"fault DeviceIoControl nth=x",
         "bad fault setting 'nth=x'; expected: fault <function> [device=<name>] [code=<number or name>] "
         "[nth=<n>] [error=<number>]"},
    };
    for (const auto& c : cases) tarvik_test::expectConfigProblem(c.line, c.problem);
    EXPECT_EQ(vboard::registryValue(HKEY_LOCAL_MACHINE, "Ident", "BSPVersionNumber")->data,
              (Bytes{4, 0, 3, 0}));
    EXPECT_EQ(vboard::registryValue(HKEY_CURRENT_USER, "ControlPanel\\Owner", "Name")->data,
              (Bytes{'B', 0, 'o', 0, 'a', 0, 'r', 0, 'd', 0, ' ', 0, '#', 0, '1', 0, 0, 0}))
        << "a quoted string keeps its '#'";
    EXPECT_FALSE(vboard::registryValue(HKEY_LOCAL_MACHINE, "Ident", "A").has_value());
    EXPECT_EQ(vboard::registryValue(HKEY_LOCAL_MACHINE, "Ident", "Raw")->data, (Bytes{1, 0xFF}));
    EXPECT_EQ(openEcho(), INVALID_HANDLE_VALUE);
    HANDLE h = CreateFileW(L"NOPE:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 5u);
    Sleep(100000);
    EXPECT_EQ(vboard::sleeps().size(), 1u);
    SYSTEMTIME now{};
    GetSystemTime(&now);
    EXPECT_EQ(now.wDay, 8);
    EXPECT_EQ(now.wDayOfWeek, 2) << "8 December 2026 is a Tuesday";
}

TEST_F(Config, AMisspeltWordGetsTheNearestName) {
    struct Case {
        const char* line;
        const char* hint;  // how the problem begins
    } cases[] = {
        {"i2c atach 0 0x50 eeprom", "'atach': did you mean 'attach'? expected: i2c attach"},
        {"i2c attach 0 0x50 eprom", "'eprom': did you mean 'eeprom'? "},
        {"gpio inptu 3.5 1", "'inptu': did you mean 'input'? expected: gpio input"},
        {"spi attach 0 flsh", "'flsh': did you mean 'flash'? "},
        {"serial COM3 loopback", "'COM3': did you mean 'COM1'? "},
        {"serial COM1 loopbak", "'loopbak': did you mean 'loopback'? "},
        {"can injct 123#00", "'injct': did you mean 'inject'? "},
        {"record lsat 5", "'lsat': did you mean 'last'? "},
        {"card ot", "'ot': did you mean 'out'? "},
        {"on-reset go_on", "'go_on': did you mean 'go-on'? "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const auto problems = vboard::applyConfigLine(c.line);
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_EQ(problems[0].rfind(c.hint, 0), 0u) << problems[0];
    }
}

TEST_F(Config, OneTableOfDirectivesRefusesADuplicateName) {
    std::vector<std::string> names;
    for (const auto& d : vboard::configDirectives()) names.push_back(d.name);
    for (const char* name : {"debug", "fault", "gpio", "record", "registry", "strict"}) {
        SCOPED_TRACE(name);
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end());
    }
    // Directives outlive a reset, like the families that register them: the probe is added once.
    static int calls = 0;
    static std::string lastRest;
    auto probe = [](const std::vector<std::string>& w, const std::string& rest) {
        ++calls;
        lastRest = rest;
        return w.size() == 2 ? std::string() : std::string("expected: probe <x>");
    };
    EXPECT_FALSE(vboard::addConfigDirective({"gpio", "gpio again", probe}));
    if (std::find(names.begin(), names.end(), "probe") == names.end()) {
        EXPECT_TRUE(vboard::addConfigDirective({"probe", "probe <x>", probe}));
    }
    EXPECT_FALSE(vboard::addConfigDirective({"probe", "probe <y>", probe}));
    calls = 0;
    // The words and the rest of the line leave the comment out.
    EXPECT_TRUE(vboard::applyConfigLine("probe x # comment").empty());
    EXPECT_EQ(lastRest, "x");
    EXPECT_EQ(vboard::applyConfigLine("probe"), std::vector<std::string>{"expected: probe <x>"});
    EXPECT_EQ(calls, 2);
}

TEST_F(Config, RecordingKeepsAWindowWithExactCounts) {
    EXPECT_TRUE(vboard::applyConfigLine("record last 3").empty());
    for (int i = 0; i < 5; ++i) NKDbgPrintfW(L"line %d\r\n", i);
    EXPECT_EQ(vboard::debugLines(), (std::vector<std::string>{"line 2\r\n", "line 3\r\n", "line 4\r\n"}));
    EXPECT_EQ(vboard::debugTally().recorded, 5u);
    EXPECT_EQ(vboard::debugTally().dropped, 2u);
    EXPECT_EQ(vboard::trace().size(), 3u);
    EXPECT_EQ(vboard::trace().front().seq, 3u) << "the window holds the newest calls";
    EXPECT_TRUE(vboard::applyConfigLine("record off").empty());
    NKDbgPrintfW(L"line %d\r\n", 5);
    EXPECT_TRUE(vboard::debugLines().empty());
    EXPECT_EQ(vboard::debugTally().recorded, 6u);
    EXPECT_EQ(vboard::traceTally().kept(), 0u);
    vboard::reset();
    EXPECT_EQ(vboard::recording().mode, vboard::RecordMode::Last);
    EXPECT_EQ(vboard::recording().limit, vboard::kDefaultRecordLimit);
    EXPECT_EQ(vboard::debugTally().recorded, 0u);
}

TEST_F(Config, AnEchoTargetEndsBeforeItsComment) {
    const std::string path = tarvik_test::scratchPath("vboard debug echo.txt");
    std::remove(path.c_str());
    EXPECT_TRUE(vboard::applyConfigLine("debug " + path + "   # the echo, with a blank in its name").empty());
    NKDbgPrintfW(L"echoed\r\n");
    EXPECT_TRUE(vboard::echoDebugTo(""));
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "echoed\r\n");
}

TEST_F(Config, FileProblemsNameTheLine) {
    std::string path = tarvik_test::scratchPath("vboard_config_test.cfg");
    {
        std::ofstream out(path);
        out << "# board for a test\nsleep virtual\nsleep sometimes\n";
    }
    EXPECT_EQ(vboard::loadConfig(path),
              std::vector<std::string>{path + ":3: expected: sleep virtual|real"});
    EXPECT_EQ(vboard::loadConfig(path + ".missing"),
              std::vector<std::string>{path + ".missing: cannot read the file: No such file or directory"});
}

TEST_F(Config, OneCommentRuleForEveryDirectiveAndQuotesForWhatHoldsOne) {
    const std::string folder = tarvik_test::scratchPath("vboard board folder");
    struct Row {
        std::string line;
        std::function<std::string()> result;  // what the line left, or its problem
        std::string expected;
    };
    auto name = [] {
        auto value = vboard::registryValue(HKEY_CURRENT_USER, "A", "N");
        std::string text;
        for (size_t i = 0; value && i + 2 < value->data.size(); i += 2) text += static_cast<char>(value->data[i]);
        return text;
    };
    const std::vector<Row> rows = {
        {"board " + folder + "   # the bench board", [] { return vboard::boardFolder(); }, folder},
        {"board \"" + folder + " #2\"", [] { return vboard::boardFolder(); }, folder + " #2"},
        {"registry HKCU\\A N string Board #1", name, "Board"},
        {"registry HKCU\\A N string \"Board #1\"   # quoted", name, "Board #1"},
        {"registry HKCU\\A N string Board#1 and  more", name, "Board#1 and  more"},
        {"registry HKCU\\A N string \"say \\\"hi\\\" \\\\ \\n\"", name, "say \"hi\" \\ \\n"},
        {"registry HKCU\\A N string \"\"", name, ""},
        {"registry HKCU\\A \"two words\" dword 5",
         [] { return std::to_string(vboard::registryValue(HKEY_CURRENT_USER, "A", "two words").has_value()); }, "1"},
        {"registry HKCU\\A N string \"open", nullptr, "the quote at column 26 is not closed"},
        {"registry HKCU\\A N string \"a\"b", nullptr, "a blank must follow the closing quote at column 28"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        const auto problems = vboard::applyConfigLine(row.line);
        if (!row.result) {
            EXPECT_EQ(problems, std::vector<std::string>{row.expected});
            continue;
        }
        EXPECT_EQ(problems, std::vector<std::string>{});
        EXPECT_EQ(row.result(), row.expected);
    }
    vboard::setBoardFolder("");
    std::filesystem::remove_all(folder);
    std::filesystem::remove_all(folder + " #2");
}

TEST_F(Config, FilesAreReadWithinTheirLimits) {
    const std::string path = tarvik_test::scratchPath("vboard_limits.cfg");
    struct Row {
        const char* what;
        std::function<std::string()> file;  // writes the file and answers its path
        std::vector<std::string> problems;  // after the path
    };
    auto write = [path](const std::string& text) {
        return [path, text] {
            std::ofstream(path, std::ios::binary) << text;
            return path;
        };
    };
    const std::string comment = "# " + std::string(1000, 'c') + "\n";
    std::string big;
    while (big.size() <= (size_t{16} << 20)) big += comment;
    const std::vector<Row> rows = {
        {"a byte-order mark", write("\xEF\xBB\xBFsleep virtual\r\nsleep real\n"), {}},
        {"a mark in the middle", write("sleep virtual\n\xEF\xBB\xBFsleep real\n"),
         {":2: unknown directive '\xEF\xBB\xBFsleep'"}},
        {"a line without an end", [] { return std::string("/dev/zero"); },
         {":1: a line of more than 1048576 bytes; the rest of the file is not read"}},
        {"a file of more than 16 MiB", write(big),
         {":" + std::to_string((size_t{16} << 20) / comment.size() + 1) +
          ": a file of more than 16777216 bytes; the rest of the file is not read"}},
        {"a word of more than 64 KiB", write("sleep virtual\nremove-driver " + std::string(65537, 'w') + "\n"),
         {":2: a word of more than 65536 bytes"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string file = row.file();
        std::vector<std::string> expected;
        for (const std::string& p : row.problems) expected.push_back(file + p);
        EXPECT_EQ(vboard::loadConfig(file), expected);
    }
    std::remove(path.c_str());
}

TEST_F(Config, MessagesShowAFewDozenCharactersWithoutControlBytes) {
    const std::string forty = std::string(36, 'x');
    struct Row {
        std::string line;
        std::string problem;
    };
    const std::vector<Row> rows = {
        {"frob" + forty + std::string(1000, 'y'), "unknown directive 'frob" + forty + "...'"},
        {"frob\x01\x7F", "unknown directive 'frob\\x01\\x7F'"},
        {"fault Create" + std::string(5000, 'W'), "no platform call 'Create" + std::string(34, 'W') + "...'"},
        {"registry HKLM\\Ident A dword " + std::string(300, '9'),
         "bad dword '" + std::string(40, '9') + "...' (a number from 0 to 0xFFFFFFFF)"},
        {"i2c attach 0 0x51 eeprom 1\x1b[2J" + std::string(80, '0'),
         "bad EEPROM size '1\\x1B[2J" + std::string(35, '0') + "...' (1 to 65536 bytes)"},
        {"sleep " + std::string(kLineLimit, 'z'), "a line of more than 1048576 bytes"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line.substr(0, 60));
        EXPECT_EQ(vboard::applyConfigLine(row.line), std::vector<std::string>{row.problem});
    }
}

TEST_F(Threads, ConcurrentBoardCallersKeepHandlesTraceAndEventsConsistent) {
    vboard::addDriver("ECH1:", std::make_shared<EchoDriver>());
    constexpr int kThreads = 4;
    constexpr int kRounds = 200;
    HANDLE shared = CreateEventW(nullptr, TRUE, FALSE, L"SHARED");
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            HANDLE mine = CreateEventW(nullptr, TRUE, FALSE, L"SHARED");
            for (int i = 0; i < kRounds; ++i) {
                HANDLE h = openEcho();
                EXPECT_TRUE(sendEcho(h));
                EXPECT_TRUE(CloseHandle(h));
                SetEvent(mine);
                NKDbgPrintfW(L"round %d\r\n", i);
            }
            CloseHandle(mine);
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(WaitForSingleObject(shared, 0), WAIT_OBJECT_0);
    EXPECT_EQ(tarvik_test::traceOf("DeviceIoControl").size(), size_t{kThreads * kRounds});
    EXPECT_EQ(vboard::debugLines().size(), size_t{kThreads * kRounds});
    EXPECT_EQ(vboard::openHandles().size(), 1u);
    tarvik_test::expectNoMisuse();
    uint64_t seq = 0;
    for (const auto& e : vboard::trace()) EXPECT_EQ(e.seq, ++seq);
}

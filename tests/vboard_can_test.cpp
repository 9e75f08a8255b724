// vboard/src/drivers/can: the board's CAN controller alone, as the library reaches it through
// "CAN1:": the records it takes and refuses, filters per open, transfers and their status words, a
// receive that waits and one abandoned by a close, the bus's other nodes, the candump log, the
// trace and the directives.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "can/can_records.h"
#include "drivers/can/can_bus.h"
#include "model_support.h"
#include "test_support.h"
#include "vboard/gtest.h"
#include "vboard/vboard_c.h"

using tarvik::CanMessageRecord;
using tarvik_test::words;
using vboard::Bytes;
using tarvik::CanTransferRequest;

namespace {

HANDLE openCan() {
    return CreateFileW(L"CAN1:", GENERIC_READ | GENERIC_WRITE, 3, nullptr, OPEN_EXISTING, 0, nullptr);
}

class CanController : public vboard::testing::BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        h = openCan();
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        if (h != nullptr) {
            EXPECT_TRUE(CloseHandle(h));
        }
        BoardTest::TearDown();
    }

    BOOL request(DWORD code, Bytes in, Bytes* out = nullptr, HANDLE on = nullptr) {
        return DeviceIoControl(on ? on : h, code, in.empty() ? nullptr : in.data(),
                               static_cast<DWORD>(in.size()), out ? out->data() : nullptr,
                               out ? static_cast<DWORD>(out->size()) : 0, nullptr, nullptr);
    }
    // Adds a filter and answers its handle, 0 when refused.
    uint32_t addFilter(uint32_t id, uint32_t mask, HANDLE on = nullptr, uint32_t set = 1) {
        Bytes out(4);
        if (!request(tarvik::IOCTL_CAN_ADD_FILTER, words({0, 0, id, mask, 0, 0, set, 0}), &out, on))
            return 0;
        uint32_t handle;
        std::memcpy(&handle, out.data(), 4);
        return handle;
    }
    // One transfer of one record; answers the request's result.
    BOOL transfer(CanMessageRecord& record, HANDLE on = nullptr) {
        CanTransferRequest t = {&record, 1};
        return DeviceIoControl(on ? on : h, tarvik::IOCTL_CAN_TRANSFER, &t, sizeof t, nullptr, 0,
                               nullptr, nullptr);
    }
    CanMessageRecord message(bool send, uint32_t id, bool extended, uint8_t* data, uint16_t length) {
        CanMessageRecord m = {};
        m.receiveFlag = send ? 0 : 1;
        m.extendedId = extended ? 1 : 0;
        m.messageId = id;
        m.data = data;
        m.dataLength = length;
        m.status = &status;
        m.transmitFlag = send ? 1 : 0;
        return m;
    }

    HANDLE h = nullptr;
    uint32_t status = 0xA5A5A5A5;
};

}  // namespace

TEST(CanFrameText, ParsesCansendSyntaxAndPrintsCandumps) {
    struct Row {
        const char* text;
        const char* printed;  // nullptr: not a frame
    };
    const Row table[] = {
        {"123#DEADBEEF", "123#DEADBEEF"}, {"1ABCDEF0#01", "1ABCDEF0#01"},
        {"7FF#", "7FF#"},                 {"123#de.ad.be.ef", "123#DEADBEEF"},
        {"123#R", "123#R"},               {"00000123#R8", "00000123#R8"},
        {"000#0011223344556677", "000#0011223344556677"},
        {"12#00", nullptr},               {"800#00", nullptr},
        {"20000000#00", nullptr},         {"123#0", nullptr},
        {"123#GG", nullptr},              {"123#001122334455667788", nullptr},
        {"123#R9", nullptr},              {"123DEAD", nullptr},
        {"123#.DE", nullptr},             {"123#DE..AD", nullptr},
        {"123#DE.", nullptr},             {"", nullptr},
    };
    for (const Row& r : table) {
        SCOPED_TRACE(r.text);
        auto frame = vboard::parseCanFrame(r.text);
        ASSERT_EQ(frame.has_value(), r.printed != nullptr);
        if (frame) {
            EXPECT_EQ(vboard::formatCanFrame(*frame), r.printed);
        }
    }
    EXPECT_TRUE(vboard::parseCanFrame("1ABCDEF0#01")->extended);
    EXPECT_FALSE(vboard::parseCanFrame("0AB#01")->extended);
}

TEST_F(CanController, ReportsItsTimingAndTakesOnlyWhatItCanRun) {
    Bytes out(12);
    ASSERT_TRUE(request(tarvik::IOCTL_CAN_GET_TIMING, {}, &out));
    EXPECT_EQ(out, (Bytes{0x80, 0xC3, 0xC9, 0x01, 15, 0, 2, 3, 2, 0, 0, 0}));
    Bytes small(11);
    EXPECT_FALSE(request(tarvik::IOCTL_CAN_GET_TIMING, {}, &small));

    auto timing = [](uint32_t clock, uint16_t prescaler, uint8_t prop, uint8_t ph1, uint8_t ph2) {
        Bytes b = words({clock, prescaler, 0});
        b[6] = prop;
        b[7] = ph1;
        b[8] = ph2;
        b[9] = 1;
        return b;
    };
    struct Row {
        const char* what;
        Bytes record;
        bool taken;
    } table[] = {
        {"prescaler 0", timing(0, 0, 2, 3, 2), false},
        {"prescaler 257", timing(0, 257, 2, 3, 2), false},
        {"propseg 0", timing(0, 4, 0, 3, 2), false},
        {"phase1seg 9", timing(0, 4, 2, 9, 2), false},
        {"phase2seg 1", timing(0, 4, 2, 3, 1), false},
        {"11 bytes", Bytes(11, 1), false},
        {"prescaler 256, segments 8 8 8", timing(0, 256, 8, 8, 8), true},
        {"prescaler 4 with a base clock, which is not the driver's to take", timing(12345, 4, 1, 2, 2), true},
    };
    for (const auto& r : table) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(request(tarvik::IOCTL_CAN_SET_TIMING, r.record) != 0, r.taken);
    }
    const vboard::CanTiming kept = vboard::can().timing();
    EXPECT_EQ(kept.baseclock, vboard::kCanPowerOnBaseClock);
    EXPECT_EQ(kept.prescaler, 4);
    EXPECT_EQ(kept.auxTiming, 1);
    EXPECT_EQ(kept.bitrate(), 30000000u / (4 * 6));
}

TEST_F(CanController, FiltersAcceptByIdentifierAndMaskAndBelongToTheirOpen) {
    EXPECT_TRUE(vboard::can().inject(*vboard::parseCanFrame("555#")))
        << "without a filter every frame is taken";
    // Both identifiers carry bits their masks leave out: only the masked bits are compared, of
    // the filter's identifier as of the frame's.
    const uint32_t first = addFilter(0x12F, 0x7F0);
    const uint32_t second = addFilter(0xFABCDEF0, 0x1FFFFFFF);
    EXPECT_EQ(first, 1u);
    EXPECT_EQ(second, 2u);
    struct Row {
        const char* frame;
        bool taken;
    } table[] = {{"123#", true}, {"12F#", true}, {"130#", false}, {"1ABCDEF0#", true},
                 {"1ABCDEF1#", false}, {"00000125#", true}};
    for (const auto& r : table) {
        SCOPED_TRACE(r.frame);
        EXPECT_EQ(vboard::can().inject(*vboard::parseCanFrame(r.frame)), r.taken);
    }
    EXPECT_EQ(addFilter(0x300, 0x700, nullptr, 0), 3u) << "a disabled filter takes nothing";
    EXPECT_FALSE(vboard::can().inject(*vboard::parseCanFrame("300#")));

    // Another open's filters are its own: it can't remove ours, and its close takes only its own.
    HANDLE other = openCan();
    const uint32_t theirs = addFilter(0x400, 0x7FF, other);
    EXPECT_FALSE(request(tarvik::IOCTL_CAN_REMOVE_FILTER, words({first}), nullptr, other));
    EXPECT_TRUE(request(tarvik::IOCTL_CAN_REMOVE_FILTER, words({first})));
    EXPECT_FALSE(request(tarvik::IOCTL_CAN_REMOVE_FILTER, words({first}))) << "already removed";
    EXPECT_EQ(vboard::can().filters().size(), 3u);
    ASSERT_TRUE(CloseHandle(other));
    const auto left = vboard::can().filters();
    ASSERT_EQ(left.size(), 2u);
    for (const auto& f : left) EXPECT_NE(f.handle, theirs);
    EXPECT_EQ(vboard::can().pending(), 5u);
}

TEST_F(CanController, TransfersWriteTheirOutcomeIntoTheStatusWord) {
    ASSERT_TRUE(request(tarvik::IOCTL_CAN_LOOPBACK_ON, {}));
    uint8_t data[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    struct Row {
        const char* what;
        uint32_t id;
        bool extended;
        uint8_t* data;
        uint16_t length;
        uint32_t status;
    } table[] = {
        {"a standard frame", 0x7FF, false, data, 2, vboard::kCanStatusOk},
        {"an extended frame", 0x1FFFFFFF, true, data, 8, vboard::kCanStatusOk},
        {"an identifier beyond 11 bits", 0x800, false, data, 1, vboard::kCanStatusBadFrame},
        {"beyond 29 bits", 0x20000000, true, data, 1, vboard::kCanStatusBadFrame},
        {"9 data bytes", 0x100, false, data, 9, vboard::kCanStatusBadFrame},
        {"data bytes without a buffer", 0x100, false, nullptr, 1, vboard::kCanStatusBadFrame},
    };
    for (const auto& r : table) {
        SCOPED_TRACE(r.what);
        CanMessageRecord m = message(true, r.id, r.extended, r.data, r.length);
        status = 0xA5A5A5A5;
        EXPECT_TRUE(transfer(m));
        EXPECT_EQ(status, r.status);
    }
    ASSERT_EQ(vboard::can().sent().size(), 2u);
    EXPECT_EQ(vboard::formatCanFrame(vboard::can().sent()[1]), "1FFFFFFF#0102030405060708");

    // The receive takes the oldest frame; a buffer too small for it leaves it waiting.
    uint8_t in[8] = {};
    CanMessageRecord rx = message(false, 0, false, in, 1);
    EXPECT_TRUE(transfer(rx));
    EXPECT_EQ(status, uint32_t{vboard::kCanStatusBufferTooSmall});
    EXPECT_EQ(rx.dataLength, 2) << "what the waiting frame needs";
    rx.dataLength = 8;
    EXPECT_TRUE(transfer(rx));
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(rx.messageId, 0x7FFu);
    EXPECT_EQ(rx.dataLength, 2);
    EXPECT_EQ(in[1], 2);
    rx.dataLength = 8;
    EXPECT_TRUE(transfer(rx));
    EXPECT_EQ(rx.messageId, 0x1FFFFFFFu);
    EXPECT_EQ(rx.extendedId, 1u);
    EXPECT_TRUE(transfer(rx));
    EXPECT_EQ(status, uint32_t{vboard::kCanStatusNoMessage});

    // Records the driver can't follow fail the request itself.
    CanMessageRecord noStatus = message(true, 1, false, data, 1);
    noStatus.status = nullptr;
    EXPECT_FALSE(transfer(noStatus));
    CanTransferRequest two = {&rx, 2};
    EXPECT_FALSE(DeviceIoControl(h, tarvik::IOCTL_CAN_TRANSFER, &two, sizeof two, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// True once a receive waits in the controller (within 5 s).
bool untilWaiting() {
    for (int i = 0; i < 5000; ++i) {
        if (vboard::can().waitingReceives() > 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

TEST_F(CanController, AReceiveWaitsForAFrameAndACloseAbandonsIt) {
    vboard::can().setReceiveWait(10000);
    uint8_t in[8] = {};
    CanMessageRecord rx = message(false, 0, false, in, 8);
    std::atomic<bool> done{false};
    std::thread reader([&] {
        EXPECT_TRUE(transfer(rx));
        done = true;
    });
    EXPECT_TRUE(untilWaiting()) << "the receive never started waiting";
    EXPECT_FALSE(done.load());
    ASSERT_TRUE(vboard::can().inject(*vboard::parseCanFrame("321#AA")));
    reader.join();
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(rx.messageId, 0x321u);

    // Closed from another thread while it waits: the request fails at once.
    BOOL result = TRUE;
    DWORD error = 0;
    std::thread waiting([&] {
        result = transfer(rx);
        error = GetLastError();
    });
    EXPECT_TRUE(untilWaiting()) << "the receive never started waiting";
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(CloseHandle(h));
    h = nullptr;
    waiting.join();
    EXPECT_FALSE(result);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

TEST_F(CanController, AFullReceiveQueueDropsAndCountsNewFrames) {
    for (size_t i = 0; i < vboard::kCanReceiveQueueDepth; ++i)
        ASSERT_TRUE(vboard::can().inject(*vboard::parseCanFrame("001#")));
    EXPECT_FALSE(vboard::can().inject(*vboard::parseCanFrame("002#")));
    EXPECT_EQ(vboard::can().pending(), vboard::kCanReceiveQueueDepth);
    EXPECT_EQ(vboard::can().overruns(), 1u);
    EXPECT_EQ(vboard::can().traffic().size(), vboard::kCanReceiveQueueDepth + 1);
}

TEST_F(CanController, RequestsAreDecodedInTheTrace) {
    uint8_t data[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    vboard::clearTrace();
    Bytes out(12);
    request(tarvik::IOCTL_CAN_GET_TIMING, {}, &out);
    request(tarvik::IOCTL_CAN_SET_TIMING, Bytes{0, 0, 0, 0, 4, 0, 2, 3, 2, 0, 0, 0});
    request(tarvik::IOCTL_CAN_SET_TIMING, Bytes{1, 2});
    request(tarvik::IOCTL_CAN_TLPRIO_ON, {});
    request(tarvik::IOCTL_CAN_LOOPBACK_ON, {});
    addFilter(0x120, 0x7F0);
    request(tarvik::IOCTL_CAN_REMOVE_FILTER, words({9}));
    CanMessageRecord tx = message(true, 0x123, false, data, 4);
    transfer(tx);
    CanMessageRecord bad = message(true, 0x800, false, data, 4);
    transfer(bad);
    uint8_t in[8] = {};
    CanMessageRecord rx = message(false, 0, false, in, 8);
    transfer(rx);
    transfer(rx);
    request(tarvik::IOCTL_CAN_REMOVE_FILTER, words({1}));
    vboard::can().inject(*vboard::parseCanFrame("1ABCDEF0#01"));
    transfer(rx);
    CanTransferRequest two = {&rx, 2};
    DeviceIoControl(h, tarvik::IOCTL_CAN_TRANSFER, &two, sizeof two, nullptr, 0, nullptr, nullptr);
    request(tarvik::IOCTL_CAN_TRANSFER, Bytes{1, 2, 3});
    request(0x2A3B88, {});
    EXPECT_EQ(vboard::driverTraceLines(),
              (std::vector<std::string>{
                  "CAN1: GET_TIMING baseclock 30000000 prescaler 15 segments 2 3 2 aux 0 -> ok",
                  "CAN1: SET_TIMING prescaler 4 segments 2 3 2 aux 0 -> ok",
                  "CAN1: SET_TIMING malformed [01 02] -> error 87",
                  "CAN1: TLPRIO on -> ok",
                  "CAN1: LOOPBACK on -> ok",
                  "CAN1: ADD_FILTER id 0x120 mask 0x7F0 flag 0 set 1 option 0 handle 1 -> ok",
                  "CAN1: REMOVE_FILTER handle 9 -> error 87",
                  "CAN1: TX 123#DEADBEEF status 0 -> ok",
                  "CAN1: TX bad frame id 0x800 length 4 status 2 -> ok",
                  "CAN1: RX 123#DEADBEEF status 0 -> ok",
                  "CAN1: RX none status 1 -> ok",
                  "CAN1: REMOVE_FILTER handle 1 -> ok",
                  "CAN1: RX 1ABCDEF0#01 (ext) status 0 -> ok",
                  "CAN1: TRANSFER count 2 -> error 87",
                  "CAN1: TRANSFER malformed [01 02 03] -> error 87",
                  "CAN1: IOCTL 0x2A3B88 -> error 50",
              }));
}

TEST_F(CanController, LogsTheBusInCandumpsFormat) {
    const std::string path = ::testing::TempDir() + "vboard_can_log_" +
                             std::to_string(reinterpret_cast<uintptr_t>(this)) + ".log";
    std::remove(path.c_str());
    vboard::setSystemTime(SYSTEMTIME{2024, 12, 0, 8, 9, 30, 52, 249});
    ASSERT_TRUE(vboard::applyConfigLine("can log " + path).empty());
    uint8_t data[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    CanMessageRecord tx = message(true, 0x123, false, data, 4);
    ASSERT_TRUE(transfer(tx));
    ASSERT_TRUE(vboard::can().inject(*vboard::parseCanFrame("1ABCDEF0#R")));
    ASSERT_TRUE(vboard::applyConfigLine("can log off").empty());
    ASSERT_TRUE(transfer(tx));
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(),
              "(1733650252.249000) can1 123#DEADBEEF\n"
              "(1733650252.249000) can1 1ABCDEF0#R\n");
    std::remove(path.c_str());
}

TEST_F(CanController, DirectivesPlayTheOtherNodesAndSetTheController) {
    const std::string usage =
        "expected: can inject <frame> | can clock <hz> | can rx-wait <ms> | can log <file>|off | "
        "can bus <name>|off | can reset";
    struct Row {
        const char* line;
        std::string problem;
    } table[] = {
        {"can inject 123#DEADBEEF  # a node says hello", ""},
        {"can inject 123#DEADBEE", "not a CAN frame: '123#DEADBEE' (expected e.g. 123#DEADBEEF)"},
        {"can clock 36000000", ""},
        {"can clock 0", "expected: can clock <hz>, above 0"},
        {"can rx-wait 60001", "expected: can rx-wait <ms>, at most 60000"},
        {"can rx-wait 50", ""},
        {"can log /nonexistent-dir/can.log", "can't open /nonexistent-dir/can.log: No such file or directory"},
        {"can", usage},
        {"can inject", usage},
        {"can transmit 123#", usage},
    };
    for (const auto& r : table) tarvik_test::expectConfigProblem(r.line, r.problem);
    EXPECT_EQ(vboard::can().pending(), 1u);
    EXPECT_EQ(vboard::can().timing().baseclock, 36000000u);
    EXPECT_TRUE(vboard::applyConfigLine("can reset").empty());
    EXPECT_EQ(vboard::can().pending(), 0u);
    EXPECT_EQ(vboard::can().timing().baseclock, vboard::kCanPowerOnBaseClock);
}

TEST_F(CanController, TheCEntriesInjectAndReadBack) {
    EXPECT_EQ(vboard_can_inject("123#01"), 1);
    EXPECT_EQ(vboard_can_inject("nonsense"), 0);
    EXPECT_EQ(vboard_can_inject(nullptr), 0);
    EXPECT_EQ(vboard_can_pending(), 1u);
    EXPECT_EQ(vboard_can_sent_text(), nullptr);
    uint8_t data[1] = {7};
    CanMessageRecord tx = message(true, 0x42, false, data, 1);
    ASSERT_TRUE(transfer(tx));
    char* sent = vboard_can_sent_text();
    ASSERT_NE(sent, nullptr);
    EXPECT_STREQ(sent, "042#07\n");
    vboard_free(sent);
    EXPECT_EQ(vboard_can_log(nullptr), 1);
}

// A node of the test's own on the bus uses the control side from inside a request, as every
// device model may: it answers each frame the board sends with one of the next identifier.
TEST_F(CanController, ADeviceModelMayUseTheControlSideFromInsideARequest) {
    size_t answered = 0;
    vboard::addDriver("CAN1:", std::make_shared<tarvik_test::DeviceInFront>("CAN1:", [&](DWORD code) {
                          const auto sent = vboard::can().sent();
                          if (code != tarvik::IOCTL_CAN_TRANSFER || sent.size() == answered) return;
                          ++answered;
                          vboard::CanFrame answer = sent.back();
                          ++answer.id;
                          vboard::can().inject(answer);
                      }));
    HANDLE node = openCan();
    uint8_t data[2] = {0xAB, 0xCD};
    CanMessageRecord out = message(true, 0x120, false, data, 2);
    EXPECT_TRUE(transfer(out, node));
    uint8_t back[8] = {};
    CanMessageRecord in = message(false, 0, false, back, 8);
    EXPECT_TRUE(transfer(in, node));
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(in.messageId, 0x121u);
    EXPECT_EQ(Bytes(back, back + in.dataLength), (Bytes{0xAB, 0xCD}));
    EXPECT_TRUE(CloseHandle(node));
}

// ---- One bus between processes ----

namespace {

// Another member of the bus "t", played here by a link of its own; what it hears is kept.
class OtherMember {
public:
    OtherMember() {
        std::string problem;
        link_ = vboard::CanBusLink::join("t", [this](const vboard::CanFrame& frame) {
            std::lock_guard<std::mutex> hold(lock_);
            heard_.push_back(vboard::formatCanFrame(frame));
            arrived_.notify_all();
        }, problem);
        EXPECT_TRUE(link_) << problem;
    }
    void send(const std::string& frame) { link_->send(*vboard::parseCanFrame(frame)); }
    // What it heard once it has heard `count` frames (or the wait gave up).
    std::vector<std::string> heard(size_t count) {
        std::unique_lock<std::mutex> hold(lock_);
        arrived_.wait_for(hold, std::chrono::seconds(60), [&] { return heard_.size() >= count; });
        return heard_;
    }

private:
    std::mutex lock_;
    std::condition_variable arrived_;
    std::vector<std::string> heard_;
    std::unique_ptr<vboard::CanBusLink> link_;
};

// The frames on the board's bus once it has seen `count`.
std::vector<vboard::CanBusFrame> trafficOnce(size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (vboard::can().traffic().size() < count && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return vboard::can().traffic();
}

std::string runtimeFolder() {
    const std::string runtime = ::testing::TempDir() + "vboard_can_runtime_" + std::to_string(::getpid());
    std::filesystem::remove_all(runtime);
    std::filesystem::create_directories(runtime);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    return runtime;
}

}  // namespace

// Frames between the board's controller and another member: through the board's filters one way,
// stamped on the board's clock as they arrive; to the other member whatever the board's loopback
// the other way, never back to a sender without loopback.
TEST_F(CanController, AMemberOfASharedBusHearsTheOthersThroughItsFilters) {
    runtimeFolder();
    tarvik_test::expectConfigLine("can bus t", "");
    EXPECT_EQ(vboard::canBus(), "t");
    // Each board stamps a frame on its own clock as it arrives.
    const std::string log = ::testing::TempDir() + "vboard_can_bus_" + std::to_string(::getpid()) + ".log";
    std::remove(log.c_str());
    vboard::setSystemTime(SYSTEMTIME{2024, 12, 0, 8, 9, 30, 52, 249});
    tarvik_test::expectConfigLine("can log " + log, "");
    OtherMember other;
    ASSERT_NE(addFilter(0x123, 0x7FF), 0u);
    other.send("124#01");
    other.send("123#0203");
    const auto traffic = trafficOnce(2);
    ASSERT_EQ(traffic.size(), 2u);
    EXPECT_FALSE(traffic[0].received);
    EXPECT_TRUE(traffic[1].received);
    EXPECT_FALSE(traffic[1].fromBoard);
    EXPECT_EQ(vboard::can().pending(), 1u);
    tarvik_test::expectConfigLine("can log off", "");
    std::ifstream logged(log);
    std::stringstream lines;
    lines << logged.rdbuf();
    EXPECT_EQ(lines.str(), "(1733650252.249000) can1 124#01\n(1733650252.249000) can1 123#0203\n");

    uint8_t data[1] = {0x55};
    CanMessageRecord out = message(true, 0x321, false, data, 1);
    EXPECT_TRUE(transfer(out));
    vboard::can().inject(*vboard::parseCanFrame("456#66"));
    EXPECT_EQ(other.heard(2), (std::vector<std::string>{"321#55", "456#66"}));
    EXPECT_EQ(vboard::can().pending(), 1u) << "no loopback: the board does not hear its own frame";
    // A board reset from the control API is on the bus its configuration joins: none here.
    EXPECT_TRUE(CloseHandle(h));
    h = nullptr;
    vboard::reset();
    EXPECT_EQ(vboard::canBus(), "");
}

TEST_F(CanController, BusNamesAndAForeignRuntimeFolderAreRefused) {
    const std::string runtime = runtimeFolder();
    const std::string rule = " (1 to 32 letters, digits, '-', '_' or '.', not starting with '.')";
    struct Case {
        std::string line, problem;
    };
    const std::vector<Case> cases = {
        {"can bus ../up", "bad CAN bus name '../up'" + rule},
        {"can bus a/b", "bad CAN bus name 'a/b'" + rule},
        {"can bus .hidden", "bad CAN bus name '.hidden'" + rule},
        {"can bus " + std::string(33, 'n'), "bad CAN bus name '" + std::string(33, 'n') + "'" + rule},
        {"can bus", "expected: can inject <frame>"},
    };
    for (const Case& c : cases) tarvik_test::expectConfigLine(c.line, c.problem);
    std::filesystem::create_directory(runtime + "/tarvik");
    ::chmod((runtime + "/tarvik").c_str(), 0755);
    tarvik_test::expectConfigLine(
        "can bus t", runtime + "/tarvik is not the user's own folder with mode 0700; the bus is not joined");
    EXPECT_EQ(vboard::canBus(), "");
}

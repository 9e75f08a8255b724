// src/can: the ten CAN exports: check orders and refusals, the exact records and debug lines of
// every request, the prescaler the bit rate gives, and transfers on the virtual bus and on a driver
// that answers as a test scripts it.
#include <cstring>
#include <functional>

#include "Tarvik.h"
#include "can/can_controller_device.h"
#include "can_support.h"

using namespace can_test;
using tarvik_test::expectNoMisuse;

namespace {

constexpr DWORD kTransfer = tarvik::IOCTL_CAN_TRANSFER, kGetTiming = tarvik::IOCTL_CAN_GET_TIMING,
                kSetTiming = tarvik::IOCTL_CAN_SET_TIMING, kAddFilter = tarvik::IOCTL_CAN_ADD_FILTER,
                kRemoveFilter = tarvik::IOCTL_CAN_REMOVE_FILTER;

constexpr uint32_t kUntouched = 0xA5A5A5A5;

void armRejection(DWORD code, DWORD error = ERROR_GEN_FAILURE) {
    vboard::armFault({"DeviceIoControl", "CAN1:", code, 0, error});
}

int closePort(uint32_t port) {
    CANClose(port);
    return -1;
}

uint8_t buffer[8];
uint32_t status = kUntouched;

// The export calls of every table, for a given port.
std::vector<std::pair<const char*, std::function<int()>>> everyExport(uint32_t port) {
    return {
        {"open", [=] { return CANOpen(port); }},
        {"close", [=] { return closePort(port); }},
        {"mode", [=] { return CANConfigureMode(port, 0, 500000, 0, 0); }},
        {"timing", [=] { return CANConfigureTiming(port, 4, 2, 3, 2, 0); }},
        {"filter", [=] { return CANConfigureFilter(port, 0x100, 0x7FF, 0, 0); }},
        {"reset filter", [=] { return CANResetFilter(port); }},
        {"message", [=] { return CANConfigureMessage(port, 0, 0x123, 0, 0, 1); }},
        {"parameter",
         [=] {
             uint32_t id = 0;
             return CANGetMessageParameter(port, &id, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
         }},
        {"read", [=] { return CANRead(port, buffer, 8, &status); }},
        {"write", [=] { return CANWrite(port, buffer, 8, &status); }},
    };
}

}  // namespace

class CanOperations : public CanTest {};
class CanBitrate : public CanTest {};
class CanFilters : public CanTest {};
class CanMessages : public CanTest {};
class CanTransfers : public CanTest {};

TEST_F(CanOperations, OnlyPortOneExistsAndMostRefusalsAreSilent) {
    open();
    for (uint32_t port : {0u, 2u, 0xFFFFFFFFu}) {
        std::vector<Case> cases;
        for (auto& e : everyExport(port)) {
            const std::string what = e.first;
            Lines lines;
            if (what == "timing") lines = {"Can't Configure Can Timeout Port\r\n"};
            if (what == "message") lines = {"Can't Configure Can Message Port\r\n"};
            cases.push_back({e.first, nullptr, e.second, what == "close" ? -1 : 0, lines, {}});
        }
        runCases(cases);
    }
    EXPECT_EQ(vboard::openDriverHandles("CAN1:"), 1u) << "CANClose(2) closes nothing";
    EXPECT_EQ(status, kUntouched);
}

TEST_F(CanOperations, BeforeTheOpenEveryDriverCallIsRefusedInItsOrder) {
    uint8_t data[4] = {1, 2, 3, 4};
    runCases({
        {"close", nullptr, [] { return closePort(1); }, -1, {"Can't Close Can Port\r\n"}, {}},
        {"mode", nullptr, [] { return CANConfigureMode(1, 0, 500000, 1, 1); }, 0,
         {"Can't Configure Can Port\r\n"}, {}},
        {"bit rate 0 is refused before the port", nullptr, [] { return CANConfigureMode(2, 0, 0, 0, 0); }, 0, {}, {}},
        {"bit rate 0 is refused before the handle", nullptr, [] { return CANConfigureMode(1, 0, 0, 0, 0); }, 0, {}, {}},
        {"timing", nullptr, [] { return CANConfigureTiming(1, 4, 2, 3, 2, 0); }, 0,
         {"Can't Configure Can Timeout Port\r\n"}, {}},
        {"filter", nullptr, [] { return CANConfigureFilter(1, 0x7FF, 0, 0, 0); }, 0,
         {"Can't Configure Can Filter Port\r\n"}, {}},
        {"the identifier is checked before the handle", nullptr,
         [] { return CANConfigureFilter(1, 0x800, 0, 0, 0); }, 0, {"Unknown Filter ID\r\n"}, {}},
        {"reset filter", nullptr, [] { return CANResetFilter(1); }, 0, {"Can't Remove Can Filter Port\r\n"}, {}},
        {"a message needs no driver", nullptr, [] { return CANConfigureMessage(1, 0, 0x123, 0, 0, 1); }, 1, {}, {}},
        {"read without a buffer", nullptr, [] { return CANRead(1, nullptr, 8, &status); }, 0,
         {"Can't get data buffer\r\n"}, {}},
        {"read of 0 bytes", nullptr, [] { return CANRead(1, buffer, 0, &status); }, 0,
         {"Can't get data length less 1\r\n"}, {}},
        {"read of -5 bytes", nullptr, [] { return CANRead(1, buffer, -5, &status); }, 0,
         {"Can't get data length less 1\r\n"}, {}},
        {"read", nullptr, [] { return CANRead(1, buffer, 8, &status); }, 0, {"Can't Read Can data\r\n"}, {}},
        {"write without data", nullptr, [] { return CANWrite(1, nullptr, 4, &status); }, 0,
         {"Can't get data buffer\r\n"}, {}},
        {"write", nullptr, [&] { return CANWrite(1, data, 4, &status); }, 0, {"Can't Write Can data\r\n"}, {}},
    });
    EXPECT_EQ(status, kUntouched);
    EXPECT_TRUE(vboard::opens().empty());
}

TEST_F(CanOperations, OpenKeepsOneHandleUntilClose) {
    ASSERT_EQ(CANOpen(1), 1);
    EXPECT_EQ(vboard::debugLines(), (Lines{"VELNA open handle operate successful - Rout 0\r\n"}));
    EXPECT_EQ(vboard::driverTraceLines(),
              (Lines{"CreateFileW \"CAN1:\" access 0xC0000000 share 3 creation 3 flags 0x0 -> h1"}));
    runCases({{"a second open", nullptr, [] { return CANOpen(1); }, 0, {"Can't Open Can Port\r\n"}, {}}});
    EXPECT_EQ(vboard::opens().size(), 1u);
    EXPECT_EQ(vboard::openDriverHandles("CAN1:"), 1u);
    runCases({{"close", nullptr, [] { return closePort(1); }, -1,
               {"VELNA can close port operate successful - Rout 0\r\n"}, {}},
              {"close again", nullptr, [] { return closePort(1); }, -1, {"Can't Close Can Port\r\n"}, {}},
              {"open again", nullptr, [] { return CANOpen(1); }, 1,
               {"VELNA open handle operate successful - Rout 0\r\n"}, {}}});
    EXPECT_EQ(vboard::openDriverHandles("CAN1:"), 1u);
    CANClose(1);
    EXPECT_EQ(vboard::openDriverHandles(), 0u);
    expectNoMisuse();
}

TEST_F(CanOperations, AFailedOpenStaysUntilCloseWhichClosesNothing) {
    vboard::armFault({"CreateFileW", "CAN1:", std::nullopt, 1, ERROR_FILE_NOT_FOUND});
    runCases({
        {"open fails", nullptr, [] { return CANOpen(1); }, 0,
         {"VELNA HANDLE ERROR: 2\r\n", "Can't Open Can Port\r\n"}, {}},
        {"the failed open is refused as open", nullptr, [] { return CANOpen(1); }, 0,
         {"Can't Open Can Port\r\n"}, {}},
        {"requests fail on the invalid handle", nullptr, [] { return CANConfigureMode(1, 0, 500000, 0, 0); }, 0,
         {"VELNA can get timing cannot operate successful - Rerr 6\r\n",
          "Can't Configure Can Bitrate Port\r\n"},
         {{kGetTiming, {}}}},
        {"close", nullptr, [] { return closePort(1); }, -1,
         {"VELNA can close port operate successful - Rout 6\r\n"}, {}},
        {"and the port opens again", nullptr, [] { return CANOpen(1); }, 1,
         {"VELNA open handle operate successful - Rout 6\r\n"}, {}},
    });
    EXPECT_EQ(vboard::opens().size(), 2u);
    EXPECT_TRUE(tarvik_test::traceOf("CloseHandle").empty()) << "INVALID_HANDLE_VALUE is never closed";
    expectNoMisuse();
}

TEST_F(CanOperations, ConfigureModeSendsTheTimingThenTheTwoModes) {
    open();
    runCases({{"extended, 500 kbit/s, TLPRIO flag 2, loopback 1", nullptr,
               [] { return CANConfigureMode(1, 1, 500000, 2, 1); }, 1,
               {"VELNA can baseclock: 30000000\r\n", "VELNA can bitrate: 500000\r\n",
                "VELNA can propseg: 2\r\n", "VELNA can phase1seg: 3\r\n", "VELNA can phase2seg: 2\r\n",
                "VELNA can prescaler: 7\r\n", "VELNA can set bitrate operate successful - Rout 0\r\n",
                "VELNA can set TLPRIO operate successful - Rout 0\r\n",
                "VELNA can set Loopback operate successful - Rout 0\r\n"},
               {{kGetTiming, {}},
                {kSetTiming, timing(30000000, 7, 2, 3, 2, 0)},
                {tarvik::IOCTL_CAN_TLPRIO_OFF, {}},
                {tarvik::IOCTL_CAN_LOOPBACK_ON, {}}}}});
    EXPECT_FALSE(vboard::can().tlprio());
    EXPECT_TRUE(vboard::can().loopback());
    EXPECT_EQ(vboard::can().timing().prescaler, 7);

    ASSERT_EQ(CANConfigureMode(1, 0, 1000000, 1, 2), 1);
    const auto sent = requests();
    EXPECT_EQ(sent[sent.size() - 2].code, tarvik::IOCTL_CAN_TLPRIO_ON);
    EXPECT_EQ(sent.back().code, tarvik::IOCTL_CAN_LOOPBACK_OFF) << "only 1 switches a mode on";
}

TEST_F(CanOperations, ConfigureModeStopsAtTheFirstRejectedRequest) {
    open();
    const Lines values = {"VELNA can baseclock: 30000000\r\n", "VELNA can bitrate: 250000\r\n",
                          "VELNA can propseg: 2\r\n", "VELNA can phase1seg: 3\r\n",
                          "VELNA can phase2seg: 2\r\n", "VELNA can prescaler: 15\r\n"};
    auto with = [&](Lines tail) {
        Lines lines = values;
        lines.insert(lines.end(), tail.begin(), tail.end());
        return lines;
    };
    const Request get{kGetTiming, {}}, set{kSetTiming, timing(30000000, 15, 2, 3, 2, 0)},
        tlprio{tarvik::IOCTL_CAN_TLPRIO_OFF, {}}, loopback{tarvik::IOCTL_CAN_LOOPBACK_OFF, {}};
    struct Rejection {
        DWORD code;
        Case expected;
    };
    const Rejection table[] = {
        {kGetTiming,
         {"get timing", nullptr, nullptr, 0,
          {"VELNA can get timing cannot operate successful - Rerr 31\r\n",
           "Can't Configure Can Bitrate Port\r\n"},
          {get}}},
        {kSetTiming,
         {"set timing", nullptr, nullptr, 0,
          with({"VELNA can set bitrate cannot operate successful - Rerr 31\r\n",
                "Can't Configure Can Bitrate Port\r\n"}),
          {get, set}}},
        {tarvik::IOCTL_CAN_TLPRIO_OFF,
         {"TLPRIO", nullptr, nullptr, 0,
          with({"VELNA can set bitrate operate successful - Rout 0\r\n",
                "VELNA can set TLPRIO cannot operate successful - Rerr 31\r\n",
                "Can't Configure Can Mode TLPRIO Port\r\n"}),
          {get, set, tlprio}}},
        {tarvik::IOCTL_CAN_LOOPBACK_OFF,
         {"loopback", nullptr, nullptr, 0,
          with({"VELNA can set bitrate operate successful - Rout 0\r\n",
                "VELNA can set TLPRIO operate successful - Rout 0\r\n",
                "VELNA can set Loopback cannot operate successful - Rerr 31\r\n",
                "Can't Configure Can Mode Loopback Port\r\n"}),
          {get, set, tlprio, loopback}}},
    };
    for (const Rejection& r : table) {
        vboard::clearFaults();
        armRejection(r.code);
        SetLastError(0);
        Case c = r.expected;
        c.call = [] { return CANConfigureMode(1, 0, 250000, 0, 0); };
        runCases({c});
    }
}

TEST_F(CanBitrate, ThePrescalerIsTheNearestInSinglePrecision) {
    struct Row {
        const char* what;
        uint32_t baseclock, bitrate;
        uint8_t propseg, phase1, phase2;
        uint16_t prescaler;
    };
    const Row table[] = {
        {"p 3.75", 30000000, 1000000, 2, 3, 2, 4},
        {"p 4.5 exactly: a tie keeps the lower", 36000000, 1000000, 2, 3, 2, 4},
        {"p 4.2857", 30000000, 500000, 2, 7, 4, 4},
        {"p 7.5, the tour's tie", 30000000, 500000, 2, 3, 2, 7},
        {"p 15 exactly", 30000000, 250000, 2, 3, 2, 15},
        {"p 65535.7: upper 65536 is sent as 0", 5242856, 10, 2, 3, 2, 0},
        {"p 131072.25: lower is cut to 16 bits before the comparison", 1048578, 1, 2, 3, 2, 1},
        {"p at 2^32 saturates", 0xFFFFFFFF, 1, 0, 0, 0, 0},
        {"a base clock of 0", 0, 500000, 2, 3, 2, 0},
        {"single precision, where double would round up", 36000000, 1714, 2, 2, 2, 3000},
        {"two divisions in order, not one", 66000000, 1043, 1, 2, 2, 10547},
    };
    open();
    EXPECT_EQ(tarvik::nearestPrescaler(30000000, 0, 8), 0) << "no division by a bit rate of 0";
    for (const Row& r : table) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(tarvik::nearestPrescaler(r.baseclock, r.bitrate, 1u + r.propseg + r.phase1 + r.phase2),
                  r.prescaler);
        vboard::can().setTiming({r.baseclock, 15, r.propseg, r.phase1, r.phase2, 9});
        tarvik_test::clearRecords();
        CANConfigureMode(1, 0, r.bitrate, 0, 0);
        const auto sent = requests();
        ASSERT_GE(sent.size(), 2u);
        EXPECT_EQ(sent[1], (Request{kSetTiming, timing(r.baseclock, r.prescaler, r.propseg, r.phase1,
                                                       r.phase2, 9)}))
            << "every field but the prescaler as the driver reported it";
        const Lines lines = vboard::debugLines();
        EXPECT_EQ(lines[5], "VELNA can prescaler: " + std::to_string(r.prescaler) + "\r\n");
    }
}

TEST_F(CanBitrate, ConfigureTimingSendsTheCallersValuesAsTheyAre) {
    open();
    runCases({
        {"the low 16 and 8 bits, no base clock", nullptr, [] { return CANConfigureTiming(1, 0x10006, 0x102, 3, 2, 0x1FF); },
         1, {"VELNA can set timing operate successful - Rout 0\r\n"},
         {{kSetTiming, timing(0, 6, 2, 3, 2, 0xFF)}}},
        {"a prescaler of 0 goes to the driver, which refuses it", nullptr,
         [] { return CANConfigureTiming(1, 0, 2, 3, 2, 0); }, 0,
         {"VELNA can set timing cannot operate successful - Rerr 87\r\n",
          "Can't Configure Can Timeout Port\r\n"},
         {{kSetTiming, timing(0, 0, 2, 3, 2, 0)}}},
    });
    const vboard::CanTiming kept = vboard::can().timing();
    EXPECT_EQ(kept.baseclock, vboard::kCanPowerOnBaseClock) << "the driver keeps its own clock";
    EXPECT_EQ(kept.prescaler, 6);
    EXPECT_EQ(kept.auxTiming, 0xFF);
}

TEST_F(CanFilters, TheIdentifierLimitFollowsTheModesFormat) {
    open();
    struct Row {
        uint32_t extendedId;  // given to CANConfigureMode; 0xFFFF: none called
        int32_t filterId;
        bool passes;
    };
    const Row table[] = {
        {0xFFFF, 2047, true},         {0xFFFF, 2048, false},       {0, 2047, true},
        {0, 2048, false},             {0, -1, true},               {0, INT32_MIN, true},
        {1, 0x1FFFFFFF, true},        {1, 0x20000000, false},      {1, 2048, true},
        {1, -1, true},                {0x100, 0x1FFFFFFF, true},   {0x100, INT32_MAX, false},
    };
    for (const Row& r : table) {
        SCOPED_TRACE("format " + std::to_string(r.extendedId) + " id " + std::to_string(r.filterId));
        vboard::can().reset();
        if (r.extendedId != 0xFFFF) {
            ASSERT_EQ(CANConfigureMode(1, r.extendedId, 500000, 0, 0), 1);
        }
        tarvik_test::clearRecords();
        const uint8_t result = CANConfigureFilter(1, r.filterId, 0x7F0, 1, 2);
        if (r.passes) {
            EXPECT_EQ(result, 1);
            EXPECT_EQ(vboard::debugLines(), (Lines{"VELNA can set filter operate successful - Rout 0\r\n"}));
            EXPECT_EQ(requests(), (std::vector<Request>{
                                      {kAddFilter, words({0, 0, uint32_t(r.filterId), 0x7F0, 0, 1, 1, 2})}}));
        } else {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(vboard::debugLines(), (Lines{"Unknown Filter ID\r\n"}));
            EXPECT_TRUE(requests().empty());
        }
    }
}

// The frame the last read received leaves its own format in the receive record; the filter's
// check still follows the mode.
TEST_F(CanFilters, TheIdentifierLimitIsTheModesNotTheLastFramesRead) {
    open();
    struct Row {
        uint32_t extendedId;  // given to CANConfigureMode
        const char* received;
        bool passes;          // CANConfigureFilter(1, 0x12345, ...)
    };
    const Row table[] = {{1, "123#01", true}, {0, "1ABCDEF0#01", false}};
    for (const Row& r : table) {
        SCOPED_TRACE(r.received);
        ASSERT_EQ(CANConfigureMode(1, r.extendedId, 500000, 0, 0), 1);
        ASSERT_TRUE(vboard::can().inject(*vboard::parseCanFrame(r.received)));
        uint8_t data[8] = {};
        ASSERT_EQ(CANRead(1, data, 8, nullptr), 1);
        vboard::clearDebug();
        EXPECT_EQ(CANConfigureFilter(1, 0x12345, 0x1FFFFFFF, 0, 0), r.passes ? 1 : 0);
        EXPECT_EQ(vboard::debugLines(),
                  r.passes ? Lines{"VELNA can set filter operate successful - Rout 0\r\n"}
                           : Lines{"Unknown Filter ID\r\n"});
        CANResetFilter(1);
    }
}

TEST_F(CanFilters, ResetRemovesTheLastFilterAddedAndAsksAgainWhenRepeated) {
    open();
    runCases({
        {"nothing added yet: no request, no line", nullptr, [] { return CANResetFilter(1); }, 0, {}, {}},
        {"a rejected add keeps no handle", nullptr, [] {
             armRejection(kAddFilter);
             const int result = CANConfigureFilter(1, 0x120, 0x7F0, 0, 0);
             vboard::clearFaults();
             SetLastError(0);
             return result;
         }, 0,
         {"VELNA can set filter cannot operate successful - Rerr 31\r\n",
          "Can't Configure Can Filter Port\r\n"},
         {{kAddFilter, words({0, 0, 0x120, 0x7F0, 0, 0, 1, 0})}}},
        {"still nothing to remove", nullptr, [] { return CANResetFilter(1); }, 0, {}, {}},
        {"first filter", nullptr, [] { return CANConfigureFilter(1, 0x120, 0x7F0, 0, 0); }, 1,
         {"VELNA can set filter operate successful - Rout 0\r\n"},
         {{kAddFilter, words({0, 0, 0x120, 0x7F0, 0, 0, 1, 0})}}},
        {"second filter, beside the first", nullptr, [] { return CANConfigureFilter(1, 0x300, 0x700, 0, 0); }, 1,
         {"VELNA can set filter operate successful - Rout 0\r\n"},
         {{kAddFilter, words({0, 0, 0x300, 0x700, 0, 0, 1, 0})}}},
        {"reset removes the second", nullptr, [] { return CANResetFilter(1); }, 1,
         {"VELNA can remove filter operate successful - Rout 0\r\n"},
         {{kRemoveFilter, words({2})}}},
        {"a second reset asks again, and the driver refuses", nullptr, [] { return CANResetFilter(1); }, 0,
         {"VELNA can remove filter cannot operate successful - Rerr 87\r\n",
          "Can't Remove Can Filter Port\r\n"},
         {{kRemoveFilter, words({2})}}},
    });
    const auto filters = vboard::can().filters();
    ASSERT_EQ(filters.size(), 1u) << "the first filter stays";
    EXPECT_EQ(filters[0].filterId, 0x120u);
    // Closing the open that added it releases it in the driver.
    CANClose(1);
    EXPECT_TRUE(vboard::can().filters().empty());
}

TEST_F(CanMessages, ConfigureFillsOneRecordAndGetReadsItBack) {
    EXPECT_EQ(CANConfigureMessage(1, 5, 0x321, 0xAB, 0xDEADBEEF, 1), 1);
    EXPECT_EQ(CANConfigureMessage(1, 0, 0x7FF, 0x01, 42, 0), 1);
    struct Row {
        uint8_t direction;
        uint32_t id, frameFlag;
        uint8_t auxByte;
        uint32_t auxValue, transmitFlag;
    };
    for (const Row& r : {Row{1, 0x321, 1, 0xAB, 0xDEADBEEF, 1}, Row{0x80, 0x321, 1, 0xAB, 0xDEADBEEF, 1},
                         Row{0, 0x7FF, 0, 0x01, 42, 0}}) {
        SCOPED_TRACE(static_cast<int>(r.direction));
        uint32_t id = 0, length = kUntouched, frameFlag = 0, auxValue = 0, transmitFlag = 9;
        uint8_t auxByte = 0;
        ASSERT_EQ(CANGetMessageParameter(1, &id, &length, &frameFlag, &auxByte, &auxValue,
                                         &transmitFlag, r.direction),
                  1);
        EXPECT_EQ(id, r.id);
        EXPECT_EQ(length, 0u);
        EXPECT_EQ(frameFlag, r.frameFlag) << "any non-zero frame flag is stored as 1";
        EXPECT_EQ(auxByte, r.auxByte);
        EXPECT_EQ(auxValue, r.auxValue);
        EXPECT_EQ(transmitFlag, r.transmitFlag);
    }
    // Direction 2 prepares the transmit record, but not as one that sends.
    ASSERT_EQ(CANConfigureMessage(1, 0, 0x100, 0, 0, 2), 1);
    uint32_t id = 0, transmitFlag = 9;
    ASSERT_EQ(CANGetMessageParameter(1, &id, nullptr, nullptr, nullptr, nullptr, &transmitFlag, 1), 1);
    EXPECT_EQ(id, 0x100u);
    EXPECT_EQ(transmitFlag, 0u);
    EXPECT_TRUE(vboard::debugLines().empty());
    EXPECT_TRUE(vboard::trace().empty() || requests().empty());
}

TEST_F(CanMessages, GetWritesOnlyThroughThePointersGiven) {
    ASSERT_EQ(CANConfigureMessage(1, 1, 0x55, 7, 8, 1), 1);
    uint32_t id = 0, length = kUntouched, frameFlag = kUntouched, auxValue = kUntouched,
             transmitFlag = kUntouched;
    uint8_t auxByte = 0xA5;
    EXPECT_EQ(CANGetMessageParameter(1, &id, nullptr, nullptr, nullptr, nullptr, nullptr, 1), 1);
    EXPECT_EQ(id, 0x55u);
    // Without the first pointer nothing is read at all.
    EXPECT_EQ(CANGetMessageParameter(1, nullptr, &length, &frameFlag, &auxByte, &auxValue,
                                     &transmitFlag, 1),
              0);
    for (uint32_t v : {length, frameFlag, auxValue, transmitFlag}) EXPECT_EQ(v, kUntouched);
    EXPECT_EQ(auxByte, 0xA5);
}

TEST_F(CanMessages, RecordsAndStatusWordsSurviveCloseAndReopen) {
    auto driver = scripted();
    ASSERT_EQ(CANConfigureMode(1, 1, 500000, 0, 0), 1);
    ASSERT_EQ(CANConfigureMessage(1, 0, 0x1ABCDEF0, 3, 4, 1), 1);
    driver->status = 5;
    const uint8_t data[2] = {1, 2};
    EXPECT_EQ(CANWrite(1, data, 2, nullptr), 0);
    CANClose(1);
    ASSERT_EQ(CANOpen(1), 1);
    uint32_t id = 0, length = 0;
    ASSERT_EQ(CANGetMessageParameter(1, &id, &length, nullptr, nullptr, nullptr, nullptr, 1), 1);
    EXPECT_EQ(id, 0x1ABCDEF0u);
    EXPECT_EQ(length, 2u);
    // The status word is the driver's alone: a driver that writes nothing leaves the 5 there.
    driver->status = 5;
    driver->during = [](tarvik::CanMessageRecord& m) { EXPECT_EQ(*m.status, 5u); };
    uint32_t seen = 0;
    EXPECT_EQ(CANWrite(1, data, 2, &seen), 0);
    EXPECT_EQ(seen, 5u);
    ASSERT_EQ(driver->messages.size(), 2u);
    EXPECT_EQ(driver->messages[1].extendedId, 1u) << "the format survives the reopen";
}

TEST_F(CanTransfers, TheRecordsHandedToTheDriverCarryEveryField) {
    auto driver = scripted();
    ASSERT_EQ(CANConfigureMode(1, 1, 500000, 0, 0), 1);
    ASSERT_EQ(CANConfigureMessage(1, 1, 0x1ABCDEF0, 3, 77, 1), 1);
    ASSERT_EQ(CANConfigureMessage(1, 0, 0x10, 4, 88, 0), 1);
    const uint8_t data[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    vboard::Bytes seen;
    driver->during = [&](tarvik::CanMessageRecord& m) { seen.assign(m.data, m.data + m.dataLength); };
    uint32_t st = kUntouched;
    ASSERT_EQ(CANWrite(1, data, 4, &st), 1);
    EXPECT_EQ(st, 0u);
    EXPECT_EQ(seen, (vboard::Bytes{0xDE, 0xAD, 0xBE, 0xEF}));
    uint8_t received[8];
    ASSERT_EQ(CANRead(1, received, 8, &st), 1);

    ASSERT_EQ(driver->messages.size(), 2u);
    EXPECT_EQ(driver->counts, (std::vector<uint32_t>{1, 1}));
    const tarvik::CanMessageRecord& tx = driver->messages[0];
    const tarvik::CanMessageRecord& rx = driver->messages[1];
    struct Field {
        const char* name;
        uint32_t tx, rx, txWanted, rxWanted;
    };
    const Field fields[] = {
        {"receiveFlag", tx.receiveFlag, rx.receiveFlag, 0, 1},
        {"extendedId", tx.extendedId, rx.extendedId, 1, 1},
        {"frameFlag", tx.frameFlag, rx.frameFlag, 1, 0},
        {"auxWord", tx.auxWord, rx.auxWord, 0, 0},
        {"auxByte", tx.auxByte, rx.auxByte, 3, 4},
        {"messageId", tx.messageId, rx.messageId, 0x1ABCDEF0, 0x10},
        {"dataLength", tx.dataLength, rx.dataLength, 4, 8},
        {"auxValue", tx.auxValue, rx.auxValue, 77, 88},
        {"transmitFlag", tx.transmitFlag, rx.transmitFlag, 1, 0},
        {"reserved", uint32_t(tx.reserved1[0] | tx.reserved1[1] | tx.reserved1[2] | tx.reserved2 |
                              tx.reserved3[0] | tx.reserved3[1]),
         uint32_t(rx.reserved1[0] | rx.reserved1[1] | rx.reserved1[2] | rx.reserved2 |
                  rx.reserved3[0] | rx.reserved3[1]),
         0, 0},
    };
    for (const Field& f : fields) {
        EXPECT_EQ(f.tx, f.txWanted) << "transmit " << f.name;
        EXPECT_EQ(f.rx, f.rxWanted) << "receive " << f.name;
    }
    EXPECT_NE(tx.status, nullptr);
    EXPECT_NE(rx.status, nullptr);
    EXPECT_NE(tx.status, rx.status) << "each direction has its status word";
    EXPECT_NE(rx.data, nullptr);
    EXPECT_NE(rx.data, received) << "the driver writes a buffer of the library's own";
}

TEST_F(CanTransfers, ANonZeroStatusFailsTheTransferAndIsStillHandedOut) {
    auto driver = scripted();
    uint8_t data[4] = {};
    struct Row {
        const char* what;
        uint32_t status;
        DWORD error;
        bool read;
        Lines lines;
    };
    const Row table[] = {
        {"read, status 5", 5, ERROR_SUCCESS, true,
         {"VELNA can transfer operate successful - Rout 0\r\n", "Can't Read Can data\r\n"}},
        {"write, status 5", 5, ERROR_SUCCESS, false,
         {"VELNA can transfer operate successful - Rout 0\r\n", "Can't Write Can data\r\n"}},
        {"read, request rejected", 0, ERROR_GEN_FAILURE, true,
         {"VELNA can transfer cannot operate successful - Rerr 31\r\n", "Can't Read Can data\r\n"}},
        {"write, request rejected", 0, ERROR_GEN_FAILURE, false,
         {"VELNA can transfer cannot operate successful - Rerr 31\r\n", "Can't Write Can data\r\n"}},
    };
    for (const Row& r : table) {
        SCOPED_TRACE(r.what);
        driver->status = r.status;
        driver->transferError = r.error;
        SetLastError(0);
        vboard::clearDebug();
        uint32_t st = kUntouched;
        EXPECT_EQ(r.read ? CANRead(1, data, 4, &st) : CANWrite(1, data, 4, &st), 0);
        EXPECT_EQ(st, r.status);
        EXPECT_EQ(vboard::debugLines(), r.lines);
    }
}

TEST_F(CanTransfers, TheLengthFieldIsTheLow16BitsButEveryByteIsCopied) {
    auto driver = scripted();
    std::vector<uint8_t> data(70000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 1);
    bool checked = false;
    driver->during = [&](tarvik::CanMessageRecord& m) {
        EXPECT_EQ(m.dataLength, 4464);
        EXPECT_EQ(std::memcmp(m.data, data.data(), data.size()), 0);
        checked = true;
    };
    EXPECT_EQ(CANWrite(1, data.data(), 70000, nullptr), 1);
    EXPECT_TRUE(checked);

    // A read hands back all 70000 bytes: what the driver wrote, then the buffer's zeros.
    driver->during = [](tarvik::CanMessageRecord& m) { std::memset(m.data, 0x5A, m.dataLength); };
    std::vector<uint8_t> received(70000, 0xAA);
    EXPECT_EQ(CANRead(1, received.data(), 70000, nullptr), 1);
    EXPECT_EQ(received[0], 0x5A);
    EXPECT_EQ(received[4463], 0x5A);
    EXPECT_EQ(received[4464], 0x00);
    EXPECT_EQ(received[69999], 0x00);
}

TEST_F(CanTransfers, LengthZeroIsSentAndANegativeLengthIsRefused) {
    open();
    ASSERT_EQ(CANConfigureMessage(1, 0, 0x123, 0, 0, 1), 1);
    const uint8_t data[1] = {0xFF};
    uint32_t st = kUntouched;
    runCases({
        {"length 0 sends a frame without data", nullptr, [&] { return CANWrite(1, data, 0, &st); }, 1,
         {"VELNA can transfer operate successful - Rout 0\r\n"}, {{kTransfer, {}}}},
    });
    EXPECT_EQ(st, 0u);
    st = kUntouched;
    runCases({
        {"a negative length", nullptr, [&] { return CANWrite(1, data, -1, &st); }, 0,
         {"Can't Write Can data\r\n"}, {}},
        {"INT32_MIN", nullptr, [&] { return CANWrite(1, data, INT32_MIN, &st); }, 0,
         {"Can't Write Can data\r\n"}, {}},
    });
    EXPECT_EQ(st, kUntouched);
    const auto sent = vboard::can().sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(vboard::formatCanFrame(sent[0]), "123#");
}

TEST_F(CanTransfers, AFailedReadHandsTheCallerZeros) {
    open();
    uint8_t received[6] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    uint32_t st = kUntouched;
    runCases({{"nothing waits", nullptr, [&] { return CANRead(1, received, 6, &st); }, 0,
               {"VELNA can transfer operate successful - Rout 0\r\n", "Can't Read Can data\r\n"},
               {{kTransfer, {}}}}});
    EXPECT_EQ(st, uint32_t{vboard::kCanStatusNoMessage});
    for (uint8_t b : received) EXPECT_EQ(b, 0);
}

TEST_F(CanTransfers, LoopbackBringsOurFramesBackThroughTheFilter) {
    open();
    ASSERT_EQ(CANConfigureMode(1, 0, 500000, 0, 1), 1);
    ASSERT_EQ(CANConfigureFilter(1, 0x120, 0x7F0, 0, 0), 1);
    ASSERT_EQ(CANConfigureMessage(1, 0, 0x123, 0, 0, 1), 1);
    ASSERT_EQ(CANConfigureMessage(1, 0, 0, 0, 0, 0), 1);
    const uint8_t frame[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    ASSERT_EQ(CANWrite(1, frame, 4, nullptr), 1);
    // 0x223 is on the bus too, but the filter keeps it out of our queue.
    ASSERT_EQ(CANConfigureMessage(1, 0, 0x223, 0, 0, 1), 1);
    ASSERT_EQ(CANWrite(1, frame, 2, nullptr), 1);
    EXPECT_EQ(vboard::can().sent().size(), 2u);
    EXPECT_EQ(vboard::can().pending(), 1u);

    uint8_t received[8] = {};
    uint32_t st = kUntouched;
    ASSERT_EQ(CANRead(1, received, 8, &st), 1);
    EXPECT_EQ(st, 0u);
    EXPECT_EQ(std::memcmp(received, frame, 4), 0);
    uint32_t id = 0, length = 0, remote = 9;
    ASSERT_EQ(CANGetMessageParameter(1, &id, &length, &remote, nullptr, nullptr, nullptr, 0), 1);
    EXPECT_EQ(id, 0x123u);
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(remote, 0u);
    EXPECT_EQ(CANRead(1, received, 8, &st), 0);
    EXPECT_EQ(st, uint32_t{vboard::kCanStatusNoMessage});
}

TEST_F(CanTransfers, FramesFromOtherNodesArriveWithTheirFormat) {
    open();
    ASSERT_EQ(CANConfigureMode(1, 0, 500000, 0, 0), 1);
    ASSERT_TRUE(vboard::can().inject(*vboard::parseCanFrame("1ABCDEF0#01")));
    ASSERT_TRUE(vboard::can().inject(*vboard::parseCanFrame("321#R2")));
    uint8_t received[8] = {};
    uint32_t id = 0, length = 0, remote = 0;
    ASSERT_EQ(CANRead(1, received, 8, nullptr), 1);
    ASSERT_EQ(CANGetMessageParameter(1, &id, &length, &remote, nullptr, nullptr, nullptr, 0), 1);
    EXPECT_EQ(id, 0x1ABCDEF0u);
    EXPECT_EQ(length, 1u);
    EXPECT_EQ(received[0], 0x01);
    ASSERT_EQ(CANRead(1, received, 8, nullptr), 1);
    ASSERT_EQ(CANGetMessageParameter(1, &id, &length, &remote, nullptr, nullptr, nullptr, 0), 1);
    EXPECT_EQ(id, 0x321u);
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(remote, 1u) << "a remote frame";
}

// src/i2c: the six I2C exports on the virtual board: the bus each one reaches, the exact requests
// and packets, the debug lines of every path through the shared transfer sequence, and the handles
// left behind.
#include <cstdlib>
#include <cstring>
#include <functional>

#include "Tarvik.h"
#include "i2c/i2c_records.h"
#include "library_test.h"
#include "test_support.h"

using tarvik_test::countOf;
using tarvik_test::expectHandlesBalanced;
using tarvik_test::expectNoMisuse;
using tarvik_test::Lines;
using tarvik_test::traceOf;
using vboard::Bytes;

// ---- A write buffer that cannot be had ----
// The test binary is linked with --wrap=malloc: the library's allocations come here, and one of
// a chosen size can be made to fail.
namespace {
size_t failAllocationOfSize = 0;
}
extern "C" void* __real_malloc(size_t size);
extern "C" void* __wrap_malloc(size_t size) {
    if (failAllocationOfSize != 0 && size == failAllocationOfSize) {
        failAllocationOfSize = 0;
        return nullptr;
    }
    return __real_malloc(size);
}

namespace {

constexpr DWORD kMasterMode = 0x002A2EE4, kConfirm = 0x002A2EE8, kFrequency = 0x002A2EF8,
                kTransfer = 0x002A2F04;

const char* const kMasterOk = "VELNA i2c master mode operate successful - Rout 1\r\n";
const char* const kMasterFailed = "VELNA i2c master mode cannot operate successful- Rerr 0\r\n";
const char* const kFrequencyOk = "VELNA i2c set frequency operate successful - Rout 1\r\n";
const char* const kFrequencyFailed = "VELNA i2c set frequency cannot operate successful- Rerr 0\r\n";
const char* const kWriteOk = "VELNA i2c write data operate successful - Rout 1\r\n";
const char* const kWriteFailed = "VELNA i2c write data cannot operate successful - Rerr 0\r\n";
const char* const kReadOk = "VELNA i2c read data operate successful - Rout 1\r\n";
const char* const kReadFailed = "VELNA i2c read data cannot operate successful - Rerr 0\r\n";

// The driver calls only, without the debug lines between them.
Lines driverCalls() { return vboard::driverTraceLines(); }

void fixTime(WORD hour, WORD minute, WORD second) {
    SYSTEMTIME time{2026, 12, 0, 8, hour, minute, second, 0};
    vboard::setSystemTime(time);
}

void armRejection(DWORD code, unsigned nth = 0) {
    vboard::armFault({"DeviceIoControl", "", code, nth, ERROR_GEN_FAILURE});
}

// Starts a case from a quiet board: no faults, no records, the time fixed at 11:22:33.
void freshCase() {
    vboard::clearFaults();
    fixTime(11, 22, 33);
    tarvik_test::clearRecords();
    vboard::i2cBus(0).clearTransfers();
}

// The slot a call leaves behind is empty: closing the bus afterwards closes nothing.
void expectSlotEmpty(uint32_t bus) {
    tarvik_test::clearRecords();
    I2CClose(bus);
    EXPECT_EQ(countOf("CloseHandle"), 0u) << "the slot still held a handle";
    EXPECT_TRUE(vboard::debugLines().empty());
}

// ---- The four transfers and their columns of lines ----

struct TransferExport {
    const char* name;
    bool reads;
    const char* time;  // printed with 12 22 33 for the fixed time of 11:22:33
    const char* slotEmpty;
    const char* invalidHandle;
    const char* configurationFailed;  // nullptr: it transfers anyway
    const char* failed;
    const char* done;
    // Calls the export on bus 0, device 0x50, register 0x10 with `length` bytes (1 for the
    // single-byte exports) from or into `data`.
    std::function<uint8_t(uint8_t* data, uint8_t length)> call;
};

const TransferExport kExports[] = {
    {"I2CRead", true, "Rin 12 22 33\r\n", "Handle invalid err\r\n", "Handle invalid err\r\n",
     "Handle invalid err\r\n", "Rerr\r\n", "RMout\r\n",
     [](uint8_t* data, uint8_t) { return I2CRead(0, 0, 0x50, 0x10, data); }},
    {"I2CReadMultipleBytes", true, "RMin 12 22 33\r\n", "Handle invalid err\r\n",
     "I2C Open Handle Error err\r\n", nullptr, "Rerr\r\n", "RMout\r\n",
     [](uint8_t* data, uint8_t length) { return I2CReadMultipleBytes(0, 0, 0x50, 0x10, length, data); }},
    {"I2CWrite", false, "Win 12 22 33\r\n", "Handle invalid err\r\n", "Handle invalid err\r\n",
     "I2C Open Handle Error err\r\n", "Werr\r\n", "Wout\r\n",
     [](uint8_t* data, uint8_t) { return I2CWrite(0, 0, 0x50, 0x10, data[0]); }},
    {"I2CWriteMultipleBytes", false, "WMin 12 22 33\r\n", "Handle err\r\n", "Handle invalid err\r\n",
     "I2C Open Handle Error err\r\n", "Werr\r\n", "Wout\r\n",
     [](uint8_t* data, uint8_t length) { return I2CWriteMultipleBytes(0, 0, 0x50, 0x10, length, data); }},
};

// What goes wrong, and the lines it prints before the export's own.
enum class Outcome { Done, DriverAbsent, MasterRefused, FrequencyRefused, ConfirmRefused, TransferRefused, Nak };

struct Scenario {
    const char* what;
    Outcome outcome;
    std::function<void()> arrange;
};

const Scenario kScenarios[] = {
    {"accepted", Outcome::Done, nullptr},
    {"driver absent", Outcome::DriverAbsent, [] { vboard::removeDriver("I2C2:"); }},
    {"master mode refused", Outcome::MasterRefused, [] { armRejection(kMasterMode); }},
    {"frequency refused", Outcome::FrequencyRefused, [] { armRejection(kFrequency); }},
    {"confirm refused", Outcome::ConfirmRefused, [] { armRejection(kConfirm); }},
    {"transfer refused", Outcome::TransferRefused, [] { armRejection(kTransfer); }},
    {"nobody at the address", Outcome::Nak, [] { vboard::i2cBus(0).detach(0x50); }},
};

struct Expected {
    int result;
    Lines lines;
    Lines requests;  // the request names, in order
};

Expected expectedFor(const TransferExport& e, Outcome outcome) {
    const char* dataOk = e.reads ? kReadOk : kWriteOk;
    const char* dataFailed = e.reads ? kReadFailed : kWriteFailed;
    const Lines configured = {e.time, kMasterOk, kFrequencyOk};
    const Lines allRequests = {"SET_MASTER_MODE", "SET_FREQUENCY", "CONFIRM", "TRANSFER"};
    auto plus = [](Lines lines, std::initializer_list<const char*> more) {
        lines.insert(lines.end(), more.begin(), more.end());
        return lines;
    };
    // A failed configuration step stops the transfer, except in I2CReadMultipleBytes.
    auto configurationFailed = [&](Lines lines, Lines sent) -> Expected {
        if (e.configurationFailed != nullptr) return {0, plus(lines, {e.configurationFailed}), sent};
        sent.push_back("TRANSFER");
        return {1, plus(lines, {dataOk, e.done}), sent};
    };
    switch (outcome) {
        case Outcome::Done: return {1, plus(configured, {dataOk, e.done}), allRequests};
        case Outcome::DriverAbsent:
            return {0, {e.time, "VELNA HANDLE ERROR: 2\r\n", e.invalidHandle}, {}};
        case Outcome::MasterRefused:
            return configurationFailed({e.time, kMasterFailed}, {"SET_MASTER_MODE"});
        case Outcome::FrequencyRefused:
            return configurationFailed({e.time, kMasterOk, kFrequencyFailed},
                                       {"SET_MASTER_MODE", "SET_FREQUENCY"});
        case Outcome::ConfirmRefused:
            // The confirm's failure prints nothing of its own.
            return configurationFailed(configured, {"SET_MASTER_MODE", "SET_FREQUENCY", "CONFIRM"});
        case Outcome::TransferRefused:
        case Outcome::Nak: return {0, plus(configured, {dataFailed, e.failed}), allRequests};
    }
    return {};
}

// The names of the I2C requests sent, in order ("SET_FREQUENCY 100000" reads "SET_FREQUENCY").
Lines requestNames() {
    Lines names;
    for (const auto& e : vboard::trace()) {
        if (e.function != "DeviceIoControl") continue;
        switch (e.code) {
            case kMasterMode: names.push_back("SET_MASTER_MODE"); break;
            case kFrequency: names.push_back("SET_FREQUENCY"); break;
            case kConfirm: names.push_back("CONFIRM"); break;
            case kTransfer: names.push_back("TRANSFER"); break;
            default: names.push_back("?"); break;
        }
    }
    return names;
}

}  // namespace

class I2cOpen : public tarvik_test::LibraryTest {};
class I2cTransfer : public tarvik_test::LibraryTest {};
class I2cHandles : public tarvik_test::LibraryTest {};

TEST_F(I2cOpen, OpensTheBusesDeviceAtTheCodesFrequency) {
    struct Case {
        uint32_t bus;
        uint32_t code;
        const char* device;
        Bytes frequency;  // as it arrives: a little-endian word
    } cases[] = {
        {0, 0, "I2C2:", {0xA0, 0x86, 0x01, 0x00}},  // 100000
        {1, 1, "I2C1:", {0x80, 0x1A, 0x06, 0x00}},  // 400000
        {2, 3, "I2C3:", {0x00, 0x6A, 0x18, 0x00}},  // 1600000
        {0, 4, "I2C2:", {0x00, 0x9F, 0x24, 0x00}},  // 2400000
        {1, 5, "I2C1:", {0x80, 0xEE, 0x36, 0x00}},  // 3600000
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.device) + " code " + std::to_string(c.code));
        freshCase();
        const size_t opensBefore = vboard::opens().size();
        EXPECT_EQ(I2COpen(c.bus, c.code), 1);
        EXPECT_EQ(vboard::debugLines(), (Lines{kMasterOk, kFrequencyOk}));
        const auto opens = vboard::opens();
        ASSERT_EQ(opens.size(), opensBefore + 1);
        const vboard::OpenRecord& open = opens.back();
        EXPECT_EQ(open.params.device, c.device);
        EXPECT_EQ(open.params.access, 0xC0000000u);
        EXPECT_EQ(open.params.share, 3u);
        EXPECT_EQ(open.params.creation, 3u);
        EXPECT_EQ(open.params.flags, 0u);
        EXPECT_FALSE(open.securityGiven || open.templateGiven);
        const auto trace = vboard::trace();
        std::vector<vboard::TraceEntry> requests;
        for (const auto& e : trace)
            if (e.function == "DeviceIoControl") requests.push_back(e);
        ASSERT_EQ(requests.size(), 3u);
        EXPECT_EQ(requests[0].code, kMasterMode);
        EXPECT_TRUE(requests[0].in.empty());
        EXPECT_EQ(requests[1].code, kFrequency);
        EXPECT_EQ(requests[1].in, c.frequency);
        EXPECT_EQ(requests[2].code, kConfirm);
        EXPECT_TRUE(requests[2].in.empty());
        EXPECT_EQ(requests[2].out.size(), 4u) << "the confirm has a word to answer in";
        EXPECT_EQ(vboard::openDriverHandles(c.device), 1u) << "the handle is kept for I2CClose";
        I2CClose(c.bus);
        EXPECT_EQ(vboard::openDriverHandles(), 0u);
    }
    expectNoMisuse();
}

TEST_F(I2cOpen, RefusesUnknownCodesBeforeUnknownBuses) {
    const char* freq = "VELNA i2c freq not supported\r\n";
    const char* port = "Can't Open I2c Port\r\n";
    struct Case {
        uint32_t bus;
        uint32_t code;
        const char* line;
    } cases[] = {{0, 2, freq}, {0, 6, freq}, {1, 0xFFFFFFFF, freq}, {7, 9, freq},
                 {7, 0, port}, {3, 1, port}, {0xFFFFFFFF, 0, port}};
    for (const Case& c : cases) {
        SCOPED_TRACE("bus " + std::to_string(c.bus) + " code " + std::to_string(c.code));
        freshCase();
        EXPECT_EQ(I2COpen(c.bus, c.code), 0);
        EXPECT_EQ(vboard::debugLines(), (Lines{c.line}));
        EXPECT_EQ(countOf("CreateFileW"), 0u);
    }
}

TEST_F(I2cOpen, AnOpenBusAnswersAtOnceUntilItIsClosed) {
    ASSERT_EQ(I2COpen(0, 0), 1);
    freshCase();
    EXPECT_EQ(I2COpen(0, 1), 1);
    EXPECT_TRUE(driverCalls().empty()) << "nothing is sent";
    EXPECT_TRUE(vboard::debugLines().empty());

    I2CClose(0);
    EXPECT_EQ(driverCalls(), (Lines{"CloseHandle h1 \"I2C2:\" -> ok"}));
    EXPECT_TRUE(vboard::debugLines().empty());
    freshCase();
    EXPECT_EQ(I2COpen(0, 1), 1);
    EXPECT_EQ(countOf("CreateFileW"), 1u) << "a closed bus is opened again";
    EXPECT_EQ(vboard::i2cBus(0).frequency(), 400000u);
    I2CClose(0);
    expectHandlesBalanced();
}

TEST_F(I2cOpen, CloseRefusesUnknownBusesAndIgnoresClosedOnes) {
    I2CClose(3);
    EXPECT_EQ(vboard::debugLines(), (Lines{"Can't Close I2c Port\r\n"}));
    vboard::clearDebug();
    for (uint32_t bus = 0; bus < 3; ++bus) I2CClose(bus);
    EXPECT_TRUE(vboard::debugLines().empty());
    EXPECT_TRUE(driverCalls().empty());
}

TEST_F(I2cOpen, AFailedConfigurationKeepsTheHandleForClose) {
    struct Case {
        const char* what;
        DWORD refused;
        Lines lines;
    } cases[] = {
        {"master mode", kMasterMode, {kMasterFailed}},
        {"frequency", kFrequency, {kMasterOk, kFrequencyFailed}},
        {"confirm: no line of its own", kConfirm, {kMasterOk, kFrequencyOk}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        freshCase();
        armRejection(c.refused);
        EXPECT_EQ(I2COpen(2, 0), 0);
        EXPECT_EQ(vboard::debugLines(), c.lines);
        EXPECT_EQ(vboard::openDriverHandles("I2C3:"), 1u);
        I2CClose(2);
        EXPECT_EQ(vboard::openDriverHandles(), 0u);
        expectHandlesBalanced();
    }
    expectNoMisuse();
}

// A failed open leaves no handle: closing the bus closes nothing, and opening it again tries
// the driver again rather than answering that the bus is open.
TEST_F(I2cOpen, AFailedOpenIsTriedAgainAndNeverClosed) {
    vboard::armFault({"CreateFileW", "I2C1:", std::nullopt, 1, ERROR_FILE_NOT_FOUND});
    EXPECT_EQ(I2COpen(1, 0), 0);
    EXPECT_EQ(vboard::debugLines(), (Lines{"VELNA HANDLE ERROR: 2\r\n"}));
    EXPECT_EQ(I2COpen(1, 0), 1);
    EXPECT_EQ(countOf("CreateFileW"), 2u);
    I2CClose(1);

    vboard::armFault({"CreateFileW", "I2C1:", std::nullopt, 0, ERROR_FILE_NOT_FOUND});
    EXPECT_EQ(I2COpen(1, 0), 0);
    I2CClose(1);
    expectHandlesBalanced();
    expectNoMisuse();
}

TEST_F(I2cTransfer, EveryPathPrintsItsFunctionsLines) {
    for (const TransferExport& e : kExports) {
        for (const Scenario& s : kScenarios) {
            SCOPED_TRACE(std::string(e.name) + ", " + s.what);
            vboard::reset();
            tarvik_test::freshLibrary();
            freshCase();
            if (s.arrange) s.arrange();
            uint8_t data[1] = {0xAB};
            const Expected expected = expectedFor(e, s.outcome);
            EXPECT_EQ(e.call(data, 1), expected.result);
            EXPECT_EQ(vboard::debugLines(), expected.lines);
            EXPECT_EQ(requestNames(), expected.requests);
            expectHandlesBalanced();
            expectSlotEmpty(0);
            expectNoMisuse();
        }
    }
}

TEST_F(I2cTransfer, UnknownBusesPrintOnlyTheTimeLine) {
    fixTime(23, 59, 58);
    uint8_t byte = 0;
    EXPECT_EQ(I2CRead(5, 0, 0x50, 0, &byte), 0);
    EXPECT_EQ(I2CReadMultipleBytes(3, 0, 0x50, 0, 1, &byte), 0);
    EXPECT_EQ(I2CWrite(0xFFFFFFFF, 0, 0x50, 0, 1), 0);
    EXPECT_EQ(I2CWriteMultipleBytes(3, 0, 0x50, 0, 1, &byte), 0);
    // The clock's hour 23 is printed as 24.
    EXPECT_EQ(vboard::debugLines(),
              (Lines{"Rin 24 59 58\r\n", "RMin 24 59 58\r\n", "Win 24 59 58\r\n", "WMin 24 59 58\r\n"}));
    EXPECT_EQ(countOf("CreateFileW"), 0u);
    EXPECT_EQ(countOf("GetSystemTime"), 4u);
}

TEST_F(I2cTransfer, SendsTheRegisterPrefixAndTheDataAsPackets) {
    vboard::i2cBus(0).attach(0xA0, std::make_shared<vboard::I2cEeprom>(256));
    // A part with 256-byte pages takes the 255 bytes in one write; the board's own part, with
    // 64-byte pages, would wrap them within the first page, as the real one does.
    vboard::i2cBus(0).attach(0x50, std::make_shared<vboard::I2cEeprom>(
                                       vboard::I2cEeprom::Config{32768, 256, 0}));
    Bytes block255(255);
    for (size_t i = 0; i < block255.size(); ++i) block255[i] = static_cast<uint8_t>(i);
    Bytes received(255);
    Bytes sent257(257, 0x00);
    sent257[0] = 0x30;
    std::memcpy(sent257.data() + 2, block255.data(), block255.size());
    struct Case {
        const char* what;
        std::function<uint8_t()> call;
        std::vector<vboard::I2cPacketRecord> packets;  // read packets: the length in data.size()
    } cases[] = {
        {"one byte written; the frequency code does not matter",
         [] { return I2CWrite(0, 1, 0x50, 0x10, 0xAB); }, {{0x50, false, {0x10, 0x00, 0xAB}, true}}},
        {"an 8-bit address goes out unchanged",
         [] { return I2CWrite(0, 0, 0xA0, 0x01, 0x5A); }, {{0xA0, false, {0x01, 0x00, 0x5A}, true}}},
        {"no bytes: the prefix alone",
         [] { return I2CWriteMultipleBytes(0, 0, 0x50, 0x22, 0, nullptr); },
         {{0x50, false, {0x22, 0x00}, true}}},
        {"255 bytes: 257 on the wire",
         [&] { return I2CWriteMultipleBytes(0, 0, 0x50, 0x30, 255, block255.data()); },
         {{0x50, false, sent257, true}}},
        {"one byte read", [&] { return I2CRead(0, 0, 0xA0, 0x00, received.data()); },
         {{0xA0, false, {0x00, 0x00}, true}, {0xA0, true, Bytes(1), true}}},
        {"an empty read still sends the prefix",
         [] { return I2CReadMultipleBytes(0, 0, 0x50, 0x40, 0, nullptr); },
         {{0x50, false, {0x40, 0x00}, true}, {0x50, true, Bytes(), true}}},
        {"255 bytes read", [&] { return I2CReadMultipleBytes(0, 0, 0x50, 0x30, 255, received.data()); },
         {{0x50, false, {0x30, 0x00}, true}, {0x50, true, Bytes(255), true}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        freshCase();
        vboard::i2cBus(0).clearTransfers();
        EXPECT_EQ(c.call(), 1);
        const auto transfers = vboard::i2cBus(0).transfers();
        ASSERT_EQ(transfers.size(), 1u) << "one transfer request";
        const auto& packets = transfers[0].packets;
        ASSERT_EQ(packets.size(), c.packets.size());
        for (size_t i = 0; i < packets.size(); ++i) {
            EXPECT_EQ(packets[i].address, c.packets[i].address);
            EXPECT_EQ(packets[i].read, c.packets[i].read);
            if (c.packets[i].read)
                EXPECT_EQ(packets[i].data.size(), c.packets[i].data.size());
            else
                EXPECT_EQ(packets[i].data, c.packets[i].data);
        }
        // Whatever the frequency code, a transfer runs at 100 kHz.
        EXPECT_EQ(vboard::i2cBus(0).frequency(), 100000u);
        // The block as the driver gets it: the packets, then their count.
        for (const auto& entry : vboard::trace()) {
            if (entry.code != kTransfer) continue;
            ASSERT_EQ(entry.in.size(), sizeof(tarvik::I2cTransferBlock));
            int32_t count;
            std::memcpy(&count, entry.in.data() + offsetof(tarvik::I2cTransferBlock, packetCount),
                        sizeof count);
            EXPECT_EQ(static_cast<size_t>(count), c.packets.size());
        }
    }
    EXPECT_EQ(received, block255) << "the 255 bytes came back";
    expectHandlesBalanced();
}

TEST_F(I2cTransfer, BytesGoRoundTripThroughTheEeprom) {
    const Bytes message = {0xDE, 0xAD, 0xBE, 0xEF, 0x01};
    EXPECT_EQ(I2CWriteMultipleBytes(0, 0, 0x50, 0x12, 5, message.data()), 1);
    EXPECT_EQ(I2CWrite(0, 0, 0x50, 0x13, 0x77), 1);
    Bytes back(5);
    EXPECT_EQ(I2CReadMultipleBytes(0, 0, 0x50, 0x12, 5, back.data()), 1);
    EXPECT_EQ(back, message) << "register 0x13 is EEPROM address 0x1300, not 0x1201";
    uint8_t single = 0;
    EXPECT_EQ(I2CRead(0, 0, 0x50, 0x13, &single), 1);
    EXPECT_EQ(single, 0x77);

    // The register number is the high byte of the EEPROM's address, the 0x00 its low byte.
    const Bytes contents = vboard::i2cDevice<vboard::I2cEeprom>(0, 0x50)->contents();
    EXPECT_EQ(Bytes(contents.begin() + 0x1200, contents.begin() + 0x1205), message);
    EXPECT_EQ(contents[0x1300], 0x77);

    // Contents preloaded by the board's configuration read back the same way.
    ASSERT_TRUE(vboard::applyConfigLine("i2c fill 0 0x50 0x4000 c0 ff ee").empty());
    Bytes preloaded(3);
    EXPECT_EQ(I2CReadMultipleBytes(0, 0, 0x50, 0x40, 3, preloaded.data()), 1);
    EXPECT_EQ(preloaded, (Bytes{0xC0, 0xFF, 0xEE}));

    // The sensor on bus 2 reads 25.0 degC in its first two registers.
    Bytes temperature(2);
    EXPECT_EQ(I2CReadMultipleBytes(2, 0, 0x48, 0x00, 2, temperature.data()), 1);
    EXPECT_EQ(temperature, (Bytes{0x19, 0x00}));
    expectHandlesBalanced();
}

TEST_F(I2cTransfer, ANakLeavesTheDestinationAlone) {
    uint8_t bytes[3] = {1, 2, 3};
    EXPECT_EQ(I2CReadMultipleBytes(1, 0, 0x50, 0x00, 3, bytes), 0);
    EXPECT_EQ(bytes[0] + bytes[1] + bytes[2], 6);
    EXPECT_EQ(traceOf("DeviceIoControl").back(), "I2C1: TRANSFER [W 0x50: 00 00][R 0x50: 3 bytes] -> error 1117");
}

// Nothing can be read into or written from nowhere: a null pointer with bytes to move fails
// with the function's failure line and never reaches the bus. With no bytes it is harmless.
TEST_F(I2cTransfer, ANullBufferWithBytesToMoveIsRefusedBeforeTheBus) {
    struct Case {
        const char* what;
        std::function<uint8_t()> call;
        Lines lines;
    } cases[] = {
        {"I2CRead", [] { return I2CRead(0, 0, 0x50, 0, nullptr); }, {"Rin 12 22 33\r\n", "Rerr\r\n"}},
        {"I2CReadMultipleBytes", [] { return I2CReadMultipleBytes(0, 0, 0x50, 0, 4, nullptr); },
         {"RMin 12 22 33\r\n", "Rerr\r\n"}},
        {"I2CWriteMultipleBytes", [] { return I2CWriteMultipleBytes(0, 0, 0x50, 0, 4, nullptr); },
         {"WMin 12 22 33\r\n", "Werr\r\n"}},
    };
    ASSERT_EQ(I2COpen(0, 0), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        freshCase();
        EXPECT_EQ(c.call(), 0);
        EXPECT_EQ(vboard::debugLines(), c.lines);
        EXPECT_TRUE(driverCalls().empty());
    }
    EXPECT_EQ(vboard::openDriverHandles("I2C2:"), 1u) << "the bus I2COpen opened is left as it was";
    I2CClose(0);

    freshCase();
    EXPECT_EQ(I2CWriteMultipleBytes(0, 0, 0x50, 0x22, 0, nullptr), 1);
    EXPECT_EQ(I2CReadMultipleBytes(0, 0, 0x50, 0x22, 0, nullptr), 1);
    EXPECT_EQ(vboard::i2cBus(0).transfers().size(), 2u);
    expectHandlesBalanced();
    expectNoMisuse();
}

TEST_F(I2cTransfer, AWriteBufferThatCannotBeHadSendsNothing) {
    const uint8_t data[4] = {1, 2, 3, 4};
    freshCase();
    failAllocationOfSize = 6;  // four bytes and the register prefix
    EXPECT_EQ(I2CWriteMultipleBytes(0, 0, 0x50, 0x10, 4, data), 0);
    failAllocationOfSize = 0;
    EXPECT_EQ(vboard::debugLines(),
              (Lines{"WMin 12 22 33\r\n", kMasterOk, kFrequencyOk, kWriteFailed, "Werr\r\n"}));
    EXPECT_EQ(requestNames(), (Lines{"SET_MASTER_MODE", "SET_FREQUENCY", "CONFIRM"}));
    expectHandlesBalanced();
    expectSlotEmpty(0);
}

TEST_F(I2cHandles, ATransferClosesTheHandleI2COpenKeptBeforeOpeningItsOwn) {
    ASSERT_EQ(I2COpen(0, 1), 1);
    freshCase();
    EXPECT_EQ(I2CWrite(0, 0, 0x50, 0x10, 0xAB), 1);
    EXPECT_EQ(driverCalls(),
              (Lines{"CloseHandle h1 \"I2C2:\" -> ok",
                     "CreateFileW \"I2C2:\" access 0xC0000000 share 3 creation 3 flags 0x0 -> h2",
                     "I2C2: SET_MASTER_MODE -> ok", "I2C2: SET_FREQUENCY 100000 -> ok",
                     "I2C2: CONFIRM word 1 -> ok", "I2C2: TRANSFER [W 0x50: 10 00 AB] -> ok",
                     "CloseHandle h2 \"I2C2:\" -> ok"}));
    EXPECT_EQ(vboard::openDriverHandles(), 0u);
    expectSlotEmpty(0);
    // A bus whose open failed is tried again by the next transfer; nothing is closed for it.
    vboard::armFault({"CreateFileW", "I2C3:", std::nullopt, 1, ERROR_FILE_NOT_FOUND});
    EXPECT_EQ(I2COpen(2, 0), 0);
    freshCase();
    uint8_t byte = 0;
    EXPECT_EQ(I2CRead(2, 0, 0x48, 0x00, &byte), 1);
    EXPECT_EQ(byte, 0x19);
    EXPECT_EQ(countOf("CloseHandle"), 1u);
    expectHandlesBalanced();
    expectNoMisuse();
}

TEST_F(I2cHandles, BusesKeepTheirOwnSlots) {
    ASSERT_EQ(I2COpen(0, 0), 1);
    ASSERT_EQ(I2COpen(1, 0), 1);
    ASSERT_EQ(I2COpen(2, 0), 1);
    EXPECT_EQ(vboard::openDriverHandles("I2C1:"), 1u);
    EXPECT_EQ(vboard::openDriverHandles("I2C2:"), 1u);
    EXPECT_EQ(vboard::openDriverHandles("I2C3:"), 1u);
    uint8_t byte = 0;
    EXPECT_EQ(I2CRead(2, 0, 0x48, 0x00, &byte), 1);
    EXPECT_EQ(vboard::openDriverHandles("I2C3:"), 0u) << "the transfer took bus 2's handle";
    EXPECT_EQ(vboard::openDriverHandles(), 2u);
    I2CClose(0);
    I2CClose(1);
    I2CClose(2);
    expectHandlesBalanced();
    expectNoMisuse();
}

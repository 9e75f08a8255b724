// src/spi: the four SPI exports on the virtual board: port and handle checks, the exact exchange
// record and bus configuration the driver reads, the refusal lines and their order, the shared
// completion event's lifetime, and whole exchanges with the board's flash and loopback.
#include <cstring>
#include <functional>
#include <thread>

#include "Tarvik.h"
#include "library_test.h"
#include "spi/spi_records.h"
#include "test_support.h"

using tarvik_test::countOf;
using tarvik_test::Lines;
using tarvik_test::traceOf;
using vboard::Bytes;

namespace {

constexpr DWORD kExchange = 0x2A2F58;
const std::string kTime = "WMin 13 34 56\r\n";  // the fixed time below, hour one higher
const std::string kExchangeFailed = "SPI Exchange cannot operate successful - Werr\r\n";
const std::string kExchanged = "SPI Exchange operate successful - Wout\r\n";

std::string exchangeLine(DWORD lastError) {
    return "VELNA spi exchange data operate successful - Rout " + std::to_string(lastError) + "\r\n";
}
std::string initLine(DWORD lastError) {
    return "VELNA spi init operate successful - Rout " + std::to_string(lastError) + "\r\n";
}

// The exchange records the library sent, as it laid them out.
std::vector<tarvik::SpiExchangeRecord> sentRecords() {
    std::vector<tarvik::SpiExchangeRecord> records;
    for (const auto& e : vboard::trace()) {
        if (e.function != "DeviceIoControl" || e.code != kExchange) continue;
        EXPECT_EQ(e.in.size(), sizeof(tarvik::SpiExchangeRecord));
        EXPECT_TRUE(e.out.empty());
        tarvik::SpiExchangeRecord record{};
        std::memcpy(&record, e.in.data(), std::min(e.in.size(), sizeof record));
        records.push_back(record);
    }
    return records;
}

// The 32 bytes of a bus configuration, as the driver reads them.
Bytes busConfig(uint8_t chipSelect, uint32_t frequency, int32_t bitCount, uint32_t polarity,
                uint32_t phase, uint32_t configByte) {
    Bytes bytes(32, 0);
    auto put = [&](size_t offset, uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    bytes[0] = chipSelect;
    put(4, frequency);
    put(8, static_cast<uint32_t>(bitCount));
    put(16, polarity);
    put(20, phase);
    put(28, configByte);
    return bytes;
}

std::vector<vboard::HandleInfo> openEvents() {
    std::vector<vboard::HandleInfo> events;
    for (const auto& h : vboard::openHandles())
        if (h.kind == "event") events.push_back(h);
    return events;
}

class SpiTest : public tarvik_test::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        vboard::setSystemTime(SYSTEMTIME{2026, 12, 2, 8, 12, 34, 56, 0});
    }
    // Both ports open in mode 0 at 1 MHz: port 1's configuration found the event port 0's made.
    static void openAndConfigureBoth() {
        ASSERT_EQ(SPIOpen(0), 1);
        ASSERT_EQ(SPIOpen(1), 1);
        ASSERT_EQ(SPIConfigure(0, 0, 1000000, 0), 1);
        ASSERT_EQ(SPIConfigure(1, 0, 1000000, 0), 1);
    }
    // Starts the part of a test whose lines and trace are checked.
    static void mark() { tarvik_test::clearRecords(); }
    uint8_t tx[512] = {};
    uint8_t rx[512] = {};
};

class SpiPorts : public SpiTest {};
class SpiConfigure : public SpiTest {};
class SpiExchange : public SpiTest {};
class SpiEvent : public SpiTest {};

}  // namespace

// ---- Ports and handles ----

TEST_F(SpiPorts, OpenReachesEachPortsDriverOnceAndRefusesOtherPorts) {
    EXPECT_EQ(SPIOpen(2), 0);
    EXPECT_EQ(vboard::debugLines(), Lines{"Can't Open Spi Port\r\n"});
    EXPECT_EQ(SPIOpen(0), 1);
    EXPECT_EQ(SPIOpen(0), 1);
    EXPECT_EQ(SPIOpen(1), 1);
    const auto opens = vboard::opens();
    ASSERT_EQ(opens.size(), 2u);
    const char* names[] = {"SPI1:", "SPI2:"};
    for (size_t i = 0; i < opens.size(); ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(opens[i].params.device, names[i]);
        EXPECT_EQ(opens[i].params.access, 0xC0000000u);
        EXPECT_EQ(opens[i].params.share, 3u);
        EXPECT_EQ(opens[i].params.creation, 3u);
        EXPECT_EQ(opens[i].params.flags, 0x10000000u);
        EXPECT_FALSE(opens[i].securityGiven);
        EXPECT_FALSE(opens[i].templateGiven);
    }
    EXPECT_EQ(vboard::debugLines().size(), 1u);  // opening prints nothing
    EXPECT_EQ(vboard::openDriverHandles("SPI1:"), 1u);
    EXPECT_EQ(vboard::openDriverHandles("SPI2:"), 1u);
    SPIClose(0);
    SPIClose(1);
}

TEST_F(SpiPorts, RefusalsOfUnknownPortsAndEmptySlots) {
    struct Case {
        const char* what;
        std::function<int()> call;
        int result;
        Lines lines;
    };
    const Case cases[] = {
        {"close port 2", [] { SPIClose(2); return -1; }, -1, {"Can't Close Spi Port\r\n"}},
        {"close a port never opened", [] { SPIClose(0); return -1; }, -1, {}},
        {"configure port 2", [] { return SPIConfigure(2, 0, 1000000, 0); }, 0,
         {"Can't Open Spi Event\r\n"}},
        {"exchange on port 2", [this] { return SPIExchange(2, 8, tx, rx); }, 0, {kTime}},
        {"exchange on a port never opened", [this] { return SPIExchange(1, 8, tx, rx); }, 0,
         {kTime, "Handle err\r\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        mark();
        EXPECT_EQ(c.call(), c.result);
        EXPECT_EQ(vboard::debugLines(), c.lines);
        EXPECT_EQ(countOf("CreateFileW") + countOf("CreateEventW") + countOf("DeviceIoControl") +
                      countOf("CloseHandle"),
                  0u);
    }
}

TEST_F(SpiPorts, AFailedOpenIsKeptUntilCloseAndIsNeverClosedAsAHandle) {
    vboard::armFault({"CreateFileW", "SPI1:", std::nullopt, 1, ERROR_FILE_NOT_FOUND});
    EXPECT_EQ(SPIOpen(0), 0);
    EXPECT_EQ(vboard::debugLines(), Lines{"VELNA HANDLE ERROR: 2\r\n"});
    mark();
    EXPECT_EQ(SPIOpen(0), 1);  // the slot holds INVALID_HANDLE_VALUE: no second try
    EXPECT_EQ(SPIExchange(0, 8, tx, rx), 0);
    EXPECT_EQ(vboard::debugLines(), (Lines{kTime, "Handle invalid err\r\n"}));
    EXPECT_EQ(countOf("CreateFileW"), 0u);
    EXPECT_EQ(countOf("DeviceIoControl"), 0u);

    // Closing forgets the failed open without closing INVALID_HANDLE_VALUE; opening tries again.
    ASSERT_EQ(SPIConfigure(0, 0, 1000000, 0), 1);
    mark();
    SPIClose(0);
    EXPECT_EQ(traceOf("CloseHandle"), Lines{"CloseHandle h1 \"SPI_EVENT\" -> ok"});
    EXPECT_EQ(SPIOpen(0), 1);
    EXPECT_EQ(vboard::openDriverHandles("SPI1:"), 1u);
    SPIClose(0);
    EXPECT_TRUE(vboard::openHandles().empty());
}

// ---- Configuration ----

TEST_F(SpiConfigure, TheModeTableChipSelectsAndConfigurationByteReachTheDriver) {
    struct Case {
        uint32_t port, mode, frequency, configByte;
        Bytes seen;
    };
    const Case cases[] = {
        {0, 0, 1000000, 0x00, busConfig(2, 1000000, 8, 0, 0, 0x00)},
        {0, 1, 2000000, 0x5A, busConfig(2, 2000000, 8, 0, 1, 0x5A)},
        {1, 2, 250000, 0x80, busConfig(0, 250000, 8, 1, 0, 0x80)},
        {1, 3, 20000000, 0x1FF, busConfig(0, 20000000, 8, 1, 1, 0xFF)},
        {0, 3, 1, 0xFFFFFF01, busConfig(2, 1, 8, 1, 1, 0x01)},
    };
    ASSERT_EQ(SPIOpen(0), 1);
    ASSERT_EQ(SPIOpen(1), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE("port " + std::to_string(c.port) + " mode " + std::to_string(c.mode));
        EXPECT_EQ(SPIConfigure(c.port, c.mode, c.frequency, c.configByte), 1);
        EXPECT_EQ(SPIExchange(c.port, 8, tx, rx), 1);
        ASSERT_FALSE(vboard::spi().exchanges().empty());
        EXPECT_EQ(vboard::spi().exchanges().back().busConfig, c.seen);
    }
    SPIClose(0);
    SPIClose(1);
}

TEST_F(SpiConfigure, AModeAbove3IsRefusedAfterTheFrequencyIsStored) {
    ASSERT_EQ(SPIOpen(0), 1);
    ASSERT_EQ(SPIConfigure(0, 2, 1000000, 7), 1);
    mark();
    EXPECT_EQ(SPIConfigure(0, 4, 3000000, 9), 0);
    EXPECT_EQ(vboard::debugLines(), Lines{"Can't Open Spi Event\r\n"});
    EXPECT_EQ(countOf("CreateEventW"), 0u);
    ASSERT_EQ(SPIExchange(0, 16, tx, rx), 1);
    EXPECT_EQ(vboard::spi().exchanges().back().busConfig, busConfig(2, 3000000, 16, 1, 0, 7));
    SPIClose(0);
}

TEST_F(SpiConfigure, TheSuccessLinePrintsWhetherTheEventAlreadyExisted) {
    EXPECT_EQ(SPIConfigure(0, 0, 1000000, 0), 1);
    EXPECT_EQ(SPIConfigure(1, 0, 1000000, 0), 1);
    EXPECT_EQ(SPIConfigure(0, 1, 1000000, 0), 1);
    EXPECT_EQ(vboard::debugLines(), (Lines{initLine(0), initLine(183), initLine(183)}));
    // Each configuration replaces the handle: one stays open, on the one event.
    ASSERT_EQ(openEvents().size(), 1u);
    EXPECT_EQ(openEvents()[0].name, "SPI_EVENT");
    EXPECT_EQ(traceOf("CreateEventW"),
              (Lines{"CreateEventW \"SPI_EVENT\" auto reset -> h1",
                     "CreateEventW \"SPI_EVENT\" auto reset -> h2 (existing)",
                     "CreateEventW \"SPI_EVENT\" auto reset -> h3 (existing)"}));
    EXPECT_EQ(traceOf("CloseHandle"), (Lines{"CloseHandle h1 \"SPI_EVENT\" -> ok",
                                             "CloseHandle h2 \"SPI_EVENT\" -> ok"}));
}

TEST_F(SpiConfigure, AnEventThatCannotBeCreatedIsReportedWithTheError) {
    ASSERT_EQ(SPIConfigure(0, 0, 1000000, 0), 1);
    mark();
    vboard::armFault({"CreateEventW", "", std::nullopt, 0, ERROR_NOT_ENOUGH_MEMORY});
    EXPECT_EQ(SPIConfigure(1, 0, 1000000, 0), 0);
    EXPECT_EQ(vboard::debugLines(), (Lines{"VELNA spi init cannot operate successful- Rerr 8\r\n",
                                           "Can't Open Spi Event\r\n"}));
    // The handle the failure replaced is closed, not lost; no event is left to wait on.
    EXPECT_TRUE(openEvents().empty());
    vboard::clearFaults();
    ASSERT_EQ(SPIOpen(0), 1);
    mark();
    EXPECT_EQ(SPIExchange(0, 8, tx, rx), 1);
    EXPECT_EQ(countOf("WaitForSingleObject"), 0u);
    SPIClose(0);
}

// ---- Exchanges ----

TEST_F(SpiExchange, TheRecordCarriesTheBitsWordsBuffersAndEventName) {
    struct Case {
        int32_t bits;
        uint32_t words;
        bool accepted;  // the board's driver refuses a length below 1
    };
    const Case cases[] = {{1, 1, true},    {8, 1, true},     {32, 1, true},  {33, 2, true},
                          {4096, 128, true}, {-1, 1, false}, {-32, 4294967295u, false},
                          {-33, 0, false}};
    ASSERT_EQ(SPIOpen(0), 1);
    ASSERT_EQ(SPIConfigure(0, 0, 1000000, 0), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits");
        mark();
        EXPECT_EQ(SPIExchange(0, c.bits, tx, rx), c.accepted ? 1 : 0);
        const auto records = sentRecords();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].txBuffer, tx);
        EXPECT_EQ(records[0].rxBuffer, rx);
        EXPECT_EQ(records[0].wordCount, c.words);
        EXPECT_EQ(records[0].eventNameTag, 4u);
        // What the driver read through the record's other pointers: the port's bus
        // configuration (below) and the completion event's name.
        EXPECT_EQ(vboard::spi().exchanges().back().eventName, "SPI_EVENT");
        EXPECT_EQ(vboard::spi().exchanges().back().bus.bitCount, c.bits);
        EXPECT_EQ(vboard::spi().exchanges().back().busConfig, busConfig(2, 1000000, c.bits, 0, 0, 0));
        if (c.accepted) {
            EXPECT_EQ(vboard::debugLines(), (Lines{kTime, exchangeLine(0), kExchanged}));
            EXPECT_EQ(traceOf("WaitForSingleObject"),
                      Lines{"WaitForSingleObject h2 INFINITE -> WAIT_OBJECT_0"});
        } else {
            EXPECT_EQ(vboard::debugLines(),
                      (Lines{kTime, "VELNA spi exchange data cannot operate successful - Rerr 87\r\n",
                             kExchangeFailed}));
            EXPECT_EQ(countOf("WaitForSingleObject"), 0u);
        }
    }
    SPIClose(0);
}

TEST_F(SpiExchange, MissingBuffersAndAZeroLengthAreRefusedInThatOrder) {
    struct Case {
        const char* what;
        bool tx, rx;
        int32_t bits;
        std::string line;
    };
    const Case cases[] = {
        {"no buffers", false, false, 8, "SPI output data buffer error - Werr\r\n"},
        {"no tx buffer, zero length", false, true, 0, "SPI output data buffer error - Werr\r\n"},
        {"no rx buffer", true, false, 8, "SPI input data buffer error - Werr\r\n"},
        {"no rx buffer, zero length", true, false, 0, "SPI input data buffer error - Werr\r\n"},
        {"zero length", true, true, 0, "VELNA SPI Data Length: 0 - Werr\r\n"},
    };
    ASSERT_EQ(SPIOpen(1), 1);
    ASSERT_EQ(SPIConfigure(1, 0, 1000000, 0), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        mark();
        EXPECT_EQ(SPIExchange(1, c.bits, c.tx ? tx : nullptr, c.rx ? rx : nullptr), 0);
        EXPECT_EQ(vboard::debugLines(), (Lines{kTime, c.line, kExchangeFailed}));
        EXPECT_EQ(countOf("DeviceIoControl"), 0u);
    }
    SPIClose(1);
}

TEST_F(SpiExchange, ARefusedRequestIsReportedWithTheErrorAndNotWaitedFor) {
    ASSERT_EQ(SPIOpen(0), 1);
    ASSERT_EQ(SPIConfigure(0, 0, 1000000, 0), 1);
    vboard::armFault({"DeviceIoControl", "SPI1:", kExchange, 0, ERROR_GEN_FAILURE});
    mark();
    EXPECT_EQ(SPIExchange(0, 8, tx, rx), 0);
    EXPECT_EQ(vboard::debugLines(),
              (Lines{kTime, "VELNA spi exchange data cannot operate successful - Rerr 31\r\n",
                     kExchangeFailed}));
    EXPECT_EQ(countOf("WaitForSingleObject"), 0u);
    SPIClose(0);
}

TEST_F(SpiExchange, WithoutConfigurationTheRecordNamesNoEventAndNothingIsWaitedFor) {
    // Never configured: no name, tag 0, and no frequency, which the board's driver refuses.
    ASSERT_EQ(SPIOpen(1), 1);
    mark();
    EXPECT_EQ(SPIExchange(1, 8, tx, rx), 0);
    auto records = sentRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].eventName, nullptr);
    EXPECT_EQ(records[0].eventNameTag, 0u);
    EXPECT_EQ(countOf("WaitForSingleObject"), 0u);

    // Port 1 has its frequency (its mode was refused) and port 0's configuration made the event:
    // the driver takes port 1's exchange but has no name to set, so it is not waited for.
    EXPECT_EQ(SPIConfigure(1, 7, 1000000, 0), 0);
    ASSERT_EQ(SPIConfigure(0, 0, 1000000, 0), 1);
    mark();
    EXPECT_EQ(SPIExchange(1, 8, tx, rx), 1);
    records = sentRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].eventName, nullptr);
    EXPECT_EQ(countOf("WaitForSingleObject"), 0u);
    EXPECT_EQ(vboard::debugLines(), (Lines{kTime, exchangeLine(0), kExchanged}));
    SPIClose(1);
}

TEST_F(SpiExchange, TheFlashAnswersItsIdentificationAndReads) {
    auto flash = std::dynamic_pointer_cast<vboard::SpiNorFlash>(vboard::spi().device(0));
    ASSERT_NE(flash, nullptr);
    flash->program(0x000100, {0xDE, 0xAD, 0xBE, 0xEF});
    ASSERT_EQ(SPIOpen(0), 1);
    ASSERT_EQ(SPIConfigure(0, 3, 10000000, 0), 1);

    const uint8_t identify[4] = {0x9F, 0, 0, 0};
    uint8_t id[4] = {};
    EXPECT_EQ(SPIExchange(0, 32, identify, id), 1);
    EXPECT_EQ(Bytes(id, id + 4), (Bytes{0xFF, 0xEF, 0x40, 0x14}));

    const uint8_t read[8] = {0x03, 0x00, 0x01, 0x00};
    uint8_t data[8] = {};
    EXPECT_EQ(SPIExchange(0, 64, read, data), 1);
    EXPECT_EQ(Bytes(data, data + 8), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xDE, 0xAD, 0xBE, 0xEF}));
    EXPECT_EQ(vboard::driverTraceLines().back(),
              "SPI1: EXCHANGE cs 2 mode 3 10000000 Hz 64 bits tx 03 00 01 00 00 00 00 00 "
              "rx FF FF FF FF DE AD BE EF signal \"SPI_EVENT\" -> ok");
    SPIClose(0);
}

TEST_F(SpiExchange, TheLoopbackAndOtherDevicesAttachedByDirective) {
    openAndConfigureBoth();
    const uint8_t out[3] = {0xA5, 0x3C, 0x0F};
    struct Case {
        const char* directive;
        uint32_t port;
        int32_t bits;
        Bytes received;
    };
    const Case cases[] = {
        {nullptr, 1, 12, {0xA5, 0x3C, 0x00}},  // 12 bits move two bytes
        {"spi attach 0 loopback", 0, 24, {0xA5, 0x3C, 0x0F}},
        {"spi attach 1 none", 1, 24, {0xFF, 0xFF, 0xFF}},
        {"spi attach 1 flash 0", 1, 8, {0xFF, 0x00, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.directive ? c.directive : "the board's loopback");
        if (c.directive) {
            EXPECT_TRUE(vboard::applyConfigLine(c.directive).empty());
        }
        uint8_t in[3] = {};
        EXPECT_EQ(SPIExchange(c.port, c.bits, out, in), 1);
        EXPECT_EQ(Bytes(in, in + 3), c.received);
    }
    SPIClose(0);
    SPIClose(1);
}

// ---- The shared completion event ----

TEST_F(SpiEvent, ClosingEitherPortClosesTheEventAndEndsTheWaitsOfBoth) {
    openAndConfigureBoth();
    mark();
    SPIClose(0);
    EXPECT_EQ(traceOf("CloseHandle"), (Lines{"CloseHandle h1 \"SPI1:\" -> ok",
                                             "CloseHandle h4 \"SPI_EVENT\" -> ok"}));
    EXPECT_TRUE(openEvents().empty());

    // Port 1's record still names the event, which no longer exists: nothing waits for it.
    mark();
    EXPECT_EQ(SPIExchange(1, 8, tx, rx), 1);
    EXPECT_EQ(countOf("WaitForSingleObject"), 0u);
    EXPECT_FALSE(vboard::spi().exchanges().back().signaled);

    // Configured again, the port waits again, and the signal is taken by its wait.
    ASSERT_EQ(SPIConfigure(1, 0, 1000000, 0), 1);
    mark();
    EXPECT_EQ(SPIExchange(1, 8, tx, rx), 1);
    EXPECT_EQ(traceOf("WaitForSingleObject"),
              Lines{"WaitForSingleObject h5 INFINITE -> WAIT_OBJECT_0"});
    ASSERT_EQ(openEvents().size(), 1u);
    EXPECT_EQ(vboard::eventSignaled(openEvents()[0].value), std::optional<bool>(false));

    // The port closed last finds the event closed already by the other, or closes it itself.
    mark();
    SPIClose(1);
    EXPECT_EQ(traceOf("CloseHandle"), (Lines{"CloseHandle h2 \"SPI2:\" -> ok",
                                             "CloseHandle h5 \"SPI_EVENT\" -> ok"}));
    SPIClose(1);
    SPIClose(0);
    EXPECT_EQ(countOf("CloseHandle"), 2u);
    EXPECT_TRUE(vboard::openHandles().empty());
}

// Both ports complete through one auto-reset event, so one exchange at a time across both is
// the caller's duty. The board names two in flight at once, and keeps both completions so that
// the test ends where the module would hang.
TEST_F(SpiEvent, TwoExchangesInFlightOnTheSharedEventAreAMisuse) {
    openAndConfigureBoth();
    // Another thread's exchange on port 0 completes; its completion stays unclaimed (its wait is
    // made to fail) as the exchange on port 1 completes.
    vboard::armFault({"WaitForSingleObject", "", std::nullopt, 1, ERROR_GEN_FAILURE});
    std::thread([&] { EXPECT_EQ(SPIExchange(0, 8, tx, rx), 1); }).join();
    EXPECT_EQ(SPIExchange(1, 8, tx, rx), 1);
    EXPECT_EQ(vboard::misuses(),
              Lines{"SPI exchanges in flight at once from two threads (SPI1: and SPI2:) share the "
                    "completion event \"SPI_EVENT\", which keeps one completion: on the module one "
                    "caller would wait for ever (serialise exchanges across both ports)"});
    vboard::clearMisuses();

    // One thread taking turns on the ports, as the library asks, is none.
    for (int round = 0; round < 3; ++round)
        for (uint32_t port = 0; port < 2; ++port) EXPECT_EQ(SPIExchange(port, 8, tx, rx), 1);
    EXPECT_TRUE(vboard::misuses().empty());
    SPIClose(0);
    SPIClose(1);
}

TEST_F(SpiEvent, EveryHandleOpenedIsClosedOnce) {
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(SPIOpen(0), 1);
        ASSERT_EQ(SPIOpen(1), 1);
        for (uint32_t port = 0; port < 2; ++port) {
            ASSERT_EQ(SPIConfigure(port, round, 1000000, 0), 1);
            ASSERT_EQ(SPIExchange(port, 16, tx, rx), 1);
        }
        EXPECT_EQ(vboard::openHandles().size(), 3u);  // two ports, one event
        SPIClose(1);
        SPIClose(0);
        EXPECT_TRUE(vboard::openHandles().empty());
    }
    EXPECT_EQ(countOf("CloseHandle"), countOf("CreateFileW") + countOf("CreateEventW"));
}

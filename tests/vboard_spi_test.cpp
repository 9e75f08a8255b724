// vboard/src/drivers/spi: the board's SPI ports alone, as the library reaches them through "SPI1:"
// and "SPI2:": the records they take and refuse, the named event they set, the device models, the
// trace decode, the "spi" directives and the C entries.
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "spi/spi_records.h"
#include "test_support.h"
#include "vboard/gtest.h"
#include "vboard/vboard_c.h"

using vboard::Bytes;

namespace {

constexpr DWORD kExchange = tarvik::IOCTL_SPI_EXCHANGE;

// The library's own records, as the host lays them out (native pointers).
using BusConfig = tarvik::SpiBusConfig;
using ExchangeRecord = tarvik::SpiExchangeRecord;

HANDLE openPort(const wchar_t* name) {
    return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 3, nullptr, OPEN_EXISTING,
                       FILE_FLAG_RANDOM_ACCESS, nullptr);
}

class SpiPort : public vboard::testing::BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        port0 = openPort(L"SPI1:");
        port1 = openPort(L"SPI2:");
        ASSERT_NE(port0, INVALID_HANDLE_VALUE);
        ASSERT_NE(port1, INVALID_HANDLE_VALUE);
        config = BusConfig{};
        config.chipSelect = 2;
        config.frequency = 1000000;
        record = ExchangeRecord{&config, tx, rx, 1, nullptr, 0};
    }
    void TearDown() override {
        EXPECT_TRUE(CloseHandle(port0));
        EXPECT_TRUE(CloseHandle(port1));
        BoardTest::TearDown();
    }
    // Sends `bits` bits on a port with the record as it stands.
    BOOL exchange(HANDLE port, int32_t bits) {
        config.bitCount = bits;
        record.wordCount = static_cast<uint32_t>((bits + 31) / 32);
        return DeviceIoControl(port, kExchange, &record, sizeof record, nullptr, 0, nullptr, nullptr);
    }

    HANDLE port0 = nullptr;
    HANDLE port1 = nullptr;
    BusConfig config{};
    ExchangeRecord record{};
    uint8_t tx[16] = {};
    uint8_t rx[16] = {};
};

}  // namespace

TEST_F(SpiPort, RequestsOutsideTheDriversRulesAreRefusedAndMoveNothing) {
    struct Case {
        const char* what;
        std::function<void(BusConfig&, ExchangeRecord&)> spoil;
        DWORD code = kExchange;
    };
    const Case cases[] = {
        {"bit count 0", [](BusConfig& c, ExchangeRecord&) { c.bitCount = 0; }},
        {"negative bit count", [](BusConfig& c, ExchangeRecord&) { c.bitCount = -8; }},
        {"frequency 0", [](BusConfig& c, ExchangeRecord&) { c.frequency = 0; }},
        {"no tx buffer", [](BusConfig&, ExchangeRecord& r) { r.txBuffer = nullptr; }},
        {"no rx buffer", [](BusConfig&, ExchangeRecord& r) { r.rxBuffer = nullptr; }},
        {"no bus configuration", [](BusConfig&, ExchangeRecord& r) { r.busConfig = nullptr; }},
        {"chip select 4", [](BusConfig& c, ExchangeRecord&) { c.chipSelect = 4; }},
        {"polarity 2", [](BusConfig& c, ExchangeRecord&) { c.polarity = 2; }},
        {"word count short", [](BusConfig&, ExchangeRecord& r) { r.wordCount = 0; }},
        {"another request", nullptr, 0x2A2F5C},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        config = BusConfig{};
        config.chipSelect = 2;
        config.frequency = 1000000;
        config.bitCount = 8;
        record = ExchangeRecord{&config, tx, rx, 1, L"SPI_TEST", 4};
        HANDLE event = CreateEventW(nullptr, FALSE, FALSE, L"SPI_TEST");
        if (c.spoil) c.spoil(config, record);
        std::memset(rx, 0x55, sizeof rx);
        EXPECT_FALSE(DeviceIoControl(port0, c.code, &record, sizeof record, nullptr, 0, nullptr,
                                     nullptr));
        EXPECT_EQ(GetLastError(), c.code == kExchange ? DWORD(ERROR_INVALID_PARAMETER)
                                                      : DWORD(ERROR_NOT_SUPPORTED));
        EXPECT_EQ(rx[0], 0x55);
        EXPECT_EQ(vboard::eventSignaled(event), std::optional<bool>(false));
        CloseHandle(event);
    }
    // A record of another size is no exchange record.
    EXPECT_FALSE(DeviceIoControl(port0, kExchange, &record, sizeof record - 1, nullptr, 0, nullptr,
                                 nullptr));
    EXPECT_EQ(vboard::driverTraceLines().back(), "SPI1: EXCHANGE malformed -> error 87");
}

TEST_F(SpiPort, AnExchangeSetsTheEventItNames) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, L"SPI_EVENT");
    record.eventName = L"SPI_EVENT";
    record.eventNameTag = 4;
    config.chipSelect = 0;
    tx[0] = 0x42;
    ASSERT_TRUE(exchange(port1, 8));
    EXPECT_EQ(vboard::eventSignaled(event), std::optional<bool>(true));
    EXPECT_EQ(rx[0], 0x42);
    const auto seen = vboard::spi().exchanges().back();
    EXPECT_EQ(seen.port, 1);
    EXPECT_EQ(seen.eventName, "SPI_EVENT");
    EXPECT_EQ(seen.eventNameTag, 4u);
    EXPECT_TRUE(seen.signaled);
    EXPECT_EQ(seen.device, "loopback");
    CloseHandle(event);

    // With every handle to it closed there is no event of that name: the data still moves.
    tx[0] = 0x43;
    ASSERT_TRUE(exchange(port1, 8));
    EXPECT_EQ(rx[0], 0x43);
    EXPECT_FALSE(vboard::spi().exchanges().back().signaled);
    EXPECT_EQ(vboard::driverTraceLines().back(),
              "SPI2: EXCHANGE cs 0 mode 0 1000000 Hz 8 bits tx 43 rx 43 signal \"SPI_EVENT\" "
              "(no such event) -> ok");
}

TEST_F(SpiPort, TheFlashAnswersItsCommandsInModes0And3) {
    auto flash = std::dynamic_pointer_cast<vboard::SpiNorFlash>(vboard::spi().device(0));
    ASSERT_NE(flash, nullptr);
    flash->program(0xFFFFE, {0x11, 0x22, 0x33});  // wraps past the end of 1 MiB
    EXPECT_EQ(flash->read(0, 2), (Bytes{0x33, 0xFF}));
    struct Case {
        const char* what;
        Bytes out;
        uint32_t polarity, phase;
        Bytes in;
    };
    const Case cases[] = {
        {"identification", {0x9F, 0, 0, 0, 0}, 0, 0, {0xFF, 0xEF, 0x40, 0x14, 0xFF}},
        {"identification, cut short", {0x9F, 0}, 1, 1, {0xFF, 0xEF}},
        {"read, wrapping", {0x03, 0x0F, 0xFF, 0xFE, 0, 0, 0, 0}, 0, 0,
         {0xFF, 0xFF, 0xFF, 0xFF, 0x11, 0x22, 0x33, 0xFF}},
        {"fast read", {0x0B, 0x0F, 0xFF, 0xFF, 0, 0, 0}, 1, 1, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x22, 0x33}},
        {"status", {0x05, 0, 0}, 0, 0, {0xFF, 0x00, 0x00}},
        {"unknown command", {0x90, 0, 0}, 0, 0, {0xFF, 0xFF, 0xFF}},
        {"mode 1", {0x9F, 0, 0, 0}, 0, 1, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"mode 2", {0x9F, 0, 0, 0}, 1, 0, {0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::memcpy(tx, c.out.data(), c.out.size());
        config.polarity = c.polarity;
        config.phase = c.phase;
        ASSERT_TRUE(exchange(port0, static_cast<int32_t>(c.out.size() * 8)));
        EXPECT_EQ(Bytes(rx, rx + c.in.size()), c.in);
    }
}

TEST_F(SpiPort, ThePortMovesWholeBytesAndAnEmptyChipSelectReadsHigh) {
    config.chipSelect = 0;
    std::memcpy(tx, "\x01\x02\x03", 3);
    std::memset(rx, 0, sizeof rx);
    ASSERT_TRUE(exchange(port1, 9));  // two bytes
    EXPECT_EQ(Bytes(rx, rx + 3), (Bytes{0x01, 0x02, 0x00}));
    config.chipSelect = 3;
    ASSERT_TRUE(exchange(port1, 16));
    EXPECT_EQ(Bytes(rx, rx + 3), (Bytes{0xFF, 0xFF, 0x00}));
    // One buffer for both directions is the caller's choice; the loopback answers in place.
    config.chipSelect = 0;
    record.rxBuffer = tx;
    ASSERT_TRUE(exchange(port1, 24));
    EXPECT_EQ(Bytes(tx, tx + 3), (Bytes{0x01, 0x02, 0x03}));
    EXPECT_EQ(vboard::driverTraceLines()[vboard::driverTraceLines().size() - 2],
              "SPI2: EXCHANGE cs 3 mode 0 1000000 Hz 16 bits tx 01 02 rx FF FF (nothing selected) -> ok");
}

TEST_F(SpiPort, DirectivesAttachDevicesAndProgramTheFlash) {
    struct Case {
        const char* line;
        const char* problem;  // "" when it applies
    };
    const Case cases[] = {
        {"spi attach 0 loopback", ""},
        {"spi attach 1 flash 3", ""},
        {"spi flash 1 0x10 AB CD", ""},
        {"spi attach 1 none", ""},
        {"spi attach 2 loopback", "no SPI port 2 on the board (0 or 1)"},
        {"spi attach 0 loopback 4", "no chip select 4 on an SPI port (0 to 3)"},
        {"spi attach 0 eeprom", "no SPI device model 'eeprom' (loopback, flash, none)"},
        {"spi flash 0 0x10 AB", "no flash on SPI port 0's chip select"},
        {"spi flash 1 0x10 ABC", "'ABC' is no hex byte (two digits, as in 9F)"},
        {"spi wire", "expected: spi attach ..., spi flash ... or spi reset"},
    };
    ASSERT_TRUE(vboard::applyConfigLine("spi attach 1 flash").empty());
    for (const Case& c : cases) tarvik_test::expectConfigLine(c.line, c.problem);
    EXPECT_EQ(vboard::spi().device(0)->kind(), "loopback");
    EXPECT_EQ(vboard::spi().device(1, 3)->kind(), "flash");
    EXPECT_EQ(vboard::spi().device(1), nullptr);
    ASSERT_TRUE(vboard::applyConfigLine("spi attach 1 flash").empty());
    ASSERT_TRUE(vboard::applyConfigLine("spi flash 1 0x10 AB CD").empty());
    auto flash = std::dynamic_pointer_cast<vboard::SpiNorFlash>(vboard::spi().device(1));
    EXPECT_EQ(flash->read(0x10, 3), (Bytes{0xAB, 0xCD, 0xFF}));

    // The reset puts the board's own devices back.
    ASSERT_TRUE(vboard::applyConfigLine("spi reset").empty());
    EXPECT_EQ(vboard::spi().device(0)->kind(), "flash");
    EXPECT_EQ(vboard::spi().device(1)->kind(), "loopback");
    EXPECT_EQ(vboard::spi().device(1, 3), nullptr);
    EXPECT_TRUE(vboard::spi().exchanges().empty());
}

TEST_F(SpiPort, CEntriesAttachProgramAndCount) {
    const uint8_t data[2] = {0x12, 0x34};
    EXPECT_EQ(vboard_spi_flash_program(1, 0, data, 2), 0);  // a loopback is no flash
    EXPECT_EQ(vboard_spi_attach(1, "flash", -1), 1);
    EXPECT_EQ(vboard_spi_flash_program(1, 0, data, 2), 1);
    EXPECT_EQ(vboard_spi_attach(1, "nothing", -1), 0);
    EXPECT_EQ(vboard_spi_attach(2, "flash", -1), 0);
    EXPECT_EQ(vboard_spi_attach(0, "none", 5), 0);
    config.chipSelect = 0;
    std::memcpy(tx, "\x03\x00\x00\x00\x00\x00", 6);
    ASSERT_TRUE(exchange(port1, 48));
    EXPECT_EQ(Bytes(rx + 4, rx + 6), (Bytes{0x12, 0x34}));
    EXPECT_EQ(vboard_spi_exchange_count(), 1u);
}

TEST_F(SpiPort, ConcurrentCallersOnBothPortsWhileTheControlSideRewires) {
    auto run = [](HANDLE port, uint8_t chipSelect, uint8_t seed) {
        BusConfig bus{};
        bus.chipSelect = chipSelect;
        bus.frequency = 1000000;
        bus.bitCount = 32;
        uint8_t out[4] = {seed, 1, 2, 3};
        uint8_t in[4] = {};
        ExchangeRecord r{&bus, out, in, 1, nullptr, 0};
        for (int i = 0; i < 300; ++i)
            EXPECT_TRUE(DeviceIoControl(port, kExchange, &r, sizeof r, nullptr, 0, nullptr, nullptr));
    };
    std::thread first(run, port0, 2, 0x9F);
    std::thread second(run, port1, 0, 0x42);
    for (int i = 0; i < 100; ++i) {
        vboard::spi().attach(1, vboard::makeSpiDevice(i % 2 ? "loopback" : "flash"));
        std::dynamic_pointer_cast<vboard::SpiNorFlash>(vboard::spi().device(0))->program(0, {1});
    }
    first.join();
    second.join();
    EXPECT_EQ(vboard::spi().exchanges().size(), 600u);
}

// A device on a port looks at the control side from inside its exchange, as every device model
// may.
TEST_F(SpiPort, ADeviceMayUseTheControlSideFromInsideAnExchange) {
    class Looking : public vboard::SpiDevice {
    public:
        void exchange(const vboard::SpiBusSettings&, const uint8_t* tx, uint8_t* rx,
                      size_t bytes) override {
            seen = vboard::spi().exchanges().size();
            itself = vboard::spi().device(1, 0).get() == this;
            std::memcpy(rx, tx, bytes);
        }
        std::string kind() const override { return "looking"; }
        size_t seen = 99;
        bool itself = false;
    };
    auto device = std::make_shared<Looking>();
    ASSERT_TRUE(vboard::spi().attach(1, device, 0));
    config.chipSelect = 0;
    tx[0] = 0x5A;
    EXPECT_TRUE(exchange(port1, 8));
    EXPECT_EQ(device->seen, 0u) << "an exchange is kept once it is done";
    EXPECT_TRUE(device->itself);
    EXPECT_EQ(rx[0], 0x5A);
}

// With a board folder the flash keeps its array in an image named by port and chip select: each
// program is in it at once, a reset of the ports takes it up again, and one of another size is
// refused, named and left as it is.
TEST_F(SpiPort, TheFlashKeepsItsArrayInTheBoardFolder) {
    const std::string board = ::testing::TempDir() + "vboard_spi_images_" + std::to_string(::getpid());
    const std::string image = board + "/spi0-cs2.flash.bin";
    std::filesystem::remove_all(board);
    ASSERT_TRUE(vboard::setBoardFolder(board));
    tarvik_test::expectConfigLine("spi flash 0 0x10 DE AD", "");
    auto imageBytes = [&] {
        std::ifstream in(image, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    const std::string kept = imageBytes();
    ASSERT_EQ(kept.size(), size_t{1} << 20);
    EXPECT_EQ(kept.substr(0x0F, 4), "\xFF\xDE\xAD\xFF");
    tarvik_test::expectConfigLine("spi reset", "");
    auto flash = std::dynamic_pointer_cast<vboard::SpiNorFlash>(vboard::spi().device(0));
    ASSERT_TRUE(flash);
    EXPECT_EQ(flash->read(0x10, 2), (Bytes{0xDE, 0xAD}));

    std::ofstream(image, std::ios::binary | std::ios::trunc) << "short";
    tarvik_test::expectConfigLine("spi attach 0 flash",
                                  image + ": it holds 5 bytes, but the flash on SPI port 0 chip select 2 holds 1048576");
    EXPECT_EQ(flash, vboard::spi().device(0)) << "the flash wired before stays";
    EXPECT_EQ(imageBytes(), "short");
    vboard::setBoardFolder("");
}

// vboard/src/drivers/i2c: the board's I2C buses alone, as the library reaches them through "I2C1:"
// to "I2C3:": the requests they take and refuse, transfers against the EEPROM and the sensor, NAKs,
// the trace decode, the "i2c" directives and the C entry points.
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <tuple>

#include "test_support.h"
#include "vboard/gtest.h"
#include "vboard/vboard_c.h"

using vboard::Bytes;
using Lines = std::vector<std::string>;

namespace {

constexpr DWORD kMasterMode = 0x002A2EE4, kConfirm = 0x002A2EE8, kFrequency = 0x002A2EF8,
                kTransfer = 0x002A2F04;

// The transfer records as the library lays them out, with native pointers.
struct Packet {
    uint8_t deviceAddress;
    uint8_t direction;
    uint8_t* dataBuffer;
    uint16_t dataLength;
    int32_t* resultWord;
};
struct Block {
    Packet* packets;
    int32_t packetCount;
};

Packet writePacket(uint8_t address, Bytes& bytes, int32_t* result = nullptr) {
    return {address, 1, bytes.data(), static_cast<uint16_t>(bytes.size()), result};
}
Packet readPacket(uint8_t address, Bytes& bytes, int32_t* result = nullptr) {
    return {address, 2, bytes.data(), static_cast<uint16_t>(bytes.size()), result};
}

class I2cBus : public vboard::testing::BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        h = open(L"I2C2:");
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        EXPECT_TRUE(CloseHandle(h));
        BoardTest::TearDown();
    }

    static HANDLE open(const wchar_t* device) {
        return CreateFileW(device, GENERIC_READ | GENERIC_WRITE, 3, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    }
    BOOL transfer(std::vector<Packet> packets) {
        Block block{packets.data(), static_cast<int32_t>(packets.size())};
        return DeviceIoControl(h, kTransfer, &block, sizeof block, nullptr, 0, nullptr, nullptr);
    }
    // Points the EEPROM at `address` and writes `data` there, in one packet.
    BOOL writeEeprom(uint8_t device, uint16_t address, const Bytes& data) {
        Bytes bytes{static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address & 0xFF)};
        bytes.insert(bytes.end(), data.begin(), data.end());
        return transfer({writePacket(device, bytes)});
    }
    Bytes readEeprom(uint8_t device, uint16_t address, size_t length) {
        Bytes prefix{static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address & 0xFF)};
        Bytes out(length, 0xAA);
        EXPECT_TRUE(transfer({writePacket(device, prefix), readPacket(device, out)}));
        return out;
    }

    HANDLE h = nullptr;
};

}  // namespace

TEST_F(I2cBus, TakesMasterModeFrequencyAndConfirm) {
    EXPECT_FALSE(vboard::i2cBus(0).masterMode());
    EXPECT_EQ(vboard::i2cBus(0).frequency(), 0u);
    EXPECT_TRUE(DeviceIoControl(h, kMasterMode, nullptr, 0, nullptr, 0, nullptr, nullptr));
    DWORD hertz = 400000;
    EXPECT_TRUE(DeviceIoControl(h, kFrequency, &hertz, 4, nullptr, 0, nullptr, nullptr));
    DWORD word = 0;
    DWORD returned = 0;
    EXPECT_TRUE(DeviceIoControl(h, kConfirm, nullptr, 0, &word, 4, &returned, nullptr));
    EXPECT_EQ(word, vboard::kI2cConfirmWord);
    EXPECT_EQ(returned, 4u);
    EXPECT_TRUE(vboard::i2cBus(0).masterMode());
    EXPECT_EQ(vboard::i2cBus(0).frequency(), 400000u);
    EXPECT_FALSE(vboard::i2cBus(1).masterMode()) << "each bus has its own controller";
    EXPECT_EQ(tarvik_test::traceOf("DeviceIoControl"),
              (Lines{"I2C2: SET_MASTER_MODE -> ok", "I2C2: SET_FREQUENCY 400000 -> ok",
                     "I2C2: CONFIRM word 1 -> ok"}));
}

TEST_F(I2cBus, RefusesRequestsOutsideTheirRecords) {
    Bytes data{0x00, 0x00, 0x11};
    Packet good = writePacket(0x50, data);
    Packet badDirection = good;
    badDirection.direction = 3;
    Packet nullBuffer = good;
    nullBuffer.dataBuffer = nullptr;
    std::vector<Packet> many(65, good);
    Block goodBlock{&good, 1};
    struct Case {
        const char* what;
        DWORD code;
        std::vector<uint8_t> in;
        DWORD outSize;
        DWORD error;
    };
    auto blockBytes = [](Block b) {
        Bytes bytes(sizeof b);
        std::memcpy(bytes.data(), &b, sizeof b);
        return bytes;
    };
    const DWORD bad = ERROR_INVALID_PARAMETER;
    const Case cases[] = {
        {"frequency: short word", kFrequency, {0xA0, 0x86, 0x01}, 0, bad},
        {"frequency: 0 Hz", kFrequency, {0, 0, 0, 0}, 0, bad},
        {"confirm: nowhere to answer", kConfirm, {}, 0, bad},
        {"confirm: too small to answer in", kConfirm, {}, 2, bad},
        {"transfer: short block", kTransfer, Bytes(sizeof(Block) - 1), 0, bad},
        {"transfer: no packets", kTransfer, blockBytes({nullptr, 1}), 0, bad},
        {"transfer: count 0", kTransfer, blockBytes({&good, 0}), 0, bad},
        {"transfer: count -1", kTransfer, blockBytes({&good, -1}), 0, bad},
        {"transfer: 65 packets", kTransfer, blockBytes({many.data(), 65}), 0, bad},
        {"transfer: direction 3", kTransfer, blockBytes({&badDirection, 1}), 0, bad},
        {"transfer: bytes at null", kTransfer, blockBytes({&nullBuffer, 1}), 0, bad},
        {"unknown request", 0x002A2F08, blockBytes(goodBlock), 0, ERROR_NOT_SUPPORTED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes in = c.in;
        uint8_t out[4] = {};
        EXPECT_FALSE(DeviceIoControl(h, c.code, in.empty() ? nullptr : in.data(),
                                     static_cast<DWORD>(in.size()), c.outSize ? out : nullptr,
                                     c.outSize, nullptr, nullptr));
        EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_TRUE(vboard::i2cBus(0).transfers().empty()) << "nothing went over the wire";
    EXPECT_EQ(vboard::i2cBus(0).frequency(), 0u);
    EXPECT_EQ(vboard::i2cDevice<vboard::I2cEeprom>(0, 0x50)->contents()[0x11], 0xFF);
}

TEST_F(I2cBus, AnAddressNobodyAnswersNaksTheWholeRequest) {
    int32_t first = 7;
    int32_t second = 7;
    Bytes written{0x01, 0x00, 0x42};
    Bytes read(2, 0xAA);
    // The EEPROM takes the first packet; nobody is at 0x51 for the second.
    EXPECT_FALSE(transfer({writePacket(0x50, written, &first), readPacket(0x51, read, &second)}));
    EXPECT_EQ(GetLastError(), vboard::kI2cNakError);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, -1);
    EXPECT_EQ(read, Bytes(2, 0xAA)) << "a NAKed read leaves the caller's bytes alone";
    EXPECT_EQ(vboard::i2cDevice<vboard::I2cEeprom>(0, 0x50)->contents()[0x0100], 0x42)
        << "packets before the NAK were carried out";
    const auto transfers = vboard::i2cBus(0).transfers();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_FALSE(transfers[0].ok);
    ASSERT_EQ(transfers[0].packets.size(), 2u);
    EXPECT_TRUE(transfers[0].packets[0].acknowledged);
    EXPECT_FALSE(transfers[0].packets[1].acknowledged);

    // A packet after the NAK is not carried out.
    Bytes late{0x02, 0x00, 0x99};
    EXPECT_FALSE(transfer({writePacket(0x51, written), writePacket(0x50, late)}));
    EXPECT_EQ(vboard::i2cDevice<vboard::I2cEeprom>(0, 0x50)->contents()[0x0200], 0xFF);
    EXPECT_EQ(tarvik_test::traceOf("DeviceIoControl").back(),
              "I2C2: TRANSFER [W 0x51: 01 00 42][W 0x50: 02 00 99] -> error 1117");
}

TEST_F(I2cBus, TheEepromPointsHighByteFirstAndWrapsAtItsSize) {
    // Sequential writes and reads continue where the pointer stands.
    EXPECT_TRUE(writeEeprom(0x50, 0x1234, {1, 2, 3}));
    EXPECT_EQ(readEeprom(0x50, 0x1234, 3), (Bytes{1, 2, 3}));
    Bytes more(2);
    EXPECT_TRUE(transfer({readPacket(0x50, more)}));
    EXPECT_EQ(more, (Bytes{0xFF, 0xFF})) << "erased bytes follow";
    EXPECT_EQ(vboard::i2cDevice<vboard::I2cEeprom>(0, 0x50)->pointer(), 0x1239u);

    // A 32 KiB part ignores the top address bit; a read wraps at the end of the array.
    ASSERT_TRUE(vboard::i2cDevice<vboard::I2cEeprom>(0, 0x50)->preload(0, {0xA2}));
    EXPECT_TRUE(writeEeprom(0x50, 0xFFFF, {0xA1}));
    EXPECT_EQ(readEeprom(0x50, 0x7FFF, 2), (Bytes{0xA1, 0xA2}));

    // An address probe, or a single address byte, changes nothing.
    vboard::i2cBus(0).attach(0x52, std::make_shared<vboard::I2cEeprom>(256));
    ASSERT_TRUE(writeEeprom(0x52, 0x0000, {9}));
    Bytes one{0x00};
    Bytes none;
    EXPECT_TRUE(transfer({writePacket(0x52, none)}));
    EXPECT_TRUE(transfer({writePacket(0x52, one)}));
    EXPECT_EQ(vboard::i2cDevice<vboard::I2cEeprom>(0, 0x52)->pointer(), 1u);
}

// A write stays within its page, as a real part's page buffer keeps it: past the page's end it
// goes on at the page's start, and the pointer with it.
TEST_F(I2cBus, TheEepromWritesWithinAPage) {
    using Config = vboard::I2cEeprom::Config;
    struct Case {
        const char* what;
        Config part;
        uint16_t address;
        Bytes data;
        std::vector<std::pair<size_t, uint8_t>> stored;
        uint32_t pointer;
    };
    const Case cases[] = {
        {"the default part's 64-byte page", Config{}, 0xFFFF, {0xA1, 0xA2},
         {{0x7FFF, 0xA1}, {0x7FC0, 0xA2}, {0x0000, 0xFF}}, 0x7FC1},
        {"a 256-byte part, 64-byte pages", Config{256, 64, 0}, 0x00FE, {7, 8, 9},
         {{0xFE, 7}, {0xFF, 8}, {0xC0, 9}, {0x00, 0xFF}}, 0xC1},
        {"16-byte pages", Config{32768, 16, 0}, 0x001E, {1, 2, 3}, {{0x1E, 1}, {0x1F, 2}, {0x10, 3}},
         0x11},
        {"a page larger than the part is the part", Config{100, 128, 0}, 0x0063, {1, 2},
         {{0x63, 1}, {0x00, 2}}, 0x01},
        {"more than a page: the last bytes win", Config{32768, 4, 0}, 0x0008, {1, 2, 3, 4, 5, 6},
         {{0x08, 5}, {0x09, 6}, {0x0A, 3}, {0x0B, 4}}, 0x0A},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        vboard::i2cBus(0).attach(0x52, std::make_shared<vboard::I2cEeprom>(c.part));
        EXPECT_TRUE(writeEeprom(0x52, c.address, c.data));
        auto eeprom = vboard::i2cDevice<vboard::I2cEeprom>(0, 0x52);
        const Bytes contents = eeprom->contents();
        for (const auto& [at, value] : c.stored) EXPECT_EQ(contents[at], value) << "at " << at;
        EXPECT_EQ(eeprom->pointer(), c.pointer);
    }
}

// For its write cycle after a write of data, on the board's clock, the part acknowledges
// nothing, probes included; an address alone starts no cycle.
TEST_F(I2cBus, TheEepromAcknowledgesNothingDuringItsWriteCycle) {
    vboard::setVirtualSleep(true);
    ASSERT_TRUE(vboard::applyConfigLine("i2c attach 0 0x52 eeprom write-cycle=5").empty());
    Bytes probe;
    Bytes one(1);
    auto answers = [&] {
        const bool probed = transfer({writePacket(0x52, probe)}) != FALSE;
        const bool read = transfer({readPacket(0x52, one)}) != FALSE;
        EXPECT_EQ(probed, read);
        return probed && read;
    };
    EXPECT_TRUE(writeEeprom(0x52, 0x0100, {}));
    EXPECT_TRUE(answers()) << "an address alone is no write";
    EXPECT_TRUE(writeEeprom(0x52, 0x0100, {0x42}));
    EXPECT_FALSE(answers());
    EXPECT_EQ(GetLastError(), vboard::kI2cNakError);
    EXPECT_FALSE(writeEeprom(0x52, 0x0101, {0x43})) << "a write in the cycle is not taken";
    vboard::advanceClock(4999999);
    EXPECT_TRUE(vboard::i2cDevice<vboard::I2cEeprom>(0, 0x52)->busy());
    EXPECT_FALSE(answers());
    vboard::advanceClock(1);
    EXPECT_TRUE(answers());
    EXPECT_EQ(readEeprom(0x52, 0x0100, 2), (Bytes{0x42, 0xFF}));
    EXPECT_FALSE(vboard::i2cDevice<vboard::I2cEeprom>(0, 0x50)->busy()) << "off by default";
}

TEST_F(I2cBus, TheSensorReadsItsTemperatureAndIgnoresWrites) {
    HANDLE bus2 = open(L"I2C3:");
    auto read = [&](uint8_t reg, size_t length) {
        Bytes prefix{reg, 0x00};  // the register, then a byte the read-only register ignores
        Bytes out(length);
        std::vector<Packet> packets{writePacket(0x48, prefix), readPacket(0x48, out)};
        Block block{packets.data(), 2};
        EXPECT_TRUE(DeviceIoControl(bus2, kTransfer, &block, sizeof block, nullptr, 0, nullptr, nullptr));
        return out;
    };
    EXPECT_EQ(read(0x00, 2), (Bytes{0x19, 0x00}));
    auto sensor = vboard::i2cDevice<vboard::I2cTemperatureSensor>(2, 0x48);
    ASSERT_TRUE(sensor);
    sensor->setTemperature(-0.5);
    EXPECT_EQ(read(0x00, 2), (Bytes{0xFF, 0x80}));
    sensor->setTemperature(1000.0);
    EXPECT_EQ(read(0x00, 2), (Bytes{0x7F, 0xFF})) << "clamped to 16 bits";
    EXPECT_EQ(read(0x01, 1), (Bytes{0xFF})) << "the second byte alone";
    EXPECT_EQ(read(0xFF, 3), (Bytes{0x00, 0x7F, 0xFF})) << "the pointer wraps at 256";
    EXPECT_EQ(sensor->contents()[0], 0x7F) << "the 0x00 written after the pointer changed nothing";
    EXPECT_EQ(vboard::i2cDevice<vboard::I2cEeprom>(2, 0x48), nullptr) << "no EEPROM there";
    EXPECT_TRUE(CloseHandle(bus2));
}

TEST_F(I2cBus, TheTraceNamesTransfersTheModelDidNotSee) {
    Bytes data{0x10, 0x00};
    // With nothing kept, the model notes nothing for the trace, and still carries it out.
    vboard::setRecording({vboard::RecordMode::Off, 0});
    EXPECT_TRUE(transfer({writePacket(0x50, data)}));
    vboard::setRecording({vboard::RecordMode::Last, vboard::kDefaultRecordLimit});
    vboard::armFault({"DeviceIoControl", "I2C2:", kTransfer, 1, ERROR_GEN_FAILURE});
    EXPECT_FALSE(transfer({writePacket(0x50, data)}));
    EXPECT_TRUE(transfer({writePacket(0x50, data), readPacket(0x50, data)}));
    EXPECT_EQ(tarvik_test::traceOf("DeviceIoControl"),
              (Lines{"I2C2: TRANSFER 1 packet -> error 31 (fault)",
                     "I2C2: TRANSFER [W 0x50: 10 00][R 0x50: 2 bytes] -> ok"}));
    EXPECT_EQ(vboard::i2cBus(0).transfers().size(), 2u);
}

TEST_F(I2cBus, ResetBringsBackTheDefaultDevices) {
    vboard::i2cBus(0).detach(0x50);
    vboard::i2cBus(1).attach(0x20, std::make_shared<vboard::I2cTemperatureSensor>());
    vboard::reset();
    h = open(L"I2C2:");
    EXPECT_EQ(vboard::i2cBus(0).addresses(), (std::vector<uint8_t>{0x50}));
    EXPECT_TRUE(vboard::i2cBus(1).addresses().empty());
    EXPECT_EQ(vboard::i2cBus(2).addresses(), (std::vector<uint8_t>{0x48}));
    EXPECT_EQ(vboard::i2cDevice<vboard::I2cEeprom>(0, 0x50)->size(), 32768u);
    EXPECT_EQ(std::string(vboard::i2cBusDevice(1)), "I2C1:");
    EXPECT_EQ(vboard::i2cBusDevice(3), nullptr);
    EXPECT_THROW(vboard::i2cBus(3), std::out_of_range);
}

TEST_F(I2cBus, DirectivesAttachDetachAndFill) {
    struct Case {
        const char* line;
        const char* problem;  // "" when it applies
    } cases[] = {
        {"i2c attach 1 0x20 eeprom 256", ""},
        {"i2c attach 1 0x21 eeprom", ""},
        {"i2c attach 1 0x26 eeprom 512 page=16 write-cycle=5", ""},
        {"i2c attach 1 0x27 eeprom write-cycle=10 page=128", ""},
        {"i2c attach 1 0x30 sensor", ""},
        {"i2c fill 1 0x20 0xFE de ad", ""},
        {"i2c fill 1 0x30 2 01", ""},
        {"i2c detach 2 0x48", ""},
        {"i2c fill 1 0x20 0xFF de ad", "the eeprom at 0x20 on bus 1 does not hold 2 bytes at 0xFF"},
        {"i2c fill 1 0x22 0 00", "no device at 0x22 on bus 1"},
        {"i2c fill 1 0x20 0 xyz", "bad byte 'xyz' (two hex digits)"},
        {"i2c detach 2 0x48", "no device at 0x48 on bus 2"},
        {"i2c attach 1 0x20 eeprom 0", "bad EEPROM size '0' (1 to 65536 bytes)"},
        {"i2c attach 1 0x20 eeprom 65537", "bad EEPROM size '65537' (1 to 65536 bytes)"},
        {"i2c attach 1 0x20 eeprom page=48", "bad EEPROM page size '48' (a power of two, 1 to 65536 bytes)"},
        {"i2c attach 1 0x20 eeprom page=0", "bad EEPROM page size '0'"},
        {"i2c attach 1 0x20 eeprom write-cycle=60001", "bad EEPROM write cycle '60001' (0 to 60000 ms)"},
        {"i2c attach 1 0x20 eeprom page=8 page=16", "EEPROM option 'page' given twice"},
        {"i2c attach 1 0x20 eeprom 256 colour=red", "unknown EEPROM option 'colour=red' (page=<bytes>, write-cycle=<ms>)"},
        {"i2c attach 1 0x20 flash", "unknown device 'flash' (eeprom [<size>] or sensor)"},
        {"i2c attach 3 0x20 sensor", "expected"},
        {"i2c attach 1 0x100 sensor", "expected"},
        {"i2c attach 1 -1 sensor", "expected"},
        {"i2c reset", "expected"},
    };
    for (const Case& c : cases) tarvik_test::expectConfigLine(c.line, c.problem);
    EXPECT_EQ(vboard::i2cBus(1).addresses(), (std::vector<uint8_t>{0x20, 0x21, 0x26, 0x27, 0x30}));
    const Bytes small = vboard::i2cDevice<vboard::I2cEeprom>(1, 0x20)->contents();
    EXPECT_EQ(small.size(), 256u);
    EXPECT_EQ(small[0xFE], 0xDE);
    EXPECT_EQ(small[0xFF], 0xAD);
    struct Part {
        uint8_t address;
        size_t size, page;
        uint32_t cycle;
    };
    for (const Part& p : {Part{0x20, 256, 64, 0}, Part{0x21, 32768, 64, 0}, Part{0x26, 512, 16, 5},
                          Part{0x27, 32768, 128, 10}}) {
        auto eeprom = vboard::i2cDevice<vboard::I2cEeprom>(1, p.address);
        EXPECT_EQ(eeprom->size(), p.size);
        EXPECT_EQ(eeprom->pageSize(), p.page);
        EXPECT_EQ(eeprom->writeCycleMs(), p.cycle);
    }
    EXPECT_EQ(vboard::i2cDevice<vboard::I2cTemperatureSensor>(1, 0x30)->contents()[2], 0x01);
    EXPECT_TRUE(vboard::i2cBus(2).addresses().empty());
}

TEST_F(I2cBus, TheCEntryPointsReachTheModels) {
    EXPECT_EQ(vboard_i2c_attach(1, 0x20, "eeprom", 512), 1);
    EXPECT_EQ(vboard_i2c_attach(1, 0x21, "sensor", 0), 1);
    EXPECT_EQ(vboard_i2c_attach(1, 0x22, "flash", 0), 0);
    EXPECT_EQ(vboard_i2c_attach(3, 0x20, "eeprom", 0), 0);
    EXPECT_EQ(vboard_i2c_attach(1, 0x100, "eeprom", 0), 0);
    EXPECT_EQ(vboard_i2c_attach(1, 0x20, "eeprom", 65537), 0);
    EXPECT_EQ(vboard::i2cDevice<vboard::I2cEeprom>(1, 0x20)->size(), 512u);
    EXPECT_EQ(vboard_i2c_attach_eeprom(1, 0x24, 1024, 16, 5), 1);
    EXPECT_EQ(vboard_i2c_attach_eeprom(1, 0x25, 0, 0, 0), 1) << "the defaults";
    EXPECT_EQ(vboard_i2c_attach_eeprom(1, 0x26, 0, 48, 0), 0) << "no power of two";
    EXPECT_EQ(vboard_i2c_attach_eeprom(1, 0x26, 65537, 0, 0), 0);
    EXPECT_EQ(vboard_i2c_attach_eeprom(1, 0x26, 0, 0, 60001), 0);
    EXPECT_EQ(vboard_i2c_attach_eeprom(3, 0x26, 0, 0, 0), 0);
    for (auto [address, size, page, cycle] :
         {std::tuple<uint8_t, size_t, size_t, uint32_t>{0x24, 1024, 16, 5}, {0x25, 32768, 64, 0}}) {
        auto eeprom = vboard::i2cDevice<vboard::I2cEeprom>(1, address);
        EXPECT_EQ(eeprom->size(), size);
        EXPECT_EQ(eeprom->pageSize(), page);
        EXPECT_EQ(eeprom->writeCycleMs(), cycle);
    }
    EXPECT_EQ(vboard::i2cDevice<vboard::I2cEeprom>(1, 0x26), nullptr);

    const uint8_t bytes[3] = {0xCA, 0xFE, 0x42};
    EXPECT_EQ(vboard_i2c_fill(1, 0x20, 510, bytes, 2), 1);
    EXPECT_EQ(vboard_i2c_fill(1, 0x20, 511, bytes, 2), 0);
    EXPECT_EQ(vboard_i2c_fill(1, 0x23, 0, bytes, 1), 0);
    uint8_t peeked[4] = {};
    EXPECT_EQ(vboard_i2c_peek(1, 0x20, 510, peeked, sizeof peeked), 2u);
    EXPECT_EQ(peeked[0], 0xCA);
    EXPECT_EQ(peeked[1], 0xFE);
    EXPECT_EQ(vboard_i2c_peek(1, 0x23, 0, peeked, 1), 0u);

    EXPECT_EQ(vboard_i2c_set_temperature(1, 0x21, 30.0), 1);
    EXPECT_EQ(vboard_i2c_set_temperature(1, 0x20, 30.0), 0) << "an EEPROM has no temperature";
    EXPECT_EQ(vboard_i2c_peek(1, 0x21, 0, peeked, 2), 2u);
    EXPECT_EQ(peeked[0], 30);

    EXPECT_EQ(vboard_i2c_detach(1, 0x21), 1);
    EXPECT_EQ(vboard_i2c_detach(1, 0x21), 0);

    DWORD hertz = 100000;
    EXPECT_TRUE(DeviceIoControl(h, kFrequency, &hertz, 4, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(vboard_i2c_frequency(0), 100000u);
    EXPECT_EQ(vboard_i2c_frequency(5), 0u);
    EXPECT_EQ(vboard_i2c_transfer_count(0), 0u);
    Bytes probe;
    EXPECT_TRUE(transfer({writePacket(0x50, probe)}));
    EXPECT_EQ(vboard_i2c_transfer_count(0), 1u);
}

// Transfers on one bus from several threads go over it one at a time: each thread's sequential
// read follows its own pointer set in the same transfer.
TEST_F(I2cBus, TransfersFromSeveralThreadsDoNotInterleave) {
    auto eeprom = vboard::i2cDevice<vboard::I2cEeprom>(0, 0x50);
    for (int t = 0; t < 4; ++t) ASSERT_TRUE(eeprom->preload(0x100u * t, Bytes(64, static_cast<uint8_t>(t))));
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            HANDLE mine = open(L"I2C2:");
            for (int i = 0; i < 200; ++i) {
                Bytes prefix{static_cast<uint8_t>(t), 0x00};
                Bytes out(64);
                std::vector<Packet> packets{writePacket(0x50, prefix), readPacket(0x50, out)};
                Block block{packets.data(), 2};
                DeviceIoControl(mine, kTransfer, &block, sizeof block, nullptr, 0, nullptr, nullptr);
                if (out != Bytes(64, static_cast<uint8_t>(t))) ++wrong[t];
            }
            CloseHandle(mine);
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

// A device on a bus looks at the control side from inside its packets, as every device model
// may.
TEST_F(I2cBus, ADeviceMayUseTheControlSideFromInsideAPacket) {
    class Looking : public vboard::I2cDevice {
    public:
        std::string kind() const override { return "looking"; }
        bool write(const uint8_t*, size_t) override {
            seen = vboard::i2cBus(0).transfers().size();
            return true;
        }
        bool read(uint8_t* data, size_t length) override {
            std::memset(data, static_cast<int>(vboard::i2cBus(0).addresses().size()), length);
            return true;
        }
        size_t seen = 99;
    };
    auto device = std::make_shared<Looking>();
    vboard::i2cBus(0).attach(0x30, device);
    Bytes command{1};
    EXPECT_TRUE(transfer({writePacket(0x30, command)}));
    Bytes answer(1);
    EXPECT_TRUE(transfer({writePacket(0x30, command), readPacket(0x30, answer)}));
    EXPECT_EQ(device->seen, 1u) << "the first transfer, kept once it was done";
    EXPECT_EQ(answer, Bytes{2}) << "the EEPROM at 0x50, and itself";
}

// With a board folder the EEPROM keeps its contents in an image named by bus and address. One
// that does not fit the part is refused, named in the message, and left as it was: the part
// works from its erased state and its writes go nowhere near the file.
TEST_F(I2cBus, AnImageThatDoesNotFitThePartIsRefusedAndLeftAsItIs) {
    const std::string board = ::testing::TempDir() + "vboard_i2c_images_" + std::to_string(::getpid());
    const std::string image = board + "/i2c0-0x50.eeprom.bin";
    const std::string outside = board + "-outside.bin";
    struct Case {
        const char* name;
        std::string contents;  // the image's bytes
        bool link;             // the image is a link to a file outside the folder of this size
        const char* directive; // attaches the part, or "" for the power-on part
        std::string problem;
    };
    const std::vector<Case> cases = {
        {"another size", std::string(100, 'x'), false, "",
         image + ": it holds 100 bytes, but the EEPROM on bus 0 at 0x50 holds 32768 (remove the file, or give the part its size)"},
        {"a symbolic link", std::string(32768, 'x'), true, "",
         image + ": a symbolic link, which the board does not follow"},
        {"a part of another size attached", std::string(32768, 'x'), false, "i2c attach 0 0x50 eeprom 256",
         image + ": it holds 32768 bytes, but the EEPROM on bus 0 at 0x50 holds 256"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A fresh, erased part, kept nowhere.
        vboard::setBoardFolder("");
        vboard::i2cBus(0).attach(0x50, std::make_shared<vboard::I2cEeprom>());
        std::filesystem::remove_all(board);
        std::filesystem::create_directories(board);
        std::ofstream(c.link ? outside : image, std::ios::binary) << c.contents;
        if (c.link) std::filesystem::create_symlink(outside, image);
        ASSERT_TRUE(vboard::setBoardFolder(board));
        if (*c.directive != '\0') {
            tarvik_test::expectConfigLine(c.directive, c.problem);
        } else {
            const auto problems = vboard::storageProblems();
            ASSERT_FALSE(problems.empty());
            EXPECT_EQ(problems.back().find(c.problem), 0u) << problems.back();
        }
        // Erased when it was refused at power-on; the directive's part was not attached at all.
        EXPECT_EQ(readEeprom(0x50, 0, 2), (*c.directive ? Bytes{'x', 'x'} : Bytes{0xFF, 0xFF}));
        ASSERT_TRUE(writeEeprom(0x50, 0, {1, 2}));
        std::ifstream kept(c.link ? outside : image, std::ios::binary);
        const std::string after((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
        if (*c.directive != '\0')  // the part there still keeps its contents in the image
            EXPECT_EQ(after.substr(0, 3), "\x01\x02x");
        else
            EXPECT_EQ(after, c.contents);
    }
    vboard::setBoardFolder("");
}

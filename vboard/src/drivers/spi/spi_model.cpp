// The SPI ports behind "SPI1:" and "SPI2:": the exchange request, the devices on the chip
// selects, the completion event set by name, the control side, the "spi" directive and the
// trace decode.
#include "drivers/spi/spi_model.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "os/text.h"

namespace vboard {
namespace {

static_assert(sizeof(SpiBusConfigRecord) == 32, "the bus configuration is 32 bytes");
static_assert(offsetof(SpiBusConfigRecord, configByte) == 28, "configuration byte last");
static_assert(sizeof(SpiExchangeRecord) == (sizeof(void*) == 4 ? 24 : 48),
              "three pointers, the word count, the name, its tag");

// The largest exchange the driver takes in one request: 64 KiB.
constexpr int32_t kSpiMaxBits = 64 * 1024 * 8;
// An event name the driver reads is at most this long, as the kernel's object names are.
constexpr size_t kSpiMaxEventName = 260;

size_t bytesFor(int32_t bitCount) { return (static_cast<size_t>(bitCount) + 7) / 8; }

std::vector<uint8_t> kept(const uint8_t* data, size_t size) {
    return std::vector<uint8_t>(data, data + std::min(size, kSpiKeptBytes));
}

// "9F 00", or the first bytes and "..." when the exchange moved more than is kept.
std::string shown(const std::vector<uint8_t>& data, size_t total) {
    return hexBytes(data) + (total > data.size() ? " ..." : "");
}

// What the trace shows of an exchange, as far as the port got in reading it.
std::string describe(const SpiExchange& seen, bool busRead) {
    if (!busRead) return "no bus configuration";
    const SpiBusSettings& bus = seen.bus;
    std::string text = "cs " + std::to_string(bus.chipSelect);
    if (bus.polarity <= 1 && bus.phase <= 1)
        text += " mode " + std::to_string(bus.mode());
    else
        text += " polarity " + std::to_string(bus.polarity) + " phase " + std::to_string(bus.phase);
    text += " " + std::to_string(bus.frequency) + " Hz " + std::to_string(bus.bitCount) + " bits";
    if (seen.error == ERROR_SUCCESS) {
        text += " tx " + shown(seen.tx, seen.bytes) + " rx " + shown(seen.rx, seen.bytes);
        if (seen.device.empty()) text += " (nothing selected)";
    }
    if (!seen.eventName.empty())
        text += " signal " + quote(seen.eventName) +
                (seen.error == ERROR_SUCCESS && !seen.signaled ? " (no such event)" : "");
    return text;
}

class SpiLoopback : public SpiDevice {
public:
    void exchange(const SpiBusSettings&, const uint8_t* tx, uint8_t* rx, size_t bytes) override {
        std::memcpy(rx, tx, bytes);
    }
    std::string kind() const override { return "loopback"; }
};

// ---- Configuration ----

bool parsePort(const std::string& text, int& port) {
    uint64_t value = 0;
    if (!parseUnsigned(text, kSpiPorts - 1, value)) return false;
    port = static_cast<int>(value);
    return true;
}

std::string attachDirective(SpiPorts& ports, const std::vector<std::string>& words) {
    const std::string usage = "expected: spi attach <port 0|1> loopback|flash|none [<chip select 0-3>]";
    if (words.size() != 4 && words.size() != 5) return usage;
    int port = 0;
    if (!parsePort(words[2], port)) return "no SPI port " + words[2] + " on the board (0 or 1)";
    uint64_t chipSelect = static_cast<uint64_t>(spiWiredChipSelect(port));
    if (words.size() == 5 && !parseUnsigned(words[4], kSpiChipSelects - 1, chipSelect))
        return "no chip select " + words[4] + " on an SPI port (0 to 3)";
    std::shared_ptr<SpiDevice> device = makeSpiDevice(words[3]);
    if (!device && words[3] != "none") return "no SPI device model '" + words[3] + "' (loopback, flash, none)";
    if (!ports.attach(port, device, static_cast<int>(chipSelect))) return usage;
    return "";
}

std::string flashDirective(SpiPorts& ports, const std::vector<std::string>& words) {
    if (words.size() < 5) return "expected: spi flash <port 0|1> <address> <hex bytes ...>";
    int port = 0;
    if (!parsePort(words[2], port)) return "no SPI port " + words[2] + " on the board (0 or 1)";
    uint32_t address = 0;
    if (!parseDword(words[3], address)) return "'" + words[3] + "' is no address";
    std::vector<uint8_t> data;
    for (size_t i = 4; i < words.size(); ++i) {
        uint64_t value = 0;
        const std::string& word = words[i];
        if (word.size() != 2 || !parseUnsigned("0x" + word, 0xFF, value))
            return "'" + word + "' is no hex byte (two digits, as in 9F)";
        data.push_back(static_cast<uint8_t>(value));
    }
    auto flash = std::dynamic_pointer_cast<SpiNorFlash>(ports.device(port, -1));
    if (!flash) return "no flash on SPI port " + words[2] + "'s chip select";
    flash->program(address, data);
    return "";
}

std::string spiDirective(SpiPorts& ports, const std::vector<std::string>& words) {
    const std::string sub = words.size() > 1 ? words[1] : "";
    if (sub == "attach") return attachDirective(ports, words);
    if (sub == "flash") return flashDirective(ports, words);
    if (sub == "reset") {
        if (words.size() != 2) return "expected: spi reset";
        ports.reset();
        return "";
    }
    return "expected: spi attach ..., spi flash ... or spi reset";
}

// The ports installed on this process's board. Like the board they are never destroyed.
Installed<SpiPorts> installed;

}  // namespace

// ---- Device models ----

std::shared_ptr<SpiDevice> makeSpiLoopback() { return std::make_shared<SpiLoopback>(); }

std::shared_ptr<SpiDevice> makeSpiDevice(const std::string& kind) {
    if (kind == "loopback") return makeSpiLoopback();
    if (kind == "flash") return std::make_shared<SpiNorFlash>();
    return nullptr;
}

SpiNorFlash::SpiNorFlash(const Config& config) : config_(config) {
    if (config_.size == 0) config_.size = 1;
}

uint8_t SpiNorFlash::at(uint32_t address) const {
    address %= config_.size;
    return address < programmed_.size() ? programmed_[address] : 0xFF;
}

void SpiNorFlash::exchange(const SpiBusSettings& bus, const uint8_t* tx, uint8_t* rx,
                           size_t bytes) {
    std::fill(rx, rx + bytes, 0xFF);
    // The flash takes modes 0 and 3, which sample on the same clock edge; in modes 1 and 2 it
    // reads no command and keeps its output off the bus.
    if (bytes == 0 || bus.mode() == 1 || bus.mode() == 2) return;
    std::lock_guard<std::mutex> hold(lock_);
    switch (tx[0]) {
        case 0x9F:  // READ IDENTIFICATION
            for (size_t i = 1; i < bytes && i <= 3; ++i) rx[i] = config_.id[i - 1];
            break;
        case 0x05:  // READ STATUS: never busy, never write-enabled
            std::fill(rx + 1, rx + bytes, 0x00);
            break;
        case 0x03:    // READ
        case 0x0B: {  // FAST READ, one dummy byte after the address
            const size_t header = tx[0] == 0x03 ? 4 : 5;
            if (bytes < 4) break;
            const uint32_t address = static_cast<uint32_t>(tx[1]) << 16 |
                                     static_cast<uint32_t>(tx[2]) << 8 | tx[3];
            for (size_t i = header; i < bytes; ++i)
                rx[i] = at(static_cast<uint32_t>(address + (i - header)));
            break;
        }
        default:
            break;
    }
}

void SpiNorFlash::program(uint32_t address, const std::vector<uint8_t>& data) {
    std::lock_guard<std::mutex> hold(lock_);
    for (size_t i = 0; i < data.size(); ++i) {
        const uint32_t where = static_cast<uint32_t>((address + i) % config_.size);
        if (where >= programmed_.size()) programmed_.resize(where + 1, 0xFF);
        programmed_[where] = data[i];
    }
}

std::vector<uint8_t> SpiNorFlash::read(uint32_t address, size_t length) const {
    std::vector<uint8_t> out(length);
    std::lock_guard<std::mutex> hold(lock_);
    for (size_t i = 0; i < length; ++i) out[i] = at(static_cast<uint32_t>(address + i));
    return out;
}

// ---- Bus side ----

DWORD SpiPorts::read(const IoRequest& request, SpiExchangeRecord& record, SpiExchange& seen) const {
    if (request.in == nullptr || request.inSize != sizeof record)
        return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    std::memcpy(&record, request.in, sizeof record);
    seen.wordCount = record.wordCount;
    seen.eventNameTag = record.eventNameTag;
    if (record.eventName != nullptr) {
        const size_t length = wcsnlen(record.eventName, kSpiMaxEventName + 1);
        if (length > kSpiMaxEventName) return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
        seen.eventName = toUtf8(std::wstring(record.eventName, length));
    }
    if (record.busConfig == nullptr) return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    SpiBusConfigRecord config;
    std::memcpy(&config, record.busConfig, sizeof config);
    const auto* raw = reinterpret_cast<const uint8_t*>(record.busConfig);
    seen.busConfig.assign(raw, raw + sizeof config);
    seen.bus.chipSelect = config.chipSelect;
    seen.bus.frequency = config.frequency;
    seen.bus.bitCount = config.bitCount;
    seen.bus.polarity = config.polarity;
    seen.bus.phase = config.phase;
    seen.bus.configByte = config.configByte;

    const bool framed = config.chipSelect < kSpiChipSelects && config.frequency != 0 &&
                        config.polarity <= 1 && config.phase <= 1;
    const bool sized = config.bitCount > 0 && config.bitCount <= kSpiMaxBits &&
                       record.wordCount == (static_cast<uint32_t>(config.bitCount) + 31) / 32;
    if (!framed || !sized || record.txBuffer == nullptr || record.rxBuffer == nullptr)
        return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    return ERROR_SUCCESS;
}

DWORD SpiPorts::exchange(int port, IoRequest& request) {
    if (request.code != kSpiExchange) return static_cast<DWORD>(ERROR_NOT_SUPPORTED);
    SpiExchangeRecord record{};
    SpiExchange seen;
    seen.port = port;
    seen.error = read(request, record, seen);
    const bool busRead = !seen.busConfig.empty();
    if (seen.error == ERROR_SUCCESS) {
        seen.bytes = bytesFor(seen.bus.bitCount);
        // The device sees buffers of its own: the caller may send and receive in one.
        std::vector<uint8_t> out(record.txBuffer, record.txBuffer + seen.bytes);
        std::vector<uint8_t> in(seen.bytes, 0xFF);
        {
            // The port's wires carry one exchange at a time. The control side's lock is not held
            // while the device runs, so that it may look at the ports from inside its exchange.
            std::lock_guard<std::mutex> wires(wires_[port]);
            std::shared_ptr<SpiDevice> device;
            {
                std::lock_guard<std::mutex> hold(lock_);
                device = devices_[port][seen.bus.chipSelect];
            }
            if (device) {
                device->exchange(seen.bus, out.data(), in.data(), seen.bytes);
                seen.device = device->kind();
            }
        }
        std::memcpy(record.rxBuffer, in.data(), seen.bytes);
        seen.tx = kept(out.data(), out.size());
        seen.rx = kept(in.data(), in.size());
        // Complete: the waiting caller is released through the event it named.
        if (!seen.eventName.empty()) seen.signaled = complete(port, seen.eventName);
    }
    if (request.traced) {
        const std::string text = request.in != nullptr && request.inSize == sizeof record
                                     ? describe(seen, busRead)
                                     : "malformed";
        request.note(text);
    }
    const DWORD error = seen.error;
    keep(std::move(seen));
    return error;
}

bool SpiPorts::complete(int port, const std::string& event) {
    // The library names one event for both ports and waits on it after each exchange. An
    // auto-reset event keeps one completion: when another thread's exchange has not yet taken
    // its completion as this one's arrives, the two merge and on the module one of the two
    // callers waits for ever. The board says so, and from then on keeps every completion that
    // comes while one is waiting to be taken, so that the test ends. A completion the same
    // thread left (its wait failed) is no such overlap.
    std::lock_guard<std::mutex> hold(completionsLock_);
    const auto me = std::this_thread::get_id();
    auto found = completions_.find(event);
    const bool otherThread = found != completions_.end() && found->second.lastThread != me;
    const bool overlapped = found != completions_.end() && found->second.overlapped;
    const std::optional<bool> wasSet = setNamedEvent(event, otherThread || overlapped);
    if (!wasSet) return false;
    Completions& state = completions_[event];
    if (*wasSet && otherThread) {
        state.overlapped = true;
        const std::string earlier = kSpiDevices[state.lastPort];
        const std::string ports = earlier == kSpiDevices[port]
                                      ? "both on " + earlier
                                      : earlier + " and " + kSpiDevices[port];
        recordMisuse("SPI exchanges in flight at once from two threads (" + ports +
                     ") share the completion event " + quote(event) +
                     ", which keeps one completion: on the module one caller would wait for ever "
                     "(serialise exchanges across both ports)");
    }
    state.lastPort = port;
    state.lastThread = me;
    return true;
}

void SpiPorts::keep(SpiExchange&& seen) {
    std::lock_guard<std::mutex> hold(lock_);
    exchanges_.push(std::move(seen), kDefaultRecordLimit);
}

std::optional<std::string> SpiPortDriver::decode(const TraceEntry& e) const {
    if (e.function != "DeviceIoControl" || e.code != kSpiExchange) return std::nullopt;
    return e.detail.empty() ? std::string("EXCHANGE")
                            : "EXCHANGE " + e.detailText();
}

// ---- Control side ----

bool SpiPorts::attach(int port, std::shared_ptr<SpiDevice> device, int chipSelect) {
    if (port < 0 || port >= kSpiPorts) return false;
    if (chipSelect == -1) chipSelect = spiWiredChipSelect(port);
    if (chipSelect < 0 || chipSelect >= kSpiChipSelects) return false;
    std::lock_guard<std::mutex> hold(lock_);
    devices_[port][chipSelect] = std::move(device);
    return true;
}

std::shared_ptr<SpiDevice> SpiPorts::device(int port, int chipSelect) const {
    if (port < 0 || port >= kSpiPorts) return nullptr;
    if (chipSelect == -1) chipSelect = spiWiredChipSelect(port);
    if (chipSelect < 0 || chipSelect >= kSpiChipSelects) return nullptr;
    std::lock_guard<std::mutex> hold(lock_);
    return devices_[port][chipSelect];
}

std::vector<SpiExchange> SpiPorts::exchanges() const {
    std::lock_guard<std::mutex> hold(lock_);
    return exchanges_.items();
}

void SpiPorts::reset() {
    std::lock_guard<std::mutex> hold(lock_);
    for (auto& port : devices_)
        for (auto& device : port) device.reset();
    devices_[0][spiWiredChipSelect(0)] = makeSpiDevice("flash");
    devices_[1][spiWiredChipSelect(1)] = makeSpiDevice("loopback");
    exchanges_.clear();
    std::lock_guard<std::mutex> completions(completionsLock_);
    completions_.clear();
}

void SpiPorts::powerOn() { reset(); }

// ---- Installation ----

void installSpi(Host& host) {
    auto ports = std::make_shared<SpiPorts>();
    installed.keep(ports);
    // At power-on the board's flash and loopback are on their chip selects and both device names
    // are on the board.
    host.plugAtPowerOn({{kSpiDevices[0], std::make_shared<SpiPortDriver>(ports, 0)},
                        {kSpiDevices[1], std::make_shared<SpiPortDriver>(ports, 1)}},
                       [ports] { ports->powerOn(); });
    SpiPorts* model = ports.get();
    host.addDirective(Directive{
        "spi",
        "spi attach <port> loopback|flash|none [<chip select>] | spi flash <port> <address> "
        "<hex bytes ...> | spi reset",
        [model](const std::vector<std::string>& words, const std::string&) {
            return spiDirective(*model, words);
        }});
    host.nameRequests("SPI", {{"EXCHANGE", kSpiExchange}});
}

SpiControl& spi() { return installed.get(); }

}  // namespace vboard

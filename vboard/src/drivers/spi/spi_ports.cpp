// The SPI ports behind "SPI1:" and "SPI2:": the exchange request, the devices on the chip
// selects, the completion event set by name, and the ports' control side.
#include "drivers/spi/spi_ports.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <utility>

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

}  // namespace

// ---- Bus side ----

DWORD SpiPorts::parseRequest(const IoRequest& request, SpiExchangeRecord& record,
                             SpiExchange& seen) const {
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
    seen.error = parseRequest(request, record, seen);
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
                                     ? describeSpiExchange(seen, busRead)
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

// ---- Control side ----

namespace {

void unkeep(const std::shared_ptr<SpiDevice>& device) {
    if (auto flash = std::dynamic_pointer_cast<SpiNorFlash>(device)) flash->keepWith(nullptr);
}

bool wiredPlace(int port, int& chipSelect) {
    if (port < 0 || port >= kSpiPorts) return false;
    if (chipSelect == -1) chipSelect = spiWiredChipSelect(port);
    return chipSelect >= 0 && chipSelect < kSpiChipSelects;
}

}  // namespace

std::string SpiPorts::keep(int port, int chipSelect, const std::shared_ptr<SpiDevice>& device,
                           bool report) {
    auto flash = std::dynamic_pointer_cast<SpiNorFlash>(device);
    if (!flash) return "";
    flash->keepWith(nullptr);
    const std::string name = "spi" + std::to_string(port) + "-cs" + std::to_string(chipSelect) + ".flash.bin";
    const std::string part = "the flash on SPI port " + std::to_string(port) + " chip select " +
                             std::to_string(chipSelect);
    BoardImage image = loadBoardImage(name, flash->config().size, part);
    if (image.state == BoardImage::kRefused) {
        if (report) reportBoardProblem(image.problem);
        return image.problem;
    }
    if (image.state == BoardImage::kLoaded) flash->program(0, image.data);
    if (image.state != BoardImage::kNoFolder) flash->keepWith(keepBoardImage(image.folder, name));
    return "";
}

void SpiPorts::put(int port, int chipSelect, std::shared_ptr<SpiDevice> device) {
    std::shared_ptr<SpiDevice> old;
    {
        std::lock_guard<std::mutex> hold(lock_);
        old = std::exchange(devices_[port][chipSelect], std::move(device));
    }
    unkeep(old);
}

bool SpiPorts::attach(int port, std::shared_ptr<SpiDevice> device, int chipSelect) {
    if (!wiredPlace(port, chipSelect)) return false;
    // Wired all the same when its image does not fit: that is reported (storageProblems), and
    // the flash works unkept.
    put(port, chipSelect, device);
    keep(port, chipSelect, device, true);
    return true;
}

std::string SpiPorts::attachKept(int port, std::shared_ptr<SpiDevice> device, int chipSelect) {
    if (!wiredPlace(port, chipSelect)) return "no such port or chip select";
    const std::string problem = keep(port, chipSelect, device, false);
    if (problem.empty()) put(port, chipSelect, std::move(device));
    return problem;
}

void SpiPorts::keepInFolder() {
    for (int port = 0; port < kSpiPorts; ++port)
        for (int chipSelect = 0; chipSelect < kSpiChipSelects; ++chipSelect)
            keep(port, chipSelect, device(port, chipSelect), true);
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
    resetDevices();
    keepInFolder();
}

void SpiPorts::resetDevices() {
    std::lock_guard<std::mutex> hold(lock_);
    for (auto& port : devices_)
        for (auto& device : port) {
            unkeep(device);
            device.reset();
        }
    devices_[0][spiWiredChipSelect(0)] = makeSpiDevice("flash");
    devices_[1][spiWiredChipSelect(1)] = makeSpiDevice("loopback");
    exchanges_.clear();
    std::lock_guard<std::mutex> completions(completionsLock_);
    completions_.clear();
}

void SpiPorts::powerOn() { resetDevices(); }

}  // namespace vboard

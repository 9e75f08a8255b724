// The physical-access drivers and the address space behind them.
#include "drivers/phy/phy_model.h"

#include <cstring>

#include "drivers/phy/phy_text.h"
#include "os/text.h"

namespace vboard {
namespace {

static_assert(sizeof(PhysicalAccessRecord) == 12, "address, value, width, three reserved bytes");

constexpr DWORD kErrorNoAccess = 998;  // ERROR_NOACCESS: a misaligned access

// A few registers with their documented reset values, so that a read shows the real chip.
struct ResetRegister {
    uint32_t address;
    uint32_t value;
    bool readOnly;  // writes are ignored, as the hardware ignores them
};
constexpr ResetRegister kResetRegisters[] = {
    {kCcmCcr, 0x040116FF, false},
    {kAnatopDigprog, 0x00630002, true},
    {kSrcScr, 0x00000521, false},
    {kWdog1Wcr, 0x00000030, false},  // a 16-bit register: the upper half of its word reads 0
};

bool readOnlyWord(uint32_t wordAddress) {
    for (const ResetRegister& r : kResetRegisters)
        if (r.readOnly && r.address == wordAddress) return true;
    return false;
}

DWORD checkAccess(uint32_t address, unsigned width) {
    if (width != 8 && width != 16 && width != 32) return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    if (address % (width / 8) != 0) return kErrorNoAccess;
    return ERROR_SUCCESS;
}

uint32_t mask(unsigned width) { return width == 32 ? 0xFFFFFFFFu : (1u << width) - 1; }

uint32_t field(const Bytes& bytes, size_t offset) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4 && offset + i < bytes.size(); ++i)
        value |= static_cast<uint32_t>(bytes[offset + i]) << (8 * i);
    return value;
}

std::string phyDirective(PhysicalMemory& memory, const std::vector<std::string>& words) {
    const std::string usage = "expected: phy <address> 8|16|32 <value>";
    uint32_t address = 0;
    uint32_t value = 0;
    uint64_t width = 0;
    if (words.size() != 4 || !parseDword(words[1], address) ||
        !parseUnsigned(words[2], 32, width) || !parseDword(words[3], value))
        return usage;
    if (checkAccess(address, static_cast<unsigned>(width)) != ERROR_SUCCESS)
        return "no " + words[2] + "-bit register at " + words[1] + " (width 8, 16 or 32, aligned)";
    if (value > mask(static_cast<unsigned>(width))) return "value " + words[3] + " is wider than the register";
    memory.poke(address, static_cast<unsigned>(width), value);
    return "";
}

Installed<PhysicalMemory> installed;

}  // namespace

// ---- The address space ----

DWORD PhysicalMemory::read(uint32_t address, unsigned width, uint32_t& value) const {
    if (DWORD error = checkAccess(address, width)) return error;
    std::lock_guard<std::mutex> hold(lock_);
    auto it = words_.find(address & ~3u);
    const uint32_t word = it == words_.end() ? 0 : it->second;
    value = (word >> (8 * (address & 3))) & mask(width);
    return ERROR_SUCCESS;
}

DWORD PhysicalMemory::write(uint32_t address, unsigned width, uint32_t value) {
    if (DWORD error = checkAccess(address, width)) return error;
    const uint32_t wordAddress = address & ~3u;
    if (readOnlyWord(wordAddress)) return ERROR_SUCCESS;
    std::lock_guard<std::mutex> hold(lock_);
    storeLocked(address, width, value);
    return ERROR_SUCCESS;
}

void PhysicalMemory::storeLocked(uint32_t address, unsigned width, uint32_t value) {
    const unsigned shift = 8 * (address & 3);
    uint32_t& word = words_[address & ~3u];
    word = (word & ~(mask(width) << shift)) | ((value & mask(width)) << shift);
}

void PhysicalMemory::note(PhysicalAccess access) {
    std::lock_guard<std::mutex> hold(lock_);
    accesses_.push(std::move(access), kDefaultRecordLimit);
}

std::optional<uint32_t> PhysicalMemory::peek(uint32_t address, unsigned width) const {
    uint32_t value = 0;
    if (read(address, width, value) != ERROR_SUCCESS) return std::nullopt;
    return value;
}

bool PhysicalMemory::poke(uint32_t address, unsigned width, uint32_t value) {
    if (checkAccess(address, width) != ERROR_SUCCESS) return false;
    // The outside world may set even a read-only register (a board with another silicon).
    std::lock_guard<std::mutex> hold(lock_);
    storeLocked(address, width, value);
    return true;
}

std::vector<PhysicalAccess> PhysicalMemory::accesses() const {
    std::lock_guard<std::mutex> hold(lock_);
    return accesses_.items();
}

void PhysicalMemory::powerOn() {
    std::lock_guard<std::mutex> hold(lock_);
    words_.clear();
    for (const ResetRegister& r : kResetRegisters) words_[r.address] = r.value;
    accesses_.clear();
}

// ---- Bus side ----

DWORD PhysicalAccessDriver::ioControl(IoRequest& request) {
    const bool read = request.code == kPhyRead;
    if (!read && request.code != kPhyWrite) return static_cast<DWORD>(ERROR_NOT_SUPPORTED);
    // The record travels in the input buffer for a read and in the output buffer for a write,
    // and the other buffer stays empty.
    uint8_t* carrier = read ? request.in : request.out;
    const DWORD carrierSize = read ? request.inSize : request.outSize;
    const DWORD otherSize = read ? request.outSize : request.inSize;
    if (carrier == nullptr || carrierSize != sizeof(PhysicalAccessRecord) || otherSize != 0)
        return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    PhysicalAccessRecord record;
    std::memcpy(&record, carrier, sizeof record);
    DWORD error;
    if (read) {
        error = memory_->read(record.address, record.width, record.value);
        if (error == ERROR_SUCCESS)
            std::memcpy(carrier + offsetof(PhysicalAccessRecord, value), &record.value,
                        sizeof record.value);
    } else {
        error = memory_->write(record.address, record.width, record.value);
    }
    memory_->note(PhysicalAccess{number_, !read, record.address, record.width,
                                 record.value, error});
    return error;
}

std::optional<std::string> PhysicalAccessDriver::decode(const TraceEntry& e) const {
    if (e.function != "DeviceIoControl") return std::nullopt;
    const bool read = e.code == kPhyRead;
    if (!read && e.code != kPhyWrite) return std::nullopt;
    const Bytes& sent = read ? e.in : e.out;
    const char* name = read ? "READ" : "WRITE";
    // A write's record is in the output buffer, which the trace keeps as it was after the call;
    // the driver does not change it.
    if (sent.size() != sizeof(PhysicalAccessRecord))
        return std::string(name) + " malformed [" + hexBytes(read ? e.in : e.out) + "]";
    std::string text = std::string(name) + " " + hex8(field(sent, 0)) + " width " +
                       std::to_string(sent[8]);
    if (!read)
        text += " value " + hex(field(sent, 4));
    else if (e.ok && e.inAfter.size() == sizeof(PhysicalAccessRecord))
        text += " value " + hex(field(e.inAfter, 4));
    return text;
}

// ---- Installation ----

void installPhy(Host& host) {
    auto memory = std::make_shared<PhysicalMemory>();
    installed.keep(memory);
    std::vector<Plug> drivers;
    for (int n = 1; n <= kPhysicalAccessDevices; ++n)
        drivers.push_back({"PHY" + std::to_string(n) + ":", std::make_shared<PhysicalAccessDriver>(n, memory)});
    host.plugAtPowerOn(std::move(drivers), [memory] { memory->powerOn(); });
    PhysicalMemory* model = memory.get();
    host.addDirective(Directive{"phy", "phy <address> 8|16|32 <value>",
                                [model](const std::vector<std::string>& words, const std::string&) {
                                    return phyDirective(*model, words);
                                }});
    host.nameRequests("PHY", {{"READ", kPhyRead}, {"WRITE", kPhyWrite}});
}

PhysicalMemoryControl& physicalMemory() { return installed.get(); }

}  // namespace vboard

// The physical-access drivers and the address space behind them.
#include "drivers/phy/physical_access_driver.h"

#include <cstring>

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

}  // namespace

DWORD physicalAccessCheck(uint32_t address, unsigned width) {
    if (width != 8 && width != 16 && width != 32) return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    if (address % (width / 8) != 0) return kErrorNoAccess;
    return ERROR_SUCCESS;
}

uint32_t physicalWidthMask(unsigned width) { return width == 32 ? 0xFFFFFFFFu : (1u << width) - 1; }

// ---- The address space ----

DWORD PhysicalMemory::read(uint32_t address, unsigned width, uint32_t& value) const {
    if (DWORD error = physicalAccessCheck(address, width)) return error;
    std::lock_guard<std::mutex> hold(lock_);
    auto it = words_.find(address & ~3u);
    const uint32_t word = it == words_.end() ? 0 : it->second;
    value = (word >> (8 * (address & 3))) & physicalWidthMask(width);
    return ERROR_SUCCESS;
}

DWORD PhysicalMemory::write(uint32_t address, unsigned width, uint32_t value) {
    if (DWORD error = physicalAccessCheck(address, width)) return error;
    const uint32_t wordAddress = address & ~3u;
    if (readOnlyWord(wordAddress)) return ERROR_SUCCESS;
    std::lock_guard<std::mutex> hold(lock_);
    storeLocked(address, width, value);
    return ERROR_SUCCESS;
}

void PhysicalMemory::storeLocked(uint32_t address, unsigned width, uint32_t value) {
    const unsigned shift = 8 * (address & 3);
    uint32_t& word = words_[address & ~3u];
    const uint32_t mask = physicalWidthMask(width);
    word = (word & ~(mask << shift)) | ((value & mask) << shift);
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
    if (physicalAccessCheck(address, width) != ERROR_SUCCESS) return false;
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

}  // namespace vboard

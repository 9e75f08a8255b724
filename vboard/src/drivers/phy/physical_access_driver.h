// The physical-access drivers "PHY1:" to "PHY9:" as models: nine opens onto one sparse physical
// address space of the i.MX6, with 8-, 16- and 32-bit accesses.
//
// A read carries its record in the input buffer and is answered in it; a write carries its
// record in the output buffer and has no input. The driver takes nothing else.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "os/host.h"
#include "vboard/system.h"

namespace vboard {

constexpr DWORD kPhyRead = 0x6BBD;
constexpr DWORD kPhyWrite = 0x6BBE;

struct PhysicalAccessRecord {
    uint32_t address;
    uint32_t value;
    uint8_t width;
    uint8_t reserved[3];
};

// The address space the nine drivers share: a word per 4-byte-aligned address written or named
// in the reset table, 0 everywhere else.
class PhysicalMemory : public PhysicalMemoryControl {
public:
    // ERROR_SUCCESS, or why the access is refused: a width other than 8, 16 or 32
    // (ERROR_INVALID_PARAMETER), or an address not aligned to it (ERROR_NOACCESS).
    DWORD read(uint32_t address, unsigned width, uint32_t& value) const;
    DWORD write(uint32_t address, unsigned width, uint32_t value);
    void note(PhysicalAccess access);

    std::optional<uint32_t> peek(uint32_t address, unsigned width) const override;
    bool poke(uint32_t address, unsigned width, uint32_t value) override;
    std::vector<PhysicalAccess> accesses() const override;
    // The reset values of the registers in the table, nothing else, and no access seen.
    void powerOn();

private:
    // Merges a checked access into its word.
    void storeLocked(uint32_t address, unsigned width, uint32_t value);
    mutable std::mutex lock_;
    std::map<uint32_t, uint32_t> words_;
    Window<PhysicalAccess> accesses_;
};

class PhysicalAccessDriver : public StreamDriver {
public:
    PhysicalAccessDriver(int number, std::shared_ptr<PhysicalMemory> memory)
        : number_(number), memory_(std::move(memory)) {}
    DWORD ioControl(IoRequest& request) override;
    std::optional<std::string> decode(const TraceEntry& entry) const override;

private:
    int number_;
    std::shared_ptr<PhysicalMemory> memory_;
};

// ERROR_SUCCESS when an access of `width` bits at `address` is one the drivers take: a width of
// 8, 16 or 32 (else ERROR_INVALID_PARAMETER), aligned to it (else ERROR_NOACCESS).
DWORD physicalAccessCheck(uint32_t address, unsigned width);
// The bits of a register of `width` bits.
uint32_t physicalWidthMask(unsigned width);

// The "phy" directive, on the memory it was installed with.
std::string phyDirective(PhysicalMemory& memory, const std::vector<std::string>& words);

// The nine drivers and their memory, with the power-on step, the "phy" directive and the
// requests' names.
void installPhy(Host& host);

}  // namespace vboard

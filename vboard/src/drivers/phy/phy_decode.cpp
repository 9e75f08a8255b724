// The physical accesses as the trace shows them: "PHY1: READ 0x020C8260 width 32 value 0x630002".
#include <cstdio>

#include "drivers/phy/physical_access_driver.h"

namespace vboard {
namespace {

// A physical address as a register map writes it: "0x020C4000".
inline std::string hex8(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

uint32_t field(const Bytes& bytes, size_t offset) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4 && offset + i < bytes.size(); ++i)
        value |= static_cast<uint32_t>(bytes[offset + i]) << (8 * i);
    return value;
}

}  // namespace

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

}  // namespace vboard

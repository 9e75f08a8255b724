// Maps, relocates and binds a PE image for 32-bit ARM (IMAGE_FILE_MACHINE_ARMNT), as the module's
// loader does for Tarvik.dll.
#include "pe_image.h"

#include <sys/mman.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace tarvik_dll {
namespace {

constexpr uint16_t kMachineArmNt = 0x01C4;
constexpr uint16_t kFileDll = 0x2000;
constexpr uint16_t kOptionalPe32 = 0x010B;
constexpr uint32_t kSectionExecute = 0x20000000;
constexpr uint32_t kSectionWrite = 0x80000000;
constexpr size_t kPage = 4096;
// The data directories used here.
constexpr int kExportDirectory = 0, kImportDirectory = 1, kRelocationDirectory = 5,
              kTlsDirectory = 9;
// Base relocation types of an ARM image: padding, a 32-bit address, a Thumb-2 movw/movt pair.
constexpr int kRelocationAbsolute = 0, kRelocationHighLow = 3, kRelocationThumbMov32 = 7;
constexpr uint32_t kDllProcessDetach = 0, kDllProcessAttach = 1;
using DllMain = int (*)(void* module, uint32_t reason, void* reserved);

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

uint16_t read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t read32(const uint8_t* p) { return read16(p) | static_cast<uint32_t>(read16(p + 2)) << 16; }
void write16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void write32(uint8_t* p, uint32_t v) {
    write16(p, static_cast<uint16_t>(v));
    write16(p + 2, static_cast<uint16_t>(v >> 16));
}

// The 16-bit immediate of a Thumb-2 MOVW/MOVT (T3 encoding): imm4:i:imm3:imm8 spread over the
// two halfwords.
uint16_t movImmediate(const uint8_t* p) {
    const uint16_t first = read16(p), second = read16(p + 2);
    return static_cast<uint16_t>((first & 0x000F) << 12 | (first & 0x0400) << 1 |
                                 (second & 0x7000) >> 4 | (second & 0x00FF));
}
void setMovImmediate(uint8_t* p, uint16_t value) {
    write16(p, static_cast<uint16_t>((read16(p) & 0xFBF0) | (value >> 12) | (value & 0x0800) >> 1));
    write16(p + 2, static_cast<uint16_t>((read16(p + 2) & 0x8F00) | (value & 0x0700) << 4 |
                                         (value & 0x00FF)));
}
bool isMov(const uint8_t* p, uint16_t opcode) { return (read16(p) & 0xFBF0) == opcode; }
constexpr uint16_t kMovw = 0xF240, kMovt = 0xF2C0;

}  // namespace

PeImage::PeImage(const std::string& path, const Binder& bind) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error_ = "cannot read " + path;
        return;
    }
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    error_ = load(file, bind);
    if (!error_.empty()) {
        if (base_ != nullptr) munmap(base_, size_);
        base_ = nullptr;
        error_ = path + ": " + error_;
    }
}

PeImage::~PeImage() {
    if (base_ == nullptr) return;
    // As the module's loader unloads a DLL: its entry is told, and only then are its pages gone.
    if (entry_ != 0) reinterpret_cast<DllMain>(base_ + entry_)(base_, kDllProcessDetach, nullptr);
    munmap(base_, size_);
}

std::string PeImage::load(const std::vector<uint8_t>& file, const Binder& bind) {
    auto fits = [&](size_t at, size_t size) {
        return at <= file.size() && size <= file.size() - at;
    };
    if (!fits(0, 64) || file[0] != 'M' || file[1] != 'Z') return "no MZ header";
    const uint32_t pe = read32(&file[60]);
    if (!fits(pe, 24) || std::memcmp(&file[pe], "PE\0\0", 4) != 0) return "no PE header";
    const uint8_t* header = &file[pe + 4];
    if (read16(header) != kMachineArmNt) return "machine " + hex(read16(header)) + " is not ARMNT";
    if ((read16(header + 18) & kFileDll) == 0) return "not a DLL";
    const uint16_t sectionCount = read16(header + 2);
    const uint16_t optionalSize = read16(header + 16);
    timeDateStamp_ = read32(header + 4);
    const size_t optionalAt = pe + 24;
    if (!fits(optionalAt, optionalSize) || optionalSize < 96 ||
        read16(&file[optionalAt]) != kOptionalPe32)
        return "no 32-bit optional header";
    const uint8_t* optional = &file[optionalAt];
    const uint32_t entry = read32(optional + 16);
    preferredBase_ = read32(optional + 28);
    if (read32(optional + 32) != kPage) return "sections are not page-aligned";
    const uint32_t imageSize = read32(optional + 56);
    const uint32_t headersSize = read32(optional + 60);
    const uint32_t directories = read32(optional + 92);
    auto directory = [&](int index) -> std::pair<uint32_t, uint32_t> {
        if (static_cast<uint32_t>(index) >= directories || 96u + 8u * (index + 1) > optionalSize)
            return {0, 0};
        return {read32(optional + 96 + 8 * index), read32(optional + 100 + 8 * index)};
    };

    // Thread-local data needs the loader's help on every thread; the library has none.
    if (directory(kTlsDirectory).second != 0)
        return "it has thread-local data, which this loader does not set up";

    // Mapped away from the preferred base, as the module's loader may well map it: every
    // relocation is then exercised.
    size_ = (imageSize + kPage - 1) / kPage * kPage;
    void* mapped = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return "cannot map " + std::to_string(size_) + " bytes";
    if (reinterpret_cast<uintptr_t>(mapped) == preferredBase_) {
        void* elsewhere =
            mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        munmap(mapped, size_);
        if (elsewhere == MAP_FAILED) return "cannot map " + std::to_string(size_) + " bytes";
        mapped = elsewhere;
    }
    base_ = static_cast<uint8_t*>(mapped);
    auto inImage = [&](uint32_t rva, uint32_t size) { return rva <= size_ && size <= size_ - rva; };

    if (!fits(0, headersSize) || !inImage(0, headersSize)) return "headers out of the file";
    std::memcpy(base_, file.data(), headersSize);
    struct Section {
        uint32_t rva, size, flags;
    };
    std::vector<Section> sections;
    const size_t sectionTable = optionalAt + optionalSize;
    for (uint16_t i = 0; i < sectionCount; ++i) {
        if (!fits(sectionTable + 40u * i, 40)) return "section table out of the file";
        const uint8_t* s = &file[sectionTable + 40u * i];
        const uint32_t virtualSize = read32(s + 8), rva = read32(s + 12);
        const uint32_t rawSize = read32(s + 16), rawAt = read32(s + 20), flags = read32(s + 36);
        const uint32_t copied = std::min(rawSize, virtualSize);
        if (!inImage(rva, virtualSize) || !fits(rawAt, copied))
            return "section " + std::to_string(i) + " out of the image";
        std::memcpy(base_ + rva, &file[rawAt], copied);  // the rest stays zero, as .bss must
        sections.push_back({rva, virtualSize, flags});
        if (flags & kSectionExecute) code_.emplace_back(rva, virtualSize);
    }

    // Base relocations: blocks of 16-bit entries, a type in the top four bits and an offset
    // into the block's page below.
    const uint32_t delta =
        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(base_)) - preferredBase_;
    const auto [relocRva, relocSize] = directory(kRelocationDirectory);
    if (!inImage(relocRva, relocSize)) return "relocations out of the image";
    for (uint32_t at = relocRva; at + 8 <= relocRva + relocSize;) {
        const uint32_t page = read32(base_ + at), blockSize = read32(base_ + at + 4);
        if (blockSize < 8 || at + blockSize > relocRva + relocSize)
            return "a relocation block is malformed";
        for (uint32_t e = at + 8; e + 2 <= at + blockSize; e += 2) {
            const uint16_t item = read16(base_ + e);
            const int type = item >> 12;
            const uint32_t rva = page + (item & 0x0FFF);
            if (type == kRelocationAbsolute) continue;
            if (!inImage(rva, type == kRelocationThumbMov32 ? 8 : 4))
                return "relocation at RVA " + hex(rva) + " out of the image";
            uint8_t* p = base_ + rva;
            if (type == kRelocationHighLow) {
                write32(p, read32(p) + delta);
            } else if (type == kRelocationThumbMov32) {
                if (!isMov(p, kMovw) || !isMov(p + 4, kMovt))
                    return "THUMB_MOV32 relocation at RVA " + hex(rva) + " is not a movw/movt pair";
                const uint32_t value =
                    (movImmediate(p) | static_cast<uint32_t>(movImmediate(p + 4)) << 16) + delta;
                setMovImmediate(p, static_cast<uint16_t>(value));
                setMovImmediate(p + 4, static_cast<uint16_t>(value >> 16));
            } else {
                return "relocation type " + std::to_string(type) + " at RVA " + hex(rva) +
                       " is none an ARM image uses";
            }
        }
        at += blockSize;
    }

    // Imports: each descriptor names a module and two parallel tables, the names (or ordinals)
    // asked for and the addresses to fill in. Every import that cannot be bound is named.
    const auto [importRva, importSize] = directory(kImportDirectory);
    auto text = [&](uint32_t rva) -> std::string {
        if (!inImage(rva, 1)) return "";
        const char* p = reinterpret_cast<const char*>(base_ + rva);
        return std::string(p, strnlen(p, size_ - rva));
    };
    std::vector<std::string> unbound;
    for (uint32_t d = importRva; importSize != 0 && inImage(d, 20); d += 20) {
        const uint32_t names = read32(base_ + d), moduleName = read32(base_ + d + 12);
        const uint32_t addresses = read32(base_ + d + 16);
        if (moduleName == 0 && addresses == 0) break;
        const std::string module = text(moduleName);
        for (uint32_t i = 0;; ++i) {
            const uint32_t lookup = names != 0 ? names : addresses;
            if (!inImage(lookup + 4 * i, 4) || !inImage(addresses + 4 * i, 4))
                return "import table of " + module + " out of the image";
            const uint32_t thunk = read32(base_ + lookup + 4 * i);
            if (thunk == 0) break;
            Import import{module, "", std::nullopt};
            if (thunk & 0x80000000u)
                import.ordinal = static_cast<uint16_t>(thunk);
            else
                import.name = text(thunk + 2);  // after the 16-bit hint
            std::string why;
            void* target = bind(import, why);
            if (target == nullptr) {
                unbound.push_back(why);
                continue;
            }
            write32(base_ + addresses + 4 * i,
                    static_cast<uint32_t>(reinterpret_cast<uintptr_t>(target)));
        }
    }
    if (!unbound.empty()) {
        std::string all = "cannot bind";
        for (const std::string& why : unbound) all += (all == "cannot bind" ? " " : "; ") + why;
        return all;
    }

    // Exports by name: the name table is sorted, and its ordinal table indexes the addresses.
    const auto [exportRva, exportSize] = directory(kExportDirectory);
    if (exportSize != 0) {
        if (!inImage(exportRva, 40)) return "export directory out of the image";
        const uint8_t* e = base_ + exportRva;
        const uint32_t functionCount = read32(e + 20), nameCount = read32(e + 24);
        const uint32_t functions = read32(e + 28), names = read32(e + 32),
                       ordinals = read32(e + 36);
        for (uint32_t i = 0; i < nameCount; ++i) {
            if (!inImage(names + 4 * i, 4) || !inImage(ordinals + 2 * i, 2))
                return "export names out of the image";
            const uint16_t index = read16(base_ + ordinals + 2 * i);
            if (index >= functionCount || !inImage(functions + 4 * index, 4))
                return "export table out of the image";
            const uint32_t rva = read32(base_ + functions + 4 * index);
            const std::string name = text(read32(base_ + names + 4 * i));
            if (rva >= exportRva && rva < exportRva + exportSize)
                return "export " + name + " is forwarded";
            exports_[name] = rva;
        }
    }

    // Protections as the section flags ask: code read and execute, data read (and write).
    mprotect(base_, kPage, PROT_READ);
    for (const Section& s : sections) {
        const int protection = (s.flags & kSectionExecute) ? PROT_READ | PROT_EXEC
                               : (s.flags & kSectionWrite) ? PROT_READ | PROT_WRITE
                                                           : PROT_READ;
        if (mprotect(base_ + s.rva, (s.size + kPage - 1) / kPage * kPage, protection) != 0)
            return "cannot protect the section at RVA " + hex(s.rva);
    }
    __builtin___clear_cache(reinterpret_cast<char*>(base_), reinterpret_cast<char*>(base_ + size_));

    if (entry != 0) {
        if (!inImage(entry, 2)) return "entry point out of the image";
        const auto dllMain = reinterpret_cast<DllMain>(base_ + entry);
        if (!dllMain(base_, kDllProcessAttach, nullptr))
            return "DllMain refused the process attach";
        entry_ = entry;
    }
    return "";
}

void* PeImage::exportAddress(const std::string& name) const {
    const auto it = exports_.find(name);
    return it == exports_.end() ? nullptr : base_ + it->second;
}

void* PeImage::addressOf(uint32_t rva) const {
    for (const auto& [start, size] : code_)
        if (rva >= start && rva < start + size) return base_ + (rva | 1);
    return base_ + rva;
}

bool MapFile::load(const std::string& path, const PeImage& image, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    image_ = &image;
    bool sameLink = false;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string first, second, third;
        words >> first >> second >> third;
        // " Timestamp is 6b181f8e (...)"
        if (first == "Timestamp" && second == "is") {
            sameLink = std::stoul(third, nullptr, 16) == image.timeDateStamp();
            continue;
        }
        // " 0001:000013c0       ?lookupModuleGpio@tarvik@@YAHII@Z 00000000100023c0   obj"
        if (first.size() != 13 || first[4] != ':' || third.size() != 16) continue;
        const uint64_t address = std::stoull(third, nullptr, 16);
        rvas_[second] = static_cast<uint32_t>(address - image.preferredBase());
    }
    if (!sameLink) {
        error = path + " is not the map of this link (the time stamps differ)";
        return false;
    }
    return true;
}

void* MapFile::address(const std::string& symbol) const {
    const auto it = rvas_.find(symbol);
    return it == rvas_.end() ? nullptr : image_->addressOf(it->second);
}

}  // namespace tarvik_dll

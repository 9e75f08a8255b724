// A PE loader for ARMv7 Linux: maps the module's Tarvik.dll the way the module's loader does, so
// that the test suites run its very code (under qemu-arm on an x86 host). It maps the sections
// away from the preferred base, applies the base relocations, binds the imports through a caller's
// binder, protects the sections and calls DllMain; unloading calls DllMain again and unmaps it.
// Both sides use the same ARM procedure call standard, so an export is called through a plain
// function pointer.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvik_dll {

// One import as the image asks for it: by name, or by ordinal alone.
struct Import {
    std::string module;  // "coredll.dll"
    std::string name;    // empty when imported by ordinal
    std::optional<uint16_t> ordinal;
};

// Answers the address an import is bound to, or nullptr with the reason in `why`.
using Binder = std::function<void*(const Import& import, std::string& why)>;

class PeImage {
public:
    // Loads the file: on failure the image is empty and error() says why, naming every import
    // that could not be bound.
    PeImage(const std::string& path, const Binder& bind);
    // Unloads a loaded image: DllMain's process detach, then its pages unmapped.
    ~PeImage();
    PeImage(const PeImage&) = delete;
    PeImage& operator=(const PeImage&) = delete;

    bool loaded() const { return base_ != nullptr; }
    const std::string& error() const { return error_; }

    uint8_t* base() const { return base_; }
    uint32_t preferredBase() const { return preferredBase_; }
    uint32_t timeDateStamp() const { return timeDateStamp_; }
    // The address of an export, with the Thumb bit as the export table gives it; null if none.
    void* exportAddress(const std::string& name) const;
    // An address at an RVA, with the Thumb bit set when it lies in code.
    void* addressOf(uint32_t rva) const;

private:
    std::string load(const std::vector<uint8_t>& file, const Binder& bind);

    uint8_t* base_ = nullptr;
    size_t size_ = 0;
    uint32_t entry_ = 0;  // DllMain's RVA, 0 for none
    uint32_t preferredBase_ = 0;
    uint32_t timeDateStamp_ = 0;
    std::vector<std::pair<uint32_t, uint32_t>> code_;  // RVA ranges of executable sections
    std::map<std::string, uint32_t> exports_;
    std::string error_;
};

// The linker's map file: every public and static symbol's RVA. It must be the map of the same
// link as the image (the time stamps agree).
class MapFile {
public:
    // False, with the reason in `error`, when the file cannot be read or belongs to another link.
    bool load(const std::string& path, const PeImage& image, std::string& error);
    // The address of a symbol by its decorated name, through the image; null if the map has none.
    void* address(const std::string& symbol) const;

private:
    const PeImage* image_ = nullptr;
    std::map<std::string, uint32_t> rvas_;
};

}  // namespace tarvik_dll

// Loads Tarvik.dll before main and points each export symbol's jump (trampolines.S, made from
// the export list) at the DLL's entry of that name.
#include "loaded_dll.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "coredll_shims.h"

// The DLL's entry of each export, in the order of the export list; the jumps read them.
extern "C" __attribute__((visibility("hidden"))) void* tarvik_dll_entries[];

namespace tarvik_dll {
namespace {

const char* const kExportNames[] = {
#define TARVIK_DLL_EXPORT(name, index) #name,
#include "dll_exports.inc"
#undef TARVIK_DLL_EXPORT
};

// Made by the constructor below, which runs before any static object is constructed.
PeImage* loadedImage = nullptr;
MapFile* loadedMap = nullptr;

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "tarvik-dll: %s\n", why.c_str());
    std::fflush(stderr);
    _exit(1);
}

// TARVIK_DLL names another DLL to load (its map beside it); by default the one `make dll` writes.
__attribute__((constructor(101))) void loadTarvikDll() {
    const char* chosen = std::getenv("TARVIK_DLL");
    const std::string path = chosen != nullptr && *chosen != 0 ? chosen : TARVIK_DLL_FILE;
    loadedImage = new PeImage(path, coredllBinder(TARVIK_COREDLL_DEF));
    if (!loadedImage->loaded()) fail(loadedImage->error() + " (make dll builds it)");
    std::string why;
    const std::string mapPath = path.substr(0, path.rfind('.')) + ".map";
    loadedMap = new MapFile;
    if (!loadedMap->load(mapPath, *loadedImage, why)) fail(why);
    size_t i = 0;
    for (const char* name : kExportNames) {
        void* entry = loadedImage->exportAddress(name);
        if (entry == nullptr) fail(path + " exports no " + name);
        tarvik_dll_entries[i++] = entry;
    }
}

}  // namespace

const PeImage& image() { return *loadedImage; }
const MapFile& map() { return *loadedMap; }

void* internal(const std::string& symbol) {
    void* address = loadedMap->address(symbol);
    if (address == nullptr) fail("the map file has no " + symbol);
    return address;
}

}  // namespace tarvik_dll

void* tarvik_dll_entries[sizeof tarvik_dll::kExportNames / sizeof tarvik_dll::kExportNames[0]];

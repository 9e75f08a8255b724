// Loads Tarvik.dll before main and points each export symbol's jump (trampolines.S, made from
// the export list) at the DLL's entry of that name; a test's fresh library is a fresh copy of it.
#include "loaded_dll.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "coredll_shims.h"
#include "fresh_library.h"

// The DLL's entry of each export, in the order of the export list; the jumps read them.
extern "C" __attribute__((visibility("hidden"))) void* tarvik_dll_entries[];

namespace tarvik_dll {
namespace {

const char* const kExportNames[] = {
#define TARVIK_DLL_EXPORT(name, index) #name,
#include "dll_exports.inc"
#undef TARVIK_DLL_EXPORT
};

// Made by load(), which the constructor below runs before any static object is constructed.
PeImage* loadedImage = nullptr;
MapFile* loadedMap = nullptr;

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "tarvik-dll: %s\n", why.c_str());
    std::fflush(stderr);
    _exit(1);
}

// TARVIK_DLL names another DLL to load (its map beside it); by default the one `make dll` writes.
void load() {
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

__attribute__((constructor(101))) void loadTarvikDll() { load(); }

}  // namespace

const PeImage& image() { return *loadedImage; }
const MapFile& map() { return *loadedMap; }

void* internal(const std::string& symbol) {
    void* address = loadedMap->address(symbol);
    if (address == nullptr) fail("the map file has no " + symbol);
    return address;
}

void loadFresh() {
    delete loadedMap;
    loadedMap = nullptr;
    delete loadedImage;  // DllMain's detach, then its pages unmapped
    loadedImage = nullptr;
    load();
}

}  // namespace tarvik_dll

// Exactly as a process of its own would have it: the DLL's globals as its file holds them.
void tarvik_test::freshLibrary() { tarvik_dll::loadFresh(); }

void* tarvik_dll_entries[sizeof tarvik_dll::kExportNames / sizeof tarvik_dll::kExportNames[0]];

// Tarvik.dll as the test programs of the `dll` preset see it: loaded by the PE loader when the
// program starts and loaded afresh for each test (tarvik_test::freshLibrary), its exports reached
// through the 48 symbols of the export list (each a jump to the DLL's own entry), its internals
// through its map file.
#pragma once

#include <string>

#include "pe_image.h"

namespace tarvik_dll {

// The loaded image and its map; the program ended at start if they could not be loaded. A fresh
// load replaces both: nothing may keep them, or an address within the image, across one.
const PeImage& image();
const MapFile& map();

// Unloads the DLL and loads it again from its file, with fresh globals; the export symbols then
// jump into the new copy. Ends the program when the file can no longer be loaded.
void loadFresh();

// A function inside the DLL by its decorated name in the map file, as the given function type:
// the DLL and Linux pass arguments and results the same way. Ends the program when the map has
// no such symbol. Good until the next fresh load.
void* internal(const std::string& symbol);
template <class F>
F internal(const std::string& symbol) {
    return reinterpret_cast<F>(internal(symbol));
}

}  // namespace tarvik_dll

// A freshly loaded library for every test without a process of its own: the suites also run
// many tests in one process (make test-direct, the fuzz target), and the library keeps handles
// and records from load to unload. Natively (fresh_library.cpp) every family's kept state is
// zeroed, as loading leaves it; against Tarvik.dll (tests/dll/) the loader unloads the DLL and
// maps a fresh copy. Neither is part of the library.
#pragma once

namespace tarvik_test {

// Forgets every kept handle and record without calling the platform. Pair it with the board's
// reset, which closes the handles themselves.
void freshLibrary();

}  // namespace tarvik_test

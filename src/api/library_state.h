// The library's own state (kept handles, per-port records) back to what loading leaves: for the
// tests, which run many cases in one process. Not an export: on the device the state lives from
// load to unload.
#pragma once

namespace tarvik {

// Forgets every kept handle and record without calling the platform. Pair it with the board's
// reset, which closes the handles themselves.
void resetLibraryState();

}  // namespace tarvik

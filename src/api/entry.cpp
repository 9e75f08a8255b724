// The library's entry point. Loading must never fail for reasons of our own and must touch no
// driver, so every notification is answered with success and nothing else happens here.
#include "tarvik_platform.h"

extern "C" BOOL WINAPI DllMain(HANDLE /*module*/, DWORD /*reason*/, LPVOID /*reserved*/) {
    return TRUE;
}

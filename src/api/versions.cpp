// Version queries. The BSP and image numbers live under HKEY_LOCAL_MACHINE\Ident; the key is
// opened afresh on every call so that an image update is seen without reloading the library.
#include "versions.h"

#include "tarvik_platform.h"

namespace tarvik {
namespace {

// The value's type is neither asked for nor tested: a string or binary value of up to four
// bytes comes back as its raw bytes in the low end of the number.
uint32_t readIdentNumber(const WCHAR* valueName, const WCHAR* readFailedMessage) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Ident", 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        NKDbgPrintfW(L"ERROR: Can't open Registry Key HKEY_LOCAL_MACHINE\\Ident\r\n");
        return 0;
    }
    DWORD number = 0;
    DWORD size = sizeof(number);
    if (RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&number),
                         &size) != ERROR_SUCCESS) {
        NKDbgPrintfW(readFailedMessage);
        RegCloseKey(key);
        return 0;
    }
    RegCloseKey(key);
    return number;
}

}  // namespace

uint32_t TarvikGetVersion() { return kLibraryVersion; }

uint32_t BSPGetVersion() {
    return readIdentNumber(L"BSPVersionNumber",
                           L"ERROR: Can't read registry value BSPVersionNumber\r\n");
}

uint32_t WinCEImageGetVersion() {
    return readIdentNumber(L"ImageVersionNumber",
                           L"ERROR: Can't read registry value ImageVersionNumber\r\n");
}

}  // namespace tarvik

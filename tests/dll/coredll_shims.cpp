// The stand-in for coredll.dll: each call Tarvik.dll imports, taking the module's arguments and
// calling the virtual board's platform call of the same name.
#include "coredll_shims.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <vector>

#include "driver_records.h"
#include "vboard/vboard.h"

namespace tarvik_dll {

std::wstring hostText(const DllChar* text) {
    std::wstring out;
    for (const DllChar* p = text; *p != 0; ++p) {
        uint32_t unit = *p;
        if (unit >= 0xD800 && unit < 0xDC00 && p[1] >= 0xDC00 && p[1] < 0xE000)
            unit = 0x10000 + ((unit - 0xD800) << 10) + (*++p - 0xDC00);
        out += static_cast<wchar_t>(unit);
    }
    return out;
}

size_t dllText(const std::wstring& text, DllChar* out, size_t capacity) {
    if (capacity == 0) return 0;
    size_t n = 0;
    for (wchar_t c : text) {
        const uint32_t code = static_cast<uint32_t>(c);
        const size_t units = code >= 0x10000 && code <= 0x10FFFF ? 2 : 1;
        if (n + units >= capacity) break;  // a character that does not fit whole is left out
        if (units == 2) {
            out[n++] = static_cast<DllChar>(0xD800 | (code - 0x10000) >> 10);
            out[n++] = static_cast<DllChar>(0xDC00 | ((code - 0x10000) & 0x3FF));
        } else {
            out[n++] = static_cast<DllChar>(code);
        }
    }
    out[n] = 0;
    return n;
}

namespace {

// A string argument in the board's WCHAR for the length of one call; null stays null.
class Text {
public:
    explicit Text(const DllChar* text)
        : null_(text == nullptr), text_(text ? hostText(text) : L"") {}
    operator const wchar_t*() const { return null_ ? nullptr : text_.c_str(); }

private:
    bool null_;
    std::wstring text_;
};

[[noreturn]] void stop(const std::string& why) {
    std::fprintf(stderr, "tarvik-dll: %s\n", why.c_str());
    std::fflush(stderr);
    std::abort();
}

// ---- Driver requests: the strings inside their records ----

// Calls `send` with the input record as the board must see it. A record that carries strings is
// copied with each in the board's WCHAR; what the driver then writes into the copy goes back to
// the caller's record, whose string pointers stay its own.
template <class Send>
BOOL withHostRecord(const char* call, DWORD code, LPVOID in, DWORD inSize, Send send) {
    const DriverRecord* record = driverRecord(code);
    if (record == nullptr) {
        char text[160];
        std::snprintf(
            text, sizeof text,
            "%s request 0x%X is not in the table of driver records (tests/dll/driver_records.cpp)",
            call, static_cast<unsigned>(code));
        stop(text);
    }
    if (record->stringCount == 0 || in == nullptr) return send(in);
    if (inSize != record->size)
        stop(std::string(call) + " " + record->request + ": a record of " + std::to_string(inSize) +
             " bytes, where the table knows " + std::to_string(record->size));
    std::vector<uint8_t> copy(static_cast<const uint8_t*>(in),
                              static_cast<const uint8_t*>(in) + inSize);
    std::vector<std::wstring> texts(record->stringCount);
    for (uint8_t i = 0; i < record->stringCount; ++i) {
        const DllChar* text;
        std::memcpy(&text, &copy[record->strings[i]], sizeof text);
        if (text == nullptr) continue;
        texts[i] = hostText(text);
        const wchar_t* host = texts[i].c_str();
        std::memcpy(&copy[record->strings[i]], &host, sizeof host);
    }
    const BOOL result = send(copy.data());
    for (uint8_t i = 0; i < record->stringCount; ++i)
        std::memcpy(&copy[record->strings[i]], static_cast<const uint8_t*>(in) + record->strings[i],
                    sizeof(void*));
    if (std::memcmp(in, copy.data(), inSize) != 0) std::memcpy(in, copy.data(), inSize);
    return result;
}

BOOL dllDeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                        DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
    return withHostRecord("DeviceIoControl", code, in, inSize, [&](LPVOID record) {
        return DeviceIoControl(device, code, record, inSize, out, outSize, returned, overlapped);
    });
}

BOOL dllKernelIoControl(DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                        LPDWORD returned) {
    return withHostRecord("KernelIoControl", code, in, inSize, [&](LPVOID record) {
        return KernelIoControl(code, record, inSize, out, outSize, returned);
    });
}

// ---- Debug output ----

// The format's arguments are handed on as the 32-bit words they came in (both sides pass a
// variadic call's arguments the same way: in r1-r3, then on the stack, a 64-bit one at an odd
// word so that it is 8-byte aligned), with each %s string replaced by its board copy. The
// format is walked as the board's formatter walks it: %s and %S are wide strings.
constexpr int kDebugWords = 16;

void dllNKDbgPrintfW(const DllChar* format, ...) {
    if (format == nullptr) {
        NKDbgPrintfW(nullptr);
        return;
    }
    const std::wstring hostFormat = hostText(format);
    std::vector<int> stringWords;
    int words = 0;
    for (const wchar_t* p = hostFormat.c_str(); *p != 0; ++p) {
        if (*p != L'%') continue;
        ++p;
        while (*p != 0 && std::wcschr(L"-0+ #", *p)) ++p;
        if (*p == L'*') ++words, ++p;
        while (*p >= L'0' && *p <= L'9') ++p;
        if (*p == L'.') {
            ++p;
            if (*p == L'*') ++words, ++p;
            while (*p >= L'0' && *p <= L'9') ++p;
        }
        bool wide64 = false;
        if (p[0] == L'l' && p[1] == L'l') {
            wide64 = true, p += 2;
        } else if (p[0] == L'I' && p[1] == L'6' && p[2] == L'4') {
            wide64 = true, p += 3;
        } else {
            while (*p == L'l' || *p == L'h' || *p == L'w') ++p;
        }
        if (*p == 0) break;
        if (std::wcschr(L"diuxXo", *p) != nullptr) {
            if (wide64)
                words += (words % 2 == 0 ? 1 : 0) + 2;  // the pair starts at an odd word
            else
                ++words;
        } else if (*p == L'p' || *p == L'c') {
            ++words;
        } else if (*p == L's' || *p == L'S') {
            stringWords.push_back(words++);
        }
    }
    if (words > kDebugWords) stop("NKDbgPrintfW: a format with more than 16 words of arguments");
    uint32_t word[kDebugWords] = {};
    va_list args;
    va_start(args, format);
    for (int i = 0; i < words; ++i) word[i] = va_arg(args, uint32_t);
    va_end(args);
    std::vector<std::wstring> strings(stringWords.size());
    for (size_t i = 0; i < stringWords.size(); ++i) {
        const auto* text =
            reinterpret_cast<const DllChar*>(static_cast<uintptr_t>(word[stringWords[i]]));
        if (text == nullptr) continue;
        strings[i] = hostText(text);
        word[stringWords[i]] =
            static_cast<uint32_t>(reinterpret_cast<uintptr_t>(strings[i].c_str()));
    }
    NKDbgPrintfW(hostFormat.c_str(), word[0], word[1], word[2], word[3], word[4], word[5], word[6],
                 word[7], word[8], word[9], word[10], word[11], word[12], word[13], word[14],
                 word[15]);
}

// ---- Registry: names, and REG_SZ data in the module's WCHAR ----

bool isString(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

std::string utf8(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        const uint32_t code = static_cast<uint32_t>(c);
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | code >> 6);
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | code >> 12);
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | code >> 18);
            out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

// The value a key handle names, looked at through the board's control side (no platform call,
// nothing in the trace): the board keeps strings as the module does, in UTF-16.
std::optional<vboard::RegValue> storedValue(HKEY key, const wchar_t* name) {
    HKEY root = key;
    std::string path;
    if (key != HKEY_LOCAL_MACHINE && key != HKEY_CURRENT_USER) {
        std::string full;
        for (const vboard::HandleInfo& h : vboard::openHandles())
            if (h.value == reinterpret_cast<HANDLE>(key) && h.kind == "key") full = h.name;
        const size_t slash = full.find('\\');
        const std::string rootName = full.substr(0, slash);
        if (rootName != "HKLM" && rootName != "HKCU") return std::nullopt;
        root = rootName == "HKLM" ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
        path = slash == std::string::npos ? "" : full.substr(slash + 1);
    }
    return vboard::registryValue(root, path, utf8(name ? name : L""));
}

LONG dllRegQueryValueExW(HKEY key, const DllChar* name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD size) {
    const Text hostName(name);
    const auto stored = storedValue(key, hostName);
    if (!stored || !isString(stored->type) || size == nullptr)
        return RegQueryValueExW(key, hostName, reserved, type, data, size);
    // A string: the board answers in its WCHAR, twice the bytes for the same characters, and
    // the module in the UTF-16 the value is kept in, whose size the board's record gives.
    const DWORD dllSize = static_cast<DWORD>(stored->data.size());
    const DWORD fits = std::min(*size, dllSize);
    DWORD hostSize = fits / sizeof(DllChar) * sizeof(wchar_t);
    std::vector<wchar_t> host(hostSize / sizeof(wchar_t) + 1, 0);
    const LONG result =
        RegQueryValueExW(key, hostName, reserved, type,
                         data ? reinterpret_cast<LPBYTE>(host.data()) : nullptr, &hostSize);
    if (result == ERROR_MORE_DATA || (result == ERROR_SUCCESS && data == nullptr)) {
        *size = dllSize;
        return result;
    }
    if (result != ERROR_SUCCESS) return result;
    // Unit by unit, the zeros between REG_MULTI_SZ's strings included.
    std::vector<DllChar> units;
    for (size_t i = 0; i < hostSize / sizeof(wchar_t); ++i) {
        const uint32_t code = static_cast<uint32_t>(host[i]);
        if (code >= 0x10000 && code <= 0x10FFFF) {
            units.push_back(static_cast<DllChar>(0xD800 | (code - 0x10000) >> 10));
            units.push_back(static_cast<DllChar>(0xDC00 | ((code - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<DllChar>(code));
        }
    }
    const size_t count = units.size();
    if (count * sizeof(DllChar) > *size) {
        *size = static_cast<DWORD>(count * sizeof(DllChar));
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, units.data(), count * sizeof(DllChar));
    *size = static_cast<DWORD>(count * sizeof(DllChar));
    return ERROR_SUCCESS;
}

LONG dllRegSetValueExW(HKEY key, const DllChar* name, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD size) {
    if (!isString(type) || data == nullptr)
        return RegSetValueExW(key, Text(name), reserved, type, data, size);
    // UTF-16 units, each to the board's WCHAR (a surrogate pair to one); a trailing odd byte is
    // no character.
    std::vector<DllChar> units(size / sizeof(DllChar) + 1, 0);
    std::memcpy(units.data(), data, size / sizeof(DllChar) * sizeof(DllChar));
    std::wstring host;
    for (size_t i = 0; i + 1 < units.size(); ++i) {
        uint32_t unit = units[i];
        if (unit >= 0xD800 && unit < 0xDC00 && i + 2 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000)
            unit = 0x10000 + ((unit - 0xD800) << 10) + (units[++i] - 0xDC00);
        host += static_cast<wchar_t>(unit);
    }
    return RegSetValueExW(key, Text(name), reserved, type,
                          reinterpret_cast<const BYTE*>(host.data()),
                          static_cast<DWORD>(host.size() * sizeof(wchar_t)));
}

// ---- Calls whose only difference is their string arguments ----

HANDLE dllCreateFileW(const DllChar* name, DWORD access, DWORD share,
                      LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags,
                      HANDLE templateFile) {
    return CreateFileW(Text(name), access, share, security, creation, flags, templateFile);
}
HANDLE dllCreateEventW(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                       const DllChar* name) {
    return CreateEventW(security, manualReset, initialState, Text(name));
}
LONG dllRegOpenKeyExW(HKEY root, const DllChar* subKey, DWORD options, REGSAM sam, PHKEY result) {
    return RegOpenKeyExW(root, Text(subKey), options, sam, result);
}
LONG dllRegDeleteValueW(HKEY key, const DllChar* name) { return RegDeleteValueW(key, Text(name)); }
LONG dllRegSaveKeyW(HKEY key, const DllChar* file, LPSECURITY_ATTRIBUTES security) {
    return RegSaveKeyW(key, Text(file), security);
}
LONG dllRegReplaceKeyW(HKEY key, const DllChar* subKey, const DllChar* newFile,
                       const DllChar* oldFile) {
    return RegReplaceKeyW(key, Text(subKey), Text(newFile), Text(oldFile));
}
BOOL dllCopyFileW(const DllChar* existing, const DllChar* target, BOOL failIfExists) {
    return CopyFileW(Text(existing), Text(target), failIfExists);
}
BOOL dllDeleteFileW(const DllChar* name) { return DeleteFileW(Text(name)); }
BOOL dllSetFileAttributesW(const DllChar* name, DWORD attributes) {
    return SetFileAttributesW(Text(name), attributes);
}
BOOL dllSetCurrentUser(const DllChar* name, BYTE* data, DWORD size, BOOL flag) {
    return SetCurrentUser(Text(name), data, size, flag);
}

// CE's find record with the module's WCHAR: the same fields up to the file name, which is 260
// UTF-16 units.
struct DllFindData {
    uint8_t fields[offsetof(WIN32_FIND_DATAW, cFileName)];
    DllChar cFileName[MAX_PATH];
};
static_assert(offsetof(WIN32_FIND_DATAW, cFileName) == 40 && sizeof(DllFindData) == 560,
              "CE's WIN32_FIND_DATAW: 40 bytes of fields, then the file name");

HANDLE dllFindFirstFileW(const DllChar* pattern, DllFindData* found) {
    WIN32_FIND_DATAW host;
    std::memset(&host, 0, sizeof host);
    const HANDLE search = FindFirstFileW(Text(pattern), found ? &host : nullptr);
    if (search != INVALID_HANDLE_VALUE && found != nullptr) {
        std::memcpy(found->fields, &host, sizeof found->fields);
        dllText(std::wstring(host.cFileName, wcsnlen(host.cFileName, MAX_PATH)), found->cFileName,
                MAX_PATH);
    }
    return search;
}

size_t dllWcslen(const DllChar* text) {
    size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

// ---- The table: coredll's names and their stand-ins ----

template <class F>
void* address(F* function) {
    return reinterpret_cast<void*>(function);
}

const std::map<std::string, void*>& shims() {
    static const std::map<std::string, void*> table = {
        {"CreateFileW", address(dllCreateFileW)},
        {"DeviceIoControl", address(dllDeviceIoControl)},
        {"CloseHandle", address(CloseHandle)},
        {"GetLastError", address(GetLastError)},
        {"SetLastError", address(SetLastError)},
        {"NKDbgPrintfW", address(dllNKDbgPrintfW)},
        {"RegOpenKeyExW", address(dllRegOpenKeyExW)},
        {"RegQueryValueExW", address(dllRegQueryValueExW)},
        {"RegSetValueExW", address(dllRegSetValueExW)},
        {"RegDeleteValueW", address(dllRegDeleteValueW)},
        {"RegCloseKey", address(RegCloseKey)},
        {"RegFlushKey", address(RegFlushKey)},
        {"RegSaveKeyW", address(dllRegSaveKeyW)},
        {"RegReplaceKeyW", address(dllRegReplaceKeyW)},
        {"CopyFileW", address(dllCopyFileW)},
        {"DeleteFileW", address(dllDeleteFileW)},
        {"FindFirstFileW", address(dllFindFirstFileW)},
        {"FindClose", address(FindClose)},
        {"SetFileAttributesW", address(dllSetFileAttributesW)},
        {"GetCommState", address(GetCommState)},
        {"SetCommState", address(SetCommState)},
        {"GetCommTimeouts", address(GetCommTimeouts)},
        {"SetCommTimeouts", address(SetCommTimeouts)},
        {"PurgeComm", address(PurgeComm)},
        {"SetCommMask", address(SetCommMask)},
        {"WaitCommEvent", address(WaitCommEvent)},
        {"ReadFile", address(ReadFile)},
        {"WriteFile", address(WriteFile)},
        {"Sleep", address(Sleep)},
        {"GetSystemTime", address(GetSystemTime)},
        {"CreateEventW", address(dllCreateEventW)},
        {"EventModify", address(EventModify)},
        {"WaitForSingleObject", address(WaitForSingleObject)},
        {"KernelIoControl", address(dllKernelIoControl)},
        {"TouchCalibrate", address(TouchCalibrate)},
        {"SetCurrentUser", address(dllSetCurrentUser)},
        // The C runtime: malloc is named so that a test program's --wrap=malloc stands in front.
        {"malloc", address(malloc)},
        {"free", address(free)},
        {"memcpy", address(memcpy)},
        {"memmove", address(memmove)},
        {"memset", address(memset)},
        {"memcmp", address(memcmp)},
        {"strlen", address(strlen)},
        {"wcslen", address(dllWcslen)},
    };
    return table;
}

// coredll.def's entries: a name, its ordinal if it has one, and whether it is exported by
// ordinal alone (NONAME).
struct DefEntry {
    std::string name;
    std::optional<uint16_t> ordinal;
    bool noName = false;
};

std::vector<DefEntry> readDef(const std::string& path) {
    std::ifstream in(path);
    if (!in) stop("cannot read " + path);
    std::vector<DefEntry> entries;
    for (std::string line; std::getline(in, line);) {
        line = line.substr(0, line.find(';'));
        std::istringstream words(line);
        DefEntry entry;
        if (!(words >> entry.name) || entry.name == "LIBRARY" || entry.name == "EXPORTS") continue;
        for (std::string word; words >> word;) {
            if (word[0] == '@') entry.ordinal = static_cast<uint16_t>(std::stoul(word.substr(1)));
            if (word == "NONAME") entry.noName = true;
        }
        entries.push_back(entry);
    }
    return entries;
}

bool sameName(std::string a, std::string b) {
    for (char& c : a) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (char& c : b) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return a == b;
}

}  // namespace

void* coredllShim(const std::string& name) {
    const auto it = shims().find(name);
    return it == shims().end() ? nullptr : it->second;
}

Binder coredllBinder(const std::string& defPath) {
    const std::vector<DefEntry> def = readDef(defPath);
    return [def](const Import& import, std::string& why) -> void* {
        const std::string what =
            import.ordinal ? "ordinal " + std::to_string(*import.ordinal) : "'" + import.name + "'";
        if (!sameName(import.module, "coredll.dll")) {
            why = what + " from " + import.module + " (only coredll.dll is imported from)";
            return nullptr;
        }
        const DefEntry* entry = nullptr;
        for (const DefEntry& e : def)
            if (import.ordinal ? e.ordinal == import.ordinal : e.name == import.name) entry = &e;
        if (entry == nullptr) {
            why = what + " (device/coredll.def declares no such " +
                  (import.ordinal ? "ordinal" : "name") + ")";
            return nullptr;
        }
        if (!import.ordinal && entry->noName) {
            why = what + " by name (coredll exports it by ordinal " +
                  std::to_string(*entry->ordinal) + " only)";
            return nullptr;
        }
        void* shim = coredllShim(entry->name);
        if (shim == nullptr) why = what + " (no stand-in for coredll's " + entry->name + ")";
        return shim;
    };
}

}  // namespace tarvik_dll

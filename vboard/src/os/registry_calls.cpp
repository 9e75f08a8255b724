// The registry of the virtual board, all in one place: the platform's registry calls over the
// in-memory tree (like the device's, they answer their error instead of setting the last error);
// its persistence calls (flushing a hive to its file on the flash, saving a hive to a file,
// staging a file to replace the system hive at the next start, and unloading the user hive so
// that its file can be replaced); and the registry's side of the control API.
#include <cstring>

#include "os/board_storage.h"
#include "os/call.h"
#include "os/control_seam.h"
#include "os/hive_file.h"
#include "os/registry_defaults.h"
#include "os/text.h"

using namespace vboard;

namespace {

constexpr LONG kKeyDeleted = 1018;  // ERROR_KEY_DELETED

// The key node behind an HKEY (a root or an opened key) and its path for the trace, with the
// board locked; null when the handle is no open key.
std::shared_ptr<RegistryKey> keyLocked(Board& b, HKEY key, TraceEntry& entry, std::string& path) {
    if (auto root = b.registry.root(key)) {
        path = rootName(key);
        return root;
    }
    auto object = resolveLocked<KeyObject>(b, reinterpret_cast<HANDLE>(key), entry);
    if (!object) return nullptr;
    path = object->name;
    return object->key;
}

// The key a call works on, named in the trace by its path; null when the handle is no open key.
std::shared_ptr<RegistryKey> keyFor(Call& call, HKEY key) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    std::string path;
    auto node = keyLocked(b, key, call.entry, path);
    call.entry.device = path;
    return node;
}

// Why a call on a key is refused before it reaches the tree: no such key, or an armed fault.
std::optional<LONG> refusal(Call& call, const std::shared_ptr<RegistryKey>& node) {
    if (!node) return ERROR_INVALID_HANDLE;
    if (auto error = call.fault()) return static_cast<LONG>(*error);
    return std::nullopt;
}

// Runs `work` on a key with the board locked; a key deleted since it was opened refuses.
template <class Work>
LONG onKey(RegistryKey& node, Work work) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    if (node.deleted) return kKeyDeleted;
    return work(node);
}

// String values are kept as the device keeps them, UTF-16LE, and handed to and taken from the W
// calls in the host's WCHAR (wchar_t), as Windows does with its own WCHAR: an application on a
// host passes L"..." literals and reads its strings back as L"...".
bool isString(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

Bytes toHostWide(const Bytes& stored) {
    Bytes out;
    auto put = [&out](uint32_t unit) {
        const WCHAR c = static_cast<WCHAR>(unit);
        const auto* p = reinterpret_cast<const uint8_t*>(&c);
        out.insert(out.end(), p, p + sizeof c);
    };
    for (size_t i = 0; i + 1 < stored.size(); i += 2) {
        uint32_t unit = stored[i] | (static_cast<uint32_t>(stored[i + 1]) << 8);
        if (sizeof(WCHAR) >= 4 && unit >= 0xD800 && unit < 0xDC00 && i + 3 < stored.size()) {
            const uint32_t low = stored[i + 2] | (static_cast<uint32_t>(stored[i + 3]) << 8);
            if (low >= 0xDC00 && low < 0xE000) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        put(unit);
    }
    return out;
}

// Whether a host wide string is characters: with a 32-bit WCHAR a surrogate alone or a value past
// U+10FFFF is none, and could not be kept in the device's UTF-16 as it was given.
bool isCharacter(uint32_t code) {
    return sizeof(WCHAR) < 4 || (code < 0xD800 || (code > 0xDFFF && code <= 0x10FFFF));
}

bool wellFormedName(LPCWSTR name) {
    for (; name != nullptr && *name != 0; ++name)
        if (!isCharacter(static_cast<uint32_t>(*name))) return false;
    return true;
}

bool wellFormedString(const BYTE* data, DWORD size) {
    for (DWORD i = 0; i + sizeof(WCHAR) <= size; i += sizeof(WCHAR)) {
        WCHAR c;
        std::memcpy(&c, data + i, sizeof c);
        if (!isCharacter(static_cast<uint32_t>(c))) return false;
    }
    return true;
}

Bytes fromHostWide(const BYTE* data, DWORD size) {
    Bytes out;
    auto put = [&out](uint32_t unit) {
        out.push_back(static_cast<uint8_t>(unit));
        out.push_back(static_cast<uint8_t>(unit >> 8));
    };
    // A trailing part of a WCHAR is no character: it is dropped.
    for (DWORD i = 0; i + sizeof(WCHAR) <= size; i += sizeof(WCHAR)) {
        WCHAR c;
        std::memcpy(&c, data + i, sizeof c);
        uint32_t code = static_cast<uint32_t>(c);
        if (code >= 0x10000 && code <= 0x10FFFF) {
            code -= 0x10000;
            put(0xD800 | (code >> 10));
            put(0xDC00 | (code & 0x3FF));
        } else {
            put(code);
        }
    }
    return out;
}

}  // namespace

// The bodies of the C entry points: platform_entries.cpp exports them behind a guard.
namespace vboard::calls {

LONG RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD options, REGSAM sam, PHKEY result) {
    Call call("RegOpenKeyExW");
    Board& b = board();
    std::unique_lock<std::mutex> hold(b.lock);
    std::string base;
    auto from = keyLocked(b, root, call.entry, base);
    std::string sub = toUtf8(subKey);
    std::string path = sub.empty() ? base : base + "\\" + sub;
    call.entry.device = path;
    call.entry.args = path + " options " + std::to_string(options) + " sam " + hex(sam);
    hold.unlock();
    if (!from) return call.answer(ERROR_INVALID_HANDLE);
    if (result == nullptr) return call.answer(ERROR_INVALID_PARAMETER);
    // A path no key can have: a name too long, deeper than the registry goes.
    if (!wellFormedName(subKey) || !keyPathProblem(sub, from->depth).empty())
        return call.answer(ERROR_INVALID_PARAMETER);
    if (auto error = call.fault()) return call.answer(static_cast<LONG>(*error));
    hold.lock();
    if (from->deleted) {
        hold.unlock();
        return call.answer(kKeyDeleted);
    }
    auto found = Registry::find(from, sub);
    if (!found) {
        hold.unlock();
        return call.answer(ERROR_FILE_NOT_FOUND);
    }
    auto object = std::make_shared<KeyObject>();
    object->name = path;
    object->key = found;
    HANDLE handle = b.addHandle(object);
    hold.unlock();
    *result = reinterpret_cast<HKEY>(handle);
    return call.answer(ERROR_SUCCESS, call.keep ? handleLabel(handle) : std::string());
}

LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD size) {
    Call call("RegQueryValueExW");
    auto node = keyFor(call, key);
    const std::string valueName = toUtf8(name);
    call.entry.args = call.entry.device + " " + quote(valueName) +
                      (size ? " size " + std::to_string(*size) : std::string(" no size")) +
                      (type ? " type" : "") + (reserved ? " reserved" : "");
    if (auto refused = refusal(call, node)) return call.answer(*refused);
    if (data != nullptr && size == nullptr) return call.answer(ERROR_INVALID_PARAMETER);
    if (!wellFormedName(name)) return call.answer(ERROR_INVALID_PARAMETER);
    std::optional<RegValue> value;
    const LONG status = onKey(*node, [&](RegistryKey& k) {
        value = Registry::value(k, valueName);
        return value ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
    if (status != ERROR_SUCCESS) return call.answer(status);

    if (isString(value->type)) value->data = toHostWide(value->data);
    const DWORD needed = static_cast<DWORD>(value->data.size());
    if (type != nullptr) *type = value->type;
    std::string outcome = "type " + std::to_string(value->type) + " size " + std::to_string(needed);
    if (data == nullptr) {
        if (size != nullptr) *size = needed;
        return call.answer(ERROR_SUCCESS, outcome);
    }
    if (*size < needed) {
        *size = needed;
        return call.answer(ERROR_MORE_DATA);
    }
    if (needed > 0) std::memcpy(data, value->data.data(), needed);
    *size = needed;
    call.entry.out = value->data;
    return call.answer(ERROR_SUCCESS, outcome);
}

LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size) {
    Call call("RegSetValueExW");
    auto node = keyFor(call, key);
    const std::string valueName = toUtf8(name);
    call.entry.args = call.entry.device + " " + quote(valueName) + " type " + std::to_string(type) +
                      (reserved ? " reserved " + std::to_string(reserved) : std::string());
    call.entry.in = copyBytes(data, size);
    if (auto refused = refusal(call, node)) return call.answer(*refused);
    if (data == nullptr && size > 0) return call.answer(ERROR_INVALID_PARAMETER);
    if (!wellFormedName(name) || (isString(type) && !wellFormedString(data, size)))
        return call.answer(ERROR_INVALID_PARAMETER);
    Bytes stored = isString(type) ? fromHostWide(data, size) : copyBytes(data, size);
    // The registry's limits, on the data as the device keeps it.
    if (!valueProblem(valueName, stored.size()).empty()) return call.answer(ERROR_INVALID_PARAMETER);
    return call.answer(onKey(*node, [&](RegistryKey& k) {
        Registry::setValue(k, valueName, RegValue{type, std::move(stored)});
        return ERROR_SUCCESS;
    }));
}

LONG RegDeleteValueW(HKEY key, LPCWSTR name) {
    Call call("RegDeleteValueW");
    auto node = keyFor(call, key);
    const std::string valueName = toUtf8(name);
    call.entry.args = call.entry.device + " " + quote(valueName);
    if (auto refused = refusal(call, node)) return call.answer(*refused);
    if (!wellFormedName(name)) return call.answer(ERROR_INVALID_PARAMETER);
    return call.answer(onKey(*node, [&](RegistryKey& k) {
        return Registry::removeValue(k, valueName) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    }));
}

LONG RegCloseKey(HKEY key) {
    Call call("RegCloseKey");
    Board& b = board();
    std::unique_lock<std::mutex> hold(b.lock);
    if (b.registry.root(key)) {
        call.entry.args = rootName(key);
        hold.unlock();
        return call.answer(ERROR_SUCCESS);  // the roots are never really opened or closed
    }
    call.entry.args = b.handleName(reinterpret_cast<HANDLE>(key));
    auto it = b.handles.find(reinterpret_cast<uintptr_t>(key));
    bool isOpenKey = it != b.handles.end() &&
                     std::dynamic_pointer_cast<KeyObject>(it->second.object);
    if (!isOpenKey) {
        b.addMisuse("RegCloseKey of " + call.entry.args + ", which is no open key");
        hold.unlock();
        return call.answer(ERROR_INVALID_HANDLE);
    }
    call.entry.device = it->second.object->name;
    call.entry.args += " " + call.entry.device;
    hold.unlock();
    if (auto error = call.fault()) return call.answer(static_cast<LONG>(*error));
    hold.lock();
    const bool closed = b.takeHandle(reinterpret_cast<HANDLE>(key)) != nullptr;
    hold.unlock();
    return call.answer(closed ? ERROR_SUCCESS : ERROR_INVALID_HANDLE);
}

}  // namespace vboard::calls

// ---- Persistence ----

namespace {

// The registry's own files are hidden system files, read-only to everybody else.
constexpr DWORD kHiveFileAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// A key a persistence call works on: its hive, its node and its full name in a hive file.
struct HiveKey {
    HKEY root = nullptr;
    std::shared_ptr<RegistryKey> node;
    std::string fileName;  // "HKEY_LOCAL_MACHINE\Ident"
};

// The key behind a root or an opened key, named in the trace by its path; false when the
// handle is no key.
bool hiveKey(Call& call, HKEY key, HiveKey& out) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    std::string path;
    if (auto root = b.registry.root(key)) {
        out.node = root;
        path = rootName(key);
    } else {
        auto object = resolveLocked<KeyObject>(b, reinterpret_cast<HANDLE>(key), call.entry);
        if (!object) return false;
        out.node = object->key;
        path = object->name;
    }
    call.entry.device = path;
    const std::string head = path.substr(0, path.find('\\'));
    out.root = head == "HKCU" ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    out.fileName = hiveRootName(out.root) + path.substr(head.size());
    return true;
}

// A path argument for the trace: quoted, or null when none was given.
std::string pathArgument(LPCWSTR path) { return path ? quote(toUtf8(path)) : std::string("null"); }

Bytes textBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string hiveFileText(const HiveKey& key) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return writeHive(*key.node, key.fileName);
}

LONG userHiveRefusal(const HiveKey& key) {
    return key.root == HKEY_CURRENT_USER && !boardStorage().userHiveLoaded() ? kKeyDeleted
                                                                            : ERROR_SUCCESS;
}

}  // namespace

// The bodies of the C entry points: platform_entries.cpp exports them behind a guard.
namespace vboard::calls {

LONG RegFlushKey(HKEY key) {
    Call call("RegFlushKey");
    HiveKey target;
    const bool found = hiveKey(call, key, target);
    call.entry.args = call.entry.device;
    if (!found) return call.answer(ERROR_INVALID_HANDLE);
    if (auto error = call.fault()) return call.answer(static_cast<LONG>(*error));
    if (LONG refused = userHiveRefusal(target)) return call.answer(refused);
    // Any key flushes its whole hive.
    HiveKey hive = target;
    {
        Board& b = board();
        std::lock_guard<std::mutex> hold(b.lock);
        hive.node = b.registry.root(target.root);
    }
    hive.fileName = hiveRootName(target.root);
    BoardStorage& storage = boardStorage();
    CePath file;
    storage.locate(target.root == HKEY_CURRENT_USER ? kUserHivePath : kSystemHivePath, false, file);
    return call.answer(static_cast<LONG>(storage.put(file, textBytes(hiveFileText(hive)),
                                                     kHiveFileAttributes)));
}

LONG RegSaveKeyW(HKEY key, LPCWSTR file, LPSECURITY_ATTRIBUTES) {
    Call call("RegSaveKeyW");
    HiveKey source;
    const bool found = hiveKey(call, key, source);
    const std::string fileName = toUtf8(file);
    call.entry.args = call.entry.device + " " + quote(fileName);
    if (!found) return call.answer(ERROR_INVALID_HANDLE);
    if (file == nullptr) return call.answer(ERROR_INVALID_PARAMETER);
    if (auto error = call.fault()) return call.answer(static_cast<LONG>(*error));
    if (LONG refused = userHiveRefusal(source)) return call.answer(refused);
    BoardStorage& storage = boardStorage();
    CePath target;
    if (DWORD error = storage.locate(fileName, false, target)) return call.answer(static_cast<LONG>(error));
    if (heldByRegistry(storage, target)) return call.answer(static_cast<LONG>(kErrorSharingViolation));
    // A save never overwrites: an earlier file must be deleted first.
    if (storage.stat(target)) return call.answer(ERROR_ALREADY_EXISTS);
    return call.answer(static_cast<LONG>(
        storage.put(target, textBytes(hiveFileText(source)), FILE_ATTRIBUTE_ARCHIVE)));
}

// Only the whole system hive can be replaced. The new file is checked, then moved aside to be
// loaded at the next start; it is no longer where it was. Like CE's registry calls, a failure
// is also left in the last error.
LONG RegReplaceKeyW(HKEY key, LPCWSTR subKey, LPCWSTR newFile, LPCWSTR oldFile) {
    Call call("RegReplaceKeyW");
    const std::string newName = toUtf8(newFile);
    call.entry.device = rootName(key);
    call.entry.args = rootName(key) + " " + pathArgument(subKey) + " " + pathArgument(newFile) +
                      " " + pathArgument(oldFile);
    auto answer = [&call](LONG status) {
        if (status != ERROR_SUCCESS) setLastErrorValue(static_cast<DWORD>(status));
        return call.answer(status);
    };
    if (key != HKEY_LOCAL_MACHINE || (subKey != nullptr && *subKey != 0) || newFile == nullptr)
        return answer(ERROR_INVALID_PARAMETER);
    if (auto error = call.fault()) return answer(static_cast<LONG>(*error));
    BoardStorage& storage = boardStorage();
    CePath source, pending;
    if (DWORD error = storage.locate(newName, false, source)) return answer(static_cast<LONG>(error));
    // The registry's own files are not a new hive to take, nor a place to put the old one.
    if (heldByRegistry(storage, source)) return answer(static_cast<LONG>(kErrorSharingViolation));
    auto file = storage.get(source);
    if (!file) return answer(ERROR_FILE_NOT_FOUND);
    RegistryKey check;
    std::string problem;
    if (!parseHive(file->data, hiveRootName(HKEY_LOCAL_MACHINE), check, problem)) {
        storage.addProblem(storage.describe(source) + ": " + problem + "; not staged");
        return answer(static_cast<LONG>(kErrorBadDb));
    }
    if (oldFile != nullptr) {
        CePath old;
        if (DWORD error = storage.locate(toUtf8(oldFile), false, old)) return answer(static_cast<LONG>(error));
        if (heldByRegistry(storage, old)) return answer(static_cast<LONG>(kErrorSharingViolation));
        if (storage.stat(old)) return answer(ERROR_ALREADY_EXISTS);
        HiveKey hive;
        {
            Board& b = board();
            std::lock_guard<std::mutex> hold(b.lock);
            hive.node = b.registry.root(HKEY_LOCAL_MACHINE);
        }
        hive.fileName = hiveRootName(HKEY_LOCAL_MACHINE);
        if (DWORD error = storage.put(old, textBytes(hiveFileText(hive)), FILE_ATTRIBUTE_ARCHIVE))
            return answer(static_cast<LONG>(error));
    }
    storage.locate(kPendingSystemHivePath, false, pending);
    return answer(static_cast<LONG>(storage.move(source, pending)));
}

// With no name, unloads the current user's hive: its file may then be replaced, and the next
// start loads it. Switching to a named user is not modelled.
BOOL SetCurrentUser(LPCWSTR name, BYTE*, DWORD size, BOOL flag) {
    Call call("SetCurrentUser");
    if (call.keep)
        call.entry.args = pathArgument(name) + " size " +
                          std::to_string(size) + " flag " + std::to_string(flag);
    if (auto error = call.fault()) return call.fail(FALSE, *error);
    if (name != nullptr) return call.fail(FALSE, static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    boardStorage().setUserHiveLoaded(false);
    return call.succeed(TRUE, "user hive unloaded");
}

}  // namespace vboard::calls

namespace vboard {

// ---- Control API: registry ----

bool setRegistryValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                      const Bytes& data) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    if (!valueProblem(name, data.size()).empty()) return false;
    auto key = Registry::create(b.registry.root(root), path);
    return key && Registry::setValue(*key, name, RegValue{type, data});
}

bool setRegistryDword(HKEY root, const std::string& path, const std::string& name, DWORD value) {
    return setRegistryValue(root, path, name, REG_DWORD, dwordValue(value).data);
}

bool setRegistryString(HKEY root, const std::string& path, const std::string& name,
                       const std::string& utf8) {
    return setRegistryValue(root, path, name, REG_SZ, utf16Bytes(utf8));
}

std::optional<RegValue> registryValue(HKEY root, const std::string& path, const std::string& name) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    auto key = Registry::find(b.registry.root(root), path);
    if (!key) return std::nullopt;
    return Registry::value(*key, name);
}

void deleteRegistryValue(HKEY root, const std::string& path, const std::string& name) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    if (auto key = Registry::find(b.registry.root(root), path)) Registry::removeValue(*key, name);
}

bool removeRegistryValue(HKEY root, const std::string& path, const std::string& name) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    auto key = Registry::find(b.registry.root(root), path);
    return key && Registry::removeValue(*key, name);
}

bool removeRegistryKey(HKEY root, const std::string& path) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return Registry::remove(b.registry.root(root), path);
}

bool createRegistryKey(HKEY root, const std::string& path) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return Registry::create(b.registry.root(root), path) != nullptr;
}

void deleteRegistryKey(HKEY root, const std::string& path) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    if (auto top = b.registry.root(root)) Registry::remove(top, path);
}

bool registryKeyExists(HKEY root, const std::string& path) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return Registry::find(b.registry.root(root), path) != nullptr;
}

}  // namespace vboard

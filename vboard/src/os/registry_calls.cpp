// The registry calls of the virtual board, over the in-memory tree. Like the device's, they answer
// their error instead of setting the last error.
#include <cstring>

#include "os/call.h"
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

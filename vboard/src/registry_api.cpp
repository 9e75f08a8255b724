// The registry calls of the virtual board, over the in-memory tree. Like the device's, they answer
// their error instead of setting the last error.
#include <cstring>

#include "call.h"
#include "text.h"

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

}  // namespace

extern "C" {

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
    std::string label = b.handleName(handle);
    hold.unlock();
    *result = reinterpret_cast<HKEY>(handle);
    return call.answer(ERROR_SUCCESS, label);
}

LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD size) {
    Call call("RegQueryValueExW");
    Board& b = board();
    std::unique_lock<std::mutex> hold(b.lock);
    std::string path;
    auto node = keyLocked(b, key, call.entry, path);
    std::string valueName = toUtf8(name);
    call.entry.device = path;
    call.entry.args = path + " " + quote(valueName) +
                      (size ? " size " + std::to_string(*size) : std::string(" no size")) +
                      (type ? " type" : "") + (reserved ? " reserved" : "");
    hold.unlock();
    if (!node) return call.answer(ERROR_INVALID_HANDLE);
    if (data != nullptr && size == nullptr) return call.answer(ERROR_INVALID_PARAMETER);
    if (auto error = call.fault()) return call.answer(static_cast<LONG>(*error));
    hold.lock();
    if (node->deleted) {
        hold.unlock();
        return call.answer(kKeyDeleted);
    }
    auto value = Registry::value(*node, valueName);
    hold.unlock();
    if (!value) return call.answer(ERROR_FILE_NOT_FOUND);
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
    Board& b = board();
    std::unique_lock<std::mutex> hold(b.lock);
    std::string path;
    auto node = keyLocked(b, key, call.entry, path);
    std::string valueName = toUtf8(name);
    call.entry.device = path;
    call.entry.args = path + " " + quote(valueName) + " type " + std::to_string(type) +
                      (reserved ? " reserved " + std::to_string(reserved) : std::string());
    call.entry.in = copyBytes(data, size);
    hold.unlock();
    if (!node) return call.answer(ERROR_INVALID_HANDLE);
    if (data == nullptr && size > 0) return call.answer(ERROR_INVALID_PARAMETER);
    if (auto error = call.fault()) return call.answer(static_cast<LONG>(*error));
    hold.lock();
    if (node->deleted) {
        hold.unlock();
        return call.answer(kKeyDeleted);
    }
    Registry::setValue(*node, valueName, RegValue{type, copyBytes(data, size)});
    hold.unlock();
    return call.answer(ERROR_SUCCESS);
}

LONG RegDeleteValueW(HKEY key, LPCWSTR name) {
    Call call("RegDeleteValueW");
    Board& b = board();
    std::unique_lock<std::mutex> hold(b.lock);
    std::string path;
    auto node = keyLocked(b, key, call.entry, path);
    std::string valueName = toUtf8(name);
    call.entry.device = path;
    call.entry.args = path + " " + quote(valueName);
    hold.unlock();
    if (!node) return call.answer(ERROR_INVALID_HANDLE);
    if (auto error = call.fault()) return call.answer(static_cast<LONG>(*error));
    hold.lock();
    bool removed = !node->deleted && Registry::removeValue(*node, valueName);
    hold.unlock();
    return call.answer(removed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
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
    bool isOpenKey = it != b.handles.end() && it->second.open &&
                     std::dynamic_pointer_cast<KeyObject>(it->second.object);
    if (!isOpenKey) {
        b.misuses.push_back("RegCloseKey of " + call.entry.args + ", which is no open key");
        hold.unlock();
        return call.answer(ERROR_INVALID_HANDLE);
    }
    call.entry.device = it->second.name;
    call.entry.args += " " + call.entry.device;
    hold.unlock();
    if (auto error = call.fault()) return call.answer(static_cast<LONG>(*error));
    hold.lock();
    b.closeHandle(reinterpret_cast<HANDLE>(key));
    hold.unlock();
    return call.answer(ERROR_SUCCESS);
}

LONG RegFlushKey(HKEY key) {
    Call call("RegFlushKey");
    Board& b = board();
    std::unique_lock<std::mutex> hold(b.lock);
    std::string path;
    auto node = keyLocked(b, key, call.entry, path);
    call.entry.device = path;
    call.entry.args = path;
    hold.unlock();
    if (!node) return call.answer(ERROR_INVALID_HANDLE);
    if (auto error = call.fault()) return call.answer(static_cast<LONG>(*error));
    return call.answer(ERROR_SUCCESS);
}

// Saving and replacing whole hives belong to the registry-persistence model, which comes with the
// storage-card files; until then the board refuses them plainly.
LONG RegSaveKeyW(HKEY key, LPCWSTR file, LPSECURITY_ATTRIBUTES) {
    Call call("RegSaveKeyW");
    call.entry.args = rootName(key) + " " + quote(toUtf8(file));
    if (auto error = call.fault()) return call.answer(static_cast<LONG>(*error));
    return call.answer(ERROR_CALL_NOT_IMPLEMENTED);
}

LONG RegReplaceKeyW(HKEY key, LPCWSTR subKey, LPCWSTR newFile, LPCWSTR oldFile) {
    Call call("RegReplaceKeyW");
    call.entry.args = rootName(key) + " " + quote(toUtf8(subKey)) + " " + quote(toUtf8(newFile)) +
                      " " + quote(toUtf8(oldFile));
    if (auto error = call.fault()) return call.answer(static_cast<LONG>(*error));
    return call.answer(ERROR_CALL_NOT_IMPLEMENTED);
}

}  // extern "C"

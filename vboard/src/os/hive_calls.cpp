// The registry's persistence calls: flushing a hive to its file on the flash, saving a hive to
// a file, staging a file to replace the system hive at the next start, and unloading the user
// hive so that its file can be replaced.
#include "os/call.h"
#include "os/board_storage.h"
#include "os/hive_file.h"
#include "os/registry_defaults.h"
#include "os/text.h"

using namespace vboard;

namespace {

constexpr LONG kKeyDeleted = 1018;  // ERROR_KEY_DELETED: the user hive is unloaded
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

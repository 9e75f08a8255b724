// The file calls of the board's storage, with the results and last errors of CE: a missing
// folder or card is ERROR_PATH_NOT_FOUND, a missing file ERROR_FILE_NOT_FOUND, a read-only file
// ERROR_ACCESS_DENIED, and a hive file the registry holds ERROR_SHARING_VIOLATION.
#include <cstring>

#include "os/call.h"
#include "os/board_storage.h"
#include "os/text.h"

using namespace vboard;

namespace {

constexpr DWORD kAttributeBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                 FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                 FILE_ATTRIBUTE_NORMAL;

bool samePath(BoardStorage& storage, const CePath& path, const char* cePath) {
    CePath other;
    return storage.locate(cePath, false, other) == ERROR_SUCCESS && other.key() == path.key();
}

// The system hive's files are always the registry's; the user hive's while it is loaded.
bool heldByRegistry(BoardStorage& storage, const CePath& path) {
    return samePath(storage, path, kSystemHivePath) ||
           samePath(storage, path, kPendingSystemHivePath) ||
           (storage.userHiveLoaded() && samePath(storage, path, kUserHivePath));
}

// Why a file may not be replaced or deleted, or ERROR_SUCCESS.
DWORD refusalToChange(BoardStorage& storage, const CePath& path,
                      const std::optional<FileInfo>& existing) {
    if (heldByRegistry(storage, path)) return kErrorSharingViolation;
    if (existing && (existing->attributes & FILE_ATTRIBUTE_READONLY))
        return static_cast<DWORD>(ERROR_ACCESS_DENIED);
    return ERROR_SUCCESS;
}

// Locates a file that must exist, from its directory entry.
DWORD existing(BoardStorage& storage, LPCWSTR name, CePath& path, std::optional<FileInfo>& file) {
    if (name == nullptr) return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    if (DWORD error = storage.locate(toUtf8(name), false, path)) return error;
    file = storage.stat(path);
    return file ? ERROR_SUCCESS : static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
}

}  // namespace

// The bodies of the C entry points: platform_entries.cpp exports them behind a guard.
namespace vboard::calls {

BOOL CopyFileW(LPCWSTR existingName, LPCWSTR targetName, BOOL failIfExists) {
    Call call("CopyFileW");
    call.entry.device = toUtf8(targetName);
    if (call.keep)
        call.entry.args = quote(toUtf8(existingName)) + " " + quote(call.entry.device) +
                          (failIfExists ? " fail-if-exists" : "");
    if (auto error = call.fault()) return call.fail(FALSE, *error);
    BoardStorage& storage = boardStorage();
    CePath from, to;
    std::optional<FileInfo> found;
    if (DWORD error = existing(storage, existingName, from, found)) return call.fail(FALSE, error);
    if (targetName == nullptr) return call.fail(FALSE, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    if (DWORD error = storage.locate(call.entry.device, false, to)) return call.fail(FALSE, error);
    if (from.key() == to.key()) return call.fail(FALSE, kErrorSharingViolation);
    const auto old = storage.stat(to);
    if (old && failIfExists) return call.fail(FALSE, static_cast<DWORD>(ERROR_FILE_EXISTS));
    if (DWORD error = refusalToChange(storage, to, old)) return call.fail(FALSE, error);
    const auto source = storage.get(from);
    if (!source) return call.fail(FALSE, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // The copy takes the source's attributes, as CE's does.
    if (DWORD error = storage.put(to, source->data, source->attributes)) return call.fail(FALSE, error);
    return call.succeed(TRUE);
}

BOOL DeleteFileW(LPCWSTR name) {
    Call call("DeleteFileW");
    call.entry.device = toUtf8(name);
    if (call.keep) call.entry.args = quote(call.entry.device);
    if (auto error = call.fault()) return call.fail(FALSE, *error);
    BoardStorage& storage = boardStorage();
    CePath path;
    std::optional<FileInfo> file;
    if (DWORD error = existing(storage, name, path, file)) return call.fail(FALSE, error);
    if (DWORD error = refusalToChange(storage, path, file)) return call.fail(FALSE, error);
    if (DWORD error = storage.erase(path)) return call.fail(FALSE, error);
    return call.succeed(TRUE);
}

HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW found) {
    Call call("FindFirstFileW");
    call.entry.device = toUtf8(pattern);
    if (call.keep) call.entry.args = quote(call.entry.device);
    if (auto error = call.fault()) return call.fail(INVALID_HANDLE_VALUE, *error);
    if (pattern == nullptr || found == nullptr)
        return call.fail(INVALID_HANDLE_VALUE, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    BoardStorage& storage = boardStorage();
    CePath path;
    if (DWORD error = storage.locate(call.entry.device, true, path))
        return call.fail(INVALID_HANDLE_VALUE, error);
    const auto files = storage.list(path);
    if (files.empty()) return call.fail(INVALID_HANDLE_VALUE, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    const FileInfo& first = files.front();
    std::memset(found, 0, sizeof *found);
    found->dwFileAttributes = first.attributes;
    found->nFileSizeLow = static_cast<DWORD>(first.size);
    found->nFileSizeHigh = static_cast<DWORD>(first.size >> 32);
    const std::wstring name = fromUtf8(first.name);
    const size_t length = std::min(name.size(), static_cast<size_t>(MAX_PATH - 1));
    std::memcpy(found->cFileName, name.data(), length * sizeof(WCHAR));

    auto object = std::make_shared<FindObject>();
    object->name = call.entry.device;
    HANDLE handle;
    {
        Board& b = board();
        std::lock_guard<std::mutex> hold(b.lock);
        handle = b.addHandle(std::move(object));
    }
    return call.succeed(handle, call.keep ? handleLabel(handle) + " " + quote(first.name) : std::string());
}

BOOL FindClose(HANDLE find) {
    Call call("FindClose");
    Board& b = board();
    std::shared_ptr<FindObject> search;
    {
        std::lock_guard<std::mutex> hold(b.lock);
        search = resolveLocked<FindObject>(b, find, call.entry);
        if (call.keep) call.entry.args = b.handleName(find);
    }
    if (!search) return call.fail(FALSE, static_cast<DWORD>(ERROR_INVALID_HANDLE));
    if (auto error = call.fault()) return call.fail(FALSE, *error);
    {
        std::lock_guard<std::mutex> hold(b.lock);
        b.takeHandle(find);
    }
    return call.succeed(TRUE);
}

BOOL SetFileAttributesW(LPCWSTR name, DWORD attributes) {
    Call call("SetFileAttributesW");
    call.entry.device = toUtf8(name);
    if (call.keep) call.entry.args = quote(call.entry.device) + " " + hex(attributes);
    if (auto error = call.fault()) return call.fail(FALSE, *error);
    if ((attributes & ~kAttributeBits) != 0)
        return call.fail(FALSE, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    BoardStorage& storage = boardStorage();
    CePath path;
    std::optional<FileInfo> file;
    if (DWORD error = existing(storage, name, path, file)) return call.fail(FALSE, error);
    // "Normal" means no other attribute, and goes when another one is set.
    const DWORD stored = attributes == FILE_ATTRIBUTE_NORMAL || attributes == 0
                             ? FILE_ATTRIBUTE_NORMAL
                             : attributes & ~FILE_ATTRIBUTE_NORMAL;
    if (DWORD error = storage.setAttributes(path, stored)) return call.fail(FALSE, error);
    return call.succeed(TRUE);
}

}  // namespace vboard::calls

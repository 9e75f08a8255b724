// Registry persistence. The backups are the platform's own hive files, written by RegSaveKey;
// the library only names, copies and deletes them. A restore replaces the system hive through
// RegReplaceKey, which takes its file away, so the backup is copied aside first and back
// afterwards to stay on the card. The user hive is replaced by copying its backup over the
// hive file once the hive is unloaded. Both take effect when the module restarts.
#include "system/registry_persistence_operations.h"

#include "system/kitl_reset_operations.h"
#include "tarvik_platform.h"

namespace tarvik {
namespace {

constexpr const WCHAR* kSystemBackup = L"\\Storage Card\\Save_HKLM_Reg.srg";
constexpr const WCHAR* kUserBackup = L"\\Storage Card\\Save_HKCU_Reg.srg";
constexpr const WCHAR* kSystemBackupCopy = L"\\Storage Card\\Copy_Save_HKLM_Reg.srg";
constexpr const WCHAR* kUserHiveFile = L"\\NAND Flash\\User\\user.hv";

// The backups in the order they are written and looked for, with the line of a missing one.
struct HiveBackup {
    HKEY root;
    const WCHAR* path;
    const WCHAR* missing;
};
const HiveBackup kBackups[] = {
    {HKEY_LOCAL_MACHINE, kSystemBackup,
     L"Error: Didn't find Save_HKLM_Reg.srg file on Storage Card!!!\r\n"},
    {HKEY_CURRENT_USER, kUserBackup,
     L"Error: Didn't find Save_HKCU_Reg.srg file on Storage Card!!!\r\n"},
};

bool fileExists(const WCHAR* path) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(path, &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
}

// A failed copy is reported and the restore goes on: by then the module is committed to restart.
void copyOrReport(const WCHAR* from, const WCHAR* to, const WCHAR* failed) {
    if (!CopyFileW(from, to, FALSE)) NKDbgPrintfW(failed);
}

}  // namespace

uint8_t SaveRegistry() {
    const bool user = RegFlushKey(HKEY_CURRENT_USER) == ERROR_SUCCESS;
    const bool system = RegFlushKey(HKEY_LOCAL_MACHINE) == ERROR_SUCCESS;
    return user && system ? 1 : 0;
}

uint8_t CreateRegistryBackup() {
    // A save does not overwrite, so the old backup goes first, even if the new one then fails.
    for (const HiveBackup& backup : kBackups) DeleteFileW(backup.path);
    for (const HiveBackup& backup : kBackups)
        if (RegSaveKeyW(backup.root, backup.path, nullptr) != ERROR_SUCCESS) return 0;
    return 1;
}

uint8_t RestoreRegistryBackup() {
    // Nothing is changed until both backups are found.
    for (const HiveBackup& backup : kBackups) {
        if (!fileExists(backup.path)) {
            NKDbgPrintfW(backup.missing);
            return 0;
        }
    }

    copyOrReport(kSystemBackup, kSystemBackupCopy, L"ERROR: Can't copy Save_HKLM_Reg.srg\r\n");
    if (RegReplaceKeyW(HKEY_LOCAL_MACHINE, nullptr, kSystemBackup, nullptr) != ERROR_SUCCESS)
        NKDbgPrintfW(L"RegReplaceKey failed (%d)\n", static_cast<int>(GetLastError()));
    copyOrReport(kSystemBackupCopy, kSystemBackup, L"ERROR: Can't restore Save_HKLM_Reg.srg\r\n");
    DeleteFileW(kSystemBackupCopy);

    // The user hive's file can be replaced only once the hive is unloaded; its attributes are
    // cleared so that the copy may overwrite it.
    SetCurrentUser(nullptr, nullptr, 0, FALSE);
    SetFileAttributesW(kUserHiveFile, FILE_ATTRIBUTE_NORMAL);
    copyOrReport(kUserBackup, kUserHiveFile, L"ERROR: Can't copy Save_HKCU_Reg.srg\r\n");

    SoftReset();
    return 1;
}

}  // namespace tarvik

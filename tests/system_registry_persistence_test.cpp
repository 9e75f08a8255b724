// src/system: SaveRegistry, CreateRegistryBackup and RestoreRegistryBackup on the virtual board:
// the exact sequences of calls, the files on the card and the flash, every branch of the restore,
// and a whole backup, change, restore and restart on a board folder that outlives the "program".
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "Tarvik.h"
#include "library_test.h"
#include "system_test_support.h"

using namespace system_test;

namespace {

const std::string kSystemBackup = "\\Storage Card\\Save_HKLM_Reg.srg";
const std::string kUserBackup = "\\Storage Card\\Save_HKCU_Reg.srg";
const std::string kSystemBackupCopy = "\\Storage Card\\Copy_Save_HKLM_Reg.srg";
const char* const kSettings = "ControlPanel\\BackLight";

// The platform calls made, by name, in order (GetLastError left out).
Lines calls() {
    Lines out;
    for (const auto& e : vboard::trace())
        if (e.function != "GetLastError" && e.function != "NKDbgPrintfW") out.push_back(e.function);
    return out;
}

uint32_t dword(HKEY root, const std::string& path, const std::string& name) {
    auto value = vboard::registryValue(root, path, name);
    if (!value || value->data.size() != 4) return 0xDEADBEEF;
    return value->data[0] | value->data[1] << 8 | value->data[2] << 16 |
           static_cast<uint32_t>(value->data[3]) << 24;
}

const Lines kRestoreCalls = {"FindFirstFileW", "FindClose",      "FindFirstFileW",
                             "FindClose",      "CopyFileW",      "RegReplaceKeyW",
                             "CopyFileW",      "DeleteFileW",    "SetCurrentUser",
                             "SetFileAttributesW", "CopyFileW",  "CreateFileW",
                             "DeviceIoControl"};

}  // namespace

class RegistryPersistence : public tarvik_test::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        // These tests want the board in memory, whatever VBOARD_DIR says.
        vboard::setBoardFolder("");
    }
};

TEST_F(RegistryPersistence, SaveFlushesTheUserHiveThenTheSystemHiveWhateverTheFirstAnswers) {
    EXPECT_EQ(SaveRegistry(), 1);
    EXPECT_EQ(tarvik_test::traceOf("RegFlushKey"),
              (Lines{"RegFlushKey HKCU -> ok", "RegFlushKey HKLM -> ok"}));
    EXPECT_TRUE(vboard::boardFileExists(vboard::kUserHivePath));
    EXPECT_TRUE(vboard::boardFileExists(vboard::kSystemHivePath));

    vboard::reset();
    fail("RegFlushKey", "", std::nullopt, 1);
    EXPECT_EQ(SaveRegistry(), 0);
    EXPECT_EQ(tarvik_test::traceOf("RegFlushKey"),
              (Lines{"RegFlushKey HKCU -> error 31 (fault)", "RegFlushKey HKLM -> ok"}));
    EXPECT_FALSE(vboard::boardFileExists(vboard::kUserHivePath));
    EXPECT_TRUE(vboard::boardFileExists(vboard::kSystemHivePath));
    EXPECT_TRUE(vboard::debugLines().empty());
}

TEST_F(RegistryPersistence, BackupDeletesTheOldFilesThenSavesBothHives) {
    EXPECT_EQ(CreateRegistryBackup(), 1);
    EXPECT_EQ(calls(), (Lines{"DeleteFileW", "DeleteFileW", "RegSaveKeyW", "RegSaveKeyW"}));
    EXPECT_EQ(tarvik_test::traceOf("RegSaveKeyW"),
              (Lines{"RegSaveKeyW HKLM \"\\\\Storage Card\\\\Save_HKLM_Reg.srg\" -> ok",
                     "RegSaveKeyW HKCU \"\\\\Storage Card\\\\Save_HKCU_Reg.srg\" -> ok"}));
    const auto system = vboard::readBoardFile(kSystemBackup);
    ASSERT_TRUE(system);
    const std::string text(system->begin(), system->end());
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\r\n", 0), 0u);
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Ident]\r\n\"BSPVersionNumber\"=dword:00020001\r\n"),
              std::string::npos);
    EXPECT_TRUE(vboard::boardFileExists(kUserBackup));

    // A second backup replaces the first: a save alone would refuse the existing file.
    vboard::setRegistryDword(HKEY_LOCAL_MACHINE, "Ident", "BSPVersionNumber", 0x00030000);
    vboard::clearTrace();
    EXPECT_EQ(CreateRegistryBackup(), 1);
    EXPECT_EQ(tarvik_test::traceOf("DeleteFileW"),
              (Lines{"DeleteFileW \"\\\\Storage Card\\\\Save_HKLM_Reg.srg\" -> ok",
                     "DeleteFileW \"\\\\Storage Card\\\\Save_HKCU_Reg.srg\" -> ok"}));
    const auto again = vboard::readBoardFile(kSystemBackup);
    EXPECT_NE(std::string(again->begin(), again->end()).find("dword:00030000"), std::string::npos);
    EXPECT_TRUE(vboard::debugLines().empty());
}

TEST_F(RegistryPersistence, BackupFailuresLeaveWhatTheTextSays) {
    // No card: both deletions fail quietly, the first save fails and the second is not tried.
    vboard::setStorageCard(false);
    EXPECT_EQ(CreateRegistryBackup(), 0);
    EXPECT_EQ(calls(), (Lines{"DeleteFileW", "DeleteFileW", "RegSaveKeyW"}));
    EXPECT_EQ(tarvik_test::traceOf("RegSaveKeyW")[0],
              "RegSaveKeyW HKLM \"\\\\Storage Card\\\\Save_HKLM_Reg.srg\" -> error 3");

    // The user hive's save failing leaves only the new system backup; the old pair is gone.
    vboard::setStorageCard(true);
    ASSERT_EQ(CreateRegistryBackup(), 1);
    fail("RegSaveKeyW", "", std::nullopt, 2);
    EXPECT_EQ(CreateRegistryBackup(), 0);
    EXPECT_TRUE(vboard::boardFileExists(kSystemBackup));
    EXPECT_FALSE(vboard::boardFileExists(kUserBackup));
    EXPECT_TRUE(vboard::debugLines().empty());
}

TEST_F(RegistryPersistence, RestoreChecksBothBackupsBeforeChangingAnything) {
    struct Row {
        const char* what;
        std::function<void()> setUp;
        Lines lines;
        Lines sequence;
    };
    const std::vector<Row> rows = {
        {"no card", [] { vboard::setStorageCard(false); },
         {"Error: Didn't find Save_HKLM_Reg.srg file on Storage Card!!!\r\n"},
         {"FindFirstFileW"}},
        {"no system backup", [] { vboard::writeBoardFile(kUserBackup, {}); },
         {"Error: Didn't find Save_HKLM_Reg.srg file on Storage Card!!!\r\n"},
         {"FindFirstFileW"}},
        {"no user backup", [] { vboard::writeBoardFile(kSystemBackup, {}); },
         {"Error: Didn't find Save_HKCU_Reg.srg file on Storage Card!!!\r\n"},
         {"FindFirstFileW", "FindClose", "FindFirstFileW"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        vboard::reset();
        row.setUp();
        vboard::clearTrace();
        EXPECT_EQ(RestoreRegistryBackup(), 0);
        EXPECT_EQ(vboard::debugLines(), row.lines);
        EXPECT_EQ(calls(), row.sequence);
        EXPECT_EQ(vboard::restarts(), 0u);
        EXPECT_TRUE(vboard::openHandles().empty());
    }
}

TEST_F(RegistryPersistence, RestoreReportsEveryFailureAndStillResets) {
    struct Row {
        const char* what;
        std::function<void()> setUp;
        Lines lines;
        uint32_t restoredTimeout;  // ACTimeout after the restart: the backup's 77, or the default
        // Whether the system backup is on the card afterwards. The replacement takes its file
        // away, so without the copy aside, or the copy back, it is gone; the hive it held is
        // the live one after the restart.
        bool backupKept;
    };
    const std::vector<Row> rows = {
        {"everything works", nullptr, {}, 77, true},
        {"a temporary copy left over from an interrupted restore",
         [] { vboard::writeBoardFile(kSystemBackupCopy, {'o', 'l', 'd'}); }, {}, 77, true},
        {"the copy aside fails", [] { fail("CopyFileW", "", std::nullopt, 1); },
         {"ERROR: Can't copy Save_HKLM_Reg.srg\r\n", "ERROR: Can't restore Save_HKLM_Reg.srg\r\n"},
         77, false},
        {"the replacement fails", [] { fail("RegReplaceKeyW", "", std::nullopt, 0, 1009); },
         {"RegReplaceKey failed (1009)\n"}, 77, true},
        {"the copy back fails", [] { fail("CopyFileW", "", std::nullopt, 2); },
         {"ERROR: Can't restore Save_HKLM_Reg.srg\r\n"}, 77, false},
        {"the user hive's copy fails", [] { fail("CopyFileW", "", std::nullopt, 3); },
         {"ERROR: Can't copy Save_HKCU_Reg.srg\r\n"}, 60, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        vboard::reset();
        ASSERT_EQ(SetBacklightSuspend(77, 1), 1);
        ASSERT_EQ(CreateRegistryBackup(), 1);
        if (row.setUp) row.setUp();
        vboard::clearTrace();
        vboard::clearDebug();

        EXPECT_EQ(RestoreRegistryBackup(), 1);

        EXPECT_EQ(vboard::debugLines(), row.lines);
        EXPECT_EQ(calls(), kRestoreCalls);
        EXPECT_EQ(vboard::restarts(), 1u);
        EXPECT_EQ(dword(HKEY_CURRENT_USER, kSettings, "ACTimeout"), row.restoredTimeout);
        EXPECT_EQ(vboard::boardFileExists(kSystemBackup), row.backupKept);
        EXPECT_TRUE(vboard::boardFileExists(kUserBackup));
        EXPECT_FALSE(vboard::boardFileExists(kSystemBackupCopy));
        EXPECT_TRUE(vboard::openHandles().empty());
        tarvik_test::expectNoMisuse();
    }
    // The calls' arguments, once.
    EXPECT_EQ(tarvik_test::traceOf("RegReplaceKeyW")[0],
              "RegReplaceKeyW HKLM null \"\\\\Storage Card\\\\Save_HKLM_Reg.srg\" null -> ok");
    EXPECT_EQ(tarvik_test::traceOf("SetCurrentUser")[0],
              "SetCurrentUser null size 0 flag 0 -> user hive unloaded");
    EXPECT_EQ(tarvik_test::traceOf("SetFileAttributesW")[0],
              "SetFileAttributesW \"\\\\NAND Flash\\\\User\\\\user.hv\" 0x80 -> error 2");
    EXPECT_EQ(tarvik_test::traceOf("CopyFileW"),
              (Lines{"CopyFileW \"\\\\Storage Card\\\\Save_HKLM_Reg.srg\" "
                     "\"\\\\Storage Card\\\\Copy_Save_HKLM_Reg.srg\" -> ok",
                     "CopyFileW \"\\\\Storage Card\\\\Copy_Save_HKLM_Reg.srg\" "
                     "\"\\\\Storage Card\\\\Save_HKLM_Reg.srg\" -> ok",
                     "CopyFileW \"\\\\Storage Card\\\\Save_HKCU_Reg.srg\" "
                     "\"\\\\NAND Flash\\\\User\\\\user.hv\" -> error 31 (fault)"}));
}

// A backup the registry can't take (here a key far deeper than the registry goes) is not staged:
// the restore reports the refused replacement, goes on and resets, the system hive stays as it
// was, and the card keeps the file. Nothing afterwards trips over it.
TEST_F(RegistryPersistence, ABackupTheRegistryRefusesIsNotStagedAndStaysOnTheCard) {
    ASSERT_EQ(CreateRegistryBackup(), 1);
    vboard::setRegistryDword(HKEY_LOCAL_MACHINE, "Ident", "BSPVersionNumber", 0x00990000);
    ASSERT_EQ(SaveRegistry(), 1);
    std::string hostile = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE";
    for (int i = 0; i < 300000; ++i) hostile += "\\a";
    hostile += "]\r\n";
    const Bytes file(hostile.begin(), hostile.end());
    ASSERT_TRUE(vboard::writeBoardFile(kSystemBackup, file));
    vboard::clearDebug();

    EXPECT_EQ(RestoreRegistryBackup(), 1);
    EXPECT_EQ(vboard::debugLines(), (Lines{"RegReplaceKey failed (1009)\n"}));
    EXPECT_EQ(vboard::restarts(), 1u);
    EXPECT_EQ(BSPGetVersion(), 0x00990000u);
    EXPECT_EQ(vboard::readBoardFile(kSystemBackup), file);
    EXPECT_FALSE(vboard::boardFileExists(vboard::kPendingSystemHivePath));
    EXPECT_EQ(vboard::storageProblems(),
              (Lines{"\\Storage Card\\Save_HKLM_Reg.srg: line 3: the key is 300000 levels deep (at most "
                     "512); not staged"}));
    EXPECT_EQ(SaveRegistry(), 1);
    EXPECT_EQ(CreateRegistryBackup(), 1);
    vboard::reset();
}

TEST_F(RegistryPersistence, RestoreWithoutTheResetDriverStillAnswersOne) {
    ASSERT_EQ(CreateRegistryBackup(), 1);
    vboard::removeDriver("IOC1:");
    EXPECT_EQ(RestoreRegistryBackup(), 1);
    EXPECT_EQ(vboard::restarts(), 0u);
    EXPECT_TRUE(vboard::debugLines().empty());
}

TEST_F(RegistryPersistence, BackupChangeRestoreRestartRoundTripOnABoardFolder) {
    char pattern[] = "/tmp/tarvik-board-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string folder = pattern;
    ASSERT_TRUE(vboard::setBoardFolder(folder));

    // What the backup holds.
    ASSERT_EQ(SetBacklightSuspend(100, 1), 1);
    ASSERT_EQ(SaveRegistry(), 1);
    ASSERT_EQ(CreateRegistryBackup(), 1);
    // The change, flushed, survives into the next program on the same board folder.
    ASSERT_EQ(SetBacklightSuspend(5, 2), 1);
    vboard::setRegistryDword(HKEY_LOCAL_MACHINE, "Ident", "BSPVersionNumber", 0x00990000);
    ASSERT_EQ(SaveRegistry(), 1);
    vboard::reset();
    EXPECT_EQ(dword(HKEY_CURRENT_USER, kSettings, "ACTimeout"), 60u) << "a fresh board in memory";
    ASSERT_TRUE(vboard::setBoardFolder(folder));
    EXPECT_EQ(dword(HKEY_CURRENT_USER, kSettings, "ACTimeout"), 5u);
    EXPECT_EQ(BSPGetVersion(), 0x00990000u);

    // The restore restarts the board with the backup's hives.
    EXPECT_EQ(RestoreRegistryBackup(), 1);
    EXPECT_EQ(vboard::restarts(), 1u);
    EXPECT_EQ(dword(HKEY_CURRENT_USER, kSettings, "ACTimeout"), 100u);
    EXPECT_EQ(dword(HKEY_CURRENT_USER, kSettings, "UseExt"), 1u);
    EXPECT_EQ(BSPGetVersion(), vboard::kDefaultBspVersion);
    EXPECT_TRUE(vboard::storageProblems().empty());

    // And so does the next program; the files are where a person would look for them.
    vboard::reset();
    ASSERT_TRUE(vboard::setBoardFolder(folder));
    EXPECT_EQ(dword(HKEY_CURRENT_USER, kSettings, "ACTimeout"), 100u);
    EXPECT_EQ(BSPGetVersion(), vboard::kDefaultBspVersion);
    namespace fs = std::filesystem;
    EXPECT_TRUE(fs::exists(fs::path(folder) / "Storage Card" / "Save_HKLM_Reg.srg"));
    EXPECT_TRUE(fs::exists(fs::path(folder) / "NAND Flash" / "User" / "user.hv"));
    EXPECT_TRUE(fs::exists(fs::path(folder) / "NAND Flash" / "system.hv"));
    EXPECT_FALSE(fs::exists(fs::path(folder) / "Storage Card" / "Copy_Save_HKLM_Reg.srg"));
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        EXPECT_EQ(entry.path().filename().string().find(".vboard-tmp"), std::string::npos)
            << "a temporary file was left behind: " << entry.path();

    vboard::setBoardFolder("");
    fs::remove_all(folder);
}

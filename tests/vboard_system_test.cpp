// vboard/src/os: the system's own services alone, driven through the platform calls and read back
// through the control API: the kernel calls, the storage and its hive files, the file calls and
// the board folder.
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <tuple>

#include "os/text.h"
#include "system_test_support.h"
#include "vboard/gtest.h"
#include "vboard/vboard_c.h"

using namespace system_test;
using tarvik_test::openDevice;
using vboard::testing::BoardTest;

class KernelModel : public BoardTest {};

TEST_F(KernelModel, KernelTakesOnlyTheKitlPowerWord) {
    DWORD on = 1, returned = 7;
    uint8_t shortWord[2] = {1, 0};
    EXPECT_FALSE(KernelIoControl(0x01010148, &on, sizeof on, nullptr, 0, &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(returned, 0u);
    EXPECT_FALSE(KernelIoControl(0x01010144, shortWord, sizeof shortWord, nullptr, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(KernelIoControl(0x01010144, nullptr, 4, nullptr, 0, nullptr));
    DWORD off = 0;
    EXPECT_TRUE(KernelIoControl(0x01010144, &off, sizeof off, nullptr, 0, nullptr));
    EXPECT_TRUE(KernelIoControl(0x01010144, &on, sizeof on, nullptr, 0, nullptr));
    EXPECT_EQ(vboard::kitlSwitches(), (std::vector<bool>{false, true}));
    EXPECT_TRUE(vboard::kitlPowered());
}

// ---- Storage and hive files ----

namespace {

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string textOf(const std::optional<Bytes>& data) {
    return data ? std::string(data->begin(), data->end()) : std::string("(no file)");
}

// The error a file call failed with, or 0 when it succeeded.
DWORD copyFile(const std::string& from, const std::string& to, BOOL failIfExists = FALSE) {
    return CopyFileW(wide(from).c_str(), wide(to).c_str(), failIfExists) ? 0 : GetLastError();
}
DWORD deleteFile(const std::string& name) {
    return DeleteFileW(wide(name).c_str()) ? 0 : GetLastError();
}
DWORD setAttributes(const std::string& name, DWORD attributes) {
    return SetFileAttributesW(wide(name).c_str(), attributes) ? 0 : GetLastError();
}

const std::string kCardFile = "\\Storage Card\\a.srg";
const std::string kHiveHeader = "Windows Registry Editor Version 5.00\r\n";

// A path of `levels` keys, each named `name`.
std::string deepPath(size_t levels, const std::string& name = "k") {
    std::string path = name;
    for (size_t i = 1; i < levels; ++i) path += "\\" + name;
    return path;
}

std::string repeated(const std::string& text, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i) out += text;
    return out;
}

// A reset request on "IOC1:": the board restarts and loads its hives again.
void restart() {
    HANDLE reset = openDevice("IOC1:");
    ASSERT_TRUE(DeviceIoControl(reset, 0x6BBD, nullptr, 0, nullptr, 0, nullptr, nullptr));
}

}  // namespace

class StorageModel : public BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        vboard::setBoardFolder("");
    }
};

TEST_F(StorageModel, HivesAreWrittenInTheRegistryEditorsFormat) {
    vboard::deleteRegistryKey(HKEY_CURRENT_USER, "ControlPanel");
    vboard::setRegistryDword(HKEY_CURRENT_USER, "App", "Count", 0x2A);
    vboard::setRegistryString(HKEY_CURRENT_USER, "App", "Path", "C:\\x \"q\"");
    vboard::setRegistryValue(HKEY_CURRENT_USER, "App", "Blob", REG_BINARY, {1, 0xAB});
    vboard::setRegistryValue(HKEY_CURRENT_USER, "App", "Odd", REG_SZ, {'a', 0});  // no terminator
    vboard::setRegistryValue(HKEY_CURRENT_USER, "App", "", REG_MULTI_SZ, {'a', 0, 0, 0, 0, 0});
    vboard::createRegistryKey(HKEY_CURRENT_USER, "App\\Empty");
    const std::string expected =
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n[HKEY_CURRENT_USER\\App]\r\n"
        "@=hex(7):61,00,00,00,00,00\r\n"
        "\"Blob\"=hex:01,ab\r\n"
        "\"Count\"=dword:0000002a\r\n"
        "\"Odd\"=hex(1):61,00\r\n"
        "\"Path\"=\"C:\\\\x \\\"q\\\"\"\r\n"
        "\r\n[HKEY_CURRENT_USER\\App\\Empty]\r\n";
    EXPECT_EQ(vboard::hiveText(HKEY_CURRENT_USER), expected);

    // Flushed, restarted and read back, every value keeps its exact type and bytes.
    const auto before = vboard::registryValue(HKEY_CURRENT_USER, "App", "Odd");
    ASSERT_EQ(RegFlushKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    EXPECT_EQ(textOf(vboard::readBoardFile(vboard::kUserHivePath)), expected);
    vboard::deleteRegistryKey(HKEY_CURRENT_USER, "App");
    HANDLE reset = openDevice("IOC1:");
    ASSERT_TRUE(DeviceIoControl(reset, 0x6BBD, nullptr, 0, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(vboard::hiveText(HKEY_CURRENT_USER), expected);
    EXPECT_EQ(vboard::registryValue(HKEY_CURRENT_USER, "App", "Odd")->data, before->data);
    EXPECT_TRUE(vboard::registryKeyExists(HKEY_CURRENT_USER, "App\\Empty"));
}

TEST_F(StorageModel, AHiveFileThatCannotBeReadIsRefusedWholeWithItsLineAndReason) {
    const std::string header = "Windows Registry Editor Version 5.00\r\n";
    struct Row {
        std::string file;
        std::string problem;
    };
    const std::vector<Row> rows = {
        {"REGEDIT4\r\n", "line 1: not a hive file (expected \"Windows Registry Editor Version 5.00\")"},
        {"", "line 1: an empty file is no hive file"},
        {header + "\r\n[HKEY_CURRENT_USER\\A]\r\n\"x\"=dword:zz\r\n",
         "line 4: bad dword 'dword:zz' (up to 8 hex digits)"},
        {header + "\"x\"=dword:1\r\n", "line 2: a value before the first [key]"},
        {header + "[HKEY_LOCAL_MACHINE\\A]\r\n", "line 2: key [HKEY_LOCAL_MACHINE\\A] is not in HKEY_CURRENT_USER"},
        {header + "[HKEY_CURRENT_USER\\A]\r\n\"x\"=hex:01,\\\r\n  2g\r\n", "line 3: bad hex bytes (two hex digits, comma-separated)"},
        {header + "[-HKEY_CURRENT_USER\\A]\r\n", "line 2: a hive file does not delete keys"},
        {header + "[HKEY_CURRENT_USER\\A]\r\n\"x\"=\"unclosed\r\n", "line 3: a string value must be one quoted text"},
        // Past the registry's limits, however deep the file goes.
        {header + "[HKEY_CURRENT_USER\\" + deepPath(300000) + "]\r\n",
         "line 2: the key is 300000 levels deep (at most 512)"},
        {header + "[HKEY_CURRENT_USER\\" + deepPath(513) + "]\r\n", "line 2: the key is 513 levels deep (at most 512)"},
        {header + "[HKEY_CURRENT_USER\\" + std::string(256, 'k') + "]\r\n",
         "line 2: the key name '" + std::string(40, 'k') + "... (256 bytes)' is 256 characters long (at most 255)"},
        {header + "[HKEY_CURRENT_USER\\A\tB]\r\n", "line 2: the key name 'A\\x09B' holds a control character"},
        {header + "[HKEY_CURRENT_USER\\A]\r\n\"" + std::string(16384, 'v') + "\"=dword:1\r\n",
         "line 3: the value name '" + std::string(40, 'v') + "... (16384 bytes)' is 16384 characters long (at most 16383)"},
        {header + "[HKEY_CURRENT_USER\\A]\r\n\"x\"=hex:00" + repeated(",00", 1024 * 1024) + "\r\n",
         "line 3: the value's data is 1048577 bytes (at most 1048576)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        vboard::reset();
        vboard::setBoardFolder("");
        ASSERT_TRUE(vboard::writeBoardFile(vboard::kUserHivePath, bytesOf(row.file)));
        vboard::setRegistryDword(HKEY_CURRENT_USER, "ControlPanel\\BackLight", "ACTimeout", 1);
        HANDLE reset = openDevice("IOC1:");
        ASSERT_TRUE(DeviceIoControl(reset, 0x6BBD, nullptr, 0, nullptr, 0, nullptr, nullptr));
        EXPECT_EQ(vboard::storageProblems(),
                  (Lines{"\\NAND Flash\\User\\user.hv: " + row.problem +
                         "; the hive starts from its defaults"}));
        EXPECT_EQ(vboard::registryValue(HKEY_CURRENT_USER, "ControlPanel\\BackLight", "ACTimeout")->data,
                  words({60}));
    }
}

TEST_F(StorageModel, ReadsTheEditorsUtf16FilesAndLongHexLines) {
    const std::u16string text =
        u"Windows Registry Editor Version 5.00\r\n\r\n; a comment\r\n[HKEY_CURRENT_USER\\App]\r\n"
        u"\"b\"=hex:01,02,\\\r\n  03\r\n\"s\"=\"\u00FC\"\r\n";
    Bytes file = {0xFF, 0xFE};
    for (char16_t c : text) {
        file.push_back(static_cast<uint8_t>(c));
        file.push_back(static_cast<uint8_t>(c >> 8));
    }
    ASSERT_TRUE(vboard::writeBoardFile(vboard::kUserHivePath, file));
    HANDLE reset = openDevice("IOC1:");
    ASSERT_TRUE(DeviceIoControl(reset, 0x6BBD, nullptr, 0, nullptr, 0, nullptr, nullptr));
    EXPECT_TRUE(vboard::storageProblems().empty());
    ASSERT_TRUE(vboard::registryValue(HKEY_CURRENT_USER, "app", "b"));
    EXPECT_EQ(vboard::registryValue(HKEY_CURRENT_USER, "app", "b")->data, (Bytes{1, 2, 3}));
    EXPECT_EQ(vboard::registryValue(HKEY_CURRENT_USER, "app", "s")->data, (Bytes{0xFC, 0, 0, 0}));
}

TEST_F(StorageModel, FileCallsAnswerWithTheResultsAndErrorsOfCe) {
    const std::string flashFile = "\\NAND Flash\\b.srg";
    ASSERT_TRUE(vboard::writeBoardFile(kCardFile, bytesOf("one")));
    struct Row {
        const char* what;
        std::function<DWORD()> call;
        DWORD error;
    };
    const std::vector<Row> rows = {
        {"copy", [&] { return copyFile(kCardFile, flashFile); }, 0},
        {"copy over an existing file", [&] { return copyFile(kCardFile, flashFile); }, 0},
        {"copy that must not overwrite", [&] { return copyFile(kCardFile, flashFile, TRUE); }, 80},
        {"copy of a missing file", [&] { return copyFile("\\Storage Card\\none", flashFile); }, 2},
        {"copy onto itself", [&] { return copyFile(kCardFile, "\\storage card\\A.SRG"); }, 32},
        {"copy to no volume", [&] { return copyFile(kCardFile, "\\Windows\\a.srg"); }, 3},
        {"a name with '..'", [&] { return copyFile(kCardFile, "\\NAND Flash\\..\\x"); }, 123},
        {"make it read-only", [&] { return setAttributes(flashFile, FILE_ATTRIBUTE_READONLY); }, 0},
        {"copy over a read-only file", [&] { return copyFile(kCardFile, flashFile); }, 5},
        {"delete a read-only file", [&] { return deleteFile(flashFile); }, 5},
        {"unknown attribute bits", [&] { return setAttributes(flashFile, 0x100); }, 87},
        {"clear its attributes", [&] { return setAttributes(flashFile, FILE_ATTRIBUTE_NORMAL); }, 0},
        {"delete", [&] { return deleteFile(flashFile); }, 0},
        {"delete again", [&] { return deleteFile(flashFile); }, 2},
        {"attributes of a missing file", [&] { return setAttributes(flashFile, 0x80); }, 2},
        {"the loaded user hive's file is the registry's",
         [&] { return copyFile(kCardFile, vboard::kUserHivePath); }, 32},
        {"the system hive's too", [&] { return copyFile(kCardFile, vboard::kSystemHivePath); }, 32},
        {"unload the user hive",
         [] { return SetCurrentUser(nullptr, nullptr, 0, FALSE) ? 0 : GetLastError(); }, 0},
        {"now its file can be replaced", [&] { return copyFile(kCardFile, vboard::kUserHivePath); }, 0},
        {"no flush of an unloaded hive", [] { return static_cast<DWORD>(RegFlushKey(HKEY_CURRENT_USER)); }, 1018},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(row.call(), row.error);
    }
    EXPECT_EQ(textOf(vboard::readBoardFile(vboard::kUserHivePath)), "one");
    vboard::setStorageCard(false);
    EXPECT_EQ(copyFile(kCardFile, flashFile), 3u) << "no card, no files";
    EXPECT_FALSE(vboard::boardFileExists(kCardFile));
    vboard::setStorageCard(true);
    EXPECT_TRUE(vboard::boardFileExists(kCardFile)) << "the card kept its files";
}

TEST_F(StorageModel, FindsTheFirstMatchingFileAndClosesItsSearchOnce) {
    ASSERT_TRUE(vboard::writeBoardFile("\\Storage Card\\b.srg", bytesOf("bb")));
    ASSERT_TRUE(vboard::writeBoardFile("\\Storage Card\\A.srg", bytesOf("aaa")));
    ASSERT_TRUE(vboard::writeBoardFile("\\Storage Card\\sub\\c.srg", bytesOf("c")));
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(L"\\Storage Card\\*.SRG", &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(std::wstring(found.cFileName), L"A.srg");
    EXPECT_EQ(found.nFileSizeLow, 3u);
    EXPECT_EQ(found.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(FindClose(search));
    EXPECT_FALSE(FindClose(search));
    EXPECT_EQ(vboard::misuses().size(), 1u) << "a second close is the caller's fault";
    vboard::clearMisuses();
    EXPECT_EQ(FindFirstFileW(L"\\Storage Card\\sub\\?.srg", &found) != INVALID_HANDLE_VALUE, true);
    EXPECT_EQ(std::wstring(found.cFileName), L"c.srg");
    EXPECT_EQ(FindFirstFileW(L"\\Storage Card\\none.srg", &found), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(FindFirstFileW(L"\\Storage Card\\x", nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    vboard::reset();  // closes the search left open above
}

TEST_F(StorageModel, SaveNeverOverwritesAndReplaceStagesOnlyAReadableSystemHive) {
    EXPECT_EQ(RegSaveKeyW(HKEY_LOCAL_MACHINE, L"\\Storage Card\\s.srg", nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegSaveKeyW(HKEY_LOCAL_MACHINE, L"\\Storage Card\\s.srg", nullptr), ERROR_ALREADY_EXISTS);
    HKEY ident = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Ident", 0, KEY_ALL_ACCESS, &ident), ERROR_SUCCESS);
    EXPECT_EQ(RegSaveKeyW(ident, L"\\Storage Card\\ident.srg", nullptr), ERROR_SUCCESS);
    RegCloseKey(ident);
    EXPECT_EQ(textOf(vboard::readBoardFile("\\Storage Card\\ident.srg")),
              "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Ident]\r\n"
              "\"BSPVersionNumber\"=dword:00020001\r\n\"ImageVersionNumber\"=dword:00080000\r\n");

    ASSERT_TRUE(vboard::writeBoardFile("\\Storage Card\\bad.srg", bytesOf("garbage")));
    EXPECT_EQ(RegReplaceKeyW(HKEY_LOCAL_MACHINE, nullptr, L"\\Storage Card\\bad.srg", nullptr), 1009);
    EXPECT_EQ(GetLastError(), 1009u) << "the registry leaves its error in the last error too";
    EXPECT_TRUE(vboard::boardFileExists("\\Storage Card\\bad.srg")) << "a refused file stays";
    EXPECT_EQ(vboard::storageProblems().size(), 1u);
    EXPECT_EQ(RegReplaceKeyW(HKEY_CURRENT_USER, nullptr, L"\\Storage Card\\s.srg", nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegReplaceKeyW(HKEY_LOCAL_MACHINE, L"Ident", L"\\Storage Card\\s.srg", nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegReplaceKeyW(HKEY_LOCAL_MACHINE, nullptr, L"\\Storage Card\\none", nullptr),
              ERROR_FILE_NOT_FOUND);

    // Staged: the file moves aside, and the hive it holds is the system hive after a restart.
    vboard::setRegistryDword(HKEY_LOCAL_MACHINE, "Ident", "BSPVersionNumber", 7);
    EXPECT_EQ(RegReplaceKeyW(HKEY_LOCAL_MACHINE, nullptr, L"\\Storage Card\\ident.srg", nullptr),
              ERROR_SUCCESS);
    EXPECT_FALSE(vboard::boardFileExists("\\Storage Card\\ident.srg"));
    EXPECT_TRUE(vboard::boardFileExists(vboard::kPendingSystemHivePath));
    EXPECT_EQ(vboard::registryValue(HKEY_LOCAL_MACHINE, "Ident", "BSPVersionNumber")->data, words({7}))
        << "nothing changes before the restart";
    HANDLE reset = openDevice("IOC1:");
    ASSERT_TRUE(DeviceIoControl(reset, 0x6BBD, nullptr, 0, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(vboard::registryValue(HKEY_LOCAL_MACHINE, "Ident", "BSPVersionNumber")->data,
              words({vboard::kDefaultBspVersion}));
    EXPECT_FALSE(vboard::registryKeyExists(HKEY_LOCAL_MACHINE, "HARDWARE"))
        << "the saved hive held only Ident";
    EXPECT_FALSE(vboard::boardFileExists(vboard::kPendingSystemHivePath));
    EXPECT_TRUE(vboard::boardFileExists(vboard::kSystemHivePath));
}

TEST_F(StorageModel, SaveAndReplaceLeaveTheRegistrysOwnFilesAlone) {
    const std::wstring saved = L"\\Storage Card\\s.srg";
    ASSERT_EQ(RegSaveKeyW(HKEY_LOCAL_MACHINE, saved.c_str(), nullptr), ERROR_SUCCESS);
    const std::wstring system = wide(vboard::kSystemHivePath), staged = wide(vboard::kPendingSystemHivePath),
                       user = wide(vboard::kUserHivePath);
    auto save = [](HKEY root, const std::wstring& file) { return RegSaveKeyW(root, file.c_str(), nullptr); };
    auto replace = [](const std::wstring& file, const std::wstring& old) {
        return RegReplaceKeyW(HKEY_LOCAL_MACHINE, nullptr, file.c_str(), old.empty() ? nullptr : old.c_str());
    };
    struct Row {
        const char* what;
        std::function<LONG()> call;
        LONG status;
    };
    const std::vector<Row> rows = {
        {"save over the staged system hive", [&] { return save(HKEY_CURRENT_USER, staged); }, 32},
        {"in another case", [&] { return save(HKEY_CURRENT_USER, L"\\nand flash\\SYSTEM.HV.PENDING"); }, 32},
        {"save as the system hive", [&] { return save(HKEY_LOCAL_MACHINE, system); }, 32},
        {"save as the loaded user hive", [&] { return save(HKEY_CURRENT_USER, user); }, 32},
        {"replace with the system hive", [&] { return replace(system, L""); }, 32},
        {"replace with the loaded user hive", [&] { return replace(user, L""); }, 32},
        {"the old hive onto the system hive", [&] { return replace(saved, system); }, 32},
        {"the old hive onto the staged file", [&] { return replace(saved, staged); }, 32},
        {"the old hive onto the user hive", [&] { return replace(saved, user); }, 32},
        {"unload the user hive", [] { return SetCurrentUser(nullptr, nullptr, 0, FALSE) ? 0L : 1L; }, 0},
        {"then its file may be written", [&] { return save(HKEY_LOCAL_MACHINE, user); }, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(row.call(), row.status);
    }
    EXPECT_TRUE(vboard::boardFileExists("\\Storage Card\\s.srg")) << "nothing was staged";
    EXPECT_FALSE(vboard::boardFileExists(vboard::kPendingSystemHivePath));
    EXPECT_FALSE(vboard::boardFileExists(vboard::kSystemHivePath));
}

TEST_F(StorageModel, AStagedHiveThatCannotBeUsedIsSetAsideAndTheSystemHiveKept) {
    vboard::setRegistryDword(HKEY_LOCAL_MACHINE, "Ident", "BSPVersionNumber", 7);
    ASSERT_EQ(RegFlushKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    // Changed on the flash after RegReplaceKeyW took it (or staged by a board without limits).
    const Bytes staged = bytesOf(kHiveHeader + "[HKEY_LOCAL_MACHINE\\" + deepPath(513) + "]\r\n");
    ASSERT_TRUE(vboard::writeBoardFile(vboard::kPendingSystemHivePath, staged));
    restart();
    EXPECT_EQ(vboard::registryValue(HKEY_LOCAL_MACHINE, "Ident", "BSPVersionNumber")->data, words({7}));
    const Lines problem = {
        "\\NAND Flash\\system.hv.pending: line 2: the key is 513 levels deep (at most 512); not put in "
        "place: the system hive is kept, and the file is set aside as \\NAND Flash\\system.hv.refused"};
    EXPECT_EQ(vboard::storageProblems(), problem);
    EXPECT_FALSE(vboard::boardFileExists(vboard::kPendingSystemHivePath));
    EXPECT_EQ(vboard::readBoardFile(vboard::kRefusedSystemHivePath), staged);
    restart();
    EXPECT_EQ(vboard::storageProblems(), problem) << "tried once, not at every start";
    EXPECT_EQ(deleteFile(vboard::kRefusedSystemHivePath), 0u) << "the file is no longer the registry's";
}

namespace {

// Names as the control API takes them (the names drawn here hold no surrogate).
std::string utf8(const std::wstring& text) { return vboard::toUtf8(text); }

// How the registry compares names: without regard to ASCII case.
std::wstring folded(std::wstring text) {
    for (wchar_t& c : text)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return text;
}

}  // namespace

// Random key names, value names and string data, with the characters a text format trips on
// (line ends, quotes, backslashes, brackets, control characters, characters beyond the BMP), are
// written by the calls, flushed, read back by a restart and queried: every one comes back as it
// went in. The seed is fixed, so that a failure is the same on every run.
TEST_F(StorageModel, EveryNameAndStringTheRegistryTakesComesBackAfterAFlushAndARestart) {
    std::mt19937 random(19);
    const std::wstring tricky = L"\r\n\t\x01\x1F\"\\[]=@;# \x7F\u00E9\uFEFF\uFFFD\U0001F600\U0010FFFF";
    auto character = [&](bool keyName) -> wchar_t {
        for (;;) {
            wchar_t c;
            switch (random() % 3) {
                case 0: c = tricky[random() % tricky.size()]; break;
                case 1: c = static_cast<wchar_t>(0x20 + random() % 0x5F); break;
                default: c = static_cast<wchar_t>(1 + random() % 0x10FFFF); break;
            }
            if (c >= 0xD800 && c <= 0xDFFF) continue;  // no character in a host WCHAR
            if (keyName && (c == L'\\' || c < 0x20)) continue;  // a key name is printable
            return c;
        }
    };
    auto randomText = [&](size_t longest, bool keyName) {
        std::wstring out;
        for (size_t n = random() % (longest + 1); n > 0; --n) out += character(keyName);
        return out;
    };
    struct Stored {
        HKEY root;
        std::wstring path, name;
        DWORD type;
        Bytes data;  // in the host's WCHARs for the string types
    };
    std::map<std::tuple<HKEY, std::wstring, std::wstring>, Stored> stored;
    auto put = [&](const Stored& value) {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(value.root, value.path.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(),
                                 static_cast<DWORD>(value.data.size())),
                  ERROR_SUCCESS);
        RegCloseKey(key);
        stored[{value.root, folded(value.path), folded(value.name)}] = value;
    };
    auto wideBytes = [](const std::wstring& text) {
        const auto* p = reinterpret_cast<const uint8_t*>(text.c_str());
        return Bytes(p, p + (text.size() + 1) * sizeof(wchar_t));
    };
    put({HKEY_CURRENT_USER, L"ControlPanel", L"evil\r\nname", REG_SZ, wideBytes(L"line\r\nend")});
    for (int i = 0; i < 120; ++i) {
        Stored value;
        value.root = random() % 2 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
        for (size_t level = 1 + random() % 3; level > 0; --level) {
            std::wstring name;
            while (name.empty()) name = randomText(12, true);
            value.path += (value.path.empty() ? L"" : L"\\") + name;
        }
        ASSERT_TRUE(vboard::createRegistryKey(value.root, utf8(value.path)));
        value.name = randomText(12, false);  // sometimes empty: the key's default value
        value.type = std::vector<DWORD>{REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_BINARY}[random() % 4];
        if (value.type == REG_BINARY) {
            for (size_t n = random() % 9; n > 0; --n) value.data.push_back(static_cast<uint8_t>(random()));
        } else {
            std::wstring data = randomText(16, false);
            if (value.type == REG_MULTI_SZ) data += std::wstring(1, L'\0') + randomText(8, false) + L'\0';
            value.data = wideBytes(data);
        }
        put(value);
    }
    ASSERT_EQ(RegFlushKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    ASSERT_EQ(RegFlushKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    const std::string user = vboard::hiveText(HKEY_CURRENT_USER), system = vboard::hiveText(HKEY_LOCAL_MACHINE);
    restart();
    EXPECT_TRUE(vboard::storageProblems().empty()) << vboard::storageProblems()[0];
    EXPECT_EQ(vboard::hiveText(HKEY_CURRENT_USER), user);
    EXPECT_EQ(vboard::hiveText(HKEY_LOCAL_MACHINE), system);
    for (const auto& entry : stored) {
        const Stored& value = entry.second;
        SCOPED_TRACE(utf8(value.path) + " \"" + utf8(value.name) + "\"");
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(value.root, value.path.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
        Bytes back(value.data.size() + 8);
        DWORD type = 0, size = static_cast<DWORD>(back.size());
        EXPECT_EQ(RegQueryValueExW(key, value.name.c_str(), nullptr, &type, back.data(), &size), ERROR_SUCCESS);
        back.resize(size);
        EXPECT_EQ(type, value.type);
        EXPECT_EQ(back, value.data);
        RegCloseKey(key);
    }
}

TEST_F(StorageModel, ABoardFolderHoldsTheVolumesAndIsChosenByDirective) {
    char pattern[] = "/tmp/tarvik-vboard-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string folder = pattern;
    EXPECT_TRUE(vboard::applyConfigLine("board " + folder).empty());
    EXPECT_EQ(vboard::boardFolder(), folder);
    ASSERT_TRUE(vboard::writeBoardFile("\\Storage Card\\Sub\\X.txt", bytesOf("x")));
    EXPECT_EQ(textOf(vboard::readBoardFile("\\storage card\\sub\\x.TXT")), "x")
        << "CE names compare without regard to case";
    std::ifstream host(folder + "/Storage Card/Sub/X.txt");
    EXPECT_TRUE(host.good());
    EXPECT_TRUE(vboard::applyConfigLine("card out").empty());
    EXPECT_FALSE(vboard::boardFileExists("\\Storage Card\\Sub\\X.txt"));
    EXPECT_EQ(vboard::applyConfigLine("card maybe").size(), 1u);
    EXPECT_FALSE(vboard::setBoardFolder("/proc/no-such-board"));
    vboard::reset();
    EXPECT_EQ(vboard::boardFolder(), "") << "a reset goes back to the board's start";
    EXPECT_TRUE(vboard::storageCardInserted());
    std::filesystem::remove_all(folder);
}

TEST_F(StorageModel, TheCControlApiReachesTheSameModels) {
    EXPECT_EQ(vboard_set_board_folder(nullptr), 1);
    uint32_t value = 0;
    EXPECT_EQ(vboard_phy_peek(vboard::kCcmCcr, 32, &value), 1);
    EXPECT_EQ(value, 0x040116FFu);
    EXPECT_EQ(vboard_phy_poke(0x00907001, 32, 1), 0);
    EXPECT_EQ(vboard_backlight_level(), vboard::kBacklightPowerOnLevel);
    EXPECT_EQ(vboard_kitl_powered(), 1);
    EXPECT_EQ(vboard_write_board_file("\\Storage Card\\c.bin", "\0\1", 2), 1);
    size_t size = 0;
    void* data = vboard_read_board_file("\\Storage Card\\c.bin", &size);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(static_cast<uint8_t*>(data)[1], 1);
    vboard_free(data);
    vboard_storage_card(0);
    EXPECT_EQ(vboard_read_board_file("\\Storage Card\\c.bin", &size), nullptr);
    char* hive = vboard_hive_text(0);
    EXPECT_EQ(std::string(hive).rfind("Windows Registry Editor Version 5.00\r\n", 0), 0u);
    vboard_free(hive);
    EXPECT_EQ(vboard_storage_problems(), nullptr);
    vboard_end_process_on_reset(0);
    EXPECT_EQ(vboard_restarts(), 0u);
}

// ---- Nothing outside the board folder ----

namespace {

namespace fs = std::filesystem;

// A board folder prepared by someone else, and beside it a folder the board must never reach,
// holding one file. Inside the board: a real file on the card, and links to the outside in the
// places a file call, a hive save and a flush would go through.
struct PreparedBoard {
    std::string root, board, outside;
    PreparedBoard() {
        char pattern[] = "/tmp/tarvik-prepared-XXXXXX";
        root = mkdtemp(pattern) ? pattern : "";
        board = root + "/board";
        outside = root + "/outside";
        fs::create_directories(board + "/Storage Card");
        fs::create_directories(board + "/NAND Flash");
        fs::create_directories(outside);
        std::ofstream(outside + "/secret") << "outside";
        std::ofstream(board + "/Storage Card/real.srg") << "real";
        fs::create_directory_symlink(outside, board + "/Storage Card/link");
        fs::create_symlink(outside + "/secret", board + "/Storage Card/file.srg");
        fs::create_directory_symlink(outside, board + "/NAND Flash/User");
    }
    ~PreparedBoard() {
        vboard::setBoardFolder("");
        fs::remove_all(root);
    }
    // What the outside folder holds: names, contents and permissions.
    std::string outsideState() const {
        std::string state;
        for (const auto& entry : fs::directory_iterator(outside)) {
            std::ifstream in(entry.path());
            std::stringstream text;
            text << in.rdbuf();
            state += entry.path().filename().string() + "=" + text.str() + " mode " +
                     std::to_string(static_cast<int>(fs::status(entry.path()).permissions())) + "\n";
        }
        return state;
    }
};

std::string firstFound(const std::string& pattern) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(wide(pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return "error " + std::to_string(GetLastError());
    FindClose(search);
    std::string name;
    for (const WCHAR* c = found.cFileName; *c != 0; ++c) name += static_cast<char>(*c);
    return name;
}

// Every way in through the links, with what it must answer; the mismatches, as text. Used in
// this process and in one whose kernel seems to lack openat2.
std::vector<std::string> linkedCallMismatches(const PreparedBoard& prepared) {
    const std::string real = "\\Storage Card\\real.srg";
    struct Row {
        const char* what;
        std::function<std::string()> call;
        std::string answer;
    };
    auto error = [](DWORD e) { return std::to_string(e); };
    const std::vector<Row> rows = {
        {"copy out of a linked folder", [&] { return error(copyFile("\\Storage Card\\link\\secret", "\\Storage Card\\got")); }, "2"},
        {"copy into a linked folder", [&] { return error(copyFile(real, "\\Storage Card\\link\\new")); }, "5"},
        {"copy over a linked file", [&] { return error(copyFile(real, "\\Storage Card\\file.srg")); }, "5"},
        {"delete in a linked folder", [&] { return error(deleteFile("\\Storage Card\\link\\secret")); }, "2"},
        {"delete a linked file", [&] { return error(deleteFile("\\Storage Card\\file.srg")); }, "2"},
        {"attributes in a linked folder",
         [&] { return error(setAttributes("\\Storage Card\\link\\secret", FILE_ATTRIBUTE_READONLY)); }, "2"},
        {"attributes of a linked file",
         [&] { return error(setAttributes("\\Storage Card\\file.srg", FILE_ATTRIBUTE_READONLY)); }, "2"},
        {"search a linked folder", [&] { return firstFound("\\Storage Card\\link\\*"); }, "error 2"},
        {"a search skips a linked file", [&] { return firstFound("\\Storage Card\\*.srg"); }, "real.srg"},
        {"save a hive into a linked folder",
         [&] { return error(static_cast<DWORD>(RegSaveKeyW(HKEY_LOCAL_MACHINE, L"\\Storage Card\\link\\s.srg", nullptr))); }, "5"},
        {"save a hive over a linked file",
         [&] { return error(static_cast<DWORD>(RegSaveKeyW(HKEY_LOCAL_MACHINE, L"\\Storage Card\\file.srg", nullptr))); }, "5"},
        {"stage a hive from a linked folder",
         [&] { return error(static_cast<DWORD>(RegReplaceKeyW(HKEY_LOCAL_MACHINE, nullptr, L"\\Storage Card\\link\\secret", nullptr))); }, "2"},
        {"flush the user hive into a linked folder",
         [&] { return error(static_cast<DWORD>(RegFlushKey(HKEY_CURRENT_USER))); }, "5"},
        {"read a linked file through the control API",
         [&] { return textOf(vboard::readBoardFile("\\Storage Card\\file.srg")); }, "(no file)"},
    };
    std::vector<std::string> mismatches;
    const std::string before = prepared.outsideState();
    if (!vboard::setBoardFolder(prepared.board)) return {"the prepared board folder was refused"};
    for (const Row& row : rows) {
        const std::string answer = row.call();
        if (answer != row.answer) mismatches.push_back(std::string(row.what) + ": " + answer);
    }
    if (prepared.outsideState() != before) mismatches.push_back("the outside changed:\n" + prepared.outsideState());
    if (textOf(vboard::readBoardFile(real)) != "real") mismatches.push_back("the real file changed");
    return mismatches;
}

// Runs `check` in a child process whose openat2 fails with ENOSYS, as on a kernel without it;
// nothing where no seccomp filter can be installed (qemu-user refuses them).
std::optional<std::vector<std::string>> withoutOpenat2(const std::function<std::vector<std::string>()>& check) {
    int report[2];
    if (::pipe(report) != 0) return std::vector<std::string>{"no pipe"};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(report[0]);
        sock_filter filter[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat2, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        sock_fprog program = {static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
            ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
            ::_exit(3);
        std::string text;
        for (const std::string& line : check()) text += line + "\n";
        if (::write(report[1], text.data(), text.size()) < 0) ::_exit(2);
        ::_exit(0);
    }
    ::close(report[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(report[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    ::close(report[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 3) return std::nullopt;
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) lines.push_back("the child did not end well");
    return lines;
}

}  // namespace

TEST_F(StorageModel, NoCallReachesOutsideTheBoardFolderThroughALink) {
    const std::string kNotFollowed = "a symbolic link, which the board does not follow";
    {
        PreparedBoard prepared;
        EXPECT_EQ(linkedCallMismatches(prepared), std::vector<std::string>{});
        // Each link was named as the folder was chosen.
        Lines problems = vboard::storageProblems();
        std::sort(problems.begin(), problems.end());
        EXPECT_EQ(problems, (Lines{prepared.board + "/NAND Flash/User: " + kNotFollowed,
                                   prepared.board + "/Storage Card/file.srg: " + kNotFollowed,
                                   prepared.board + "/Storage Card/link: " + kNotFollowed}));
    }
    PreparedBoard prepared;
    const auto fallback = withoutOpenat2([&] { return linkedCallMismatches(prepared); });
    if (!fallback) GTEST_SKIP() << "no seccomp filter here: the walk without openat2 is not tried";
    EXPECT_EQ(*fallback, std::vector<std::string>{});
}

TEST_F(StorageModel, AVolumeThatIsALinkRefusesTheFolder) {
    PreparedBoard prepared;
    for (const char* volume : {"Storage Card", "NAND Flash"}) {
        SCOPED_TRACE(volume);
        vboard::reset();
        const std::string board = prepared.root + "/" + volume + "-linked";
        fs::create_directories(board);
        fs::create_directory_symlink(prepared.outside, board + "/" + volume);
        EXPECT_FALSE(vboard::setBoardFolder(board));
        ASSERT_EQ(vboard::storageProblems().size(), 1u);
        EXPECT_EQ(vboard::storageProblems()[0], "board folder " + board + ": '" + volume +
                                                    "' is a symbolic link, which the board does not follow");
        EXPECT_EQ(RegSaveKeyW(HKEY_LOCAL_MACHINE, L"\\Storage Card\\s.srg", nullptr), ERROR_SUCCESS)
            << "the board stays in memory";
        EXPECT_EQ(prepared.outsideState(), "secret=outside mode " +
                                               std::to_string(static_cast<int>(fs::status(prepared.outside + "/secret").permissions())) + "\n");
    }
}

TEST_F(StorageModel, TemporaryFilesAreMadeNewAndStaleOnesRemovedAtStart) {
    PreparedBoard prepared;
    const std::string card = prepared.board + "/Storage Card/";
    fs::create_directories(card + "sub");
    // Left by a crash, in both namings the board has used; and a person's file that only looks
    // like one.
    for (const char* name : {"sub/.vboard-tmp-4242-1", ".vboard-tmp-00112233aabbccdd", ".vboard-tmp-notes.txt"})
        std::ofstream(card + name) << "stale";
    ASSERT_TRUE(vboard::setBoardFolder(prepared.board));
    EXPECT_FALSE(fs::exists(card + "sub/.vboard-tmp-4242-1"));
    EXPECT_FALSE(fs::exists(card + ".vboard-tmp-00112233aabbccdd"));
    EXPECT_TRUE(fs::exists(card + ".vboard-tmp-notes.txt"));
    // Links planted under the names a write's temporary file once had cannot take the write.
    for (int n = 1; n <= 4; ++n)
        fs::create_symlink(prepared.outside + "/planted",
                           card + ".vboard-tmp-" + std::to_string(::getpid()) + "-" + std::to_string(n));
    for (int n = 0; n < 4; ++n) ASSERT_TRUE(vboard::writeBoardFile("\\Storage Card\\new.srg", bytesOf("new")));
    EXPECT_FALSE(fs::exists(prepared.outside + "/planted"));
    EXPECT_EQ(textOf(vboard::readBoardFile("\\Storage Card\\new.srg")), "new");
}

TEST_F(StorageModel, PathsOfMaxPathCharactersOrMoreAreRefused) {
    // "\Storage Card\" is 14 characters; CE counts UTF-16 units, so a character outside the
    // BMP counts twice, and a host folder holds names of 255 bytes at most.
    const std::wstring volume = L"\\Storage Card\\";
    struct Row {
        const char* what;
        std::wstring path;
        DWORD error;  // of every call that names it
    };
    const std::vector<Row> rows = {
        {"259 characters", volume + std::wstring(245, L'a'), 0},
        {"260 characters", volume + std::wstring(246, L'a'), 206},
        {"259 units and a surrogate pair", volume + std::wstring(244, L'a') + L"\U0001F600", 206},
        {"a folder of 259 characters", volume + std::wstring(100, L'b') + L"\\" + std::wstring(144, L'c'), 0},
        {"a name of more than 255 bytes", volume + std::wstring(130, L'\u00E9'), 206},
    };
    PreparedBoard prepared;
    for (const std::string& folder : {std::string(), prepared.board}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.what) + (folder.empty() ? " in memory" : " on a folder"));
            vboard::reset();
            ASSERT_TRUE(vboard::setBoardFolder(folder));
            ASSERT_TRUE(vboard::writeBoardFile(kCardFile, bytesOf("x")));
            const std::wstring source = wide(kCardFile);
            EXPECT_EQ(CopyFileW(source.c_str(), row.path.c_str(), FALSE) ? 0 : GetLastError(), row.error);
            EXPECT_EQ(SetFileAttributesW(row.path.c_str(), FILE_ATTRIBUTE_NORMAL) ? 0 : GetLastError(), row.error);
            WIN32_FIND_DATAW found;
            HANDLE search = FindFirstFileW(row.path.c_str(), &found);
            EXPECT_EQ(search != INVALID_HANDLE_VALUE ? 0 : GetLastError(), row.error);
            if (search != INVALID_HANDLE_VALUE) FindClose(search);
            EXPECT_EQ(DeleteFileW(row.path.c_str()) ? 0 : GetLastError(), row.error);
            EXPECT_EQ(static_cast<DWORD>(RegSaveKeyW(HKEY_LOCAL_MACHINE, row.path.c_str(), nullptr)), row.error);
        }
    }
}

TEST_F(StorageModel, SearchesAndExistenceChecksNeverReadTheFiles) {
    // Two sparse 1 GB backups on the card: reading either would take a gigabyte of memory.
    PreparedBoard prepared;
    const uint64_t size = 1ull << 30;
    for (const char* name : {"Save_HKCU_Reg.srg", "Save_HKLM_Reg.srg"}) {
        const std::string file = prepared.board + "/Storage Card/" + name;
        std::ofstream{file};
        fs::resize_file(file, size);
    }
    ASSERT_TRUE(vboard::setBoardFolder(prepared.board));
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(L"\\Storage Card\\Save_*.srg", &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(std::wstring(found.cFileName), L"Save_HKCU_Reg.srg");
    EXPECT_EQ((static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow, size);
    FindClose(search);
    EXPECT_TRUE(vboard::boardFileExists("\\Storage Card\\Save_HKLM_Reg.srg"));
    EXPECT_EQ(vboard::listBoardFiles("\\Storage Card\\*").size(), 3u);
    EXPECT_EQ(RegSaveKeyW(HKEY_LOCAL_MACHINE, L"\\Storage Card\\Save_HKLM_Reg.srg", nullptr), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(copyFile("\\Storage Card\\real.srg", "\\Storage Card\\Save_HKLM_Reg.srg", TRUE), 80u);
    EXPECT_EQ(setAttributes("\\Storage Card\\Save_HKLM_Reg.srg", FILE_ATTRIBUTE_READONLY), 0u);
    EXPECT_EQ(deleteFile("\\Storage Card\\Save_HKLM_Reg.srg"), 5u) << "read-only now";
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "kilobytes more at the peak";
}

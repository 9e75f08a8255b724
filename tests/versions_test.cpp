// src/api: the three version queries: the library's constant and the two numbers under HKLM\Ident.
#include "Tarvik.h"
#include "vboard/gtest.h"
#include "test_support.h"

using tarvik_test::expectNoMisuse;

class TarvikVersion : public vboard::testing::BoardTest {};
class RegistryVersions : public vboard::testing::BoardTest {};

TEST_F(TarvikVersion, IsTheConstantAndTouchesNothing) {
    EXPECT_EQ(TarvikGetVersion(), 0x01040001u);
    EXPECT_EQ(TarvikGetVersion(), 17039361u);
    EXPECT_TRUE(vboard::trace().empty());
}

namespace {

struct Query {
    const char* valueName;
    uint32_t (*call)();
    const char* readError;
};

const Query kQueries[] = {
    {"BSPVersionNumber", BSPGetVersion, "ERROR: Can't read registry value BSPVersionNumber\r\n"},
    {"ImageVersionNumber", WinCEImageGetVersion,
     "ERROR: Can't read registry value ImageVersionNumber\r\n"},
};

struct StoredValue {
    const char* what;
    DWORD type;
    vboard::Bytes data;
    uint32_t expected;
    bool readFails;
};

// The library's WCHAR: 2 bytes in the module's DLL (the `dll` preset runs it), the host's
// wchar_t in a host build.
#ifdef TARVIK_TEST_DLL
constexpr size_t kLibraryWchar = 2;
#else
constexpr size_t kLibraryWchar = sizeof(WCHAR);
#endif

// The type is never asked for, so whatever fits in four bytes comes back raw, little-endian.
const StoredValue kStoredValues[] = {
    {"4-byte number", REG_DWORD, {0x78, 0x56, 0x34, 0x12}, 0x12345678u, false},
    {"1 byte", REG_DWORD, {0xAB}, 0x000000ABu, false},
    {"2 bytes", REG_BINARY, {0x01, 0x02}, 0x00000201u, false},
    {"3 bytes", REG_DWORD, {0x01, 0x02, 0x03}, 0x00030201u, false},
    // A string is handed over in the caller's WCHARs: on the device "A" fits in four bytes, on a
    // host with a 4-byte wchar_t it needs eight and the read fails.
    {"string of one character", REG_SZ, {'A', 0, 0, 0}, kLibraryWchar == 2 ? 0x00000041u : 0u,
     kLibraryWchar != 2},
    {"empty string", REG_SZ, {0, 0}, 0u, false},
    {"binary of 4 bytes", REG_BINARY, {0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFFu, false},
    {"zero", REG_DWORD, {0, 0, 0, 0}, 0u, false},
    {"5 bytes, too long", REG_BINARY, {1, 2, 3, 4, 5}, 0u, true},
    {"string of 8 bytes", REG_SZ, {'1', 0, '2', 0, '3', 0, 0, 0}, 0u, true},
};

}  // namespace

TEST_F(RegistryVersions, ReturnTheStoredBytesOrFailWithTheReadMessage) {
    for (const Query& q : kQueries) {
        for (const StoredValue& v : kStoredValues) {
            SCOPED_TRACE(std::string(q.valueName) + ": " + v.what);
            vboard::setRegistryValue(HKEY_LOCAL_MACHINE, "Ident", q.valueName, v.type, v.data);
            vboard::clearDebug();
            EXPECT_EQ(q.call(), v.expected);
            std::vector<std::string> expectedLines;
            if (v.readFails) expectedLines.push_back(q.readError);
            EXPECT_EQ(vboard::debugLines(), expectedLines);
        }
    }
    expectNoMisuse();
    EXPECT_TRUE(vboard::openHandles().empty());
}

TEST_F(RegistryVersions, DefaultBoardAnswersItsImageNumbers) {
    EXPECT_EQ(BSPGetVersion(), vboard::kDefaultBspVersion);
    EXPECT_EQ(WinCEImageGetVersion(), vboard::kDefaultImageVersion);
    EXPECT_TRUE(vboard::debugLines().empty());
}

TEST_F(RegistryVersions, OpenTheKeyAskForFourBytesWithoutTypeAndCloseIt) {
    EXPECT_EQ(BSPGetVersion(), vboard::kDefaultBspVersion);
    EXPECT_EQ(vboard::traceLines(), (std::vector<std::string>{
                                        "RegOpenKeyExW HKLM\\Ident options 0 sam 0xF003F -> h1",
                                        "RegQueryValueExW HKLM\\Ident \"BSPVersionNumber\" size 4 -> type 4 size 4",
                                        "RegCloseKey h1 HKLM\\Ident -> ok",
                                    }));
}

TEST_F(RegistryVersions, AbsentKeyPrintsTheOpenMessage) {
    vboard::deleteRegistryKey(HKEY_LOCAL_MACHINE, "Ident");
    EXPECT_EQ(BSPGetVersion(), 0u);
    EXPECT_EQ(WinCEImageGetVersion(), 0u);
    const std::string open = "ERROR: Can't open Registry Key HKEY_LOCAL_MACHINE\\Ident\r\n";
    EXPECT_EQ(vboard::debugLines(), (std::vector<std::string>{open, open}));
    // Nothing was opened, so nothing is closed.
    EXPECT_TRUE(tarvik_test::traceOf("RegCloseKey").empty());
    EXPECT_FALSE(vboard::registryKeyExists(HKEY_LOCAL_MACHINE, "Ident"));
    expectNoMisuse();
}

TEST_F(RegistryVersions, AbsentValuePrintsTheReadMessageAndClosesTheKey) {
    vboard::deleteRegistryValue(HKEY_LOCAL_MACHINE, "Ident", "BSPVersionNumber");
    vboard::deleteRegistryValue(HKEY_LOCAL_MACHINE, "Ident", "ImageVersionNumber");
    EXPECT_EQ(BSPGetVersion(), 0u);
    EXPECT_EQ(WinCEImageGetVersion(), 0u);
    EXPECT_EQ(vboard::debugLines(),
              (std::vector<std::string>{"ERROR: Can't read registry value BSPVersionNumber\r\n",
                                        "ERROR: Can't read registry value ImageVersionNumber\r\n"}));
    EXPECT_EQ(tarvik_test::traceOf("RegCloseKey").size(), 2u);
    EXPECT_TRUE(vboard::openHandles().empty());
    expectNoMisuse();
}

TEST_F(RegistryVersions, FailedOpenOrQueryFromAFaultEndsTheSameWay) {
    vboard::armFault({"RegOpenKeyExW", "", std::nullopt, 1, ERROR_ACCESS_DENIED});
    vboard::armFault({"RegQueryValueExW", "", std::nullopt, 1, ERROR_GEN_FAILURE});
    EXPECT_EQ(BSPGetVersion(), 0u);  // the open fails
    EXPECT_EQ(BSPGetVersion(), 0u);  // the query fails
    EXPECT_EQ(BSPGetVersion(), vboard::kDefaultBspVersion);
    EXPECT_EQ(vboard::debugLines(),
              (std::vector<std::string>{"ERROR: Can't open Registry Key HKEY_LOCAL_MACHINE\\Ident\r\n",
                                        "ERROR: Can't read registry value BSPVersionNumber\r\n"}));
    EXPECT_TRUE(vboard::openHandles().empty());
}

// The PE loader and the stand-in of coredll that the `dll` preset runs Tarvik.dll with: where the
// image is mapped, a fresh copy for each test, which imports it refuses, what the DLL does with a
// byte argument whose upper bits are set, its own division helpers, and the conversions between
// the module's 2-byte WCHAR and the board's.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "Tarvik.h"
#include "dll/coredll_shims.h"
#include "dll/loaded_dll.h"
#include "fresh_library.h"
#include "test_support.h"
#include "vboard/gtest.h"
#include "vboard/system.h"

namespace {

using tarvik_dll::DllChar;
using tarvik_dll::PeImage;
using Bytes = std::vector<uint8_t>;
using Word = uint32_t;

const std::string kDll = std::string(TARVIK_DLL_DIR) + "/Tarvik.dll";

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A file of its own for this process, removed again when the test ends.
struct TempFile {
    std::string path =
        "/tmp/tarvik-dll-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    explicit TempFile(const Bytes& bytes) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    explicit TempFile(const std::string& text) : TempFile(Bytes(text.begin(), text.end())) {}
    ~TempFile() { std::remove(path.c_str()); }
    static inline int counter = 0;
};

// Overwrites the first occurrence of `from` (taken with its terminating zero) with `to`,
// zero-padded to the same length.
void replaceFirst(Bytes& bytes, const std::string& from, const std::string& to) {
    const std::string needle(from.c_str(), from.size() + 1);
    const auto at = std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end());
    ASSERT_NE(at, bytes.end()) << from;
    ASSERT_LE(to.size(), from.size());
    std::fill(at, at + static_cast<ptrdiff_t>(needle.size()), 0);
    std::copy(to.begin(), to.end(), at);
}

// Every 32-bit word `from` becomes `to` (an ordinal import stands in two tables).
void replaceWords(Bytes& bytes, uint32_t from, uint32_t to) {
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4)
        if (std::memcmp(&bytes[i], &from, 4) == 0) std::memcpy(&bytes[i], &to, 4);
}

// The file offset of a section's raw data.
size_t sectionData(const Bytes& bytes, const char* name) {
    uint32_t pe, raw = 0;
    std::memcpy(&pe, &bytes[60], 4);
    uint16_t count, optional;
    std::memcpy(&count, &bytes[pe + 6], 2);
    std::memcpy(&optional, &bytes[pe + 20], 2);
    for (uint16_t i = 0; i < count; ++i) {
        const size_t at = pe + 24 + optional + 40u * i;
        if (std::strncmp(reinterpret_cast<const char*>(&bytes[at]), name, 8) == 0)
            std::memcpy(&raw, &bytes[at + 20], 4);
    }
    return raw;
}

// ---- Loading ----

TEST(DllLoader, MapsTheImageAwayFromItsPreferredBaseWhereItRunsAsWell) {
    const PeImage& first = tarvik_dll::image();
    EXPECT_NE(reinterpret_cast<uintptr_t>(first.base()), first.preferredBase());
    // A second copy at yet another base: every relocated address (tables, texts, the import
    // address table) must follow it for the two to do the same.
    const PeImage second(kDll, tarvik_dll::coredllBinder(TARVIK_COREDLL_DEF));
    ASSERT_TRUE(second.loaded()) << second.error();
    EXPECT_NE(second.base(), first.base());
    std::vector<std::string> traces[2];
    const PeImage* images[2] = {&first, &second};
    for (int i = 0; i < 2; ++i) {
        vboard::reset();
        const auto setDirection = reinterpret_cast<uint8_t (*)(uint32_t, uint8_t, uint8_t)>(
            images[i]->exportAddress("GPIOSetDirection"));
        const auto getPin =
            reinterpret_cast<uint8_t (*)(uint32_t)>(images[i]->exportAddress("GPIOGetPin"));
        EXPECT_EQ(setDirection(34, 0, 1), 1);
        EXPECT_EQ(getPin(34), 0) << "index 34 (bank 0, pin 21) reads high";
        EXPECT_EQ(setDirection(0, 1, 0), 0) << "index 0 has no GPIO";
        traces[i] = vboard::traceLines();
    }
    EXPECT_EQ(traces[0], traces[1]);
    EXPECT_FALSE(traces[0].empty());
}

// A test's fresh library is a fresh copy of the DLL: the handle the last copy kept is forgotten
// with it, as in a process of its own, and the DLL needs no hook of its own for it.
class FreshLibrary : public vboard::testing::BoardTest {};

TEST_F(FreshLibrary, IsAFreshCopyOfTheDllThatKeepsNothing) {
    ASSERT_EQ(CANOpen(1), 1);
    // The power-on board closes the handle the copy kept; a copy that still held it would refuse
    // the open.
    vboard::reset();
    tarvik_test::freshLibrary();
    EXPECT_EQ(CANOpen(1), 1);
    CANClose(1);
}

TEST(DllLoader, RefusesAnImageItCannotBindNamingEachImport) {
    const std::string def = TARVIK_COREDLL_DEF;
    const Bytes dll = readFile(kDll);
    ASSERT_FALSE(dll.empty());
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
        std::string extraDef;  // lines added to coredll.def for this case
        std::string error;
    };
    const Case cases[] = {
        {"a name coredll.def does not declare", [](Bytes& b) { replaceFirst(b, "Sleep", "Slerp"); },
         "", "cannot bind 'Slerp' (device/coredll.def declares no such name)"},
        {"an ordinal coredll.def does not declare",
         [](Bytes& b) { replaceWords(b, 0x80000000u | 25, 0x80000000u | 26); }, "",
         "cannot bind ordinal 26 (device/coredll.def declares no such ordinal)"},
        {"by name what coredll exports by ordinal only",
         [](Bytes& b) { replaceFirst(b, "WaitForSingleObject", "TouchCalibrate"); }, "",
         "cannot bind 'TouchCalibrate' by name (coredll exports it by ordinal 877 only)"},
        {"a call the stand-in does not have",
         [](Bytes& b) { replaceFirst(b, "SetFileAttributesW", "GetTickCount"); },
         "    GetTickCount\n",
         "cannot bind 'GetTickCount' (no stand-in for coredll's GetTickCount)"},
        {"another module", [](Bytes& b) { replaceFirst(b, "coredll.dll", "coredlx.dll"); }, "",
         "cannot bind 'CloseHandle' from coredlx.dll (only coredll.dll is imported from)"},
        // The first relocation entry made of a type the ARM loader does not know.
        {"an unknown relocation",
         [](Bytes& b) {
             b[sectionData(b, ".reloc") + 9] =
                 static_cast<uint8_t>(0x90 | (b[sectionData(b, ".reloc") + 9] & 0x0F));
         },
         "", "relocation type 9 at RVA 0x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes damaged = dll;
        c.damage(damaged);
        const TempFile file(damaged);
        const TempFile defFile(
            std::string(std::istreambuf_iterator<char>(std::ifstream(def).rdbuf()), {}) +
            c.extraDef);
        const PeImage image(file.path, tarvik_dll::coredllBinder(defFile.path));
        EXPECT_FALSE(image.loaded());
        EXPECT_NE(image.error().find(c.error), std::string::npos) << image.error();
    }
}

// ---- The calling convention: a byte argument with its register's upper bits set ----

template <class... Words>
Word callWithWords(const char* name, Words... words) {
    return reinterpret_cast<Word (*)(Words...)>(tarvik_dll::image().exportAddress(name))(words...);
}

// What the board saw, call by call, with the data of the calls whose line does not decode it (a
// driver request's line does; its record may hold addresses on the library's stack).
std::string seen() {
    std::string out;
    for (const auto& e : vboard::trace()) {
        out += vboard::renderTrace(e);
        if (e.function != "DeviceIoControl")
            for (uint8_t b : e.in) out += " " + std::to_string(b);
        out += "\n";
    }
    return out;
}

// The ARM calling convention has the caller extend an 8-bit argument to 32 bits, and the DLL's
// compiler relies on it: a truth value is compared whole, so 0xFFFFFF01 is not 1 and counts as
// "anything else"; a byte stored into a driver record keeps its low 8 bits; a byte the library
// prints is printed whole. Results come back extended. Every AAPCS compiler extends (MSVC,
// clang, gcc, and the .NET marshaller for `byte`); a hand-written caller must too.
TEST(DllProbe, ByteArgumentsWithTheUpperBitsSetAreTakenAsTheirWholeRegister) {
    const Word dirty = 0xFFFFFF00;
    struct Case {
        const char* what;
        std::function<Word()> withUpperBits;
        std::function<Word()> actsLike;  // the same call with clean arguments
    };
    const Case cases[] = {
        {"GPIOSetPin level 1 is low",
         [&] { return callWithWords("GPIOSetPin", Word(1), dirty | 1); },
         [] {
             GPIOSetPin(1, 0);
             return Word(0);
         }},
        {"GPIOSetDirection input 1, level 1 is an output driven low",
         [&] { return callWithWords("GPIOSetDirection", Word(1), dirty | 1, dirty | 1); },
         [] { return Word(GPIOSetDirection(1, 0, 0)); }},
        {"ControlPowerKITL on 1 switches the link off",
         [&] { return callWithWords("ControlPowerKITL", dirty | 1); },
         [] { return Word(ControlPowerKITL(0)); }},
        {"SetBacklightSuspend enable 1 disables it",
         [&] { return callWithWords("SetBacklightSuspend", Word(30), dirty | 1); },
         [] { return Word(SetBacklightSuspend(30, 0)); }},
        {"I2CWrite's address, register and value bytes keep their low 8 bits",
         [&] {
             return callWithWords("I2CWrite", Word(0), Word(0), dirty | 0xA0, dirty | 0x10,
                                  dirty | 0x55);
         },
         [] { return Word(I2CWrite(0, 0, 0xA0, 0x10, 0x55)); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        vboard::reset();
        vboard::setSystemTime({2026, 12, 2, 8, 10, 30, 0, 0});
        const Word result = c.withUpperBits();
        const std::string withUpperBits = seen();
        vboard::reset();
        vboard::setSystemTime({2026, 12, 2, 8, 10, 30, 0, 0});
        EXPECT_EQ(result, c.actsLike()) << "results come back zero-extended";
        EXPECT_EQ(withUpperBits, seen());
    }
    // ReadPhysicalAddress prints its device byte as a number: the whole register, as -255.
    vboard::reset();
    EXPECT_EQ(callWithWords("ReadPhysicalAddress", dirty | 1, Word(0x020C4014), dirty | 32), 0u);
    EXPECT_EQ(vboard::debugLines()[1], "Wout:ReadPhysicalAddress Device: -255\r\n");
}

// ---- The DLL's own division helpers ----

// The platform's convention: divisor in r0, dividend in r1; quotient back in r0, remainder in r1.
TEST(DllDivision, TheHelpersAnswerQuotientAndRemainderInThePlatformsRegisters) {
    using Helper = uint64_t (*)(uint32_t divisor, uint32_t dividend);
    const auto sdiv = tarvik_dll::internal<Helper>("__rt_sdiv");
    const auto udiv = tarvik_dll::internal<Helper>("__rt_udiv");
    struct Case {
        Helper helper;
        const char* name;
        uint32_t divisor, dividend, quotient, remainder;
    };
    const auto s = [](int32_t v) { return static_cast<uint32_t>(v); };
    const Case cases[] = {
        {sdiv, "100 / 7", 7, 100, 14, 2},
        {sdiv, "-100 / 7", 7, s(-100), s(-14), s(-2)},
        {sdiv, "100 / -7", s(-7), 100, s(-14), 2},
        {sdiv, "-100 / -7", s(-7), s(-100), 14, s(-2)},
        {sdiv, "INT_MIN / -1", s(-1), s(INT_MIN), s(INT_MIN), 0},
        {sdiv, "INT_MIN / INT_MIN", s(INT_MIN), s(INT_MIN), 1, 0},
        {sdiv, "5 / INT_MIN", s(INT_MIN), 5, 0, 5},
        {sdiv, "INT_MAX / 1", 1, s(INT_MAX), s(INT_MAX), 0},
        {udiv, "0xFFFFFFFF / 1", 1, 0xFFFFFFFFu, 0xFFFFFFFFu, 0},
        {udiv, "0xFFFFFFFE / 0xFFFFFFFF", 0xFFFFFFFFu, 0xFFFFFFFEu, 0, 0xFFFFFFFEu},
        {udiv, "0xFFFFFFFF / 0x80000000", 0x80000000u, 0xFFFFFFFFu, 1, 0x7FFFFFFFu},
        {udiv, "30000000 / 125000", 125000, 30000000, 240, 0},
        {udiv, "0x12345678 / 0x10000", 0x10000, 0x12345678u, 0x1234, 0x5678},
        {udiv, "3 / 10", 10, 3, 0, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint64_t both = c.helper(c.divisor, c.dividend);
        EXPECT_EQ(static_cast<uint32_t>(both), c.quotient);
        EXPECT_EQ(static_cast<uint32_t>(both >> 32), c.remainder);
    }
}

// ---- The stand-in of coredll: the module's WCHAR ----

template <class F>
F shim(const char* name) {
    return reinterpret_cast<F>(tarvik_dll::coredllShim(name));
}

// "Zoë 🚀": a character outside the BMP is a surrogate pair in UTF-16 and one wchar_t on the board.
const DllChar kName[] = u"Zo\u00EB \U0001F680";
const char kNameUtf8[] = "Zo\xC3\xAB \xF0\x9F\x9A\x80";

class CoredllShims : public vboard::testing::BoardTest {};

TEST_F(CoredllShims, NamesReachTheBoardAsTheModuleWroteThem) {
    const auto createEvent =
        shim<HANDLE (*)(LPSECURITY_ATTRIBUTES, BOOL, BOOL, const DllChar*)>("CreateEventW");
    HANDLE event = createEvent(nullptr, FALSE, FALSE, kName);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(vboard::openHandles().back().name, kNameUtf8);
    CloseHandle(event);
    EXPECT_NE(createEvent(nullptr, FALSE, FALSE, nullptr), nullptr) << "no name stays no name";
}

TEST_F(CoredllShims, StringValuesAreKeptAndAnsweredInUtf16) {
    const auto set =
        shim<LONG (*)(HKEY, const DllChar*, DWORD, DWORD, const BYTE*, DWORD)>("RegSetValueExW");
    const auto query =
        shim<LONG (*)(HKEY, const DllChar*, LPDWORD, LPDWORD, LPBYTE, LPDWORD)>("RegQueryValueExW");
    const auto* bytes = reinterpret_cast<const BYTE*>(kName);
    const DWORD size = sizeof kName;  // 7 units with the zero: the rocket takes two
    ASSERT_EQ(set(HKEY_LOCAL_MACHINE, u"Owner", 0, REG_SZ, bytes, size), ERROR_SUCCESS);
    EXPECT_EQ(vboard::registryValue(HKEY_LOCAL_MACHINE, "", "Owner")->data,
              Bytes(bytes, bytes + size));

    struct Case {
        const char* what;
        bool withData;
        DWORD capacity;
        LONG result;
        DWORD size;
    };
    const Case cases[] = {
        {"the size alone", false, 0, ERROR_SUCCESS, size},
        {"a buffer that fits", true, 64, ERROR_SUCCESS, size},
        {"a buffer that fits exactly", true, size, ERROR_SUCCESS, size},
        {"a buffer one unit short", true, size - 2, ERROR_MORE_DATA, size},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BYTE data[64] = {};
        DWORD type = 0, answered = c.capacity;
        EXPECT_EQ(query(HKEY_LOCAL_MACHINE, u"Owner", nullptr, &type, c.withData ? data : nullptr,
                        &answered),
                  c.result);
        EXPECT_EQ(answered, c.size);
        EXPECT_EQ(type, REG_SZ);
        if (c.result == ERROR_SUCCESS && c.withData) {
            EXPECT_EQ(Bytes(data, data + size), Bytes(bytes, bytes + size));
        }
    }
}

TEST_F(CoredllShims, TheFindRecordCarriesTheFileNameInUtf16) {
    ASSERT_TRUE(
        vboard::writeBoardFile(std::string("\\Storage Card\\") + kNameUtf8 + ".srg", {1, 2, 3}));
    struct DllFindData {
        DWORD attributes;
        uint8_t times[24];
        DWORD sizeHigh, sizeLow, objectId;
        DllChar name[MAX_PATH];
    } found;
    static_assert(sizeof(DllFindData) == 560, "CE's WIN32_FIND_DATAW with a 2-byte WCHAR");
    std::memset(&found, 0xCC, sizeof found);
    const auto find = shim<HANDLE (*)(const DllChar*, DllFindData*)>("FindFirstFileW");
    HANDLE search = find(u"\\Storage Card\\*.srg", &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(std::u16string(found.name), std::u16string(kName) + u".srg");
    EXPECT_EQ(found.sizeLow, 3u);
    FindClose(search);
}

TEST_F(CoredllShims, DebugLinesTakeWideFormatsAndStrings) {
    const auto print = shim<void (*)(const DllChar*, ...)>("NKDbgPrintfW");
    print(u"VELNA %d %s\r\n", -5, kName);
    print(u"%S|%5s|%-3s|%c\r\n", u"wide", u"ab", u"x", 'Q');
    print(u"%d %I64d %d\r\n", 1, -1234567890123LL, 2);  // the 64-bit value waits for an odd word
    print(u"%s %s %s %s %d\r\n", u"a", u"b", u"c", u"d", 7);  // strings on the stack as well
    print(u"(%s)\r\n", static_cast<const DllChar*>(nullptr));
    EXPECT_EQ(vboard::debugLines(),
              (std::vector<std::string>{std::string("VELNA -5 ") + kNameUtf8 + "\r\n",
                                        "wide|   ab|x  |Q\r\n", "1 -1234567890123 2\r\n",
                                        "a b c d 7\r\n", "((null))\r\n"}));
}

using CoredllShimsDeathTest = CoredllShims;

TEST_F(CoredllShimsDeathTest, ARequestMissingFromTheTableOfDriverRecordsEndsTheRun) {
    const auto ioControl =
        shim<BOOL (*)(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED)>(
            "DeviceIoControl");
    EXPECT_DEATH(ioControl(nullptr, 0x00123456, nullptr, 0, nullptr, 0, nullptr, nullptr),
                 "DeviceIoControl request 0x123456 is not in the table of driver records");
}

}  // namespace

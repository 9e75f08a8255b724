// src/api: the library as a loader sees it: exactly the listed names, each resolvable, and loading
// and unloading that does nothing visible.
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>

#include "test_support.h"

using tarvik_test::exportList;

TEST(ExportList, NamesAreUniqueAndInAscendingByteOrder) {
    auto names = exportList();
    ASSERT_FALSE(names.empty());
    for (size_t i = 1; i < names.size(); ++i)
        EXPECT_LT(std::strcmp(names[i - 1].c_str(), names[i].c_str()), 0)
            << names[i - 1] << " must come before " << names[i];
}

TEST(ExportList, DeviceDefinitionFileNumbersTheListFromOne) {
    std::ifstream in(TARVIK_DEF_FILE);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    auto names = exportList();
    ASSERT_EQ(lines.size(), names.size() + 2);
    EXPECT_EQ(lines[0], "LIBRARY Tarvik.dll");
    EXPECT_EQ(lines[1], "EXPORTS");
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(lines[i + 2], "    " + names[i] + " @" + std::to_string(i + 1));
}

TEST(SharedLibrary, ExportsExactlyTheListedNames) {
    std::string command = std::string("nm -D --defined-only ") + TARVIK_LIBRARY_FILE;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> exported;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        char address[64], type[8], name[400];
        if (std::sscanf(line, "%63s %7s %399s", address, type, name) == 3) exported.insert(name);
    }
    ASSERT_EQ(pclose(pipe), 0);
    auto names = exportList();
    EXPECT_EQ(exported, std::set<std::string>(names.begin(), names.end()));
}

TEST(SharedLibrary, EveryNameResolvesAndLoadingDoesNothingVisible) {
    void* library = dlopen(TARVIK_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    for (const std::string& name : exportList())
        EXPECT_NE(dlsym(library, name.c_str()), nullptr) << name;
    EXPECT_EQ(dlclose(library), 0);

    EXPECT_TRUE(vboard::debugLines().empty());
    EXPECT_TRUE(vboard::opens().empty());
    EXPECT_TRUE(vboard::trace().empty());
    EXPECT_TRUE(vboard::openHandles().empty());
}

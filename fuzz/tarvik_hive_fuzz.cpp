// The hive reader's libFuzzer target: each input is read as a hive file of HKEY_LOCAL_MACHINE and
// of HKEY_CURRENT_USER. Whatever the reader accepts must write back to a file that it accepts
// again and that writes back to the same text, so no name, string or key is changed or lost by a
// save; whatever it refuses must say why. The written file may be larger than the input only by
// the full key names the format repeats on every key line, bounded by the registry's depth.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "os/registry_tree.h"
#include "os/hive_file.h"

namespace {

[[noreturn]] void fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "hive_fuzz: %s: %s\n", what, detail.c_str());
    std::abort();
}

void roundTrip(const vboard::Bytes& file, HKEY root) {
    const std::string rootName = vboard::hiveRootName(root);
    vboard::RegistryKey first;
    std::string problem;
    if (!vboard::parseHive(file, rootName, first, problem)) {
        if (problem.empty()) fail("refused without a reason", rootName);
        return;
    }
    const std::string written = vboard::writeHive(first, rootName);
    if (written.size() > vboard::kMaxKeyDepth * (file.size() + 64))
        fail("the written hive grew past the bound", std::to_string(written.size()));
    vboard::RegistryKey second;
    if (!vboard::parseHive(vboard::Bytes(written.begin(), written.end()), rootName, second, problem))
        fail("its own file is refused", problem);
    if (vboard::writeHive(second, rootName) != written) fail("read back differently", rootName);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const vboard::Bytes file(data, data + size);
    roundTrip(file, HKEY_LOCAL_MACHINE);
    roundTrip(file, HKEY_CURRENT_USER);
    return 0;
}

// The libFuzzer target for the board's configuration reader: each input is a configuration file,
// read and applied as VBOARD_CONFIG's would be, on a board at its power-on state.
//
// The reader has no writer to round-trip through, so the checks are what a person relies on:
// nothing crashes, hangs or grows (the sanitizers, libFuzzer's -timeout and -rss_limit_mb); every
// problem is one line of bounded length without control bytes; and a reset brings the board back
// to its power-on state, so the same file applied again reports the same problems.
//
// Directives that reach the host (board and echo files, waveforms, CAN logs, pseudo-terminals,
// the live board's socket) are fenced: their handlers see the words but open nothing, so that a
// run writes no files.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "os/board.h"
#include "control/config.h"
#include "vboard/vboard.h"

namespace {

// Whether a directive's line would open something on the host.
bool reachesHost(const std::vector<std::string>& w) {
    const std::string& name = w[0];
    if (name == "board" || name == "debug" || name == "trace" || name == "listen") return w.size() >= 2;
    if (name == "vcd") return w.size() == 2 && w[1] != "off";
    if (name == "can") return w.size() >= 3 && w[1] == "log" && w[2] != "off";
    if (name == "serial")
        for (const std::string& word : w)
            if (word == "pty") return true;
    return false;
}

void fenceHostDirectives(vboard::Board& b) {
    std::lock_guard<std::mutex> hold(b.lock);
    for (auto& [name, directive] : b.directives) {
        vboard::ConfigHandler original = directive.handler;
        directive.handler = [original](const std::vector<std::string>& w, const std::string& rest) {
            return reachesHost(w) ? std::string() : original(w, rest);
        };
    }
}

void check(bool ok, const char* what, const std::string& detail) {
    if (ok) return;
    std::fprintf(stderr, "tarvik_config_fuzz: %s\n  %s\n", what, detail.c_str());
    std::abort();
}

std::vector<std::string> apply(const uint8_t* data, size_t size) {
    // fmemopen wants a buffer of at least one byte; an empty input is an empty file.
    static char empty = 0;
    std::FILE* in = size > 0 ? fmemopen(const_cast<uint8_t*>(data), size, "rb") : fmemopen(&empty, 1, "r");
    if (in == nullptr) std::abort();
    if (size == 0) std::fgetc(in);
    std::vector<std::string> problems = vboard::applyConfigText(in, "fuzz.conf");
    std::fclose(in);
    return problems;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Counts only: nothing is rendered that nobody reads. Pauses are recorded, not waited.
    setenv("VBOARD_RECORD", "off", 1);
    fenceHostDirectives(vboard::board());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vboard::reset();
    const std::vector<std::string> problems = apply(data, size);
    for (const std::string& p : problems) {
        check(p.size() <= 4096, "a problem longer than 4096 bytes", p.substr(0, 200));
        for (unsigned char c : p) check(c >= 0x20 && c != 0x7F, "a control byte in a problem", p);
    }
    vboard::reset();
    check(apply(data, size) == problems, "the same file after a reset reports other problems",
          problems.empty() ? "(none the first time)" : problems.front());
    return 0;
}

// The libFuzzer target for the live board's line reader and protocol: each input is what a client
// sends, cut into reads at the places its first bytes choose, as a socket delivers it.
//
// The checks are what a client relies on: nothing crashes, hangs or grows (the sanitizers,
// libFuzzer's -timeout and -rss_limit_mb); no line handed on is longer than the limit; every
// answer is one line, "ok", "ok ..." or "error: ..." (in JSON mode one object of "ok"); the same
// bytes cut differently read into the same lines.
//
// Directives are the configuration reader's own target: here they are answered by a stand-in
// that refuses the lines that start with "x" and applies nothing.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "control/live_protocol.h"

namespace {

std::vector<std::string> standIn(const std::string& line) {
    if (!line.empty() && line[0] == 'x') return {"refused: " + line.substr(0, 40)};
    return {};
}

std::vector<vboard::LiveLineReader::Line> readAll(const uint8_t* data, size_t size, size_t cut) {
    vboard::LiveLineReader reader;
    std::vector<vboard::LiveLineReader::Line> lines;
    for (size_t at = 0; at < size;) {
        const size_t n = cut == 0 ? size - at : std::min(cut, size - at);
        for (auto& line : reader.feed(reinterpret_cast<const char*>(data) + at, n)) lines.push_back(std::move(line));
        at += n;
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t cut = size > 0 ? 1 + data[0] % 64 : 1;
    const auto whole = readAll(data, size, 0);
    const auto pieces = readAll(data, size, cut);
    if (whole.size() != pieces.size()) std::abort();
    vboard::LiveSession session(standIn, [] {});
    for (size_t i = 0; i < whole.size(); ++i) {
        const auto& line = whole[i];
        if (line.text != pieces[i].text || line.tooLong != pieces[i].tooLong) std::abort();
        if (line.text.size() > vboard::kLiveLineLimit || line.text.find('\n') != std::string::npos) std::abort();
        const std::string answer = session.answer(line);
        if (answer.find('\n') != std::string::npos) std::abort();
        const bool shaped = answer.empty() || answer == "ok" || answer.compare(0, 3, "ok ") == 0 ||
                            answer.compare(0, 7, "error: ") == 0 || answer.compare(0, 6, "{\"ok\":") == 0;
        if (!shaped) std::abort();
        session.takeEvents();
        if (session.ended()) break;
    }
    return 0;
}

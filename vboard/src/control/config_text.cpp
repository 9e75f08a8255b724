// Text helpers of the configuration language.
#include "control/config_text.h"

#include <algorithm>
#include <cstdint>

#include "os/text.h"

namespace vboard {

size_t editDistance(const std::string& a, const std::string& b) {
    if (a.size() > kSuggestionLimit || b.size() > kSuggestionLimit) return SIZE_MAX;
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            const size_t change = diagonal + (a[i - 1] == b[j - 1] ? 0 : 1);
            row[j] = std::min({above + 1, row[j - 1] + 1, change});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string escapeControls(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) {
            appendHexEscape(out, c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string shown(const std::string& text) {
    size_t end = 0;
    for (size_t characters = 0; end < text.size() && characters < kQuoteLimit; ++characters) {
        ++end;
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
    }
    return escapeControls(text.substr(0, end)) + (end < text.size() ? "..." : "");
}

std::string quoted(const std::string& text) { return "'" + shown(text) + "'"; }

std::string nearestName(const std::string& word, const std::vector<std::string>& names,
                        size_t* distance) {
    std::string nearest;
    size_t best = SIZE_MAX;
    for (const std::string& name : names) {
        const size_t d = editDistance(fold(name), fold(word));
        if (d < best) {
            best = d;
            nearest = name;
        }
    }
    if (distance != nullptr) *distance = best;
    return nearest;
}

}  // namespace vboard

// Text helpers of the configuration language: suggestions for a misspelt word, and a person's
// text as a problem quotes it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vboard {

// How far apart two words are (insertions, deletions, substitutions), for "did you mean". A word
// longer than kSuggestionLimit bytes is near nothing (SIZE_MAX): no one misspells a name that long,
// and the distance costs the product of the lengths.
constexpr size_t kSuggestionLimit = 64;
size_t editDistance(const std::string& a, const std::string& b);
// The name nearest to `word`, compared without regard to case, and its distance; "" when there
// are no names.
std::string nearestName(const std::string& word, const std::vector<std::string>& names,
                        size_t* distance = nullptr);

// A person's text as a message shows it: control bytes written as \xHH, and cut after
// kQuoteLimit characters with "..." (whole UTF-8 characters are kept).
constexpr size_t kQuoteLimit = 40;
std::string shown(const std::string& text);
// The same in single quotes: "'bogus'".
std::string quoted(const std::string& text);
// Control bytes written as \xHH, the rest as it is.
std::string escapeControls(const std::string& text);

}  // namespace vboard

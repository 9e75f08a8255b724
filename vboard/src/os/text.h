// Text helpers for the virtual board: the library speaks wide strings, tests and traces UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vboard {

std::string toUtf8(const wchar_t* text);
std::string toUtf8(const std::wstring& text);
void appendUtf8(std::string& out, uint32_t codePoint);
std::wstring fromUtf8(const std::string& text);
// Case folding for names the device compares without regard to case (registry, device names).
std::string fold(const std::string& text);

// Numbers in configuration lines: the whole text must be the number, and it must fit the field
// it is for: "-1" is no unsigned number and 0x100000001 no 32-bit one; nothing is truncated.
// Unsigned: decimal or 0x hex ("0x224004"). Signed: decimal, with an optional minus.
bool parseUnsigned(const std::string& text, uint64_t max, uint64_t& value);
bool parseSigned(const std::string& text, int64_t min, int64_t max, int64_t& value);
// The same for a 32-bit field (a DWORD).
bool parseDword(const std::string& text, uint32_t& value);

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

// Renders a string argument for the trace: quoted, with control characters escaped.
std::string quote(const std::string& text);
std::string hex(uint32_t value);
// "01 02 AB": bytes as a trace shows them.
std::string hexBytes(const std::vector<uint8_t>& bytes);

}  // namespace vboard

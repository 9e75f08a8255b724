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

// Appends a byte as the escape "\xHH".
void appendHexEscape(std::string& out, unsigned char c);
// Renders a string argument for the trace: quoted, with control characters escaped.
std::string quote(const std::string& text);
std::string hex(uint32_t value);
// "01 02 AB": bytes as a trace shows them.
std::string hexBytes(const std::vector<uint8_t>& bytes);
// "0102ab": bytes as plain lowercase hex digits.
std::string lowerHex(const uint8_t* bytes, size_t size);
inline std::string lowerHex(const std::vector<uint8_t>& bytes) { return lowerHex(bytes.data(), bytes.size()); }
// `count` random bytes as lowercase hex digits, for names nobody else picks.
std::string randomHex(size_t count);

}  // namespace vboard

// Text helpers for the virtual board: the library speaks wide strings, tests and traces UTF-8.
#pragma once

#include <cstdint>
#include <string>

namespace vboard {

std::string toUtf8(const wchar_t* text);
std::string toUtf8(const std::wstring& text);
void appendUtf8(std::string& out, uint32_t codePoint);
std::wstring fromUtf8(const std::string& text);
// Case folding for names the device compares without regard to case (registry, device names).
std::string fold(const std::string& text);

// Numbers in configuration lines: the whole text must be the number.
// Unsigned: decimal, 0x hex or 0 octal ("0x224004"). Signed: decimal, so "-1" stays a number.
bool parseUnsigned(const std::string& text, unsigned long& value);
bool parseSigned(const std::string& text, long long& value);

}  // namespace vboard

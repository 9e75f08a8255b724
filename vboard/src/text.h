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

}  // namespace vboard

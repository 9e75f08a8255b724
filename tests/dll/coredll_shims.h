// The stand-in for the module's coredll.dll that Tarvik.dll is bound to under the loader: each
// call goes to the virtual board's call of the same name (its public platform calls), converting
// what differs between the module's ABI and Linux. On the module WCHAR is 2 bytes (UTF-16); the
// board's is the host's 4-byte wchar_t: every string argument, the find record's file name, REG_SZ
// data, the strings inside driver records (driver_records.h) and NKDbgPrintfW's format and string
// arguments are converted on the way.
#pragma once

#include <string>

#include "pe_image.h"
#include "tarvik_platform.h"

namespace tarvik_dll {

// The module's WCHAR.
using DllChar = char16_t;

// Binds the image's imports as the module's loader would: from coredll.dll only, each as
// coredll.def declares it (a name, or an ordinal for an entry without a name), to its stand-in.
// An import the definition file does not declare that way, or that has no stand-in, is refused
// with its name.
Binder coredllBinder(const std::string& defPath);

// The stand-in for one coredll call, as the image calls it; null when there is none.
void* coredllShim(const std::string& name);

// A UTF-16 string in the board's WCHAR, a surrogate pair becoming one character.
std::wstring hostText(const DllChar* text);
// The board's text in UTF-16 into `out`, cut to `capacity` units with the terminating zero;
// answers the units written before it.
size_t dllText(const std::wstring& text, DllChar* out, size_t capacity);

}  // namespace tarvik_dll

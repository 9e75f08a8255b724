// Registry hive files in the text format of the Windows registry editor, so that a person can
// read and edit a saved hive:
//
//     Windows Registry Editor Version 5.00
//
//     [HKEY_LOCAL_MACHINE\Ident]
//     "BSPVersionNumber"=dword:00020001
//     "Name"="VELNA"
//     "Blob"=hex:01,02,03
//     "Other"=hex(7):41,00,00,00,00,00
//
// Written as UTF-8 with "\r\n" line ends; read as UTF-8, or UTF-16LE with its byte-order mark as
// the registry editor writes it. A string value is written as text only when it is one
// well-formed string with its terminating zero and no control character; anything else keeps its
// exact bytes as hex(1). Between quotes a backslash and a quote are escaped with a backslash, and
// a line feed and a carriage return in a value's name are written \n and \r.
#pragma once

#include <string>

#include "os/board.h"

namespace vboard {

// "HKEY_LOCAL_MACHINE" or "HKEY_CURRENT_USER".
std::string hiveRootName(HKEY root);

// The text of a key and everything below it; `path` is the key's full name ("HKEY_CURRENT_USER"
// for a whole hive, "HKEY_CURRENT_USER\ControlPanel" for a subtree).
std::string writeHive(const RegistryKey& key, const std::string& path);

// Reads a hive file of the hive `rootName` into `into` (which must be empty). False, with
// "line N: reason" in `problem`, when any of it can't be read or breaks the registry's limits
// (registry_tree.h): a hive is taken whole or not at all.
bool parseHive(const Bytes& file, const std::string& rootName, RegistryKey& into,
               std::string& problem);

}  // namespace vboard

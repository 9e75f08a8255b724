// The virtual board's registry: two hives of keys holding typed values, as raw bytes.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vboard/vboard.h"

namespace vboard {

// What the registry holds, as the system's own registry keeps it: a key 512 levels below its hive
// at most, key names of up to 255 characters and value names of up to 16,383 (characters as the
// device counts them, UTF-16 code units), and a value's data up to 1 MB, the most one value of a
// hive file can hold. Keys, names and data beyond them are refused where they come in (the
// registry calls, the configuration, the hive files), so no file or caller can make the tree deep
// enough to exhaust a stack or a name too long for a hive line to carry.
constexpr size_t kMaxKeyDepth = 512;
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;
constexpr size_t kMaxValueSize = 1024 * 1024;

struct RegistryKey {
    RegistryKey() = default;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    // Takes the tree below apart one key at a time: a deep tree must not recurse.
    ~RegistryKey();

    std::string name;  // as created, for display
    size_t depth = 0;  // levels below its hive's root
    bool deleted = false;
    // Keyed by the folded name; each entry keeps its name as created.
    std::map<std::string, std::shared_ptr<RegistryKey>> children;
    std::map<std::string, std::pair<std::string, RegValue>> values;
};

class Registry {
public:
    Registry();
    // The root for HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER, or null for any other value.
    std::shared_ptr<RegistryKey> root(HKEY key) const;
    // Walks a backslash-separated path below a key; null when a key on the way is missing.
    static std::shared_ptr<RegistryKey> find(std::shared_ptr<RegistryKey> from,
                                             const std::string& path);
    // Null when the path breaks a limit (see keyPathProblem).
    static std::shared_ptr<RegistryKey> create(std::shared_ptr<RegistryKey> from,
                                               const std::string& path);
    static bool remove(std::shared_ptr<RegistryKey> from, const std::string& path);
    static std::optional<RegValue> value(const RegistryKey& key, const std::string& name);
    // False, storing nothing, when the name or the data is too long (see valueProblem).
    static bool setValue(RegistryKey& key, const std::string& name, RegValue value);
    static bool removeValue(RegistryKey& key, const std::string& name);
    // Marks a key and every key below it deleted, for the handles still open on them.
    static void markDeleted(RegistryKey& key);

private:
    std::shared_ptr<RegistryKey> localMachine_;
    std::shared_ptr<RegistryKey> currentUser_;
};

std::vector<std::string> splitPath(const std::string& path);
std::string rootName(HKEY key);

// A UTF-8 name's length in the device's characters (UTF-16 code units).
size_t nameLength(const std::string& utf8);
// Why a path can't name a key `depth` levels below a hive's root, or "" when it can: too deep, a
// name too long, or a name with a control character (key names are printable, as on the system).
std::string keyPathProblem(const std::string& path, size_t depth = 0);
// Why a value can't be stored, or "": its name or its data too long.
std::string valueProblem(const std::string& name, size_t dataSize);
// A name for a message: its first few dozen bytes, control bytes as \xHH, and its length when it
// was cut.
std::string brief(const std::string& text);

// A DWORD value, and a string value as the device keeps it: UTF-16LE with its terminating zero.
RegValue dwordValue(DWORD value);
Bytes utf16Bytes(const std::string& utf8);

}  // namespace vboard

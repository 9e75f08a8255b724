// The virtual board's registry: two hives of keys holding typed values, as raw bytes.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vboard/vboard.h"

namespace vboard {

struct RegistryKey {
    std::string name;  // as created, for display
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
    static std::shared_ptr<RegistryKey> create(std::shared_ptr<RegistryKey> from,
                                               const std::string& path);
    static bool remove(std::shared_ptr<RegistryKey> from, const std::string& path);
    static std::optional<RegValue> value(const RegistryKey& key, const std::string& name);
    static void setValue(RegistryKey& key, const std::string& name, RegValue value);
    static bool removeValue(RegistryKey& key, const std::string& name);

private:
    std::shared_ptr<RegistryKey> localMachine_;
    std::shared_ptr<RegistryKey> currentUser_;
};

std::vector<std::string> splitPath(const std::string& path);
std::string rootName(HKEY key);

}  // namespace vboard

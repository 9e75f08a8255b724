// The virtual board's registry tree.
#include "registry_tree.h"

#include "text.h"

namespace vboard {

std::vector<std::string> splitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

std::string rootName(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE) return "HKLM";
    if (key == HKEY_CURRENT_USER) return "HKCU";
    return "";
}

Registry::Registry()
    : localMachine_(std::make_shared<RegistryKey>()), currentUser_(std::make_shared<RegistryKey>()) {
    localMachine_->name = "HKLM";
    currentUser_->name = "HKCU";
}

std::shared_ptr<RegistryKey> Registry::root(HKEY key) const {
    if (key == HKEY_LOCAL_MACHINE) return localMachine_;
    if (key == HKEY_CURRENT_USER) return currentUser_;
    return nullptr;
}

std::shared_ptr<RegistryKey> Registry::find(std::shared_ptr<RegistryKey> from,
                                            const std::string& path) {
    for (const std::string& part : splitPath(path)) {
        if (!from) return nullptr;
        auto it = from->children.find(fold(part));
        if (it == from->children.end()) return nullptr;
        from = it->second;
    }
    return from;
}

std::shared_ptr<RegistryKey> Registry::create(std::shared_ptr<RegistryKey> from,
                                              const std::string& path) {
    for (const std::string& part : splitPath(path)) {
        auto& child = from->children[fold(part)];
        if (!child) {
            child = std::make_shared<RegistryKey>();
            child->name = part;
        }
        from = child;
    }
    return from;
}

namespace {
void markDeleted(RegistryKey& key) {
    key.deleted = true;
    for (auto& child : key.children) markDeleted(*child.second);
}
}  // namespace

bool Registry::remove(std::shared_ptr<RegistryKey> from, const std::string& path) {
    std::vector<std::string> parts = splitPath(path);
    if (parts.empty()) return false;
    std::string last = fold(parts.back());
    parts.pop_back();
    for (const std::string& part : parts) {
        auto it = from->children.find(fold(part));
        if (it == from->children.end()) return false;
        from = it->second;
    }
    auto it = from->children.find(last);
    if (it == from->children.end()) return false;
    markDeleted(*it->second);
    from->children.erase(it);
    return true;
}

std::optional<RegValue> Registry::value(const RegistryKey& key, const std::string& name) {
    auto it = key.values.find(fold(name));
    if (it == key.values.end()) return std::nullopt;
    return it->second.second;
}

void Registry::setValue(RegistryKey& key, const std::string& name, RegValue value) {
    key.values[fold(name)] = {name, std::move(value)};
}

bool Registry::removeValue(RegistryKey& key, const std::string& name) {
    return key.values.erase(fold(name)) > 0;
}

}  // namespace vboard

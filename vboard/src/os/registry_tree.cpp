// The virtual board's registry tree. Nothing here recurses: a key's depth is bounded, but the
// walks keep their own lists, so that their stack does not depend on what a file holds.
#include "os/registry_tree.h"

#include <algorithm>
#include <cstdio>

#include "os/text.h"

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

size_t nameLength(const std::string& utf8) {
    size_t units = 0;
    for (unsigned char c : utf8) {
        if ((c & 0xC0) == 0x80) continue;  // a continuation byte
        units += c >= 0xF0 ? 2 : 1;        // a character beyond the BMP is a surrogate pair
    }
    return units;
}

std::string brief(const std::string& text) {
    constexpr size_t kShown = 40;
    size_t cut = std::min(text.size(), kShown);
    while (cut > 0 && cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    std::string out;
    for (size_t i = 0; i < cut; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (cut < text.size()) out += "... (" + std::to_string(text.size()) + " bytes)";
    return out;
}

std::string keyPathProblem(const std::string& path, size_t depth) {
    size_t levels = depth;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) {
            ++levels;
            const std::string name = path.substr(start, end - start);
            const size_t length = nameLength(name);
            if (length > kMaxKeyNameLength)
                return "the key name '" + brief(name) + "' is " + std::to_string(length) +
                       " characters long (at most " + std::to_string(kMaxKeyNameLength) + ")";
            // A key name is printable: a hive file writes it as it is, on its key's line.
            for (unsigned char c : name)
                if (c < 0x20) return "the key name '" + brief(name) + "' holds a control character";
        }
        start = end + 1;
    }
    if (levels > kMaxKeyDepth)
        return "the key is " + std::to_string(levels) + " levels deep (at most " +
               std::to_string(kMaxKeyDepth) + ")";
    return "";
}

std::string valueProblem(const std::string& name, size_t dataSize) {
    const size_t length = nameLength(name);
    if (length > kMaxValueNameLength)
        return "the value name '" + brief(name) + "' is " + std::to_string(length) +
               " characters long (at most " + std::to_string(kMaxValueNameLength) + ")";
    if (dataSize > kMaxValueSize)
        return "the value's data is " + std::to_string(dataSize) + " bytes (at most " +
               std::to_string(kMaxValueSize) + ")";
    return "";
}

RegistryKey::~RegistryKey() {
    // Each key below is emptied of its children before it goes, so that no destructor finds a
    // tree under it. A key that an open handle still holds keeps its subtree for that handle.
    std::vector<std::shared_ptr<RegistryKey>> pending;
    for (auto& child : children) pending.push_back(std::move(child.second));
    children.clear();
    while (!pending.empty()) {
        std::shared_ptr<RegistryKey> key = std::move(pending.back());
        pending.pop_back();
        if (key.use_count() != 1) continue;
        for (auto& child : key->children) pending.push_back(std::move(child.second));
        key->children.clear();
    }
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
    if (!from || !keyPathProblem(path, from->depth).empty()) return nullptr;
    for (const std::string& part : splitPath(path)) {
        auto& child = from->children[fold(part)];
        if (!child) {
            child = std::make_shared<RegistryKey>();
            child->name = part;
            child->depth = from->depth + 1;
        }
        from = child;
    }
    return from;
}

void Registry::markDeleted(RegistryKey& key) {
    std::vector<RegistryKey*> pending{&key};
    while (!pending.empty()) {
        RegistryKey* next = pending.back();
        pending.pop_back();
        next->deleted = true;
        for (auto& child : next->children) pending.push_back(child.second.get());
    }
}

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

bool Registry::setValue(RegistryKey& key, const std::string& name, RegValue value) {
    if (!valueProblem(name, value.data.size()).empty()) return false;
    key.values[fold(name)] = {name, std::move(value)};
    return true;
}

bool Registry::removeValue(RegistryKey& key, const std::string& name) {
    return key.values.erase(fold(name)) > 0;
}

RegValue dwordValue(DWORD value) {
    RegValue v;
    v.type = REG_DWORD;
    for (int i = 0; i < 4; ++i) v.data.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return v;
}


Bytes utf16Bytes(const std::string& utf8) {
    Bytes data;
    auto put = [&data](uint32_t unit) {
        data.push_back(static_cast<uint8_t>(unit));
        data.push_back(static_cast<uint8_t>(unit >> 8));
    };
    for (wchar_t c : fromUtf8(utf8)) {
        uint32_t code = static_cast<uint32_t>(c);
        if (code >= 0x10000) {
            code -= 0x10000;
            put(0xD800 | (code >> 10));
            put(0xDC00 | (code & 0x3FF));
        } else {
            put(code);
        }
    }
    put(0);
    return data;
}


}  // namespace vboard

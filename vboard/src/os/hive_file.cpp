// Writing and reading hive files in the registry editor's text format.
#include "os/hive_file.h"

#include <cstdio>

#include "os/text.h"

namespace vboard {
namespace {

const char* const kHeader = "Windows Registry Editor Version 5.00";

// ---- Writing ----

// A name or a string between quotes: a backslash and a quote take a backslash before them, and the
// line ends a name may hold are written as \n and \r, so that every value stays on its line.
std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            if (c == '\\' || c == '"') out += '\\';
            out += c;
        }
    }
    return out;
}

// A REG_SZ's bytes as text, when they are exactly one well-formed UTF-16LE string ending in its
// zero, with no character the editor's quoted form can't carry.
bool asText(const Bytes& data, std::string& text) {
    if (data.size() < 2 || data.size() % 2 != 0) return false;
    const size_t units = data.size() / 2;
    auto unit = [&data](size_t i) { return static_cast<uint32_t>(data[2 * i] | data[2 * i + 1] << 8); };
    if (unit(units - 1) != 0) return false;
    text.clear();
    for (size_t i = 0; i + 1 < units; ++i) {
        uint32_t code = unit(i);
        if (code < 0x20) return false;  // the terminator only at the end; no control characters
        if (code >= 0xD800 && code <= 0xDBFF) {
            if (i + 2 >= units) return false;
            const uint32_t low = unit(i + 1);
            if (low < 0xDC00 || low > 0xDFFF) return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            ++i;
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
            return false;
        }
        appendUtf8(text, code);
    }
    return true;
}

std::string hexList(const Bytes& data) {
    std::string out;
    char byte[4];
    for (size_t i = 0; i < data.size(); ++i) {
        std::snprintf(byte, sizeof byte, "%02x", data[i]);
        if (i) out += ',';
        out += byte;
    }
    return out;
}

std::string valueData(const RegValue& value) {
    char text[32];
    if (value.type == REG_DWORD && value.data.size() == 4) {
        const uint32_t n = value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
                           static_cast<uint32_t>(value.data[3]) << 24;
        std::snprintf(text, sizeof text, "dword:%08x", n);
        return text;
    }
    std::string string;
    if (value.type == REG_SZ && asText(value.data, string)) return "\"" + escaped(string) + "\"";
    if (value.type == REG_BINARY) return "hex:" + hexList(value.data);
    std::snprintf(text, sizeof text, "hex(%x):", value.type);
    return text + hexList(value.data);
}

void writeValues(std::string& out, const RegistryKey& key) {
    for (const auto& entry : key.values) {
        const std::string& name = entry.second.first;
        if (name.empty())
            out += '@';
        else
            out += "\"" + escaped(name) + "\"";
        out += '=';
        out += valueData(entry.second.second);
        out += "\r\n";
    }
}

// The keys depth first, in name order, each under its full name. One path is kept and grown and
// cut back as the walk goes down and up, and the walk keeps its own list of the keys it is in.
void writeKeys(std::string& out, const RegistryKey& top, std::string path, bool topIsRoot) {
    struct Level {
        const RegistryKey* key;
        std::map<std::string, std::shared_ptr<RegistryKey>>::const_iterator next;
        size_t pathLength;
    };
    std::vector<Level> levels;
    // A hive's root is written only when it has values of its own; every other key is written,
    // empty or not, so that an empty key survives a save.
    auto enter = [&](const RegistryKey& key, bool always) {
        if (always || !key.values.empty()) {
            out += "\r\n[";
            out += path;
            out += "]\r\n";
            writeValues(out, key);
        }
        levels.push_back(Level{&key, key.children.begin(), path.size()});
    };
    enter(top, !topIsRoot);
    while (!levels.empty()) {
        Level& level = levels.back();
        if (level.next == level.key->children.end()) {
            levels.pop_back();
            continue;
        }
        const RegistryKey& child = *level.next->second;
        ++level.next;
        path.resize(level.pathLength);
        path += '\\';
        path += child.name;
        enter(child, true);
    }
}

// ---- Reading ----

// The file as UTF-8 text: UTF-16LE with its byte-order mark is converted, a UTF-8 mark skipped.
std::string decodeText(const Bytes& file) {
    if (file.size() >= 2 && file[0] == 0xFF && file[1] == 0xFE) {
        std::string out;
        for (size_t i = 2; i + 1 < file.size(); i += 2) {
            uint32_t code = file[i] | file[i + 1] << 8;
            if (code >= 0xD800 && code <= 0xDBFF && i + 3 < file.size()) {
                const uint32_t low = file[i + 2] | file[i + 3] << 8;
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    i += 2;
                }
            }
            appendUtf8(out, code);
        }
        return out;
    }
    size_t start = file.size() >= 3 && file[0] == 0xEF && file[1] == 0xBB && file[2] == 0xBF ? 3 : 0;
    return std::string(file.begin() + static_cast<std::ptrdiff_t>(start), file.end());
}

// A quoted text starting at `pos` (at the opening quote); `pos` ends after the closing quote.
bool readQuoted(const std::string& line, size_t& pos, std::string& text) {
    text.clear();
    for (++pos; pos < line.size(); ++pos) {
        char c = line[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c == '\\') {
            if (++pos >= line.size()) return false;
            c = line[pos];
            if (c == 'n') c = '\n';
            if (c == 'r') c = '\r';
        }
        text += c;
    }
    return false;
}

bool readHexList(const std::string& text, Bytes& data) {
    std::string digits;
    auto flush = [&]() {
        if (digits.empty()) return true;
        uint64_t n = 0;
        if (digits.size() > 2 || !parseUnsigned("0x" + digits, 0xFF, n)) return false;
        data.push_back(static_cast<uint8_t>(n));
        digits.clear();
        return true;
    };
    bool expectByte = true;
    for (char c : text) {
        if (c == ' ' || c == '\t') continue;
        if (c == ',') {
            if (digits.empty() || !flush()) return false;
            expectByte = true;
            continue;
        }
        digits += c;
        expectByte = false;
    }
    if (!flush()) return false;
    return data.empty() || !expectByte;
}

// The data after '=': "text", dword:n, hex:.., hex(type):..
std::string readData(const std::string& text, RegValue& value) {
    if (!text.empty() && text[0] == '"') {
        size_t pos = 0;
        std::string string;
        if (!readQuoted(text, pos, string) || pos != text.size()) return "a string value must be one quoted text";
        value = RegValue{REG_SZ, utf16Bytes(string)};
        return "";
    }
    if (text.rfind("dword:", 0) == 0) {
        const std::string digits = text.substr(6);
        uint64_t n = 0;
        if (digits.empty() || digits.size() > 8 || !parseUnsigned("0x" + digits, 0xFFFFFFFF, n))
            return "bad dword '" + text + "' (up to 8 hex digits)";
        value = dwordValue(static_cast<DWORD>(n));
        return "";
    }
    DWORD type = REG_BINARY;
    size_t listStart = 0;
    if (text.rfind("hex:", 0) == 0) {
        listStart = 4;
    } else if (text.rfind("hex(", 0) == 0) {
        const size_t close = text.find("):");
        uint64_t n = 0;
        if (close == std::string::npos || close == 4 || close > 12 ||
            !parseUnsigned("0x" + text.substr(4, close - 4), 0xFFFFFFFF, n))
            return "bad value type in '" + text.substr(0, 16) + "'";
        type = static_cast<DWORD>(n);
        listStart = close + 2;
    } else if (text == "-") {
        return "a hive file does not delete values";
    } else {
        return "unknown value data '" + text.substr(0, 24) + "'";
    }
    Bytes data;
    if (!readHexList(text.substr(listStart), data)) return "bad hex bytes (two hex digits, comma-separated)";
    value = RegValue{type, data};
    return "";
}

}  // namespace

std::string hiveRootName(HKEY root) {
    return root == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

std::string writeHive(const RegistryKey& key, const std::string& path) {
    std::string out = std::string(kHeader) + "\r\n";
    writeKeys(out, key, path, path.find('\\') == std::string::npos);
    return out;
}

bool parseHive(const Bytes& file, const std::string& rootName, RegistryKey& into,
               std::string& problem) {
    const std::string text = decodeText(file);
    const std::string shortRoot = rootName == "HKEY_CURRENT_USER" ? "hkcu" : "hklm";
    auto top = std::shared_ptr<RegistryKey>(&into, [](RegistryKey*) {});
    std::shared_ptr<RegistryKey> current;
    bool headerSeen = false;
    size_t lineNumber = 0;
    size_t pos = 0;
    auto refuse = [&](size_t number, const std::string& reason) {
        problem = "line " + std::to_string(number) + ": " + reason;
        return false;
    };
    while (pos < text.size()) {
        // One logical line: a line ending in a backslash goes on in the next one.
        const size_t startLine = ++lineNumber;
        std::string line;
        for (;;) {
            size_t end = text.find('\n', pos);
            std::string part = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
            pos = end == std::string::npos ? text.size() : end + 1;
            if (!part.empty() && part.back() == '\r') part.pop_back();
            if (!line.empty()) part.erase(0, part.find_first_not_of(" \t") == std::string::npos
                                                  ? part.size()
                                                  : part.find_first_not_of(" \t"));
            line += part;
            if (line.empty() || line.back() != '\\' || line[0] == '[' || pos >= text.size()) break;
            line.pop_back();
            ++lineNumber;
        }
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == ';') continue;
        line = line.substr(first, line.find_last_not_of(" \t") - first + 1);
        if (!headerSeen) {
            if (line != kHeader) return refuse(startLine, "not a hive file (expected \"" + std::string(kHeader) + "\")");
            headerSeen = true;
            continue;
        }
        if (line[0] == '[') {
            if (line.back() != ']') return refuse(startLine, "a key line must end in ']'");
            const std::string name = line.substr(1, line.size() - 2);
            if (!name.empty() && name[0] == '-') return refuse(startLine, "a hive file does not delete keys");
            const std::string head = name.substr(0, name.find('\\'));
            if (fold(head) != fold(rootName) && fold(head) != shortRoot)
                return refuse(startLine, "key [" + brief(name) + "] is not in " + rootName);
            const std::string below = head.size() < name.size() ? name.substr(head.size() + 1) : "";
            const std::string tooLarge = keyPathProblem(below);
            if (!tooLarge.empty()) return refuse(startLine, tooLarge);
            current = Registry::create(top, below);
            continue;
        }
        if (line[0] != '"' && line[0] != '@') return refuse(startLine, "expected a [key] or a \"value\"=data line");
        if (!current) return refuse(startLine, "a value before the first [key]");
        size_t at = 0;
        std::string valueName;
        if (line[0] == '@') {
            at = 1;
        } else if (!readQuoted(line, at, valueName)) {
            return refuse(startLine, "the value name's quote is not closed");
        }
        if (at >= line.size() || line[at] != '=') return refuse(startLine, "expected '=' after the value name");
        RegValue value;
        const std::string why = readData(line.substr(at + 1), value);
        if (!why.empty()) return refuse(startLine, why);
        const std::string tooLarge = valueProblem(valueName, value.data.size());
        if (!tooLarge.empty()) return refuse(startLine, tooLarge);
        Registry::setValue(*current, valueName, std::move(value));
    }
    if (!headerSeen) return refuse(1, "an empty file is no hive file");
    return true;
}

}  // namespace vboard

// Board configuration: a text file of directives that sets the board up before an application runs
// on it (VBOARD_CONFIG), or lines applied by tests and tools.
#include "config.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "board.h"
#include "text.h"

namespace vboard {
namespace {

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

// "HKLM\Ident" -> the root and the path below it.
bool splitKey(const std::string& text, HKEY& root, std::string& path) {
    std::string head = text.substr(0, text.find('\\'));
    std::string rest = text.size() > head.size() ? text.substr(head.size() + 1) : "";
    std::string h = fold(head);
    if (h == "hklm" || h == "hkey_local_machine")
        root = HKEY_LOCAL_MACHINE;
    else if (h == "hkcu" || h == "hkey_current_user")
        root = HKEY_CURRENT_USER;
    else
        return false;
    path = rest;
    return true;
}

// The text after the first `count` words of a line.
std::string restAfter(const std::string& line, size_t count) {
    size_t pos = 0;
    for (size_t i = 0; i < count; ++i) {
        pos = line.find_first_not_of(" \t", pos);
        pos = line.find_first_of(" \t", pos);
        if (pos == std::string::npos) return "";
    }
    pos = line.find_first_not_of(" \t", pos);
    return pos == std::string::npos ? "" : line.substr(pos);
}

std::string registryDirective(Board& b, const std::string& line, const std::vector<std::string>& w) {
    HKEY root;
    std::string path;
    if (w.size() < 5 || !splitKey(w[1], root, path))
        return "expected: registry <HKLM|HKCU>\\<path> <name> dword|string|binary <value>";
    RegValue value;
    const std::string type = fold(w[3]);
    if (type == "dword") {
        unsigned long n;
        if (w.size() != 5 || !parseUnsigned(w[4], n)) return "bad dword '" + w[4] + "'";
        value = dwordValue(static_cast<DWORD>(n));
    } else if (type == "string") {
        value.type = REG_SZ;
        value.data = utf16Bytes(restAfter(line, 4));
    } else if (type == "binary") {
        value.type = REG_BINARY;
        for (size_t i = 4; i < w.size(); ++i) {
            unsigned long n;
            if (!parseUnsigned("0x" + w[i], n) || n > 0xFF) return "bad byte '" + w[i] + "'";
            value.data.push_back(static_cast<uint8_t>(n));
        }
    } else {
        return "unknown value type '" + w[3] + "'";
    }
    Registry::setValue(*Registry::create(b.registry.root(root), path), w[2], value);
    return "";
}

std::string faultDirective(Board& b, const std::vector<std::string>& w) {
    if (w.size() < 2) return "expected: fault <function> [device=] [code=] [nth=] [error=]";
    Fault f;
    f.function = w[1] == "*" ? "" : w[1];
    for (size_t i = 2; i < w.size(); ++i) {
        size_t eq = w[i].find('=');
        std::string key = w[i].substr(0, eq);
        std::string val = eq == std::string::npos ? "" : w[i].substr(eq + 1);
        unsigned long n = 0;
        if (key == "device") {
            f.device = val;
        } else if (key == "code" && parseUnsigned(val, n)) {
            f.code = static_cast<DWORD>(n);
        } else if (key == "nth" && parseUnsigned(val, n)) {
            f.occurrence = static_cast<unsigned>(n);
        } else if (key == "error" && parseUnsigned(val, n)) {
            f.error = static_cast<DWORD>(n);
        } else {
            return "bad fault setting '" + w[i] + "'";
        }
    }
    b.faults.push_back({b.nextFaultId++, f, 0});
    return "";
}

std::string builtIn(Board& b, const std::string& line, const std::vector<std::string>& w,
                    bool& known) {
    known = true;
    const std::string& d = w[0];
    if (d == "debug" || d == "trace") {
        if (w.size() != 2) return "expected: " + d + " stdout|stderr|<file>";
        Sink& sink = d == "debug" ? b.debugEcho : b.traceEcho;
        return sink.open(w[1]) ? "" : "cannot open '" + w[1] + "'";
    }
    if (d == "sleep") {
        if (w.size() != 2 || (w[1] != "virtual" && w[1] != "real"))
            return "expected: sleep virtual|real";
        b.virtualSleep = w[1] == "virtual";
        return "";
    }
    if (d == "time") {
        unsigned y, mo, da, h, mi, s;
        if (w.size() != 3 || std::sscanf(w[1].c_str(), "%u-%u-%u", &y, &mo, &da) != 3 ||
            std::sscanf(w[2].c_str(), "%u:%u:%u", &h, &mi, &s) != 3 || mo < 1 || mo > 12 ||
            da < 1 || da > 31 || h > 23 || mi > 59 || s > 59)
            return "expected: time YYYY-MM-DD HH:MM:SS";
        b.fixedTime = true;
        b.time = SYSTEMTIME{static_cast<WORD>(y), static_cast<WORD>(mo), 0, static_cast<WORD>(da),
                            static_cast<WORD>(h), static_cast<WORD>(mi), static_cast<WORD>(s), 0};
        return "";
    }
    if (d == "remove-driver") {
        if (w.size() != 2) return "expected: remove-driver <device>";
        return b.drivers.erase(fold(w[1])) ? "" : "no driver '" + w[1] + "' on the board";
    }
    if (d == "registry") return registryDirective(b, line, w);
    if (d == "registry-delete") {
        HKEY root;
        std::string path;
        if ((w.size() != 2 && w.size() != 3) || !splitKey(w[1], root, path))
            return "expected: registry-delete <HKLM|HKCU>\\<path> [<name>]";
        auto top = b.registry.root(root);
        if (w.size() == 2) return Registry::remove(top, path) ? "" : "no key '" + w[1] + "'";
        auto key = Registry::find(top, path);
        return key && Registry::removeValue(*key, w[2]) ? "" : "no value '" + w[2] + "'";
    }
    if (d == "fault") return faultDirective(b, w);
    known = false;
    return "";
}

}  // namespace

std::vector<std::string> applyLineTo(Board& b, const std::string& rawLine) {
    std::string line = rawLine.substr(0, rawLine.find('#'));
    std::vector<std::string> w = words(line);
    if (w.empty()) return {};
    bool known = false;
    std::string problem;
    {
        std::lock_guard<std::mutex> hold(b.lock);
        problem = builtIn(b, line, w, known);
    }
    if (!known) {
        ConfigHandler handler;
        {
            std::lock_guard<std::mutex> hold(b.lock);
            auto it = b.directives.find(w[0]);
            if (it != b.directives.end()) handler = it->second;
        }
        // A family's directive drives its own model, without the board locked.
        problem = handler ? handler(w) : "unknown directive '" + w[0] + "'";
    }
    if (problem.empty()) return {};
    return {problem};
}

std::vector<std::string> loadConfigInto(Board& b, const std::string& path) {
    std::ifstream in(path);
    if (!in) return {path + ": cannot read the file"};
    std::vector<std::string> problems;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        for (const std::string& p : applyLineTo(b, line))
            problems.push_back(path + ":" + std::to_string(number) + ": " + p);
    }
    return problems;
}

std::vector<std::string> loadConfig(const std::string& path) { return loadConfigInto(board(), path); }

std::vector<std::string> applyConfigLine(const std::string& line) { return applyLineTo(board(), line); }

void addConfigDirective(const std::string& name, ConfigHandler handler) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    b.directives[name] = std::move(handler);
}

}  // namespace vboard

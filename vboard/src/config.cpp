// Board configuration: a text file of directives that sets the board up before an application runs
// on it (VBOARD_CONFIG), or lines applied by tests and tools. Every directive, built-in or a
// family's, lives in one table with its usage, so that a problem can say what was expected.
#include "config.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "board.h"
#include "fault_names.h"
#include "text.h"

namespace vboard {
namespace {

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

// A '#' at the start of a line or after whitespace starts a comment; inside a word it is text.
std::string withoutComment(const std::string& line) {
    for (size_t i = 0; i < line.size(); ++i)
        if (line[i] == '#' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t'))
            return line.substr(0, i);
    return line;
}

// The text after the first `count` words of a line.
std::string restAfter(const std::string& line, size_t count) {
    size_t pos = 0;
    for (size_t i = 0; i < count; ++i) {
        pos = line.find_first_not_of(" \t", pos);
        if (pos == std::string::npos) return "";
        pos = line.find_first_of(" \t", pos);
        if (pos == std::string::npos) return "";
    }
    pos = line.find_first_not_of(" \t", pos);
    if (pos == std::string::npos) return "";
    size_t end = line.find_last_not_of(" \t");
    return line.substr(pos, end - pos + 1);
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

std::string expected(const std::string& usage) { return "expected: " + usage; }

// ---- Built-in directives. Each runs without the board's lock and takes it for what it changes.

std::string echoDirective(Sink& sink, const std::vector<std::string>& w, const std::string& rest,
                          const std::string& usage) {
    if (w.size() < 2) return expected(usage);
    // A file name may hold blanks; a comment after it is no part of it.
    const std::string target = restAfter(withoutComment(rest), 0);
    if (!sink.open(target))
        return "cannot open '" + target + "' for appending: " + std::strerror(errno);
    return "";
}

bool parseRecording(const std::vector<std::string>& w, Recording& r) {
    if (w.size() == 2 && w[1] == "off") {
        r = Recording{RecordMode::Off, kDefaultRecordLimit};
        return true;
    }
    if (w.size() == 2 && w[1] == "all") {
        r = Recording{RecordMode::All, kDefaultRecordLimit};
        return true;
    }
    uint64_t n = 0;
    if (w.size() == 3 && w[1] == "last" && parseUnsigned(w[2], UINT32_MAX, n) && n > 0) {
        r = Recording{RecordMode::Last, static_cast<size_t>(n)};
        return true;
    }
    return false;
}

std::string registryDirective(Board& b, const std::vector<std::string>& w, const std::string& rest,
                              const std::string& usage) {
    HKEY root;
    std::string path;
    if (w.size() < 5 || !splitKey(w[1], root, path)) return expected(usage);
    RegValue value;
    const std::string type = fold(w[3]);
    if (type == "dword") {
        uint32_t n;
        if (w.size() != 5 || !parseDword(w[4], n))
            return "bad dword '" + w[4] + "' (a number from 0 to 0xFFFFFFFF)";
        value = dwordValue(n);
    } else if (type == "string") {
        // The text runs to the end of the line, '#' included: "Board #1" is a name.
        value.type = REG_SZ;
        value.data = utf16Bytes(restAfter(rest, 3));
    } else if (type == "binary") {
        value.type = REG_BINARY;
        for (size_t i = 4; i < w.size(); ++i) {
            uint64_t n;
            if (w[i].size() > 2 || !parseUnsigned("0x" + w[i], 0xFF, n))
                return "bad byte '" + w[i] + "' (two hex digits)";
            value.data.push_back(static_cast<uint8_t>(n));
        }
    } else {
        return "unknown value type '" + w[3] + "' (dword, string or binary)";
    }
    std::lock_guard<std::mutex> hold(b.lock);
    Registry::setValue(*Registry::create(b.registry.root(root), path), w[2], value);
    return "";
}

std::string registryDeleteDirective(Board& b, const std::vector<std::string>& w,
                                    const std::string& usage) {
    HKEY root;
    std::string path;
    if ((w.size() != 2 && w.size() != 3) || !splitKey(w[1], root, path)) return expected(usage);
    std::lock_guard<std::mutex> hold(b.lock);
    auto top = b.registry.root(root);
    if (w.size() == 2) return Registry::remove(top, path) ? "" : "no key '" + w[1] + "'";
    auto key = Registry::find(top, path);
    return key && Registry::removeValue(*key, w[2]) ? "" : "no value '" + w[2] + "' in " + w[1];
}

// A fault must name a call the board implements: a misspelt name would arm a fault that never
// fires, and the test that relies on it would pass for the wrong reason.
std::string faultDirective(Board& b, const std::vector<std::string>& w, const std::string& usage) {
    if (w.size() < 2) return expected(usage);
    Fault f;
    if (w[1] != "*") {
        const auto& calls = platformCalls();
        bool known = false;
        std::string nearest;
        size_t best = SIZE_MAX;
        for (const std::string& call : calls) {
            if (call == w[1]) known = true;
            const size_t d = editDistance(fold(call), fold(w[1]));
            if (d < best) {
                best = d;
                nearest = call;
            }
        }
        if (!known) return "no platform call '" + w[1] + "'; did you mean '" + nearest + "'?";
        f.function = w[1];
    }
    // The code is read once the device is known: its names are that device's requests.
    std::string codeText;
    for (size_t i = 2; i < w.size(); ++i) {
        const size_t eq = w[i].find('=');
        const std::string key = w[i].substr(0, eq);
        const std::string val = eq == std::string::npos ? "" : w[i].substr(eq + 1);
        uint32_t n = 0;
        if (key == "device" && !val.empty()) {
            f.device = val;
        } else if (key == "code" && !val.empty()) {
            codeText = val;
        } else if (key == "nth" && parseDword(val, n)) {
            f.occurrence = n;
        } else if (key == "error" && parseDword(val, n)) {
            f.error = n;
        } else {
            std::string problem = "bad fault setting '" + w[i] + "'";
            size_t distance = 0;
            const std::string near = nearestName(key, {"device", "code", "nth", "error"}, &distance);
            if (eq == std::string::npos || (distance > 0 && distance <= 2))
                return problem + "; did you mean '" + near + "=...'? " + expected(usage);
            return problem + "; " + expected(usage);
        }
    }
    if (const std::string problem = faultDeviceProblem(f.function, f.device); !problem.empty())
        return problem;
    if (!codeText.empty()) {
        DWORD code = 0;
        if (const std::string problem = faultCode(codeText, f.function, f.device, code); !problem.empty())
            return problem;
        f.code = code;
    }
    std::lock_guard<std::mutex> hold(b.lock);
    b.addFault(f);
    return "";
}

std::string timeDirective(Board& b, const std::vector<std::string>& w, const std::string& usage) {
    unsigned y, mo, da, h, mi, s;
    char extra;
    if (w.size() != 3 || std::sscanf(w[1].c_str(), "%u-%u-%u%c", &y, &mo, &da, &extra) != 3 ||
        std::sscanf(w[2].c_str(), "%u:%u:%u%c", &h, &mi, &s, &extra) != 3 || y < 1601 ||
        y > 30827 || mo < 1 || mo > 12 || da < 1 || da > 31 || h > 23 || mi > 59 || s > 59)
        return expected(usage);
    std::lock_guard<std::mutex> hold(b.lock);
    b.fixedTime = true;
    b.time = SYSTEMTIME{static_cast<WORD>(y), static_cast<WORD>(mo), 0, static_cast<WORD>(da),
                        static_cast<WORD>(h), static_cast<WORD>(mi), static_cast<WORD>(s), 0};
    return "";
}

// The literal words of a usage ("i2c attach <bus> <address> eeprom [<size>] | ..." gives i2c,
// attach, eeprom ...): placeholders go, a choice in angle brackets ("<COM1|COM2>") stays.
std::vector<std::string> usageWords(const std::string& usage) {
    std::string text;
    for (size_t i = 0; i < usage.size(); ++i) {
        if (usage[i] == '<') {
            const size_t close = usage.find('>', i);
            if (close == std::string::npos) break;
            const std::string inner = usage.substr(i + 1, close - i - 1);
            if (inner.find('|') != std::string::npos && inner.find(' ') == std::string::npos) {
                text += ' ';
                for (char c : inner) text += c == '|' ? ' ' : c;
                text += ' ';
            }
            i = close;
        } else {
            text += usage[i] == '[' || usage[i] == ']' || usage[i] == '|' ? ' ' : usage[i];
        }
    }
    std::vector<std::string> out;
    for (const std::string& w : words(text)) {
        if (w.find_first_of("\\=.:") != std::string::npos) continue;
        if (w.find_first_not_of("0123456789") == std::string::npos) continue;
        out.push_back(w);
    }
    return out;
}

// A refused line: the first of its words that is no word of the directive's usage but near one
// is named with that word ("i2c atach ..." -> "'atach': did you mean 'attach'?").
std::string withNearestWord(const std::vector<std::string>& w, const std::string& usage,
                            const std::string& problem) {
    if (problem.find("did you mean") != std::string::npos) return problem;
    const std::vector<std::string> known = usageWords(usage);
    for (size_t i = 1; i < w.size(); ++i) {
        // Numbers, pins, addresses and paths are values, not words of the directive.
        if (w[i].find_first_of("0123456789") == 0 || w[i].find_first_of("./\\#") != std::string::npos)
            continue;
        size_t distance = 0;
        const std::string near = nearestName(w[i], known, &distance);
        if (distance == 0) continue;
        if (distance <= 2 && 2 * distance <= w[i].size())
            return "'" + w[i] + "': did you mean '" + near + "'? " + problem;
    }
    return problem;
}

void add(Board& b, const std::string& name, const std::string& usage,
         std::function<std::string(Board&, const std::vector<std::string>&, const std::string&,
                                   const std::string&)>
             run) {
    Board* board = &b;
    b.addDirective(Directive{
        name, usage, [board, usage, run](const std::vector<std::string>& w, const std::string& rest) {
            return run(*board, w, rest, usage);
        }});
}

}  // namespace

void installBuiltInDirectives(Board& b) {
    using W = const std::vector<std::string>&;
    using S = const std::string&;
    add(b, "debug", "debug stdout|stderr|<file>",
        [](Board& bd, W w, S rest, S usage) { return echoDirective(bd.debugEcho, w, rest, usage); });
    add(b, "trace", "trace stdout|stderr|<file>",
        [](Board& bd, W w, S rest, S usage) { return echoDirective(bd.traceEcho, w, rest, usage); });
    add(b, "record", "record off|last <n>|all", [](Board& bd, W w, S, S usage) {
        Recording r;
        if (!parseRecording(w, r)) return expected(usage);
        std::lock_guard<std::mutex> hold(bd.lock);
        bd.applyRecording(r);
        return std::string();
    });
    add(b, "strict", "strict", [](Board& bd, W w, S, S usage) {
        if (w.size() != 1) return expected(usage);
        std::lock_guard<std::mutex> hold(bd.lock);
        bd.strict = true;
        return std::string();
    });
    add(b, "sleep", "sleep virtual|real", [](Board& bd, W w, S, S usage) {
        if (w.size() != 2 || (w[1] != "virtual" && w[1] != "real")) return expected(usage);
        std::lock_guard<std::mutex> hold(bd.lock);
        bd.virtualSleep = w[1] == "virtual";
        bd.clock.setVirtual(bd.virtualSleep);
        return std::string();
    });
    add(b, "time", "time YYYY-MM-DD HH:MM:SS",
        [](Board& bd, W w, S, S usage) { return timeDirective(bd, w, usage); });
    add(b, "remove-driver", "remove-driver <device>", [](Board& bd, W w, S, S usage) {
        if (w.size() != 2) return expected(usage);
        std::lock_guard<std::mutex> hold(bd.lock);
        return bd.drivers.erase(fold(w[1])) ? std::string() : "no driver '" + w[1] + "' on the board";
    });
    add(b, "registry", "registry <HKLM|HKCU>\\<path> <name> dword|string|binary <value>",
        [](Board& bd, W w, S rest, S usage) { return registryDirective(bd, w, rest, usage); });
    add(b, "registry-delete", "registry-delete <HKLM|HKCU>\\<path> [<name>]",
        [](Board& bd, W w, S, S usage) { return registryDeleteDirective(bd, w, usage); });
    add(b, "fault", "fault <function> [device=<name>] [code=<number or name>] [nth=<n>] [error=<number>]",
        [](Board& bd, W w, S, S usage) { return faultDirective(bd, w, usage); });
}

std::vector<std::string> applyLineTo(Board& b, const std::string& rawLine) {
    std::string line = rawLine;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> w = words(withoutComment(line));
    if (w.empty()) return {};
    ConfigHandler handler;
    std::string usage;
    {
        std::lock_guard<std::mutex> hold(b.lock);
        auto it = b.directives.find(w[0]);
        if (it != b.directives.end()) {
            handler = it->second.handler;
            usage = it->second.usage;
        }
    }
    if (!handler) {
        std::string nearest;
        size_t best = SIZE_MAX;
        for (const Directive& d : configDirectives()) {
            const size_t distance = editDistance(d.name, w[0]);
            if (distance < best) {
                best = distance;
                nearest = d.name;
            }
        }
        std::string problem = "unknown directive '" + w[0] + "'";
        if (best <= 2) problem += "; did you mean '" + nearest + "'?";
        return {problem};
    }
    // The handler gets the words of the line without its comment, and the raw text after the
    // directive's name (a string value keeps its '#').
    const std::string problem = handler(w, restAfter(line, 1));
    if (problem.empty()) return {};
    return {withNearestWord(w, usage, problem)};
}

namespace {

// Why a path can't be read as a configuration file, or "".
std::string unreadable(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return std::strerror(errno);
    if (S_ISDIR(info.st_mode)) return "it is a folder";
    std::ifstream in(path);
    if (!in) return std::strerror(errno);
    return "";
}

std::vector<std::string> readLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> applyLines(Board& b, const std::string& path,
                                    const std::vector<std::string>& lines) {
    std::vector<std::string> problems;
    for (size_t i = 0; i < lines.size(); ++i)
        for (const std::string& p : applyLineTo(b, lines[i]))
            problems.push_back(path + ":" + std::to_string(i + 1) + ": " + p);
    return problems;
}

}  // namespace

std::vector<std::string> loadConfigInto(Board& b, const std::string& path) {
    const std::string why = unreadable(path);
    if (!why.empty()) return {path + ": cannot read the file: " + why};
    return applyLines(b, path, readLines(path));
}

void Board::start() {
    std::vector<std::string> problems;
    for (auto [variable, sink] : {std::pair<const char*, Sink*>{"VBOARD_DEBUG", &debugEcho},
                                  std::pair<const char*, Sink*>{"VBOARD_TRACE", &traceEcho}}) {
        const char* target = std::getenv(variable);
        if (target == nullptr || *target == 0) continue;
        if (!sink->open(target))
            problems.push_back(std::string(variable) + "=" + target +
                               ": cannot open it for appending: " + std::strerror(errno));
    }
    // What the environment and the file set is the board's power-on state: reset() applies it
    // again, so it is kept as configuration lines.
    std::vector<std::string> lines;
    if (const char* record = std::getenv("VBOARD_RECORD"); record && *record) {
        const std::string line = std::string("record ") + record;
        for (const std::string& p : applyLineTo(*this, line))
            problems.push_back(std::string("VBOARD_RECORD=") + record + ": " + p);
        lines.push_back(line);
    }
    if (const char* value = std::getenv("VBOARD_STRICT"); value && std::strcmp(value, "1") == 0) {
        applyLineTo(*this, "strict");
        lines.push_back("strict");
    }
    if (const char* path = std::getenv("VBOARD_CONFIG"); path && *path) {
        const std::string why = unreadable(path);
        if (!why.empty()) {
            problems.push_back(std::string("VBOARD_CONFIG=") + path + ": cannot read the file: " + why);
        } else {
            startupConfigPath = path;
            const std::vector<std::string> fileLines = readLines(path);
            for (const std::string& p : applyLines(*this, path, fileLines)) problems.push_back(p);
            lines.insert(lines.end(), fileLines.begin(), fileLines.end());
        }
    }
    bool isStrict;
    {
        std::lock_guard<std::mutex> hold(lock);
        startupConfig = lines;
        isStrict = strict;
    }
    for (const std::string& p : problems) std::fprintf(stderr, "vboard: %s\n", p.c_str());
    if (isStrict && !problems.empty()) {
        std::fprintf(stderr, "vboard: stopping: the board's configuration has %zu problem%s "
                             "(strict configuration)\n",
                     problems.size(), problems.size() == 1 ? "" : "s");
        std::exit(2);
    }
}

std::vector<std::string> loadConfig(const std::string& path) { return loadConfigInto(board(), path); }

std::vector<std::string> applyConfigLine(const std::string& line) { return applyLineTo(board(), line); }

bool addConfigDirective(const Directive& directive) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return b.directives.emplace(directive.name, directive).second;
}

std::vector<Directive> configDirectives() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    std::vector<Directive> out;
    for (const auto& d : b.directives) out.push_back(d.second);
    return out;
}

}  // namespace vboard

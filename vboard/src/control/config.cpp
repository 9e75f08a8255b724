// Board configuration: a text file of directives that sets the board up before an application runs
// on it (VBOARD_CONFIG), or lines applied by tests and tools. Every directive, built-in or a
// family's, lives in one table with its usage, so that a problem can say what was expected.
#include "control/config.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>

#include "control/fault_names.h"
#include "os/control_seam.h"
#include "os/host.h"
#include "os/registry_tree.h"
#include "control/config_text.h"
#include "os/text.h"
#include "vboard/vboard.h"

namespace vboard {
namespace {

// A configuration line taken apart. Blanks separate words; a word that starts with a double
// quote runs to the closing quote, blanks and '#' included, with \" and \\ standing for a quote
// and a backslash; '#' at the start of a word starts a comment, in every directive. Elsewhere in
// a word, '#' and '"' are text ("Board#1", device="x").
struct Split {
    std::vector<std::string> words;
    std::vector<size_t> starts;  // where each word begins in the line
    std::vector<bool> wasQuoted;
    size_t end = 0;              // where the comment begins, or the line's length
    std::string problem;
};

bool blank(char c) { return c == ' ' || c == '\t'; }

Split split(const std::string& line) {
    Split out;
    size_t i = 0;
    out.end = line.size();
    while (true) {
        while (i < line.size() && blank(line[i])) ++i;
        if (i == line.size()) break;
        if (line[i] == '#') {
            out.end = i;
            break;
        }
        out.starts.push_back(i);
        std::string word;
        if (line[i] == '"') {
            const size_t open = i++;
            bool closed = false;
            while (i < line.size() && !closed) {
                if (line[i] == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
                    word += line[i + 1];
                    i += 2;
                } else if (line[i] == '"') {
                    closed = true;
                    ++i;
                } else {
                    word += line[i++];
                }
            }
            if (!closed) {
                out.problem = "the quote at column " + std::to_string(open + 1) + " is not closed";
                return out;
            }
            if (i < line.size() && !blank(line[i])) {
                out.problem = "a blank must follow the closing quote at column " + std::to_string(i);
                return out;
            }
            out.wasQuoted.push_back(true);
        } else {
            while (i < line.size() && !blank(line[i])) word += line[i++];
            out.wasQuoted.push_back(false);
        }
        if (word.size() > kConfigWordLimit) {
            out.problem = "a word of more than " + std::to_string(kConfigWordLimit) + " bytes";
            return out;
        }
        out.words.push_back(std::move(word));
    }
    return out;
}

// The text of a line between two offsets, without blanks at its ends.
std::string trimmed(const std::string& line, size_t from, size_t to) {
    while (from < to && blank(line[from])) ++from;
    while (to > from && blank(line[to - 1])) --to;
    return line.substr(from, to - from);
}

// A problem as it is shown: the person's words in it (a handler quotes them as they are) cut to
// a few dozen characters with their control bytes escaped. Longest first: once the long ones are
// cut, the message is short and the rest are found quickly.
std::string tidy(std::string problem, std::vector<std::string> candidates) {
    std::sort(candidates.begin(), candidates.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const std::string& text : candidates) {
        if (text.empty() || text.size() > problem.size()) continue;
        const std::string replacement = shown(text);
        if (replacement == text) continue;
        for (size_t at = problem.find(text); at != std::string::npos; at = problem.find(text, at + replacement.size()))
            problem.replace(at, text.size(), replacement);
    }
    constexpr size_t kLongest = 2048;
    problem = escapeControls(problem);
    if (problem.size() > kLongest) problem = problem.substr(0, kLongest) + "...";
    return problem;
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

std::string echoDirective(bool (*open)(const std::string&), const std::vector<std::string>& w,
                          const std::string& rest, const std::string& usage) {
    if (w.size() < 2) return expected(usage);
    // A file name may hold blanks; a comment after it is no part of it.
    const std::string target = configValue(rest, 0);
    if (!open(target))
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

std::string registryDirective(const std::vector<std::string>& w, const std::string& rest,
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
        // The text runs to the end of the line, or is quoted: "Board #1".
        value.type = REG_SZ;
        value.data = utf16Bytes(configValue(rest, 3));
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
    // What the registry can't hold is refused here, with the line, not dropped later.
    std::string tooLarge = keyPathProblem(path);
    if (tooLarge.empty()) tooLarge = valueProblem(w[2], value.data.size());
    if (!tooLarge.empty()) return tooLarge;
    setRegistryValue(root, path, w[2], value.type, value.data);
    return "";
}

std::string registryDeleteDirective(const std::vector<std::string>& w, const std::string& usage) {
    HKEY root;
    std::string path;
    if ((w.size() != 2 && w.size() != 3) || !splitKey(w[1], root, path)) return expected(usage);
    std::string tooLarge = keyPathProblem(path);
    if (tooLarge.empty() && w.size() == 3) tooLarge = valueProblem(w[2], 0);
    if (!tooLarge.empty()) return tooLarge;
    if (w.size() == 2) return removeRegistryKey(root, path) ? "" : "no key '" + w[1] + "'";
    return removeRegistryValue(root, path, w[2]) ? "" : "no value '" + w[2] + "' in " + w[1];
}

// A fault must name a call the board implements: a misspelt name would arm a fault that never
// fires, and the test that relies on it would pass for the wrong reason.
std::string faultDirective(const std::vector<std::string>& w, const std::string& usage) {
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
        if (!known)
            return "no platform call '" + w[1] + "'" +
                   (nearest.empty() ? std::string() : "; did you mean '" + nearest + "'?");
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
    armFault(f);
    return "";
}

// Whether a date is one of the Gregorian calendar, and its day of the week (0 Sunday).
bool calendarDate(unsigned year, unsigned month, unsigned day, unsigned& weekday) {
    static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] + (month == 2 && leap ? 1 : 0))
        return false;
    // Sakamoto's method.
    static const unsigned kOffsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    const unsigned y = month < 3 ? year - 1 : year;
    weekday = (y + y / 4 - y / 100 + y / 400 + kOffsets[month - 1] + day) % 7;
    return true;
}

std::string timeDirective(const std::vector<std::string>& w, const std::string& usage) {
    unsigned y, mo, da, h, mi, s, weekday = 0;
    char extra;
    if (w.size() != 3 || std::sscanf(w[1].c_str(), "%u-%u-%u%c", &y, &mo, &da, &extra) != 3 ||
        std::sscanf(w[2].c_str(), "%u:%u:%u%c", &h, &mi, &s, &extra) != 3 || y < 1601 ||
        y > 30827 || mo < 1 || mo > 12 || da < 1 || da > 31 || h > 23 || mi > 59 || s > 59)
        return expected(usage);
    if (!calendarDate(y, mo, da, weekday)) return "no such date: " + w[1];
    setSystemTime(SYSTEMTIME{static_cast<WORD>(y), static_cast<WORD>(mo),
                             static_cast<WORD>(weekday), static_cast<WORD>(da),
                             static_cast<WORD>(h), static_cast<WORD>(mi), static_cast<WORD>(s), 0});
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
    for (const std::string& w : split(text).words) {
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

using BuiltIn = std::function<std::string(const std::vector<std::string>& words,
                                           const std::string& rest, const std::string& usage)>;

void add(Host& host, const std::string& name, const std::string& usage, BuiltIn run) {
    host.addDirective(Directive{
        name, usage, [usage, run](const std::vector<std::string>& w, const std::string& rest) {
            return run(w, rest, usage);
        }});
}

// What the board started with: the lines of VBOARD_RECORD, VBOARD_STRICT and VBOARD_CONFIG,
// applied at start and again at every reset, and whether a problem in them ends the process.
struct Startup {
    std::mutex lock;
    std::vector<std::string> lines;
    bool strict = false;
};
Startup& startup() {
    static Startup* kept = new Startup();  // like the board, never destroyed
    return *kept;
}

void startFromEnvironment();

}  // namespace

void installConfiguration(Host& host) {
    using W = const std::vector<std::string>&;
    using S = const std::string&;
    add(host, "debug", "debug stdout|stderr|<file>",
        [](W w, S rest, S usage) { return echoDirective(echoDebugTo, w, rest, usage); });
    add(host, "trace", "trace stdout|stderr|<file>",
        [](W w, S rest, S usage) { return echoDirective(openTraceEcho, w, rest, usage); });
    add(host, "record", "record off|last <n>|all", [](W w, S, S usage) {
        Recording r;
        if (!parseRecording(w, r)) return expected(usage);
        setRecording(r);
        return std::string();
    });
    add(host, "strict", "strict", [](W w, S, S usage) {
        if (w.size() != 1) return expected(usage);
        std::lock_guard<std::mutex> hold(startup().lock);
        startup().strict = true;
        return std::string();
    });
    add(host, "sleep", "sleep virtual|real", [](W w, S, S usage) {
        if (w.size() != 2 || (w[1] != "virtual" && w[1] != "real")) return expected(usage);
        setVirtualSleep(w[1] == "virtual");
        return std::string();
    });
    add(host, "time", "time YYYY-MM-DD HH:MM:SS",
        [](W w, S, S usage) { return timeDirective(w, usage); });
    add(host, "remove-driver", "remove-driver <device>", [](W w, S, S usage) {
        if (w.size() != 2) return expected(usage);
        return takeDriver(w[1]) ? std::string() : "no driver '" + w[1] + "' on the board";
    });
    add(host, "registry", "registry <HKLM|HKCU>\\<path> <name> dword|string|binary <value>",
        [](W w, S rest, S usage) { return registryDirective(w, rest, usage); });
    add(host, "registry-delete", "registry-delete <HKLM|HKCU>\\<path> [<name>]",
        [](W w, S, S usage) { return registryDeleteDirective(w, usage); });
    add(host, "fault",
        "fault <function> [device=<name>] [code=<number or name>] [nth=<n>] [error=<number>]",
        [](W w, S, S usage) { return faultDirective(w, usage); });
    add(host, "listen", "listen <path>|auto", [](W w, S rest, S usage) {
        if (w.size() < 2) return expected(usage);
        // A path may hold blanks; a comment after it is no part of it.
        return listen(configValue(rest, 0));
    });
    host.atStart(startFromEnvironment);
    // The configuration the board started with is part of its power-on state. Its problems were
    // reported when it was first applied.
    host.afterReset([] {
        std::vector<std::string> lines;
        {
            std::lock_guard<std::mutex> hold(startup().lock);
            lines = startup().lines;
        }
        for (const std::string& line : lines) applyConfigLine(line);
    });
}

std::string configValue(const std::string& rest, size_t skip) {
    const Split words = split(rest);
    if (!words.problem.empty() || skip >= words.words.size()) return "";
    if (words.words.size() == skip + 1 && words.wasQuoted[skip]) return words.words[skip];
    return trimmed(rest, words.starts[skip], words.end);
}

std::vector<std::string> applyConfigLine(const std::string& rawLine) {
    std::string line = rawLine;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kConfigLineLimit)
        return {"a line of more than " + std::to_string(kConfigLineLimit) + " bytes"};
    const Split parts = split(line);
    if (!parts.problem.empty()) return {parts.problem};
    const std::vector<std::string>& w = parts.words;
    if (w.empty()) return {};
    const std::optional<Directive> directive = findDirective(w[0]);
    if (!directive) {
        std::string nearest;
        size_t best = SIZE_MAX;
        for (const Directive& d : configDirectives()) {
            const size_t distance = editDistance(d.name, w[0]);
            if (distance < best) {
                best = distance;
                nearest = d.name;
            }
        }
        std::string problem = "unknown directive " + quoted(w[0]);
        if (best <= 2) problem += "; did you mean '" + nearest + "'?";
        return {problem};
    }
    // The handler gets the words of the line and the text after the directive's name, both
    // without the comment; a value that runs to the end of the line comes from configValue.
    const std::string rest = parts.words.size() > 1 ? trimmed(line, parts.starts[1], parts.end) : "";
    const std::string problem = directive->handler(w, rest);
    if (problem.empty()) return {};
    std::vector<std::string> candidates = w;
    candidates.push_back(configValue(rest, 0));
    return {tidy(withNearestWord(w, directive->usage, problem), std::move(candidates))};
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

// A configuration file's lines, each of at most kConfigLineLimit bytes and all of them of at
// most kConfigFileLimit: a file without an end (/dev/zero, a pipe that never stops) is read that
// far and no further. A UTF-8 byte-order mark before the first line is no part of it.
struct ConfigText {
    std::vector<std::string> lines;
    std::string problem;  // why the reading stopped early, for the line after the last
};

ConfigText readConfigText(std::FILE* in) {
    ConfigText text;
    std::string line;
    uint64_t total = 0;
    char chunk[65536];
    auto stop = [&](const std::string& why) {
        text.problem = why + "; the rest of the file is not read";
        return text;
    };
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) {
        // Only what fits the file's limit is taken: the line that crosses it is the one named.
        const bool last = total + n > kConfigFileLimit;
        if (last) n = static_cast<size_t>(kConfigFileLimit - total);
        total += n;
        for (size_t i = 0; i < n;) {
            const char* newline = static_cast<const char*>(std::memchr(chunk + i, '\n', n - i));
            const size_t end = newline ? static_cast<size_t>(newline - chunk) : n;
            line.append(chunk + i, end - i);
            if (line.size() > kConfigLineLimit)
                return stop("a line of more than " + std::to_string(kConfigLineLimit) + " bytes");
            if (!newline) break;
            text.lines.push_back(std::move(line));
            line.clear();
            i = end + 1;
        }
        if (last) return stop("a file of more than " + std::to_string(kConfigFileLimit) + " bytes");
    }
    if (!line.empty()) text.lines.push_back(std::move(line));
    if (!text.lines.empty() && text.lines[0].compare(0, 3, "\xEF\xBB\xBF") == 0) text.lines[0].erase(0, 3);
    return text;
}

ConfigText readConfigFile(const std::string& path) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) return ConfigText{{}, std::string("cannot read the file: ") + std::strerror(errno)};
    ConfigText text = readConfigText(in);
    std::fclose(in);
    return text;
}

std::vector<std::string> applyLines(const std::string& path, const ConfigText& text) {
    std::vector<std::string> problems;
    for (size_t i = 0; i < text.lines.size(); ++i)
        for (const std::string& p : applyConfigLine(text.lines[i]))
            problems.push_back(path + ":" + std::to_string(i + 1) + ": " + p);
    if (!text.problem.empty())
        problems.push_back(path + ":" + std::to_string(text.lines.size() + 1) + ": " + text.problem);
    return problems;
}

// The environment's configuration, when the board starts: the echo targets, then the lines of
// VBOARD_RECORD, VBOARD_STRICT and VBOARD_CONFIG, which every reset applies again. A strict board
// with a problem in them ends the process.
void startFromEnvironment() {
    std::vector<std::string> problems;
    using Echo = std::pair<const char*, bool (*)(const std::string&)>;
    for (auto [variable, open] : {Echo{"VBOARD_DEBUG", echoDebugTo}, Echo{"VBOARD_TRACE", openTraceEcho}}) {
        const char* target = std::getenv(variable);
        if (target == nullptr || *target == 0) continue;
        if (!open(target))
            problems.push_back(std::string(variable) + "=" + target +
                               ": cannot open it for appending: " + std::strerror(errno));
    }
    // What the environment and the file set is the board's power-on state: reset() applies it
    // again, so it is kept as configuration lines.
    std::vector<std::string> lines;
    if (const char* record = std::getenv("VBOARD_RECORD"); record && *record) {
        const std::string line = std::string("record ") + record;
        for (const std::string& p : applyConfigLine(line))
            problems.push_back(std::string("VBOARD_RECORD=") + record + ": " + p);
        lines.push_back(line);
    }
    if (const char* value = std::getenv("VBOARD_STRICT"); value && std::strcmp(value, "1") == 0) {
        applyConfigLine("strict");
        lines.push_back("strict");
    }
    if (const char* where = std::getenv("VBOARD_LISTEN"); where && *where) {
        const std::string line = std::string("listen ") + where;
        for (const std::string& p : applyConfigLine(line))
            problems.push_back(std::string("VBOARD_LISTEN=") + where + ": " + p);
    }
    if (const char* path = std::getenv("VBOARD_CONFIG"); path && *path) {
        const std::string why = unreadable(path);
        if (!why.empty()) {
            problems.push_back(std::string("VBOARD_CONFIG=") + path + ": cannot read the file: " + why);
        } else {
            const ConfigText file = readConfigFile(path);
            for (const std::string& p : applyLines(path, file)) problems.push_back(p);
            lines.insert(lines.end(), file.lines.begin(), file.lines.end());
        }
    }
    bool isStrict;
    {
        std::lock_guard<std::mutex> hold(startup().lock);
        startup().lines = lines;
        isStrict = startup().strict;
    }
    for (const std::string& p : problems) std::fprintf(stderr, "vboard: %s\n", p.c_str());
    if (isStrict && !problems.empty()) {
        std::fprintf(stderr, "vboard: stopping: the board's configuration has %zu problem%s "
                             "(strict configuration)\n",
                     problems.size(), problems.size() == 1 ? "" : "s");
        std::exit(2);
    }
}

}  // namespace

std::vector<std::string> applyConfigText(std::FILE* in, const std::string& name) {
    return applyLines(name, readConfigText(in));
}

std::vector<std::string> loadConfig(const std::string& path) {
    const std::string why = unreadable(path);
    if (!why.empty()) return {path + ": cannot read the file: " + why};
    return applyLines(path, readConfigFile(path));
}

}  // namespace vboard

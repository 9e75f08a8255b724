// What every command of the tarvik tool shares: results, errors, numbers, words.
#include "tool.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace tarvik_tool {

void Tool::emit(const std::string& command, const std::string& text, Json fields) {
    if (json) {
        Json object;
        object["command"] = command;
        for (auto& [key, value] : fields.items()) object[key] = value;
        // Bytes from a device need not be UTF-8: they are replaced, never a reason to fail.
        std::cout << object.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
    } else if (!text.empty()) {
        std::cout << text;
        if (text.back() != '\n') std::cout << '\n';
    }
    // The library's debug lines go to stderr unbuffered; flushing keeps the two in order.
    std::cout.flush();
}

void Tool::check(bool ok, const std::string& command, const std::string& what) {
    if (!ok) throw Failure(command + ": " + what);
}

uint32_t number(const std::string& text, const std::string& what, uint64_t max) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const size_t start = hex ? 2 : 0;
    uint64_t value = 0;
    bool ok = text.size() > start && text.size() - start <= 16;
    for (size_t i = start; ok && i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        int digit;
        if (std::isdigit(c))
            digit = c - '0';
        else if (hex && std::isxdigit(c))
            digit = std::tolower(c) - 'a' + 10;
        else {
            ok = false;
            break;
        }
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
        if (value > max) {
            char limit[32];
            std::snprintf(limit, sizeof limit, max > 255 ? "%llu (0x%llX)" : "%llu",
                          static_cast<unsigned long long>(max), static_cast<unsigned long long>(max));
            throw UsageError(what + " '" + text + "' is out of range (at most " + limit + ")");
        }
    }
    if (!ok) throw UsageError(what + " '" + text + "' is not a number (decimal, or hex with 0x)");
    return static_cast<uint32_t>(value);
}

size_t choice(const std::string& text, const std::string& what,
              const std::vector<std::string>& words) {
    std::string list;
    for (size_t i = 0; i < words.size(); ++i) {
        if (words[i] == text) return i;
        list += (i == 0 ? "" : i + 1 == words.size() ? " or " : ", ") + words[i];
    }
    throw UsageError(what + " '" + text + "' is not one of " + list);
}

std::vector<uint8_t> hexBytes(const std::string& text, const std::string& what) {
    std::string digits;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == ' ' || c == ':' || c == ',' || c == '.') continue;
        // "0x" only starts a group ("0xde,0xad"): inside one, "10x5" is no hex.
        const bool groupStart = i == 0 || std::strchr(" :,.", text[i - 1]) != nullptr;
        if (groupStart && c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
            ++i;
            continue;
        }
        if (!std::isxdigit(c))
            throw UsageError(what + " '" + text + "' is not hex bytes ('" +
                             std::string(1, static_cast<char>(c)) + "' is no hex digit)");
        digits += static_cast<char>(c);
    }
    if (digits.empty()) throw UsageError(what + " '" + text + "' holds no bytes");
    if (digits.size() % 2 != 0)
        throw UsageError(what + " '" + text + "' has an odd number of hex digits");
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string byteList(const std::vector<uint8_t>& bytes) {
    std::string text;
    char one[8];
    for (uint8_t b : bytes) {
        std::snprintf(one, sizeof one, "%s0x%02x", text.empty() ? "" : " ", b);
        text += one;
    }
    return text;
}

Json byteArray(const std::vector<uint8_t>& bytes) {
    Json array = Json::array();
    for (uint8_t b : bytes) array.push_back(b);
    return array;
}

bool unescapeText(const std::string& text, std::string& bytes, std::string& problem) {
    bytes.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            bytes += text[i];
            continue;
        }
        const char c = text[++i];
        if (c == 'r') bytes += '\r';
        else if (c == 'n') bytes += '\n';
        else if (c == 't') bytes += '\t';
        else if (c == '\\') bytes += '\\';
        else if (c == 'x' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                 std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            bytes += static_cast<char>(std::stoul(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            problem = std::string("unknown escape '\\") + c + "' (known: \\r \\n \\t \\\\ \\xHH)";
            return false;
        }
    }
    return true;
}

bool splitWords(const std::string& line, std::vector<std::string>& words, std::string& error) {
    words.clear();
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote != 0) {
            if (c == quote)
                quote = 0;
            else if (c == '\\' && quote == '"' && i + 1 < line.size())
                word += line[++i];
            else
                word += c;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else if (c == '#' && !inWord) {
            break;
        } else {
            inWord = true;
            if (c == '\'' || c == '"')
                quote = c;
            else if (c == '\\' && i + 1 < line.size())
                word += line[++i];
            else
                word += c;
        }
    }
    if (quote != 0) {
        error = std::string("unterminated ") + (quote == '"' ? "double" : "single") + " quote";
        return false;
    }
    if (inWord) words.push_back(word);
    return true;
}

void addCommands(CLI::App& app, Tool& tool, bool session) {
    app.require_subcommand(1);
    addVersionCommands(app, tool);
    addGpioCommands(app, tool);
    addI2cCommands(app, tool);
    addSpiCommands(app, tool);
    addUartCommands(app, tool);
    addCanCommands(app, tool);
    addSystemCommands(app, tool);
    addTourCommand(app, tool);
    if (!session) {
        addSessionCommands(app, tool);
        addTestCommand(app, tool);
        addPanelCommand(app, tool);
    }
    addBoardCommands(app, tool);
    addLiveCommands(app, tool);
}

namespace {

// The deepest command the line selected ("i2c get"), and its application.
CLI::App* selected(CLI::App& app, std::string& path) {
    CLI::App* level = &app;
    while (!level->get_subcommands().empty()) {
        level = level->get_subcommands().front();
        path += (path.empty() ? "" : " ") + level->get_name();
    }
    return level;
}

// CLI11's message, named after the command it concerns. A missing or unknown subcommand comes
// as "A subcommand is required"; a person wants to know which word was wrong and what fits.
std::string parseMessage(CLI::App& app, const CLI::ParseError& e) {
    std::string path;
    CLI::App* level = selected(app, path);
    const std::string prefix = path.empty() ? "" : path + ": ";
    const std::vector<CLI::App*> choices = level->get_subcommands({});
    if (dynamic_cast<const CLI::RequiredError*>(&e) == nullptr || choices.empty() ||
        level->get_require_subcommand_min() == 0)
        return prefix + e.what();
    std::string names;
    for (size_t i = 0; i < choices.size(); ++i)
        names += (i == 0 ? "" : i + 1 == choices.size() ? " or " : ", ") + choices[i]->get_name();
    const std::vector<std::string> extra = app.remaining();
    if (!extra.empty()) return prefix + "unknown command '" + extra.front() + "' (one of " + names + ")";
    return prefix + "a command is missing (one of " + names + ")";
}

}  // namespace

int runParsed(CLI::App& app, const std::string& where, const std::function<void()>& parse) {
    const std::string prefix = "tarvik: " + (where.empty() ? "" : where + ": ");
    try {
        parse();
        return kExitOk;
    } catch (const SessionExit& e) {
        return e.status;
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e, std::cout, std::cerr);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e, std::cout, std::cerr);
    } catch (const CLI::ParseError& e) {
        std::cout.flush();
        std::cerr << prefix << parseMessage(app, e) << "\n"
                  << "Run with --help for more information.\n";
        return kExitUsage;
    } catch (const UsageError& e) {
        std::cout.flush();
        std::cerr << prefix << e.what() << "\n";
        return kExitUsage;
    } catch (const Failure& e) {
        std::cout.flush();
        std::cerr << prefix << e.what() << "\n";
        return kExitFailed;
    } catch (const std::exception& e) {
        std::cout.flush();
        std::cerr << prefix << "failed: " << e.what() << "\n";
        return kExitFailed;
    }
}

int runSessionLine(Tool& tool, const std::vector<std::string>& words, const std::string& where) {
    tool.session = true;
    CLI::App app{"A command of a tarvik session", ""};
    addCommands(app, tool, true);
    std::vector<std::string> reversed(words.rbegin(), words.rend());
    return runParsed(app, where, [&] { app.parse(reversed); });
}

}  // namespace tarvik_tool

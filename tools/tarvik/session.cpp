// tarvik run and tarvik shell: several commands in one process, so that what the library keeps
// between calls (open ports, configured records, a set interrupt) lives on between them.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>

#include <editline/readline.h>

#include "tool.h"

namespace tarvik_tool {
namespace {

// A script's line holds at most this many bytes: a script without an end (/dev/zero) is refused
// at its first line instead of growing until memory runs out.
constexpr size_t kLineLimit = size_t{1} << 20;

enum class Read { Line, End, TooLong };

Read readLine(std::istream& in, std::string& line) {
    line.clear();
    for (int c; (c = in.get()) != std::char_traits<char>::eof();) {
        if (c == '\n') return Read::Line;
        if (line.size() == kLineLimit) return Read::TooLong;
        line += static_cast<char>(c);
    }
    return line.empty() ? Read::End : Read::Line;
}

int tooLong(const std::string& where) {
    std::cerr << "tarvik: " << where << ": a line of more than " << kLineLimit << " bytes\n";
    return kExitUsage;
}

// Runs one line; an empty or comment-only line is nothing to do.
int runLine(Tool& tool, const std::string& line, const std::string& where) {
    std::vector<std::string> words;
    std::string error;
    if (!splitWords(line, words, error)) {
        std::cerr << "tarvik: " << where << ": " << error << "\n";
        return kExitUsage;
    }
    if (words.empty()) return kExitOk;
    return runSessionLine(tool, words, where);
}

int runScript(Tool& tool, const std::string& path) {
    std::ifstream file;
    std::istream* in = &std::cin;
    if (path != "-") {
        struct stat info;
        if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            throw UsageError("run: SCRIPT '" + path + "' is a folder");
        file.open(path);
        if (!file) throw UsageError("run: cannot read the script '" + path + "'");
        in = &file;
    }
    std::string line;
    for (unsigned number = 1;; ++number) {
        const std::string where = (path == "-" ? "stdin" : path) + ":" + std::to_string(number);
        const Read read = readLine(*in, line);
        if (read == Read::End) return kExitOk;
        if (read == Read::TooLong) return tooLong(where);
        // Like sh -e: the first line that fails ends the script with its status.
        const int status = runLine(tool, line, where);
        if (status != kExitOk) return status;
    }
}

std::string historyFile() {
    if (const char* path = std::getenv("TARVIK_HISTORY")) return path;
    if (const char* home = std::getenv("HOME")) return std::string(home) + "/.tarvik_history";
    return "";
}

void printHelp(Tool& tool, const std::vector<std::string>& words) {
    // "help" is the session's command list; "help i2c get" is that command's --help.
    std::vector<std::string> args(words.begin() + 1, words.end());
    args.push_back("--help");
    if (words.size() == 1) {
        CLI::App app{"Commands of a tarvik session; 'help COMMAND' for one, 'exit' to leave.", ""};
        addCommands(app, tool, true);
        std::cout << app.help();
        return;
    }
    runSessionLine(tool, args, "help");
}

int shell(Tool& tool) {
    const bool interactive = isatty(STDIN_FILENO) != 0;
    const std::string history = historyFile();
    if (interactive) {
        using_history();
        if (!history.empty()) read_history(history.c_str());
        std::cout << "tarvik shell: 'help' lists the commands, 'exit' or Ctrl-D leaves.\n";
    }
    int last = kExitOk;
    for (unsigned number = 1;; ++number) {
        std::string line;
        if (interactive) {
            char* text = readline("tarvik> ");
            if (text == nullptr) break;
            line = text;
            std::free(text);
            if (line.find_first_not_of(" \t") != std::string::npos) add_history(line.c_str());
        } else if (const Read read = readLine(std::cin, line); read != Read::Line) {
            if (read == Read::TooLong) last = tooLong("stdin:" + std::to_string(number));
            break;
        }
        std::vector<std::string> words;
        std::string error;
        if (splitWords(line, words, error) && !words.empty()) {
            if (words[0] == "exit" || words[0] == "quit") break;
            if (words[0] == "help") {
                printHelp(tool, words);
                continue;
            }
        }
        last = runLine(tool, line, interactive ? "" : "stdin:" + std::to_string(number));
    }
    if (interactive) {
        std::cout << "\n";
        if (!history.empty()) write_history(history.c_str());
    }
    // A person's mistakes in an interactive shell are told and forgotten; read from a pipe, the
    // shell answers the status of its last command.
    return interactive ? kExitOk : last;
}

}  // namespace

void addSessionCommands(CLI::App& app, Tool& tool) {
    auto path = std::make_shared<std::string>();
    auto* run = app.add_subcommand("run", "run a script of commands, one a line ('-' reads stdin)");
    run->add_option("SCRIPT", *path, "the script file")->required();
    run->callback([&tool, path] {
        const int status = runScript(tool, *path);
        if (status != kExitOk) throw SessionExit{status};
    });
    app.add_subcommand("shell", "commands typed one by one, with history and help")->callback([&tool] {
        const int status = shell(tool);
        if (status != kExitOk) throw SessionExit{status};
    });
}

}  // namespace tarvik_tool

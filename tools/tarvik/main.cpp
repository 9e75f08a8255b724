// tarvik: the module's peripherals by hand and from scripts, through the library's exports.
// On a host it runs on the virtual board.
#include "global_options.h"
#include "tool.h"

#include <optional>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace tarvik_tool;
    // --attach sends the command to a running application's board instead: another command
    // tree, that of the commands a board reached through its socket can carry out (attach.cpp).
    // The global option is declared with the others all the same, so that --help lists it.
    std::vector<std::string> args;
    std::optional<std::string> attach;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--") {
            args.insert(args.end(), argv + i, argv + argc);
            break;
        }
        if (word == "--attach")
            attach = i + 1 < argc ? argv[++i] : "";
        else if (word.rfind("--attach=", 0) == 0)
            attach = word.substr(9);
        else
            args.push_back(word);
    }
    if (attach) return runAttached(*attach, args);

    Tool tool;
    GlobalOptions options;
    CLI::App app{"tarvik - the VELNA module's peripherals through the Tarvik library.\n"
                 "Numbers are decimal or hex (0x...). Exit status: 0 done, 1 the library "
                 "reported failure, 2 a usage error.",
                 "tarvik"};
    addGlobalOptions(app, options);
    // The global options may also follow the command ("tarvik version --json").
    app.fallthrough();
    // The options are applied before the command's own callback runs.
    // (--attach never reaches it: runAttached has the commands that work on a running board.)
    app.parse_complete_callback([&] { applyGlobalOptions(options, tool); });
    addCommands(app, tool, false);
    const int status = runParsed(app, "", [&] { app.parse(argc, argv); });
    return finishBoardOptions(options, status);
}

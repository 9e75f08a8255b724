// The global options of the tarvik tool (see global_options.h).
#include "global_options.h"

#include "tool.h"

namespace tarvik_tool {

void addGlobalOptions(CLI::App& app, GlobalOptions& options) {
    app.add_option("--board", options.board,
                   "keep the board's storage (card, flash, registry hives) in this folder")
        ->type_name("DIR");
    app.add_option("--config", options.config, "apply a board configuration file first")
        ->type_name("FILE");
    app.add_flag("--trace", options.trace,
                 "show every platform call, driver requests decoded, among the debug lines");
    app.add_flag("-q,--quiet", options.quiet, "do not show the library's debug lines");
    app.add_flag("--json", options.json, "print one JSON object per command");
    app.add_option("--vcd", options.vcd,
                   "record the GPIO pins the run touches as a waveform (VCD: GTKWave, PulseView)")
        ->type_name("FILE");
    app.add_option("--listen", options.listen,
                   "let other programs drive and watch this run's board over a socket "
                   "(a path, or auto: see tarvik boards)")
        ->type_name("PATH|auto");
    app.add_option("--attach", options.attach,
                   "work on the board of a running program (its PID, or its socket's path) "
                   "instead of a board of the tool's own")
        ->type_name("PID|PATH");
}

void applyGlobalOptions(const GlobalOptions& options, Tool& tool) {
    tool.json = options.json;
    tool.attach = options.attach;
    applyBoardOptions(options);
}

}  // namespace tarvik_tool

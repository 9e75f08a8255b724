// tarvik panel: finds the board (--attach PID|PATH) or starts the application on a board that
// listens on a private socket (-- APP ARGS), serves the page, and lives until the board goes
// away or the panel is interrupted.
#include <signal.h>
#include <sys/prctl.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <thread>

#include "attach_client.h"
#include "panel.h"
#include "tool.h"

namespace tarvik_tool {
namespace {

struct PanelArgs {
    std::string attach;
    int port = 0;
    std::vector<std::string> command;
};

std::string socketOf(const std::string& attach) {
    const bool pid = !attach.empty() && attach.find_first_not_of("0123456789") == std::string::npos;
    // A board that listens with `auto` is in the user's runtime folder, named by PID.
    return pid ? liveBoardFolder() + "/" + attach + ".sock" : attach;
}

// The application, started with its board listening on `socket`. The panel's signal mask is
// not the child's.
pid_t startApplication(const std::vector<std::string>& command, const std::string& socket,
                       const sigset_t& original) {
    const pid_t child = ::fork();
    if (child != 0) return child;
    // A panel that is killed takes its application with it, as one that is interrupted does.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    ::sigprocmask(SIG_SETMASK, &original, nullptr);
    ::setenv("VBOARD_LISTEN", socket.c_str(), 1);
    std::vector<char*> argv;
    for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    std::cerr << "tarvik panel: cannot start '" << command[0] << "': " << std::strerror(errno) << "\n";
    ::_exit(127);
}

int exitStatus(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw); }

// Waits until the application's board answers on its socket; false (with why) when it ended or
// did not listen within 20 s.
// A child that ended is reaped here (`child` becomes -1).
bool awaitBoard(const std::string& socket, pid_t& child, std::string& why) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < limit) {
        int raw = 0;
        if (::waitpid(child, &raw, WNOHANG) == child) {
            why = "the application ended (status " + std::to_string(exitStatus(raw)) +
                  ") before its board listened";
            child = -1;
            return false;
        }
        struct stat st {};
        if (::stat(socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    why = "the application's board did not listen on " + socket + " within 20 s";
    return false;
}

void endApplication(pid_t child) {
    ::kill(child, SIGTERM);
    for (int i = 0; i < 250; ++i) {
        const pid_t ended = ::waitpid(child, nullptr, WNOHANG);
        if (ended == child || ended < 0) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

int runPanel(const PanelArgs& args) {
    using namespace panel;
    if (args.attach.empty() == args.command.empty())
        throw UsageError("panel: name the board (--attach PID|PATH) or the application (-- APP [ARGS...]), one of them");
    const std::string assets = findAssets();
    if (assets.empty())
        throw Failure("panel: the page's files are not installed beside the tool (share/tarvik/panel)");

    // Signals are taken by the main thread alone, in sigtimedwait; every thread started from
    // here on inherits the mask.
    sigset_t waited, original;
    sigemptyset(&waited);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&waited, s);
    ::pthread_sigmask(SIG_BLOCK, &waited, &original);

    std::string socket = socketOf(args.attach);
    std::string privateDir;
    pid_t child = -1;
    if (!args.command.empty()) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        std::string pattern = std::string(runtime != nullptr && *runtime != 0 ? runtime : "/tmp") + "/tarvik-panel-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            throw Failure("panel: cannot make a private folder for the board's socket: " + std::string(std::strerror(errno)));
        privateDir = pattern;
        socket = privateDir + "/board.sock";
        child = startApplication(args.command, socket, original);
        std::string why = "cannot start the application";
        if (child < 0 || !awaitBoard(socket, child, why)) {
            if (child > 0) endApplication(child);
            std::filesystem::remove_all(privateDir);
            throw Failure("panel: " + why);
        }
    }
    const auto cleanup = [&] {
        if (child > 0) endApplication(child);
        if (!privateDir.empty()) std::filesystem::remove_all(privateDir);
    };

    BoardConnection board;
    EventHub hub;
    VcdRecorder vcd;
    BoardWatch watch;
    std::string error;
    if (!board.open(socket, error)) {
        cleanup();
        throw Failure("panel: " + error);
    }
    // The waveform starts from the pins as they are now, then follows the events.
    const panel::Json pins = board.command("show gpio");
    const panel::Json clock = board.command("show clock");
    vcd.start(pins.value("pins", panel::Json::array()), clock.value("t", uint64_t{0}));
    if (!watch.start(socket, hub, vcd, error)) {
        cleanup();
        throw Failure("panel: " + error);
    }
    ServerSettings settings;
    settings.token = randomToken();
    settings.assets = assets;
    settings.port = args.port;
    Server server(settings, board, hub, vcd);
    const int port = server.start();
    if (port < 0) {
        const std::string why = std::strerror(errno);
        watch.stop();
        cleanup();
        throw Failure("panel: cannot serve on 127.0.0.1" +
                      (args.port != 0 ? ":" + std::to_string(args.port) : std::string()) + ": " + why);
    }
    std::cout << "tarvik panel: http://127.0.0.1:" << port << "/?token=" << settings.token << std::endl;
    std::cerr << "tarvik panel: the board at " << socket << "; Ctrl-C ends the panel"
              << (child > 0 ? " and the application" : "") << "\n";

    int status = kExitOk;
    bool applicationEnded = false;
    for (;;) {
        const timespec tick{0, 100 * 1000 * 1000};
        const int signal = ::sigtimedwait(&waited, nullptr, &tick);
        if (signal == SIGINT || signal == SIGTERM || signal == SIGHUP) break;
        if (child > 0) {
            int raw = 0;
            if (::waitpid(child, &raw, WNOHANG) == child) {
                status = exitStatus(raw);
                child = -1;
                applicationEnded = true;
                std::cerr << "tarvik panel: the application ended with status " << status << "\n";
                break;
            }
        }
        // The application's own end (above) says more than its socket's, so a child is awaited.
        if (watch.ended() && child <= 0) {
            std::cerr << "tarvik panel: the board closed its socket (the application ended)\n";
            applicationEnded = true;
            break;
        }
    }
    // The application's last events (its goodbye on a serial line) are still on their way: the
    // pages get them, and the board's end, before the panel goes.
    if (applicationEnded) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while ((!watch.ended() || !hub.drained()) && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    server.stop();
    watch.stop();
    board.close();
    cleanup();
    ::pthread_sigmask(SIG_SETMASK, &original, nullptr);
    return status;
}

}  // namespace

void addPanelCommand(CLI::App& app, Tool& tool) {
    auto* command = app.add_subcommand("panel", "a running application's board in the browser");
    auto a = std::make_shared<PanelArgs>();
    command->add_option("--attach", a->attach, "the application's board: its PID or its socket")
        ->type_name("PID|PATH");
    command->add_option("--port", a->port, "serve on this port of 127.0.0.1 (default: a free one)")
        ->type_name("PORT")
        ->check(CLI::Range(1, 65535));
    command->add_option("APP", a->command, "start this application on a listening board first (after --)")
        ->type_name("");
    command->footer("The page is served on 127.0.0.1 only; the printed address carries a random token "
                    "that every request must show.");
    command->callback([a, &tool] {
        // `tarvik --attach PID panel` names the board as `tarvik panel --attach PID` does.
        if (a->attach.empty()) a->attach = tool.attach;
        const int status = runPanel(*a);
        if (status != kExitOk) throw SessionExit{status};
    });
}

}  // namespace tarvik_tool

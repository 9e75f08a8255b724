// The fault sweep. For every sequence it runs the sequence once, in a process of its own, to list
// the platform calls the exports make; then, for every k, it runs the sequence again in a fresh
// process (a freshly loaded library on a power-on board) with the k-th of those calls failed with
// the error the system gives for it. Every run must end without a crash or a sanitizer report,
// within its time, with the export that met the failure answering its failure value (or, where
// the failure is documented as ignored, its usual answer), with no handle left open and no closed
// or foreign handle used.
//
//   tarvik_sweep [--jobs N] [--only SCENARIO] [--list]
//
// The parent process never touches the board or the library: each run is a fork of a process
// in the state loading leaves, and at most N of them run at once.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "sweep.h"
#include "vboard/vboard.h"

namespace {

using sweep::Scenario;
using sweep::Step;

// A run that has not ended after this long is waiting for something that will not come.
constexpr unsigned kRunSeconds = 60;

// The error each platform call fails with when the system refuses it.
DWORD realisticError(const std::string& function) {
    static const std::map<std::string, DWORD> errors = {
        {"CreateFileW", 2},          // ERROR_FILE_NOT_FOUND: the driver is not loaded
        {"DeviceIoControl", 31},     // ERROR_GEN_FAILURE: the driver refused the request
        {"ReadFile", 31},            {"WriteFile", 31},
        {"CloseHandle", 6},          // ERROR_INVALID_HANDLE
        {"CreateEventW", 8},         // ERROR_NOT_ENOUGH_MEMORY
        {"EventModify", 6},          {"WaitForSingleObject", 6},
        {"RegOpenKeyExW", 2},        {"RegQueryValueExW", 2},
        {"RegSetValueExW", 5},       // ERROR_ACCESS_DENIED
        {"RegDeleteValueW", 2},      {"RegCloseKey", 6},
        {"RegFlushKey", 29},         // ERROR_WRITE_FAULT
        {"RegSaveKeyW", 112},        // ERROR_DISK_FULL
        {"RegReplaceKeyW", 5},
        {"CopyFileW", 112},          {"DeleteFileW", 5},
        {"FindFirstFileW", 2},       {"FindClose", 6},
        {"SetFileAttributesW", 5},
        {"KernelIoControl", 50},     // ERROR_NOT_SUPPORTED
        {"TouchCalibrate", 31},      {"SetCurrentUser", 5},
    };
    auto it = errors.find(function);
    return it == errors.end() ? 31 : it->second;  // the serial calls: the driver refused
}

// Platform calls that cannot fail: they never pass the board's fault check.
bool canFail(const std::string& function) {
    static const std::set<std::string> never = {"NKDbgPrintfW", "GetLastError", "Sleep",
                                                "GetSystemTime"};
    return never.count(function) == 0;
}

// Releasing a handle, a key or a search: no export examines whether it worked, since the work
// the caller asked for is done by then and nothing can be done about a close that fails.
bool isRelease(const std::string& function) {
    return function == "CloseHandle" || function == "RegCloseKey" || function == "FindClose";
}

// Whether an entry of a step's ignored list names the failed call: "PurgeComm", or a request
// of one code, "DeviceIoControl 0x002A2EE4".
bool names(const std::string& what, const vboard::TraceEntry& call) {
    const size_t space = what.find(' ');
    if (space == std::string::npos) return what == call.function;
    return what.substr(0, space) == call.function &&
           std::strtoul(what.c_str() + space + 1, nullptr, 16) == call.code;
}

// What one run found, written by the child to its pipe, one item a line.
struct Report {
    std::ostringstream text;
    bool failed = false;
    void fail(const std::string& why) {
        text << "FAIL " << why << "\n";
        failed = true;
    }
};

// Runs the sequence in this (child) process. k == 0 lists the calls; otherwise the k-th call,
// which is `function`'s `occurrence`-th, fails.
[[noreturn]] void runSequence(const Scenario& s, unsigned k, const std::string& function, unsigned occurrence,
                const std::vector<int64_t>& usual, int fd) {
    alarm(kRunSeconds);
    vboard::setRecording({vboard::RecordMode::All, 0});
    vboard::setVirtualSleep(true);
    Report report;
    if (s.prepare) s.prepare();
    for (const Step& step : s.setup) {
        const int64_t result = step.call();
        if (step.failure && result == *step.failure)
            report.fail(std::string("setup ") + step.exportName + " failed");
    }
    const uint64_t start = vboard::traceTally().recorded;
    if (k != 0) {
        vboard::Fault fault;
        fault.function = function;
        fault.occurrence = occurrence;
        fault.error = realisticError(function);
        vboard::armFault(fault);
    }
    std::vector<int64_t> results;
    std::vector<uint64_t> ends;
    for (const Step& step : s.steps) {
        results.push_back(step.call());
        ends.push_back(vboard::traceTally().recorded);
    }
    vboard::clearFaults();
    const uint64_t end = vboard::traceTally().recorded;
    if (s.finish) s.finish();

    const auto trace = vboard::trace();
    // A handle whose close was failed stays open: nobody can close it again.
    std::string excused;
    if (k == 0) {
        for (const auto& entry : trace)
            if (entry.seq > start && entry.seq <= end && canFail(entry.function))
                report.text << "call " << entry.function << "\n";
        for (size_t i = 0; i < s.steps.size(); ++i) {
            report.text << "result " << results[i] << "\n";
            if (s.steps[i].failure && results[i] == *s.steps[i].failure)
                report.fail(std::string(s.steps[i].exportName) + " fails with nothing failed");
        }
    } else {
        const vboard::TraceEntry* injected = nullptr;
        for (const auto& entry : trace)
            if (entry.injected) injected = &entry;
        if (injected == nullptr) {
            report.fail("the fault never landed");
        } else {
            size_t at = 0;
            while (at < ends.size() && injected->seq > ends[at]) ++at;
            if (at == ends.size()) {
                report.fail("the fault landed outside the sequence");
            } else {
                const Step& step = s.steps[at];
                report.text << "export " << step.exportName << "\n";
                const bool ignored = isRelease(function) ||
                                     std::any_of(step.ignored.begin(), step.ignored.end(),
                                                 [&](const std::string& what) {
                                                     return names(what, *injected);
                                                 });
                // A close that failed leaves the device held, which may refuse what follows it
                // (a serial port has one reader): the export then fails, and says so.
                const bool heldOpen = isRelease(function) && step.failure &&
                                      results[at] == *step.failure;
                if (step.failure && !heldOpen) {
                    const int64_t want = ignored ? usual[at] : *step.failure;
                    if (results[at] != want)
                        report.fail(std::string(step.exportName) + " answered " +
                                    std::to_string(results[at]) + ", not " + std::to_string(want) +
                                    (ignored ? " (the failure is ignored)" : ""));
                }
            }
            if (isRelease(function))
                excused = injected->handle ? vboard::handleLabel(injected->handle)
                                           : injected->args.substr(0, injected->args.find(' '));
        }
    }
    for (const auto& handle : vboard::openHandles())
        if (vboard::handleLabel(handle.value) != excused)
            report.fail("left open: " + vboard::handleLabel(handle.value) + " " + handle.kind +
                        " " + handle.name);
    for (const auto& misuse : vboard::misuses()) report.fail("misuse: " + misuse);

    const std::string text = report.text.str();
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    close(fd);
    // An ordinary exit, so that LeakSanitizer (and Valgrind) look for memory the run lost.
    std::exit(report.failed ? 1 : 0);
}

struct Case {
    size_t scenario = 0;
    unsigned k = 0;  // 0: the listing run
    std::string function;
    unsigned occurrence = 0;
};

struct Running {
    Case c;
    int fd = -1;
    std::string output;
};

// What a finished run said, and how it ended.
struct Outcome {
    Case c;
    std::string output;
    int status = 0;
};

class Pool {
public:
    explicit Pool(unsigned jobs) : jobs_(jobs) {}

    void start(const Case& c, const std::vector<int64_t>& usual) {
        while (running_.size() >= jobs_) reap();
        int pipeFds[2];
        if (pipe(pipeFds) != 0) {
            std::perror("pipe");
            std::exit(2);
        }
        std::fflush(nullptr);
        const pid_t pid = fork();
        if (pid < 0) {
            std::perror("fork");
            std::exit(2);
        }
        if (pid == 0) {
            close(pipeFds[0]);
            const Scenario& s = sweep::scenarios()[c.scenario];
            runSequence(s, c.k, c.function, c.occurrence, usual, pipeFds[1]);
        }
        close(pipeFds[1]);
        running_[pid] = Running{c, pipeFds[0], {}};
    }

    void drain() {
        while (!running_.empty()) reap();
    }

    std::vector<Outcome> take() {
        std::vector<Outcome> out;
        out.swap(done_);
        return out;
    }

private:
    void reap() {
        int status = 0;
        const pid_t pid = waitpid(-1, &status, 0);
        if (pid < 0) {
            std::perror("waitpid");
            std::exit(2);
        }
        auto it = running_.find(pid);
        if (it == running_.end()) return;
        // The child wrote at most a few kilobytes and has ended: its pipe holds all of it.
        char buffer[4096];
        for (ssize_t n; (n = read(it->second.fd, buffer, sizeof buffer)) > 0;)
            it->second.output.append(buffer, static_cast<size_t>(n));
        close(it->second.fd);
        done_.push_back(Outcome{it->second.c, it->second.output, status});
        running_.erase(it);
    }

    unsigned jobs_;
    std::map<pid_t, Running> running_;
    std::vector<Outcome> done_;
};

std::vector<std::string> linesStarting(const std::string& text, const std::string& prefix) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line.substr(prefix.size()));
    return out;
}

// How a run ended, in words, or "" when it passed.
std::string verdict(const Outcome& o) {
    if (WIFSIGNALED(o.status)) {
        const int sig = WTERMSIG(o.status);
        if (sig == SIGALRM)
            return "no end within " + std::to_string(kRunSeconds) + " s (a wait that never ends)";
        return std::string("crashed: ") + strsignal(sig);
    }
    const int code = WEXITSTATUS(o.status);
    if (code == 0) return "";
    std::string why;
    for (const auto& line : linesStarting(o.output, "FAIL ")) why += "\n    " + line;
    if (why.empty()) why = " exit status " + std::to_string(code) + " (a sanitizer report above?)";
    return why;
}

}  // namespace

int main(int argc, char** argv) {
    unsigned jobs = 2;
    std::string only;
    bool list = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--jobs" && i + 1 < argc) {
            jobs = static_cast<unsigned>(std::max(1, std::atoi(argv[++i])));
        } else if (arg == "--only" && i + 1 < argc) {
            only = argv[++i];
        } else if (arg == "--list") {
            list = true;
        } else {
            std::fprintf(stderr, "usage: %s [--jobs N] [--only SCENARIO] [--list]\n", argv[0]);
            return 2;
        }
    }
    const auto& all = sweep::scenarios();
    Pool pool(jobs);
    int failures = 0;

    // The listing runs: what each sequence calls when nothing fails, and what its exports answer.
    std::vector<std::vector<std::string>> calls(all.size());
    std::vector<std::vector<int64_t>> usual(all.size());
    for (size_t i = 0; i < all.size(); ++i)
        if (only.empty() || only == all[i].name) pool.start(Case{i, 0, "", 0}, {});
    pool.drain();
    for (const Outcome& o : pool.take()) {
        const Scenario& s = all[o.c.scenario];
        if (std::string why = verdict(o); !why.empty()) {
            std::printf("sweep: %s: the sequence fails with nothing failed:%s\n", s.name, why.c_str());
            ++failures;
            continue;
        }
        calls[o.c.scenario] = linesStarting(o.output, "call ");
        for (const auto& r : linesStarting(o.output, "result "))
            usual[o.c.scenario].push_back(std::stoll(r));
    }

    std::map<std::string, unsigned> perExport;
    unsigned cases = 0;
    for (size_t i = 0; i < all.size(); ++i) {
        std::map<std::string, unsigned> seen;
        if (list && !calls[i].empty()) std::printf("%s:\n", all[i].name);
        for (size_t k = 1; k <= calls[i].size(); ++k) {
            const std::string& function = calls[i][k - 1];
            if (list) std::printf("  %zu %s\n", k, function.c_str());
            pool.start(Case{i, static_cast<unsigned>(k), function, ++seen[function]}, usual[i]);
        }
    }
    pool.drain();
    for (const Outcome& o : pool.take()) {
        ++cases;
        const auto exported = linesStarting(o.output, "export ");
        ++perExport[exported.empty() ? "?" : exported[0]];
        if (std::string why = verdict(o); !why.empty()) {
            std::printf("sweep: %s k=%u (%s #%u failed):%s\n", all[o.c.scenario].name, o.c.k,
                        o.c.function.c_str(), o.c.occurrence, why.c_str());
            ++failures;
        }
    }
    std::printf("sweep: %u (export, k) cases over %zu exports", cases, perExport.size());
    std::printf(" (");
    const char* sep = "";
    for (const auto& [name, count] : perExport) {
        std::printf("%s%s %u", sep, name.c_str(), count);
        sep = ", ";
    }
    std::printf("); %d failed\n", failures);
    std::set<std::string> quiet;
    for (const Scenario& s : all)
        for (const Step& step : s.steps)
            if ((only.empty() || only == s.name) && perExport.count(step.exportName) == 0)
                quiet.insert(step.exportName);
    if (!quiet.empty()) {
        std::printf("sweep: run, but no platform call to fail:");
        for (const auto& name : quiet) std::printf(" %s", name.c_str());
        std::printf("\n");
    }
    return failures == 0 ? 0 : 1;
}

// tarvik --attach and tarvik test against the unmodified examples/line_controller: the
// application, the tool's streams and its one-shot commands each a process of their own, as a
// person runs them in three terminals.
#include <signal.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <iterator>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "process_support.h"

namespace {

using Clock = std::chrono::steady_clock;
// No process may hang a test: one still running after this is killed and the test fails.
constexpr auto kDeadline = std::chrono::seconds(60);

const std::string kScratch = tarvik_test::processFolder("tarvik_attach_");

std::string writeFile(const std::string& name, const std::string& text) {
    const std::string path = kScratch + "/" + name;
    std::ofstream(path) << text;
    return path;
}

// A process whose stdout and stderr are collected as it runs.
class Process {
public:
    Process(std::vector<std::string> argv, std::vector<std::pair<std::string, std::string>> env = {}) {
        int out[2], err[2];
        if (::pipe(out) != 0 || ::pipe(err) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            for (int fd : {out[0], out[1], err[0], err[1]}) ::close(fd);
            for (const char* name : {"VBOARD_DEBUG", "VBOARD_TRACE", "VBOARD_CONFIG", "VBOARD_STRICT", "VBOARD_LISTEN",
                                     "VBOARD_LISTEN_HOLD", "VBOARD_RECORD", "VBOARD_DIR"})
                ::unsetenv(name);
            for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
            tarvik_test::execWords(argv);
        }
        ::close(out[1]);
        ::close(err[1]);
        fds_[0] = out[0];
        fds_[1] = err[0];
    }
    ~Process() {
        if (pid_ > 0 && status_ < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        for (int fd : fds_)
            if (fd >= 0) ::close(fd);
    }
    pid_t pid() const { return pid_; }
    const std::string& out() const { return text_[0]; }
    const std::string& err() const { return text_[1]; }

    // Reads until `done` holds (or the deadline); false when it never did.
    bool until(const std::function<bool()>& done) {
        const auto deadline = Clock::now() + kDeadline;
        while (!done()) {
            if (Clock::now() > deadline) return false;
            pollfd p[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
            if (::poll(p, 2, 50) <= 0) {
                if (fds_[0] < 0 && fds_[1] < 0) reap(false);
                continue;
            }
            for (int i = 0; i < 2; ++i) {
                if (p[i].revents == 0) continue;
                char buffer[4096];
                const ssize_t got = ::read(fds_[i], buffer, sizeof buffer);
                if (got > 0) {
                    text_[i].append(buffer, static_cast<size_t>(got));
                } else {
                    ::close(fds_[i]);
                    fds_[i] = -1;
                }
            }
        }
        return true;
    }
    // Its exit status once it ended (128 + signal), or -1 when it did not within the deadline.
    int status() {
        until([this] { return fds_[0] < 0 && fds_[1] < 0; });
        reap(true);
        return status_;
    }

private:
    void reap(bool wait) {
        if (status_ >= 0 || pid_ <= 0) return;
        int raw = 0;
        if (::waitpid(pid_, &raw, wait ? 0 : WNOHANG) != pid_) return;
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    }
    pid_t pid_ = -1;
    int fds_[2] = {-1, -1};
    std::string text_[2];
    int status_ = -1;
};

// The line controller on a listening board, its button released.
struct Application {
    std::string socket;
    Process process;
    explicit Application(const std::string& name)
        : socket(kScratch + "/" + name + ".sock"),
          process({LINE_CONTROLLER}, {{"VBOARD_LISTEN", socket},
                                      {"VBOARD_CONFIG", writeFile("released.conf", "gpio input 0.4 1\n")}}) {
        process.until([this] { return process.out().find("ready") != std::string::npos; });
    }
};

std::vector<std::string> tool(const std::string& socket, std::vector<std::string> args) {
    args.insert(args.begin(), {TARVIK_TOOL, "--attach", socket});
    return args;
}

struct StreamCase {
    const char* name;
    std::vector<std::string> stream;
    std::vector<std::vector<std::string>> actions;
    const char* output;  // a regular expression for the whole stdout
};
void PrintTo(const StreamCase& c, std::ostream* out) { *out << c.name; }

class AttachStream : public ::testing::TestWithParam<StreamCase> {};

TEST_P(AttachStream, ShowsWhatTheApplicationDid) {
    const StreamCase& c = GetParam();
    Application app(c.name);
    Process stream(tool(app.socket, c.stream));
    ASSERT_TRUE(stream.until([&] { return stream.err().find("watching") != std::string::npos; })) << stream.err();
    for (const std::vector<std::string>& action : c.actions) {
        Process command(tool(app.socket, action));
        ASSERT_EQ(command.status(), 0) << command.err();
    }
    EXPECT_EQ(stream.status(), 0) << stream.err();
    EXPECT_TRUE(std::regex_match(stream.out(), std::regex(c.output))) << stream.out();
}

INSTANTIATE_TEST_SUITE_P(
    Attach, AttachStream,
    ::testing::Values(
        StreamCase{"gpio_monitor", {"gpio", "monitor", "-n", "1", "1"}, {{"board", "drive", "2", "0"}},
                   R"(event:  RISING EDGE index: 1 pad: 0\.2 timestamp: \[\d+\.\d{6}\]\n)"},
        StreamCase{"gpio_monitor_json", {"--json", "gpio", "monitor", "-n", "1", "-f", "0.4"}, {{"board", "drive", "2", "0"}},
                   R"(\{"command":"gpio monitor","index":2,"pad":"0\.4","edge":"falling","t":\d+\}\n)"},
        StreamCase{"can_dump", {"can", "dump", "-n", "1"}, {{"uart", "write", "1", "LAMP ON\\r"}},
                   R"(  can1  181   \[4\]  01 00 00 02\n)"},
        // Another node's frame reaches the controller: the application's own bus shows it.
        StreamCase{"can_send_log", {"can", "dump", "-L", "-n", "1"}, {{"can", "send", "123#DEADBEEF"}},
                   R"(\(\d+\.\d{6}\) can1 123#DEADBEEF\n)"},
        StreamCase{"uart_read", {"uart", "read", "COM1", "-n", "37"}, {{"uart", "write", "1", "STATUS\\r"}},
                   "STATUS lamp=OFF presses=0 station=1\r\n"},
        // The application's end closes the stream: status 0, what it wrote last included.
        StreamCase{"uart_read_to_the_end", {"uart", "read", "1"}, {{"uart", "write", "1", "QUIT\\r"}}, "BYE\r\n"},
        StreamCase{"trace", {"trace", "-f", "-n", "1"}, {{"uart", "write", "1", "\\r"}}, R"([^\n]+\n)"}),
    [](const ::testing::TestParamInfo<StreamCase>& param) { return std::string(param.param.name); });

TEST(Attach, StreamsEndAtCtrlCAndAtTheApplicationsEnd) {
    Application app("ends");
    Process interrupted(tool(app.socket, {"can", "dump"}));
    Process ended(tool(app.socket, {"trace", "-f"}));
    for (Process* p : {&interrupted, &ended})
        ASSERT_TRUE(p->until([p] { return p->err().find("watching") != std::string::npos; }));
    ::kill(interrupted.pid(), SIGINT);
    EXPECT_EQ(interrupted.status(), 0) << interrupted.err();
    Process quit(tool(app.socket, {"uart", "write", "1", "QUIT\\r"}));
    EXPECT_EQ(quit.status(), 0);
    EXPECT_EQ(app.process.status(), 0);
    EXPECT_EQ(ended.status(), 0);
    EXPECT_NE(ended.err().find("the application ended"), std::string::npos) << ended.err();
}

struct RefusalCase {
    std::vector<std::string> args;
    int status;
    const char* message;
};
void PrintTo(const RefusalCase& c, std::ostream* out) { *out << ::testing::PrintToString(c.args); }

class AttachRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(AttachRefusal, NamesTheReason) {
    static Application app("refusals");
    Process command(tool(app.socket, GetParam().args));
    EXPECT_EQ(command.status(), GetParam().status);
    EXPECT_NE(command.err().find(GetParam().message), std::string::npos) << command.err();
    EXPECT_EQ(command.out(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Attach, AttachRefusal,
    ::testing::Values(RefusalCase{{"board", "drive", "99", "1"}, 2, "module index 99 has no GPIO pad"},
                      RefusalCase{{"board", "fail", "Frob"}, 2, "did you mean"},
                      RefusalCase{{"uart", "write", "3", "x"}, 2, "PORT '3' is not 1, 2, COM1 or COM2"},
                      RefusalCase{{"uart", "write", "1", "\\q"}, 2, "unknown escape"},
                      RefusalCase{{"can", "send", "800#00"}, 2, "CAN frame '800#00'"},
                      RefusalCase{{"--config", "x.conf", "board", "show"}, 2, "--config cannot be used with --attach"},
                      RefusalCase{{"i2c", "get", "0", "0x50", "0", "1"}, 2, "i2c"}));

TEST(Attach, NoBoardThereIsAFailureNamingThePlace) {
    Process command({TARVIK_TOOL, "--attach", kScratch + "/nobody.sock", "board", "show"});
    EXPECT_EQ(command.status(), 1);
    EXPECT_NE(command.err().find(kScratch + "/nobody.sock"), std::string::npos) << command.err();
}

struct ScenarioCase {
    const char* name;
    const char* scenario;
    int status;
    std::vector<const char*> report;  // lines of stderr, in order
};
void PrintTo(const ScenarioCase& c, std::ostream* out) { *out << c.name; }

class Scenario : public ::testing::TestWithParam<ScenarioCase> {};

TEST_P(Scenario, ReportsTheStepExpectedAndSeen) {
    const ScenarioCase& c = GetParam();
    const std::string file = writeFile(std::string(c.name) + ".scenario", c.scenario);
    const std::string junit = kScratch + "/junit/" + c.name + ".xml";
    Process test({TARVIK_TOOL, "test", file, "--junit", junit, "--", LINE_CONTROLLER});
    EXPECT_EQ(test.status(), c.status) << test.err();
    size_t at = 0;
    for (const char* line : c.report) {
        at = test.err().find(line, at);
        ASSERT_NE(at, std::string::npos) << "'" << line << "' (in order) in:\n" << test.err();
    }
    std::ifstream in(junit);
    const std::string xml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(xml.find(c.status == 0 ? "failures=\"0\" errors=\"0\"" : c.status == 1 ? "<failure message=\"" : "<error message=\""),
              std::string::npos)
        << xml;
}

INSTANTIATE_TEST_SUITE_P(
    Tarvik, Scenario,
    ::testing::Values(
        ScenarioCase{"passes", "gpio input 0.4 1\nwait serial COM1 READY\nserial write COM1 QUIT\\r\nexpect exit 0\n", 0, {}},
        ScenarioCase{"pin_at_once",
                     "# the lamp starts off\nwait can 181#00000000\nexpect gpio 1 1\n",
                     1,
                     {"pin_at_once.scenario:3: expect gpio 1 1", "expected: pin 0.2 at level 1 at once",
                      "saw: pin 0.2 at level 0 (out)"}},
        ScenarioCase{"exit_status",
                     "wait serial COM1 READY\nserial write COM1 QUIT\\r\nexpect exit 3\n",
                     1,
                     {"exit_status.scenario:3: expect exit 3", "expected: the application to end with status 3",
                      "saw: it ended with exit status 0"}},
        ScenarioCase{"ended_first",
                     "wait serial COM1 READY\nserial write COM1 QUIT\\r\nwait serial COM1 \"OK lamp=ON\"\n",
                     1,
                     {"ended_first.scenario:3:", "saw: COM1 sent \"BYE\\r\\n\"", "the application had ended (exit status 0)"}},
        ScenarioCase{"refused", "gpio inptu 0.4 1\n", 2, {"refused.scenario:1: gpio inptu 0.4 1", "the board refused it"}},
        ScenarioCase{"bad_step", "wait gpio 1 2\ndelay 5m\n", 2,
                     {"bad_step.scenario:1: LEVEL '2' is not one of 0 or 1", "bad_step.scenario:2: '5m' is not a time"}}),
    [](const ::testing::TestParamInfo<ScenarioCase>& param) { return std::string(param.param.name); });

}  // namespace

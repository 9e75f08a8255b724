// vboard/src/control/live_*: the live board as its clients meet it. Each test runs the small
// application tests/live_app.c on a board that listens, and talks to it over the socket from this
// process, as the tool and socat do. No test measures time: every wait is for a condition, with a
// limit far beyond what a loaded machine needs.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "attach_client.h"
#include "process_support.h"

namespace {

using tarvik_test::slurp;

using tarvik_tool::AttachClient;

constexpr int kPatience = 60000;  // milliseconds: a limit for a wait that should end at once

std::string scratchFolder() {
    static const std::string folder = tarvik_test::processFolder("vboard_live_");
    return folder;
}

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// Waits for a condition, polling; false when the limit passed first.
template <class Condition>
bool eventually(Condition condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatience);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The application, running with the variables given, its standard input and output ours.
class App {
public:
    explicit App(const std::map<std::string, std::string>& env) {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) std::abort();
        errPath_ = scratchFolder() + "/err-" + std::to_string(++count_);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            if (!std::freopen(errPath_.c_str(), "w", stderr)) ::_exit(126);
            ::close(in[1]);
            ::close(out[0]);
            for (const char* name : {"VBOARD_CONFIG", "VBOARD_LISTEN", "VBOARD_TRACE", "VBOARD_DEBUG"})
                ::unsetenv(name);
            for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
            // The emulator's words (none on a native build), then the application.
            std::vector<std::string> words = tarvik_test::wordsOf(LIVE_APP_EMULATOR);
            words.push_back(LIVE_APP);
            tarvik_test::execWords(words);
        }
        ::close(in[0]);
        ::close(out[1]);
        to_ = ::fdopen(in[1], "w");
        from_ = ::fdopen(out[0], "r");
        EXPECT_EQ(line(), "ready");
    }
    ~App() { end(); }

    // A command for the application; answers what it printed before "done".
    std::string run(const std::string& command) {
        std::fprintf(to_, "%s\n", command.c_str());
        std::fflush(to_);
        std::string said;
        for (std::string l = line(); l != "done" && l != "(end)"; l = line()) said += l;
        return said;
    }
    // Starts a command without waiting for it.
    void start(const std::string& command) {
        std::fprintf(to_, "%s\n", command.c_str());
        std::fflush(to_);
    }
    std::string line() {
        char text[4096];
        if (std::fgets(text, sizeof text, from_) == nullptr) return "(end)";
        std::string l = text;
        if (!l.empty() && l.back() == '\n') l.pop_back();
        return l;
    }
    // Ends its input: the application ends.
    void closeInput() {
        if (to_ != nullptr) std::fclose(to_);
        to_ = nullptr;
    }
    // Ends its input; answers its exit status.
    int end() {
        if (pid_ <= 0) return status_;
        closeInput();
        // Its output stays open until it has ended: what it says at exit must not kill it.
        int status = 0;
        ::waitpid(pid_, &status, 0);
        std::fclose(from_);
        pid_ = 0;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return status_;
    }
    pid_t pid() const { return pid_; }
    std::string err() const { return slurp(errPath_); }

private:
    static inline int count_ = 0;
    pid_t pid_ = 0;
    int status_ = -1;
    FILE* to_ = nullptr;
    FILE* from_ = nullptr;
    std::string errPath_;
};

std::string socketPath(const std::string& name) { return scratchFolder() + "/" + name + ".sock"; }

void connect(AttachClient& client, const std::string& path) {
    std::string problem;
    ASSERT_TRUE(client.connect(path, problem)) << problem;
}

// The board listens when the environment, its configuration or the program asks, and only then.
TEST(LiveBoard, ListensWhenAskedAndOnlyThen) {
    const std::string config = scratchFolder() + "/listen.conf";
    std::ofstream(config) << "listen " << socketPath("by-config") << "  # a comment is no part of it\n";
    struct Case {
        std::map<std::string, std::string> env;
        std::string command;  // for the application, before the socket is looked for
        std::string path;     // "" when it must not listen
    };
    const std::vector<Case> cases = {
        {{{"VBOARD_LISTEN", socketPath("by-env")}}, "", socketPath("by-env")},
        {{{"VBOARD_CONFIG", config}}, "", socketPath("by-config")},
        {{}, "listen " + socketPath("by-call"), socketPath("by-call")},
        {{}, "pin 1 1", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        App app(c.env);
        const std::string said = app.run(c.command);
        if (c.path.empty()) {
            // A board that does not listen starts no thread.
            app.closeInput();
            EXPECT_EQ(app.line(), "threads at exit +0");
            continue;
        }
        if (c.command.compare(0, 7, "listen ") == 0) {
            EXPECT_EQ(said, "listening");
        }
        AttachClient client;
        connect(client, c.path);
        EXPECT_EQ(client.command("hello", kPatience).value_or("").compare(0, 3, "ok "), 0);
        EXPECT_EQ(app.run("listen /elsewhere.sock"), "the board listens on " + c.path + " already");
    }
}

// Every answer is one line, exactly as a client reads it.
TEST(LiveBoard, AnswersEachCommandWithOneLine) {
    const std::string path = socketPath("answers");
    App app({{"VBOARD_LISTEN", path}});
    AttachClient client;
    connect(client, path);
    const std::string pid = std::to_string(app.pid());
    struct Case {
        std::string command;
        std::string answer;
    };
    const std::vector<Case> cases = {
        {"hello", "ok pid=" + pid + " program=live_app protocol=1"},
        {"", ""},  // a blank line is no command: nothing is answered (the next answer shows it)
        {"gpio input 3 1", "ok"},
        {"gpoi input 3 1", "error: unknown directive 'gpoi'; did you mean 'gpio'?"},
        {"fault DeviceIoControl device=CAN1: nth=2", "ok"},
        {"show faults", "ok id=1 text=\"fault DeviceIoControl device=CAN1: nth=2 error=31\""},
        {"show clock x", "error: expected: show gpio|i2c|eeprom <bus> <address>|spi|serial|can|handles|faults|clock"},
        {"i2c attach 1 0x50 eeprom 16", "ok"},
        {"i2c fill 1 0x50 2 de ad", "ok"},
        {"show eeprom 1 0x50", "ok bus=1 address=80 kind=eeprom data=ffffdeadffffffffffffffffffffffff"},
        {"show eeprom 1 0x51", "error: no device at address 0x51 on I2C bus 1"},
        {"watch gpio serial COM2", "ok watching=gpio,serial"},
        {"watch sensors", "error: no events of 'sensors' (gpio, trace, debug, can, serial [COM1|COM2], i2c or spi)"},
        {"unwatch", "ok watching=nothing"},
        {"serial write COM1 a\\q", "error: unknown escape \\q (\\r \\n \\t \\0 \\\\ \\\" \\xHH)"},
        {"serial write COM3 a", "error: expected: serial write COM1|COM2 <text>"},
        {"serial write-raw COM2 ab\\x0D", "ok bytes=3"},
        {"json on", "{\"ok\":true}"},
        {"show handles", "{\"ok\":true,\"handles\":[]}"},
        {"show eeprom 1 0x50", "{\"ok\":true,\"bus\":1,\"address\":80,\"kind\":\"eeprom\",\"data\":\"ffffdeadffffffffffffffffffffffff\"}"},
        {"gpio input 3 2", "{\"ok\":false,\"error\":\"expected: gpio input <bank>.<pin>|<index> <0|1>\"}"},
        {"json off", "ok"},
        {"quit", "ok"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        ASSERT_TRUE(client.send(c.command));
        if (c.answer.empty()) continue;
        EXPECT_EQ(client.readLine(kPatience).value_or("(none)"), c.answer);
    }
    // quit ends the connection once its answer is out.
    EXPECT_EQ(client.readLine(kPatience), std::nullopt);
    EXPECT_EQ(app.end(), 0);
}

// What a query shows is the board as the application left it, in the fixed JSON shapes.
TEST(LiveBoard, ShowsTheBoardAsTheApplicationLeftIt) {
    const std::string path = socketPath("show");
    App app({{"VBOARD_LISTEN", path}});
    app.run("pin 1 1");
    AttachClient client;
    connect(client, path);
    client.command("json on", kPatience);
    const std::string gpio = client.command("show gpio", kPatience).value_or("");
    EXPECT_NE(gpio.find("{\"index\":1,\"pad\":\"0.2\",\"direction\":\"out\",\"level\":1,\"driven\":false,"
                        "\"interrupt\":null}"),
              std::string::npos) << gpio;
    EXPECT_EQ(client.command("show serial", kPatience).value_or(""),
              "{\"ok\":true,\"ports\":[{\"port\":\"COM1\",\"open\":false,\"baud\":9600,\"link\":\"null-modem COM2\","
              "\"queued\":0,\"typing\":0,\"overruns\":0},{\"port\":\"COM2\",\"open\":false,\"baud\":9600,"
              "\"link\":\"null-modem COM1\",\"queued\":0,\"typing\":0,\"overruns\":0}]}");
    EXPECT_EQ(client.command("show can", kPatience).value_or(""),
              "{\"ok\":true,\"open\":false,\"bitrate\":250000,\"mode\":\"normal\",\"tlprio\":false,"
              "\"filters\":[],\"pending\":0,\"overruns\":0,\"bus\":null}");
    // Wired to a shared bus, the controller names it.
    const std::string bus = "show-" + std::to_string(getpid());
    ASSERT_EQ(client.command("can bus " + bus, kPatience), "{\"ok\":true}");
    EXPECT_NE(client.command("show can", kPatience).value_or("").find("\"bus\":\"" + bus + "\"}"),
              std::string::npos);
    EXPECT_EQ(client.command("can bus off", kPatience), "{\"ok\":true}");
}

// Events stream as they happen, in text and in JSON, whoever made them happen: the application
// (a pin, a debug line) or another client (a CAN frame from another node).
TEST(LiveBoard, StreamsWhatItWatches) {
    const std::string path = socketPath("watch");
    App app({{"VBOARD_LISTEN", path}});
    AttachClient watcher, other;
    connect(watcher, path);
    connect(other, path);
    ASSERT_EQ(watcher.command("watch gpio debug can", kPatience), "ok watching=gpio,debug,can");
    app.run("pin 1 1");
    app.run("print");
    ASSERT_EQ(watcher.command("unwatch debug", kPatience), "ok watching=gpio,can");
    ASSERT_EQ(watcher.command("watch i2c", kPatience), "ok watching=gpio,can,i2c");
    app.run("i2c 0 80");
    ASSERT_EQ(other.command("can inject 123#DEADBEEF", kPatience), "ok");
    ASSERT_EQ(watcher.command("json on", kPatience), "{\"ok\":true}");
    ASSERT_EQ(other.command("can inject 1ABCDEF0#R2", kPatience), "ok");
    // The stamp is the board's clock: only its form is fixed.
    auto withoutStamp = [](std::string line) {
        const size_t t = line.find("t=") != std::string::npos ? line.find("t=") : line.find("\"t\":");
        const size_t end = line.find_first_of(" ,", t);
        return t == std::string::npos ? line : line.erase(t, end - t);
    };
    // The library's own debug lines come with its calls.
    const std::vector<std::string> expected = {
        "event debug  line=\"VELNA set direction gpio 0 pin 2 direction 1 - Rout 1\"",
        "event gpio  index=1 pad=0.2 level=1",
        "event debug  line=\"VELNA set gpio 0 pin 2 - Rout 1\"",
        "event debug  line=\"Can't Close Uart Port\"",
        // Every call on the bus's driver, the transfer decoded.
        "event i2c  bus=0 device=I2C2: line=\"CreateFileW \\\"I2C2:\\\" access 0xC0000000 share 3 creation 3 "
        "flags 0x0 -> h2\"",
        "event i2c  bus=0 device=I2C2: line=\"I2C2: SET_MASTER_MODE -> ok\"",
        "event i2c  bus=0 device=I2C2: line=\"I2C2: SET_FREQUENCY 100000 -> ok\"",
        "event i2c  bus=0 device=I2C2: line=\"I2C2: CONFIRM word 1 -> ok\"",
        "event i2c  bus=0 device=I2C2: line=\"I2C2: TRANSFER [W 0x50: 00 00][R 0x50: 1 byte] -> ok\"",
        "event i2c  bus=0 device=I2C2: line=\"CloseHandle h2 \\\"I2C2:\\\" -> ok\"",
        "event can  dir=rx id=123 extended=false rtr=false data=deadbeef accepted=true",
        "{\"event\":\"can\",,\"dir\":\"rx\",\"id\":\"1ABCDEF0\",\"extended\":true,\"rtr\":true,\"data\":\"\","
        "\"accepted\":true,\"length\":2}",
    };
    for (const std::string& line : expected)
        EXPECT_EQ(withoutStamp(watcher.readLine(kPatience).value_or("(none)")), line);
}

// The far end of a serial line types: every byte reaches an application that clears its queue
// before each wait and reads one byte a call.
TEST(LiveBoard, SerialWriteIsPacedToTheApplicationsReads) {
    const std::string path = socketPath("serial");
    App app({{"VBOARD_LISTEN", path}});
    AttachClient client;
    connect(client, path);
    ASSERT_EQ(client.command("watch serial COM1", kPatience), "ok watching=serial");
    app.start("read 1 7");
    ASSERT_EQ(client.command("serial write COM1 hi\\tyou\\n", kPatience), "ok bytes=7");
    EXPECT_EQ(app.line(), "read hi\tyou");
    // Each byte reached the application's receive side on its own.
    for (const char* expected : {"data=68 text=h", "data=69 text=i", "data=09 text=\"\\\\t\"", "data=79 text=y"})
        EXPECT_NE(client.readLine(kPatience).value_or("").find(std::string("port=COM1 dir=rx ") + expected),
                  std::string::npos) << expected;
}

// A watcher that reads nothing costs the application nothing: its oldest events go, and it is
// told exactly how many.
TEST(LiveBoard, ASlowWatcherLosesItsOldestEventsAndIsToldHowMany) {
    const std::string path = socketPath("slow");
    App app({{"VBOARD_LISTEN", path}});
    AttachClient client;
    connect(client, path);
    app.run("pin 1 0");
    ASSERT_EQ(client.command("watch gpio", kPatience), "ok watching=gpio");
    constexpr unsigned kChanges = 200000;
    app.run("toggle 1 " + std::to_string(kChanges));
    // The last change drives the pin low: every change before it is an event or counted.
    uint64_t events = 0, dropped = 0;
    for (std::string line; line.find("level=0") == std::string::npos || events + dropped < kChanges;) {
        line = client.readLine(kPatience).value_or("(none)");
        ASSERT_NE(line, "(none)");
        if (line.compare(0, 14, "event dropped ") == 0)
            dropped += std::stoull(line.substr(14));
        else
            ++events;
    }
    EXPECT_EQ(events + dropped, kChanges);
    EXPECT_GT(dropped, 0u);
}

// Lines, clients and bad input are bounded; the board answers and goes on.
TEST(LiveBoard, RefusesWhatIsBeyondItsBounds) {
    const std::string path = socketPath("bounds");
    App app({{"VBOARD_LISTEN", path}});
    AttachClient client;
    connect(client, path);
    EXPECT_EQ(client.command(std::string(64 * 1024 + 1, 'x'), kPatience), "error: line too long");
    // A line of blanks at the limit (its CR no part of it) is no command: nothing is answered.
    ASSERT_TRUE(client.send(std::string(64 * 1024, ' ') + "\r"));
    EXPECT_EQ(client.command("json on", kPatience), "{\"ok\":true}");
    std::vector<std::unique_ptr<AttachClient>> more;
    for (int i = 1; i < 16; ++i) {
        more.push_back(std::make_unique<AttachClient>());
        connect(*more.back(), path);
        ASSERT_EQ(more.back()->command("hello", kPatience).value_or("").compare(0, 3, "ok "), 0);
    }
    AttachClient seventeenth;
    connect(seventeenth, path);
    EXPECT_EQ(seventeenth.readLine(kPatience), "error: too many clients");
    EXPECT_EQ(seventeenth.readLine(kPatience), std::nullopt);
}

// The socket: the user's alone, found by `auto`, described beside it, replaced when stale,
// refused while another board holds it, and gone when the program ends.
TEST(LiveBoard, KeepsItsSocketToItsUserAndRemovesItAtTheEnd) {
    const std::string runtime = scratchFolder() + "/runtime";
    ::mkdir(runtime.c_str(), 0700);
    App app({{"VBOARD_LISTEN", "auto"}, {"XDG_RUNTIME_DIR", runtime}});
    const std::string folder = runtime + "/tarvik";
    const std::string path = folder + "/" + std::to_string(app.pid()) + ".sock";
    const std::string info = folder + "/" + std::to_string(app.pid()) + ".info";
    ASSERT_TRUE(eventually([&] { return exists(path); }));
    struct stat s;
    ASSERT_EQ(::stat(folder.c_str(), &s), 0);
    EXPECT_EQ(s.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(path.c_str(), &s), 0);
    EXPECT_TRUE(S_ISSOCK(s.st_mode));
    EXPECT_EQ(s.st_mode & 0777, 0600u);
    EXPECT_EQ(slurp(info), "pid=" + std::to_string(app.pid()) + "\nprogram=live_app\nsocket=" + path +
                               "\nprotocol=1\n");
    // Another board asked for the same socket refuses it and says why.
    {
        App second({{"VBOARD_LISTEN", path}});
        second.end();
        // (The problem shortens the long path it quotes.)
        EXPECT_NE(second.err().find("vboard: VBOARD_LISTEN=" + path + ": a board listens on "), std::string::npos)
            << second.err();
        EXPECT_NE(second.err().find(" already\n"), std::string::npos) << second.err();
    }
    // A child the program forks and that ends with exit() leaves the socket to its parent.
    app.run("fork");
    AttachClient client;
    connect(client, path);
    EXPECT_EQ(client.command("hello", kPatience).value_or("").compare(0, 3, "ok "), 0);
    EXPECT_EQ(app.end(), 0);
    EXPECT_FALSE(exists(path));
    EXPECT_FALSE(exists(info));

    // A socket left by a process that is gone is taken over.
    const std::string stale = socketPath("stale");
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", stale.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    App taker({{"VBOARD_LISTEN", stale}});
    connect(client, stale);
    EXPECT_EQ(client.command("hello", kPatience).value_or("").compare(0, 3, "ok "), 0);
}

// Another user's process gets no further than the folder; let through (a folder opened by
// mistake), it is still refused by its credentials.
TEST(LiveBoard, RefusesAnotherUser) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to become another user in a child process (run as root to check it)";
    const std::string path = socketPath("user");
    App app({{"VBOARD_LISTEN", path}});
    // The child reports what it met as one byte: 'D' denied at connect, 'R' refused by the board
    // with its error line and the end of the connection, anything else an error.
    auto asAnotherUser = [&] {
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
            AttachClient client;
            std::string problem;
            if (!client.connect(path, problem)) ::_exit(problem.find("Permission denied") != std::string::npos ? 10 : 4);
            const bool refused = client.readLine(kPatience) ==
                                     std::optional<std::string>("error: this board takes connections of its own user only") &&
                                 client.readLine(kPatience) == std::nullopt;
            ::_exit(refused ? 11 : 5);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(asAnotherUser(), 10);
    ASSERT_EQ(::chmod(scratchFolder().c_str(), 0777), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0777), 0);
    const int opened = asAnotherUser();
    ::chmod(scratchFolder().c_str(), 0700);
    EXPECT_EQ(opened, 11);
}

// What the port sent just before the program ended reaches the program at the far end of its
// pseudo-terminal (the terminal's hang-up at the end of the process would discard it unread), and
// the terminal's thread has ended before the process does.
TEST(LiveBoard, APseudoTerminalDeliversTheLastBytesAndEndsItsThreadAtTheEnd) {
    const std::string path = socketPath("pty");
    App app({{"VBOARD_LISTEN", path}});
    AttachClient client;
    connect(client, path);
    ASSERT_EQ(client.command("serial COM1 pty", kPatience), "ok");
    const std::string said = "is wired to the pseudo-terminal ";
    // The whole line, its path ending in its LF.
    std::string terminal;
    ASSERT_TRUE(eventually([&] {
        const std::string err = app.err();
        const size_t at = err.find(said);
        const size_t end = at == std::string::npos ? at : err.find('\n', at);
        if (end != std::string::npos) terminal = err.substr(at + said.size(), end - at - said.size());
        return end != std::string::npos;
    }));
    const int far = ::open(terminal.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(far, 0) << terminal;
    termios raw{};
    ASSERT_EQ(::tcgetattr(far, &raw), 0);
    ::cfmakeraw(&raw);
    ::tcsetattr(far, TCSANOW, &raw);
    app.run("write 1 BYE");
    // The program ends now, with its last bytes still unread.
    app.closeInput();
    std::string got;
    char buffer[64];
    for (ssize_t n; got.size() < 3 && (n = ::read(far, buffer, sizeof buffer)) > 0;) got.append(buffer, static_cast<size_t>(n));
    ::close(far);
    EXPECT_EQ(got, "BYE");
    // Only the listener's thread is left, which was there before main and whose own exit
    // handler comes later.
    EXPECT_EQ(app.line(), "threads at exit +0");
    EXPECT_EQ(app.end(), 0);
}

#ifdef TARVIK_TOOL
// The tool's side: the boards that listen, and a running board's look.
TEST(LiveBoard, TheToolListsTheBoardsAndShowsOne) {
    const std::string runtime = scratchFolder() + "/tool-runtime";
    ::mkdir(runtime.c_str(), 0700);
    App app({{"VBOARD_LISTEN", "auto"}, {"XDG_RUNTIME_DIR", runtime}});
    app.run("pin 1 1");
    const std::string folder = runtime + "/tarvik";
    const std::string path = folder + "/" + std::to_string(app.pid()) + ".sock";
    // The files of a process that ended without removing them are no board.
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    std::ofstream(folder + "/" + std::to_string(gone) + ".info")
        << "pid=" << gone << "\nprogram=gone\nsocket=" << folder << "/" << gone << ".sock\n";
    auto tool = [&](const std::string& words) {
        const std::string command = "XDG_RUNTIME_DIR=" + runtime + " " + TARVIK_TOOL + " -q " + words + " 2>&1";
        FILE* out = ::popen(command.c_str(), "r");
        std::string text;
        char chunk[4096];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, out)) > 0;) text.append(chunk, n);
        const int status = ::pclose(out);
        return std::make_pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1, text);
    };
    EXPECT_EQ(tool("boards"), std::make_pair(0, std::to_string(app.pid()) + " live_app " + path + "\n"));
    const auto [status, shown] = tool("--attach " + std::to_string(app.pid()) + " board show");
    EXPECT_EQ(status, 0) << shown;
    const std::string first = "gpio: index=1 pad=0.2 direction=out level=1 driven=false interrupt=none; ";
    EXPECT_EQ(shown.compare(0, first.size(), first), 0) << shown;
    EXPECT_NE(shown.find("\nserial: port=COM1 open=false baud=9600 link=\"null-modem COM2\""), std::string::npos)
        << shown;
    // A command that does not work on a running board refuses, rather than run on one of its own.
    EXPECT_EQ(tool("--attach " + path + " gpio get 1"),
              std::make_pair(2, std::string("tarvik: gpio: unknown command 'get' (one of monitor)\n"
                                            "Run with --help for more information.\n")));
}
#endif

}  // namespace

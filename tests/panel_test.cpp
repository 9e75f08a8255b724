// tarvik panel without a browser: the tool started as a person starts it, on
// examples/line_controller, and its HTTP server asked with raw requests: who gets in (the token,
// the Host, the Origin), what a page may send, and how bad requests are answered. Then the
// panel's own parts: the bounded queue of a page, the waveform's file.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "process_support.h"
#include "panel.h"

namespace {

struct Panel {
    pid_t pid = -1;
    int out = -1;   // its stdout
    int port = 0;
    std::string token;
    std::string text;  // what it printed
};

// Starts `tarvik ARGS` with stdout on a pipe; when `url` is set, waits for the address line.
// `runtime`, when given, is its XDG_RUNTIME_DIR.
Panel startPanel(const std::vector<std::string>& args, bool url, const char* runtime = nullptr) {
    int pipes[2];
    EXPECT_EQ(::pipe(pipes), 0);
    Panel p;
    p.pid = ::fork();
    if (p.pid == 0) {
        ::dup2(pipes[1], 1);
        ::close(pipes[0]);
        ::setenv("VBOARD_DEBUG", "", 1);
        if (runtime != nullptr) ::setenv("XDG_RUNTIME_DIR", runtime, 1);
        std::vector<std::string> words = {TARVIK_TOOL};
        words.insert(words.end(), args.begin(), args.end());
        tarvik_test::execWords(words);
    }
    ::close(pipes[1]);
    p.out = pipes[0];
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    static const std::regex kAddress(R"(http://127\.0\.0\.1:([0-9]+)/\?token=([0-9a-f]{64})\n)");
    std::smatch found;
    while (url && !std::regex_search(p.text, found, kAddress) && std::chrono::steady_clock::now() < limit) {
        pollfd f{p.out, POLLIN, 0};
        char chunk[512];
        if (::poll(&f, 1, 200) <= 0) continue;
        const ssize_t n = ::read(p.out, chunk, sizeof chunk);
        if (n <= 0) break;
        p.text.append(chunk, static_cast<size_t>(n));
    }
    if (url && std::regex_search(p.text, found, kAddress)) {
        p.port = std::stoi(found[1]);
        p.token = found[2];
    }
    return p;
}

int endPanel(Panel& p, bool interrupt) {
    if (interrupt) ::kill(p.pid, SIGINT);
    int raw = 0;
    ::waitpid(p.pid, &raw, 0);
    ::close(p.out);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

// One request as written, the whole answer as read (the server closes after it).
std::string ask(int port, const std::string& request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
    EXPECT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
    std::string answer;
    char chunk[4096];
    for (;;) {
        pollfd f{fd, POLLIN, 0};
        if (::poll(&f, 1, 10000) <= 0) break;
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        answer.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    return answer;
}

TEST(Panel, RefusesWhatIsNotItsOwnPagesAndAnswersBadRequests) {
    Panel p = startPanel({"panel", "--", LINE_CONTROLLER}, true);
    ASSERT_NE(p.port, 0) << "no address printed: " << p.text;
    const std::string self = "127.0.0.1:" + std::to_string(p.port);
    const std::string wrong(64, '0');
    const std::string json = "Content-Type: application/json\r\n";
    const auto get = [&](const std::string& target, const std::string& headers) {
        return "GET " + target + " HTTP/1.1\r\n" + headers + "Connection: close\r\n\r\n";
    };
    const auto post = [&](const std::string& target, const std::string& headers, const std::string& body) {
        return "POST " + target + " HTTP/1.1\r\nHost: " + self + "\r\n" + headers + "Content-Length: " +
               std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    };
    const std::string host = "Host: " + self + "\r\n";
    const std::string t = "token=" + p.token;
    struct Case {
        const char* what;
        std::string request;
        int status;
        std::string says;
    } cases[] = {
        {"the page", get("/?" + t, host), 200, "<meta name=\"tarvik-token\" content=\"" + p.token + "\">"},
        {"the token in a header", get("/panel.js", host + "X-Tarvik-Token: " + p.token + "\r\n"), 200, "EventSource"},
        {"no token", get("/", host), 403, "the token is missing"},
        {"a wrong token", get("/?token=" + wrong, host), 403, "the token is wrong"},
        {"a short token", get("/?token=" + p.token.substr(1), host), 403, "the token is wrong"},
        {"another Host", get("/?" + t, "Host: attacker.example:" + std::to_string(p.port) + "\r\n"), 403,
         "not for this server"},
        {"no Host", get("/?" + t, ""), 403, "not for this server"},
        {"another Origin", get("/api/show?what=gpio&" + t, host + "Origin: http://attacker.example\r\n"), 403,
         "cross-origin requests are refused (Origin 'http://attacker.example')"},
        {"a null Origin", post("/api/command?" + t, json + "Origin: null\r\n", R"({"line":"gpio input 0.4 0"})"),
         403, "cross-origin"},
        {"a cross-site fetch", get("/events?" + t, host + "Sec-Fetch-Site: cross-site\r\n"), 403, "Sec-Fetch-Site"},
        {"the page's own Origin", post("/api/command?" + t, json + "Origin: http://" + self + "\r\n",
                                      R"({"line":"gpio input 0.4 1"})"), 200, R"("ok":true)"},
        {"a directive the board refuses", post("/api/command?" + t, json, R"({"line":"gpio input 9.99 1"})"),
         200, R"("ok":false)"},
        {"a form's text", post("/api/command?" + t, "Content-Type: text/plain\r\n", "gpio input 0.4 0"), 415,
         "a command comes as JSON"},
        {"no line", post("/api/command?" + t, json, R"({"lines":"x"})"), 400, "a command comes as JSON"},
        {"broken JSON", post("/api/command?" + t, json, R"({"line":)"), 400, "a command comes as JSON"},
        {"two lines", post("/api/command?" + t, json, R"({"line":"hello\nquit"})"), 400, "control character"},
        {"the panel's quit", post("/api/command?" + t, json, R"({"line":"quit"})"), 400,
         "'quit' belongs to the panel's own connection"},
        {"the panel's watch", post("/api/command?" + t, json, R"({"line":" watch trace"})"), 400,
         "'watch' belongs"},
        {"a body over 64 KiB", post("/api/command?" + t, json, std::string(70000, ' ')), 413, ""},
        {"a show of something else", get("/api/show?what=gpio%0aquit&" + t, host), 400, "show what?"},
        {"a path it does not serve", get("/../../etc/passwd?" + t, host), 404, ""},
        {"no HTTP at all", "HELLO\r\n\r\n", 400, ""},
    };
    for (const Case& c : cases) {
        const std::string answer = ask(p.port, c.request);
        const std::string expected = "HTTP/1.1 " + std::to_string(c.status) + " ";
        EXPECT_EQ(answer.substr(0, expected.size()), expected) << c.what << ":\n" << answer.substr(0, 300);
        EXPECT_NE(answer.find(c.says), std::string::npos) << c.what << ": no '" << c.says << "' in\n" << answer;
    }
    // The directive the page's own origin sent reached the board.
    const std::string pins = ask(p.port, get("/api/show?what=gpio&" + t, host));
    EXPECT_NE(pins.find(R"("index":2,"pad":"0.4","direction":"in","level":1,)"), std::string::npos) << pins;
    EXPECT_EQ(endPanel(p, true), 0);
}

// An application started on its own with VBOARD_LISTEN=auto, found by its PID; the panel ends
// when the application does.
TEST(Panel, AttachesByPidAndEndsWithTheApplication) {
    char folder[] = "/tmp/tarvik-panel-test-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const pid_t app = ::fork();
    if (app == 0) {
        ::setenv("XDG_RUNTIME_DIR", folder, 1);
        ::setenv("VBOARD_LISTEN", "auto", 1);
        ::execl(LINE_CONTROLLER, LINE_CONTROLLER, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const std::string socket = std::string(folder) + "/tarvik/" + std::to_string(app) + ".sock";
    for (int i = 0; i < 1000 && ::access(socket.c_str(), F_OK) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    Panel p = startPanel({"panel", "--attach", std::to_string(app)}, true, folder);
    ASSERT_NE(p.port, 0) << "no address printed: " << p.text;
    const std::string self = "127.0.0.1:" + std::to_string(p.port);
    const std::string hello = ask(p.port, "GET /api/hello?token=" + p.token + " HTTP/1.1\r\nHost: " + self +
                                              "\r\nConnection: close\r\n\r\n");
    EXPECT_NE(hello.find(R"("pid":)" + std::to_string(app) + R"(,"program":"line_controller")"), std::string::npos)
        << hello;
    const std::string body = R"({"line":"serial write COM1 QUIT\\r"})";
    const std::string quit = ask(p.port, "POST /api/command?token=" + p.token + " HTTP/1.1\r\nHost: " + self +
                                             "\r\nContent-Type: application/json\r\nContent-Length: " +
                                             std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    EXPECT_NE(quit.find(R"("ok":true)"), std::string::npos) << quit;
    int raw = 0;
    ::waitpid(app, &raw, 0);
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0);
    EXPECT_EQ(endPanel(p, false), 0);
    std::filesystem::remove_all(folder);
}

TEST(Panel, SaysWhatIsMissingOrUnreachable) {
    struct Case {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{"panel"}, 2},
        {{"panel", "--attach", "/nonexistent/board.sock", "--", LINE_CONTROLLER}, 2},
        {{"panel", "--attach", "/nonexistent/board.sock"}, 1},
        {{"panel", "--", "/nonexistent/application"}, 1},
    };
    for (const Case& c : cases) {
        Panel p = startPanel(c.args, false);
        EXPECT_EQ(endPanel(p, false), c.status) << c.args.back();
    }
}

// A page that does not read (a background tab) costs the board nothing: publishing never waits,
// the page's queue keeps the newest events within its bounds, and the page is told how many went.
TEST(PanelEvents, APageThatDoesNotReadLosesTheOldestAndIsTold) {
    using tarvik_tool::panel::EventHub;
    EventHub hub;
    const auto page = hub.subscribe();
    const size_t sent = EventHub::kMaxEvents + 904;
    for (size_t i = 0; i < sent; ++i) hub.publish(R"({"event":"gpio","t":)" + std::to_string(i) + "}");
    EXPECT_EQ(page->queue.size(), EventHub::kMaxEvents);
    EXPECT_EQ(page->dropped, 904u);
    EXPECT_EQ(page->queue.front(), R"({"event":"gpio","t":904})");
    // A page opened now starts with the same newest events; bytes bound the queue as well.
    EXPECT_EQ(hub.subscribe()->queue.front(), page->queue.front());
    const auto late = hub.subscribe();
    hub.publish(std::string(EventHub::kMaxBytes - 10, 'x'));
    EXPECT_LE(late->bytes, EventHub::kMaxBytes);
    EXPECT_EQ(late->queue.size(), 1u);
}

// The waveform's file has the board's recorder's layout: the pins the application set up or that
// changed, their levels when the recording began, then each change at its time. (The events carry
// no directions: a direction seen when the panel attached is not written as if it lasted.)
TEST(PanelWaveform, WritesTheBoardsLayout) {
    using tarvik_tool::panel::Json;
    tarvik_tool::panel::VcdRecorder vcd;
    vcd.start(Json::parse(R"([
        {"index":1,"pad":"0.2","direction":"out","level":0,"interrupt":null},
        {"index":2,"pad":"0.4","direction":"in","level":1,"interrupt":{"mode":"both","armed":true}},
        {"index":3,"pad":"0.5","direction":"in","level":0,"interrupt":null},
        {"index":4,"pad":"5.3","direction":"in","level":0,"interrupt":null}])"), 100);
    for (const char* event : {R"({"event":"gpio","t":150,"index":2,"pad":"0.4","level":0})",
                              R"({"event":"gpio","t":170,"index":1,"pad":"0.2","level":1})",
                              R"({"event":"gpio","t":170,"index":2,"pad":"0.4","level":1})",
                              R"({"event":"gpio","t":200,"index":3,"pad":"0.5","level":0})",
                              R"({"event":"gpio","t":210,"pad":"bad","level":1})"})
        vcd.event(Json::parse(event));
    EXPECT_EQ(vcd.file(),
              "$version Tarvik virtual board $end\n$timescale 1us $end\n$scope module gpio $end\n"
              "$scope module bank0 $end\n"
              "$var wire 1 ! gpio0_2 $end\n$var wire 1 $ gpio0_4 $end\n$var wire 1 ' gpio0_5 $end\n"
              "$upscope $end\n$upscope $end\n$enddefinitions $end\n"
              "#100\n$dumpvars\n0!\n1$\n0'\n$end\n"
              "#150\n0$\n#170\n1!\n1$\n");
}

}  // namespace

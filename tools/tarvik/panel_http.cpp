// The panel's HTTP server (cpp-httplib): the page's files, the board's queries and commands, and
// the events as server-sent events. Every request is checked first: it must come for this server
// (Host), from its own page (Origin, Sec-Fetch-Site) and carry the token printed with the address,
// so that neither another user on the machine nor a web site open in the same browser drives the
// board.
#include <httplib.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>

#include "panel.h"

namespace tarvik_tool {
namespace panel {
namespace {

// Pages open at once: each holds a connection (and a server thread) for its events.
constexpr size_t kMaxPages = 8;
constexpr size_t kServerThreads = kMaxPages + 8;
constexpr size_t kMaxBody = 64 * 1024;
constexpr size_t kMaxCommand = 4096;

bool sameToken(const std::string& given, const std::string& token) {
    // As long as the comparison takes is no hint of how much of a guess was right.
    if (given.size() != token.size()) return false;
    unsigned char differ = 0;
    for (size_t i = 0; i < token.size(); ++i) differ |= static_cast<unsigned char>(given[i] ^ token[i]);
    return differ == 0;
}

std::string readFile(const std::string& path, bool& ok) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    ok = static_cast<bool>(in);
    return text.str();
}

void refuse(httplib::Response& res, int status, const std::string& why) {
    res.status = status;
    res.set_content("tarvik panel: " + why + "\n", "text/plain; charset=utf-8");
}

void answerJson(httplib::Response& res, const Json& answer) {
    res.set_content(answer.dump(-1, ' ', false, Json::error_handler_t::replace), "application/json");
}

}  // namespace

std::string randomToken() {
    unsigned char bytes[32];
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error(std::string("no random bytes for the token: ") + std::strerror(errno));
        got += static_cast<size_t>(n);
    }
    std::string text;
    char two[3];
    for (unsigned char b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        text += two;
    }
    return text;
}

std::string refuseCommand(const std::string& line) {
    if (line.empty()) return "the command is empty";
    if (line.size() > kMaxCommand) return "the command is longer than " + std::to_string(kMaxCommand) + " bytes";
    for (unsigned char c : line)
        if (c < 0x20 || c == 0x7F) return "the command holds a control character (one line, printable text)";
    const size_t start = line.find_first_not_of(' ');
    const std::string word = start == std::string::npos ? "" : line.substr(start, line.find(' ', start) - start);
    for (const char* own : {"json", "watch", "unwatch", "quit"})
        if (word == own) return "'" + word + "' belongs to the panel's own connection";
    return "";
}

struct Server::Impl {
    ServerSettings settings;
    BoardConnection& board;
    EventHub& hub;
    VcdRecorder& vcd;
    httplib::Server http;
    std::thread thread;
    int port = 0;

    Impl(const ServerSettings& s, BoardConnection& b, EventHub& h, VcdRecorder& v)
        : settings(s), board(b), hub(h), vcd(v) {}

    // "" when the request may go on, or why not.
    std::string check(const httplib::Request& req) const {
        const std::string self[] = {"127.0.0.1:" + std::to_string(port), "localhost:" + std::to_string(port)};
        // A name that resolves to 127.0.0.1 (DNS rebinding) is another origin in the browser: the
        // page at it would be a stranger's.
        const std::string host = req.get_header_value("Host");
        if (host != self[0] && host != self[1]) return "the request is not for this server (Host '" + host + "')";
        if (req.has_header("Origin")) {
            const std::string origin = req.get_header_value("Origin");
            if (origin != "http://" + self[0] && origin != "http://" + self[1])
                return "cross-origin requests are refused (Origin '" + origin + "')";
        }
        if (req.has_header("Sec-Fetch-Site")) {
            const std::string site = req.get_header_value("Sec-Fetch-Site");
            if (site != "same-origin" && site != "none")
                return "cross-origin requests are refused (Sec-Fetch-Site '" + site + "')";
        }
        const std::string given =
            req.has_param("token") ? req.get_param_value("token") : req.get_header_value("X-Tarvik-Token");
        if (!sameToken(given, settings.token))
            return given.empty() ? "the token is missing: open the address the panel printed"
                                 : "the token is wrong: open the address the panel printed";
        return "";
    }

    void asset(const std::string& name, const std::string& type, httplib::Response& res) const {
        bool ok = false;
        std::string text = readFile(settings.assets + "/" + name, ok);
        if (!ok) return refuse(res, 500, "the page's file '" + name + "' cannot be read from " + settings.assets);
        // The page asks for its other files and the API with the token it was opened with.
        if (name == "index.html")
            for (size_t at; (at = text.find("__TOKEN__")) != std::string::npos;)
                text.replace(at, 9, settings.token);
        res.set_header("Cache-Control", "no-store");
        res.set_content(text, type);
    }

    void routes() {
        http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
            const std::string why = check(req);
            if (why.empty()) {
                // Nothing of the page is to be framed or sniffed by another site.
                res.set_header("X-Frame-Options", "DENY");
                res.set_header("X-Content-Type-Options", "nosniff");
                res.set_header("Content-Security-Policy",
                               "default-src 'self'; connect-src 'self'; img-src 'self' data:; frame-ancestors 'none'");
                return httplib::Server::HandlerResponse::Unhandled;
            }
            refuse(res, 403, why);
            return httplib::Server::HandlerResponse::Handled;
        });
        http.Get("/", [this](const httplib::Request&, httplib::Response& res) {
            asset("index.html", "text/html; charset=utf-8", res);
        });
        http.Get("/panel.js", [this](const httplib::Request&, httplib::Response& res) {
            asset("panel.js", "text/javascript; charset=utf-8", res);
        });
        http.Get("/panel.css", [this](const httplib::Request&, httplib::Response& res) {
            asset("panel.css", "text/css; charset=utf-8", res);
        });
        http.Get("/api/show", [this](const httplib::Request& req, httplib::Response& res) {
            static const std::regex kWhat(R"((gpio|i2c|spi|serial|can|handles|faults|clock|eeprom [0-9]{1,3} [0-9]{1,3}))");
            const std::string what = req.get_param_value("what");
            if (!std::regex_match(what, kWhat))
                return refuse(res, 400, "show what? (gpio, i2c, eeprom BUS ADDR, spi, serial, can, handles, faults, clock)");
            answerJson(res, board.command("show " + what));
        });
        http.Get("/api/hello", [this](const httplib::Request&, httplib::Response& res) {
            answerJson(res, board.command("hello"));
        });
        http.Post("/api/command", [this](const httplib::Request& req, httplib::Response& res) {
            // A form of another site can post text, never JSON without asking first.
            if (req.get_header_value("Content-Type").rfind("application/json", 0) != 0)
                return refuse(res, 415, "a command comes as JSON ({\"line\": \"...\"})");
            const Json body = Json::parse(req.body, nullptr, false);
            if (!body.is_object() || !body.contains("line") || !body["line"].is_string())
                return refuse(res, 400, "a command comes as JSON ({\"line\": \"...\"})");
            const std::string line = body["line"].get<std::string>();
            const std::string why = refuseCommand(line);
            if (!why.empty()) return refuse(res, 400, why);
            answerJson(res, board.command(line));
        });
        http.Get("/waveform.vcd", [this](const httplib::Request&, httplib::Response& res) {
            res.set_header("Content-Disposition", "attachment; filename=\"tarvik-panel.vcd\"");
            res.set_content(vcd.file(), "application/octet-stream");
        });
        http.Get("/events", [this](const httplib::Request&, httplib::Response& res) {
            if (hub.subscribers() >= kMaxPages)
                return refuse(res, 503, "too many pages open (at most " + std::to_string(kMaxPages) + ")");
            auto subscriber = hub.subscribe();
            res.set_header("Cache-Control", "no-store");
            res.set_chunked_content_provider(
                "text/event-stream",
                [subscriber](size_t, httplib::DataSink& sink) {
                    std::deque<std::string> lines;
                    uint64_t dropped = 0;
                    bool closed = false;
                    {
                        std::unique_lock<std::mutex> hold(subscriber->lock);
                        subscriber->ready.wait_for(hold, std::chrono::seconds(10), [&] {
                            return !subscriber->queue.empty() || subscriber->closed || subscriber->dropped != 0;
                        });
                        lines.swap(subscriber->queue);
                        subscriber->bytes = 0;
                        dropped = subscriber->dropped;
                        subscriber->dropped = 0;
                        closed = subscriber->closed;
                    }
                    std::string text;
                    if (dropped != 0)
                        text += "data: {\"event\":\"dropped\",\"count\":" + std::to_string(dropped) +
                                ",\"where\":\"panel\"}\n\n";
                    for (const std::string& line : lines) text += "data: " + line + "\n\n";
                    // A comment keeps an idle stream alive through proxies and shows a gone page.
                    if (text.empty()) text = ": idle\n\n";
                    if (!sink.write(text.data(), text.size())) return false;
                    if (closed) sink.done();
                    return true;
                },
                [this, subscriber](bool) { hub.unsubscribe(subscriber); });
        });
    }
};

Server::Server(const ServerSettings& settings, BoardConnection& board, EventHub& hub, VcdRecorder& vcd)
    : impl_(std::make_unique<Impl>(settings, board, hub, vcd)) {}

Server::~Server() { stop(); }

int Server::start() {
    Impl& s = *impl_;
    s.http.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
    s.http.set_payload_max_length(kMaxBody);
    s.http.set_keep_alive_timeout(2);
    s.http.set_read_timeout(5);
    s.http.set_write_timeout(5);
    s.routes();
    s.port = s.settings.port == 0 ? s.http.bind_to_any_port("127.0.0.1")
                                  : (s.http.bind_to_port("127.0.0.1", s.settings.port) ? s.settings.port : -1);
    if (s.port < 0) return -1;
    s.thread = std::thread([&s] { s.http.listen_after_bind(); });
    return s.port;
}

void Server::stop() {
    if (!impl_->thread.joinable()) return;
    impl_->hub.close();
    impl_->http.stop();
    impl_->thread.join();
}

std::string findAssets() {
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "";
    self[n] = 0;
    std::string dir = self;
    dir.erase(dir.rfind('/'));
    for (const std::string& candidate : {dir + "/../share/tarvik/panel", dir + "/panel"})
        if (::access((candidate + "/index.html").c_str(), R_OK) == 0) return candidate;
    return "";
}

}  // namespace panel
}  // namespace tarvik_tool

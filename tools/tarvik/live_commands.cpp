// The tool's side of the live board: `tarvik boards` lists the running programs whose boards
// listen, and `tarvik --attach PID|PATH board show` asks one of them what it looks like. The
// connection itself is attach_client.cpp's.
#include "attach_client.h"
#include "tool.h"

#include <iostream>

namespace tarvik_tool {
namespace {

// The queries `board show` makes of a running board, in the order it prints them.
constexpr const char* kShown[] = {"gpio", "i2c", "spi", "serial", "can", "handles", "faults", "clock"};

}  // namespace

void showAttachedBoard(Tool& tool) {
    AttachClient client;
    std::string problem;
    if (!client.connect(tool.attach, problem)) throw Failure("board show: " + problem);
    if (tool.json && client.command("json on") != std::optional<std::string>("{\"ok\":true}"))
        throw Failure("board show: the board at " + tool.attach + " does not answer as a board does");
    std::string text;
    Json fields = Json::object();
    for (const char* what : kShown) {
        const std::optional<std::string> answer = client.command(std::string("show ") + what);
        if (!answer) throw Failure("board show: the board at " + tool.attach + " closed the connection");
        if (tool.json) {
            Json object = Json::parse(*answer, nullptr, false);
            if (object.is_discarded() || !object.value("ok", false))
                throw Failure("board show: show " + std::string(what) + ": " + *answer);
            object.erase("ok");
            fields[what] = object;
        } else {
            if (answer->compare(0, 3, "ok ") != 0 && *answer != "ok")
                throw Failure("board show: show " + std::string(what) + ": " + *answer);
            text += std::string(what) + ": " + (answer->size() > 3 ? answer->substr(3) : "") + "\n";
        }
    }
    tool.emit("board show", text, fields);
}

void addLiveCommands(CLI::App& app, Tool& tool) {
    app.add_subcommand("boards", "the running programs whose boards listen (VBOARD_LISTEN=auto)")
        ->callback([&tool] {
            std::string text;
            Json boards = Json::array();
            for (const LiveBoard& board : liveBoards()) {
                text += std::to_string(board.pid) + " " + board.program + " " + board.socket + "\n";
                boards.push_back({{"pid", board.pid}, {"program", board.program}, {"socket", board.socket}});
            }
            if (text.empty()) text = "no board listens in " + liveBoardFolder() + "\n";
            tool.emit("boards", text, {{"boards", boards}});
        });
}

}  // namespace tarvik_tool

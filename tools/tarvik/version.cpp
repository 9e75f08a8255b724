// tarvik version: the library's, the board-support package's and the image's versions.
#include <cstdio>

#include "Tarvik.h"
#include "tool.h"

namespace tarvik_tool {
namespace {

std::string hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

// The library counts its version in bytes (1.4.0.1); the registry's BSP and image numbers
// carry a major and a minor half-word (0x00080000 is 8.0).
std::string dottedBytes(uint32_t v) {
    char text[24];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", static_cast<unsigned>(v >> 24),
                  static_cast<unsigned>((v >> 16) & 0xFF), static_cast<unsigned>((v >> 8) & 0xFF),
                  static_cast<unsigned>(v & 0xFF));
    return text;
}

std::string dottedWords(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u", static_cast<unsigned>(v >> 16),
                  static_cast<unsigned>(v & 0xFFFF));
    return text;
}

}  // namespace

void addVersionCommands(CLI::App& app, Tool& tool) {
    app.add_subcommand("version", "library, board-support and image versions")->callback([&tool] {
        struct Row {
            const char* key;
            const char* label;
            uint32_t value;
            std::string dotted;
        };
        const uint32_t library = TarvikGetVersion();
        const uint32_t bsp = BSPGetVersion();
        const uint32_t image = WinCEImageGetVersion();
        const Row rows[] = {{"library", "library", library, dottedBytes(library)},
                            {"bsp", "board support", bsp, dottedWords(bsp)},
                            {"image", "image", image, dottedWords(image)}};
        std::string text;
        Json fields;
        for (const Row& row : rows) {
            char line[96];
            // 0 is what the library answers when the registry value can't be read.
            std::snprintf(line, sizeof line, "%-14s %s  %s\n", row.label, hex32(row.value).c_str(),
                          row.value == 0 ? "(not readable)" : row.dotted.c_str());
            text += line;
            fields[row.key] = {{"hex", hex32(row.value)},
                               {"dotted", row.value == 0 ? Json(nullptr) : Json(row.dotted)}};
        }
        tool.emit("version", text, fields);
    });
}

}  // namespace tarvik_tool

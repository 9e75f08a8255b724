// The fault sweep: sequences of export calls, each re-run with one of its platform calls failed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sweep {

// One export call of a sequence.
struct Step {
    const char* exportName;
    std::function<int64_t()> call;
    // What the export answers when it fails; nullopt for an export that answers nothing.
    std::optional<int64_t> failure;
    // Platform calls whose failure the export is documented to ignore: it then answers what it
    // answers when nothing fails.
    std::vector<std::string> ignored;
};

struct Scenario {
    const char* name;
    // The application's and the bench's own preparations (an event of its own, a receive wait),
    // made before any export is called. May be null.
    std::function<void()> prepare;
    // Export calls that bring the board where the sequence starts; never failed.
    std::vector<Step> setup;
    std::vector<Step> steps;
    // Releases what prepare made, once the sequence is over. May be null.
    std::function<void()> finish;
};

const std::vector<Scenario>& scenarios();

}  // namespace sweep

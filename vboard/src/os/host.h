// What the system offers the driver families: the one header of os/ a family includes. A family
// installs its models on a board under construction through a Host, and its models reach the
// running system through the functions below it. The board's own state (its handles, drivers,
// records and lock) stays private to os/.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "os/clock.h"
#include "os/live.h"
#include "os/text.h"
#include "os/window.h"
#include "vboard/vboard.h"

namespace vboard {

class Board;

// A request a driver takes, under the name its trace decode gives it: what a fault may name
// ("fault DeviceIoControl code=SET_PIN").
struct RequestName {
    const char* name;  // "SET_PIN"
    DWORD code;
};

// A driver and the device name it is put on the board under.
using Plug = std::pair<std::string, std::shared_ptr<StreamDriver>>;

// Builds and starts the board when it is not yet: a family's control side asks for it first.
void startBoard();

// The model a family installed, for its control side (gpio(), can() ...). Like the board it is
// never destroyed: callers may reach it from their own static destructors.
template <class Model>
class Installed {
public:
    void keep(std::shared_ptr<Model> model) { model_ = new std::shared_ptr<Model>(std::move(model)); }
    // The model on the started board.
    Model& get() const {
        startBoard();
        return **model_;
    }
    // The model as it is, without starting the board: for the family's own exit handlers.
    Model& kept() const { return **model_; }

private:
    std::shared_ptr<Model>* model_ = nullptr;
};

// The board under construction, as a driver family sees it while it installs its models, and as
// each power-on step sees it.
class Host {
public:
    explicit Host(Board& board, bool restart = false) : board_(board), restart_(restart) {}

    // ---- While the family installs ----

    // A step of the board's power-on (when it is built, at every reset, and when a driver
    // restarts it): it puts the family's models back in their power-on state and their drivers
    // on the board. Steps run in the order they were added, without the board's lock held.
    void onPowerOn(std::function<void(Host&)> step);
    // The usual step: `powerOn` (when given), then each driver put on the board under its name.
    void plugAtPowerOn(std::vector<Plug> drivers, std::function<void()> powerOn = {});
    // The usual installation of a family's model: kept in `slot` for the family's control side;
    // at every power-on, put back in its power-on state (its powerOn()) and its drivers put on
    // the board.
    template <class Model>
    void installModel(Installed<Model>& slot, std::shared_ptr<Model> model, std::vector<Plug> drivers) {
        slot.keep(model);
        plugAtPowerOn(std::move(drivers), [model] { model->powerOn(); });
    }
    // A configuration directive. A name is taken once: the process ends when two installers
    // register the same one.
    void addDirective(Directive directive);
    // The requests of the family's drivers, for faults to name. `family` is the letters of the
    // device names ("GIO" for "GIO1:").
    void nameRequests(const std::string& family, const std::vector<RequestName>& names);
    // A step run whenever the board folder is chosen: at every power-on once the storage has
    // chosen it (after every family's power-on step), and after the "board" directive or
    // setBoardFolder. It runs without the board's lock held. Where a part that keeps its
    // contents (an EEPROM, a flash) finds its image again.
    void onBoardFolder(std::function<void()> step);
    // The board's clock, for a model that stamps what it records over time.
    const BoardClock& clock() const;

    // ---- In a power-on step ----

    // Puts a driver on the board under a device name, replacing any there.
    void addDriver(const std::string& device, std::shared_ptr<StreamDriver> driver);
    // Whether this power-on is a restart by a driver (the module's software reset), which keeps
    // the board's wiring, rather than the board's building or a reset from the control API.
    bool restarting() const { return restart_; }

    // ---- For the configuration language (control/), once ----

    // Runs once the board is built, before its first use: the environment's configuration.
    void atStart(std::function<void()> start);
    // Runs after every reset from the control API, once the power-on steps have run (a restart
    // by a driver does not run it): the configuration the board started with, again.
    void afterReset(std::function<void()> step);

private:
    Board& board_;
    bool restart_;
};

// Where the board's parts are installed from, when it is built. Defined outside os/: the list of
// driver families in drivers/families.cpp, the configuration language in control/config.cpp.
void installFamilies(Host& host);
void installConfiguration(Host& host);

// ---- For models, while the board runs. None may be called with the board's lock held. ----

// Sets the event of that name, as a driver that was handed the name opens and sets it. False when
// no event has the name (it was never created, or every handle to it is closed).
bool signalNamedEvent(const std::string& name);
// The same, answering nullopt when no event has the name, else whether it was set already; then
// with `keepCollision` the set is kept for a later wait, so that a test that made two completions
// collide ends instead of hanging as the module would.
std::optional<bool> setNamedEvent(const std::string& name, bool keepCollision);

// Records a fault in the caller, which misuses() reports.
void recordMisuse(std::string text);

// The time GetSystemTime answers when it is pinned (setSystemTime, the `time` directive);
// nullopt while it follows the host's clock.
std::optional<SYSTEMTIME> fixedSystemTime();

// ---- Parts that keep their contents: raw images in the board folder ----

// The largest image the board keeps or reads: 16 MiB, all a 24-bit flash address reaches.
constexpr size_t kMaxBoardImage = size_t{16} << 20;

// What the board folder holds for a part.
struct BoardImage {
    enum State { kNoFolder, kAbsent, kLoaded, kRefused };
    State state = kNoFolder;
    std::string folder;   // the board folder it was looked for in ("" without one)
    std::string path;     // the image's host path, for messages
    Bytes data;           // kLoaded: exactly the part's size
    std::string problem;  // kRefused: why, naming the file
};

// Looks for the image `name` (one file name, at the top of the board folder beside its volumes)
// of a part of `size` bytes, described as `part` ("the EEPROM on bus 0 at 0x50") in messages.
// An image of another size, larger than kMaxBoardImage, or that is a symbolic link or no regular
// file is refused whole and left as it is; the caller reports the refusal or answers it.
BoardImage loadBoardImage(const std::string& name, size_t size, const std::string& part);

// What a part calls with its whole contents after each write cycle: keeps them as the image
// `name` in `folder`, written whole to a temporary file renamed into place, so that a process
// killed at any moment leaves the old image or the new one. A failure is reported once per
// keeper, and the part works on.
using ImageKeeper = std::function<void(const Bytes&)>;
ImageKeeper keepBoardImage(const std::string& folder, const std::string& name);

// Records a problem of the board folder (see storageProblems) and says it on stderr.
void reportBoardProblem(const std::string& problem);

// Restarts the board from inside a request on one of its opens, `instance` of `driver`. Every
// other open is closed as a reset closes it, waiting for its calls in flight; the calling open
// is released without that wait, since the call in flight on it is this one.
void restartBoard(const StreamDriver* driver, uint64_t instance);

// What happens on the board, for watchers outside the application (os/live.h). A model asks
// liveWatched first, so that it builds no event nobody takes, and may publish with its own lock
// held: publishing never waits for a watcher and never calls back into a model.
bool liveWatched(LiveKind kind);
// Stamps the event on the board's clock and queues it for every watcher of its kind.
void publishLive(const LiveEvent& event);
// A line of text as an event of `kind` (trace, debug, a bus's requests): its "line", and its
// "device" when it has one, which is also the event's port.
void publishLiveLine(LiveKind kind, const std::string& device, std::string line);

}  // namespace vboard

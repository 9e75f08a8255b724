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
    explicit Host(Board& board) : board_(board) {}

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
    // The board's clock, for a model that stamps what it records over time.
    const BoardClock& clock() const;

    // ---- In a power-on step ----

    // Puts a driver on the board under a device name, replacing any there.
    void addDriver(const std::string& device, std::shared_ptr<StreamDriver> driver);

    // ---- For the configuration language (control/), once ----

    // Runs once the board is built, before its first use: the environment's configuration.
    void atStart(std::function<void()> start);
    // Runs after every reset from the control API, once the power-on steps have run (a restart
    // by a driver does not run it): the configuration the board started with, again.
    void afterReset(std::function<void()> step);

private:
    Board& board_;
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

// Restarts the board from inside a request on one of its opens, `instance` of `driver`. Every
// other open is closed as a reset closes it, waiting for its calls in flight; the calling open
// is released without that wait, since the call in flight on it is this one.
void restartBoard(const StreamDriver* driver, uint64_t instance);

// What happens on the board, for watchers outside the application (os/live.h). A model asks
// liveWatched first, so that it builds no event nobody takes, and may publish with its own lock
// held: publishing never waits for a watcher and never calls back into a model.
bool liveWatched(LiveKind kind);
// Stamps the event on the board's clock and queues it for every watcher of its kind.
void publishLive(LiveEvent event);

}  // namespace vboard

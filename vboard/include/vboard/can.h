// The virtual CAN controller behind "CAN1:" and the bus it sits on.
//
// Bus side (what the library sends): the nine controller requests, 0x2A3B84 to 0x2A3BAC. Control
// side (this header): the other nodes of the bus (inject frames, see what the board sent), the
// controller's clock, and a log of the bus in candump's format.
//
// The controller, as the model plays it:
// - Bit timing: get timing reports the base clock (30 MHz at power-on), the prescaler and the
//   segments; set timing takes prescaler 1..256, propseg 1..8, phase1seg 1..8, phase2seg 2..8
//   and keeps its own base clock whatever the record says.
// - TLPRIO and loopback are modes the controller keeps. In loopback a transmitted frame also
//   comes back into the controller's own receive queue, when the filters accept it.
// - Filters: each one added answers a non-zero handle that is never reused; the remove request
//   takes it back, and closing the open that added it releases it too. A frame is accepted when
//   no filter is installed, or when (identifier & filterMask) == (filterId & filterMask) for one
//   installed filter whose filterSet is non-zero.
// - Transfers: the message record's transmitFlag 1 sends, 0 receives. The request succeeds when
//   the record could be read; the message's own outcome goes into its status word (CanStatus).
//   A send puts the frame on the bus. A receive takes the oldest accepted frame into the record
//   (messageId, extendedId, frameFlag = remote frame, dataLength) and its data buffer, waiting
//   at most the receive wait (0 at power-on) for one to arrive; a handle closed meanwhile makes
//   the request fail with ERROR_INVALID_HANDLE.
//
// Device models: a node of your own that answers the board is a stream driver put in front of
// "CAN1:" with vboard::addDriver that forwards to the board's controller (vboard::driver("CAN1:")).
// As every device model may, it may use the control API (this header's, vboard.h's, any family's)
// from inside a call, to inject its answer to the frame just sent; only vboard::reset() is out
// of bounds there, as it waits for the calls in flight to end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tarvik_platform.h"

namespace vboard {

// What the controller writes into a message's status word.
enum CanStatus : uint32_t {
    kCanStatusOk = 0,
    // A receive found no frame waiting (within the receive wait).
    kCanStatusNoMessage = 1,
    // A send whose frame the controller can't put on the bus: an identifier beyond its format
    // (0x7FF, or 0x1FFFFFFF for extended), more than 8 data bytes, or data bytes without a buffer.
    kCanStatusBadFrame = 2,
    // A receive whose buffer (dataLength bytes) is smaller than the waiting frame's data. The
    // frame stays queued, and the record's dataLength says how many bytes it needs.
    kCanStatusBufferTooSmall = 3,
};

constexpr uint32_t kCanPowerOnBaseClock = 30000000;
// The controller's receive queue; a frame arriving when it is full is dropped and counted.
constexpr size_t kCanReceiveQueueDepth = 256;
constexpr size_t kCanMaxFilters = 16;
// The longest receive wait the board accepts: a receive never blocks for ever.
constexpr DWORD kCanMaxReceiveWait = 60000;

// One classic CAN frame.
struct CanFrame {
    uint32_t id = 0;
    bool extended = false;  // 29-bit identifier
    bool remote = false;    // a remote frame carries no data, only its length
    uint8_t remoteLength = 0;
    std::vector<uint8_t> data;
    bool operator==(const CanFrame& other) const {
        return id == other.id && extended == other.extended && remote == other.remote &&
               (remote ? remoteLength == other.remoteLength : data == other.data);
    }
};

// A frame in cansend's syntax: "123#DEADBEEF" (3 hex digits: an 11-bit identifier),
// "1ABCDEF0#01" (8 hex digits: a 29-bit one), "123#R" or "123#R4" (a remote frame); data bytes
// may be separated by dots. Nullopt when the text is no such frame.
std::optional<CanFrame> parseCanFrame(const std::string& text);
// The frame as candump writes it ("123#DEADBEEF", "1ABCDEF0#01", "123#R4").
std::string formatCanFrame(const CanFrame& frame);

struct CanBusFrame {
    CanFrame frame;
    bool fromBoard = false;  // sent by the board's controller, else by another node
    bool received = false;   // accepted into the board's receive queue
};

struct CanTiming {
    uint32_t baseclock = kCanPowerOnBaseClock;
    uint16_t prescaler = 15;  // 250 kbit/s at power-on
    uint8_t propseg = 2;
    uint8_t phase1seg = 3;
    uint8_t phase2seg = 2;
    uint8_t auxTiming = 0;
    // Bits per second, or 0 when the prescaler is 0.
    uint32_t bitrate() const;
};

struct CanFilter {
    uint32_t handle = 0;
    uint32_t filterId = 0;
    uint32_t filterMask = 0;
    uint32_t filterFlag = 0;
    uint32_t filterSet = 0;
    uint32_t filterOption = 0;
};

class CanControl {
public:
    virtual ~CanControl() = default;
    // Another node sends a frame: it goes on the bus and, when the filters accept it, into the
    // receive queue. True when it was queued.
    virtual bool inject(const CanFrame& frame) = 0;
    // Every frame on the bus since the last reset, oldest first (the most recent 65,536).
    virtual std::vector<CanBusFrame> traffic() const = 0;
    // The frames the board's controller sent, oldest first.
    virtual std::vector<CanFrame> sent() const = 0;
    // Frames waiting in the receive queue, and frames dropped because it was full.
    virtual size_t pending() const = 0;
    virtual uint64_t overruns() const = 0;
    // Receives waiting for a frame right now.
    virtual size_t waitingReceives() const = 0;

    virtual CanTiming timing() const = 0;
    // The controller's clock as get timing reports it (the segments stay).
    virtual void setBaseClock(uint32_t baseclock) = 0;
    // The timing as the driver holds it, for a test that wants the driver to report other values.
    virtual void setTiming(const CanTiming& timing) = 0;
    virtual bool tlprio() const = 0;
    virtual bool loopback() const = 0;
    virtual std::vector<CanFilter> filters() const = 0;

    // How long a receive waits for a frame, in milliseconds (at most kCanMaxReceiveWait).
    virtual void setReceiveWait(DWORD milliseconds) = 0;
    // Logs every frame on the bus to a file, appended, in candump's log format
    // ("(1733650252.249713) can1 123#DEADBEEF"), which canplayer and log2asc read. The time is the
    // board's (see setSystemTime). "" stops. False, with errno set, when the file can't be opened.
    virtual bool logTo(const std::string& path) = 0;
    // The controller's power-on state: the timing, modes, filters and receive queue, the wait;
    // the traffic seen is forgotten and the log stopped.
    virtual void reset() = 0;
};

// The board's CAN controller (the model behind "CAN1:", also while the device is removed).
CanControl& can();

// One CAN bus between processes. joinCanBus("plant") (the directive `can bus plant`) joins the
// board's controller to the bus of that name shared by the user's processes: every frame one
// member's controller sends (and every frame injected into one) reaches each other member's
// controller as a frame from the bus, through that controller's filters, stamped on its board's
// clock as it arrives; the sender's own controller hears it only in loopback, as on a bus of its
// own. A name is 1 to 32 letters, digits, '-', '_' or '.', not starting with '.'. Joining another
// bus leaves the one joined; "" or "off" leaves it. No daemon: the first member makes the bus
// (the folder `$XDG_RUNTIME_DIR/tarvik/can/<name>/`, or `/tmp/tarvik-<uid>/can/<name>/` without
// that variable, closed to other users), and the last member to leave, or to end normally,
// removes it; what a killed member leaves is removed by the next member that meets it. The bus is
// wiring: the module's own reset and `can reset` keep it; reset() leaves it, and the board is on
// the bus its configuration joins again. Answers "" once joined, else why not.
std::string joinCanBus(const std::string& name);
// The bus joined, "" for none.
std::string canBus();

}  // namespace vboard

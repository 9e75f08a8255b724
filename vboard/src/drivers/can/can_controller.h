// The board's CAN controller stream driver, "CAN1:", as a model: a FlexCAN-like controller with
// its bit timing, TLPRIO and loopback modes, receive filters and receive queue, on a virtual bus
// whose other nodes the control side plays.
//
// The driver reads its requests as records in the caller's buffers. A transfer's record carries
// pointers (the message, its data, its status word), which the driver follows into the caller's
// memory; the records below are the driver's own view of them, laid out as the compiler lays out
// the driver's structs (40 bytes on the 32-bit module, wider on a 64-bit host).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "drivers/can/can_bus.h"
#include "os/host.h"
#include "vboard/can.h"
#include "vboard/vboard.h"

namespace vboard {

constexpr DWORD kCanTransfer = 0x2A3B84;
constexpr DWORD kCanTlprioOn = 0x2A3B8C;
constexpr DWORD kCanTlprioOff = 0x2A3B90;
constexpr DWORD kCanLoopbackOn = 0x2A3B98;
constexpr DWORD kCanLoopbackOff = 0x2A3B9C;
constexpr DWORD kCanSetTiming = 0x2A3BA0;
constexpr DWORD kCanGetTiming = 0x2A3BA4;
constexpr DWORD kCanAddFilter = 0x2A3BA8;
constexpr DWORD kCanRemoveFilter = 0x2A3BAC;

constexpr const char* kCanDevice = "CAN1:";

struct CanTimingRecord {
    uint32_t baseclock;
    uint16_t prescaler;
    uint8_t propseg;
    uint8_t phase1seg;
    uint8_t phase2seg;
    uint8_t auxTiming;
    uint8_t reserved[2];
};

struct CanMessageRecord {
    uint8_t receiveFlag;
    uint8_t reserved1[3];
    uint32_t extendedId;
    uint32_t frameFlag;  // the model's reading: 1 for a remote frame
    uint16_t auxWord;
    uint8_t auxByte;
    uint8_t reserved2;
    uint32_t messageId;
    uint8_t* data;
    uint16_t dataLength;
    uint8_t reserved3[2];
    uint32_t* status;
    uint32_t auxValue;
    uint32_t transmitFlag;
};

struct CanTransferRequest {
    CanMessageRecord* message;
    uint32_t count;
};

struct CanFilterRecord {
    uint32_t reserved0;
    uint32_t reserved1;
    uint32_t filterId;
    uint32_t filterMask;
    uint32_t reserved4;
    uint32_t filterFlag;
    uint32_t filterSet;
    uint32_t filterOption;
};

class CanController : public StreamDriver, public CanControl {
public:    CanController() = default;
    // A controller that goes away leaves its bus first.
    ~CanController() override;

    DWORD ioControl(IoRequest& request) override;
    // Wakes a receive waiting on this open; it fails.
    void preClose(uint64_t instance) override;
    // An open that goes away takes the filters it added with it.
    void close(uint64_t instance) override;
    std::optional<std::string> decode(const TraceEntry& entry) const override;

    bool inject(const CanFrame& frame) override;
    std::vector<CanBusFrame> traffic() const override;
    std::vector<CanFrame> sent() const override;
    size_t pending() const override;
    uint64_t overruns() const override;
    size_t waitingReceives() const override;
    CanTiming timing() const override;
    void setBaseClock(uint32_t baseclock) override;
    void setTiming(const CanTiming& timing) override;
    bool tlprio() const override;
    bool loopback() const override;
    std::vector<CanFilter> filters() const override;
    void setReceiveWait(DWORD milliseconds) override;
    bool logTo(const std::string& path) override;
    void reset() override;
    // The board's power-on: the reset state, and filter handles counted from 1 again.
    void powerOn();
    // Joins the CAN bus of that name shared by the user's processes, leaving the one joined
    // before ("" when joined, else why not). The bus is wiring: `can reset` and the module's own
    // reset keep it.
    std::string joinBus(const std::string& name);
    void leaveBus();
    // The bus joined, "" for none.
    std::string bus() const;

private:
    DWORD getTiming(IoRequest& request);
    DWORD setTimingRequest(const IoRequest& request);
    DWORD addFilter(IoRequest& request);
    DWORD removeFilter(const IoRequest& request);
    DWORD transfer(IoRequest& request);
    DWORD send(CanMessageRecord& record, IoRequest& request);
    // `record` is the driver's copy of the caller's record at `target`, where the frame's
    // fields are written back.
    DWORD receive(const CanMessageRecord& record, CanMessageRecord* target, IoRequest& request);

    // Puts a frame on the bus at the bus time `stamp` (with the lock held): the traffic, the log,
    // and the receive queue when `toQueue` and the filters accept it. True when it was queued.
    bool putOnBusLocked(const CanFrame& frame, const std::string& stamp, bool fromBoard,
                        bool toQueue);
    bool acceptsLocked(const CanFrame& frame) const;

    mutable std::mutex lock_;
    std::condition_variable arrived_;
    CanTiming timing_;
    bool tlprio_ = false;
    bool loopback_ = false;
    std::vector<std::pair<uint64_t, CanFilter>> filters_;  // with the open that added each
    uint32_t nextFilterHandle_ = 1;
    std::deque<CanFrame> queue_;
    uint64_t overruns_ = 0;
    DWORD receiveWait_ = 0;
    size_t waiting_ = 0;
    std::set<uint64_t> closing_;  // opens whose handle is being closed
    Window<CanBusFrame> traffic_;
    std::FILE* log_ = nullptr;

    // A frame from another member of the bus, as it arrives.
    void arrive(const CanFrame& frame);
    // The bus joined, if any: taken under busLock_, used without it.
    std::shared_ptr<CanBusLink> link() const;
    mutable std::mutex busLock_;
    std::shared_ptr<CanBusLink> link_;
};

// Renders a CAN request for the trace, or declines a call that is not one.
std::optional<std::string> decodeCanRequest(const TraceEntry& entry);

// The "can" directive, on the controller it was installed with.
std::string canDirective(CanController& can, const std::vector<std::string>& words);

// Puts the controller on a board under construction, with its power-on step and the "can"
// directive.
void installCan(Host& host);

}  // namespace vboard

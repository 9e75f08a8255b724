// The board's two UARTs behind "COM1:" and "COM2:", as stream driver models, and the wiring
// between them and the host. Both ports share one lock: a byte sent on one port lands in the
// other's queue under it, and every blocked call waits on its port's condition.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "os/host.h"
#include "vboard/uart.h"
#include "vboard/vboard.h"

namespace vboard {

class PtyLink;

constexpr int kSerialPorts = 2;
constexpr const char* kSerialDevices[kSerialPorts] = {"COM1:", "COM2:"};
// A CE serial driver's receive buffer: what arrives beyond it while nobody reads is lost.
constexpr size_t kSerialQueueLimit = 65536;

class SerialPorts : public SerialControl {
public:
    SerialPorts();
    ~SerialPorts() override;

    // Stream driver entry points of port `index`.
    DWORD open(int index, uint64_t instance, const OpenParams& params);
    void preClose(int index, uint64_t instance);
    void close(int index, uint64_t instance);
    DWORD ioControl(int index, IoRequest& request);
    DWORD read(int index, uint64_t instance, uint8_t* buffer, DWORD size, DWORD& transferred);
    DWORD write(int index, uint64_t instance, const uint8_t* buffer, DWORD size,
                DWORD& transferred);

    // Power-on: settings, queues and records cleared, COM1 and COM2 joined by the cable.
    void powerOn();

    std::string loopback(const std::string& port) override;
    std::string nullModem(const std::string& port, const std::string& peer) override;
    std::string pty(const std::string& port) override;
    std::string unplug(const std::string& port) override;
    std::string ptyPath(const std::string& port) const override;
    bool receive(const std::string& port, const std::vector<uint8_t>& bytes) override;
    bool type(const std::string& port, const std::vector<uint8_t>& bytes) override;
    std::vector<uint8_t> transmitted(const std::string& port) const override;
    std::optional<SerialPortState> state(const std::string& port) const override;
    bool awaitBlocked(const std::string& port, unsigned milliseconds) const override;

    // "COM1", "com1:" -> 0; -1 for no port of the board.
    static int portIndex(const std::string& name);

private:
    // One CreateFileW on a port.
    struct Open {
        bool owner = false;     // opened for reading and writing
        DWORD mask = 0;
        DWORD events = 0;       // events of the mask seen since SetCommMask, not yet reported
        uint64_t maskChanges = 0;
        bool closing = false;   // preClose has run: blocked calls must fail
    };
    struct Port {
        std::string name;
        DCB dcb{};
        COMMTIMEOUTS timeouts{};
        std::deque<uint8_t> queue;
        std::deque<uint8_t> typed;  // the far end's bytes not delivered yet (type())
        uint64_t overruns = 0;
        uint64_t received = 0;
        std::map<uint64_t, Open> opens;
        uint64_t readAborts = 0;
        unsigned blocked = 0;
        unsigned receiving = 0;  // of those, calls waiting for received bytes
        Window<uint8_t> sent;
        SerialWiring wiring = SerialWiring::Unplugged;
        int peer = -1;
        std::shared_ptr<PtyLink> pty;
        // Signalled on everything a blocked call waits for.
        mutable std::condition_variable changed;
    };
    using Clock = std::chrono::steady_clock;

    // The open that may move data on the port, or null with the error to refuse the call with.
    Open* ownerLocked(Port& port, uint64_t instance, DWORD& refusal);
    DWORD waitOnMask(Port& port, Open& open, IoRequest& request, std::unique_lock<std::mutex>& hold);
    DWORD setState(Port& port, const IoRequest& request);
    // Puts bytes in a port's receive queue and raises EV_RXCHAR (EV_ERR for what does not fit).
    void deliverLocked(Port& port, const uint8_t* bytes, size_t size);
    void raiseLocked(Port& port, DWORD events);
    // A call is about to wait for received bytes: the far end types its next byte, if it has
    // one and the receive queue is empty.
    void offerTypedLocked(Port& port);
    // Tells the board's watchers of bytes the port sent or received.
    static void publishBytes(const Port& port, const char* direction, const uint8_t* bytes, size_t size);
    // Blocks on the port until `ready`, `deadline` (if any) or a close of the open.
    template <class Ready>
    void blockLocked(Port& port, Open& open, std::unique_lock<std::mutex>& hold,
                     const Clock::time_point* deadline, Ready ready);
    // Takes a port out of whatever it was wired to; the pty it had, to be closed unlocked.
    std::shared_ptr<PtyLink> detachLocked(int index);
    // Loopback or unplugged: wirings that involve no other port or terminal.
    std::string wireAlone(const std::string& name, SerialWiring wiring);
    void resetPortLocked(Port& port);
    // Delivers bytes from a host pseudo-terminal, if the port is still wired to it.
    void fromPty(int index, const PtyLink* link, const uint8_t* bytes, size_t size);

    mutable std::mutex lock_;
    mutable std::condition_variable blockedChanged_;
    Port ports_[kSerialPorts];
    // A port's terminal as the last power-on left it: a configuration that wires the port to a
    // pty again gets the same path, so host programs stay connected across resets.
    std::shared_ptr<PtyLink> parked_[kSerialPorts];
};

// One port's stream driver: hands every entry point to the ports' shared model.
class SerialPortDriver : public StreamDriver {
public:
    SerialPortDriver(std::shared_ptr<SerialPorts> ports, int index)
        : ports_(std::move(ports)), index_(index) {}
    DWORD open(uint64_t instance, const OpenParams& params) override {
        return ports_->open(index_, instance, params);
    }
    void preClose(uint64_t instance) override { ports_->preClose(index_, instance); }
    void close(uint64_t instance) override { ports_->close(index_, instance); }
    DWORD ioControl(IoRequest& request) override { return ports_->ioControl(index_, request); }
    DWORD read(uint64_t instance, uint8_t* buffer, DWORD size, DWORD& transferred) override {
        return ports_->read(index_, instance, buffer, size, transferred);
    }
    DWORD write(uint64_t instance, const uint8_t* buffer, DWORD size, DWORD& transferred) override {
        return ports_->write(index_, instance, buffer, size, transferred);
    }
    std::optional<std::string> decode(const TraceEntry& entry) const override;

private:
    std::shared_ptr<SerialPorts> ports_;
    int index_;
};

// Renders a serial call for the trace ("SetCommState 115200 8N1 rts=handshake"), or declines.
std::optional<std::string> decodeSerialCall(const TraceEntry& entry);
// "115200 8N1 cts dsr dtr=handshake rts=handshake"
std::string describeDcb(const DCB& dcb);

// The requests of the CE serial driver, by the names the trace gives them.
const std::vector<RequestName>& serialRequestNames();

// The "serial" directive, on the ports it was installed with.
std::string serialDirective(SerialControl& ports, const std::vector<std::string>& words);

// Puts the two ports on a board under construction, with their power-on step, the "serial"
// directive and their requests' names.
void installUart(Host& host);

}  // namespace vboard

// The virtual serial ports "COM1:" and "COM2:": the board's two UARTs behind the CE serial calls.
//
// Bus side (what the library uses): GetCommState/SetCommState, Get/SetCommTimeouts, PurgeComm,
// SetCommMask/WaitCommEvent, ReadFile and WriteFile on a handle of the port. Each port keeps its
// DCB and COMMTIMEOUTS, a receive queue, and per open an event mask and the events latched since
// SetCommMask. EV_RXCHAR is raised when bytes arrive, EV_TXEMPTY after every WriteFile (a write of
// nothing included), EV_ERR when the receive queue overflows. Only one open at a time may read
// and write a port, as on the device.
//
// Wiring (this header, or the `serial` directive of a configuration file):
//   serial COM1 null-modem COM2   the power-on wiring: what one port sends, the other receives
//   serial COM1 loopback          the port receives what it sends
//   serial COM2 pty               a pseudo-terminal on the host: its path is printed on stderr and
//                                 answered by ptyPath(); any serial program can open it
//   serial COM2 unplugged         what the port sends goes nowhere
// Whatever the wiring, receive() puts bytes on a port's line from outside and transmitted() shows
// what it sent.
//
// Device models: a device of your own on a port's line (a modem that answers commands) is a
// stream driver put in front of "COM1:" or "COM2:" with vboard::addDriver that forwards to the
// board's port (vboard::driver("COM1:")). As every device model may, it may use the control API
// (this header's, vboard.h's, any family's) from inside a call, to answer what the port just
// sent; only vboard::reset() is out of bounds there, as it waits for the calls in flight to end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tarvik_platform.h"

namespace vboard {

enum class SerialWiring { Unplugged, Loopback, NullModem, Pty };

struct SerialPortState {
    SerialWiring wiring = SerialWiring::Unplugged;
    std::string peer;     // the other end of a null-modem cable ("COM2:")
    std::string ptyPath;  // the pseudo-terminal of a pty wiring
    bool open = false;    // an open that may read and write exists
    DCB dcb{};
    COMMTIMEOUTS timeouts{};
    DWORD mask = 0;        // the event mask of that open
    size_t queued = 0;     // bytes in the receive queue
    uint64_t overruns = 0; // bytes lost to a full receive queue
    uint64_t received = 0; // bytes that arrived on the receive line since power-on, kept or not
    unsigned blocked = 0;  // calls blocked in WaitCommEvent or ReadFile
    size_t typing = 0;     // bytes of type() not delivered yet
};

class SerialControl {
public:
    virtual ~SerialControl() = default;
    // Each answers "" when done, or the problem ("no serial port 'COM3'").
    virtual std::string loopback(const std::string& port) = 0;
    virtual std::string nullModem(const std::string& port, const std::string& peer) = 0;
    virtual std::string pty(const std::string& port) = 0;
    virtual std::string unplug(const std::string& port) = 0;
    // The port's pseudo-terminal, or "" when it is not wired to one.
    virtual std::string ptyPath(const std::string& port) const = 0;
    // Bytes arriving on the port's receive line; false when there is no such port.
    virtual bool receive(const std::string& port, const std::vector<uint8_t>& bytes) = 0;
    // The far end of the line types bytes, as a person at a terminal does: each one arrives when
    // a call waits on the port's receive side (ReadFile, or WaitCommEvent for EV_RXCHAR) and the
    // receive queue is empty, so that a program that clears its queue before each wait and reads
    // a byte at a time loses none (receive() puts them all on the line at once). Bytes wait until
    // then, up to 65,536; more are lost and counted as overruns. False when there is no such port.
    virtual bool type(const std::string& port, const std::vector<uint8_t>& bytes) = 0;
    // The most recent bytes the port sent (up to 65,536), oldest first.
    virtual std::vector<uint8_t> transmitted(const std::string& port) const = 0;
    virtual std::optional<SerialPortState> state(const std::string& port) const = 0;
    // Waits up to `milliseconds` until a call is blocked on the port; true when one is.
    virtual bool awaitBlocked(const std::string& port, unsigned milliseconds) const = 0;
};

// The board's serial ports (also while a port is taken off the board).
SerialControl& serial();

}  // namespace vboard

// The virtual board's control API: what tests, tools and applications' own tests use to set up
// the board, drive it, arm faults and read back what the library did. The library itself never
// sees this header; it talks to the board only through the platform calls (CreateFileW,
// DeviceIoControl, the registry ...), which the virtual board defines.
//
// The board is one per process, built on first use from its defaults and the environment:
//   VBOARD_DEBUG=stdout|stderr|<file>   echo the kernel debug output
//   VBOARD_TRACE=stdout|stderr|<file>   echo the trace, one line per platform call
//   VBOARD_RECORD=off|last <n>|all      what the board keeps for reading back (see setRecording)
//   VBOARD_CONFIG=<file>                apply a board configuration file (see loadConfig)
//   VBOARD_STRICT=1                     end the process at start on any configuration problem
//   VBOARD_DIR=<folder>                 keep storage and registry hives there (see system.h)
//   VBOARD_LISTEN=<path>|auto           serve the live board's protocol on a socket (see listen)
//   VBOARD_LISTEN_HOLD=1                with VBOARD_LISTEN: main waits (60 s at most) for a client's hello
// With VBOARD_STRICT, VBOARD_CONFIG or VBOARD_LISTEN set, "first use" is the library's load,
// before main: a strict board with a configuration problem ends the process before the program
// does anything, and a listening board's socket is there before the program waits for anybody.
// reset() puts it back to that state, so a test suite can run every test in one process.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tarvik_platform.h"

namespace vboard {

using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------------------------------------
// Stream drivers: the side the library talks to.

// What CreateFileW was given for one open of a stream driver.
struct OpenParams {
    std::string device;  // "GIO1:"
    DWORD access = 0;
    DWORD share = 0;
    DWORD creation = 0;
    DWORD flags = 0;
};

// One DeviceIoControl as a driver sees it. `in` is writable because some drivers answer in the
// input record, as the board's GPIO driver does for a pin read.
struct IoRequest {
    uint64_t instance = 0;  // which open of the driver, as given to open()
    DWORD code = 0;
    uint8_t* in = nullptr;
    DWORD inSize = 0;
    uint8_t* out = nullptr;
    DWORD outSize = 0;
    DWORD bytesReturned = 0;  // written back when the caller passed a pointer for it
    // Whether the call's trace entry will be read. Only then does a driver fill `detail`.
    bool traced = false;
    // What the driver read through pointers in the records (an I2C packet's data), in a layout
    // of its own, for its decoder: by the time the trace is read, those pointers are gone.
    Bytes detail;
    // Notes a description instead, for a decoder that renders nothing more (an SPI exchange).
    void note(const std::string& text) { detail.assign(text.begin(), text.end()); }
};

struct TraceEntry;

// A stream driver model, shaped like a CE stream driver (XXX_Open, XXX_PreClose, XXX_Close,
// XXX_IOControl, XXX_Read, XXX_Write). Every CreateFileW on the device name gets an open
// context of its own (`instance`), and each one is closed exactly once: what a caller registered
// through an open (an interrupt event, a receive filter) belongs to that open and is released by
// close(). Models lock their own state. The board holds none of its locks while a model runs,
// so a model may use the control API from inside a call, as every device model may; only
// reset() is out of bounds there, as it waits for the calls in flight to end. An exception a
// model throws goes no further than the platform call it is in, which fails as the system fails
// it (ERROR_NOT_ENOUGH_MEMORY for std::bad_alloc, ERROR_GEN_FAILURE for anything else), with a
// line on stderr naming the call and the exception.
//
// A call may block inside a model (a serial wait, a read with no data yet). When the handle is
// closed from another thread the board first calls preClose(), which must wake every call blocked
// on that open so that it returns a failure; close() follows once every call on the open has
// returned, as the CE device manager does.
class StreamDriver {
public:
    virtual ~StreamDriver() = default;
    // ERROR_SUCCESS to accept the open, or the error CreateFileW fails with.
    virtual DWORD open(uint64_t instance, const OpenParams& params);
    // Wakes calls blocked on this open; they should fail (ERROR_INVALID_HANDLE is usual).
    virtual void preClose(uint64_t instance);
    // Releases what was registered through this open. No call on it is running any more.
    virtual void close(uint64_t instance);
    // ERROR_SUCCESS when the request is accepted, or the error the caller's GetLastError sees.
    virtual DWORD ioControl(IoRequest& request) = 0;
    // ReadFile and WriteFile on a handle of this device. `transferred` is what the caller's count
    // receives. The defaults refuse with ERROR_INVALID_FUNCTION, as a driver without them does.
    virtual DWORD read(uint64_t instance, uint8_t* buffer, DWORD size, DWORD& transferred);
    virtual DWORD write(uint64_t instance, const uint8_t* buffer, DWORD size, DWORD& transferred);
    // Names a call on this device for the trace ("SET_PIN bank 0 pin 2 level 1"), or declines
    // with nullopt to have it shown raw. Asked for DeviceIoControl and for every other call made
    // on a handle of this device; runs when the trace is read or echoed, never under the board's
    // lock, so it may use the control API.
    virtual std::optional<std::string> decode(const TraceEntry& entry) const;
};

// Puts a driver model behind a device name, replacing any model that was there. A model added
// here stays until the board is reset (or removeDriver); the board's own models come back at reset.
void addDriver(const std::string& device, std::shared_ptr<StreamDriver> driver);
// Takes a device off the board ("the board has no GIO1:"): later opens fail with
// ERROR_FILE_NOT_FOUND; handles already open keep working.
void removeDriver(const std::string& device);
std::shared_ptr<StreamDriver> driver(const std::string& device);
std::vector<std::string> devices();

// Every CreateFileW on a driver, in order, with what it was given and whether it opened.
struct OpenRecord {
    OpenParams params;
    bool securityGiven = false;
    bool templateGiven = false;
    HANDLE result = nullptr;
};
std::vector<OpenRecord> opens();

// ---------------------------------------------------------------------------------------------
// The board as a whole.

// Back to the power-on state: every family's models, the registry, the records and their counts,
// faults, time, pauses and recording, then the configuration file of VBOARD_CONFIG again. Handles
// still open are closed (their drivers see the close), so a later use of one is a misuse. Echo
// targets are kept. Call it between tests; the fixture in vboard/gtest.h does.
void reset();

// ---------------------------------------------------------------------------------------------
// What the board records: the trace, the debug lines, the opens, the pauses and the misuses.
// Each is a window of the most recent entries; the counts are exact whatever is kept, so a soak
// test of millions of calls runs in bounded memory and can still tell what happened.

enum class RecordMode {
    Off,   // counts only; nothing is rendered, copied or formatted that nobody would read
    Last,  // the most recent `limit` entries of each kind (the default, 65,536)
    All,   // everything, for short tests that want the whole history
};
struct Recording {
    RecordMode mode = RecordMode::Last;
    size_t limit = 65536;
};
constexpr size_t kDefaultRecordLimit = 65536;
void setRecording(const Recording& recording);
Recording recording();

// How many entries of one kind were recorded since the last reset or clear, and how many of
// those fell out of the window. The window holds recorded - dropped entries, the newest ones.
struct Tally {
    uint64_t recorded = 0;
    uint64_t dropped = 0;
    uint64_t kept() const { return recorded - dropped; }
    bool whole() const { return dropped == 0; }
};
Tally traceTally();
Tally debugTally();
Tally opensTally();
Tally sleepsTally();
// Misuses are counted and kept (the most recent `limit`) whatever the recording mode.
Tally misuseTally();

// ---------------------------------------------------------------------------------------------
// Kernel objects and handles.

struct HandleInfo {
    HANDLE value = nullptr;
    std::string kind;  // "driver", "event", "key", "find"
    std::string name;  // device name, event name, key path
};
// Handles handed out and not yet closed.
std::vector<HandleInfo> openHandles();
// Driver handles still open on one device ("" = any device).
size_t openDriverHandles(const std::string& device = "");

// Calls on a closed handle or on one never handed out, and every close of such a handle or of
// 0 or INVALID_HANDLE_VALUE; SPI exchanges from two threads in flight at once on the completion
// event both ports share (see spi.h): each is a fault in the caller. Tests assert there are none.
std::vector<std::string> misuses();
// Forgets the misuses: for a test that makes them on purpose and has checked them.
void clearMisuses();
// Calls made on INVALID_HANDLE_VALUE (other than closing it): a failed open followed by a request
// is legitimate, so these are only counted.
size_t invalidHandleCalls();

// How the trace names a handle: "h3" for the third handle handed out since the board was last
// reset, "INVALID_HANDLE_VALUE", "null", "stale h12" for one handed out before the last reset,
// or the raw value for one the board never handed out. Values are never reused in a process.
std::string handleLabel(HANDLE handle);

// Sets or reads an event as a driver would, without a platform call in the trace.
bool signalEvent(HANDLE event);
std::optional<bool> eventSignaled(HANDLE event);
// The threads blocked in WaitForSingleObject on an event right now (nullopt: no such event),
// and a wait of up to `milliseconds` until at least `count` of them are: a test that pulses an
// event, or checks who a set releases, first waits until its threads really are waiting.
std::optional<size_t> eventWaiters(HANDLE event);
bool awaitEventWaiters(HANDLE event, size_t count, unsigned milliseconds);

// ---------------------------------------------------------------------------------------------
// Kernel debug output: one entry per NKDbgPrintfW call, UTF-8, byte for byte ("\r\n" included).

// The kept window, oldest first.
std::vector<std::string> debugLines();
std::string debugText();
void clearDebug();
// "" switches the echo off; "stdout", "stderr" or a file name (appended to). The echo carries
// every line, whatever the recording keeps. False, with errno set, when the target can't be opened.
bool echoDebugTo(const std::string& target);

// ---------------------------------------------------------------------------------------------
// Trace: every platform call, in order.

struct TraceEntry {
    uint64_t seq = 0;      // 1 for the first call after a reset or clearTrace
    std::string function;  // "DeviceIoControl"
    std::string device;    // device, event or key name the call concerns; "" when unknown
    HANDLE handle = nullptr;
    DWORD code = 0;        // the request code, for DeviceIoControl and KernelIoControl
    Bytes in;              // input buffer as sent
    Bytes inAfter;         // input buffer after the call (drivers that answer in it)
    Bytes out;             // output buffer after the call
    std::string args;      // the other arguments, rendered
    std::string outcome;   // what a successful call answered, rendered ("h3", "WAIT_TIMEOUT")
    bool ok = true;
    DWORD error = 0;       // the error the call failed with
    int64_t result = 0;
    bool injected = false; // failed by an armed fault
    Bytes detail;          // DeviceIoControl: what the driver noted in IoRequest::detail
    std::string detailText() const { return std::string(detail.begin(), detail.end()); }
    // The model the call's handle was opened on; it decodes the call for the trace.
    std::shared_ptr<const StreamDriver> driver;
};

// The kept window, oldest first.
std::vector<TraceEntry> trace();
// The trace as readable lines, e.g. "GIO1: SET_PIN bank 0 pin 2 level 1 -> ok".
std::vector<std::string> traceLines();
// Only the lines of calls that concern drivers (DeviceIoControl, CreateFileW, CloseHandle).
std::vector<std::string> driverTraceLines();
std::string renderTrace(const TraceEntry& entry);
void clearTrace();
bool echoTraceTo(const std::string& target);
// Echoes only the calls that concern drivers (those driverTraceLines() keeps), for a person
// watching the requests among the debug lines. echoTraceTo() goes back to every call.
bool echoDriverTraceTo(const std::string& target);

// ---------------------------------------------------------------------------------------------
// Faults: make platform calls fail, in front of the models.

struct Fault {
    std::string function;       // "DeviceIoControl", "CreateFileW", "EventModify" ...; "" = any
    std::string device;         // device, event or key name; "" = any
    std::optional<DWORD> code;  // request code; unset = any
    unsigned occurrence = 0;    // fail only the Nth matching call (1 = the first); 0 = every one
    DWORD error = ERROR_GEN_FAILURE;
};
// Arms a fault as given, unchecked (the `fault` directive and vboard_arm_fault check the names);
// answers its id.
int armFault(const Fault& fault);
// False when no fault with that id is armed (a one-shot fault that fired is gone).
bool disarmFault(int id);
void clearFaults();
// The platform calls the board implements, by name: what a fault can name.
const std::vector<std::string>& platformCalls();

// ---------------------------------------------------------------------------------------------
// Registry: HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER, paths like "ControlPanel\\BackLight".
// Names compare without regard to case, as on the device. Values are kept as the device keeps
// them: strings as UTF-16LE with their terminating zero. The W calls hand strings to the
// application in the host's WCHAR (wchar_t), as Windows does with its own. The registry keeps the
// system's limits: keys 512 levels deep, key names of 255 characters, value names of 16,383 and
// a value's data of 1 MB at most; what breaks them is refused (false here, ERROR_INVALID_PARAMETER
// from the calls, a problem from a configuration line or a hive file).

struct RegValue {
    DWORD type = REG_NONE;
    Bytes data;
};
bool setRegistryValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                      const Bytes& data);
bool setRegistryDword(HKEY root, const std::string& path, const std::string& name, DWORD value);
// Stored as the device stores strings: UTF-16LE with its terminating zero.
bool setRegistryString(HKEY root, const std::string& path, const std::string& name,
                       const std::string& utf8);
std::optional<RegValue> registryValue(HKEY root, const std::string& path, const std::string& name);
void deleteRegistryValue(HKEY root, const std::string& path, const std::string& name);
bool createRegistryKey(HKEY root, const std::string& path);
void deleteRegistryKey(HKEY root, const std::string& path);
bool registryKeyExists(HKEY root, const std::string& path);

// The versions the image's registry carries by default.
constexpr DWORD kDefaultBspVersion = 0x00020001;
constexpr DWORD kDefaultImageVersion = 0x00080000;

// ---------------------------------------------------------------------------------------------
// Time and pauses.

// Pins GetSystemTime to a fixed time; useHostClock() goes back to the host's UTC clock.
void setSystemTime(const SYSTEMTIME& time);
void useHostClock();
// Virtual sleep records pauses without waiting; real sleep (the default) waits too.
void setVirtualSleep(bool on);
// The kept window of pauses, oldest first.
std::vector<DWORD> sleeps();
// The board's clock: nanoseconds since power-on (reset() starts it again at 0). With real sleep
// it follows the host's monotonic clock; with virtual sleep it moves only by the pauses the
// library makes and by advanceClock, so that a run's timestamps are the same every time. It
// stamps what the board records over time (the waveforms).
uint64_t clockNanoseconds();
// Moves the clock on, as time passing between two things a test does to the board.
void advanceClock(uint64_t nanoseconds);

// ---------------------------------------------------------------------------------------------
// Waveforms: the GPIO pins over time, as a Value Change Dump file (IEEE 1364 VCD) for waveform
// viewers and logic-analyser software. Every pin the library configured, set or armed, or the
// outside world drove, while recording is in the file under gpio.bank<b>: gpio<b>_<p> (the level
// a read of the pin answers), gpio<b>_<p>_dir (1 output) and gpio<b>_<p>_irq (a 1 us pulse for
// each interrupt fired). Times are the board's clock in microseconds (see clockNanoseconds);
// after a reset the file's time goes on where it was and the pins return to their power-on state.

// Starts recording into `path` (created or emptied), writing out a recording already running
// first; "" stops and writes the file. A recording still running when the process ends is written
// then. Reset keeps a recording going, as it keeps the echo targets. False, with errno set, when
// the file can't be created, or the file being stopped could not be written whole.
bool recordVcd(const std::string& path);

// ---------------------------------------------------------------------------------------------
// The live board: programs outside the process (the tool's --attach, socat, a browser page's
// server) drive and watch the running board over a Unix-domain stream socket, in the
// configuration language plus queries (show ...) and subscriptions (watch ...); the protocol is
// in the README. Off until asked for: no socket, no thread, no cost.

// Starts listening at a socket path, or with "auto" at $XDG_RUNTIME_DIR/tarvik/<pid>.sock (or
// /tmp/tarvik-<uid>/<pid>.sock), where `tarvik boards` finds it. The socket is 0600 and takes
// connections of the same user only; a stale socket of an ended process is replaced; the socket
// and its .info file are removed when the process ends. Asking again for the same place is done
// already. Answers "" or the problem.
std::string listen(const std::string& where);
// The socket the board listens on, or "".
std::string listeningPath();

// ---------------------------------------------------------------------------------------------
// Configuration file: one directive a line, words separated by blanks. '#' at the start of a word
// starts a comment, in every directive. A word in double quotes may hold blanks and '#', with \"
// and \\ for a quote and a backslash: a value that holds " #" is quoted. A UTF-8 byte-order mark
// may come first. A line holds at most 1 MiB, a word 64 KiB. The directives:
//   debug stdout|stderr|<file>         trace stdout|stderr|<file>
//   record off|last <n>|all            strict
//   sleep virtual|real                 time YYYY-MM-DD HH:MM:SS
//   remove-driver <device>
//   registry <HKLM|HKCU>\<path> <name> dword <number>
//   registry <HKLM|HKCU>\<path> <name> string <text to end of line, or "quoted">
//   registry <HKLM|HKCU>\<path> <name> binary <hex bytes ...>
//   registry-delete <HKLM|HKCU>\<path> [<name>]
//   fault <function> [device=<name>] [code=<number or name>] [nth=<n>] [error=<number>]
//                                      the device must be on the board for a driver's call; the
//                                      code may be a request's name as the trace prints it
//   fault clear [<id>]                 disarms every fault, or the one armFault numbered <id>
//   gpio input <bank>.<pin>|<index> <0|1>    gpio reset
//   spi attach <port> loopback|flash|none [<chip select>]             spi reset
//   spi flash <port> <address> <hex bytes ...>
//   i2c attach <bus> <address> eeprom [<size>] [page=<bytes>] [write-cycle=<ms>]
//   i2c attach <bus> <address> sensor  i2c detach <bus> <address>
//   i2c fill <bus> <address> <offset> <hex bytes ...>
//   can inject <frame>                 can clock <hz>
//   can rx-wait <ms>                   can log <file>|off
//   can reset
//   listen <path>|auto                 serve the live board's protocol (see listen)
//   vcd <file>|off                     a waveform of the GPIO pins (see recordVcd); the same
//                                      file again, as at every reset, keeps it going
// Returns one message per line it could not apply ("config:3: unknown directive 'x'").
std::vector<std::string> loadConfig(const std::string& path);
std::vector<std::string> applyConfigLine(const std::string& line);

// A directive's handler gets the line's words (the directive's name first; quotes removed) and
// the text after the name as written, both without the comment, and answers "" when it applied
// the line or the problem, in words for a person (the words it quotes are shortened for it).
using ConfigHandler =
    std::function<std::string(const std::vector<std::string>& words, const std::string& rest)>;
// The value that runs from `rest`'s word number `skip` (0 the first) to the end of the line: the
// text as written, blanks inside kept, or, when it is one quoted word, that word. For a last value
// that may hold blanks: a file name, a string.
std::string configValue(const std::string& rest, size_t skip);
struct Directive {
    std::string name;   // "gpio"
    std::string usage;  // "gpio input <bank>.<pin> <0|1> | gpio reset"
    ConfigHandler handler;
};
// Adds a directive to the board's one table; false when the name is taken.
bool addConfigDirective(const Directive& directive);
// Every directive, built-in and family, in name order.
std::vector<Directive> configDirectives();

}  // namespace vboard

#include "vboard/gpio.h"
#include "vboard/spi.h"
#include "vboard/i2c.h"
#include "vboard/uart.h"
#include "vboard/can.h"
#include "vboard/system.h"

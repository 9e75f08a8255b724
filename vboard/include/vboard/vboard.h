// The virtual board's control API: what tests, tools and applications' own tests use to set up
// the board, drive it, arm faults and read back what the library did. The library itself never
// sees this header; it talks to the board only through the platform calls (CreateFileW,
// DeviceIoControl, the registry ...), which the virtual board defines.
//
// The board is one per process, built on first use from its defaults and the environment:
//   VBOARD_DEBUG=stdout|stderr|<file>   echo the kernel debug output
//   VBOARD_TRACE=stdout|stderr|<file>   echo the trace, one line per platform call
//   VBOARD_CONFIG=<file>                apply a board configuration file (see loadConfig)
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
};

// A stream driver model. Every handle opened on the device name reaches the same object, so all
// opens see one board state. Models are called without the board's lock held and must lock
// their own state; they may block (a serial read waiting for data).
class StreamDriver {
public:
    virtual ~StreamDriver() = default;
    // ERROR_SUCCESS to accept the open, or the error CreateFileW fails with.
    virtual DWORD open(uint64_t instance, const OpenParams& params);
    virtual void close(uint64_t instance);
    // ERROR_SUCCESS when the request is accepted, or the error the caller's GetLastError sees.
    virtual DWORD ioControl(IoRequest& request) = 0;
};

// Puts a driver model behind a device name, replacing any model that was there.
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
// 0 or INVALID_HANDLE_VALUE: each is a fault in the caller. Tests assert there are none.
std::vector<std::string> misuses();
// Calls made on INVALID_HANDLE_VALUE (other than closing it): a failed open followed by a request
// is legitimate, so these are only counted.
size_t invalidHandleCalls();

// How the trace names a handle: "h3" for the third handle the board handed out,
// "INVALID_HANDLE_VALUE", "null", or the raw value for one the board never handed out.
std::string handleLabel(HANDLE handle);

// Sets or reads an event as a driver would, without a platform call in the trace.
bool signalEvent(HANDLE event);
std::optional<bool> eventSignaled(HANDLE event);

// ---------------------------------------------------------------------------------------------
// Kernel debug output: one entry per NKDbgPrintfW call, UTF-8, byte for byte ("\r\n" included).

std::vector<std::string> debugLines();
std::string debugText();
void clearDebug();
// "" switches the echo off; "stdout", "stderr" or a file name (appended to).
bool echoDebugTo(const std::string& target);

// ---------------------------------------------------------------------------------------------
// Trace: every platform call, in order.

struct TraceEntry {
    uint64_t seq = 0;
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
};

std::vector<TraceEntry> trace();
// The trace as readable lines, e.g. "GIO1: SET_PIN bank 0 pin 2 level 1 -> ok".
std::vector<std::string> traceLines();
// Only the lines of calls that concern drivers (DeviceIoControl, CreateFileW, CloseHandle).
std::vector<std::string> driverTraceLines();
std::string renderTrace(const TraceEntry& entry);
void clearTrace();
bool echoTraceTo(const std::string& target);

// A decoder names a request and renders its records ("SET_PIN bank 0 pin 2 level 1"), or
// declines with nullopt. Driver families register theirs with the board.
using Decoder = std::function<std::optional<std::string>(const TraceEntry&)>;
void addDecoder(Decoder decoder);

// ---------------------------------------------------------------------------------------------
// Faults: make platform calls fail, in front of the models.

struct Fault {
    std::string function;       // "DeviceIoControl", "CreateFileW", "EventModify" ...; "" = any
    std::string device;         // device, event or key name; "" = any
    std::optional<DWORD> code;  // request code; unset = any
    unsigned occurrence = 0;    // fail only the Nth matching call (1 = the first); 0 = every one
    DWORD error = ERROR_GEN_FAILURE;
};
int armFault(const Fault& fault);
void disarmFault(int id);
void clearFaults();

// ---------------------------------------------------------------------------------------------
// Registry: HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER, paths like "ControlPanel\\BackLight".
// Names compare without regard to case, as on the device.

struct RegValue {
    DWORD type = REG_NONE;
    Bytes data;
};
void setRegistryValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                      const Bytes& data);
void setRegistryDword(HKEY root, const std::string& path, const std::string& name, DWORD value);
// Stored as the device stores strings: UTF-16LE with its terminating zero.
void setRegistryString(HKEY root, const std::string& path, const std::string& name,
                       const std::string& utf8);
std::optional<RegValue> registryValue(HKEY root, const std::string& path, const std::string& name);
void deleteRegistryValue(HKEY root, const std::string& path, const std::string& name);
void createRegistryKey(HKEY root, const std::string& path);
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
std::vector<DWORD> sleeps();

// ---------------------------------------------------------------------------------------------
// Configuration file: one directive a line, '#' starts a comment.
//   debug stdout|stderr|<file>         trace stdout|stderr|<file>
//   sleep virtual|real                 time YYYY-MM-DD HH:MM:SS
//   remove-driver <device>
//   registry <HKLM|HKCU>\<path> <name> dword <number>
//   registry <HKLM|HKCU>\<path> <name> string <text to end of line>
//   registry <HKLM|HKCU>\<path> <name> binary <hex bytes ...>
//   registry-delete <HKLM|HKCU>\<path> [<name>]
//   fault <function> [device=<name>] [code=<number>] [nth=<n>] [error=<number>]
//   gpio input <bank>.<pin> <0|1>      gpio reset
// Returns one message per line it could not apply ("config:3: unknown directive 'x'").
std::vector<std::string> loadConfig(const std::string& path);
std::vector<std::string> applyConfigLine(const std::string& line);

// A family's driver models add their own directives ("gpio input 3.5 1").
using ConfigHandler = std::function<std::string(const std::vector<std::string>& words)>;
void addConfigDirective(const std::string& name, ConfigHandler handler);

}  // namespace vboard

#include "vboard/gpio.h"

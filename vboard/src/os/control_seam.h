// What the configuration language (control/) uses of the system beyond the public control API
// (vboard/vboard.h): the directive table, the request names faults are checked against, and a few
// changes that answer whether they found what they change.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "vboard/vboard.h"

namespace vboard {

// A request a driver family named (Host::nameRequests).
struct NamedRequest {
    std::string family;  // the device name's letters ("GIO" for "GIO1:"); "" for the kernel
    std::string name;    // "SET_PIN", as the trace prints it
    DWORD code = 0;
};

// Every request named, in the order the families were installed.
std::vector<NamedRequest> namedRequests();

// The directive of that name (the table every family adds to), or nullopt.
std::optional<Directive> findDirective(const std::string& name);

// Takes a device's driver off the board, as removeDriver does: false when there was none.
bool takeDriver(const std::string& device);

// As deleteRegistryKey and deleteRegistryValue: false when there was no such key or value.
bool removeRegistryKey(HKEY root, const std::string& path);
bool removeRegistryValue(HKEY root, const std::string& path, const std::string& name);

// Points the trace echo at a target, as echoTraceTo does, but keeps whether it echoes every call
// or only the drivers' (echoDriverTraceTo): false, with errno set, when the target can't be opened.
bool openTraceEcho(const std::string& target);

// The faults armed now, with their ids, in the order they were armed.
std::vector<std::pair<int, Fault>> armedFaultList();

}  // namespace vboard

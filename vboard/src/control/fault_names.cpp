// The names a fault can use, checked against the board: devices against its drivers, requests
// against the names each driver family gives them as its trace decode prints them.
#include "control/fault_names.h"

#include <cstdio>
#include <vector>

#include "os/control_seam.h"
#include "control/config_text.h"
#include "os/text.h"
#include "vboard/vboard.h"

namespace vboard {
namespace {

bool isSerialCall(const std::string& function) {
    for (const char* name : {"GetCommState", "SetCommState", "GetCommTimeouts", "SetCommTimeouts",
                             "PurgeComm", "SetCommMask", "WaitCommEvent"})
        if (function == name) return true;
    return false;
}

// Three letters or digits, an index digit, and the colon, which may be missing: "I2C2:", "COM1".
bool deviceShaped(const std::string& name) {
    const size_t length = !name.empty() && name.back() == ':' ? name.size() - 1 : name.size();
    if (length != 4) return false;
    for (size_t i = 0; i < 4; ++i) {
        const char c = name[i];
        const bool digit = c >= '0' && c <= '9';
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (i == 3 ? !digit : !(digit || letter)) return false;
    }
    return true;
}

std::string upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string family(const std::string& device) { return upper(device.substr(0, 3)); }

std::string hexCode(DWORD code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(code));
    return text;
}

}  // namespace

std::string faultDeviceProblem(const std::string& function, const std::string& device) {
    if (device.empty()) return "";
    if (function != "DeviceIoControl" && !isSerialCall(function) && !deviceShaped(device)) return "";
    std::vector<std::string> names;
    for (const std::string& d : devices()) {
        if (fold(d) == fold(device)) return "";
        names.push_back(upper(d));
    }
    std::string problem = "no device '" + device + "' on the board";
    if (!names.empty()) problem += "; did you mean '" + nearestName(device, names) + "'?";
    return problem;
}

std::string faultCode(const std::string& text, const std::string& function,
                      const std::string& device, DWORD& code) {
    if (!text.empty() && text[0] >= '0' && text[0] <= '9') {
        if (parseDword(text, code)) return "";
        return "bad code '" + text + "' (a number from 0 to 0xFFFFFFFF, or a request's name)";
    }
    // The requests `function` on `device` can reach, among every request the drivers named.
    const std::vector<NamedRequest> requests = namedRequests();
    std::vector<const NamedRequest*> reachable;
    for (const NamedRequest& r : requests) {
        const bool kernel = r.family.empty();
        if (function == "KernelIoControl" ? !kernel : kernel) continue;
        if (!device.empty() && !kernel && family(device) != r.family) continue;
        if (isSerialCall(function) && r.family != "COM") continue;
        reachable.push_back(&r);
    }
    std::vector<std::string> names;
    std::vector<const NamedRequest*> same;
    for (const NamedRequest* r : reachable) {
        names.push_back(r->name);
        if (fold(r->name) == fold(text)) same.push_back(r);
    }
    const std::string where = device.empty() ? "" : " of " + device;
    if (same.empty()) {
        std::string problem = "no request '" + text + "'" + where;
        if (!names.empty()) problem += "; did you mean '" + nearestName(text, names) + "'?";
        return problem + " (or a number)";
    }
    for (const NamedRequest* r : same)
        if (r->code != same[0]->code) {
            std::string which;
            for (const NamedRequest* s : same)
                which += (which.empty() ? "" : ", ") + s->family + " " + hexCode(s->code);
            return "request '" + text + "' is more than one driver's (" + which +
                   "): name the device with device=";
        }
    code = same[0]->code;
    return "";
}

}  // namespace vboard

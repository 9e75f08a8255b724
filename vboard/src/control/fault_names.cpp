// The names a fault can use, checked against the board: devices against its drivers, requests
// against the names each driver's trace decode gives them.
#include "control/fault_names.h"

#include <cstdio>
#include <vector>

#include "drivers/can/can_model.h"
#include "drivers/gpio/gpio_model.h"
#include "drivers/i2c/i2c_model.h"
#include "drivers/spi/spi_model.h"
#include "drivers/backlight/backlight_model.h"
#include "drivers/phy/phy_model.h"
#include "drivers/reset/reset_model.h"
#include "os/text.h"
#include "os/serial_requests.h"
#include "vboard/vboard.h"

namespace vboard {
namespace {

struct RequestName {
    const char* family;  // the device name's letters ("GIO" for "GIO1:"); "" for the kernel
    const char* name;
    DWORD code;
};

constexpr DWORD kKitlPowerRequest = 0x01010144;

// Every request the board's drivers decode, under the name the trace shows.
const RequestName kRequests[] = {
    {"GIO", "SET_DIRECTION", kGpioSetDirection}, {"GIO", "SET_PIN", kGpioSetPin},
    {"GIO", "GET_PIN", kGpioGetPin},             {"GIO", "SET_EVENT", kGpioSetEvent},
    {"GIO", "CLEAR_EVENT", kGpioClearEvent},
    {"I2C", "SET_MASTER_MODE", kI2cSetMasterMode}, {"I2C", "SET_FREQUENCY", kI2cSetFrequency},
    {"I2C", "CONFIRM", kI2cConfirm},             {"I2C", "TRANSFER", kI2cTransfer},
    {"SPI", "EXCHANGE", kSpiExchange},
    {"COM", "GET_WAIT_MASK", kSerialGetWaitMask}, {"COM", "SET_WAIT_MASK", kSerialSetWaitMask},
    {"COM", "WAIT_ON_MASK", kSerialWaitOnMask},   {"COM", "SET_TIMEOUTS", kSerialSetTimeouts},
    {"COM", "GET_TIMEOUTS", kSerialGetTimeouts},  {"COM", "PURGE", kSerialPurge},
    {"COM", "GET_DCB", kSerialGetDcb},            {"COM", "SET_DCB", kSerialSetDcb},
    {"CAN", "TRANSFER", kCanTransfer},           {"CAN", "TLPRIO_ON", kCanTlprioOn},
    {"CAN", "TLPRIO_OFF", kCanTlprioOff},        {"CAN", "LOOPBACK_ON", kCanLoopbackOn},
    {"CAN", "LOOPBACK_OFF", kCanLoopbackOff},    {"CAN", "SET_TIMING", kCanSetTiming},
    {"CAN", "GET_TIMING", kCanGetTiming},        {"CAN", "ADD_FILTER", kCanAddFilter},
    {"CAN", "REMOVE_FILTER", kCanRemoveFilter},
    {"BKL", "SET_LEVEL", kBacklightSetLevel},    {"BKL", "FOLLOW_UP", kBacklightFollowUp},
    {"PHY", "READ", kPhyRead},                   {"PHY", "WRITE", kPhyWrite},
    {"IOC", "RESET", kIocReset},
    {"", "KITL_POWER", kKitlPowerRequest},
};

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
    // The requests `function` on `device` can reach.
    std::vector<const RequestName*> reachable;
    for (const RequestName& r : kRequests) {
        const bool kernel = *r.family == 0;
        if (function == "KernelIoControl" ? !kernel : kernel) continue;
        if (!device.empty() && !kernel && family(device) != r.family) continue;
        if (isSerialCall(function) && std::string(r.family) != "COM") continue;
        reachable.push_back(&r);
    }
    std::vector<std::string> names;
    std::vector<const RequestName*> same;
    for (const RequestName* r : reachable) {
        names.push_back(r->name);
        if (fold(r->name) == fold(text)) same.push_back(r);
    }
    const std::string where = device.empty() ? "" : " of " + device;
    if (same.empty()) {
        std::string problem = "no request '" + text + "'" + where;
        if (!names.empty()) problem += "; did you mean '" + nearestName(text, names) + "'?";
        return problem + " (or a number)";
    }
    for (const RequestName* r : same)
        if (r->code != same[0]->code) {
            std::string which;
            for (const RequestName* s : same)
                which += (which.empty() ? "" : ", ") + std::string(s->family) + " " + hexCode(s->code);
            return "request '" + text + "' is more than one driver's (" + which +
                   "): name the device with device=";
        }
    code = same[0]->code;
    return "";
}

}  // namespace vboard

// The live board's protocol (see live_protocol.h): lines in, one answer a line, events out.
#include "control/live_protocol.h"
#include "os/live_hold.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>

#include "control/config_text.h"
#include "os/control_seam.h"
#include "os/text.h"
#include "vboard/vboard.h"

namespace vboard {
namespace {

// ---- Answers: one value, written as JSON or as key=value words ----

struct Value {
    enum Type { Null, Flag, Number, Text, List, Record };
    Type type = Null;
    std::string scalar;
    std::vector<std::pair<std::string, Value>> members;  // Record
    std::vector<Value> items;                            // List

    static Value text(std::string s) { return Value{Text, std::move(s), {}, {}}; }
    static Value number(uint64_t n) { return Value{Number, std::to_string(n), {}, {}}; }
    static Value flag(bool b) { return Value{Flag, b ? "true" : "false", {}, {}}; }
    static Value list() { return Value{List, "", {}, {}}; }
    static Value record() { return Value{Record, "", {}, {}}; }
    Value& add(std::string key, Value value) {
        members.emplace_back(std::move(key), std::move(value));
        return members.back().second;
    }
};

// The length of the UTF-8 sequence at `at`, or 0 when it is none.
size_t utf8Length(const std::string& s, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = byte(at);
    size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    if (n == 0 || at + n > s.size()) return 0;
    for (size_t i = 1; i < n; ++i)
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
    // No overlong forms, surrogates or code points beyond U+10FFFF.
    if (c == 0xE0 && byte(at + 1) < 0xA0) return 0;
    if (c == 0xED && byte(at + 1) >= 0xA0) return 0;
    if (c == 0xF0 && byte(at + 1) < 0x90) return 0;
    if (c == 0xF4 && byte(at + 1) >= 0x90) return 0;
    return n;
}

// A JSON string: quotes, backslashes and control bytes escaped; a byte that is no part of a
// UTF-8 sequence is written as the code point of its value, so that the line stays valid JSON.
void appendJsonString(std::string& out, const std::string& s) {
    static const char kDigits[] = "0123456789abcdef";
    out += '"';
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\u00";
            out += kDigits[c >> 4];
            out += kDigits[c & 15];
        } else if (c >= 0x80) {
            if (const size_t n = utf8Length(s, i)) {
                out.append(s, i, n);
                i += n;
                continue;
            }
            out += "\\u00";
            out += kDigits[c >> 4];
            out += kDigits[c & 15];
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    out += '"';
}

void appendJson(std::string& out, const Value& v) {
    switch (v.type) {
        case Value::Null: out += "null"; break;
        case Value::Flag:
        case Value::Number: out += v.scalar; break;
        case Value::Text: appendJsonString(out, v.scalar); break;
        case Value::List:
            out += '[';
            for (size_t i = 0; i < v.items.size(); ++i) {
                if (i > 0) out += ',';
                appendJson(out, v.items[i]);
            }
            out += ']';
            break;
        case Value::Record:
            out += '{';
            for (size_t i = 0; i < v.members.size(); ++i) {
                if (i > 0) out += ',';
                appendJsonString(out, v.members[i].first);
                out += ':';
                appendJson(out, v.members[i].second);
            }
            out += '}';
            break;
    }
}

// A word of a text answer: bare when it can be, else in double quotes as a configuration line
// quotes (\" and \\), with control bytes as \xHH.
void appendTextWord(std::string& out, const std::string& s) {
    bool bare = !s.empty();
    for (unsigned char c : s)
        if (c <= ' ' || c == '"' || c == '\\' || c == ';' || c == 0x7F) bare = false;
    if (bare) {
        out += s;
        return;
    }
    out += '"';
    // Runs of plain bytes go in whole: a watched trace is mostly such runs.
    size_t plain = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c != '"' && c != '\\' && c >= 0x20 && c != 0x7F) continue;
        out.append(s, plain, i - plain);
        plain = i + 1;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else {
            appendHexEscape(out, c);
        }
    }
    out.append(s, plain, s.size() - plain);
    out += '"';
}

void appendText(std::string& out, const std::string& prefix, const Value& v);

// A record's members as words: "index=1 pad=0.2"; a record inside one is flattened
// ("interrupt.mode=rising"), a list inside one is "key=[item; item]".
void appendWords(std::string& out, const std::string& prefix, const Value& record) {
    for (const auto& member : record.members) appendText(out, prefix + member.first, member.second);
}

void appendText(std::string& out, const std::string& key, const Value& v) {
    if (v.type == Value::Record) {
        appendWords(out, key + ".", v);
        return;
    }
    if (!out.empty() && out.back() != ' ' && out.back() != '[') out += ' ';
    out += key + "=";
    switch (v.type) {
        case Value::Null: out += "none"; break;
        case Value::List:
            out += '[';
            for (size_t i = 0; i < v.items.size(); ++i) {
                if (i > 0) out += "; ";
                if (v.items[i].type == Value::Record)
                    appendWords(out, "", v.items[i]);
                else
                    appendTextWord(out, v.items[i].scalar);
            }
            out += ']';
            break;
        default: appendTextWord(out, v.scalar);
    }
}

// An answer: {"ok":true, ...} or "ok ..."; a record whose one member is a list is written as
// that list's items joined by "; ".
std::string okAnswer(const Value& data, bool json) {
    if (json) {
        std::string out = "{\"ok\":true";
        for (const auto& member : data.members) {
            out += ',';
            appendJsonString(out, member.first);
            out += ':';
            appendJson(out, member.second);
        }
        return out + "}";
    }
    std::string words;
    if (data.members.size() == 1 && data.members[0].second.type == Value::List) {
        const Value& list = data.members[0].second;
        for (size_t i = 0; i < list.items.size(); ++i) {
            if (i > 0) words += "; ";
            appendWords(words, "", list.items[i]);
        }
    } else {
        appendWords(words, "", data);
    }
    return words.empty() ? "ok" : "ok " + words;
}

std::string errorAnswer(const std::string& problem, bool json) {
    if (!json) return "error: " + escapeControls(problem);
    std::string out = "{\"ok\":false,\"error\":";
    appendJsonString(out, problem);
    return out + "}";
}

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

std::string upperHex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%" PRIX32, value);
    return text;
}

// ---- show ----

constexpr uint32_t kHighestGpioIndex = 34;

const char* modeName(uint32_t mode) {
    switch (mode) {
        case kGpioLowLevel: return "low";
        case kGpioHighLevel: return "high";
        case kGpioRisingEdge: return "rising";
        case kGpioFallingEdge: return "falling";
        case kGpioBothEdges: return "both";
        default: return nullptr;
    }
}

Value showGpio() {
    Value data = Value::record();
    Value& pins = data.add("pins", Value::list());
    for (uint32_t index = 1; index <= kHighestGpioIndex; ++index) {
        const auto pad = gpioPadOf(index);
        if (!pad) continue;
        const GpioPinState s = gpio().pin(pad->bank, pad->pin);
        Value pin = Value::record();
        pin.add("index", Value::number(index));
        pin.add("pad", Value::text(std::to_string(pad->bank) + "." + std::to_string(pad->pin)));
        pin.add("direction", Value::text(s.output ? "out" : "in"));
        pin.add("level", Value::number(s.level() ? 1 : 0));
        pin.add("driven", Value::flag(s.driven));
        if (const char* mode = s.output ? nullptr : modeName(s.mode)) {
            Value& irq = pin.add("interrupt", Value::record());
            irq.add("mode", Value::text(mode));
            irq.add("armed", Value::flag(s.event != nullptr));
        } else {
            pin.add("interrupt", Value());
        }
        pins.items.push_back(std::move(pin));
    }
    return data;
}

Value showI2c() {
    Value data = Value::record();
    Value& buses = data.add("buses", Value::list());
    for (int bus = 0; bus < kI2cBuses; ++bus) {
        Value entry = Value::record();
        entry.add("bus", Value::number(static_cast<uint64_t>(bus)));
        Value& devices = entry.add("devices", Value::list());
        for (uint8_t address : i2cBus(bus).addresses()) {
            const auto device = i2cBus(bus).device(address);
            if (!device) continue;
            Value d = Value::record();
            d.add("address", Value::number(address));
            d.add("kind", Value::text(device->kind()));
            d.add("size", Value::number(device->contents().size()));
            devices.items.push_back(std::move(d));
        }
        buses.items.push_back(std::move(entry));
    }
    return data;
}

bool showEeprom(const std::vector<std::string>& w, Value& data, std::string& problem) {
    uint64_t bus = 0;
    uint64_t address = 0;
    if (w.size() != 4 || !parseUnsigned(w[2], kI2cBuses - 1, bus) || !parseUnsigned(w[3], 0x7F, address)) {
        problem = "expected: show eeprom <bus 0-" + std::to_string(kI2cBuses - 1) + "> <address>";
        return false;
    }
    const auto device = i2cBus(static_cast<int>(bus)).device(static_cast<uint8_t>(address));
    if (!device) {
        problem = "no device at address " + w[3] + " on I2C bus " + w[2];
        return false;
    }
    data = Value::record();
    data.add("bus", Value::number(bus));
    data.add("address", Value::number(address));
    data.add("kind", Value::text(device->kind()));
    data.add("data", Value::text(lowerHex(device->contents())));
    return true;
}

Value showSpi() {
    Value data = Value::record();
    Value& ports = data.add("ports", Value::list());
    for (int port = 0; port < kSpiPorts; ++port) {
        Value entry = Value::record();
        entry.add("port", Value::number(static_cast<uint64_t>(port)));
        Value& devices = entry.add("devices", Value::list());
        for (int cs = 0; cs < kSpiChipSelects; ++cs)
            if (const auto device = spi().device(port, cs)) {
                Value d = Value::record();
                d.add("chipSelect", Value::number(static_cast<uint64_t>(cs)));
                d.add("kind", Value::text(device->kind()));
                devices.items.push_back(std::move(d));
            }
        ports.items.push_back(std::move(entry));
    }
    return data;
}

Value showSerial() {
    Value data = Value::record();
    Value& ports = data.add("ports", Value::list());
    for (const char* name : {"COM1", "COM2"}) {
        const auto s = serial().state(name);
        if (!s) continue;
        Value entry = Value::record();
        entry.add("port", Value::text(name));
        entry.add("open", Value::flag(s->open));
        entry.add("baud", Value::number(s->dcb.BaudRate));
        std::string link;
        switch (s->wiring) {
            case SerialWiring::Unplugged: link = "none"; break;
            case SerialWiring::Loopback: link = "loopback"; break;
            case SerialWiring::NullModem: link = "null-modem " + s->peer.substr(0, s->peer.find(':')); break;
            case SerialWiring::Pty: link = "pty " + s->ptyPath; break;
        }
        entry.add("link", Value::text(link));
        entry.add("queued", Value::number(s->queued));
        entry.add("typing", Value::number(s->typing));
        entry.add("overruns", Value::number(s->overruns));
        ports.items.push_back(std::move(entry));
    }
    return data;
}

Value showCan() {
    CanControl& c = can();
    Value data = Value::record();
    data.add("open", Value::flag(openDriverHandles("CAN1:") > 0));
    data.add("bitrate", Value::number(c.timing().bitrate()));
    data.add("mode", Value::text(c.loopback() ? "loopback" : "normal"));
    data.add("tlprio", Value::flag(c.tlprio()));
    Value& filters = data.add("filters", Value::list());
    for (const CanFilter& f : c.filters()) {
        Value entry = Value::record();
        const bool extended = f.filterId > 0x7FF || f.filterMask > 0x7FF;
        entry.add("id", Value::text(upperHex(f.filterId)));
        entry.add("mask", Value::text(upperHex(f.filterMask)));
        entry.add("extended", Value::flag(extended));
        entry.add("set", Value::flag(f.filterSet != 0));
        filters.items.push_back(std::move(entry));
    }
    data.add("pending", Value::number(c.pending()));
    data.add("overruns", Value::number(c.overruns()));
    // The shared bus the controller is wired to (`can bus NAME`), null when it is alone.
    const std::string bus = canBus();
    data.add("bus", bus.empty() ? Value() : Value::text(bus));
    return data;
}

Value showHandles() {
    std::map<std::string, uint64_t> counts;
    std::vector<std::string> order;
    for (const HandleInfo& h : openHandles()) {
        if (h.kind != "driver") continue;
        if (counts[h.name]++ == 0) order.push_back(h.name);
    }
    Value data = Value::record();
    Value& handles = data.add("handles", Value::list());
    for (const std::string& device : order) {
        Value entry = Value::record();
        entry.add("device", Value::text(device));
        entry.add("count", Value::number(counts[device]));
        handles.items.push_back(std::move(entry));
    }
    return data;
}

// A fault as the directive that arms it reads.
std::string faultText(const Fault& f) {
    std::string text = "fault " + (f.function.empty() ? std::string("*") : f.function);
    if (!f.device.empty()) text += " device=" + f.device;
    if (f.code) text += " code=0x" + upperHex(*f.code);
    if (f.occurrence != 0) text += " nth=" + std::to_string(f.occurrence);
    text += " error=" + std::to_string(f.error);
    return text;
}

Value showFaults() {
    Value data = Value::record();
    Value& faults = data.add("faults", Value::list());
    for (const auto& [id, fault] : armedFaultList()) {
        Value entry = Value::record();
        entry.add("id", Value::number(static_cast<uint64_t>(id)));
        entry.add("text", Value::text(faultText(fault)));
        faults.items.push_back(std::move(entry));
    }
    return data;
}

const char* const kShowUsage =
    "expected: show gpio|i2c|eeprom <bus> <address>|spi|serial|can|handles|faults|clock";

bool show(const std::vector<std::string>& w, Value& data, std::string& problem) {
    const std::string what = w.size() > 1 ? w[1] : "";
    if (what == "eeprom") return showEeprom(w, data, problem);
    if (w.size() != 2) {
        problem = kShowUsage;
        return false;
    }
    if (what == "gpio") data = showGpio();
    else if (what == "i2c") data = showI2c();
    else if (what == "spi") data = showSpi();
    else if (what == "serial") data = showSerial();
    else if (what == "can") data = showCan();
    else if (what == "handles") data = showHandles();
    else if (what == "faults") data = showFaults();
    else if (what == "clock") {
        data = Value::record();
        data.add("t", Value::number(clockNanoseconds() / 1000));
    } else {
        problem = kShowUsage;
        return false;
    }
    return true;
}

// ---- watch ----

bool kindOf(const std::string& name, LiveKind& kind) {
    for (unsigned k = 0; k < kLiveKinds; ++k)
        if (name == liveKindName(static_cast<LiveKind>(k))) {
            kind = static_cast<LiveKind>(k);
            return true;
        }
    return false;
}

const char* const kKinds = "gpio, trace, debug, can, serial [COM1|COM2], i2c or spi";

// "COM1", "com1:" -> "COM1"; "" when it is no port of the board.
std::string portName(const std::string& word) {
    std::string folded = fold(word);
    if (!folded.empty() && folded.back() == ':') folded.pop_back();
    if (folded == "com1") return "COM1";
    if (folded == "com2") return "COM2";
    return "";
}

}  // namespace

// ---- Lines ----

std::vector<LiveLineReader::Line> LiveLineReader::feed(const char* bytes, size_t size) {
    std::vector<Line> lines;
    for (size_t i = 0; i < size;) {
        const char* newline = static_cast<const char*>(std::memchr(bytes + i, '\n', size - i));
        const size_t end = newline ? static_cast<size_t>(newline - bytes) : size;
        if (!skipping_) {
            // Only what can still make a line is kept: the limit, a CR that may end the line
            // (no part of it, taking no room), and one byte more, which tells that it is too long.
            const size_t room = kLiveLineLimit + 2 - partial_.size();
            partial_.append(bytes + i, std::min(end - i, room));
            const size_t kept = partial_.size();
            if (kept > kLiveLineLimit + 1 || (kept == kLiveLineLimit + 1 && partial_.back() != '\r')) {
                lines.push_back(Line{"", true});
                partial_.clear();
                skipping_ = true;
            }
        }
        if (!newline) break;
        if (!skipping_) {
            if (!partial_.empty() && partial_.back() == '\r') partial_.pop_back();
            lines.push_back(Line{std::move(partial_), false});
        }
        partial_.clear();
        skipping_ = false;
        i = end + 1;
    }
    return lines;
}

// ---- Session ----

LiveSession::LiveSession(Apply apply, std::function<void()> wake)
    : apply_(std::move(apply)), watcher_(std::make_shared<LiveWatcher>(std::move(wake))) {
    addLiveWatcher(watcher_);
}

LiveSession::~LiveSession() { removeLiveWatcher(watcher_); }

bool LiveSession::watching() const {
    for (unsigned k = 0; k < kLiveKinds; ++k)
        if (watcher_->watches(static_cast<LiveKind>(k))) return true;
    return false;
}

std::string LiveSession::answer(const LiveLineReader::Line& line) {
    if (line.tooLong) return errorAnswer("line too long", json_);
    if (words(line.text).empty()) return "";
    return command(line.text);
}

std::string LiveSession::command(const std::string& line) {
    const std::vector<std::string> w = words(line);
    const std::string& verb = w[0];
    Value data = Value::record();
    std::string problem;
    if (verb == "hello" && w.size() == 1) {
        liveHoldRelease();  // a program held for its first client goes on (live_hold.h)
        data.add("pid", Value::number(static_cast<uint64_t>(::getpid())));
        data.add("program", Value::text(liveProgramName()));
        data.add("protocol", Value::number(1));
        return okAnswer(data, json_);
    }
    if (verb == "quit" && w.size() == 1) {
        ended_ = true;
        return okAnswer(data, json_);
    }
    if (verb == "json") {
        if (w.size() != 2 || (w[1] != "on" && w[1] != "off"))
            return errorAnswer("expected: json on|off", json_);
        json_ = w[1] == "on";
        return okAnswer(data, json_);
    }
    if (verb == "show") {
        if (!show(w, data, problem)) return errorAnswer(problem, json_);
        return okAnswer(data, json_);
    }
    if (verb == "watch" || verb == "unwatch") return watch(w, verb == "watch");
    if (verb == "serial" && w.size() >= 2 && (w[1] == "write" || w[1] == "write-raw"))
        return serialWrite(w, line);
    const std::vector<std::string> problems = apply_(line);
    if (problems.empty()) return okAnswer(data, json_);
    for (const std::string& p : problems) problem += (problem.empty() ? "" : "; ") + p;
    return errorAnswer(problem, json_);
}

std::string LiveSession::watch(const std::vector<std::string>& w, bool on) {
    if (!on && w.size() == 1) {
        watcher_->unwatchAll();
    } else if (on && w.size() == 1) {
        return errorAnswer(std::string("expected: watch <kind>... (") + kKinds + ")", json_);
    } else {
        // Every word is read before anything changes: a bad one changes nothing.
        std::vector<std::pair<LiveKind, std::string>> asked;
        for (size_t i = 1; i < w.size(); ++i) {
            LiveKind kind;
            if (!kindOf(w[i], kind)) {
                std::string problem = "no events of " + quoted(w[i]) + " (" + kKinds + ")";
                if (!portName(w[i]).empty()) problem = "a port follows serial: watch serial " + w[i];
                return errorAnswer(problem, json_);
            }
            std::string port;
            if (kind == LiveKind::Serial && i + 1 < w.size() && !portName(w[i + 1]).empty())
                port = portName(w[++i]);
            asked.emplace_back(kind, port);
        }
        for (const auto& [kind, port] : asked) {
            if (!on)
                watcher_->unwatch(kind);
            else
                watcher_->watch(kind, port);
        }
    }
    std::string watching;
    for (unsigned k = 0; k < kLiveKinds; ++k)
        if (watcher_->watches(static_cast<LiveKind>(k)))
            watching += (watching.empty() ? "" : ",") + std::string(liveKindName(static_cast<LiveKind>(k)));
    Value data = Value::record();
    data.add("watching", Value::text(watching.empty() ? "nothing" : watching));
    return okAnswer(data, json_);
}

std::string LiveSession::serialWrite(const std::vector<std::string>& w, const std::string& line) {
    const bool raw = w[1] == "write-raw";
    const std::string usage = std::string("expected: serial ") + w[1] + " COM1|COM2 <text>";
    const std::string port = w.size() > 2 ? portName(w[2]) : "";
    if (w.size() < 4 || port.empty()) return errorAnswer(usage, json_);
    // The text is the rest of the line as written, blanks inside kept; in double quotes when
    // it starts or ends with a blank.
    size_t at = line.find(w[2], line.find(w[1]) + w[1].size()) + w[2].size();
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    std::string text = line.substr(at);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
    std::vector<uint8_t> bytes;
    std::string problem;
    if (!unescapeLiveText(text, bytes, problem)) return errorAnswer(problem, json_);
    const bool done = raw ? serial().receive(port, bytes) : serial().type(port, bytes);
    if (!done) return errorAnswer("no serial port " + quoted(w[2]), json_);
    Value data = Value::record();
    data.add("bytes", Value::number(bytes.size()));
    return okAnswer(data, json_);
}

bool LiveSession::hasEvents() const { return watcher_->waiting(); }

std::string LiveSession::takeEvents() {
    const LiveWatcher::Taken taken = watcher_->take(taken_);
    std::string out;
    if (taken.dropped > 0) {
        out += json_ ? "{\"event\":\"dropped\",\"count\":" + std::to_string(taken.dropped) + "}"
                     : "event dropped " + std::to_string(taken.dropped);
        out += '\n';
    }
    for (size_t i = 0; i < taken.count; ++i) {
        LiveEvent& event = taken_[(taken.first + i) % taken_.size()];
        appendLiveEvent(out, event, json_);
        out += '\n';
        LiveWatcher::release(event);
    }
    return out;
}

void appendLiveEvent(std::string& out, const LiveEvent& event, bool json) {
    const uint64_t micros = event.nanoseconds / 1000;
    auto append = [&](const LiveField& f) {
        if (json) {
            out += ',';
            appendJsonString(out, f.key);
            out += ':';
            switch (f.type) {
                case LiveField::Text: appendJsonString(out, f.value); break;
                case LiveField::Null: out += "null"; break;
                default: out += f.value;
            }
        } else {
            out += ' ';
            out += f.key;
            out += '=';
            if (f.type == LiveField::Null)
                out += "none";
            else
                appendTextWord(out, f.value);
        }
    };
    if (json) {
        out += "{\"event\":\"";
        out += liveKindName(event.kind);
        out += "\",\"t\":";
        out += std::to_string(micros);
    } else {
        char stamp[48];
        std::snprintf(stamp, sizeof stamp, " t=%" PRIu64 ".%06" PRIu64, micros / 1000000, micros % 1000000);
        out += "event ";
        out += liveKindName(event.kind);
        out += stamp;
    }
    // An I2C bus and an SPI port by the number the control API and the directives give them.
    if (event.kind == LiveKind::I2c || event.kind == LiveKind::Spi) {
        const bool i2c = event.kind == LiveKind::I2c;
        LiveField number{i2c ? "bus" : "port", "", LiveField::Null};
        for (int n = 0; n < (i2c ? kI2cBuses : kSpiPorts); ++n) {
            const std::string device = i2c ? i2cBusDevice(n) : "SPI" + std::to_string(n + 1) + ":";
            if (device == event.port) number = LiveField{number.key, std::to_string(n), LiveField::Number};
        }
        append(number);
    }
    for (const LiveField& f : event.fields) append(f);
    if (json) out += '}';
}

bool unescapeLiveText(const std::string& text, std::vector<uint8_t>& bytes, std::string& problem) {
    bytes.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c != '\\') {
            bytes.push_back(c);
            continue;
        }
        if (i + 1 == text.size()) {
            problem = "a backslash ends the text (\\\\ is one backslash)";
            return false;
        }
        const char e = text[++i];
        switch (e) {
            case 'r': bytes.push_back('\r'); break;
            case 'n': bytes.push_back('\n'); break;
            case 't': bytes.push_back('\t'); break;
            case '0': bytes.push_back(0); break;
            case '\\': bytes.push_back('\\'); break;
            case '"': bytes.push_back('"'); break;
            case 'x': {
                uint64_t value = 0;
                if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
                    !std::isxdigit(static_cast<unsigned char>(text[i + 2])) ||
                    !parseUnsigned("0x" + text.substr(i + 1, 2), 0xFF, value)) {
                    problem = "\\x takes two hex digits (\\x0D)";
                    return false;
                }
                bytes.push_back(static_cast<uint8_t>(value));
                i += 2;
                break;
            }
            default:
                problem = std::string("unknown escape \\") + (e >= ' ' && e < 0x7F ? std::string(1, e) : "?") +
                          " (\\r \\n \\t \\0 \\\\ \\\" \\xHH)";
                return false;
        }
    }
    return true;
}

std::string liveProgramName() {
    return ::program_invocation_short_name != nullptr ? ::program_invocation_short_name : "";
}

}  // namespace vboard

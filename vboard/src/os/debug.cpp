// The kernel debug output of the virtual board: NKDbgPrintfW formats its wide format string the
// way the CE kernel does (%s is a wide string, 'l' is 32 bits) and keeps each call as one entry.
#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>

#include "os/call.h"
#include "os/entry_guard.h"
#include "os/text.h"

namespace vboard {
namespace {

// The widest field a conversion pads to, and the most digits a precision asks for: a format
// such as "%99999999999s" must not make a line of gigabytes.
constexpr int kFieldLimit = 1024;

// A width or precision written as digits, saturating rather than overflowing.
int readCount(const wchar_t*& p) {
    long long value = 0;
    while (*p >= L'0' && *p <= L'9') {
        value = value * 10 + (*p++ - L'0');
        if (value > INT_MAX) value = INT_MAX;
    }
    return static_cast<int>(value);
}

std::string formatNumber(const std::string& flags, int width, int precision, char conversion,
                         long long value) {
    std::string directive = "%" + flags;
    if (width > 0) directive += std::to_string(std::min(width, kFieldLimit));
    if (precision >= 0) directive += "." + std::to_string(std::min(precision, kFieldLimit));
    directive += "ll";
    directive += conversion;
    char text[2 * kFieldLimit + 32];
    std::snprintf(text, sizeof text, directive.c_str(), value);
    return text;
}

std::string formatWide(const wchar_t* format, va_list args) {
    std::string out;
    if (format == nullptr) return out;
    out.reserve(64);
    for (const wchar_t* p = format; *p != 0; ++p) {
        if (*p != L'%') {
            if (static_cast<uint32_t>(*p) < 0x80)
                out += static_cast<char>(*p);
            else
                appendUtf8(out, static_cast<uint32_t>(*p));
            continue;
        }
        const wchar_t* const directive = p;  // the whole "%...x", shown as written when unknown
        ++p;
        std::string flags;
        while (*p == L'-' || *p == L'0' || *p == L'+' || *p == L' ' || *p == L'#')
            flags += static_cast<char>(*p++);
        int width = 0;
        if (*p == L'*') {
            // A negative width from the arguments means the '-' flag and its size.
            const int given = va_arg(args, int);
            if (given < 0) flags += '-';
            width = given == INT_MIN ? INT_MAX : (given < 0 ? -given : given);
            ++p;
        } else {
            width = readCount(p);
        }
        int precision = -1;  // none; a negative one from the arguments is none too
        if (*p == L'.') {
            ++p;
            if (*p == L'*') {
                precision = va_arg(args, int);
                if (precision < 0) precision = -1;
                ++p;
            } else {
                precision = readCount(p);
            }
        }
        bool wide64 = false;
        if (*p == L'l' && p[1] == L'l') {
            wide64 = true;
            p += 2;
        } else if (*p == L'I' && p[1] == L'6' && p[2] == L'4') {
            wide64 = true;
            p += 3;
        } else {
            while (*p == L'l' || *p == L'h' || *p == L'w') ++p;  // 'l' is 32 bits on the device
        }
        const wchar_t conversion = *p;
        if (conversion == 0) break;
        switch (conversion) {
            case L'd':
            case L'i': {
                long long v = wide64 ? va_arg(args, long long) : va_arg(args, int);
                out += formatNumber(flags, width, precision, 'd', v);
                break;
            }
            case L'u':
            case L'x':
            case L'X':
            case L'o': {
                long long v = wide64 ? static_cast<long long>(va_arg(args, unsigned long long))
                                     : static_cast<long long>(va_arg(args, unsigned int));
                out += formatNumber(flags, width, precision, static_cast<char>(conversion), v);
                break;
            }
            case L'p': {
                char text[32];
                std::snprintf(text, sizeof text, "%p", va_arg(args, void*));
                out += text;
                break;
            }
            case L'c':
                appendUtf8(out, static_cast<uint32_t>(va_arg(args, int)));
                break;
            case L's':
            case L'S': {
                const wchar_t* s = va_arg(args, const wchar_t*);
                std::wstring text = s ? std::wstring(s) : std::wstring(L"(null)");
                // The precision only cuts the string short, so it needs no bound of its own.
                if (precision >= 0 && text.size() > static_cast<size_t>(precision))
                    text.resize(static_cast<size_t>(precision));
                const bool left = flags.find('-') != std::string::npos;
                const size_t field = static_cast<size_t>(std::min(width, kFieldLimit));
                const size_t pad = field > text.size() ? field - text.size() : 0;
                if (!left) out.append(pad, ' ');
                out += toUtf8(text);
                if (left) out.append(pad, ' ');
                break;
            }
            case L'%':
                out += '%';
                break;
            default:  // unknown conversion: shown as written
                for (const wchar_t* c = directive; c <= p; ++c)
                    appendUtf8(out, static_cast<uint32_t>(*c));
        }
    }
    return out;
}

}  // namespace
}  // namespace vboard

using namespace vboard;

namespace {

void printDebugLine(LPCWSTR format, va_list args) {
    Board& b = board();
    Call call("NKDbgPrintfW");
    const bool keepLine = b.keeping.load(std::memory_order_relaxed);
    const bool echo = b.debugEcho.active();
    const bool watched = liveWatched(LiveKind::Debug);
    // Nobody keeps or echoes the line when recording is off and no echo is set: it is counted
    // and never formatted.
    std::string line;
    if (keepLine || echo || watched || call.keep) line = formatWide(format, args);
    if (call.keep) call.entry.args = quote(line);
    {
        std::lock_guard<std::mutex> hold(b.lock);
        b.record(b.debug, std::string(line));
    }
    if (echo) b.debugEcho.write(line);
    if (watched) {
        size_t shown = line.size();
        while (shown > 0 && (line[shown - 1] == '\n' || line[shown - 1] == '\r')) --shown;
        publishLiveLine(LiveKind::Debug, "", line.substr(0, shown));
    }
    call.succeed(0, "ok");
}

}  // namespace

// The only variadic platform call, so it has its guard here rather than with the others.
extern "C" void NKDbgPrintfW(LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    guardVoidCall(__func__, [&] { printDebugLine(format, args); });
    va_end(args);
}

namespace vboard {

// ---- Control API: debug output ----

std::vector<std::string> debugLines() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return b.debug.items();
}

std::string debugText() {
    std::string text;
    for (const std::string& line : debugLines()) text += line;
    return text;
}

void clearDebug() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    b.debug.clear();
}

bool echoDebugTo(const std::string& target) { return board().debugEcho.open(target); }

}  // namespace vboard

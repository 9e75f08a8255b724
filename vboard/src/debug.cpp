// The kernel debug output of the virtual board: NKDbgPrintfW formats its wide format string the
// way the CE kernel does (%s is a wide string, 'l' is 32 bits) and keeps each call as one entry.
#include <cstdarg>
#include <cstdio>

#include "call.h"
#include "text.h"

namespace vboard {
namespace {

std::string formatNumber(const std::string& pattern, char conversion, long long value) {
    char text[64];
    std::string f = pattern + "ll" + conversion;
    std::snprintf(text, sizeof text, f.c_str(), value);
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
        std::string pattern = "%";
        ++p;
        while (*p == L'-' || *p == L'0' || *p == L'+' || *p == L' ' || *p == L'#')
            pattern += static_cast<char>(*p++);
        int width = -1;
        int precision = -1;
        if (*p == L'*') {
            width = va_arg(args, int);
            ++p;
        } else {
            while (*p >= L'0' && *p <= L'9') pattern += static_cast<char>(*p++);
        }
        if (width >= 0) pattern += std::to_string(width);
        if (*p == L'.') {
            ++p;
            if (*p == L'*') {
                precision = va_arg(args, int);
                ++p;
            } else {
                precision = 0;
                while (*p >= L'0' && *p <= L'9') precision = precision * 10 + (*p++ - L'0');
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
        std::string numberSpec = pattern + (precision >= 0 ? "." + std::to_string(precision) : "");
        switch (conversion) {
            case L'd':
            case L'i': {
                long long v = wide64 ? va_arg(args, long long) : va_arg(args, int);
                out += formatNumber(numberSpec, 'd', v);
                break;
            }
            case L'u':
            case L'x':
            case L'X':
            case L'o': {
                long long v = wide64 ? static_cast<long long>(va_arg(args, unsigned long long))
                                     : static_cast<long long>(va_arg(args, unsigned int));
                out += formatNumber(numberSpec, static_cast<char>(conversion), v);
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
                if (precision >= 0 && text.size() > static_cast<size_t>(precision))
                    text.resize(static_cast<size_t>(precision));
                std::string utf8 = toUtf8(text);
                int pad = 0;
                std::string digits = pattern.substr(1);
                bool left = digits.find('-') != std::string::npos;
                while (!digits.empty() && !(digits[0] >= '1' && digits[0] <= '9')) digits.erase(0, 1);
                if (!digits.empty()) pad = std::stoi(digits) - static_cast<int>(text.size());
                if (!left && pad > 0) out.append(static_cast<size_t>(pad), ' ');
                out += utf8;
                if (left && pad > 0) out.append(static_cast<size_t>(pad), ' ');
                break;
            }
            case L'%':
                out += '%';
                break;
            default:  // unknown conversion: shown as written
                out += pattern;
                appendUtf8(out, static_cast<uint32_t>(conversion));
        }
    }
    return out;
}

}  // namespace
}  // namespace vboard

using namespace vboard;

extern "C" void NKDbgPrintfW(LPCWSTR format, ...) {
    Board& b = board();
    Call call("NKDbgPrintfW");
    const bool keepLine = b.keeping.load(std::memory_order_relaxed);
    const bool echo = b.debugEcho.active();
    // Nobody keeps or echoes the line when recording is off and no echo is set: it is counted
    // and never formatted.
    std::string line;
    if (keepLine || echo || call.keep) {
        va_list args;
        va_start(args, format);
        line = formatWide(format, args);
        va_end(args);
    }
    if (call.keep) call.entry.args = quote(line);
    {
        std::lock_guard<std::mutex> hold(b.lock);
        const size_t limit = b.keepLimit();
        if (limit == 0)
            b.debug.count();
        else
            b.debug.push(std::string(line), limit);
    }
    if (echo) b.debugEcho.write(line);
    call.succeed(0, "ok");
}

// Text helpers for the virtual board.
#include "os/text.h"

#include <sys/random.h>

#include <cstdint>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace vboard {

void appendUtf8(std::string& out, uint32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string toUtf8(const wchar_t* text) {
    std::string out;
    if (text == nullptr) return out;
    for (; *text != 0; ++text) appendUtf8(out, static_cast<uint32_t>(*text));
    return out;
}

std::string toUtf8(const std::wstring& text) { return toUtf8(text.c_str()); }

std::wstring fromUtf8(const std::string& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size();) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        uint32_t c = b;
        size_t extra = 0;
        if (b >= 0xF0) { c = b & 0x07; extra = 3; }
        else if (b >= 0xE0) { c = b & 0x0F; extra = 2; }
        else if (b >= 0xC0) { c = b & 0x1F; extra = 1; }
        ++i;
        for (size_t k = 0; k < extra && i < text.size(); ++k, ++i)
            c = (c << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
        out += static_cast<wchar_t>(c);
    }
    return out;
}

std::string fold(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool parseUnsigned(const std::string& text, uint64_t max, uint64_t& value) {
    size_t i = 0;
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        i = 2;
    }
    if (i >= text.size()) return false;
    uint64_t v = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return false;
        // Would pass the field's largest value (a digit alone may, when the field is small).
        if (digit > max || v > (max - digit) / base) return false;
        v = v * base + digit;
    }
    value = v;
    return true;
}

bool parseSigned(const std::string& text, int64_t min, int64_t max, int64_t& value) {
    const bool negative = !text.empty() && text[0] == '-';
    uint64_t magnitude = 0;
    const std::string digits = negative ? text.substr(1) : text;
    if (digits.empty() || digits[0] == 'x' || (digits.size() > 1 && digits[1] == 'x')) return false;
    const uint64_t limit = negative ? static_cast<uint64_t>(-(min + 1)) + 1 : static_cast<uint64_t>(max);
    if (!parseUnsigned(digits, limit, magnitude)) return false;
    value = negative ? -static_cast<int64_t>(magnitude - 1) - 1 : static_cast<int64_t>(magnitude);
    return value >= min && value <= max;
}

bool parseDword(const std::string& text, uint32_t& value) {
    uint64_t v = 0;
    if (!parseUnsigned(text, 0xFFFFFFFFu, v)) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

void appendHexEscape(std::string& out, unsigned char c) {
    static const char digits[] = "0123456789ABCDEF";
    out += "\\x";
    out += digits[c >> 4];
    out += digits[c & 15];
}

std::string quote(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 8);
    out += '"';
    for (unsigned char c : text) {
        if (c >= 0x20 && c != '"' && c != '\\') {
            out += static_cast<char>(c);
            continue;
        }
        switch (c) {
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            default:
                if (c < 0x20) {
                    appendHexEscape(out, c);
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
    return out;
}

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

std::string hexBytes(const std::vector<uint8_t>& bytes) {
    std::string out;
    char text[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(text, sizeof text, "%02X", bytes[i]);
        if (i) out += ' ';
        out += text;
    }
    return out;
}

std::string lowerHex(const uint8_t* bytes, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * size);
    for (size_t i = 0; i < size; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 15];
    }
    return out;
}

std::string randomHex(size_t count) {
    std::vector<uint8_t> bytes(count);
    if (::getrandom(bytes.data(), count, 0) != static_cast<ssize_t>(count)) {
        std::random_device device;
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(device());
    }
    return lowerHex(bytes);
}

}  // namespace vboard

#include "text.h"

#include <fmt/format.h>

namespace {

// Length of the valid UTF-8 sequence starting at s[i], or 0.
std::size_t utf8_length(const std::string &s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    std::size_t n;
    unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;  // no overlong forms
        if (c == 0xED) hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
    for (std::size_t k = 2; k < n; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    }
    return n;
}

}  // namespace

std::string printable(const std::string &text, std::size_t limit) {
    std::string out;
    const std::size_t end = text.size() > limit ? limit : text.size();
    for (std::size_t i = 0; i < end;) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t n = utf8_length(text, i);
        if (n == 0 || c < 0x20 || c == 0x7F) {
            out += fmt::format("\\x{:02x}", c);
            ++i;
        } else {
            out.append(text, i, n);
            i += n;
        }
    }
    if (end < text.size()) out += fmt::format("... ({} bytes)", text.size());
    return out;
}

std::string quote(const std::string &text) { return "'" + printable(text, 60) + "'"; }

std::string trimmed(const std::string &text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

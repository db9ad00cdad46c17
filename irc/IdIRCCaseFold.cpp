#include "IdIRCCaseFold.h"

#include <cstddef>
#include <cstdint>

namespace {

bool IsContinuation(uint8_t c) {
    return (c & 0xC0) == 0x80;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view s) {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const size_t n = s.size();
    size_t i = 0;
    while (i < n) {
        const uint8_t c = p[i];
        size_t extra = 0;
        uint8_t secondMin = 0x80;
        uint8_t secondMax = 0xBF;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            secondMin = c == 0xE0 ? 0xA0 : 0x80;
            secondMax = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            secondMin = c == 0xF0 ? 0x90 : 0x80;
            secondMax = c == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (n - i <= extra || p[i + 1] < secondMin || p[i + 1] > secondMax) {
            return false;
        }
        for (size_t k = 2; k <= extra; ++k) {
            if (!IsContinuation(p[i + k])) {
                return false;
            }
        }
        i += extra + 1;
    }
    return true;
}

void FoldUtf8(std::string& s) {
    for (size_t i = 0; i + 1 < s.size(); ++i) {
        const auto lead = static_cast<uint8_t>(s[i]);
        const auto next = static_cast<uint8_t>(s[i + 1]);
        if (lead == 0xC3 && next >= 0x80 && next <= 0x9E && next != 0x97) {
            s[i + 1] = static_cast<char>(next + 0x20);
        } else if (lead == 0xC5 && (next == 0xA0 || next == 0x92 || next == 0xBD)) {
            s[i + 1] = static_cast<char>(next + 1);
        } else if (lead == 0xC5 && next == 0xB8) { // Y diaeresis: its small letter is U+00FF
            s[i] = static_cast<char>(0xC3);
            s[i + 1] = static_cast<char>(0xBF);
        }
    }
}

void FoldWindows1252(std::string& s) {
    for (char& ch : s) {
        const auto c = static_cast<uint8_t>(ch);
        if (c >= 0xC0 && c <= 0xDE && c != 0xD7) {
            ch = static_cast<char>(c + 0x20);
        } else if (c == 0x8A || c == 0x8C || c == 0x8E) {
            ch = static_cast<char>(c + 0x10);
        } else if (c == 0x9F) {
            ch = static_cast<char>(0xFF);
        }
    }
}

} // namespace

void IRCFoldName(std::string_view name, std::string& out) {
    out.assign(name);
    bool ascii = true;
    for (char& ch : out) {
        if (ch >= 'A' && ch <= 'Z') {
            ch = static_cast<char>(ch + ('a' - 'A'));
        } else if (static_cast<uint8_t>(ch) >= 0x80) {
            ascii = false;
        }
    }
    if (ascii) {
        return;
    }
    if (IsValidUtf8(out)) {
        FoldUtf8(out);
    } else {
        FoldWindows1252(out);
    }
}

std::string IRCFoldName(std::string_view name) {
    std::string folded;
    IRCFoldName(name, folded);
    return folded;
}

bool IRCSameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && IRCFoldName(a) == IRCFoldName(b);
}

#include "DisplayText.h"

#include <QString>

#include <cstdint>

namespace {

// Code points of 0x80 to 0x9F in Windows-1252; 0xA0 to 0xFF equal Latin-1.
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, //
};

void AppendUtf8(std::string& AOut, char32_t ACode) {
    if (ACode < 0x80) {
        AOut += static_cast<char>(ACode);
    } else if (ACode < 0x800) {
        AOut += static_cast<char>(0xC0 | (ACode >> 6));
        AOut += static_cast<char>(0x80 | (ACode & 0x3F));
    } else {
        // The table holds nothing above the Basic Multilingual Plane.
        AOut += static_cast<char>(0xE0 | (ACode >> 12));
        AOut += static_cast<char>(0x80 | ((ACode >> 6) & 0x3F));
        AOut += static_cast<char>(0x80 | (ACode & 0x3F));
    }
}

} // namespace

bool IsValidUtf8(std::string_view ABytes) {
    size_t i = 0;
    const size_t n = ABytes.size();
    while (i < n) {
        const auto b = static_cast<uint8_t>(ABytes[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        // The lead byte fixes the length and the allowed range of the first continuation
        // byte; narrowing that range is what rules out overlong forms, surrogates
        // (ED A0..BF) and code points above U+10FFFF (F4 90..BF, F5..FF).
        size_t length;
        uint8_t low = 0x80, high = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            if (b == 0xE0) {
                low = 0xA0;
            } else if (b == 0xED) {
                high = 0x9F;
            }
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            if (b == 0xF0) {
                low = 0x90;
            } else if (b == 0xF4) {
                high = 0x8F;
            }
        } else {
            return false; // a stray continuation byte, C0, C1 or F5..FF
        }
        if (n - i < length) {
            return false;
        }
        const auto first = static_cast<uint8_t>(ABytes[i + 1]);
        if (first < low || first > high) {
            return false;
        }
        for (size_t k = 2; k < length; ++k) {
            const auto c = static_cast<uint8_t>(ABytes[i + k]);
            if (c < 0x80 || c > 0xBF) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

std::string Cp1252ToUtf8(std::string_view ABytes) {
    std::string out;
    out.reserve(ABytes.size() * 2);
    for (char c : ABytes) {
        const auto b = static_cast<uint8_t>(c);
        if (b >= 0x80 && b <= 0x9F) {
            AppendUtf8(out, Cp1252High[b - 0x80]);
        } else {
            AppendUtf8(out, b);
        }
    }
    return out;
}

std::string DisplayUtf8(std::string_view ABytes) {
    if (IsValidUtf8(ABytes)) {
        return std::string(ABytes);
    }
    return Cp1252ToUtf8(ABytes);
}

QString DisplayString(std::string_view ABytes) {
    const std::string utf8 = DisplayUtf8(ABytes);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

bool IsAscii(std::string_view ABytes) {
    for (char c : ABytes) {
        if (static_cast<uint8_t>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

#include "DisplayText.h"

#include <QString>

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DisplayText, DecidesUtf8ValidityAtEveryBoundary) {
    const struct {
        const char* Why;
        std::string Bytes;
        bool Valid;
    } cases[] = {
        {"empty", "", true},
        {"largest code point U+10FFFF", "\xF4\x8F\xBF\xBF", true},
        {"last before surrogates U+D7FF", "\xED\x9F\xBF", true},
        {"stray continuation byte", "\x80", false},
        {"overlong slash C0 AF", "\xC0\xAF", false},
        {"overlong C1 BF", "\xC1\xBF", false},
        {"overlong three-byte E0 9F BF", "\xE0\x9F\xBF", false},
        {"overlong four-byte F0 8F BF BF", "\xF0\x8F\xBF\xBF", false},
        {"surrogate U+D800", "\xED\xA0\x80", false},
        {"above U+10FFFF", "\xF4\x90\x80\x80", false},
        {"F5 lead byte", "\xF5\x80\x80\x80", false},
        {"truncated at the end", "ok\xE2\x82", false},
        {"continuation missing mid-line", "\xE2\x82x", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Why);
        EXPECT_EQ(IsValidUtf8(c.Bytes), c.Valid);
    }
}

TEST(DisplayText, ReadsEveryHighByteAsWindows1252) {
    // The 0x80..0x9F block is where 1252 differs from Latin-1; all five undefined bytes keep
    // their value as C1 controls.
    const struct {
        unsigned char Byte;
        char32_t Code;
    } cases[] = {
        {0x80, 0x20AC}, {0x81, 0x0081}, {0x8A, 0x0160}, {0x8D, 0x008D},
        {0x8F, 0x008F}, {0x90, 0x0090}, {0x91, 0x2018}, {0x9D, 0x009D},
        {0x9F, 0x0178}, {0xA0, 0x00A0}, {0xFF, 0x00FF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.Byte));
        EXPECT_EQ(DisplayString(std::string(1, static_cast<char>(c.Byte))).toStdU32String(),
                  std::u32string(1, c.Code));
    }
}

TEST(DisplayText, KeepsValidUtf8AsIsAndConvertsTheRestWholeLine) {
    EXPECT_EQ(DisplayUtf8("caf\xC3\xA9"), "caf\xC3\xA9");
    // One invalid byte makes the whole line 1252, including bytes that looked like UTF-8.
    EXPECT_EQ(DisplayUtf8("\xC3\xA9 \xE9"), "\xC3\x83\xC2\xA9 \xC3\xA9");
    EXPECT_EQ(DisplayUtf8("\x80"), "\xE2\x82\xAC");
    EXPECT_EQ(DisplayString("caf\xC3\xA9"), QString::fromUtf8("caf\xC3\xA9"));
    // Control and NUL bytes pass through unchanged.
    EXPECT_EQ(DisplayUtf8(std::string("a\0b\x01", 4)), std::string("a\0b\x01", 4));
}

} // namespace

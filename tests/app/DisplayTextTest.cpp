// A line's bytes come in no declared encoding: UTF-8 where valid, else Windows-1252, for the
// whole line. An error's text (bytes from the wire, a file name the game chose) is decoded by
// the same rule in the error box, so no byte turns into a replacement character.
#include "DisplayText.h"
#include "ErrorDisplay.h"

#include <QString>

#include <gtest/gtest.h>

#include <stdexcept>
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

// Each case as a logged line and as the text of an error shown in the error box.
TEST(DisplayText, ValidUtf8StaysAndAnythingElseIsReadAsWindows1252) {
    const struct {
        const char* Why;
        std::string Bytes;
        std::string Utf8;
    } cases[] = {
        {"UTF-8 stays UTF-8", "caf\xC3\xA9", "caf\xC3\xA9"},
        {"1252 letter", "caf\xE9", "caf\xC3\xA9"},
        {"one invalid byte makes the whole line 1252", "\xC3\xA9 \xE9",
         "\xC3\x83\xC2\xA9 \xC3\xA9"},
        {"truncated UTF-8 is read as 1252", "x\xC3", "x\xC3\x83"},
        // 0x80..0x9F is where 1252 differs from Latin-1; its five undefined bytes keep their
        // value as C1 controls.
        {"euro sign", "\x80 5", "\xE2\x82\xAC 5"},
        {"undefined 81, 8D, 8F, 90, 9D", "\x81\x8D\x8F\x90\x9D",
         "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},
        {"S caron, left quote, Y diaeresis", "\x8A\x91\x9F", "\xC5\xA0\xE2\x80\x98\xC5\xB8"},
        {"A0 and FF as Latin-1", "\xA0\xFF", "\xC2\xA0\xC3\xBF"},
        {"controls and NUL pass through", std::string("a\0b\x01", 4), std::string("a\0b\x01", 4)},
    };
    QString shown;
    const auto previous = TErrorDisplay::SetPresenter([&](const QString& text) { shown = text; });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Why);
        EXPECT_EQ(DisplayUtf8(c.Bytes), c.Utf8);
        EXPECT_EQ(DisplayString(c.Bytes),
                  QString::fromUtf8(c.Utf8.data(), qsizetype(c.Utf8.size())));
        try {
            throw std::runtime_error(c.Bytes);
        } catch (...) {
            TErrorDisplay::ShowCurrentException();
        }
        EXPECT_EQ(shown, QString::fromUtf8(c.Utf8.c_str())) << "in the error box";
    }
    TErrorDisplay::SetPresenter(previous);
}

} // namespace

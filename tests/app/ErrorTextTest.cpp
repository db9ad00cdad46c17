// An error's text can carry bytes from the wire or a file name the game chose, in no declared
// encoding. The error box decodes them as the window decodes every line: UTF-8 where valid,
// else Windows-1252, so no byte turns into a replacement character.
#include "ErrorDisplay.h"

#include <gtest/gtest.h>

#include <QString>

#include <stdexcept>
#include <string>

TEST(ErrorText, DecodedByTheWindowsOneRule) {
    const struct {
        const char* why;
        std::string bytes;
        QString shown;
    } cases[] = {
        {"UTF-8 stays UTF-8", "caf\xC3\xA9", QStringLiteral(u"caf\u00E9")},
        {"Windows-1252 letter", "caf\xE9", QStringLiteral(u"caf\u00E9")},
        {"Windows-1252 euro sign", "\x80 5", QStringLiteral(u"\u20AC 5")},
        {"a truncated UTF-8 sequence is read as 1252", "x\xC3", QStringLiteral(u"x\u00C3")},
    };
    QString shown;
    const auto previous = TErrorDisplay::SetPresenter([&](const QString& text) { shown = text; });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        try {
            throw std::runtime_error(c.bytes);
        } catch (...) {
            TErrorDisplay::ShowCurrentException();
        }
        EXPECT_EQ(shown, c.shown);
    }
    TErrorDisplay::SetPresenter(previous);
}

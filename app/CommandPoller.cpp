#include "CommandPoller.h"

#include "DisplayText.h"
#include "FileWrite.h"
#include "GameOutput.h"
#include "SortedListBox.h"
#include "Unit1.h"

#include <IdIRC.h>

#include <QPlainTextEdit>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

int32_t TimerTicks = 0;
std::string LastSentLine;

void ResetCommandPoller() {
    TimerTicks = 0;
    LastSentLine.clear();
}

std::string LowerCaseAscii(std::string_view AText) {
    std::string lower(AText);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = char(c - 'A' + 'a');
        }
    }
    return lower;
}

namespace {

// The file's bytes as they are. A file the game still holds (or anything else that cannot be
// read there) raises: the error ends the tick, and the next tick tries again.
std::string ReadCommandFile() {
    const auto fail = [](int AError) {
        std::error_code ignored;
        return EFOpenError("Cannot open file \"" +
                           std::filesystem::absolute(CommandFile, ignored).string() + "\". " +
                           std::strerror(AError));
    };
    const int fd = ::open(CommandFile, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw fail(errno);
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            throw fail(error);
        }
        if (n == 0) {
            break;
        }
        text.append(buffer, size_t(n));
    }
    ::close(fd);
    return text;
}

bool StartsWith(std::string_view AText, std::string_view AWord) {
    return AText.substr(0, AWord.size()) == AWord;
}

// The text after the command word and its one separator character.
std::string_view Argument(std::string_view AText, size_t AWordLength) {
    return AText.size() > AWordLength + 1 ? AText.substr(AWordLength + 1) : std::string_view();
}

} // namespace

void TForm1::Timer1Timer() {
    // The once-a-second tick is fine enough for a silence measured in minutes.
    IRCbot->CheckAlive();
    CheckConnection();
    ++TimerTicks;
    std::error_code error;
    if (!std::filesystem::exists(CommandFile, error)) {
        return;
    }
    std::string text = ReadCommandFile();
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) {
        text.pop_back();
    }
    RichEdit3->setPlainText(DisplayString(text));

    // What is not a channel is never written to: "velmor" would be a person's nick.
    const std::string channel = Channel();
    const bool sendable = ChannelProblem(channel).empty();
    std::string line;
    if (StartsWith(text, "SAY")) {
        const std::string said = LowerCaseAscii(Argument(text, 3));
        if (said == LastSentLine && TimerTicks <= 1) {
            line = FloodgateLine;
        } else {
            if (sendable) {
                IRCbot->Say(channel, said);
            }
            line = "(*" + IRCbot->Nick() + "*) " + said;
            LastSentLine = said;
        }
    } else if (StartsWith(text, "ACTION")) {
        const std::string_view raw = Argument(text, 6);
        const std::string acted = LowerCaseAscii(raw);
        if (acted == LastSentLine || TimerTicks <= 1) {
            line = FloodgateLine;
        } else {
            if (sendable) {
                IRCbot->Action(channel, acted);
            }
            line = "*" + IRCbot->Nick() + " " + std::string(raw);
            LastSentLine = acted;
        }
    } else if (StartsWith(text, "WHO")) {
        line = "USERS ON CHANNEL:";
        const QStringList rows = ListBox2->Items();
        for (auto row = rows.crbegin(); row != rows.crend(); ++row) {
            line += " " + UpperCaseAscii(row->toUtf8().toStdString());
        }
    } else {
        TimerTicks = 0; // kept, and read again on the next tick
        return;
    }
    // Sent (or refused): the command is done before its echo is logged, so a game file
    // that cannot be written makes one error, not a resend every second.
    RichEdit3->clear();
    std::filesystem::remove(CommandFile, error); // one that stays is met by the floodgate
    TimerTicks = 0;
    Addline(line);
}

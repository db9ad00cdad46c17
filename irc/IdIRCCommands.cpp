// TIdIRC's outbound commands: every line the component sends goes through SendLine.
#include "IdIRC.h"

#include "IdIRCLines.h"

#include <algorithm>
#include <cctype>

namespace {

const char kCTCPDelimiter = '\x01';

std::string UpperCase(std::string AText) {
    std::transform(AText.begin(), AText.end(), AText.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    return AText;
}

} // namespace

void TIdIRC::SendLine(const std::string& ALine) {
    if (!Connected()) {
        RaiseEvent(OnError, this, nullptr, std::string(), std::string("Not connected to server."));
        return;
    }
    SendPaced(IdIRCLines::WireLines(ALine));
}

void TIdIRC::WriteWireLine(const std::string& ALine) {
    std::string out;
    out.reserve(ALine.size() + 2);
    out.append(ALine).append("\r\n");
    // One write: the line and its end leave together.
    Write(out);
    RaiseEvent(OnSend, this, ALine);
}

void TIdIRC::SendText(const std::string& ACommand, const std::string& ATarget,
                      const std::string& AFrameStart, const std::string& AText,
                      const std::string& AFrameEnd) {
    const std::string prefix = ACommand + " " + ATarget + " :" + AFrameStart;
    // What each piece may take so that the line the server relays, with the sender's
    // nick!user@host in front and CR LF behind, fits 512 bytes. A target so long that nothing
    // fits still gets its text, a few bytes a line: the server will refuse it, not lose it.
    const size_t fixed =
        IdIRCLines::RelayPrefixLength(Nick().size()) + prefix.size() + AFrameEnd.size() + 2;
    const size_t budget = fixed < IdIRCLines::kMaxLine - 4 ? IdIRCLines::kMaxLine - fixed : 4;
    if (!Connected()) {
        RaiseEvent(OnError, this, nullptr, std::string(), std::string("Not connected to server."));
        return;
    }
    // All pieces or none: a message is not cut short by a full queue.
    std::vector<std::string> lines;
    for (const std::string& piece : IdIRCLines::TextPieces(AText, budget)) {
        for (std::string& line : IdIRCLines::WireLines(prefix + piece + AFrameEnd)) {
            lines.push_back(std::move(line));
        }
    }
    SendPaced(lines);
}

void TIdIRC::Say(const std::string& ATarget, const std::string& AText) {
    SendText("PRIVMSG", ATarget, std::string(), AText, std::string());
}

void TIdIRC::Notice(const std::string& ATarget, const std::string& AText) {
    SendText("NOTICE", ATarget, std::string(), AText, std::string());
}

void TIdIRC::CTCPQuery(const std::string& ATarget, const std::string& ACommand,
                       const std::string& AParameters) {
    SendText("PRIVMSG", ATarget, kCTCPDelimiter + UpperCase(ACommand) + " ", AParameters,
             std::string(1, kCTCPDelimiter));
}

void TIdIRC::CTCPReply(const std::string& ATarget, const std::string& ACommand,
                       const std::string& AParameters) {
    SendText("NOTICE", ATarget, kCTCPDelimiter + ACommand + " ", AParameters,
             std::string(1, kCTCPDelimiter));
}

void TIdIRC::Action(const std::string& ATarget, const std::string& AText) {
    CTCPQuery(ATarget, "ACTION", AText);
}

void TIdIRC::Join(const std::string& AChannel, const std::string& AKey) {
    SendLine(AKey.empty() ? "JOIN " + AChannel : "JOIN " + AChannel + " " + AKey);
}

void TIdIRC::Mode(const std::string& ATarget, const std::string& AModes,
                  const std::string& AArguments) {
    SendLine(AArguments.empty() ? "MODE " + ATarget + " " + AModes
                                : "MODE " + ATarget + " " + AModes + " " + AArguments);
}

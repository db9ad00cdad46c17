#include "IdIRCCTCP.h"

#include <array>

namespace Id {

namespace {

constexpr std::string_view kCTCPCommands[] = {
    "ACTION",  "SOUND",      "PING", "FINGER", "USERINFO",
    "VERSION", "CLIENTINFO", "TIME", "ERROR",  "DCC",
};
constexpr std::string_view kDCCWords[] = {"SEND", "CHAT", "RESUME", "ACCEPT"};

template <size_t N> int IndexIn(const std::string_view (&ATable)[N], std::string_view AWord) {
    for (size_t i = 0; i < N; ++i) {
        if (ATable[i] == AWord) {
            return int(i);
        }
    }
    return -1;
}

std::string OneLine(std::string_view AText) {
    return std::string(AText.substr(0, AText.find_first_of(std::string_view("\r\n\0", 3))));
}

} // namespace

int CTCPIndex(std::string_view ACommand) {
    return IndexIn(kCTCPCommands, ACommand);
}

int DCCIndex(std::string_view AWord) {
    return IndexIn(kDCCWords, AWord);
}

TIdIRCCTCPRequest SplitCTCP(std::string_view AText) {
    if (AText.size() < 2) {
        return {};
    }
    const std::string_view inner = AText.substr(1, AText.size() - 2);
    const size_t blank = AText.find(' ');
    if (blank == std::string_view::npos) {
        return {std::string(inner), {}};
    }
    // The blank may be the character that is dropped as the closing byte.
    const size_t commandEnd = blank - 1;
    if (commandEnd >= inner.size()) {
        return {std::string(inner), {}};
    }
    return {std::string(inner.substr(0, commandEnd)), std::string(inner.substr(commandEnd + 1))};
}

std::optional<std::string> CTCPAnswer(std::string_view ACommand, std::string_view AArguments,
                                      const TIdIRCReplyTexts& ATexts, const std::tm& ANow) {
    switch (CTCPIndex(ACommand)) {
    case ctcpPing:
        return OneLine(AArguments);
    case ctcpFinger:
        return OneLine(ATexts.Finger);
    case ctcpUserInfo:
        return OneLine(ATexts.UserInfo);
    case ctcpVersion:
        return OneLine(ATexts.Version);
    case ctcpClientInfo:
        return OneLine(ATexts.ClientInfo);
    case ctcpTime:
        return CTCPTimeAnswer(ANow);
    default:
        return std::nullopt;
    }
}

std::string CTCPTimeAnswer(const std::tm& ANow) {
    char text[128];
    const size_t length = std::strftime(text, sizeof(text), "%x %X", &ANow);
    return "Local time is " + std::string(text, length);
}

std::tm LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

std::optional<TIdIRCDCCOffer> DecodeDCC(std::string_view AArguments) {
    // Only the first five fields are ever read, so a flood of blanks costs nothing.
    std::array<std::string_view, 5> fields;
    size_t count = 0;
    for (size_t from = 0; count < fields.size(); ++count) {
        const size_t blank = AArguments.find(' ', from);
        fields[count] =
            AArguments.substr(from, blank == std::string_view::npos ? blank : blank - from);
        if (blank == std::string_view::npos) {
            ++count;
            break;
        }
        from = blank + 1;
    }
    const int kind = DCCIndex(fields[0]);
    // Every kind reads F1 to F3; only the size of a SEND (F4) may be absent.
    if (kind < 0 || count < 4) {
        return std::nullopt;
    }
    // A field cut out empty (two blanks in a row) is as good as missing, except CHAT's
    // protocol word, which nothing reads.
    for (size_t field = kind == dccChat ? 2 : 1; field < 4; ++field) {
        if (fields[field].empty()) {
            return std::nullopt;
        }
    }
    TIdIRCDCCOffer offer{TIdIRCDCCKind(kind), {}, {}, {}, {}, {}};
    switch (offer.Kind) {
    case dccSend:
        offer.FileName = fields[1];
        offer.Ip = fields[2];
        offer.Port = fields[3];
        offer.FileSize = fields[4];
        break;
    case dccChat: // F1 is the protocol word ("chat"), which the event does not pass
        offer.Ip = fields[2];
        offer.Port = fields[3];
        break;
    case dccResume:
    case dccAccept:
        offer.FileName = fields[1];
        offer.Port = fields[2];
        offer.Position = fields[3];
        break;
    }
    return offer;
}

} // namespace Id

// Client-to-client requests inside PRIVMSG and NOTICE texts: the framing by byte 1, the
// automatic answers to the standard queries, and the decoding of DCC offers. All pure: the
// dispatcher raises the events and sends the answers.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace Id {

inline constexpr char CTCPDelimiter = '\x01';

// The CTCP command table; the position is the command's index.
enum TIdIRCCTCPIndex {
    ctcpAction,
    ctcpSound,
    ctcpPing,
    ctcpFinger,
    ctcpUserInfo,
    ctcpVersion,
    ctcpClientInfo,
    ctcpTime,
    ctcpError,
    ctcpDCC,
};
// Exact, case-sensitive: "version" is not VERSION. -1 for any other command.
int CTCPIndex(std::string_view ACommand);

// A message text that the dispatcher hands to the CTCP handling.
inline bool IsCTCP(std::string_view AText) {
    return !AText.empty() && AText.front() == CTCPDelimiter;
}

struct TIdIRCCTCPRequest {
    std::string Command;
    std::string Arguments;
};

// Splits a text that starts with byte 1: the command runs from the second character to the
// first blank, the arguments from after that blank to the last character but one. The last
// character is dropped as the closing byte 1 whatever it is, so a text without its closing
// byte loses its last character ("\x01VERSION" gives VERSIO), and anything after a closing
// byte 1 inside the text stays part of the arguments. Short texts give empty parts.
TIdIRCCTCPRequest SplitCTCP(std::string_view AText);

// The four answer texts the application sets (the component's Replies).
struct TIdIRCReplyTexts {
    std::string_view Finger;
    std::string_view Version;
    std::string_view UserInfo;
    std::string_view ClientInfo;
};

// The automatic answer to a query (the text after the command, without framing), or nothing
// for a query that gets none (ACTION, SOUND, ERROR, DCC, unknown commands). PING echoes its
// arguments; TIME tells ANow. An answer is cut at its first CR, LF or NUL: the query's
// arguments come from a stranger, and a line break echoed inside the NOTICE would send a
// command of the stranger's choosing.
std::optional<std::string> CTCPAnswer(std::string_view ACommand, std::string_view AArguments,
                                      const TIdIRCReplyTexts& ATexts, const std::tm& ANow);

// "Local time is " with the date in the locale's short form and the time in its long form
// (strftime's %x and %X: "12/07/26 09:05:03" in the C locale).
std::string CTCPTimeAnswer(const std::tm& ANow);
std::tm LocalTimeNow();

// The DCC sub-command table; the position is the index. -1 for any other word.
enum TIdIRCDCCKind { dccSend, dccChat, dccResume, dccAccept };
int DCCIndex(std::string_view AWord);

// The fields of a DCC offer as its event passes them, unchanged text: the address stays the
// decimal number DCC sends and no number is converted, so no value is too large.
struct TIdIRCDCCOffer {
    TIdIRCDCCKind Kind;
    std::string FileName; // SEND, RESUME, ACCEPT
    std::string Ip;       // SEND, CHAT
    std::string Port;
    std::string FileSize; // SEND; empty when the offer has none
    std::string Position; // RESUME, ACCEPT
};

// Decodes the arguments of a DCC query ("SEND file ip port size"). Fields are cut at every
// single blank (two blanks give an empty field; no quoting, so a file name with a blank spreads
// over two fields). Nothing when the first field is no DCC kind, or when a field the kind
// passes is missing or empty: an offer without its address, port or position cannot be acted
// on. A SEND without its size is decoded with an empty size, as old clients send no size.
// Fields after the last one the kind reads are ignored.
std::optional<TIdIRCDCCOffer> DecodeDCC(std::string_view AArguments);

} // namespace Id

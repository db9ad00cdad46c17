// Numeric server replies: the numbers the component knows by name, and one table that says,
// for every number it handles, what kind of handling the dispatcher gives it and, where the
// reply raises OnSystem, the category word and how the text is built from the parameters.
//
// Numbers are written without leading zeros (001 would be octal). In a reply, P1 is the
// recipient (the client's own nick) and the reply's data starts at P2; Pn stands in token
// slot n + 1 (slot 0 is the prefix, slot 1 the command).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace Id {

inline constexpr int32_t RPL_WELCOME = 1;
inline constexpr int32_t RPL_MYINFO = 4;
inline constexpr int32_t RPL_ISUPPORT = 5; // unhandled here; the dispatcher learns modes from it
inline constexpr int32_t RPL_MAP = 6;
inline constexpr int32_t RPL_MAPEND = 7;
inline constexpr int32_t RPL_TRACELINK = 200;
inline constexpr int32_t RPL_TRACESERVER = 206;
inline constexpr int32_t RPL_TRACENEWTYPE = 208;
inline constexpr int32_t RPL_STATSLINKINFO = 211;
inline constexpr int32_t RPL_STATSKLINE = 216;
inline constexpr int32_t RPL_STATSYLINE = 218;
inline constexpr int32_t RPL_ENDOFSTATS = 219;
inline constexpr int32_t RPL_UMODEIS = 221;
inline constexpr int32_t RPL_STATSLLINE = 241;
inline constexpr int32_t RPL_STATSHLINE = 244;
inline constexpr int32_t RPL_STATSCONN = 250;
inline constexpr int32_t RPL_LUSERME = 255;
inline constexpr int32_t RPL_ADMINME = 256;
inline constexpr int32_t RPL_ADMINEMAIL = 259;
inline constexpr int32_t RPL_TRACELOG = 261;
inline constexpr int32_t RPL_LOCALUSERS = 265;
inline constexpr int32_t RPL_GLOBALUSERS = 266;
inline constexpr int32_t RPL_AWAY = 301;
inline constexpr int32_t RPL_USERHOST = 302;
inline constexpr int32_t RPL_ISON = 303;
inline constexpr int32_t RPL_UNAWAY = 305;
inline constexpr int32_t RPL_NOWAWAY = 306;
inline constexpr int32_t RPL_WHOISREGNICK = 307;
inline constexpr int32_t RPL_WHOISUSER = 311;
inline constexpr int32_t RPL_WHOISSERVER = 312;
inline constexpr int32_t RPL_WHOISOPERATOR = 313;
inline constexpr int32_t RPL_WHOWASUSER = 314;
inline constexpr int32_t RPL_ENDOFWHO = 315;
inline constexpr int32_t RPL_WHOISIDLE = 317;
inline constexpr int32_t RPL_ENDOFWHOIS = 318;
inline constexpr int32_t RPL_WHOISCHANNELS = 319;
inline constexpr int32_t RPL_LISTSTART = 321;
inline constexpr int32_t RPL_LIST = 322;
inline constexpr int32_t RPL_LISTEND = 323;
inline constexpr int32_t RPL_CHANNELMODEIS = 324;
inline constexpr int32_t RPL_CREATIONTIME = 329;
inline constexpr int32_t RPL_NOTOPIC = 331;
inline constexpr int32_t RPL_TOPIC = 332;
inline constexpr int32_t RPL_INVITING = 341;
inline constexpr int32_t RPL_SUMMONING = 342;
inline constexpr int32_t RPL_VERSION = 351;
inline constexpr int32_t RPL_WHOREPLY = 352;
inline constexpr int32_t RPL_NAMREPLY = 353;
inline constexpr int32_t RPL_LINKS = 364;
inline constexpr int32_t RPL_ENDOFLINKS = 365;
inline constexpr int32_t RPL_ENDOFNAMES = 366;
inline constexpr int32_t RPL_BANLIST = 367;
inline constexpr int32_t RPL_ENDOFBANLIST = 368;
inline constexpr int32_t RPL_ENDOFWHOWAS = 369;
inline constexpr int32_t RPL_INFO = 371;
inline constexpr int32_t RPL_MOTD = 372;
inline constexpr int32_t RPL_ENDOFINFO = 374;
inline constexpr int32_t RPL_MOTDSTART = 375;
inline constexpr int32_t RPL_ENDOFMOTD = 376;
inline constexpr int32_t RPL_YOUREOPER = 381;
inline constexpr int32_t RPL_REHASHING = 382;
inline constexpr int32_t RPL_TIME = 391;
inline constexpr int32_t RPL_USERSSTART = 392;
inline constexpr int32_t RPL_NOUSERS = 395;
inline constexpr int32_t ERR_NOSUCHNICK = 401; // the first error
inline constexpr int32_t ERR_NONICKNAMEGIVEN = 431;
inline constexpr int32_t ERR_ERRONEUSNICKNAME = 432;
inline constexpr int32_t ERR_NICKNAMEINUSE = 433;
inline constexpr int32_t ERR_USERSDONTMATCH = 502; // the last error
inline constexpr int32_t RPL_WHOISSECURE = 614;

// What the dispatcher does with a number. Besides its kind, a row with a category raises
// OnSystem (see TIdIRCNumeric).
enum TIdIRCNumericKind {
    nkUnknown,      // OnUnknownCommand with the command text and Content
    nkSystem,       // OnSystem only
    nkWelcome,      // ServerName, csLoggedIn, then OnSystem
    nkMotdStart,    // csLoggedIn, then OnSystem
    nkAway,         // 301: the away text on the sender's entry, OnAway
    nkUnAway,       // 305
    nkNowAway,      // 306
    nkListStart,    // 321: a new OnList batch, then OnSystem
    nkListEntry,    // 322: one entry of the channel list
    nkListEnd,      // 323: OnSystem, then the last OnList batch
    nkChannelModes, // 324
    nkNoTopic,      // 331
    nkTopic,        // 332
    nkInviting,     // 341
    nkNames,        // 353: OnSystem, then the names into the channel
    nkLinks,        // 364
    nkEndOfNames,   // 366: OnSystem, then OnNames
    nkServerTime,   // 391: OnSystem with the text of ServerTimeText
    nkError,        // 401 to 502: OnError
    nkNickRefused,  // 431 to 433: OnError, then the nick fallback while registering
};

// One row of the table: the numbers First to Last and their handling.
struct TIdIRCNumeric {
    int32_t First;
    int32_t Last;
    TIdIRCNumericKind Kind;
    // The OnSystem category; nullptr when the reply raises no OnSystem. kCommandCategory: the
    // reply's own command text (as received, for instance "329").
    const char* Category = nullptr;
    // The OnSystem text: nullptr for the whole Content; otherwise each "%s" in turn is
    // replaced by the parameter numbered in Params (a fixed text has no "%s").
    const char* Format = nullptr;
    std::array<int8_t, 5> Params = {};
};

inline constexpr const char kCommandCategory[] = "";

// The whole table in number order, without overlaps; for the tests and for anyone listing
// what is handled.
std::span<const TIdIRCNumeric> NumericTable();

// The number of a command that is a numeric reply: one or more decimal digits and nothing
// else (no sign, no blank), within 32 bits. Leading zeros are allowed ("001" is 1). A longer
// number is not read as numeric; it then reaches OnUnknownCommand as an unknown command, which
// is what an unknown number gets too.
std::optional<int32_t> NumericCode(std::string_view ACommand);

// The row that handles ACode; a row of kind nkUnknown (First = Last = ACode) when none does.
TIdIRCNumeric FindNumeric(int32_t ACode);

// OnSystem's category and text for a row that has a category. ASlots are the line's token
// slots (prefix, command, P1, P2, ...); a parameter beyond them reads as empty. AContent is
// the whole text after the command.
std::string NumericCategory(const TIdIRCNumeric& ARow, std::span<const std::string> ASlots);
std::string NumericText(const TIdIRCNumeric& ARow, std::span<const std::string> ASlots,
                        std::string_view AContent);

} // namespace Id

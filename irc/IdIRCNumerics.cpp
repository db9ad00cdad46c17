#include "IdIRCNumerics.h"

#include <algorithm>
#include <strings.h>

namespace Id {

namespace {

using P = std::array<int8_t, 5>;

// Every number the component handles. Rows without a category raise no OnSystem; the kind
// says what else happens. Ranges are written as the replies come in families.
constexpr TIdIRCNumeric kTable[] = {
    {RPL_WELCOME, RPL_MYINFO, nkWelcome, "WELCOME"},
    {RPL_MAP, RPL_MAPEND, nkSystem, "MAP", "%s", P{2}},
    {RPL_TRACELINK, RPL_TRACESERVER, nkSystem, "TRACE"},
    {RPL_TRACENEWTYPE, RPL_TRACENEWTYPE, nkSystem, "TRACE"},
    {RPL_STATSLINKINFO, RPL_STATSKLINE, nkSystem, "STATS"},
    {RPL_STATSYLINE, RPL_STATSYLINE, nkSystem, "STATS"},
    {RPL_ENDOFSTATS, RPL_ENDOFSTATS, nkSystem, "STATS", "%s %s", P{2, 3}},
    {RPL_UMODEIS, RPL_UMODEIS, nkSystem, "UMODE", "%s %s", P{1, 2}},
    {RPL_STATSLLINE, RPL_STATSHLINE, nkSystem, "STATS"},
    {RPL_STATSCONN, RPL_LUSERME, nkSystem, "LUSER", "%s %s", P{2, 3}},
    {RPL_ADMINME, RPL_ADMINEMAIL, nkSystem, "ADMIN"},
    {RPL_TRACELOG, RPL_TRACELOG, nkSystem, "TRACE"},
    {RPL_LOCALUSERS, RPL_GLOBALUSERS, nkSystem, "LUSER", "%s", P{2}},
    {RPL_AWAY, RPL_AWAY, nkAway},
    {RPL_USERHOST, RPL_USERHOST, nkSystem, "USERHOST", "%s", P{2}},
    {RPL_ISON, RPL_ISON, nkSystem, "ISON", "%s", P{2}},
    {RPL_UNAWAY, RPL_UNAWAY, nkUnAway},
    {RPL_NOWAWAY, RPL_NOWAWAY, nkNowAway},
    {RPL_WHOISREGNICK, RPL_WHOISREGNICK, nkSystem, "WHOIS", "%s %s", P{2, 3}},
    {RPL_WHOISUSER, RPL_WHOISUSER, nkSystem, "WHOIS", "%s is %s@%s %s %s", P{2, 3, 4, 5, 6}},
    {RPL_WHOISSERVER, RPL_WHOISSERVER, nkSystem, "WHOIS", "%s is using %s %s", P{2, 3, 4}},
    {RPL_WHOISOPERATOR, RPL_WHOISOPERATOR, nkSystem, "WHOIS", "%s %s", P{2, 3}},
    {RPL_WHOWASUSER, RPL_WHOWASUSER, nkSystem, "WHOWAS", "%s was %s@%s %s %s", P{2, 3, 4, 5, 6}},
    {RPL_ENDOFWHO, RPL_ENDOFWHO, nkSystem, "WHO", "%s :%s", P{2, 3}},
    // The sign-on time stays as the server sent it.
    {RPL_WHOISIDLE, RPL_WHOISIDLE, nkSystem, "WHOIS",
     "%s has been idle %s seconds, signed on at %s", P{2, 3, 4}},
    {RPL_ENDOFWHOIS, RPL_ENDOFWHOIS, nkSystem, "WHOIS", "%s :%s", P{2, 3}},
    {RPL_WHOISCHANNELS, RPL_WHOISCHANNELS, nkSystem, "WHOIS", "%s is on %s", P{2, 3}},
    {RPL_LISTSTART, RPL_LISTSTART, nkListStart, "LIST", "Start of LIST"},
    {RPL_LIST, RPL_LIST, nkListEntry},
    {RPL_LISTEND, RPL_LISTEND, nkListEnd, "LIST", "%s", P{2}},
    {RPL_CHANNELMODEIS, RPL_CHANNELMODEIS, nkChannelModes},
    {RPL_CREATIONTIME, RPL_CREATIONTIME, nkSystem, kCommandCategory},
    {RPL_NOTOPIC, RPL_NOTOPIC, nkNoTopic},
    {RPL_TOPIC, RPL_TOPIC, nkTopic},
    {RPL_INVITING, RPL_INVITING, nkInviting},
    {RPL_SUMMONING, RPL_SUMMONING, nkSystem, "SUMMON", "%s has been summoned", P{2}},
    {RPL_VERSION, RPL_VERSION, nkSystem, "VERSION", "%s %s %s", P{2, 3, 4}},
    {RPL_WHOREPLY, RPL_WHOREPLY, nkSystem, "WHO", "%s", P{2}},
    {RPL_NAMREPLY, RPL_NAMREPLY, nkNames, "NAMES", "%s :%s", P{3, 4}},
    {RPL_LINKS, RPL_LINKS, nkLinks},
    {RPL_ENDOFLINKS, RPL_ENDOFLINKS, nkSystem, "LINKS", "%s %s", P{2, 3}},
    {RPL_ENDOFNAMES, RPL_ENDOFNAMES, nkEndOfNames, "NAMES", "%s :%s", P{2, 3}},
    {RPL_BANLIST, RPL_BANLIST, nkSystem, "BANS", "%s %s", P{2, 3}},
    {RPL_ENDOFBANLIST, RPL_ENDOFBANLIST, nkSystem, "BANS", "%s :%s", P{2, 3}},
    {RPL_ENDOFWHOWAS, RPL_ENDOFWHOWAS, nkSystem, "WHOWAS", "%s :%s", P{2, 3}},
    {RPL_INFO, RPL_INFO, nkSystem, "INFO", "%s", P{2}},
    {RPL_MOTD, RPL_MOTD, nkSystem, "MOTD", "%s", P{2}},
    {RPL_ENDOFINFO, RPL_ENDOFINFO, nkSystem, "INFO", "%s", P{2}},
    {RPL_MOTDSTART, RPL_MOTDSTART, nkMotdStart, "MOTD", "%s", P{2}},
    {RPL_ENDOFMOTD, RPL_ENDOFMOTD, nkSystem, "MOTD", "%s", P{2}},
    {RPL_YOUREOPER, RPL_YOUREOPER, nkSystem, "OPER", "%s", P{2}},
    {RPL_REHASHING, RPL_REHASHING, nkSystem, "REHASH", "%s :%s", P{2, 3}},
    {RPL_TIME, RPL_TIME, nkServerTime, "TIME", "%s :%s"},
    {RPL_USERSSTART, RPL_NOUSERS, nkSystem, "USERS", "%s", P{2}},
    {ERR_NOSUCHNICK, ERR_NONICKNAMEGIVEN - 1, nkError},
    {ERR_NONICKNAMEGIVEN, ERR_NICKNAMEINUSE, nkNickRefused},
    {ERR_NICKNAMEINUSE + 1, ERR_USERSDONTMATCH, nkError},
    {RPL_WHOISSECURE, RPL_WHOISSECURE, nkSystem, "WHOIS", "%s", P{2}},
};

constexpr bool InOrderWithoutOverlaps() {
    for (size_t i = 0; i < std::size(kTable); ++i) {
        if (kTable[i].First > kTable[i].Last || (i > 0 && kTable[i - 1].Last >= kTable[i].First)) {
            return false;
        }
    }
    return true;
}
// The look-up is a binary search: a row out of order would hide others.
static_assert(InOrderWithoutOverlaps());

std::string_view Slot(std::span<const std::string> ASlots, size_t AIndex) {
    return AIndex < ASlots.size() ? std::string_view(ASlots[AIndex]) : std::string_view();
}

std::string_view Param(std::span<const std::string> ASlots, int AParam) {
    return Slot(ASlots, size_t(AParam) + 1);
}

// Each "%s" in turn takes the next value; there are never more "%s" than values.
template <typename Next> std::string Fill(std::string_view AFormat, Next ANext) {
    std::string text;
    size_t from = 0;
    for (size_t at; (at = AFormat.find("%s", from)) != std::string_view::npos; from = at + 2) {
        text.append(AFormat.substr(from, at - from));
        text.append(ANext());
    }
    text.append(AFormat.substr(from));
    return text;
}

} // namespace

std::span<const TIdIRCNumeric> NumericTable() {
    return kTable;
}

std::optional<int32_t> NumericCode(std::string_view ACommand) {
    if (ACommand.empty()) {
        return std::nullopt;
    }
    int64_t value = 0;
    for (const char c : ACommand) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
        if (value > INT32_MAX) {
            return std::nullopt;
        }
    }
    return int32_t(value);
}

TIdIRCNumeric FindNumeric(int32_t ACode) {
    const auto row = std::lower_bound(std::begin(kTable), std::end(kTable), ACode,
                                      [](const TIdIRCNumeric& r, int32_t c) { return r.Last < c; });
    if (row != std::end(kTable) && row->First <= ACode) {
        return *row;
    }
    return {ACode, ACode, nkUnknown};
}

std::string NumericCategory(const TIdIRCNumeric& ARow, std::span<const std::string> ASlots) {
    if (ARow.Category == kCommandCategory) {
        return std::string(Slot(ASlots, 1));
    }
    return ARow.Category ? ARow.Category : "";
}

std::string NumericText(const TIdIRCNumeric& ARow, std::span<const std::string> ASlots,
                        std::string_view AContent) {
    if (ARow.Kind == nkServerTime) {
        // Some servers put their own name before the time, some do not: the time is the
        // parameter after the name when there is one. Names compare without regard to case.
        const std::string_view prefix = Slot(ASlots, 0);
        const std::string_view p2 = Param(ASlots, 2);
        const bool named =
            prefix.size() == p2.size() && strncasecmp(prefix.data(), p2.data(), p2.size()) == 0;
        const std::string_view values[] = {prefix, named ? Param(ASlots, 3) : p2};
        size_t next = 0;
        return Fill(ARow.Format, [&] { return values[next++]; });
    }
    if (ARow.Format == nullptr) {
        return std::string(AContent);
    }
    size_t next = 0;
    return Fill(ARow.Format, [&] { return Param(ASlots, ARow.Params[next++]); });
}

} // namespace Id

#include "IdIRCNumerics.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Id;

TEST(Numerics, EachFamilyHasItsHandlingCategoryAndText) {
    // Every reply reads the same parameters, so a text shows which ones it took.
    const std::string content = "me a2 a3 a4 a5 :a6";
    const struct {
        const char* why;
        std::vector<int32_t> codes;
        TIdIRCNumericKind kind;
        const char* category; // nullptr: no OnSystem
        std::string text;     // "=": the whole Content
    } cases[] = {
        {"welcome: the whole Content, recipient included", {1, 4}, nkWelcome, "WELCOME", "="},
        {"0 and the feature list are not named", {0, 5}, nkUnknown, nullptr, ""},
        {"map", {6, 7}, nkSystem, "MAP", "a2"},
        {"trace around the unnamed 207", {200, 206, 208, 261}, nkSystem, "TRACE", "="},
        {"gaps between trace and stats", {207, 209, 217, 240, 245, 260}, nkUnknown, nullptr, ""},
        {"stats", {211, 216, 218, 241, 244}, nkSystem, "STATS", "="},
        {"end of stats", {219}, nkSystem, "STATS", "a2 a3"},
        {"user mode starts at the recipient", {221}, nkSystem, "UMODE", "me a2"},
        {"user counts", {250, 255}, nkSystem, "LUSER", "a2 a3"},
        {"admin", {256, 259}, nkSystem, "ADMIN", "="},
        {"local and global user counts", {265, 266}, nkSystem, "LUSER", "a2"},
        {"away raises OnAway, not OnSystem", {301}, nkAway, nullptr, ""},
        {"no longer away", {305}, nkUnAway, nullptr, ""},
        {"now away", {306}, nkNowAway, nullptr, ""},
        {"userhost", {302}, nkSystem, "USERHOST", "a2"},
        {"ison", {303}, nkSystem, "ISON", "a2"},
        {"unnamed among whois", {304, 316, 320, 330, 333, 370, 373, 396}, nkUnknown, nullptr, ""},
        {"whois flags", {307, 313}, nkSystem, "WHOIS", "a2 a3"},
        {"whois user", {311}, nkSystem, "WHOIS", "a2 is a3@a4 a5 a6"},
        {"whois server", {312}, nkSystem, "WHOIS", "a2 is using a3 a4"},
        {"whowas user", {314}, nkSystem, "WHOWAS", "a2 was a3@a4 a5 a6"},
        {"end of who", {315}, nkSystem, "WHO", "a2 :a3"},
        {"idle", {317}, nkSystem, "WHOIS", "a2 has been idle a3 seconds, signed on at a4"},
        {"end of whois", {318}, nkSystem, "WHOIS", "a2 :a3"},
        {"whois channels", {319}, nkSystem, "WHOIS", "a2 is on a3"},
        {"list start has a fixed text", {321}, nkListStart, "LIST", "Start of LIST"},
        {"list entries go to the buffer only", {322}, nkListEntry, nullptr, ""},
        {"list end", {323}, nkListEnd, "LIST", "a2"},
        {"channel modes", {324}, nkChannelModes, nullptr, ""},
        {"creation time: the command is the category", {329}, nkSystem, "329", "="},
        {"no topic", {331}, nkNoTopic, nullptr, ""},
        {"topic", {332}, nkTopic, nullptr, ""},
        {"inviting", {341}, nkInviting, nullptr, ""},
        {"summoning", {342}, nkSystem, "SUMMON", "a2 has been summoned"},
        {"server version", {351}, nkSystem, "VERSION", "a2 a3 a4"},
        {"who reply", {352}, nkSystem, "WHO", "a2"},
        {"names: channel and names, not its kind", {353}, nkNames, "NAMES", "a3 :a4"},
        {"links", {364}, nkLinks, nullptr, ""},
        {"end of links", {365}, nkSystem, "LINKS", "a2 a3"},
        {"end of names", {366}, nkEndOfNames, "NAMES", "a2 :a3"},
        {"ban list", {367}, nkSystem, "BANS", "a2 a3"},
        {"end of ban list", {368}, nkSystem, "BANS", "a2 :a3"},
        {"end of whowas", {369}, nkSystem, "WHOWAS", "a2 :a3"},
        {"info", {371, 374}, nkSystem, "INFO", "a2"},
        {"message of the day", {372, 376}, nkSystem, "MOTD", "a2"},
        {"its start logs in", {375}, nkMotdStart, "MOTD", "a2"},
        {"oper", {381}, nkSystem, "OPER", "a2"},
        {"rehash", {382}, nkSystem, "REHASH", "a2 :a3"},
        {"users", {392, 395}, nkSystem, "USERS", "a2"},
        {"errors up to the nick refusals", {401, 430}, nkError, nullptr, ""},
        {"nick refusals take the fallback", {431, 432, 433}, nkNickRefused, nullptr, ""},
        {"errors after them", {434, 502}, nkError, nullptr, ""},
        {"past the errors", {503, 613, 615, 999, 1000000}, nkUnknown, nullptr, ""},
        {"secure connection whois line", {614}, nkSystem, "WHOIS", "a2"},
    };
    for (const auto& c : cases) {
        for (const int32_t code : c.codes) {
            SCOPED_TRACE(std::string(c.why) + ": " + std::to_string(code));
            const TIdIRCNumeric row = FindNumeric(code);
            EXPECT_EQ(row.Kind, c.kind);
            ASSERT_EQ(row.Category != nullptr, c.category != nullptr);
            const std::vector<std::string> slots = {
                "irc.test", std::to_string(code), "me", "a2", "a3", "a4", "a5", "a6"};
            if (c.category != nullptr) {
                EXPECT_EQ(NumericCategory(row, slots), c.category);
                EXPECT_EQ(NumericText(row, slots, content), c.text == "=" ? content : c.text);
            }
        }
    }
}

TEST(Numerics, TextsReadOnlyTheParametersPresent) {
    const struct {
        const char* why;
        std::vector<std::string> slots;
        std::string text;
    } cases[] = {
        {"391: the server name first, as ngircd sends it, is skipped",
         {"irc.test", "391", "me", "irc.test", "Monday 12:00"},
         "irc.test :Monday 12:00"},
        {"391: in another case too",
         {"IRC.Test", "391", "me", "irc.TEST", "noon"},
         "IRC.Test :noon"},
        {"391 without the name: the time is P2",
         {"irc.test", "391", "me", "noon"},
         "irc.test :noon"},
        {"391: a name that only starts like the prefix is not it",
         {"irc.test", "391", "me", "irc.testing", "noon"},
         "irc.test :irc.testing"},
        {"391 with nothing after the recipient", {"irc.test", "391", "me"}, "irc.test :"},
        {"311 short of parameters: they read as empty",
         {"irc.test", "311", "me", "al"},
         "al is @  "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(NumericText(FindNumeric(std::stoi(c.slots[1])), c.slots, ""), c.text);
    }
}

TEST(Numerics, OnlyPlainDecimalDigitsMakeANumericReply) {
    EXPECT_EQ(NumericCode("001"), 1);
    EXPECT_EQ(NumericCode("2147483647"), INT32_MAX);
    for (const char* command :
         {"2147483648", "99999999999999999999", "-1", "+1", "1a", " 1", "$1F", "", "PRIVMSG"}) {
        EXPECT_EQ(NumericCode(command), std::nullopt) << command;
    }
}

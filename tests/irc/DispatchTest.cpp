// Received lines as the reader hands them over: the events each raises, in order (EventLog's
// notation), what it sends and the channel's members afterwards.
#include "IRCFixture.h"

using namespace std::string_literals;

namespace {

struct Case {
    const char* why;
    std::string lines;         // "\n" between lines; only the last line's events count
    std::string events;        // "|" between events
    std::string members = "="; // of #c afterwards: "=" unchanged, "gone" when not tracked
};

class Dispatch : public IRCFixture {
public:
    // Registered as "me" (alternative "alt"), in #c with alice (op), bob (voice) and carol.
    const std::string kSession =
        ":srv 001 me :Welcome\n:me!u@h JOIN #c\n:srv 353 me = #c :me @alice +bob carol";
    const std::string kMembers = "me alice@ bob+ carol";
    // ngircd's announcement: h is a member status, q an owner, and so on.
    const std::string k005 = ":srv 005 me PREFIX=(qaohv)~&@%+ CHANMODES=beI,k,l,imnpst :are\n";

    // The members of #c in order, "@" and "+" as IsOp and IsVoice answer for their nicks.
    std::string Members() const {
        const TIdIRCChannel* channel = irc->Channels().Get("#c");
        if (channel == nullptr) {
            return "gone";
        }
        std::string text;
        for (int32_t i = 0; i < channel->Names().Count(); ++i) {
            const std::string nick = channel->Names().Nick(i);
            text += (i ? " " : "") + nick + (irc->IsOp(nick) ? "@" : "") +
                    (irc->IsVoice(nick) ? "+" : "");
        }
        return text;
    }
};

} // namespace

TEST_F(Dispatch, LinesUpdateTheRegistryAndRaiseEventsInOrder) {
    std::string list = ":srv 321 me Channel :Users Name\n";
    for (int i = 0; i < 85; ++i) {
        list += ":srv 322 me #c" + std::to_string(i) + " 3 :topic\n";
    }
    const Case cases[] = {
        {"a message to a channel", ":alice!a@h PRIVMSG #c :hi there", "Message alice #c hi there"},
        {"a join: listed before the event", ":dave!d@h JOIN :#c",
         "Update #c Join dave 4|Join dave #c", kMembers + " dave"},
        {"a member joining again in another case", ":BOB!b@h JOIN #c", "Join bob #c"},
        {"after a removal the members behind it report their new index",
         ":bob!b@h PART #c\n:carol!c@h QUIT :x", "Quit carol(x)|Update #c Quit carol(x) 2",
         "me alice@"},
        {"a nick change reaches every channel, in order",
         ":me!u@h JOIN #d\n:bob!b@h JOIN #d\n:bob!b@h NICK rob",
         "NickChange bob rob|Update #c Nick bob 2|Update #d Nick bob 0", "me alice@ rob+ carol"},
        {"own join of a tracked channel: an empty one; MODE asked before OnJoined",
         ":me!u@h JOIN #C", "Sent MODE #C |Joined #C", ""},
        {"own nick echoed in another case is not own", ":ME!u@h JOIN #d", "Join me -"},
        {"a part: the event after the member left", ":bob!b@h PART #c :bye",
         "Update #c Part bob(bye) 2|Part bob(bye) #c", "me alice@ carol"},
        {"own part: readable in OnParted, then gone", ":me!u@h PART #c", "Parted #c/closed1",
         "gone"},
        {"a kick: OnKick while the victim is listed", ":alice!a@h KICK #c carol :out",
         "Kick alice(out) carol(out) #c|Update #c Kick carol(out) 3", "me alice@ bob+"},
        {"own kick", ":alice!a@h KICK #c me :out", "Kicked alice(out) #c/closed2", "gone"},
        {"own nick change: CurrentNick already new", ":me!u@h NICK me2",
         "NickChanged me me2|Update #c Nick me 0", "me2 alice@ bob+ carol"},
        {"logged in, a refused nick is only an error", ":srv 433 me x :in use",
         "Error srv 433 me x :in use"},
        {"a ping is answered", "PING :irc.test", "Sent PONG :irc.test"},
        {"a raw line keeps its command on each line of its text: no CR or NUL goes out",
         "/PRIVMSG #c :x\rJOIN #e\0vil"s, "Sent PRIVMSG #c :x|Sent PRIVMSG #c :JOIN #evil"},
        {"a break before the text cannot start a command: it becomes a blank", "/JOIN #c\rQUIT",
         "Sent JOIN #c QUIT"},
        {"a raw handler may suppress a line", ":alice!a@h KICK #c carol :hush", ""},
        {"a topic", ":alice!a@h TOPIC #C :new", "Update #c Topic null 0|Topic alice #c #c new"},
        {"+ov-b: op, voice, unban in order", ":alice!a@h MODE #c +ov-b carol me m!*@*",
         "ChannelMode alice #c #c +ov-b carol me m!*@*|Op alice #c carol|Update #c User carol 1|"
         "Voice alice #c me|Update #c User me 2|Unban alice #c m!*@*",
         "me+ alice@ bob+ carol@"},
        {"flags change the set", ":srv MODE #c +mnt",
         "ChannelMode srv #c #c +mnt|Update #c Mode null 0|ChannelModeChanged srv #c"},
        {"-k takes its key, so o takes alice", ":srv MODE #c -kov key alice bob",
         "ChannelMode srv #c #c -kov key alice bob|Update #c Mode null 0|Deop srv #c alice|"
         "Update #c User alice 0|Devoice srv #c bob|Update #c User bob 0",
         "me alice bob carol"},
        {"+l takes its number, -l none; an exception mask is no ban",
         ":srv MODE #c +l-le+b 5 m1 m2",
         "ChannelMode srv #c #c +l-le+b 5 m1 m2|Update #c Mode null 0|Update #c Mode null 0|"
         "Ban srv #c m2"},
        {"+o without a nick names nobody, not the server's entry", ":srv MODE #c +o",
         "ChannelMode srv #c #c +o|Op srv #c null"},
        {"a CTCP query to a channel is answered privately",
         ":alice!a@h PRIVMSG #c :\001VERSION\001",
         "CTCPQuery alice #c VERSION |Sent NOTICE alice :\001VERSION v1\001"},
        {"a second query within the second goes unanswered",
         ":alice!a@h PRIVMSG me :\001PING 1\001\n:bob!b@h PRIVMSG me :\001PING 1\001",
         "CTCPQuery bob - PING 1"},
        {"a suppressed query gets no answer", ":alice!a@h PRIVMSG me :\001VERSION hush\001",
         "CTCPQuery alice - VERSION hush"},
        {"a CTCP reply", ":al!a@h NOTICE me :\001VERSION x 1\001", "CTCPReply al - VERSION x 1"},
        {"DCC in a NOTICE is dropped", ":alice!a@h NOTICE me :\001DCC SEND a 1 2 3\001", ""},
        {"DCC SEND, every field unchanged, numbers far beyond 64 bits too",
         ":al!a@h PRIVMSG me :\001DCC SEND a.txt 99999999999999999999 70000 9\001",
         "DCCSend al 99999999999999999999 70000 a.txt 9"},
        {"DCC: two blanks in a row leave the address empty: dropped",
         ":al!a@h PRIVMSG me :\001DCC SEND a.txt  127 500\001", ""},
        {"own user modes", ":me MODE me :+iw-x", "UserMode +iw-x|UserModeChanged"},
        {"announced letters: h takes alice, o takes bob", k005 + ":alice!a@h MODE #c +ho alice bob",
         "ChannelMode alice #c #c +ho alice bob|Op alice #c bob|Update #c User bob 3",
         "me alice@ bob@+ carol"},
        {"names with announced symbols: the nick without them",
         k005 + ":srv 353 me = #c :~dave %erin @+frank",
         "System srv 353 NAMES #c :~dave %erin @+frank|Update #c Names null 0",
         kMembers + " dave erin frank@+"},
        {"a welcome names the client's nick", ":srv 001 me_ :Hi\n:me_!u@h PART #c",
         "Parted #c/closed1", "gone"},
        {"301: the away text on its user", ":srv 301 me carol :gone", "Away carol(gone)"},
        {"324: modes of a tracked channel, no setter", ":srv 324 me #c +tnl 5",
         "ChannelMode null #c #c +tnl 5|Update #c Mode null 0|Update #c Mode null 0|"
         "ChannelModeChanged null #c"},
        {"353 appends each new nick once", ":srv 353 me = #c :carol dave @e+ ",
         "System srv 353 NAMES #c :carol dave @e+ |Update #c Names null 0", kMembers + " dave e@+"},
        {"a list comes in batches of 40: the last", list + ":srv 323 me :End of LIST",
         "System srv 323 LIST End of LIST|List 85 78 1"},
        {"366: OnNames with the users", ":srv 366 me #c :End",
         "System srv 366 NAMES #c :End|Names 5 #c"},
        {"401 to 502: OnError", ":srv 401 me x :No such nick", "Error srv 401 me x :No such nick"},
        {"beyond the errors: unknown", ":srv 503 me :x", "Unknown srv 503 me :x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Start(kSession);
        Feed(c.lines);
        EXPECT_EQ(log.Lines, Split(c.events, '|'));
        EXPECT_EQ(Members(), c.members == "=" ? kMembers : c.members);
    }
}

TEST_F(Dispatch, NickFallbackWhileRegisteringEnds) {
    const struct {
        const char* why;
        std::string offers; // OnNicksInUse's answers in turn, "|" between; "": unbound
        std::string sent;   // the NICK lines after the registration, "|" between
        size_t refusals;    // 433 and 432 lines fed in turn
    } cases[] = {
        {"nick, then alt refused, the handler offers a refused nick: disconnect", "me", "NICK alt",
         2},
        {"a handler with endless fresh nicks meets the attempt limit",
         "n1|n2|n3|n4|n5|n6|n7|n8|n9|n10",
         "NICK alt|NICK n1|NICK n2|NICK n3|NICK n4|NICK n5|NICK n6|NICK n7|NICK n8", 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        Start("");
        const std::vector<std::string> offers = Split(c.offers, '|');
        size_t offered = 0;
        if (!offers.empty()) {
            irc->OnNicksInUse = [&](TIdIRC*, std::string& nick) { nick = offers.at(offered++); };
        }
        std::vector<std::string> sent;
        irc->OnSend = [&](TIdIRC*, const std::string& line) { sent.push_back(line); };
        for (size_t i = 0; i < c.refusals; ++i) {
            ASSERT_EQ(irc->State(), csConnected) << "after refusal " << i;
            // 432 (erroneous, a nick too long for the server) falls back like 433.
            irc->HandleReceivedLine(i % 2 ? ":srv 432 * x :Erroneous" : ":srv 433 * x :in use");
        }
        EXPECT_EQ(sent, Split(c.sent, '|'));
        EXPECT_EQ(irc->State(), csDisconnected);
    }
}

// A handler may destroy the component (the window closed from a nested event loop): the rest
// of the line's work is dropped, and nothing touches the freed component (ASan tells).
TEST_F(Dispatch, AHandlerMayDestroyTheComponent) {
    const struct {
        const char* why; // the first of the handlers below that the line raises
        std::string lines;
        bool registered = true;
    } cases[] = {
        {"OnKick, before the victim leaves", ":alice!a@h KICK #c carol"},
        {"OnCTCPQuery, before the answer", ":a!a@h PRIVMSG me :\001PING 1\001"},
        {"OnStateChange at the welcome", ":srv 001 me :Welcome", false},
        {"OnNicksInUse", ":srv 433 * me :in use\n:srv 433 * alt :in use", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        Start(c.registered ? kSession : "");
        const auto destroy = [this](auto&&...) { irc.reset(); };
        [&](auto&... AEvents) {
            ((AEvents = destroy), ...);
        }(irc->OnKick, irc->OnCTCPQuery, irc->OnStateChange, irc->OnNicksInUse);
        Feed(c.lines);
        EXPECT_EQ(irc, nullptr);
    }
}

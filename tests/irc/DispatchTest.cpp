// Received lines through the component, as the reader hands them over (the test's thread is
// the window's thread): which events each raises, in which order (EventLog's notation), what it
// sends and what the channel's member list holds afterwards.
#include "EventLog.h"
#include "IRCFixture.h"

#include <chrono>

namespace {

// AText cut at every ASeparator; an empty text is no piece at all.
std::vector<std::string> Split(const std::string& AText, char ASeparator) {
    std::vector<std::string> pieces;
    for (size_t from = 0; from < AText.size();) {
        const size_t at = std::min(AText.find(ASeparator, from), AText.size());
        pieces.push_back(AText.substr(from, at - from));
        from = at + 1;
    }
    return pieces;
}

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

    void Start(const std::string& ASession) {
        irc = Aimed(server);
        irc->SetNick("me");
        irc->SetAltNick("alt");
        irc->Replies().SetVersion("v1");
        log.Bind(*irc);
        irc->Connect();
        Feed(ASession);
    }
    void Feed(const std::string& ALines) {
        for (const std::string& line : Split(ALines, '\n')) {
            if (!irc) {
                return; // a handler destroyed it
            }
            log.Lines.clear();
            irc->HandleReceivedLine(line);
        }
    }
    std::string Members(const std::string& AChannel) const {
        const TIdIRCChannel* channel = irc->Channels().Get(AChannel);
        if (channel == nullptr) {
            return "gone";
        }
        std::string text;
        for (int32_t i = 0; i < channel->Names().Count(); ++i) {
            const int32_t flags = channel->Names().Flags(i);
            text += (i ? " " : "") + channel->Names().Nick(i) + (flags & 1 ? "@" : "") +
                    (flags & 2 ? "+" : "");
        }
        return text;
    }
    void Run(std::span<const Case> ACases, const std::string& ASession) {
        for (const Case& c : ACases) {
            SCOPED_TRACE(c.why);
            Start(ASession);
            Feed(c.lines);
            EXPECT_EQ(log.Lines, Split(c.events, '|'));
            EXPECT_EQ(Members("#c"), c.members == "=" ? kMembers : c.members);
            irc.reset();
        }
    }

    EventLog log;
};

} // namespace

TEST_F(Dispatch, NamedCommandsUpdateTheRegistryAndRaiseEventsInOrder) {
    const Case cases[] = {
        {"a message to a tracked channel", ":alice!a@h PRIVMSG #c :hi there",
         "Message alice #c hi there"},
        {"a message to the client has no channel", ":alice!a@h PRIVMSG me :psst",
         "Message alice - psst"},
        {"commands are case-sensitive", ":alice!a@h privmsg #c :hi",
         "Unknown alice privmsg #c :hi"},
        {"a text framed by byte 1 is never a message but an (empty) query",
         ":alice!a@h PRIVMSG #c :\x01", "CTCPQuery alice #c  "},
        {"a notice", ":alice!a@h NOTICE #c :note", "Notice alice #c note"},
        {"another user joins: listed before the event", ":dave!d@h JOIN :#c",
         "Update #c Join dave 4|Join dave #c", kMembers + " dave"},
        {"a member joining again in another case changes nothing", ":BOB!b@h JOIN #c",
         "Join bob #c"},
        {"after a removal the members behind it report their new index",
         ":bob!b@h PART #c\n:carol!c@h QUIT :x", "Quit carol(x)|Update #c Quit carol(x) 2",
         "me alice@"},
        {"a nick change reaches every channel, in order",
         ":me!u@h JOIN #d\n:bob!b@h JOIN #d\n:bob!b@h NICK rob",
         "NickChange bob rob|Update #c Nick bob 2|Update #d Nick bob 0", "me alice@ rob+ carol"},
        {"own join of a tracked channel replaces it with an empty one", ":me!u@h JOIN #C",
         "Sent MODE #C |Joined #C", ""},
        {"another user joins an untracked channel: no record appears", ":dave!d@h JOIN #x",
         "Join dave -"},
        {"own join: one MODE request before OnJoined", ":me!u@h JOIN #d",
         "Sent MODE #d |Joined #d"},
        {"own nick echoed in another case is not own", ":ME!u@h JOIN #d", "Join me -"},
        {"a part: the event after the member left", ":bob!b@h PART #c :bye",
         "Update #c Part bob(bye) 2|Part bob(bye) #c", "me alice@ carol"},
        {"own part: the record readable in OnParted, then gone", ":me!u@h PART #c :bye",
         "Parted #c/closed1", "gone"},
        {"a kick: OnKick while the victim is listed, then its removal",
         ":alice!a@h KICK #c carol :out",
         "Kick alice(out) carol(out) #c|Update #c Kick carol(out) 3", "me alice@ bob+"},
        {"own kick", ":alice!a@h KICK #c me :out", "Kicked alice(out) #c/closed2", "gone"},
        {"a kick in an untracked channel changes nothing", ":alice!a@h KICK #x carol :out",
         "Kick alice(out) carol(out) -"},
        {"another user's nick change: the events see the old nick", ":bob!b@h NICK robert",
         "NickChange bob robert|Update #c Nick bob 2", "me alice@ robert+ carol"},
        {"own nick change: CurrentNick already new", ":me!u@h NICK me2",
         "NickChanged me me2|Update #c Nick me 0", "me2 alice@ bob+ carol"},
        {"own nick change is recognised afterwards", ":me!u@h NICK me2\n:me2!u@h PART #c",
         "Parted #c/closed1", "gone"},
        {"a quit: the event before the member leaves", ":carol!c@h QUIT :gone",
         "Quit carol(gone)|Update #c Quit carol(gone) 3", "me alice@ bob+"},
        {"an invite", ":alice!a@h INVITE me #x", "Invite alice #x"},
        {"a kill leaves the victim listed", ":alice!a@h KILL carol :spam", "Kill alice carol spam"},
        {"a ping is answered, then OnPingPong", "PING :irc.test", "Sent PONG :irc.test|PingPong"},
        {"wallops", ":alice!a@h WALLOPS :ops", "Wallops alice ops"},
        {"a topic on a tracked channel", ":alice!a@h TOPIC #C :new",
         "Update #c Topic null 0|Topic alice #c #c new"},
        {"a topic on an untracked channel raises nothing", ":alice!a@h TOPIC #x :new", ""},
        {"+ov-b: op, voice, unban in order; no mode set change",
         ":alice!a@h MODE #c +ov-b carol me m!*@*",
         "ChannelMode alice #c #c +ov-b carol me m!*@*|Op alice #c carol|Update #c User carol 1|"
         "Voice alice #c me|Update #c User me 2|Unban alice #c m!*@*",
         "me+ alice@ bob+ carol@"},
        {"-v, -o, +b", ":alice!a@h MODE #c -vo+b bob alice m",
         "ChannelMode alice #c #c -vo+b bob alice m|Devoice alice #c bob|Update #c User bob 0|"
         "Deop alice #c alice|Update #c User alice 0|Ban alice #c m",
         "me alice bob carol"},
        {"flags change the set: one cuMode, then OnChannelModeChanged", ":srv MODE #c +mnt",
         "ChannelMode srv #c #c +mnt|Update #c Mode null 0|ChannelModeChanged srv #c"},
        {"+o without a nick names nobody, not the server's entry", ":srv MODE #c +o",
         "ChannelMode srv #c #c +o|Op srv #c null"},
        {"mode of an untracked channel", ":alice!a@h MODE #x +o carol", ""},
        {"CTCP VERSION to the client: answered to the sender",
         ":alice!a@h PRIVMSG me :\x01VERSION\x01",
         "CTCPQuery alice - VERSION |Sent NOTICE alice :\x01VERSION v1\x01"},
        {"a CTCP query to a channel is answered privately",
         ":alice!a@h PRIVMSG #c :\x01VERSION\x01",
         "CTCPQuery alice #c VERSION |Sent NOTICE alice :\x01VERSION v1\x01"},
        {"a suppressed query gets no answer", ":alice!a@h PRIVMSG me :\x01VERSION hush\x01",
         "CTCPQuery alice - VERSION hush"},
        {"ACTION to a channel",
         ":alice!a@h PRIVMSG #c :\x01"
         "ACTION waves\x01",
         "Action alice #c waves"},
        {"a CTCP reply", ":alice!a@h NOTICE me :\x01VERSION x 1.0\x01",
         "CTCPReply alice - VERSION x 1.0"},
        {"DCC in a NOTICE is dropped",
         ":alice!a@h NOTICE me :\x01"
         "DCC SEND a 1 2 3\x01",
         ""},
        {"DCC SEND, every field unchanged",
         ":alice!a@h PRIVMSG me :\x01"
         "DCC SEND a.txt 127 500 100\x01",
         "DCCSend alice 127 500 a.txt 100"},
        {"DCC: the word alone, no closing byte",
         ":alice!a@h PRIVMSG me :\x01"
         "DCC SEND",
         ""},
        {"own user modes", ":me MODE me :+iw-x", "UserMode +iw-x|UserModeChanged"},
        {"own user modes that change nothing", ":me MODE me :-o", "UserMode -o"},
        {"another nick's user modes are ignored", ":bob MODE bob :+i", ""},
    };
    Run(cases, kSession);
}

// The letters as ngircd announces them: h is a member status, q an owner, and so on.
TEST_F(Dispatch, ModeLettersFollowTheServersAnnouncement) {
    const std::string session = ":srv 005 me PREFIX=(qaohv)~&@%+ CHANMODES=beI,k,l,imnpst :are "
                                "supported\n" +
                                kSession;
    const Case cases[] = {
        {"+ho: h takes alice, o takes bob", ":alice!a@h MODE #c +ho alice bob",
         "ChannelMode alice #c #c +ho alice bob|Op alice #c bob|Update #c User bob 3",
         "me alice@ bob@+ carol"},
        {"names with announced symbols: the nick without them",
         ":srv 353 me = #c :~dave %erin @+frank",
         "System srv 353 NAMES #c :~dave %erin @+frank|Update #c Names null 0",
         kMembers + " dave erin frank@+"},
    };
    Run(cases, session);
}

TEST_F(Dispatch, NumericFamiliesRecordAndRaiseWhatTheirNumberSays) {
    // Not yet welcomed, in #c.
    const std::string session = ":me!u@h JOIN #c\n:srv 353 me = #c :me @alice +bob carol";
    const Case cases[] = {
        {"1 to 4: logged in, the whole Content", ":irc.test 001 me :Welcome",
         "State 4|System srv 1 WELCOME me :Welcome"},
        {"a welcome to another nick: the client's nick from now on",
         ":irc.test 001 me_ :Welcome\n:me_!u@h PART #c", "Parted #c/closed1", "gone"},
        {"375 logs in too", ":srv 375 me :- motd -", "State 4|System srv 375 MOTD - motd -"},
        {"informational: one OnSystem", ":srv 251 me :There are 2 users",
         "System srv 251 LUSER There are 2 users "},
        {"301: the away text on the user it is about", ":srv 301 me carol :fishing",
         "Away carol(fishing)"},
        {"305 and 306", ":srv 306 me :now away\n:srv 305 me :back", "UnAway back"},
        {"324: modes of a tracked channel, no setter", ":srv 324 me #c +tnl 5",
         "ChannelMode null #c #c +tnl 5|Update #c Mode null 0|Update #c Mode null 0|"
         "ChannelModeChanged null #c"},
        {"331 tracked", ":srv 331 me #c :No topic", "Update #c Topic null 0|NoTopic #c No topic"},
        {"331 untracked raises nothing", ":srv 331 me #x :No topic", ""},
        {"332 untracked: OnTopic without a channel", ":srv 332 me #x :t", "Topic srv - #x t"},
        {"341", ":srv 341 me carol #c", "Inviting carol #c"},
        {"353 of an untracked channel: OnSystem only", ":srv 353 me = #x :a b",
         "System srv 353 NAMES #x :a b"},
        {"353 appends each new nick once, one cuNames per line",
         ":srv 353 me = #c :carol dave @e+ ",
         "System srv 353 NAMES #c :carol dave @e+ |Update #c Names null 0", kMembers + " dave e@+"},
        {"364: the mask from P3, the server from P2, hops split from the text",
         ":srv 364 me *.test irc.test :0 The server", "Links irc.test *.test 0 The server"},
        {"366: OnNames with the whole user collection", ":srv 366 me #c :End",
         "System srv 366 NAMES #c :End|Names 5 #c"},
        {"391 names the server in another case", ":irc.test 391 me IRC.TEST :noon",
         "System srv 391 TIME irc.test :noon"},
        {"401 to 502: OnError with the command and Content", ":srv 401 me x :No such nick",
         "Error srv 401 me x :No such nick"},
        {"the last error", ":srv 502 me :No", "Error srv 502 me :No"},
        {"beyond the errors: unknown", ":srv 503 me :x", "Unknown srv 503 me :x"},
        {"the feature list (5) is not named", ":srv 005 me X=1 :ok", "Unknown srv 005 me X=1 :ok"},
        {"a gap inside a family (207) is unknown", ":srv 207 me x", "Unknown srv 207 me x"},
        {"a number over 32 bits is a command", ":srv 99999999999 me", "Unknown srv 99999999999 me"},
        {"a family's text reads its parameters", ":srv 311 me al a h * :Al",
         "System srv 311 WHOIS al is a@h * Al"},
        {"an unnamed category is the number", ":srv 329 me #c 12345",
         "System srv 329 329 me #c 12345"},
    };
    Run(cases, session);
}

// OnList gets its entries in batches of 40, and only while it is bound.
TEST_F(Dispatch, ChannelListComesInBatchesOfForty) {
    Start("");
    std::vector<std::string> batches;
    irc->OnList = [&](TIdIRC*, const std::vector<std::string>* l, int32_t at, bool last) {
        batches.push_back(std::to_string(l->size()) + "@" + std::to_string(at) + (last ? "!" : ""));
    };
    std::string lines = ":srv 321 me Channel :Users Name\n";
    for (int i = 0; i < 85; ++i) {
        lines += ":srv 322 me #c" + std::to_string(i) + " 3 :topic\n";
    }
    Feed(lines + ":srv 323 me :End of LIST");
    EXPECT_EQ(batches, (std::vector<std::string>{"0@0", "40@0", "79@39", "85@78!"}));
    EXPECT_EQ(log.Lines, (std::vector<std::string>{"System srv 323 LIST End of LIST"}));
    EXPECT_TRUE(irc->ListBuffer().empty());
}

// A server drops a client that does not answer its PING, whatever the application binds;
// only a raw handler that suppresses the line stops the answer, with everything else.
TEST_F(Dispatch, PingIsAnsweredUnlessTheRawLineIsSuppressed) {
    Start(kSession);
    irc->OnPingPong = nullptr;
    Feed("PING :x");
    EXPECT_EQ(log.Lines, (std::vector<std::string>{"Sent PONG :x"}));
    irc->OnRaw = [](TIdIRC*, TIdIRCUser*, const std::string&, const std::string&, bool& s) {
        s = true;
    };
    for (const char* line : {"PING :x", ":alice!a@h KICK #c carol", ":srv 433 me x :in use"}) {
        SCOPED_TRACE(line);
        Feed(line);
        EXPECT_EQ(log.Lines, std::vector<std::string>());
    }
    EXPECT_EQ(Members("#c"), kMembers);
}

TEST_F(Dispatch, NickFallbackWhileRegisteringEnds) {
    struct FallbackCase {
        const char* why;
        std::string offers; // OnNicksInUse's answers in turn, "|" between; "": unbound
        std::string alt;
        std::string sent; // the NICK lines after the registration, "|" between
        size_t refusals;  // 433 and 432 lines fed in turn
    };
    const FallbackCase cases[] = {
        {"nick, then alt refused, unbound: disconnect", "", "alt", "NICK alt", 2},
        {"alt equal to the nick: nothing new to try", "", "me", "", 1},
        {"the handler offers a nick already refused", "me", "alt", "NICK alt", 2},
        {"the handler's nick refused, then offered again", "third|third", "alt",
         "NICK alt|NICK third", 3},
        {"a handler with endless fresh nicks meets the attempt limit",
         "n1|n2|n3|n4|n5|n6|n7|n8|n9|n10", "alt",
         "NICK alt|NICK n1|NICK n2|NICK n3|NICK n4|NICK n5|NICK n6|NICK n7|NICK n8", 10},
    };
    for (const FallbackCase& c : cases) {
        SCOPED_TRACE(c.why);
        Start("");
        irc->SetAltNick(c.alt);
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
        irc.reset();
    }
    // Logged in, a refused nick change is only an error.
    Start(kSession);
    Feed(":srv 433 me x :in use");
    EXPECT_EQ(log.Lines, (std::vector<std::string>{"Error srv 433 me x :in use"}));
    EXPECT_EQ(irc->State(), csLoggedIn);
}

// With OnCTCPQuery unbound the answer still goes; a burst is cut by the rate limit.
TEST_F(Dispatch, CTCPAnswersAreRateLimited) {
    Start(kSession);
    irc->OnCTCPQuery = nullptr;
    auto now = std::chrono::steady_clock::time_point();
    irc->CTCPLimiter() = TIdIRCCTCPLimiter([&now] { return now; });
    std::vector<std::string> sent;
    for (const char* nick : {"alice", "bob", "carol", "+", "alice", "bob"}) {
        if (*nick == '+') {
            now += std::chrono::seconds(1);
            continue;
        }
        Feed(std::string(":") + nick + "!x@h PRIVMSG #c :\x01PING 1\x01");
        sent.insert(sent.end(), log.Lines.begin(), log.Lines.end());
    }
    EXPECT_EQ(sent, (std::vector<std::string>{"Sent NOTICE alice :\x01PING 1\x01",
                                              "Sent NOTICE bob :\x01PING 1\x01"}));
}

// A handler may destroy the component (the window closed from a nested event loop inside it):
// whatever the line still had to do is dropped, and nothing touches the freed component (the
// AddressSanitizer build tells).
TEST_F(Dispatch, AHandlerMayDestroyTheComponent) {
    const auto destroy = [this](auto&&...) { irc.reset(); };
    struct DestroyCase {
        const char* why;
        std::function<void(TIdIRC&)> bind;
        std::string lines;
        bool registered = true;
    };
    const DestroyCase cases[] = {
        {"OnParted", [&](TIdIRC& i) { i.OnParted = destroy; }, ":me!u@h PART #c"},
        {"OnKick", [&](TIdIRC& i) { i.OnKick = destroy; }, ":alice!a@h KICK #c carol"},
        {"OnQuit", [&](TIdIRC& i) { i.OnQuit = destroy; }, ":carol!c@h QUIT :x"},
        {"OnOp", [&](TIdIRC& i) { i.OnOp = destroy; }, ":a!a@h MODE #c +oo bob carol"},
        {"OnCTCPQuery", [&](TIdIRC& i) { i.OnCTCPQuery = destroy; },
         ":a!a@h PRIVMSG me :\x01PING 1\x01"},
        {"OnSystem before the names", [&](TIdIRC& i) { i.OnSystem = destroy; },
         ":srv 353 me = #c :dave"},
        {"OnList", [&](TIdIRC& i) { i.OnList = destroy; }, ":srv 321 me :Channel"},
        {"OnStateChange at the welcome", [&](TIdIRC& i) { i.OnStateChange = destroy; },
         ":srv 001 me :Welcome", false},
        {"OnNicksInUse", [&](TIdIRC& i) { i.OnNicksInUse = destroy; },
         ":srv 433 * me :in use\n:srv 433 * alt :in use", false},
    };
    for (const DestroyCase& c : cases) {
        SCOPED_TRACE(c.why);
        Start(c.registered ? kSession : "");
        c.bind(*irc);
        Feed(c.lines);
        EXPECT_EQ(irc, nullptr);
    }
}

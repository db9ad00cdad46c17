// Every event of a TIdIRC written down as one line of text, in the order raised, so that a
// test compares the whole sequence a server line caused with one vector. Users show as their
// nick ("srv" for the server's entry with the empty nick, "null" for none), channels as their
// name ("-" for none).
#pragma once

#include "IdIRC.h"

#include <string>
#include <vector>

struct EventLog {
    std::vector<std::string> Lines;

    static std::string U(const TIdIRCUser* AUser) {
        return AUser == nullptr ? "null" : AUser->Nick().empty() ? "srv" : AUser->Nick();
    }
    static std::string C(const TIdIRCChannel* AChannel) {
        return AChannel == nullptr ? "-" : AChannel->Name();
    }
    void Add(std::string ALine) { Lines.push_back(std::move(ALine)); }

    // Binds every event that a received line can raise, and OnSend. OnChannelUpdate reaches
    // only channels created after this call.
    void Bind(TIdIRC& AIrc) {
        using S = const std::string&;
        auto message = [this](const char* AKind) {
            return [this, AKind](TIdIRC*, TIdIRCUser* u, TIdIRCChannel* c, S t) {
                Add(std::string(AKind) + " " + U(u) + " " + C(c) + " " + t);
            };
        };
        AIrc.OnMessage = message("Message");
        AIrc.OnNotice = message("Notice");
        AIrc.OnAction = message("Action");
        AIrc.OnJoin = [this](TIdIRC*, TIdIRCUser* u, TIdIRCChannel* c) {
            Add("Join " + U(u) + " " + C(c));
        };
        AIrc.OnJoined = [this](TIdIRC*, TIdIRCChannel* c) { Add("Joined " + C(c)); };
        AIrc.OnPart = [this](TIdIRC*, TIdIRCUser* u, TIdIRCChannel* c) {
            Add("Part " + U(u) + " " + C(c) + " " + u->Reason());
        };
        AIrc.OnParted = [this](TIdIRC*, TIdIRCChannel* c) {
            Add("Parted " + C(c) + (c ? " close " + std::to_string(c->CloseType()) : ""));
        };
        AIrc.OnKick = [this](TIdIRC*, TIdIRCUser* u, TIdIRCUser* v, TIdIRCChannel* c) {
            int32_t at = -1;
            Add("Kick " + U(u) + " " + U(v) + " " + C(c) + " " + v->Reason() +
                (c && c->FindUser(v->Nick(), at) ? " listed" : ""));
        };
        AIrc.OnKicked = [this](TIdIRC*, TIdIRCUser* u, TIdIRCChannel* c) {
            Add("Kicked " + U(u) + " " + C(c) +
                (c ? " close " + std::to_string(c->CloseType()) : ""));
        };
        AIrc.OnNickChange = [this](TIdIRC*, TIdIRCUser* u, S n) {
            Add("NickChange " + U(u) + " " + n);
        };
        AIrc.OnNickChanged = [this](TIdIRC* i, S old) {
            Add("NickChanged " + old + " " + i->CurrentNick());
        };
        AIrc.OnTopic = [this](TIdIRC*, TIdIRCUser* u, TIdIRCChannel* c, S n, S t) {
            Add("Topic " + U(u) + " " + C(c) + " " + n + " " + t);
        };
        AIrc.OnQuit = [this](TIdIRC*, TIdIRCUser* u) { Add("Quit " + U(u) + " " + u->Reason()); };
        AIrc.OnNames = [this](TIdIRC*, TIdIRCUsers* us, TIdIRCChannel* c) {
            Add("Names " + C(c) + " " + std::to_string(us->Count()));
        };
        AIrc.OnInvite = [this](TIdIRC*, TIdIRCUser* u, S c) { Add("Invite " + U(u) + " " + c); };
        AIrc.OnPingPong = [this](TIdComponent*) { Add("PingPong"); };
        AIrc.OnError = [this](TIdIRC*, TIdIRCUser* u, S n, S e) {
            Add("Error " + U(u) + " " + n + " " + e);
        };
        AIrc.OnAway = [this](TIdIRC*, TIdIRCUser* u) { Add("Away " + U(u) + " " + u->Reason()); };
        AIrc.OnNowAway = [this](TIdIRC*, S t) { Add("NowAway " + t); };
        AIrc.OnUnAway = [this](TIdIRC*, S t) { Add("UnAway " + t); };
        AIrc.OnWallops = [this](TIdIRC*, TIdIRCUser* u, S t) { Add("Wallops " + U(u) + " " + t); };
        AIrc.OnSystem = [this](TIdIRC*, TIdIRCUser* u, int32_t n, S c, S t) {
            Add("System " + U(u) + " " + std::to_string(n) + " " + c + " " + t);
        };
        auto op = [this](const char* AKind) {
            return [this, AKind](TIdIRC*, TIdIRCUser* u, TIdIRCChannel* c, TIdIRCUser* t) {
                Add(std::string(AKind) + " " + U(u) + " " + C(c) + " " + U(t));
            };
        };
        AIrc.OnOp = op("Op");
        AIrc.OnDeop = op("Deop");
        AIrc.OnVoice = op("Voice");
        AIrc.OnDevoice = op("Devoice");
        auto ban = [this](const char* AKind) {
            return [this, AKind](TIdIRC*, TIdIRCUser* u, TIdIRCChannel* c, S m) {
                Add(std::string(AKind) + " " + U(u) + " " + C(c) + " " + m);
            };
        };
        AIrc.OnBan = ban("Ban");
        AIrc.OnUnban = ban("Unban");
        AIrc.OnChannelMode = [this](TIdIRC*, TIdIRCUser* u, TIdIRCChannel* c, S n, S m) {
            Add("ChannelMode " + U(u) + " " + C(c) + " " + n + " " + m);
        };
        AIrc.OnChannelModeChanged = [this](TIdIRC*, TIdIRCUser* u, TIdIRCChannel* c) {
            Add("ChannelModeChanged " + U(u) + " " + C(c));
        };
        AIrc.OnUserMode = [this](TIdIRC*, S m) { Add("UserMode " + m); };
        AIrc.OnUserModeChanged = [this](TIdComponent*) { Add("UserModeChanged"); };
        AIrc.OnNoTopic = [this](TIdIRC*, TIdIRCChannel* c, S t) {
            Add("NoTopic " + C(c) + " " + t);
        };
        AIrc.OnInviting = [this](TIdIRC*, S n, S c) { Add("Inviting " + n + " " + c); };
        AIrc.OnKill = [this](TIdIRC*, TIdIRCUser* u, S v, S r) {
            Add("Kill " + U(u) + " " + v + " " + r);
        };
        AIrc.OnUnknownCommand = [this](TIdIRC*, TIdIRCUser* u, S c, S t) {
            Add("Unknown " + U(u) + " " + c + " " + t);
        };
        AIrc.OnCTCPReply = [this](TIdIRC*, TIdIRCUser* u, TIdIRCChannel* c, S cmd, S a) {
            Add("CTCPReply " + U(u) + " " + C(c) + " " + cmd + " " + a);
        };
        AIrc.OnSend = [this](TIdIRC*, S l) { Add("Sent " + l); };
        AIrc.OnDCCChat = [this](TIdIRC*, S n, S ip, S p) {
            Add("DCCChat " + n + " " + ip + " " + p);
        };
        AIrc.OnDCCSend = [this](TIdIRC*, S n, S ip, S p, S f, S s) {
            Add("DCCSend " + n + " " + ip + " " + p + " " + f + " " + s);
        };
        AIrc.OnDCCResume = [this](TIdIRC*, S n, S p, S f, S at) {
            Add("DCCResume " + n + " " + p + " " + f + " " + at);
        };
        AIrc.OnDCCAccept = [this](TIdIRC*, S n, S p, S f, S at) {
            Add("DCCAccept " + n + " " + p + " " + f + " " + at);
        };
        AIrc.OnLinks = [this](TIdIRC*, S m, S s, S h, S i) {
            Add("Links " + m + " " + s + " " + h + " " + i);
        };
        AIrc.OnStateChange = [this, &AIrc](TIdComponent*) {
            Add("State " + std::to_string(AIrc.State()));
        };
        AIrc.OnChannelUpdate = [this](TIdIRCChannel* c, TIdIRCChannelUpdateType t, TIdIRCUser* u,
                                      int32_t info) {
            static const char* const kinds[] = {"Mode", "Topic", "User", "Names", "Nick",
                                                "Join", "Part",  "Kick", "Quit"};
            Add("Update " + C(c) + " " + kinds[t] + " " + U(u) + " " + std::to_string(info));
        };
    }
};

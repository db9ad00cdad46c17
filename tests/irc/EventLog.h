// Every event of a TIdIRC as a line, in order: its name and the arguments after the sender. A
// user is its nick ("srv" if empty, "null" for none) and Reason in brackets; a channel its name
// ("-" for none) with "/closed" and its CloseType once closing. Apart from the fixture: the
// fuzz target binds the same handlers without GoogleTest.
#pragma once

#include "IdIRC.h"

#include <string>
#include <type_traits>
#include <vector>

struct EventLog {
    std::vector<std::string> Lines;

    static std::string Str(const TIdIRCUser* u) {
        const std::string nick = !u ? "null" : u->Nick().empty() ? "srv" : u->Nick();
        return u && !u->Reason().empty() ? nick + "(" + u->Reason() + ")" : nick;
    }
    static std::string Str(const TIdIRCChannel* c) {
        return !c               ? "-"
               : c->CloseType() ? c->Name() + "/closed" + std::to_string(c->CloseType())
                                : c->Name();
    }
    static std::string Str(const TIdIRCUsers* u) { return std::to_string(u->Count()); }
    static std::string Str(const std::vector<std::string>* l) { return std::to_string(l->size()); }
    static std::string Str(const std::string& s) { return s; }
    static std::string Str(int32_t n) { return std::to_string(n); }
    static std::string Str(TIdIRCChannelUpdateType t) {
        return std::vector<std::string>{"Mode", "Topic", "User", "Names", "Nick",
                                        "Join", "Part",  "Kick", "Quit"}[size_t(t)];
    }

    template <class E, class... Rest> void Rec(E& AEvent, const char* AName, Rest&&... ARest) {
        AEvent = [this, AName](auto* sender, auto&&... args) {
            std::string line = AName;
            if constexpr (std::is_same_v<decltype(sender), TIdIRCChannel*>) {
                line += " " + Str(sender);
            }
            ((line += " " + Str(args)), ...);
            Lines.push_back(line);
        };
        if constexpr (sizeof...(ARest) > 0) {
            Rec(ARest...);
        }
    }

    // Every event a received line can raise, and OnSend; not OnPingPong (a PING is answered
    // without it) and OnNicksInUse. A line whose text ends in "hush" is suppressed, and
    // so is a CTCP query whose arguments are "hush". OnChannelUpdate reaches only channels
    // created after this call.
    void Bind(TIdIRC& I) {
        Rec(I.OnMessage, "Message", I.OnNotice, "Notice", I.OnAction, "Action", I.OnJoin, "Join",
            I.OnJoined, "Joined", I.OnPart, "Part", I.OnParted, "Parted", I.OnKick, "Kick",
            I.OnKicked, "Kicked", I.OnNickChange, "NickChange", I.OnTopic, "Topic", I.OnQuit,
            "Quit", I.OnNames, "Names", I.OnInvite, "Invite", I.OnError, "Error", I.OnAway, "Away",
            I.OnNowAway, "NowAway", I.OnUnAway, "UnAway", I.OnWallops, "Wallops", I.OnSystem,
            "System", I.OnOp, "Op", I.OnDeop, "Deop", I.OnBan, "Ban", I.OnUnban, "Unban", I.OnVoice,
            "Voice", I.OnDevoice, "Devoice", I.OnChannelMode, "ChannelMode", I.OnChannelModeChanged,
            "ChannelModeChanged", I.OnUserMode, "UserMode", I.OnUserModeChanged, "UserModeChanged",
            I.OnInviting, "Inviting", I.OnKill, "Kill", I.OnUnknownCommand, "Unknown",
            I.OnCTCPReply, "CTCPReply", I.OnSend, "Sent", I.OnNoTopic, "NoTopic", I.OnDCCChat,
            "DCCChat", I.OnDCCSend, "DCCSend", I.OnDCCResume, "DCCResume", I.OnDCCAccept,
            "DCCAccept", I.OnLinks, "Links", I.OnChannelUpdate, "Update", I.OnList, "List");
        I.OnRaw = [](TIdIRC*, TIdIRCUser*, const std::string&, const std::string& AContent,
                     bool& VSuppress) { VSuppress = AContent.ends_with("hush"); };
        I.OnNickChanged = [this](TIdIRC* i, const std::string& old) {
            Lines.push_back("NickChanged " + old + " " + i->CurrentNick());
        };
        I.OnCTCPQuery = [this](TIdIRC*, TIdIRCUser* AUser, TIdIRCChannel* AChannel,
                               const std::string& ACommand, const std::string& AArguments,
                               bool& VSuppress) {
            Lines.push_back("CTCPQuery " + Str(AUser) + " " + Str(AChannel) + " " + ACommand + " " +
                            AArguments);
            VSuppress = AArguments == "hush";
        };
        I.OnStateChange = [this, &I](TIdComponent*) {
            Lines.push_back("State " + std::to_string(I.State()));
        };
    }
};

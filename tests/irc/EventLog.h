// Every event of a TIdIRC as one line of text, in the order raised: the event's name and its
// arguments after the sender. A user shows as its nick ("srv" for the empty nick, "null" for
// none) with its Reason in brackets; a channel as its name ("-" for none) with "/closed" and
// its CloseType once closing.
#pragma once

#include "IdIRC.h"

#include <string>
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
    static std::string Str(const std::string& s) { return s; }
    static std::string Str(int32_t n) { return std::to_string(n); }
    static std::string Str(TIdIRCChannelUpdateType t) {
        static const char* const kinds[] = {"Mode", "Topic", "User", "Names", "Nick",
                                            "Join", "Part",  "Kick", "Quit"};
        return kinds[t];
    }

    // A handler that writes AName and the arguments after the sender (a channel sender too).
    auto Rec(std::string AName) {
        return [this, AName](auto* sender, auto&&... args) {
            std::string line = AName;
            if constexpr (std::is_same_v<decltype(sender), TIdIRCChannel*>) {
                line += " " + Str(sender);
            }
            ((line += " " + Str(args)), ...);
            Lines.push_back(line);
        };
    }

    // Binds every event a received line can raise, and OnSend; not OnRaw, OnNicksInUse and
    // OnList, whose handlers answer something. A CTCP query whose arguments are "hush" is
    // suppressed. OnChannelUpdate reaches only channels created after this call.
    void Bind(TIdIRC& AIrc) {
        AIrc.OnMessage = Rec("Message");
        AIrc.OnNotice = Rec("Notice");
        AIrc.OnAction = Rec("Action");
        AIrc.OnJoin = Rec("Join");
        AIrc.OnJoined = Rec("Joined");
        AIrc.OnPart = Rec("Part");
        AIrc.OnParted = Rec("Parted");
        AIrc.OnKick = Rec("Kick");
        AIrc.OnKicked = Rec("Kicked");
        AIrc.OnNickChange = Rec("NickChange");
        AIrc.OnNickChanged = [this](TIdIRC* i, const std::string& old) {
            Lines.push_back("NickChanged " + old + " " + i->CurrentNick());
        };
        AIrc.OnTopic = Rec("Topic");
        AIrc.OnQuit = Rec("Quit");
        AIrc.OnNames = Rec("Names");
        AIrc.OnInvite = Rec("Invite");
        AIrc.OnPingPong = Rec("PingPong");
        AIrc.OnError = Rec("Error");
        AIrc.OnAway = Rec("Away");
        AIrc.OnNowAway = Rec("NowAway");
        AIrc.OnUnAway = Rec("UnAway");
        AIrc.OnWallops = Rec("Wallops");
        AIrc.OnSystem = Rec("System");
        AIrc.OnOp = Rec("Op");
        AIrc.OnDeop = Rec("Deop");
        AIrc.OnBan = Rec("Ban");
        AIrc.OnUnban = Rec("Unban");
        AIrc.OnVoice = Rec("Voice");
        AIrc.OnDevoice = Rec("Devoice");
        AIrc.OnChannelMode = Rec("ChannelMode");
        AIrc.OnChannelModeChanged = Rec("ChannelModeChanged");
        AIrc.OnUserMode = Rec("UserMode");
        AIrc.OnUserModeChanged = Rec("UserModeChanged");
        AIrc.OnInviting = Rec("Inviting");
        AIrc.OnKill = Rec("Kill");
        AIrc.OnUnknownCommand = Rec("Unknown");
        AIrc.OnCTCPReply = Rec("CTCPReply");
        AIrc.OnCTCPQuery = [this](TIdIRC*, TIdIRCUser* AUser, TIdIRCChannel* AChannel,
                                  const std::string& ACommand, const std::string& AArguments,
                                  bool& VSuppress) {
            Lines.push_back("CTCPQuery " + Str(AUser) + " " + Str(AChannel) + " " + ACommand + " " +
                            AArguments);
            VSuppress = AArguments == "hush";
        };
        AIrc.OnStateChange = [this, &AIrc](TIdComponent*) {
            Lines.push_back("State " + std::to_string(AIrc.State()));
        };
        AIrc.OnSend = Rec("Sent");
        AIrc.OnNoTopic = Rec("NoTopic");
        AIrc.OnDCCChat = Rec("DCCChat");
        AIrc.OnDCCSend = Rec("DCCSend");
        AIrc.OnDCCResume = Rec("DCCResume");
        AIrc.OnDCCAccept = Rec("DCCAccept");
        AIrc.OnLinks = Rec("Links");
        AIrc.OnChannelUpdate = Rec("Update");
    }
};

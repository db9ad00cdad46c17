// TIdIRC's inbound side for named commands: one table from command text to handler, the
// handlers with their registry updates in the order the events promise, and the mode parsers.
//
// Parameters are read by position: Param(n) is slot n + 1. "Own" means a nick equal to
// CurrentNick byte for byte, as the server echoes the client's nick back the way it took it.
//
// An event's handler may destroy the component (the window closed from a nested event loop
// inside it). DispatchLine holds the life record for the whole line, so a handler that has
// more to do after an event keeps the record's pointer and stops when the component is gone.
#include "IdIRC.h"

#include "IdIRCCTCP.h"
#include "IdIRCSameBytes.h"

#include <charconv>

namespace {

// The limit of "+l": a decimal number, with an optional sign; anything else is 0.
int32_t LimitOf(const std::string& AText) {
    const char* first = AText.data();
    const char* last = first + AText.size();
    if (first != last && *first == '+') {
        ++first;
    }
    int32_t value = 0;
    const auto [end, error] = std::from_chars(first, last, value);
    return error == std::errc() && end == last && first != last ? value : 0;
}

// The channel-set element of a flag letter, or -1 for a letter the set does not hold.
int ChannelModeOf(char ALetter) {
    switch (ALetter) {
    case 'p':
        return cmPrivate;
    case 's':
        return cmSecret;
    case 'i':
        return cmInviteOnly;
    case 't':
        return cmOpsSetTopic;
    case 'n':
        return cmNoExternalMessages;
    case 'm':
        return cmModerated;
    default:
        return -1;
    }
}

} // namespace

// The whole set of named commands, in the order of their index. Exact and case-sensitive:
// "privmsg" is not PRIVMSG and reaches OnUnknownCommand. PRIVMSG comes first because it is
// the line a busy channel sends most.
struct TIdIRCCommandTable {
    struct TCommand {
        std::string_view Name;
        void (TIdIRC::*Handler)(TIdIRCUser*);
    };
    static constexpr TCommand Commands[] = {
        {"PRIVMSG", &TIdIRC::DoPrivmsg}, {"NOTICE", &TIdIRC::DoNotice},
        {"JOIN", &TIdIRC::DoJoin},       {"PART", &TIdIRC::DoPart},
        {"KICK", &TIdIRC::DoKick},       {"MODE", &TIdIRC::DoMode},
        {"NICK", &TIdIRC::DoNick},       {"QUIT", &TIdIRC::DoQuit},
        {"INVITE", &TIdIRC::DoInvite},   {"KILL", &TIdIRC::DoKill},
        {"PING", &TIdIRC::DoPing},       {"WALLOPS", &TIdIRC::DoWallops},
        {"TOPIC", &TIdIRC::DoTopic},
    };
};

int TIdIRC::CommandIndex() const {
    const auto& commands = TIdIRCCommandTable::Commands;
    const std::string_view command = FLine.CommandView();
    for (size_t i = 0; i < std::size(commands); ++i) {
        if (SameBytes(commands[i].Name, command)) {
            return int(i);
        }
    }
    return -1;
}

bool TIdIRC::IsChannelName(std::string_view AName) {
    return !AName.empty() && std::string_view("!#&+").find(AName.front()) != std::string::npos;
}

bool TIdIRC::DispatchCommand(TIdIRCUser* AUser) {
    // The named commands first: they are most of a busy channel's lines, and no name is a
    // number.
    if (const int index = CommandIndex(); index >= 0) {
        (this->*TIdIRCCommandTable::Commands[index].Handler)(AUser);
        return true;
    }
    if (const std::optional<int32_t> code = Id::NumericCode(FLine.Command)) {
        return DoNumeric(AUser, *code);
    }
    return false;
}

std::string TIdIRC::ModeText(const std::string& AFirst, size_t AFromSlot) const {
    std::string text = AFirst;
    for (size_t slot = AFromSlot; slot < TokenCount; ++slot) {
        if (const std::string_view token = FLine.TokenView(slot); !token.empty()) {
            text.append(1, ' ').append(token);
        }
    }
    return text;
}

// --- Messages ----------------------------------------------------------------------------

void TIdIRC::DoPrivmsg(TIdIRCUser* AUser) {
    if (Id::IsCTCP(FLine.TokenView(3))) {
        HandleCTCPQuery();
    } else if (OnMessage) {
        OnMessage(this, AUser, FChannels.Get(Param(1)), Param(2));
    }
}

void TIdIRC::DoNotice(TIdIRCUser* AUser) {
    if (Id::IsCTCP(FLine.TokenView(3))) {
        HandleCTCPReply();
    } else if (OnNotice) {
        OnNotice(this, AUser, FChannels.Get(Param(1)), Param(2));
    }
}

void TIdIRC::DoWallops(TIdIRCUser* AUser) {
    RaiseEvent(OnWallops, this, AUser, Param(1));
}

void TIdIRC::DoInvite(TIdIRCUser* AUser) {
    RaiseEvent(OnInvite, this, AUser, Param(2));
}

void TIdIRC::DoKill(TIdIRCUser* AUser) {
    RaiseEvent(OnKill, this, AUser, Param(1), Param(2));
}

// Answered whatever is bound: a server drops a client that does not answer.
void TIdIRC::DoPing(TIdIRCUser*) {
    SendUrgent("PONG :" + Param(1));
    RaiseEvent(OnPingPong, this);
}

// --- Channel membership ------------------------------------------------------------------
//
// Channel records exist only from the client's own JOIN to its own PART or KICK. A line about
// a channel the client does not track (or its own, echoed in another letter case) changes no
// record and still raises its event, with no channel.

void TIdIRC::DoJoin(TIdIRCUser* AUser) {
    const std::string& name = Param(1);
    if (FLine.SenderNick == FCurrentNick) {
        TIdIRCChannel* channel = FChannels.Add(name);
        channel->SetActive(true);
        Mode(name, std::string()); // the server answers with the channel's modes (324)
        RaiseEvent(OnJoined, this, channel);
        return;
    }
    TIdIRCChannel* channel = FChannels.Get(name);
    if (channel != nullptr) {
        channel->Join(AUser);
    }
    RaiseEvent(OnJoin, this, AUser, channel);
}

void TIdIRC::DoPart(TIdIRCUser* AUser) {
    AUser->SetReason(Param(2));
    TIdIRCChannel* channel = FChannels.Get(Param(1));
    if (FLine.SenderNick == FCurrentNick) {
        if (channel != nullptr) {
            channel->SetActive(false);
            channel->SetCloseType(1);
        }
        TLife* const life = FLife;
        RaiseEvent(OnParted, this, channel);
        if (life->Alive) {
            FChannels.Remove(Param(1));
        }
        return;
    }
    if (channel != nullptr) {
        channel->Part(AUser);
    }
    RaiseEvent(OnPart, this, AUser, channel);
}

void TIdIRC::DoKick(TIdIRCUser* AUser) {
    AUser->SetReason(Param(3));
    TIdIRCChannel* channel = FChannels.Get(Param(1));
    if (Param(2) == FCurrentNick) {
        if (channel != nullptr) {
            channel->SetActive(false);
            channel->SetCloseType(2);
        }
        TLife* const life = FLife;
        RaiseEvent(OnKicked, this, AUser, channel);
        if (life->Alive) {
            FChannels.Remove(Param(1));
        }
        return;
    }
    TIdIRCUser* victim = FUsers.Add(Param(2), std::string());
    const THeldUser held(*this, victim);
    victim->SetReason(AUser->Reason());
    // The handler sees the victim still listed; the channel's Kick then removes it.
    RaiseEvent(OnKick, this, AUser, victim, channel);
    if (held.Alive() && channel != nullptr && FChannels.Get(Param(1)) == channel) {
        channel->Kick(victim);
    }
}

void TIdIRC::DoTopic(TIdIRCUser* AUser) {
    TIdIRCChannel* channel = FChannels.Get(Param(1));
    if (channel == nullptr) {
        return;
    }
    TLife* const life = FLife;
    channel->SetTopic(Param(2));
    if (!life->Alive || FChannels.Get(Param(1)) != channel) {
        return;
    }
    RaiseEvent(OnTopic, this, AUser, channel, channel->Name(), Param(2));
}

// --- Nicks and quits ---------------------------------------------------------------------

void TIdIRC::DoNick(TIdIRCUser* AUser) {
    const std::string newNick = Param(1);
    TLife* const life = FLife;
    if (FLine.SenderNick == FCurrentNick) {
        const std::string oldNick = std::exchange(FCurrentNick, newNick);
        // The client's own entry follows, even if an earlier namesake shadowed it in the
        // lookup that found AUser.
        if (FUser != nullptr && FUser != AUser) {
            FUser->SetNick(newNick);
        }
        RaiseEvent(OnNickChanged, this, oldNick);
    } else {
        RaiseEvent(OnNickChange, this, AUser, newNick);
    }
    if (!life->Alive) {
        return;
    }
    FChannels.ChangedNick(AUser, newNick);
    AUser->SetNick(newNick);
}

void TIdIRC::DoQuit(TIdIRCUser* AUser) {
    AUser->SetReason(Param(1));
    TLife* const life = FLife;
    RaiseEvent(OnQuit, this, AUser);
    if (life->Alive) {
        FChannels.Quit(AUser);
    }
}

// --- Modes -------------------------------------------------------------------------------

void TIdIRC::DoMode(TIdIRCUser*) {
    const std::string& target = Param(1);
    if (IsChannelName(target)) {
        TIdIRCChannel* channel = FChannels.Get(target);
        if (channel == nullptr) {
            return;
        }
        TIdIRCUser* setter = FUsers.Get(FLine.SenderNick);
        TLife* const life = FLife;
        if (OnChannelMode) {
            OnChannelMode(this, setter, channel, target, ModeText(Param(2), 4));
        }
        if (life->Alive && ParseChannelModes(2) && life->Alive) {
            RaiseEvent(OnChannelModeChanged, this, setter, channel);
        }
    } else if (target == FCurrentNick) {
        TLife* const life = FLife;
        RaiseEvent(OnUserMode, this, Param(2));
        if (life->Alive && ParseUserModes()) {
            RaiseEvent(OnUserModeChanged, this);
        }
    }
}

bool TIdIRC::ParseChannelModes(size_t AStart) {
    TIdIRCChannel* channel = FChannels.Get(FLine.Token(AStart));
    if (channel == nullptr) {
        return false;
    }
    TIdIRCUser* setter = FUsers.Get(FLine.SenderNick);
    TIdIRCChannelModes modes = channel->Mode();
    TLife* const life = FLife;
    const std::span<const std::string> parameters(FLine.Tokens().begin() + AStart + 2,
                                                  FLine.Tokens().end());
    // The walk pairs each letter with its parameter as the server's letters say, so a letter
    // this client has no use for (h, e, I, ...) still takes its parameter and shifts nothing.
    for (const TIdIRCModeChange& change : FModeSyntax.Walk(FLine.Token(AStart + 1), parameters)) {
        // A handler of the events below, or of the channel's updates, may have destroyed the
        // component, or parted and freed the channel.
        if (!life->Alive || FChannels.Get(FLine.Token(AStart)) != channel) {
            return false;
        }
        // A member mode without its nick must not fall on the entry with the empty nick (the
        // server's): it names nobody.
        TIdIRCUser* target = change.Class == mcPrefix && !change.MissingParameter
                                 ? FUsers.Get(change.Parameter)
                                 : nullptr;
        switch (change.Letter) {
        case 'o':
            if (change.Class == mcPrefix) {
                RaiseEvent(change.Set ? OnOp : OnDeop, this, setter, channel, target);
                if (!life->Alive || FChannels.Get(FLine.Token(AStart)) != channel) {
                    return false;
                }
                change.Set ? channel->Op(target) : channel->Deop(target);
            }
            continue;
        case 'v':
            if (change.Class == mcPrefix) {
                RaiseEvent(change.Set ? OnVoice : OnDevoice, this, setter, channel, target);
                if (!life->Alive || FChannels.Get(FLine.Token(AStart)) != channel) {
                    return false;
                }
                change.Set ? channel->Voice(target) : channel->Devoice(target);
            }
            continue;
        case 'b':
            if (change.Class == mcList) {
                RaiseEvent(change.Set ? OnBan : OnUnban, this, setter, channel, change.Parameter);
            }
            continue;
        case 'l':
            if (change.Set) {
                modes.Include(cmUserLimit);
                channel->SetLimit(LimitOf(change.Parameter));
            } else {
                modes.Exclude(cmUserLimit);
                channel->SetLimit(0);
            }
            continue;
        case 'k':
            if (change.Set) {
                modes.Include(cmKey);
                channel->SetKey(change.Parameter);
            } else {
                modes.Exclude(cmKey);
                channel->SetKey(std::string());
            }
            continue;
        default:
            break;
        }
        const int element = ChannelModeOf(change.Letter);
        if (element >= 0 && change.Class == mcFlag) {
            change.Set ? modes.Include(TIdIRCChannelMode(element))
                       : modes.Exclude(TIdIRCChannelMode(element));
        }
    }
    if (!life->Alive || FChannels.Get(FLine.Token(AStart)) != channel || modes == channel->Mode()) {
        return false;
    }
    channel->SetMode(modes);
    return true;
}

bool TIdIRC::ParseUserModes() {
    TIdIRCUserModes modes = FUserMode;
    bool set = true;
    for (const char letter : FLine.Token(3)) {
        TIdIRCUserMode mode;
        switch (letter) {
        case '+':
        case '-':
            set = letter == '+';
            continue;
        case 'i':
            mode = umInvisible;
            break;
        case 'o':
            mode = umOperator;
            break;
        case 's':
            mode = umServerNotices;
            break;
        case 'w':
            mode = umWallops;
            break;
        default:
            continue;
        }
        set ? modes.Include(mode) : modes.Exclude(mode);
    }
    if (modes == FUserMode) {
        return false;
    }
    FUserMode = modes;
    return true;
}

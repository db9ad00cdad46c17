// TIdIRC's handling of numeric replies: what each number records and which event it raises.
// Which number is handled how is the table of IdIRCNumerics; this file does what each kind
// of row says. In a reply P1 is the recipient (the client's nick); the reply's data starts at P2.
#include "IdIRC.h"

#include <algorithm>

namespace {

// Channel-list entries handed to OnList at a time.
constexpr size_t kListBatch = 40;
// However a handler of OnNicksInUse answers, a registration tries no more nicks than this.
constexpr size_t kMaxNickAttempts = 10;

} // namespace

void TIdIRC::RaiseSystem(TIdIRCUser* AUser, const Id::TIdIRCNumeric& ARow) {
    if (OnSystem && ARow.Category != nullptr) {
        // Only numeric lines reach here, so the command reads as a number.
        OnSystem(this, AUser, Id::NumericCode(FLine.Command).value_or(0),
                 Id::NumericCategory(ARow, FLine.Tokens()),
                 Id::NumericText(ARow, FLine.Tokens(), FLine.Content));
    }
}

// An event's handler may destroy the component: where more follows an event, the life record
// that DispatchLine holds tells (see IdIRCDispatch.cpp).
bool TIdIRC::DoNumeric(TIdIRCUser* AUser, int32_t ACode) {
    const Id::TIdIRCNumeric row = Id::FindNumeric(ACode);
    TLife* const life = FLife;
    switch (row.Kind) {
    case Id::nkUnknown:
        // The feature list is not handled (it reaches OnUnknownCommand), but the channel mode
        // letters it announces decide how every later mode change is read.
        if (ACode == Id::RPL_ISUPPORT) {
            FModeSyntax.ApplyTokens(std::span(FLine.Tokens()).subspan(3));
        }
        return false;
    case Id::nkSystem:
        break;
    case Id::nkWelcome:
        FServerName = FLine.SenderAddress;
        // The nick the server registered, which may differ from the one asked for (a fallback,
        // or a server that shortens nicks): the client's own lines carry it from now on.
        if (ACode == Id::RPL_WELCOME && !Param(1).empty()) {
            FCurrentNick = Param(1);
            if (FUser != nullptr && FUser->Nick() != FCurrentNick) {
                FUser->SetNick(FCurrentNick);
            }
        }
        SetState(csLoggedIn);
        if (!life->Alive) {
            return true;
        }
        break;
    case Id::nkMotdStart:
        SetState(csLoggedIn);
        if (!life->Alive) {
            return true;
        }
        break;
    case Id::nkAway: {
        // The away text belongs to the user it is about (P2), not to the server that tells it:
        // the entry is held for the event, like a kick's victim.
        TIdIRCUser* away = FUsers.Add(Param(2), std::string());
        const THeldUser held(*this, away);
        away->SetReason(Param(3));
        RaiseEvent(OnAway, this, away);
        return true;
    }
    case Id::nkUnAway:
        FAway = false;
        RaiseEvent(OnUnAway, this, Param(2));
        return true;
    case Id::nkNowAway:
        FAway = true;
        RaiseEvent(OnNowAway, this, Param(2));
        return true;
    case Id::nkListStart:
    case Id::nkListEntry:
    case Id::nkListEnd:
        DoChannelList(AUser, row);
        return true;
    case Id::nkChannelModes: {
        TIdIRCChannel* channel = FChannels.Get(Param(2));
        if (OnChannelMode) {
            OnChannelMode(this, nullptr, channel, Param(2), ModeText(Param(3), 5));
        }
        if (life->Alive && ParseChannelModes(3) && life->Alive) {
            RaiseEvent(OnChannelModeChanged, this, nullptr, FChannels.Get(Param(2)));
        }
        return true;
    }
    case Id::nkNoTopic:
        if (TIdIRCChannel* channel = FChannels.Get(Param(2))) {
            channel->SetTopic(std::string());
            if (life->Alive && FChannels.Get(Param(2)) == channel) {
                RaiseEvent(OnNoTopic, this, channel, Param(3));
            }
        }
        return true;
    case Id::nkTopic: {
        TIdIRCChannel* channel = FChannels.Get(Param(2));
        if (channel != nullptr) {
            channel->SetTopic(Param(3));
            if (!life->Alive) {
                return true;
            }
            channel = FChannels.Get(Param(2));
        }
        RaiseEvent(OnTopic, this, AUser, channel, Param(2), Param(3));
        return true;
    }
    case Id::nkInviting:
        RaiseEvent(OnInviting, this, Param(2), Param(3));
        return true;
    case Id::nkNames:
        RaiseSystem(AUser, row);
        if (!life->Alive) {
            return true;
        }
        if (TIdIRCChannel* channel = FChannels.Get(Param(3))) {
            DoNames(channel);
        }
        return true;
    case Id::nkLinks:
        if (OnLinks) {
            const std::string& hopsAndInfo = Param(4);
            const size_t blank = std::min(hopsAndInfo.find(' '), hopsAndInfo.size());
            OnLinks(this, Param(3), Param(2), hopsAndInfo.substr(0, blank),
                    hopsAndInfo.substr(std::min(blank + 1, hopsAndInfo.size())));
        }
        return true;
    case Id::nkEndOfNames:
        RaiseSystem(AUser, row);
        if (!life->Alive) {
            return true;
        }
        RaiseEvent(OnNames, this, &FUsers, FChannels.Get(Param(2)));
        return true;
    case Id::nkServerTime:
        break;
    case Id::nkError:
    case Id::nkNickRefused:
        RaiseEvent(OnError, this, AUser, FLine.Command, FLine.Content);
        if (life->Alive && row.Kind == Id::nkNickRefused && FState == csConnected) {
            NickRefused();
        }
        return true;
    }
    RaiseSystem(AUser, row);
    return true;
}

void TIdIRC::DoChannelList(TIdIRCUser* AUser, const Id::TIdIRCNumeric& ARow) {
    TLife* const life = FLife;
    switch (ARow.Kind) {
    case Id::nkListStart:
        if (OnList) {
            FListBuffer.clear();
            FListPosition = 0;
            OnList(this, &FListBuffer, 0, false);
            if (!life->Alive) {
                return;
            }
        }
        RaiseSystem(AUser, ARow);
        break;
    case Id::nkListEntry:
        // Collected only for a bound OnList: a listing of thousands of channels costs nothing
        // otherwise.
        if (OnList) {
            FListBuffer.push_back(Param(2) + " " + Param(3) + " " + Param(4));
            if (FListBuffer.size() == size_t(FListPosition) + kListBatch) {
                OnList(this, &FListBuffer, FListPosition, false);
                if (!life->Alive) {
                    return;
                }
                FListPosition = int32_t(FListBuffer.size()) - 1;
            }
        }
        break;
    case Id::nkListEnd:
        RaiseSystem(AUser, ARow);
        if (life->Alive && OnList) {
            OnList(this, &FListBuffer, FListPosition, true);
            if (!life->Alive) {
                return;
            }
            FListBuffer.clear();
            FListPosition = 0;
        }
        break;
    default:
        break;
    }
}

// One part of a names reply into the channel. Each entry costs a look-up by name in the user
// registry and in the member list, both by hash, so a channel of 100,000 names fills in time
// proportional to its size.
void TIdIRC::DoNames(TIdIRCChannel* AChannel) {
    const std::string& names = Param(4);
    std::string modes;
    std::string entry;
    for (size_t from = 0; from <= names.size();) {
        const size_t blank = std::min(names.find(' ', from), names.size());
        const std::string_view piece(names.data() + from, blank - from);
        from = blank + 1;
        // The status symbols the server announced ("%" of a half-op, "~" of an owner, or
        // several with multi-prefix) are taken off here; the channel's own entry format marks
        // an operator with "@" and voice with a trailing "+".
        modes.clear();
        const std::string_view nick = FModeSyntax.NickOfNamesEntry(piece, &modes);
        const bool op = modes.find('o') != std::string::npos;
        const bool voice = modes.find('v') != std::string::npos;
        entry.clear();
        if (op) {
            entry.append(1, '@').append(nick).append(voice ? "+" : "");
        } else if (voice) {
            entry.append(1, '+').append(nick);
        } else {
            entry.append(nick);
        }
        AChannel->AddUser(entry, std::string());
    }
    if (FChannels.Get(Param(3)) == AChannel) {
        RaiseEvent(AChannel->OnChannelUpdate, AChannel, cuNames, nullptr, 0);
    }
}

// Registering, the server refused the nick (in use, erroneous, or none given). The configured
// nick falls back to AltNick; after that, OnNicksInUse may offer one more nick each time (an
// unbound one offers none). The fallback ends, with a forced disconnect, when there is no nick
// left to offer, when the nick offered was already refused in this registration (a handler
// that keeps answering the same nick), or after kMaxNickAttempts refusals.
void TIdIRC::NickRefused() {
    FRefusedNicks.push_back(FCurrentNick);
    if (FCurrentNick == FNick) {
        FCurrentNick = FAltNick;
    } else if (OnNicksInUse) {
        TLife* const life = FLife;
        std::string offered = FCurrentNick;
        OnNicksInUse(this, offered);
        if (!life->Alive) {
            return;
        }
        FCurrentNick = offered;
    } else {
        FCurrentNick.clear();
    }
    const bool refused =
        std::find(FRefusedNicks.begin(), FRefusedNicks.end(), FCurrentNick) != FRefusedNicks.end();
    if (FCurrentNick.empty() || refused || FRefusedNicks.size() >= kMaxNickAttempts) {
        Disconnect(true);
        return;
    }
    SetNick(FCurrentNick);
}

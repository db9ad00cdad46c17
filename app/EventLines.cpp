// The component's events as log lines, and the nick list.
//
// A handler uses only the user's nickname and the channel's name. The component may pass no
// user (a mode line from a nick it does not track) or no channel (a message to the client
// alone, a line for a channel it does not track): the handler then logs what it has, with
// the missing name left empty, as it does for a server's own lines, whose sender has none.
#include "DisplayText.h"
#include "SortedListBox.h"
#include "Unit1.h"

#include <IdIRC.h>

namespace {

std::string NickOf(const TIdIRCUser* AUser) {
    return AUser != nullptr ? AUser->Nick() : std::string();
}

std::string NameOf(const TIdIRCChannel* AChannel) {
    return AChannel != nullptr ? AChannel->Name() : std::string();
}

std::string ModeLine(const TIdIRCUser* AUser, const char* AChange, const TIdIRCUser* ATarget,
                     const TIdIRCChannel* AChannel) {
    return "-" + NickOf(AUser) + " sets mode " + AChange + " " + NickOf(ATarget) + " on channel " +
           NameOf(AChannel) + ".";
}

} // namespace

void TForm1::IRCbotMessage(TIdIRC*, TIdIRCUser* AUser, TIdIRCChannel*, const std::string& Content) {
    Addline("(" + NickOf(AUser) + ") " + Content);
}

void TForm1::IRCbotAction(TIdIRC*, TIdIRCUser* AUser, TIdIRCChannel*, const std::string& Content) {
    Addline("*" + NickOf(AUser) + " " + Content);
}

void TForm1::IRCbotNotice(TIdIRC*, TIdIRCUser* AUser, TIdIRCChannel*, const std::string& Content) {
    const std::string nick = NickOf(AUser);
    Addline(nick.empty() ? "*-*" + Content : "-<" + nick + ">- " + Content);
}

void TForm1::IRCbotJoin(TIdIRC*, TIdIRCUser* AUser, TIdIRCChannel* AChannel) {
    Addline("**" + NickOf(AUser) + " has joined " + NameOf(AChannel) + ".");
}

void TForm1::IRCbotPart(TIdIRC*, TIdIRCUser* AUser, TIdIRCChannel* AChannel) {
    Addline("**" + NickOf(AUser) + " has left " + NameOf(AChannel));
}

void TForm1::IRCbotParted(TIdIRC*, TIdIRCChannel* AChannel) {
    if (SameChannel(NameOf(AChannel))) {
        SetChatState(chNotInChannel, "the server parted us from it");
    }
    Addline("**You have left " + NameOf(AChannel) + ".");
}

void TForm1::IRCbotKick(TIdIRC*, TIdIRCUser* AUser, TIdIRCUser* AVictim, TIdIRCChannel* AChannel) {
    Addline("**" + NickOf(AVictim) + " has been kicked off of " + NameOf(AChannel) + " by " +
            NickOf(AUser) + ".");
}

// The channel's name is the tracked channel's; a topic for one the client does not track
// (a reply before its JOIN was seen) names the channel as the line does.
void TForm1::IRCbotTopic(TIdIRC*, TIdIRCUser* AUser, TIdIRCChannel* AChannel,
                         const std::string& AChanName, const std::string& ATopic) {
    const std::string nick = NickOf(AUser);
    const std::string name = AChannel != nullptr ? AChannel->Name() : AChanName;
    Addline(nick.empty() ? "**Topic for " + name + " is: " + ATopic + "."
                         : "**" + nick + " sets topic for " + name + " to: " + ATopic + ".");
}

void TForm1::IRCbotAway(TIdIRC*, TIdIRCUser* AUser) {
    Addline("*" + NickOf(AUser) + " is now away.");
}

void TForm1::IRCbotUnAway(TIdIRC*, const std::string& AContent) {
    Addline("*Now unaway: " + AContent);
}

void TForm1::IRCbotOp(TIdIRC*, TIdIRCUser* AUser, TIdIRCChannel* AChannel, TIdIRCUser* ATarget) {
    Addline(ModeLine(AUser, "+o", ATarget, AChannel));
}

void TForm1::IRCbotDeop(TIdIRC*, TIdIRCUser* AUser, TIdIRCChannel* AChannel, TIdIRCUser* ATarget) {
    Addline(ModeLine(AUser, "-o", ATarget, AChannel));
}

void TForm1::IRCbotVoice(TIdIRC*, TIdIRCUser* AUser, TIdIRCChannel* AChannel, TIdIRCUser* ATarget) {
    Addline(ModeLine(AUser, "+v", ATarget, AChannel));
}

void TForm1::IRCbotDevoice(TIdIRC*, TIdIRCUser* AUser, TIdIRCChannel* AChannel,
                           TIdIRCUser* ATarget) {
    Addline(ModeLine(AUser, "-v", ATarget, AChannel));
}

void TForm1::IRCbotBan(TIdIRC*, TIdIRCUser* AUser, TIdIRCChannel* AChannel,
                       const std::string& AHostmask) {
    Addline("-" + NickOf(AUser) + " bans " + AHostmask + " on channel " + NameOf(AChannel) + ".");
}

void TForm1::IRCbotUnban(TIdIRC*, TIdIRCUser* AUser, TIdIRCChannel* AChannel,
                         const std::string& AHostmask) {
    Addline("-" + NickOf(AUser) + " unbans " + AHostmask + " on channel " + NameOf(AChannel) + ".");
}

void TForm1::IRCbotUserMode(TIdIRC*, const std::string& AModes) {
    Addline("-- Usermodes are: " + AModes);
}

void TForm1::IRCbotUserModeChanged(TIdComponent*) {
    Addline("-- Usermodes have changed --");
}

// The whole user collection, rebuilt from the last entry to the first. The server's own
// entry (it sent the end of the names list) has no nickname and gets no row; every other
// user gets one row per mark, "@" for an operator and "+" for voice in a tracked channel, or
// one plain row.
void TForm1::IRCbotNames(TIdIRC* Sender, TIdIRCUsers* AUsers, TIdIRCChannel*) {
    ListBox2->clear();
    if (AUsers == nullptr) {
        return;
    }
    for (int32_t i = AUsers->Count() - 1; i >= 0; --i) {
        const std::string& nick = AUsers->Items(i)->Nick();
        if (nick.empty()) {
            continue;
        }
        const QString row = DisplayString(nick);
        const bool op = Sender->IsOp(nick);
        const bool voice = Sender->IsVoice(nick);
        if (op) {
            ListBox2->Add(QLatin1Char('@') + row);
        }
        if (voice) {
            ListBox2->Add(QLatin1Char('+') + row);
        }
        if (!op && !voice) {
            ListBox2->Add(row);
        }
    }
}

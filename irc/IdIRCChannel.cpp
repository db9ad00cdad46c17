#include "IdIRCChannel.h"

#include "IdIRCUsers.h"

TIdIRCChannel::TIdIRCChannel(TIdIRC* AClient, TIdIRCUsers* AUsers, const std::string& AName)
    : FClient(AClient), FUsers(AUsers), FName(AName) {}

void TIdIRCChannel::Update(TIdIRCChannelUpdateType AUpdateType, TIdIRCUser* AUser, int32_t AInfo) {
    RaiseEvent(OnChannelUpdate, this, AUpdateType, AUser, AInfo);
}

void TIdIRCChannel::SetTopic(const std::string& AValue) {
    FTopic = AValue;
    Update(cuTopic, nullptr, 0);
}

void TIdIRCChannel::SetMode(TIdIRCChannelModes AValue) {
    FMode = AValue;
    Update(cuMode, nullptr, 0);
}

void TIdIRCChannel::SetLimit(int32_t AValue) {
    FLimit = AValue;
    Update(cuMode, nullptr, 0);
}

void TIdIRCChannel::SetKey(const std::string& AValue) {
    FKey = AValue;
    Update(cuMode, nullptr, 0);
}

TIdIRCMember* TIdIRCChannel::MemberOf(const TIdIRCUser* AUser) const {
    return AUser == nullptr ? nullptr : FNames.FList.Find(AUser->Nick());
}

void TIdIRCChannel::SetFlags(TIdIRCUser* AUser, int32_t ASet, int32_t AClear) {
    if (TIdIRCMember* member = MemberOf(AUser)) {
        member->Flags = (member->Flags | ASet) & ~AClear;
        Update(cuUser, AUser, member->Flags);
    }
}

void TIdIRCChannel::Op(TIdIRCUser* AUser) {
    SetFlags(AUser, IRCMemberOperator, 0);
}
void TIdIRCChannel::Deop(TIdIRCUser* AUser) {
    SetFlags(AUser, 0, IRCMemberOperator);
}
void TIdIRCChannel::Voice(TIdIRCUser* AUser) {
    SetFlags(AUser, IRCMemberVoice, 0);
}
void TIdIRCChannel::Devoice(TIdIRCUser* AUser) {
    SetFlags(AUser, 0, IRCMemberVoice);
}

void TIdIRCChannel::ChangedNick(TIdIRCUser* AUser, const std::string& ANewNick) {
    if (TIdIRCMember* member = MemberOf(AUser)) {
        FNames.FList.Rename(member, ANewNick);
        member->Nick = ANewNick;
        Update(cuNick, AUser, FNames.FList.PositionOf(member));
    }
}

void TIdIRCChannel::Join(TIdIRCUser* AUser) {
    if (AUser == nullptr || MemberOf(AUser) != nullptr) {
        return;
    }
    TIdIRCMember* member =
        FNames.FList.Append(std::make_unique<TIdIRCMember>(AUser->Nick(), 0), AUser->Nick());
    Update(cuJoin, AUser, FNames.FList.PositionOf(member));
}

void TIdIRCChannel::RemoveMember(TIdIRCUser* AUser, TIdIRCChannelUpdateType AUpdateType) {
    TIdIRCMember* member = MemberOf(AUser);
    if (member == nullptr) {
        return;
    }
    // The handler may change the list, even drop this entry: look the nickname up again
    // afterwards rather than trust the pointer.
    const std::string nick = member->Nick;
    Update(AUpdateType, AUser, FNames.FList.PositionOf(member));
    if (TIdIRCMember* still = FNames.FList.Find(nick)) {
        FNames.FList.Extract(still);
    }
}

void TIdIRCChannel::Part(TIdIRCUser* AUser) {
    RemoveMember(AUser, cuPart);
}
void TIdIRCChannel::Kick(TIdIRCUser* AUser) {
    RemoveMember(AUser, cuKick);
}
void TIdIRCChannel::Quit(TIdIRCUser* AUser) {
    RemoveMember(AUser, cuQuit);
}

bool TIdIRCChannel::FindUser(std::string_view ANick, int32_t& AIndex) const {
    const TIdIRCMember* member = FNames.FList.Find(ANick);
    AIndex = member == nullptr ? -1 : FNames.FList.PositionOf(member);
    return member != nullptr;
}

int32_t TIdIRCChannel::MemberFlags(std::string_view ANick) const {
    const TIdIRCMember* member = FNames.FList.Find(ANick);
    return member == nullptr ? 0 : member->Flags;
}

TIdIRCUser* TIdIRCChannel::AddUser(const std::string& AEntry, const std::string& AAddress) {
    std::string_view nick = AEntry;
    int32_t flags = 0;
    if (!nick.empty() && nick.front() == '@') {
        flags = IRCMemberOperator;
        nick.remove_prefix(1);
        // Voice is marked at the end, not the front: "@+x" is the operator "+x".
        if (!nick.empty() && nick.back() == '+') {
            flags = IRCMemberOperator | IRCMemberVoice;
            nick.remove_suffix(1);
        }
    } else if (!nick.empty() && nick.front() == '+') {
        flags = IRCMemberVoice;
        nick.remove_prefix(1);
    }
    // An empty piece (a names reply ending in a blank) is no nickname: listing it would hand
    // the server's own entry a reference that nothing ever releases.
    if (nick.empty() || FNames.FList.Find(nick) != nullptr) {
        return nullptr;
    }
    const std::string name(nick);
    TIdIRCUser* user = FUsers->Add(name, AAddress);
    FNames.FList.Append(std::make_unique<TIdIRCMember>(name, flags), name);
    return user;
}

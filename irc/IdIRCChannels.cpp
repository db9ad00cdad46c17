#include "IdIRCChannels.h"

TIdIRCChannels::TIdIRCChannels(TIdIRC* AClient, TIdIRCUsers* AUsers,
                               const TIdIRCOnChannelUpdate* AOnChannelUpdate)
    : FClient(AClient), FUsers(AUsers), FOnChannelUpdate(AOnChannelUpdate) {}

TIdIRCChannel* TIdIRCChannels::Add(const std::string& AName) {
    Remove(AName);
    auto channel = std::unique_ptr<TIdIRCChannel>(new TIdIRCChannel(FClient, FUsers, AName));
    if (FOnChannelUpdate != nullptr) {
        channel->OnChannelUpdate = *FOnChannelUpdate;
    }
    return FItems.Append(std::move(channel), AName);
}

void TIdIRCChannels::Remove(std::string_view AName) {
    if (TIdIRCChannel* channel = FItems.Find(AName)) {
        FItems.Extract(channel);
    }
}

bool TIdIRCChannels::Find(std::string_view AName, int32_t& AIndex) const {
    const TIdIRCChannel* channel = FItems.Find(AName);
    AIndex = channel == nullptr ? -1 : FItems.PositionOf(channel);
    return channel != nullptr;
}

// By index, re-reading the count: a handler of the channel's update may remove channels.
void TIdIRCChannels::ChangedNick(TIdIRCUser* AUser, const std::string& ANewNick) {
    for (int32_t i = 0; i < FItems.Count(); ++i) {
        FItems.At(i)->ChangedNick(AUser, ANewNick);
    }
}

void TIdIRCChannels::Quit(TIdIRCUser* AUser) {
    for (int32_t i = 0; i < FItems.Count(); ++i) {
        FItems.At(i)->Quit(AUser);
    }
}

int32_t TIdIRCChannels::MemberFlags(std::string_view ANick) const {
    int32_t flags = 0;
    for (int32_t i = 0; i < FItems.Count(); ++i) {
        flags |= FItems.At(i)->MemberFlags(ANick);
    }
    return flags;
}

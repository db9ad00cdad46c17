// The channels the client is in, found by name.
//
// Wiring by the component, which owns both registries:
//     TIdIRCChannels FChannels(this, &FUsers, &OnChannelUpdate);
// The users are where AddUser counts the members of a names reply; they must outlive the
// channels' use of them (declare FUsers before FChannels). The event is read at every Add, so
// a channel gets the handler bound at the moment it is created, and later bindings reach only
// later channels. Neither the client nor the users are touched when channels are freed.
#pragma once

#include "IdIRCChannel.h"
#include "IdIRCEvents.h"
#include "IdIRCNamedList.h"

#include <cstdint>
#include <string>
#include <string_view>

class TIdIRCChannels {
public:
    // AOnChannelUpdate may be null: channels are then created unbound.
    TIdIRCChannels(TIdIRC* AClient, TIdIRCUsers* AUsers,
                   const TIdIRCOnChannelUpdate* AOnChannelUpdate);
    TIdIRCChannels(const TIdIRCChannels&) = delete;
    TIdIRCChannels& operator=(const TIdIRCChannels&) = delete;

    TIdIRC* Client() const { return FClient; }
    int32_t Count() const { return FItems.Count(); }

    // Frees a channel of that name (any letter case) first, then appends a fresh one.
    TIdIRCChannel* Add(const std::string& AName);
    // Frees the channel of that name, if there is one.
    void Remove(std::string_view AName);
    bool Find(std::string_view AName, int32_t& AIndex) const;
    TIdIRCChannel* Get(std::string_view AName) const { return FItems.Find(AName); }
    // Raises std::out_of_range outside 0 .. Count() - 1.
    TIdIRCChannel* Items(int32_t AIndex) const { return FItems.At(AIndex); }
    void Clear() { FItems.Clear(); }

    // Pass the change to every channel, in index order.
    void ChangedNick(TIdIRCUser* AUser, const std::string& ANewNick);
    void Quit(TIdIRCUser* AUser);

    // The member flags (IRCMemberOperator, IRCMemberVoice) of a nickname in all tracked
    // channels together, 0 when it is in none: what IsOp and IsVoice answer from.
    int32_t MemberFlags(std::string_view ANick) const;

private:
    TIdIRC* FClient;
    TIdIRCUsers* FUsers;
    const TIdIRCOnChannelUpdate* FOnChannelUpdate;
    TIdIRCNamedList<TIdIRCChannel> FItems;
};

// One channel the client is in: topic, modes, limit, key and the member list, each change
// announced through the channel's OnChannelUpdate.
#pragma once

#include "IdIRCEvents.h"
#include "IdIRCNamedList.h"

#include <cstdint>
#include <string>
#include <string_view>

enum TIdIRCChannelMode {
    cmPrivate,
    cmSecret,
    cmInviteOnly,
    cmOpsSetTopic,
    cmNoExternalMessages,
    cmModerated,
    cmUserLimit,
    cmKey,
};

// A set of channel modes in one byte, bit n standing for the mode numbered n.
class TIdIRCChannelModes {
public:
    constexpr TIdIRCChannelModes() = default;
    constexpr explicit TIdIRCChannelModes(uint8_t ABits) : FBits(ABits) {}
    constexpr bool Contains(TIdIRCChannelMode AMode) const { return (FBits & Bit(AMode)) != 0; }
    constexpr void Include(TIdIRCChannelMode AMode) { FBits = uint8_t(FBits | Bit(AMode)); }
    constexpr void Exclude(TIdIRCChannelMode AMode) { FBits = uint8_t(FBits & ~Bit(AMode)); }
    constexpr uint8_t Bits() const { return FBits; }
    constexpr bool operator==(const TIdIRCChannelModes&) const = default;

private:
    static constexpr uint8_t Bit(TIdIRCChannelMode AMode) { return uint8_t(1u << AMode); }
    uint8_t FBits = 0;
};

// Member flags.
constexpr int32_t IRCMemberOperator = 1;
constexpr int32_t IRCMemberVoice = 2;

// One entry of a channel's member list: a nickname, not a user object, so it may outlive the
// user entry of the same name.
class TIdIRCMember : public TIdIRCNamedItem {
public:
    TIdIRCMember(const std::string& ANick, int32_t AFlags) : Nick(ANick), Flags(AFlags) {}
    std::string Nick;
    int32_t Flags;
};

// The member list, in joining order (a names reply appends in its own order); read-only
// outside the channel.
class TIdIRCNames {
public:
    int32_t Count() const { return FList.Count(); }
    // Both raise std::out_of_range outside 0 .. Count() - 1.
    const std::string& Nick(int32_t AIndex) const { return FList.At(AIndex)->Nick; }
    int32_t Flags(int32_t AIndex) const { return FList.At(AIndex)->Flags; }

private:
    friend class TIdIRCChannel;
    TIdIRCNamedList<TIdIRCMember> FList;
};

class TIdIRCChannel : public TIdIRCNamedItem {
public:
    TIdIRC* Client() const { return FClient; }
    const std::string& Name() const { return FName; }
    const std::string& Topic() const { return FTopic; }
    TIdIRCChannelModes Mode() const { return FMode; }
    int32_t Limit() const { return FLimit; }
    const std::string& Key() const { return FKey; }
    const TIdIRCNames& Names() const { return FNames; }
    bool Active() const { return FActive; }
    void SetActive(bool AValue) { FActive = AValue; }
    // 0 while tracked; 1 when the client parted, 2 when it was kicked (set just before the
    // channel is removed, for the parted and kicked handlers).
    uint8_t CloseType() const { return FCloseType; }
    void SetCloseType(uint8_t AValue) { FCloseType = AValue; }
    // Copied from the component's event when the channel was created.
    TIdIRCOnChannelUpdate OnChannelUpdate;

    // The setters raise cuTopic or cuMode (no user, 0) on every call, changed or not.
    void SetTopic(const std::string& AValue);
    void SetMode(TIdIRCChannelModes AValue);
    void SetLimit(int32_t AValue);
    void SetKey(const std::string& AValue);

    // Member operations, found by the user's current nickname. A null user or one who is not
    // a member changes nothing and raises nothing. Flag changes raise cuUser with the new
    // flags; the others raise their kind with the member's index: after the change for
    // ChangedNick and Join, before the removal for Part, Kick and Quit.
    void Op(TIdIRCUser* AUser);
    void Deop(TIdIRCUser* AUser);
    void Voice(TIdIRCUser* AUser);
    void Devoice(TIdIRCUser* AUser);
    void ChangedNick(TIdIRCUser* AUser, const std::string& ANewNick);
    void Join(TIdIRCUser* AUser); // a member already listed is left alone
    void Part(TIdIRCUser* AUser);
    void Kick(TIdIRCUser* AUser);
    void Quit(TIdIRCUser* AUser);

    // The first member under that nickname and its index; false and -1 when none.
    bool FindUser(std::string_view ANick, int32_t& AIndex) const;
    // The flags of the first member under that nickname, 0 when it is not a member.
    int32_t MemberFlags(std::string_view ANick) const;

    // Takes one entry of a names reply: "@nick" is an operator, "@nick+" an operator with
    // voice, "+nick" voiced. Appends the member with one more reference to its user (held
    // until the registries are cleared) and returns that user; null, with nothing changed, if
    // the nickname is already a member or the entry holds no nickname. Raises no event: the
    // names reply as a whole raises cuNames.
    TIdIRCUser* AddUser(const std::string& AEntry, const std::string& AAddress);

private:
    friend class TIdIRCChannels;
    TIdIRCChannel(TIdIRC* AClient, TIdIRCUsers* AUsers, const std::string& AName);

    void Update(TIdIRCChannelUpdateType AUpdateType, TIdIRCUser* AUser, int32_t AInfo);
    TIdIRCMember* MemberOf(const TIdIRCUser* AUser) const;
    void SetFlags(TIdIRCUser* AUser, int32_t ASet, int32_t AClear);
    void RemoveMember(TIdIRCUser* AUser, TIdIRCChannelUpdateType AUpdateType);

    TIdIRC* FClient;
    TIdIRCUsers* FUsers;
    std::string FName;
    std::string FTopic;
    TIdIRCChannelModes FMode;
    int32_t FLimit = 0;
    std::string FKey;
    TIdIRCNames FNames;
    bool FActive = false;
    uint8_t FCloseType = 0;
};

// The IRC component's event types in one place.
//
// Every event of TIdIRC is a std::function member named like the event; an empty function is
// an unbound event, raised (or rather skipped) through RaiseEvent of net/IdEvents.h. The
// sender comes first: the TIdIRC, except for OnChannelUpdate, whose sender is the channel that
// changed. Object arguments are non-owning pointers, valid only during the call and possibly
// null; a `var` argument is a reference that the component reads back after the call. Events
// that share a type share its parameter list.
//
// The parameterless events (OnConnect, OnDisconnect, OnPingPong, OnUserModeChanged,
// OnStateChange) use the transport's TNotifyEvent, so one notify type serves every layer; its
// sender is the TIdIRC seen as its TIdComponent base.
//
// The 53 events in the order of the component's published properties, ready to be declared
// as members in that order:
//
//     TIdIRCOnMessage OnMessage;
//     TIdIRCOnMessage OnNotice;
//     TIdIRCOnMessage OnAction;
//     TNotifyEvent OnConnect;
//     TNotifyEvent OnDisconnect;
//     TIdIRCOnJoin OnJoin;
//     TIdIRCOnJoined OnJoined;
//     TIdIRCOnPart OnPart;
//     TIdIRCOnParted OnParted;
//     TIdIRCOnKick OnKick;
//     TIdIRCOnKicked OnKicked;
//     TIdIRCOnNickChange OnNickChange;
//     TIdIRCOnNickChanged OnNickChanged;
//     TIdIRCOnTopic OnTopic;
//     TIdIRCOnQuit OnQuit;
//     TIdIRCOnNames OnNames;
//     TIdIRCOnInvite OnInvite;
//     TNotifyEvent OnPingPong;
//     TIdIRCOnError OnError;
//     TIdIRCOnAway OnAway;
//     TIdIRCOnAwayChange OnNowAway;
//     TIdIRCOnAwayChange OnUnAway;
//     TIdIRCOnWallops OnWallops;
//     TIdIRCOnSystem OnSystem;
//     TIdIRCOnRaw OnRaw;
//     TIdIRCOnOp OnOp;
//     TIdIRCOnOp OnDeop;
//     TIdIRCOnBan OnBan;
//     TIdIRCOnBan OnUnban;
//     TIdIRCOnOp OnVoice;
//     TIdIRCOnOp OnDevoice;
//     TIdIRCOnChannelMode OnChannelMode;
//     TIdIRCOnChannelModeChanged OnChannelModeChanged;
//     TIdIRCOnUserMode OnUserMode;
//     TNotifyEvent OnUserModeChanged;
//     TIdIRCOnInviting OnInviting;
//     TIdIRCOnKill OnKill;
//     TIdIRCOnUnknownCommand OnUnknownCommand;
//     TIdIRCOnCTCPQuery OnCTCPQuery;
//     TIdIRCOnCTCPReply OnCTCPReply;
//     TNotifyEvent OnStateChange;
//     TIdIRCOnSend OnSend;
//     TIdIRCOnSend OnReceive;
//     TIdIRCOnNicksInUse OnNicksInUse;
//     TIdIRCOnSocketError OnSocketError;
//     TIdIRCOnNoTopic OnNoTopic;
//     TIdIRCOnDCCChat OnDCCChat;
//     TIdIRCOnDCCSend OnDCCSend;
//     TIdIRCOnDCCResume OnDCCResume;
//     TIdIRCOnDCCAccept OnDCCAccept;
//     TIdIRCOnLinks OnLinks;
//     TIdIRCOnList OnList;
//     TIdIRCOnChannelUpdate OnChannelUpdate;
#pragma once

#include "IdEvents.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TIdIRC;
class TIdIRCUser;
class TIdIRCUsers;
class TIdIRCChannel;
class TIdIRCChannels;

// What changed inside a channel; the values are numbered 0 to 8 in this order.
enum TIdIRCChannelUpdateType {
    cuMode,
    cuTopic,
    cuUser,
    cuNames,
    cuNick,
    cuJoin,
    cuPart,
    cuKick,
    cuQuit,
};

using TIdIRCOnMessage = std::function<void(TIdIRC* Sender, TIdIRCUser* AUser,
                                           TIdIRCChannel* AChannel, const std::string& Content)>;
using TIdIRCOnJoin =
    std::function<void(TIdIRC* Sender, TIdIRCUser* AUser, TIdIRCChannel* AChannel)>;
using TIdIRCOnJoined = std::function<void(TIdIRC* Sender, TIdIRCChannel* AChannel)>;
using TIdIRCOnPart =
    std::function<void(TIdIRC* Sender, TIdIRCUser* AUser, TIdIRCChannel* AChannel)>;
using TIdIRCOnParted = std::function<void(TIdIRC* Sender, TIdIRCChannel* AChannel)>;
using TIdIRCOnKick = std::function<void(TIdIRC* Sender, TIdIRCUser* AUser, TIdIRCUser* AVictim,
                                        TIdIRCChannel* AChannel)>;
using TIdIRCOnKicked =
    std::function<void(TIdIRC* Sender, TIdIRCUser* AUser, TIdIRCChannel* AChannel)>;
using TIdIRCOnNickChange =
    std::function<void(TIdIRC* Sender, TIdIRCUser* AUser, const std::string& ANewNick)>;
using TIdIRCOnNickChanged = std::function<void(TIdIRC* Sender, const std::string& AOldNick)>;
using TIdIRCOnTopic = std::function<void(TIdIRC* Sender, TIdIRCUser* AUser, TIdIRCChannel* AChannel,
                                         const std::string& AChanName, const std::string& ATopic)>;
using TIdIRCOnQuit = std::function<void(TIdIRC* Sender, TIdIRCUser* AUser)>;
using TIdIRCOnNames =
    std::function<void(TIdIRC* Sender, TIdIRCUsers* AUsers, TIdIRCChannel* AChannel)>;
using TIdIRCOnInvite =
    std::function<void(TIdIRC* Sender, TIdIRCUser* AUser, const std::string& AChannel)>;
using TIdIRCOnError = std::function<void(TIdIRC* Sender, TIdIRCUser* AUser,
                                         const std::string& ANumeric, const std::string& AError)>;
using TIdIRCOnAway = std::function<void(TIdIRC* Sender, TIdIRCUser* AUser)>;
using TIdIRCOnAwayChange = std::function<void(TIdIRC* Sender, const std::string& AContent)>;
using TIdIRCOnWallops =
    std::function<void(TIdIRC* Sender, TIdIRCUser* AUser, const std::string& AContent)>;
using TIdIRCOnSystem =
    std::function<void(TIdIRC* Sender, TIdIRCUser* AUser, int32_t ACmdCode,
                       const std::string& ACommand, const std::string& AContent)>;
// Setting Suppress ends the line's handling: no registry change and no other event.
using TIdIRCOnRaw =
    std::function<void(TIdIRC* Sender, TIdIRCUser* AUser, const std::string& ACommand,
                       const std::string& AContent, bool& Suppress)>;
using TIdIRCOnOp = std::function<void(TIdIRC* Sender, TIdIRCUser* AUser, TIdIRCChannel* AChannel,
                                      TIdIRCUser* ATarget)>;
using TIdIRCOnBan = std::function<void(TIdIRC* Sender, TIdIRCUser* AUser, TIdIRCChannel* AChannel,
                                       const std::string& AHostmask)>;
using TIdIRCOnChannelMode =
    std::function<void(TIdIRC* Sender, TIdIRCUser* AUser, TIdIRCChannel* AChannel,
                       const std::string& AChanName, const std::string& AModes)>;
using TIdIRCOnChannelModeChanged =
    std::function<void(TIdIRC* Sender, TIdIRCUser* AUser, TIdIRCChannel* AChannel)>;
using TIdIRCOnUserMode = std::function<void(TIdIRC* Sender, const std::string& AModes)>;
using TIdIRCOnInviting =
    std::function<void(TIdIRC* Sender, const std::string& ANick, const std::string& AChannel)>;
using TIdIRCOnKill = std::function<void(TIdIRC* Sender, TIdIRCUser* User,
                                        const std::string& AVictim, const std::string& AReason)>;
using TIdIRCOnUnknownCommand = std::function<void(
    TIdIRC* Sender, TIdIRCUser* AUser, const std::string& ACommand, const std::string& AContent)>;
// Setting ASuppress keeps the automatic CTCP answer from going out.
using TIdIRCOnCTCPQuery =
    std::function<void(TIdIRC* Sender, TIdIRCUser* User, TIdIRCChannel* AChannel,
                       const std::string& Command, const std::string& Args, bool& ASuppress)>;
using TIdIRCOnCTCPReply =
    std::function<void(TIdIRC* Sender, TIdIRCUser* AUser, TIdIRCChannel* AChannel,
                       const std::string& Command, const std::string& Args)>;
using TIdIRCOnSend = std::function<void(TIdIRC* Sender, const std::string& ACommand)>;
// The handler may put another nick into ANick; the component sends what it finds there.
using TIdIRCOnNicksInUse = std::function<void(TIdIRC* Sender, std::string& ANick)>;
using TIdIRCOnSocketError =
    std::function<void(TIdIRC* Sender, const std::string& ASocket, const std::string& AMsg)>;
using TIdIRCOnNoTopic =
    std::function<void(TIdIRC* Sender, TIdIRCChannel* AChannel, const std::string& AContent)>;
using TIdIRCOnDCCChat = std::function<void(TIdIRC* Sender, const std::string& ANick,
                                           const std::string& AIp, const std::string& APort)>;
using TIdIRCOnDCCSend = std::function<void(
    TIdIRC* Sender, const std::string& ANick, const std::string& AIp, const std::string& APort,
    const std::string& AFileName, const std::string& AFileSize)>;
using TIdIRCOnDCCResume =
    std::function<void(TIdIRC* Sender, const std::string& ANick, const std::string& APort,
                       const std::string& AFileName, const std::string& APosition)>;
using TIdIRCOnDCCAccept =
    std::function<void(TIdIRC* Sender, const std::string& ANick, const std::string& APort,
                       const std::string& AFileName, const std::string& APosition)>;
using TIdIRCOnLinks =
    std::function<void(TIdIRC* Sender, const std::string& AMask, const std::string& AServer,
                       const std::string& AHopCount, const std::string& AServerInfo)>;
// AChans is the component's whole channel-list buffer; the batch starts at APosition.
using TIdIRCOnList = std::function<void(TIdIRC* Sender, const std::vector<std::string>* AChans,
                                        int32_t APosition, bool ALast)>;
// Sender is the channel that changed; AInfo is a member index or the member's new flags,
// depending on AUpdateType.
using TIdIRCOnChannelUpdate = std::function<void(
    TIdIRCChannel* Sender, TIdIRCChannelUpdateType AUpdateType, TIdIRCUser* AUser, int32_t AInfo)>;

// The IRC client component: a TCP client that registers with an IRC server, sends the
// protocol's outbound commands, and turns every line its reader thread receives into events.
//
// Threads. Everything here runs on the window's thread: the window's calls, the outbound
// commands, Connect and Disconnect, and HandleReceivedLine with every event it raises (the
// reader hands its lines over through the window's thread's queue, TIdMainThreadQueue). The
// reader only reads the connection. The window's thread must be registered with that queue
// (TIdMainThreadQueue::RegisterMainThread) and drain it (ProcessPending, after the queue's
// wake-up) while the component is connected.
#pragma once

#include "IdIRCCTCPLimiter.h"
#include "IdIRCChannels.h"
#include "IdIRCEvents.h"
#include "IdIRCModeSyntax.h"
#include "IdIRCNumerics.h"
#include "IdIRCReplies.h"
#include "IdIRCTokenizer.h"
#include "IdIRCUsers.h"
#include "IdTCPClient.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct TIdIRCReadLink;

// The component error of the class library: what a socket failure during registration
// becomes ("IRC Connect Failed").
class EComponentError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum TIdIRCState { csDisconnecting, csDisconnected, csConnecting, csConnected, csLoggedIn };

enum TIdIRCUserMode { umInvisible, umOperator, umServerNotices, umWallops };

// A set of user modes, one bit each.
// A line that the send queue has no room for. Nothing of the call was sent or queued: the
// caller still has the text, and may try again once the queue has drained.
class EIdIRCSendQueueFull : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TIdIRCUserModes {
public:
    constexpr TIdIRCUserModes() = default;
    constexpr TIdIRCUserModes(std::initializer_list<TIdIRCUserMode> AModes) {
        for (TIdIRCUserMode mode : AModes) {
            Include(mode);
        }
    }
    constexpr bool Contains(TIdIRCUserMode AMode) const { return (FBits >> AMode) & 1u; }
    constexpr void Include(TIdIRCUserMode AMode) { FBits = uint8_t(FBits | (1u << AMode)); }
    constexpr void Exclude(TIdIRCUserMode AMode) { FBits = uint8_t(FBits & ~(1u << AMode)); }
    constexpr bool Empty() const { return FBits == 0; }
    constexpr bool operator==(const TIdIRCUserModes&) const = default;

private:
    uint8_t FBits = 0;
};

class TIdIRC : public TIdTCPClient {
public:
    TIdIRC();
    // Disconnects (forced) if connected, and waits for the reader to have left the
    // connection, running or discarding the hand-off it may be blocked in.
    ~TIdIRC() override;

    // --- Connection ---------------------------------------------------------------------

    // Connects and registers: PASS (when a password is set), NICK, USER. ATimeout is not
    // used; the TCP connect uses the default time-out. Errors of the TCP connect pass
    // unchanged (State stays csConnecting); a socket error while registering becomes
    // EComponentError "IRC Connect Failed" (State stays csConnected).
    void Connect(int32_t ATimeout = Id::TimeoutDefault) override;
    // Unless forced, only a logged-in client disconnects. Sends nothing; raises OnDisconnect,
    // stops the reader (without waiting), closes the socket, and raises OnDisconnected
    // (which the closing has raised once already).
    void Disconnect(bool AForce);
    void Disconnect() override { Disconnect(true); }

    TIdIRCState State() const { return FState; }

    // --- Keeping the connection alive and the server content -----------------------------
    //
    // Both run on the window's thread: the owner calls CheckAlive now and then (once a second
    // serves the default times) and SendDue when the time SendDelay gave it has come. No
    // thread of its own, no wake-up of its own: the owner has a timer anyway.

    using TClock = std::function<std::chrono::steady_clock::time_point()>;
    // The steady clock unless a test gives its own.
    void SetClock(TClock AClock) { FClock = std::move(AClock); }

    // After PingIdleTime ms with no line from the server the component sends a PING of its
    // own; when PingWaitTime ms more pass without any line, it closes the connection as lost
    // (LostReason says why, and the reader ends on the close). Any received line is life.
    int32_t PingIdleTime() const { return FPingIdleTime; }
    void SetPingIdleTime(int32_t AMilliseconds) { FPingIdleTime = AMilliseconds; }
    int32_t PingWaitTime() const { return FPingWaitTime; }
    void SetPingWaitTime(int32_t AMilliseconds) { FPingWaitTime = AMilliseconds; }
    void CheckAlive();
    // Why the component itself ended the last connection; empty when it did not. Cleared by
    // Connect.
    const std::string& LostReason() const { return FLostReason; }

    // Paced sending: up to SendBurst lines go at once, then one every SendInterval ms while
    // more wait, in order. PONG never waits. Lines that must wait are queued, SendQueueLimit
    // at most: a call that does not fit raises EIdIRCSendQueueFull and queues none of its
    // lines. A disconnect empties the queue; UnsentCount says how many lines it dropped.
    // A SendInterval of 0 sends every line at once (for an owner without a timer).
    int32_t SendBurst() const { return FSendBurst; }
    void SetSendBurst(int32_t ALines) { FSendBurst = ALines; }
    int32_t SendInterval() const { return FSendInterval; }
    void SetSendInterval(int32_t AMilliseconds) { FSendInterval = AMilliseconds; }
    size_t SendQueueLimit() const { return FSendQueueLimit; }
    void SetSendQueueLimit(size_t ALines) { FSendQueueLimit = ALines; }
    size_t SendQueueCount() const { return FSendQueue.size(); }
    size_t UnsentCount() const { return FUnsentCount; }
    // Sends the queued lines whose time has come.
    void SendDue();
    // Milliseconds until the next queued line may go, or -1 with nothing queued.
    int32_t SendDelay();
    // Raised when a line had to wait in the queue: the owner should call SendDue after
    // SendDelay.
    TNotifyEvent OnSendQueued;

    // --- Outbound commands (the component's own file: IdIRCCommands.cpp) ----------------

    // Writes the line with CR LF if connected, then raises OnSend; else raises OnError "Not
    // connected to server." (or drops the line when OnError is unbound). CR, LF and NUL never
    // reach the wire inside a line: see IdIRCLines::WireLines for what becomes of them.
    void SendLine(const std::string& ALine);
    // The text commands cut their text so that every line, as the server relays it with a
    // full nick!user@host before it, stays within 512 bytes; each piece is a message of its
    // own (CTCP framing included) and no UTF-8 sequence is split.
    void Say(const std::string& ATarget, const std::string& AText);
    void Notice(const std::string& ATarget, const std::string& AText);
    void Action(const std::string& ATarget, const std::string& AText);
    void CTCPQuery(const std::string& ATarget, const std::string& ACommand,
                   const std::string& AParameters);
    void CTCPReply(const std::string& ATarget, const std::string& ACommand,
                   const std::string& AParameters);
    void Join(const std::string& AChannel, const std::string& AKey = std::string());
    void Mode(const std::string& ATarget, const std::string& AModes,
              const std::string& AArguments = std::string());

    // --- Inbound -------------------------------------------------------------------------

    // One received line, on the window's thread (the reader's hand-off). Ignored while
    // csDisconnected; an empty line is dropped; otherwise OnReceive, then DispatchLine.
    void HandleReceivedLine(const std::string& ALine);
    // The same for the reader, which has already split the line (its thread does that while
    // this one handles the line before) and hands the line over by swapping strings with
    // LineBuffer: no copy, and both keep their capacity from line to line.
    void HandleReceivedLine(std::string& VLine, const TIdIRCLineSplit& ASplit);
    // Lines have just arrived, which counts as life on the connection. The reader calls it
    // once per hand-off: one clock reading serves the whole batch (one per line would cost a
    // flood about as much as handling the line).
    void LinesArrived();

    // Whether the nick is a channel operator (has voice) in any channel the client tracks.
    bool IsOp(std::string_view ANick) const;
    bool IsVoice(std::string_view ANick) const;

    // --- Published properties ------------------------------------------------------------

    // While connected: the nick in use on the server. Writing it while connected sends NICK
    // and changes nothing until the server confirms.
    std::string Nick();
    void SetNick(const std::string& AValue);
    const std::string& AltNick() const { return FAltNick; }
    void SetAltNick(const std::string& AValue) { FAltNick = AValue; }
    const std::string& Username() const { return FUsername; }
    void SetUsername(const std::string& AValue) { FUsername = AValue; }
    const std::string& RealName() const { return FRealName; }
    void SetRealName(const std::string& AValue) { FRealName = AValue; }
    const std::string& Password() const { return FPassword; }
    void SetPassword(const std::string& AValue) { FPassword = AValue; }
    // Owned; assigning copies the four texts into it.
    TIdIRCReplies& Replies() { return FReplies; }
    void SetReplies(const TIdIRCReplies& AValue) { FReplies.Assign(AValue); }
    // Ignored while connected.
    TIdIRCUserModes UserMode() const { return FUserMode; }
    void SetUserMode(TIdIRCUserModes AValue);

    // --- Events, in their published order ------------------------------------------------

    TIdIRCOnMessage OnMessage;
    TIdIRCOnMessage OnNotice;
    TIdIRCOnMessage OnAction;
    TNotifyEvent OnConnect;
    TNotifyEvent OnDisconnect;
    TIdIRCOnJoin OnJoin;
    TIdIRCOnJoined OnJoined;
    TIdIRCOnPart OnPart;
    TIdIRCOnParted OnParted;
    TIdIRCOnKick OnKick;
    TIdIRCOnKicked OnKicked;
    TIdIRCOnNickChange OnNickChange;
    TIdIRCOnNickChanged OnNickChanged;
    TIdIRCOnTopic OnTopic;
    TIdIRCOnQuit OnQuit;
    TIdIRCOnNames OnNames;
    TIdIRCOnInvite OnInvite;
    TNotifyEvent OnPingPong;
    TIdIRCOnError OnError;
    TIdIRCOnAway OnAway;
    TIdIRCOnAwayChange OnNowAway;
    TIdIRCOnAwayChange OnUnAway;
    TIdIRCOnWallops OnWallops;
    TIdIRCOnSystem OnSystem;
    TIdIRCOnRaw OnRaw;
    TIdIRCOnOp OnOp;
    TIdIRCOnOp OnDeop;
    TIdIRCOnBan OnBan;
    TIdIRCOnBan OnUnban;
    TIdIRCOnOp OnVoice;
    TIdIRCOnOp OnDevoice;
    TIdIRCOnChannelMode OnChannelMode;
    TIdIRCOnChannelModeChanged OnChannelModeChanged;
    TIdIRCOnUserMode OnUserMode;
    TNotifyEvent OnUserModeChanged;
    TIdIRCOnInviting OnInviting;
    TIdIRCOnKill OnKill;
    TIdIRCOnUnknownCommand OnUnknownCommand;
    TIdIRCOnCTCPQuery OnCTCPQuery;
    TIdIRCOnCTCPReply OnCTCPReply;
    TNotifyEvent OnStateChange;
    TIdIRCOnSend OnSend;
    TIdIRCOnSend OnReceive;
    TIdIRCOnNicksInUse OnNicksInUse;
    TIdIRCOnSocketError OnSocketError;
    TIdIRCOnNoTopic OnNoTopic;
    TIdIRCOnDCCChat OnDCCChat;
    TIdIRCOnDCCSend OnDCCSend;
    TIdIRCOnDCCResume OnDCCResume;
    TIdIRCOnDCCAccept OnDCCAccept;
    TIdIRCOnLinks OnLinks;
    TIdIRCOnList OnList;
    TIdIRCOnChannelUpdate OnChannelUpdate;

    // --- Fields the dispatcher and the window read --------------------------------------

    const std::string& CurrentNick() const { return FCurrentNick; }
    const std::string& ServerName() const { return FServerName; }
    TIdIRCUsers& Users() { return FUsers; }
    TIdIRCChannels& Channels() { return FChannels; }
    // The client's own entry in Users; null while not connected.
    TIdIRCUser* User() const { return FUser; }

    // The current line, as the tokenizer left it.
    const std::string& LineBuffer() const { return FLineBuffer; }
    const std::string& SenderNick() const { return FLine.SenderNick; }
    const std::string& SenderAddress() const { return FLine.SenderAddress; }
    const std::string& Command() const { return FLine.Command; }
    const std::string& Content() const { return FLine.Content; }
    // Slot 0 the prefix, 1 the command, 2 to 29 the parameters.
    const std::string& Tokens(size_t AIndex) const { return FLine.Tokens().at(AIndex); }

    // True after numeric 306 (now away), false after 305.
    bool Away() const { return FAway; }
    // The channel list being collected for OnList (321 to 323), and where its next batch starts.
    const std::vector<std::string>& ListBuffer() const { return FListBuffer; }
    int32_t ListPosition() const { return FListPosition; }
    // The channel mode letters as the server announced them (numeric 5), the common set until
    // it does; reset by every Connect.
    const TIdIRCModeSyntax& ModeSyntax() const { return FModeSyntax; }
    // The rate limit of automatic CTCP answers. Assignable, so that a test can give it a clock.
    TIdIRCCTCPLimiter& CTCPLimiter() { return FCTCPLimiter; }

    // The index of the current line's command in the command table, or -1.
    int CommandIndex() const;
    // Not empty and beginning with "!", "#", "&" or "+".
    static bool IsChannelName(std::string_view AName);

    // Whether the last reader has ended, and the message of what ended it (a server close,
    // a line too long, a handler's exception, a disconnect): for tests and diagnostics. An
    // ended reader is not a fault; nothing is reported.
    bool ReadThreadEnded() const;
    std::string ReadThreadEndedWith() const;

protected:
    void SetState(TIdIRCState AValue);
    void SetServerName(const std::string& AValue) { FServerName = AValue; }

    // OnReceive, then DispatchLine, for the line in LineBuffer and its tokens.
    void ReceiveLine();
    // Hands the tokenized line on: OnRaw (whose handler may suppress the rest), then
    // DispatchCommand, then OnUnknownCommand for a line nothing handled.
    void DispatchLine();
    // Named commands through the command table (IdIRCDispatch.cpp), numeric replies through
    // the numeric table (IdIRCNumericReplies.cpp); true when the line was handled.
    bool DispatchCommand(TIdIRCUser* AUser);

    // Applies the mode change of the current line to the channel named in slot AStart (modes
    // in AStart + 1, parameters from AStart + 2), raising the op, voice and ban events; true
    // when the channel's mode set changed. Which letters take a parameter is ModeSyntax's.
    bool ParseChannelModes(size_t AStart);
    // Applies the user mode string in slot 3 to UserMode; true when it changed.
    bool ParseUserModes();

    // CTCP inside PRIVMSG (a query) and NOTICE (a reply), and DCC offers (IdIRCCTCPReplies.cpp).
    void HandleCTCPQuery();
    void HandleCTCPReply();
    void HandleDCC(const std::string& AArguments);

private:
    // Lets the line handling notice that an event handler destroyed the component (the
    // window closed from a nested event loop inside a handler): each handling holds the
    // record, and the destructor leaves it to the last holder. Window's thread only.
    struct TLife {
        bool Alive = true;
        int Holders = 0;
    };
    class TLifeGuard {
    public:
        explicit TLifeGuard(TLife* ALife) : FLife(ALife) { ++FLife->Holders; }
        ~TLifeGuard() {
            if (--FLife->Holders == 0 && !FLife->Alive) {
                delete FLife;
            }
        }
        TLifeGuard(const TLifeGuard&) = delete;
        TLifeGuard& operator=(const TLifeGuard&) = delete;
        bool Alive() const { return FLife->Alive; }

    private:
        TLife* FLife;
    };
    // A reference to a user taken for the length of one handling (the sender of a CTCP query,
    // a kick's victim) and released at its end, unless a handler destroyed the component or a
    // reconnect emptied the registry meanwhile.
    class THeldUser {
    public:
        THeldUser(TIdIRC& AClient, TIdIRCUser* AUser)
            : FLife(AClient.FLife), FClient(AClient), FUser(AUser),
              FGeneration(AClient.FRegistryGeneration) {}
        ~THeldUser() {
            if (FLife.Alive() && FClient.FRegistryGeneration == FGeneration) {
                FClient.FUsers.Release(FUser);
            }
        }
        THeldUser(const THeldUser&) = delete;
        THeldUser& operator=(const THeldUser&) = delete;
        bool Alive() const { return FLife.Alive(); }

    private:
        TLifeGuard FLife;
        TIdIRC& FClient;
        TIdIRCUser* FUser;
        uint32_t FGeneration;
    };

    // The named commands, one handler each; the command table in IdIRCDispatch.cpp maps the
    // command text to them. AUser is the sender's entry.
    friend struct TIdIRCCommandTable;
    void DoPrivmsg(TIdIRCUser* AUser);
    void DoNotice(TIdIRCUser* AUser);
    void DoJoin(TIdIRCUser* AUser);
    void DoPart(TIdIRCUser* AUser);
    void DoKick(TIdIRCUser* AUser);
    void DoMode(TIdIRCUser* AUser);
    void DoNick(TIdIRCUser* AUser);
    void DoQuit(TIdIRCUser* AUser);
    void DoInvite(TIdIRCUser* AUser);
    void DoKill(TIdIRCUser* AUser);
    void DoPing(TIdIRCUser* AUser);
    void DoWallops(TIdIRCUser* AUser);
    void DoTopic(TIdIRCUser* AUser);
    // A numeric reply (IdIRCNumericReplies.cpp); false for a number nothing handles.
    bool DoNumeric(TIdIRCUser* AUser, int32_t ACode);
    void DoChannelList(TIdIRCUser* AUser, const Id::TIdIRCNumeric& ARow);
    void DoNames(TIdIRCChannel* AChannel);
    // The nick fallback while registering (431 to 433).
    void NickRefused();
    // Raises OnSystem for a row that has a category, building the text only when it is bound.
    void RaiseSystem(TIdIRCUser* AUser, const Id::TIdIRCNumeric& ARow);
    // The current line's parameter n (slot n + 1).
    const std::string& Param(size_t AIndex) const { return FLine.Token(AIndex + 1); }
    // AFirst followed by every non-empty slot from AFromSlot on, each after one blank.
    std::string ModeText(const std::string& AFirst, size_t AFromSlot) const;

    // The text commands' common path: ATarget, then AText cut into pieces that fit, each sent
    // as APrefix + piece + ASuffix.
    void SendText(const std::string& ACommand, const std::string& ATarget,
                  const std::string& AFrameStart, const std::string& AText,
                  const std::string& AFrameEnd);
    void WriteWireLine(const std::string& ALine);
    // Every wire line of one call: sent at once while the burst lasts, the rest queued (all
    // or none, see EIdIRCSendQueueFull).
    void SendPaced(const std::vector<std::string>& ALines);
    // A line that must not wait behind the queue (PONG, the own PING).
    void SendUrgent(const std::string& ALine);
    // Adds the credit earned since it was last counted, up to SendBurst.
    void RefillSendCredit(std::chrono::steady_clock::time_point ANow);
    void ResetPacing();
    // The USER line's local host text: BoundIP when set, else this machine's first address
    // by its host name, else (that name does not resolve) the address the socket is bound to.
    std::string LocalHostText();
    // Disconnect's part: asks the reader to end and stops taking its lines. Does not wait.
    void StopReader();
    // Makes sure the last reader has left the connection: stops it and waits for its end,
    // failing (not running) any hand-off it is blocked in.
    void WaitForReader();

    TLife* FLife = new TLife;

    TClock FClock = std::chrono::steady_clock::now;
    int32_t FPingIdleTime = 120000;
    int32_t FPingWaitTime = 60000;
    std::chrono::steady_clock::time_point FLastReceived;
    bool FPingOut = false; // the own PING is unanswered; FLastReceived is when it went
    std::string FLostReason;
    int32_t FSendBurst = 5;
    int32_t FSendInterval = 2000;
    size_t FSendQueueLimit = 100;
    std::deque<std::string> FSendQueue;
    int32_t FSendCredit = 0;                         // lines that may go at once
    std::chrono::steady_clock::time_point FCreditAt; // when FSendCredit was last counted
    size_t FUnsentCount = 0;

    std::string FNick = "Nick";
    std::string FAltNick = "OtherNick";
    std::string FUsername = "username";
    std::string FRealName = "Real name";
    std::string FPassword;
    TIdIRCReplies FReplies;
    TIdIRCUserModes FUserMode;

    TIdIRCState FState = csDisconnected;
    std::string FCurrentNick;
    std::string FServerName;
    TIdIRCUsers FUsers; // before FChannels, which count members in it
    TIdIRCChannels FChannels;
    TIdIRCUser* FUser = nullptr;
    // Counts the connects that emptied the registry: a line's handling that spans one (a
    // handler reconnected) must not release what the registry no longer holds.
    uint32_t FRegistryGeneration = 0;
    std::shared_ptr<TIdIRCReadLink> FReader; // the last reader started

    bool FAway = false;
    std::vector<std::string> FListBuffer;
    int32_t FListPosition = 0;
    TIdIRCModeSyntax FModeSyntax;
    TIdIRCCTCPLimiter FCTCPLimiter;
    // The nicks the server refused in this registration: the fallback ends rather than send
    // one of them again.
    std::vector<std::string> FRefusedNicks;

    // The received line: the tokenizer reads it without changing it, so it is the copy that
    // OnReceive is given as well. FLine's slots are copied out of it on demand.
    std::string FLineBuffer;
    TIdIRCLineFields FLine;
};

#include "IdIRC.h"

#include "IdException.h"
#include "IdIOHandlerSocket.h"
#include "IdIRCReadThread.h"
#include "IdMainThreadQueue.h"
#include "IdStack.h"

TIdIRC::TIdIRC() : FUsers(this), FChannels(this, &FUsers, &OnChannelUpdate) {
    SetPort(6667);
}

TIdIRC::~TIdIRC() {
    try {
        if (Connected()) {
            Disconnect(true);
        }
    } catch (...) {
        // A destructor must not throw; an event handler's failure ends here.
    }
    WaitForReader();
    if (FLife->Holders == 0) {
        delete FLife;
    } else {
        FLife->Alive = false;
    }
}

// --- Connection --------------------------------------------------------------------------

void TIdIRC::Connect(int32_t ATimeout) {
    (void)ATimeout; // the TCP connect always uses the default time-out
    if (Connected()) {
        Disconnect(true);
    }
    // The next connect resets the input buffer the previous reader read from.
    WaitForReader();
    FChannels.Clear();
    FUsers.Clear();
    ++FRegistryGeneration;
    FUser = FUsers.Add(FNick, std::string());
    FCurrentNick = FNick;
    FRefusedNicks.clear();
    FModeSyntax.Reset();
    FLostReason.clear();
    FPingOut = false;
    FLastReceived = FClock();
    ResetPacing();
    FUnsentCount = 0;
    SetState(csConnecting);
    TIdTCPClient::Connect(Id::TimeoutDefault);
    SetState(csConnected);
    try {
        RaiseEvent(OnConnect, this);
        if (Connected()) {
            FReader = TIdIRCReadThread::Start(this);
        }
        const std::string local = LocalHostText();
        const std::string& server = FServerName.empty() ? local : FServerName;
        if (!FPassword.empty()) {
            SendLine("PASS " + FPassword);
        }
        SendLine("NICK " + FNick);
        SendLine("USER " + FUsername + " " + local + " " + server + " :" + FRealName);
    } catch (const EIdSocketError&) {
        throw EComponentError("IRC Connect Failed");
    }
}

// A machine whose own name does not resolve (a minimal install, a container without a line
// for it in /etc/hosts) must still be able to register: the server does not use the field,
// and the socket's own address is always there once connected.
std::string TIdIRC::LocalHostText() {
    if (!BoundIP().empty()) {
        return BoundIP();
    }
    try {
        return ActiveStack()->LocalAddress();
    } catch (const EIdSocketError&) {
        const TIdSocketHandle* binding =
            IOHandler() != nullptr ? IOHandler()->SocketBinding() : nullptr;
        if (binding == nullptr || binding->IP().empty()) {
            throw; // a transport without a socket has no address to offer instead
        }
        return binding->IP();
    }
}

void TIdIRC::Disconnect(bool AForce) {
    if (FState != csLoggedIn && !AForce) {
        return;
    }
    if (FUser != nullptr) {
        TIdIRCUser* own = std::exchange(FUser, nullptr);
        FUsers.Release(own);
    }
    // Whatever still waits is for a connection that is going: it is counted, not sent.
    ResetPacing();
    SetState(csDisconnecting);
    RaiseEvent(OnDisconnect, this);
    StopReader();
    TIdTCPClient::Disconnect();
    SetState(csDisconnected);
    DoDisconnected();
}

void TIdIRC::StopReader() {
    if (!FReader) {
        return;
    }
    FReader->Client = nullptr;
    std::lock_guard lock(FReader->Lock);
    if (FReader->Thread != nullptr) {
        FReader->Thread->Terminate();
    }
}

void TIdIRC::WaitForReader() {
    if (!FReader) {
        return;
    }
    StopReader();
    const std::shared_ptr<const std::atomic<bool>> ended = FReader->Ended;
    if (!ended->load()) {
        // A reader blocked in a read ends when the socket closes. Disconnect has closed it,
        // unless a handler raised before it got there (an OnDisconnect during destruction).
        try {
            DisconnectSocket();
        } catch (...) {
            // Only an intercept's failure to hear of the close can land here.
        }
        // Failing rather than running its hand-off: its lines are no longer wanted, and this
        // may be called from inside that very hand-off (a handler that reconnects, or that
        // opens a nested event loop in which the window is closed), where running it could
        // never finish.
        TIdMainThreadQueue::Instance().DiscardPendingUntil([ended] { return ended->load(); },
                                                           FReader->Owner);
    }
    FReader.reset();
}

bool TIdIRC::ReadThreadEnded() const {
    return !FReader || FReader->Ended->load();
}

std::string TIdIRC::ReadThreadEndedWith() const {
    if (!FReader) {
        return std::string();
    }
    std::lock_guard lock(FReader->Lock);
    return FReader->EndedWith;
}

void TIdIRC::SetState(TIdIRCState AValue) {
    if (AValue == FState) {
        return;
    }
    FState = AValue;
    RaiseEvent(OnStateChange, this);
}

// --- Properties --------------------------------------------------------------------------

std::string TIdIRC::Nick() {
    return Connected() ? FCurrentNick : FNick;
}

void TIdIRC::SetNick(const std::string& AValue) {
    if (Connected()) {
        SendLine("NICK " + AValue);
    } else {
        FNick = AValue;
    }
}

void TIdIRC::SetUserMode(TIdIRCUserModes AValue) {
    if (!Connected()) {
        FUserMode = AValue;
    }
}

bool TIdIRC::IsOp(std::string_view ANick) const {
    return (FChannels.MemberFlags(ANick) & IRCMemberOperator) != 0;
}

bool TIdIRC::IsVoice(std::string_view ANick) const {
    return (FChannels.MemberFlags(ANick) & IRCMemberVoice) != 0;
}

// --- Inbound -----------------------------------------------------------------------------

void TIdIRC::HandleReceivedLine(const std::string& ALine) {
    if (FState == csDisconnected || ALine.empty()) {
        return;
    }
    LinesArrived();
    FLineBuffer.assign(ALine);
    FLine.Reset(FLineBuffer);
    ReceiveLine();
}

void TIdIRC::HandleReceivedLine(std::string& VLine, const TIdIRCLineSplit& ASplit) {
    if (FState == csDisconnected || VLine.empty()) {
        return;
    }
    FLineBuffer.swap(VLine);
    FLine.Reset(FLineBuffer, ASplit);
    ReceiveLine();
}

void TIdIRC::LinesArrived() {
    if (FState != csDisconnected) {
        FLastReceived = FClock();
        FPingOut = false;
    }
}

void TIdIRC::ReceiveLine() {
    if (OnReceive) {
        TLifeGuard life(FLife);
        OnReceive(this, FLineBuffer);
        if (!life.Alive()) {
            return;
        }
    }
    DispatchLine();
}

void TIdIRC::DispatchLine() {
    TLifeGuard life(FLife);
    // The sender's entry for the length of the line. A handler may end the line's handling
    // by raising: the reference is released on the way out all the same, unless the
    // component (and its registry) went with the handler, or a reconnect emptied the registry.
    TIdIRCUser* user = FUsers.Add(FLine.SenderNickView(), FLine.SenderAddressView());
    struct Release {
        const TLifeGuard& Life;
        TIdIRC& Client;
        TIdIRCUser* User;
        uint32_t Generation;
        ~Release() {
            if (Life.Alive() && Client.FRegistryGeneration == Generation) {
                Client.FUsers.Release(User);
            }
        }
    } release{life, *this, user, FRegistryGeneration};
    if (OnRaw) {
        bool suppress = false;
        OnRaw(this, user, FLine.Command, FLine.Content, suppress);
        if (suppress || !life.Alive()) {
            return;
        }
    }
    if (!DispatchCommand(user) && life.Alive()) {
        RaiseEvent(OnUnknownCommand, this, user, FLine.Command, FLine.Content);
    }
}

#include "IdIOHandlerSocket.h"

#include "IdAntiFreezeBase.h"
#include "IdConnectThread.h"
#include "IdException.h"
#include "IdGlobal.h"
#include "IdSocketErrors.h"
#include "IdStack.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

namespace {

void SleepMs(int32_t AMSec) {
    if (AMSec > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(AMSec));
    }
}

} // namespace

TIdIOHandlerSocket::TIdIOHandlerSocket() = default;

TIdIOHandlerSocket::~TIdIOHandlerSocket() {
    SetSocksInfo(nullptr);
    TIdIOHandlerSocket::Close();
}

void TIdIOHandlerSocket::Close() {
    TIdIOHandler::Close();
    if (FBinding) {
        FBinding->CloseSocket();
    }
}

bool TIdIOHandlerSocket::Connected() {
    return FBinding && FBinding->HandleAllocated();
}

void TIdIOHandlerSocket::Open() {
    if (!FBinding) {
        FBinding = std::make_unique<TIdSocketHandle>();
    } else {
        FBinding->Reset(true);
    }
}

void TIdIOHandlerSocket::ConnectClient(const std::string& AHost, int32_t APort,
                                       const std::string& ABoundIP, int32_t ABoundPort,
                                       int32_t ABoundPortMin, int32_t ABoundPortMax,
                                       int32_t ATimeout) {
    if (!FBinding) {
        Open();
    }
    // Through a proxy the proxy is dialled, and asked for AHost:APort once connected.
    TIdSocksInfo* socks =
        FSocksInfo != nullptr && FSocksInfo->Version() != svNoSocks ? FSocksInfo : nullptr;
    if (socks != nullptr) {
        socks->CheckRequest(AHost, APort);
    }
    const std::string& host = socks != nullptr ? socks->Host() : AHost;
    const int32_t port = socks != nullptr ? socks->Port() : APort;

    FBinding->AllocateSocket(Id_SOCK_STREAM, 0);
    FBinding->SetIP(ABoundIP);
    FBinding->SetPort(ABoundPort);
    FBinding->SetClientPortMin(ABoundPortMin);
    FBinding->SetClientPortMax(ABoundPortMax);
    FBinding->Bind();

    TIdStack& stack = *ActiveStack();
    if (!stack.IsDottedAddress(host)) {
        DoStatus(hsResolving, host);
    }
    FBinding->SetPeer(stack.ResolveHostName(host), port);

    if (!FUseNagle) {
        const int32_t on = 1;
        FBinding->SetSockOpt(Id_IPPROTO_TCP, Id_TCP_NODELAY, &on, sizeof(on));
    }

    DoStatus(hsConnecting, FBinding->PeerIP());
    if (ATimeout == Id::TimeoutDefault || ATimeout == 0) {
        if (TIdAntiFreezeBase::ShouldUse()) {
            ConnectWithTimeout(AntiFreezeConnectTimeout);
        } else {
            stack.CheckForSocketError(FBinding->Connect(Id_PF_INET));
        }
    } else {
        ConnectWithTimeout(ATimeout);
    }

    if (socks != nullptr) {
        try {
            socks->SetIOHandler(this);
            socks->MakeSocksConnection(AHost, APort);
        } catch (...) {
            // Whatever the proxy did, nothing more is read from it.
            Close();
            throw;
        }
    }
}

TIdSocksInfo* TIdIOHandlerSocket::SocksInfo() {
    if (FSocksInfo == nullptr) {
        FOwnSocksInfo = std::make_unique<TIdSocksInfo>();
        FSocksInfo = FOwnSocksInfo.get();
        FSocksInfo->SetIOHandler(this);
    }
    return FSocksInfo;
}

void TIdIOHandlerSocket::SetSocksInfo(TIdSocksInfo* AValue) {
    if (AValue == FSocksInfo) {
        return;
    }
    TIdSocksInfo* old = std::exchange(FSocksInfo, nullptr);
    if (old != nullptr && old != FOwnSocksInfo.get()) {
        // The settings must not keep pointing here once the link that tells them of this
        // handler's end is gone.
        if (old->IOHandler() == this) {
            old->SetIOHandler(nullptr);
        }
        old->RemoveFreeNotification(this);
    }
    FOwnSocksInfo.reset();
    FSocksInfo = AValue;
    if (AValue != nullptr) {
        AValue->FreeNotification(this);
        AValue->SetIOHandler(this);
    }
}

void TIdIOHandlerSocket::AssignSocksInfo(const TIdSocksInfo& ASource) {
    if (FSocksInfo != FOwnSocksInfo.get()) {
        SetSocksInfo(nullptr);
    }
    SocksInfo()->Assign(ASource);
}

void TIdIOHandlerSocket::Notification(TIdBaseComponent* AComponent, TOperation AOperation) {
    if (AOperation == opRemove && AComponent == FSocksInfo && FSocksInfo != FOwnSocksInfo.get()) {
        FSocksInfo = nullptr;
    }
    TIdIOHandler::Notification(AComponent, AOperation);
}

// The connect runs on a TIdConnectThread while this thread sleeps in steps and polls the
// thread's terminated mark. On time-out, closing the socket releases the blocked connect.
void TIdIOHandlerSocket::ConnectWithTimeout(int32_t ATimeout) {
    TIdConnectThread thread(FBinding.get());
    thread.Start();
    try {
        int32_t step = ConnectPollStep;
        if (TIdAntiFreezeBase::ShouldUse()) {
            step = std::min(step, TIdAntiFreezeBase::IdleSlice());
        }
        const bool infinite = ATimeout == Id::TimeoutInfinite;
        int32_t remaining = infinite ? step + 1 : ATimeout;
        while (step < remaining) {
            SleepMs(step);
            remaining = infinite ? step + 1 : remaining - step;
            TIdAntiFreezeBase::DoProcess(true);
            if (thread.Terminated()) {
                remaining = 0;
                break;
            }
        }
        SleepMs(remaining);
    } catch (...) {
        // The hook raised while the connect may still be blocked: release it before the
        // thread object waits for its end.
        if (!thread.Terminated()) {
            thread.Terminate();
            Close();
        }
        throw;
    }

    if (thread.Terminated()) {
        if (!thread.ExceptionMessage().empty()) {
            throw EIdConnectException(thread.ExceptionMessage());
        }
        return;
    }
    thread.Terminate();
    Close();
    thread.WaitFor();
    throw EIdConnectTimeout();
}

bool TIdIOHandlerSocket::Readable(int32_t AMSec) {
    if (!FBinding) {
        throw EIdConnClosedGracefully();
    }
    return FBinding->Readable(AMSec);
}

int32_t TIdIOHandlerSocket::Recv(void* ABuf, int32_t ALen) {
    if (!Connected()) {
        throw EIdClosedSocket();
    }
    return ClosedMeanwhile(FBinding->Recv(ABuf, ALen, 0));
}

int32_t TIdIOHandlerSocket::Send(const void* ABuf, int32_t ALen) {
    if (!Connected()) {
        throw EIdClosedSocket();
    }
    return ClosedMeanwhile(FBinding->Send(ABuf, ALen, 0));
}

// Another thread's Close between the check and the call leaves the binding without a socket,
// and the call then fails as on a closed socket: 10009 from the BSD calls, 10038 from
// Winsock, which knows no such handle. That is this side's close, not a fault of the socket:
// it raises what a close raises.
int32_t TIdIOHandlerSocket::ClosedMeanwhile(int32_t AResult) {
    if (AResult == Id_SOCKET_ERROR && !FBinding->HandleAllocated()) {
        const int32_t code = ActiveStack()->LastSocketError();
        if (code == Id::WSAEBADF || code == Id::WSAENOTSOCK) {
            throw EIdClosedSocket();
        }
    }
    return AResult;
}

#include "IdSocketHandle.h"

#include "IdAntiFreezeBase.h"
#include "IdException.h"
#include "IdGlobal.h"
#include "IdSocketErrors.h"

#include <utility>

namespace {

TIdStack& Stack() {
    return *ActiveStack();
}

} // namespace

// One descriptor, closed when the last reference goes: the handle's own, or that of a call
// still running on it after CloseSocket (see the header).
struct TIdSocketHandle::TSocket {
    explicit TSocket(TIdStackSocketHandle AHandle) : Handle(AHandle) {}
    ~TSocket() {
        if (TIdStack* stack = ActiveStack()) {
            stack->CloseSocket(Handle);
        }
    }
    TSocket(const TSocket&) = delete;
    TSocket& operator=(const TSocket&) = delete;

    const TIdStackSocketHandle Handle;
};

namespace {

// A call on a handle without a socket goes to the stack with the invalid handle, so it fails
// the way a call on a closed descriptor does, with the code on the calling thread.
template <typename Socket> TIdStackSocketHandle HandleOf(const Socket& ASocket) {
    return ASocket ? ASocket->Handle : Id_INVALID_SOCKET;
}

} // namespace

TIdSocketHandle::TIdSocketHandle() = default;

TIdSocketHandle::~TIdSocketHandle() {
    CloseSocket();
}

void TIdSocketHandle::Assign(const TIdSocketHandle& ASource) {
    if (&ASource == this) {
        return;
    }
    FIP = ASource.FIP;
    FPort = ASource.FPort;
    FPeerIP = ASource.FPeerIP;
    FPeerPort = ASource.FPeerPort;
}

std::shared_ptr<TIdSocketHandle::TSocket> TIdSocketHandle::Acquire() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FSocket;
}

void TIdSocketHandle::Release() {
    std::shared_ptr<TSocket> socket;
    {
        std::lock_guard<std::mutex> lock(FLock);
        socket.swap(FSocket);
        FHandleAllocated.store(false, std::memory_order_release);
    }
    if (socket) {
        // Both directions: shutting down only the sending side would leave a reader blocked
        // in poll or recv until the peer happens to close. The result is ignored (a socket
        // that never connected answers "not connected").
        Stack().Shutdown(socket->Handle, Id_SD_Both);
    }
    // `socket` goes here; the descriptor is closed now unless a call still holds it.
}

void TIdSocketHandle::CloseSocket() {
    Release();
}

void TIdSocketHandle::AllocateSocket(int32_t ASocketType, int32_t AProtocol) {
    Release();
    const TIdStackSocketHandle handle = Stack().NewSocketHandle(ASocketType, AProtocol);
    std::shared_ptr<TSocket> socket;
    try {
        socket = std::make_shared<TSocket>(handle);
    } catch (...) {
        Stack().CloseSocket(handle);
        throw;
    }
    std::lock_guard<std::mutex> lock(FLock);
    FSocket = std::move(socket);
    FHandle.store(handle, std::memory_order_release);
    FHandleAllocated.store(true, std::memory_order_release);
}

bool TIdSocketHandle::TryBind() {
    const auto socket = Acquire();
    TIdStack& stack = Stack();
    const int32_t result = stack.Bind(HandleOf(socket), Id_PF_INET, FIP, FPort);
    if (stack.CheckForSocketError(result, {Id::WSAEADDRINUSE})) {
        return false;
    }
    int32_t family = 0;
    stack.SockName(HandleOf(socket), family, FIP, FPort);
    return true;
}

void TIdSocketHandle::Bind() {
    if (FPort != 0 || FClientPortMin == 0 || FClientPortMax == 0) {
        if (!TryBind()) {
            throw EIdCouldNotBindSocket();
        }
        return;
    }
    if (FClientPortMin > FClientPortMax) {
        throw EIdInvalidPortRange(FClientPortMin, FClientPortMax);
    }
    // 64-bit counter: a range that ends at the lowest 32-bit value must not wrap around.
    for (int64_t port = FClientPortMax; port >= FClientPortMin; --port) {
        FPort = static_cast<int32_t>(port);
        if (TryBind()) {
            return;
        }
    }
    throw EIdCanNotBindPortInRange(FClientPortMin, FClientPortMax);
}

int32_t TIdSocketHandle::Connect(int32_t AFamily) {
    const auto socket = Acquire();
    TIdStack& stack = Stack();
    const int32_t result = stack.Connect(HandleOf(socket), AFamily, FPeerIP, FPeerPort);
    if (result != Id_SOCKET_ERROR) {
        int32_t family = 0;
        stack.SockName(HandleOf(socket), family, FIP, FPort);
        try {
            stack.PeerName(HandleOf(socket), family, FPeerIP, FPeerPort);
        } catch (const EIdSocketError&) {
            // A peer that accepts and resets at once can be gone before this question
            // ("not connected"). The connect did succeed, to the address just dialled, which
            // stays; the reset is reported by the first read or write like any other. (A
            // reset the kernel already reports from connect() fails the connect above, and
            // the caller raises its mapped error, 10054, just as a read would.)
        }
    }
    return result;
}

bool TIdSocketHandle::Readable(int32_t AMSec) {
    if (!HandleAllocated()) {
        throw EIdConnClosedGracefully();
    }
    if (!TIdAntiFreezeBase::ShouldUse()) {
        return WaitReadable(AMSec);
    }
    // With the anti-freeze hook the wait is cut into slices of its idle time-out, so the
    // window's thread gets to process its messages between them. A loop, not a call per
    // slice: the number of slices is the wait divided by the slice, without bound.
    const int32_t slice = TIdAntiFreezeBase::IdleSlice();
    for (;;) {
        const bool last = AMSec != Id::TimeoutInfinite && AMSec <= slice;
        if (WaitReadable(last ? AMSec : slice)) {
            return true;
        }
        if (last) {
            return false;
        }
        if (AMSec != Id::TimeoutInfinite) {
            AMSec -= slice;
        }
    }
}

bool TIdSocketHandle::WaitReadable(int32_t AMSec) {
    auto socket = Acquire();
    if (!socket) {
        throw EIdConnClosedGracefully(); // closed by another thread since the caller's check
    }
    // One list per thread, kept: a wait per receipt allocates nothing once it has grown.
    thread_local TIdSocketHandles readList;
    readList.assign(1, socket->Handle);
    const bool result = Stack().Select(&readList, nullptr, nullptr, AMSec) == 1;
    // Let the socket go before the hook runs: what it processes may close this handle.
    socket.reset();
    TIdAntiFreezeBase::DoProcess(!result);
    return result;
}

int32_t TIdSocketHandle::Recv(void* ABuffer, int32_t ALength, int32_t AFlags) {
    const auto socket = Acquire();
    return Stack().Recv(HandleOf(socket), ABuffer, ALength, AFlags);
}

int32_t TIdSocketHandle::Send(const void* ABuffer, int32_t ALength, int32_t AFlags) {
    const auto socket = Acquire();
    return Stack().Send(HandleOf(socket), ABuffer, ALength, AFlags);
}

int32_t TIdSocketHandle::RecvFrom(void* ABuffer, int32_t ALength, int32_t AFlags) {
    const auto socket = Acquire();
    return Stack().RecvFrom(HandleOf(socket), ABuffer, ALength, AFlags, FPeerIP, FPeerPort);
}

void TIdSocketHandle::SetSockOpt(int32_t ALevel, int32_t AOptName, const void* AOptVal,
                                 int32_t AOptLen) {
    const auto socket = Acquire();
    TIdStack& stack = Stack();
    stack.CheckForSocketError(
        stack.SetSockOpt(HandleOf(socket), ALevel, AOptName, AOptVal, AOptLen));
}

void TIdSocketHandle::SetPeer(const std::string& AIP, int32_t APort) {
    FPeerIP = AIP;
    FPeerPort = APort;
}

void TIdSocketHandle::Reset(bool AResetLocal) {
    // A socket still held here would otherwise stay open with nobody to close it.
    Release();
    FHandle.store(Id_INVALID_SOCKET, std::memory_order_release);
    if (AResetLocal) {
        FIP.clear();
        FPort = 0;
    }
    FPeerIP.clear();
    FPeerPort = 0;
}

void TIdSocketHandle::UpdateBindingLocal() {
    const auto socket = Acquire();
    int32_t family = 0;
    Stack().SockName(HandleOf(socket), family, FIP, FPort);
}

void TIdSocketHandle::UpdateBindingPeer() {
    const auto socket = Acquire();
    int32_t family = 0;
    Stack().PeerName(HandleOf(socket), family, FPeerIP, FPeerPort);
}

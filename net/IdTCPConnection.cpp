#include "IdTCPConnection.h"

#include "IdAntiFreezeBase.h"
#include "IdConnectionIntercept.h"
#include "IdException.h"
#include "IdSocketErrors.h"
#include "IdStack.h"

#include <cstring>
#include <string_view>

// The connection's reference to its I/O handler, shared with the calls that are inside it.
// Whether the handler is freed is decided when the connection lets go of it.
struct TIdTCPConnection::THandlerRef {
    explicit THandlerRef(TIdIOHandler* AHandler) : Handler(AHandler) {}
    ~THandlerRef() {
        if (Free) {
            delete Handler;
        }
    }
    TIdIOHandler* const Handler;
    bool Free = false; // written before the connection drops its reference
};

TIdTCPConnection::TIdTCPConnection()
    : FInputBuffer(std::make_unique<TIdManagedBuffer>()),
      FLastReply(std::make_unique<TIdRFCReply>()),
      FRecvBuffer(std::make_unique<TIdSimpleBuffer>()) {
    FInputBuffer->OnBytesRemoved = [this](TIdSimpleBuffer*, int32_t ACount) {
        BytesRemoved(ACount);
    };
}

TIdTCPConnection::~TIdTCPConnection() {
    // An intercept's disconnect hook that raises must not end the program here.
    try {
        DisconnectSocket();
    } catch (...) {
    }
    ReleaseIOHandler(FOwnsIOHandler);
    FOwnsIOHandler = false;
}

TIdTCPConnection::TLease TIdTCPConnection::Lease() const {
    std::lock_guard lock(FIOHandlerLock);
    return FIOHandler;
}

TIdIOHandler* TIdTCPConnection::IOHandler() const {
    std::lock_guard lock(FIOHandlerLock);
    return FIOHandler ? FIOHandler->Handler : nullptr;
}

void TIdTCPConnection::ReleaseIOHandler(bool AFree) {
    TLease old;
    {
        std::lock_guard lock(FIOHandlerLock);
        old = std::move(FIOHandler);
    }
    if (!old) {
        return;
    }
    // Unlink now, on this thread: the handler may be freed later on the reader's thread,
    // and must not reach back into this connection then.
    old->Handler->RemoveFreeNotification(this);
    old->Free = AFree;
    // The handler goes with the last lease: here, or when a blocked reader leaves it.
}

void TIdTCPConnection::SetIOHandler(TIdIOHandler* AValue) {
    if (AValue == IOHandler()) {
        return; // re-assigning an owned handler must not free it under the new reference
    }
    ReleaseIOHandler(FOwnsIOHandler);
    FOwnsIOHandler = false;
    FCloseClaimed = false;
    FDisconnectedLocally = false;
    if (AValue != nullptr) {
        AValue->FreeNotification(this);
        std::lock_guard lock(FIOHandlerLock);
        FIOHandler = std::make_shared<THandlerRef>(AValue);
    }
}

void TIdTCPConnection::SetIntercept(TIdConnectionIntercept* AValue) {
    TIdConnectionIntercept* old = FIntercept.exchange(AValue);
    if (old == AValue) {
        return;
    }
    if (old != nullptr) {
        old->RemoveFreeNotification(this);
    }
    if (AValue != nullptr) {
        AValue->FreeNotification(this);
    }
}

void TIdTCPConnection::Notification(TIdBaseComponent* AComponent, TOperation AOperation) {
    if (AOperation == opRemove) {
        if (AComponent == FIntercept.load()) {
            FIntercept = nullptr;
        }
        if (AComponent == IOHandler()) {
            // Destroyed by its owner: it must not be freed a second time.
            ReleaseIOHandler(false);
            FOwnsIOHandler = false;
        }
    }
    TIdComponent::Notification(AComponent, AOperation);
}

void TIdTCPConnection::DoDisconnected() {
    RaiseEvent(OnDisconnected, this);
}

void TIdTCPConnection::ResetConnection() {
    FInputBuffer->Clear();
    FInputBuffered = 0;
    FClosedGracefully = false;
    FCloseClaimed = false;
    FDisconnectedLocally = false;
}

void TIdTCPConnection::BytesRemoved(int32_t ACount) {
    FInputBuffered.store(FInputBuffer->Size(), std::memory_order_relaxed);
    DoWork(wmRead, ACount);
}

bool TIdTCPConnection::CheckForDisconnectLeased(const TLease& AHandler, bool ARaise,
                                            bool AIgnoreBuffer) {
    if (!AHandler) {
        return false; // without a handler the connection never counts as lost here
    }
    bool disconnected = false;
    if (FClosedGracefully) {
        disconnected = true;
        // Close a socket the peer has closed, and report it, once per connection.
        if (AHandler->Handler->Connected() && !FCloseClaimed.exchange(true)) {
            DisconnectSocketLeased(AHandler, true);
            DoStatus(hsDisconnected);
            DoDisconnected();
        }
    } else if (!AHandler->Handler->Connected()) {
        disconnected = true;
    }
    // ARaise first: the window's thread asks with false and must not look at the buffer.
    if (disconnected && ARaise &&
        (AIgnoreBuffer || FInputBuffered.load(std::memory_order_relaxed) == 0)) {
        throw EIdConnClosedGracefully();
    }
    return disconnected;
}

void TIdTCPConnection::CheckForDisconnect(bool ARaiseExceptionIfDisconnected, bool AIgnoreBuffer) {
    CheckForDisconnectLeased(Lease(), ARaiseExceptionIfDisconnected, AIgnoreBuffer);
}

bool TIdTCPConnection::ConnectedLeased(const TLease& AHandler) {
    CheckForDisconnectLeased(AHandler, false, false);
    return AHandler && AHandler->Handler->Connected();
}

bool TIdTCPConnection::Connected() {
    return ConnectedLeased(Lease());
}

int32_t TIdTCPConnection::PollForDisconnect(bool ARaiseExceptionIfDisconnected) {
    return FillInputBuffer(ARaiseExceptionIfDisconnected, 1, false);
}

void TIdTCPConnection::DisconnectSocketLeased(const TLease& AHandler, bool AClaimed) {
    if (!AHandler) {
        return;
    }
    FClosedGracefully = true;
    // The intercept hears of the close once, whichever thread closes first.
    bool first = !FCloseClaimed.exchange(true) || AClaimed;
    if (TIdConnectionIntercept* intercept = FIntercept.load(); intercept != nullptr && first) {
        intercept->Disconnect();
    }
    AHandler->Handler->Close();
}

void TIdTCPConnection::DisconnectSocket() {
    FDisconnectedLocally = true;
    DisconnectSocketLeased(Lease());
}

void TIdTCPConnection::Disconnect() {
    DoStatus(hsDisconnecting);
    DisconnectSocket();
    if (FOwnsIOHandler) {
        FOwnsIOHandler = false;
        ReleaseIOHandler(true);
    }
    DoDisconnected();
    DoStatus(hsDisconnected);
}

int32_t TIdTCPConnection::FillInputBuffer(bool ARaiseExceptionIfDisconnected, int32_t ATimeout,
                                          bool ARaiseExceptionOnTimeout) {
    if (ATimeout == Id::TimeoutDefault) {
        ATimeout = FReadTimeout != 0 ? FReadTimeout : Id::TimeoutInfinite;
    }
    // One lease for the whole call: the handler this read waits on stays alive, and the
    // read is judged by it even if a Disconnect drops it meanwhile.
    const TLease handler = Lease();
    CheckForDisconnectLeased(handler, ARaiseExceptionIfDisconnected, false);
    if (!ConnectedLeased(handler)) {
        if (ARaiseExceptionIfDisconnected) {
            throw EIdNotConnected();
        }
        return 0;
    }
    for (;;) {
        if (!handler->Handler->Readable(ATimeout)) {
            break;
        }
        TIdConnectionIntercept* intercept = FIntercept.load();
        // Without an intercept to show the block to, it is received straight into the
        // input buffer's free end, saving a copy of every byte.
        const bool direct = intercept == nullptr;
        int32_t count;
        if (direct) {
            count =
                handler->Handler->Recv(FInputBuffer->AppendSpace(FRecvBufferSize), FRecvBufferSize);
        } else {
            FRecvBuffer->SetSize(FRecvBufferSize);
            count = handler->Handler->Recv(FRecvBuffer->Memory(), FRecvBufferSize);
        }
        FClosedGracefully = (count == 0);
        // A shut-down or aborted connection reads as ended while buffered data remains.
        if (count != 0) {
            TIdStack* stack = ActiveStack();
            if (stack->CheckForSocketError(count, {Id::WSAESHUTDOWN, Id::WSAECONNABORTED})) {
                count = 0;
                DisconnectSocketLeased(handler);
                if (FInputBuffer->Size() == 0) {
                    stack->RaiseSocketError(stack->LastError());
                }
            }
        }
        if (count > 0) {
            char* block;
            if (direct) {
                block = FInputBuffer->AppendSpace(0);
            } else {
                FRecvBuffer->SetSize(count);
                FRecvBuffer->SetPosition(0);
                intercept->Receive(FRecvBuffer.get());
                count = FRecvBuffer->Size();
                block = FRecvBuffer->Memory();
            }
            if (FASCIIFilter) {
                for (int32_t i = 0; i < count; ++i) {
                    block[i] = char(block[i] & 0x7F);
                }
            }
            if (direct) {
                FInputBuffer->Appended(count);
            } else {
                FInputBuffer->Seek(0, soEnd);
                FInputBuffer->Write(block, count);
            }
            FInputBuffered.store(FInputBuffer->Size(), std::memory_order_relaxed);
        }
        CheckForDisconnectLeased(handler, ARaiseExceptionIfDisconnected, false);
        if (count != 0) {
            return count;
        }
        if (!ConnectedLeased(handler)) {
            // Closed here rather than by the peer while this read waited: the reader is
            // to stop, also when an unterminated rest is buffered, which after a peer
            // close would still be handed out.
            if (FDisconnectedLocally && ARaiseExceptionIfDisconnected) {
                throw EIdClosedSocket();
            }
            return 0;
        }
    }
    if (ARaiseExceptionOnTimeout) {
        throw EIdReadTimeout();
    }
    return -1;
}

std::string TIdTCPConnection::MaxLineExceeded(int32_t AMaxLineLength) {
    if (FMaxLineAction == maException) {
        throw EIdReadLnMaxLineLengthExceeded();
    }
    return FInputBuffer->Extract(AMaxLineLength);
}

// Most reads find an LF-terminated line already buffered (one receipt holds hundreds of IRC
// lines): that case is taken with one search, no loop and no waiting. Anything else, including
// a line over the maximum, goes through ReadLnWaiting, which searches again from the start.
inline bool TIdTCPConnection::BufferedLine(const std::string& ATerminator, int32_t AMaxLineLength,
                                           std::string_view& VLine, int32_t& VTaken) const {
    if (!ATerminator.empty() && !(ATerminator.size() == 1 && ATerminator[0] == '\n')) {
        return false;
    }
    const int32_t size = FInputBuffer->Size();
    if (size == 0) {
        return false;
    }
    const char* data = FInputBuffer->Data();
    const void* at = std::memchr(data, '\n', size_t(size));
    if (at == nullptr) {
        return false;
    }
    const int32_t found = int32_t(static_cast<const char*>(at) - data);
    if (AMaxLineLength == -1) {
        AMaxLineLength = FMaxLineLength;
    }
    if (AMaxLineLength != 0 && found > AMaxLineLength) {
        return false;
    }
    // One CR before the LF belongs to the line ending.
    VLine =
        std::string_view(data, size_t(found > 0 && data[found - 1] == '\r' ? found - 1 : found));
    VTaken = found + 1;
    return true;
}

std::string TIdTCPConnection::ReadLn(const std::string& ATerminator, int32_t ATimeout,
                                     int32_t AMaxLineLength) {
    std::string_view buffered;
    int32_t taken = 0;
    if (BufferedLine(ATerminator, AMaxLineLength, buffered, taken)) {
        std::string line(buffered); // constructed, not assigned: the cheapest fresh string
        FInputBuffer->Remove(taken);
        return line;
    }
    std::string line;
    ReadLnWaiting(line, ATerminator, ATimeout, AMaxLineLength);
    return line;
}

void TIdTCPConnection::ReadLnInto(std::string& VLine, const std::string& ATerminator,
                                  int32_t ATimeout, int32_t AMaxLineLength) {
    std::string_view buffered;
    int32_t taken = 0;
    if (BufferedLine(ATerminator, AMaxLineLength, buffered, taken)) {
        // clear and append rather than assign: the same result within the kept capacity,
        // without assign's handling of a source inside the string itself.
        VLine.clear();
        VLine.append(buffered);
        FInputBuffer->Remove(taken);
        return;
    }
    ReadLnWaiting(VLine, ATerminator, ATimeout, AMaxLineLength);
}

void TIdTCPConnection::ReadLnWaiting(std::string& VLine, const std::string& ATerminator,
                                     int32_t ATimeout, int32_t AMaxLineLength) {
    if (AMaxLineLength == -1) {
        AMaxLineLength = FMaxLineLength;
    }
    const std::string_view terminator =
        ATerminator.empty() ? std::string_view("\n", 1) : std::string_view(ATerminator);
    const int32_t terminatorLength = int32_t(terminator.size());
    int32_t searched = 0;
    int32_t found = -1; // 0-based offset of the terminator in the buffered data
    for (;;) {
        const int32_t size = FInputBuffer->Size();
        if (size > 0) {
            // Only the bytes that arrived since the last pass are new, but a terminator may
            // have begun in the last few bytes of the previous receipt.
            const int32_t from = std::max(0, searched - (terminatorLength - 1));
            const char* data = FInputBuffer->Data();
            if (terminatorLength == 1) {
                const void* at = std::memchr(data + from, terminator[0], size_t(size - from));
                found = at != nullptr ? int32_t(static_cast<const char*>(at) - data) : -1;
            } else {
                size_t at = std::string_view(data, size_t(size)).find(terminator, size_t(from));
                found = at != std::string_view::npos ? int32_t(at) : -1;
            }
            searched = size;
        }
        if (found >= 0) {
            if (AMaxLineLength != 0 && found > AMaxLineLength) {
                VLine = MaxLineExceeded(AMaxLineLength);
                return;
            }
            break;
        }
        if (AMaxLineLength != 0 && searched > AMaxLineLength) {
            VLine = MaxLineExceeded(AMaxLineLength);
            return;
        }
        CheckForDisconnect(true, true);
        // With an explicit time-out a wait without data (-1) just starts the next pass.
        if (FillInputBuffer(true, ATimeout, ATimeout == Id::TimeoutDefault) == 0) {
            VLine.clear(); // what is buffered stays for the next read
            return;
        }
    }
    int32_t length = found;
    // Only for the plain LF terminator is one CR before it part of the line ending.
    if (terminator == "\n") {
        if (length > 0 && FInputBuffer->Data()[length - 1] == '\r') {
            --length;
        }
    }
    VLine.assign(FInputBuffer->Data(), size_t(length));
    FInputBuffer->Remove(found + terminatorLength);
}

void TIdTCPConnection::Write(const std::string& AOut) {
    if (!AOut.empty()) {
        WriteBytes(AOut.data(), int32_t(AOut.size()), false);
    }
}

void TIdTCPConnection::WriteLn(const std::string& AOut) {
    Write(AOut + "\r\n");
}

void TIdTCPConnection::WriteBytes(const void* ABuffer, int32_t ACount, bool AWriteNow) {
    (void)AWriteNow;
    if (ABuffer == nullptr || ACount <= 0) {
        return;
    }
    const TLease handler = Lease();
    CheckForDisconnectLeased(handler, true, true);
    if (!ConnectedLeased(handler)) {
        throw EIdNotConnected();
    }
    TIdSimpleBuffer copy;
    copy.Write(ABuffer, ACount);
    if (TIdConnectionIntercept* intercept = FIntercept.load()) {
        copy.SetPosition(0);
        intercept->Send(&copy);
        ACount = copy.Size();
    }
    TIdStack* stack = ActiveStack();
    int32_t offset = 0;
    while (offset < ACount) {
        int32_t sent = handler->Handler->Send(copy.Memory() + offset, ACount - offset);
        TIdAntiFreezeBase::DoProcess(false, false);
        FClosedGracefully = (sent == 0);
        CheckForDisconnectLeased(handler, true, false);
        // A send into a shut-down, aborted or reset connection closes it before raising.
        if (stack->CheckForSocketError(
                sent, {Id::WSAESHUTDOWN, Id::WSAECONNABORTED, Id::WSAECONNRESET})) {
            DisconnectSocketLeased(handler);
            stack->RaiseSocketError(stack->LastError());
        }
        DoWork(wmWrite, sent);
        offset += sent;
    }
}

std::string TIdTCPConnection::ReadAvailable() {
    if (Connected()) {
        FillInputBuffer(false, Id::TimeoutDefault, true);
    }
    return FInputBuffer->Extract(FInputBuffer->Size());
}

std::string TIdTCPConnection::ReadAll() {
    std::string result;
    BeginWork(wmRead, 0);
    try {
        while (Connected()) {
            result += ReadAvailable();
        }
    } catch (...) {
        EndWork(wmRead);
        throw;
    }
    EndWork(wmRead);
    return result;
}

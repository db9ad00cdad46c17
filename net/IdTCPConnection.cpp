#include "IdTCPConnection.h"

#include "IdAntiFreezeBase.h"
#include "IdConnectionIntercept.h"
#include "IdException.h"
#include "IdSocketErrors.h"
#include "IdStack.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <strings.h>

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

// Work is reported only inside a work bracket, so outside one (every ReadLn) the call that
// would report it is skipped.
void TIdTCPConnection::BytesRemoved(int32_t ACount) {
    FInputBuffered.store(FInputBuffer->Size(), std::memory_order_relaxed);
    if (WorkBracketOpen(wmRead)) {
        DoWork(wmRead, ACount);
    }
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
        const int32_t count =
            intercept == nullptr ? ReceiveDirect(handler) : ReceiveThrough(handler, intercept);
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

// Without an intercept to show the block to, it is received straight into the input buffer's
// free end, saving a copy of every byte.
int32_t TIdTCPConnection::ReceiveDirect(const TLease& AHandler) {
    char* block = FInputBuffer->AppendSpace(FRecvBufferSize);
    const int32_t count = Received(AHandler, AHandler->Handler->Recv(block, FRecvBufferSize));
    if (count > 0) {
        FilterASCII(block, count);
        FInputBuffer->Appended(count);
        FInputBuffered.store(FInputBuffer->Size(), std::memory_order_relaxed);
    }
    return count;
}

// The intercept sees (and may change) each block before it enters the input buffer; what it
// leaves is what counts as received.
int32_t TIdTCPConnection::ReceiveThrough(const TLease& AHandler,
                                         TIdConnectionIntercept* AIntercept) {
    FRecvBuffer->SetSize(FRecvBufferSize);
    int32_t count =
        Received(AHandler, AHandler->Handler->Recv(FRecvBuffer->Memory(), FRecvBufferSize));
    if (count > 0) {
        FRecvBuffer->SetSize(count);
        FRecvBuffer->SetPosition(0);
        AIntercept->Receive(FRecvBuffer.get());
        count = FRecvBuffer->Size();
        FilterASCII(FRecvBuffer->Memory(), count);
        FInputBuffer->Seek(0, soEnd);
        FInputBuffer->Write(FRecvBuffer->Memory(), count);
        FInputBuffered.store(FInputBuffer->Size(), std::memory_order_relaxed);
    }
    return count;
}

// A receive of 0 means the peer closed. A shut-down or aborted connection is closed here and
// reads as ended (0) while buffered data remains; without any it raises its socket error.
int32_t TIdTCPConnection::Received(const TLease& AHandler, int32_t ACount) {
    FClosedGracefully = (ACount == 0);
    if (ACount != 0) {
        TIdStack* stack = ActiveStack();
        if (stack->CheckForSocketError(ACount, {Id::WSAESHUTDOWN, Id::WSAECONNABORTED})) {
            DisconnectSocketLeased(AHandler);
            if (FInputBuffer->Size() == 0) {
                stack->RaiseSocketError(stack->LastError());
            }
            return 0;
        }
    }
    return ACount;
}

void TIdTCPConnection::FilterASCII(char* ABlock, int32_t ACount) const {
    if (FASCIIFilter) {
        for (int32_t i = 0; i < ACount; ++i) {
            ABlock[i] = char(ABlock[i] & 0x7F);
        }
    }
}

std::string TIdTCPConnection::MaxLineExceeded(int32_t AMaxLineLength) {
    if (FMaxLineAction == maException) {
        throw EIdReadLnMaxLineLengthExceeded();
    }
    return FInputBuffer->Extract(AMaxLineLength);
}

// The rules of a line, in one place for both ways ReadLn takes one, so that a fix to one way
// cannot miss the other: the maximum length (-1 is the connection's MaxLineLength, 0 none),
// when a length goes over it, and the line ending (only with the plain LF terminator is one
// CR before it part of the ending).
struct TIdTCPConnection::TLineRules {
    int32_t Max;
    bool PlainLF;
    bool TooLong(int32_t ALength) const { return Max != 0 && ALength > Max; }
    // The length of the line whose terminator was found at AFound.
    int32_t Length(const char* AData, int32_t AFound) const {
        return PlainLF && AFound > 0 && AData[AFound - 1] == '\r' ? AFound - 1 : AFound;
    }
};

TIdTCPConnection::TLineRules TIdTCPConnection::LineRules(const std::string& ATerminator,
                                                         int32_t AMaxLineLength) const {
    return {AMaxLineLength == -1 ? FMaxLineLength : AMaxLineLength,
            ATerminator.empty() || (ATerminator.size() == 1 && ATerminator[0] == '\n')};
}

// Most reads find an LF-terminated line already buffered (one receipt holds hundreds of IRC
// lines): that case is taken with one search, no loop and no waiting. Anything else, including
// a line over the maximum, goes through ReadLnWaiting, which searches again from the start.
inline bool TIdTCPConnection::BufferedLine(const TLineRules& ARules, std::string_view& VLine,
                                           int32_t& VTaken) const {
    if (!ARules.PlainLF) {
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
    if (ARules.TooLong(found)) {
        return false;
    }
    VLine = std::string_view(data, size_t(ARules.Length(data, found)));
    VTaken = found + 1;
    return true;
}

std::string TIdTCPConnection::ReadLn(const std::string& ATerminator, int32_t ATimeout,
                                     int32_t AMaxLineLength) {
    const TLineRules rules = LineRules(ATerminator, AMaxLineLength);
    std::string_view buffered;
    int32_t taken = 0;
    if (BufferedLine(rules, buffered, taken)) {
        std::string line(buffered); // constructed, not assigned: the cheapest fresh string
        ConsumeLine(taken);
        return line;
    }
    std::string line;
    ReadLnWaiting(line, ATerminator, rules, ATimeout);
    return line;
}

void TIdTCPConnection::ReadLnInto(std::string& VLine, const std::string& ATerminator,
                                  int32_t ATimeout, int32_t AMaxLineLength) {
    const TLineRules rules = LineRules(ATerminator, AMaxLineLength);
    std::string_view buffered;
    int32_t taken = 0;
    if (BufferedLine(rules, buffered, taken)) {
        // clear and append rather than assign: the same result within the kept capacity,
        // without assign's handling of a source inside the string itself.
        VLine.clear();
        VLine.append(buffered);
        ConsumeLine(taken);
        return;
    }
    ReadLnWaiting(VLine, ATerminator, rules, ATimeout);
}

void TIdTCPConnection::ReadLnWaiting(std::string& VLine, const std::string& ATerminator,
                                     const TLineRules& ARules, int32_t ATimeout) {
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
        // A terminator found too far in, or none within the maximum.
        if (ARules.TooLong(found >= 0 ? found : searched)) {
            VLine = MaxLineExceeded(ARules.Max);
            return;
        }
        if (found >= 0) {
            break;
        }
        CheckForDisconnect(true, true);
        // With an explicit time-out a wait without data (-1) just starts the next pass.
        if (FillInputBuffer(true, ATimeout, ATimeout == Id::TimeoutDefault) == 0) {
            VLine.clear(); // what is buffered stays for the next read
            return;
        }
    }
    VLine.assign(FInputBuffer->Data(), size_t(ARules.Length(FInputBuffer->Data(), found)));
    ConsumeLine(found + terminatorLength);
}

// A line leaves the input buffer without what a general removal costs: an emptied buffer
// keeps its block for the next receipt, and the removal is reported as every removal is.
void TIdTCPConnection::ConsumeLine(int32_t ACount) {
    FInputBuffer->Consume(ACount);
    BytesRemoved(ACount);
}

int16_t TIdTCPConnection::CheckReply(int16_t AReplyCode, const std::vector<int16_t>& AAllowed) {
    if (!AAllowed.empty() &&
        std::find(AAllowed.begin(), AAllowed.end(), AReplyCode) == AAllowed.end()) {
        RaiseReplyError();
    }
    return AReplyCode;
}

void TIdTCPConnection::RaiseReplyError() {
    throw FLastReply->ReplyError();
}

void TIdTCPConnection::RaiseReplyError(EIdExceptionClass AClass) {
    const std::string text = FLastReply->TextWithLineBreaks();
    if (AClass != nullptr) {
        AClass(text);
    }
    throw EIdException(text); // a class function that did not raise
}

int16_t TIdTCPConnection::SendCommand(const std::string& ALine,
                                      const std::vector<int16_t>& AAllowed) {
    WriteLn(ALine);
    return ReadReply(AAllowed);
}

std::string TIdTCPConnection::ReadNonBlankLine(int32_t AAttemptLimit) {
    std::string line;
    for (int32_t attempt = 0; line.empty() && attempt < AAttemptLimit; ++attempt) {
        line = Id::Trim(ReadLn("\n", Id::TimeoutDefault, -1));
    }
    return line;
}

int16_t TIdTCPConnection::ReadReply(const std::vector<int16_t>& AAllowed) {
    // The limits count every line read for the reply, blank ones too (with its line feed),
    // so that neither many short lines nor many blank ones make a reply without end.
    std::vector<std::string> lines;
    int32_t bytes = 0;
    const auto next = [&] {
        std::string line;
        do {
            if (int32_t(lines.size()) >= MaxReplyLines) {
                FLastReply->ParseResponse(lines);
                throw EIdReplyTooLong(MaxReplyLines, MaxReplyBytes);
            }
            ReadLnInto(line);
            bytes += int32_t(line.size()) + 1;
            line = Id::Trim(line);
            if (bytes > MaxReplyBytes) {
                // The line that went over is read: it is kept with the others.
                if (!line.empty()) {
                    lines.push_back(std::move(line));
                }
                FLastReply->ParseResponse(lines);
                throw EIdReplyTooLong(MaxReplyLines, MaxReplyBytes);
            }
        } while (line.empty());
        lines.push_back(std::move(line));
    };
    next();
    // Only a first line of at least four characters whose fourth is "-" continues; a later
    // line shorter than the code and its separator ends the reply, whatever it holds.
    if (lines.front().size() >= 4 && lines.front()[3] == '-') {
        const std::string endMarker = lines.front().substr(0, 3) + " ";
        for (;;) {
            next();
            const std::string& line = lines.back();
            if (line.size() < 4 || strncasecmp(line.c_str(), endMarker.c_str(), 4) == 0) {
                break;
            }
        }
    }
    FLastReply->ParseResponse(lines);
    return CheckReply(int16_t(FLastReply->NumericCode()), AAllowed);
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

void TIdTCPConnection::WriteInt32(int32_t AValue, bool AConvert) {
    const uint32_t value = AConvert ? ActiveStack()->HToNL(uint32_t(AValue)) : uint32_t(AValue);
    WriteBytes(&value, 4);
}

void TIdTCPConnection::WriteStream(std::istream& AStream, bool AFromStart, bool AWriteByteCount,
                                   int32_t ASize) {
    if (AFromStart) {
        AStream.clear();
        AStream.seekg(0);
    }
    int64_t position = AStream.tellg();
    int64_t end = position + ASize;
    if (ASize == 0) {
        AStream.seekg(0, std::ios::end);
        end = AStream.tellg();
        AStream.seekg(position);
    }
    if (position < 0 || end < 0) {
        throw EIdNoDataToRead(); // not a stream whose position and size can be told
    }
    const int64_t count = std::max<int64_t>(end - position, 0);
    if (AWriteByteCount) {
        // The count has 32 bits on the wire: a larger one must not go out cut.
        if (count > INT32_MAX) {
            throw EIdStreamTooLong(count);
        }
        WriteInt32(int32_t(count), true);
    }
    BeginWork(wmWrite, int32_t(std::min<int64_t>(count, INT32_MAX)));
    try {
        std::vector<char> buffer(size_t(std::max(FSendBufferSize, 1)));
        for (;;) {
            const int64_t chunk = std::min<int64_t>(end - position, int64_t(buffer.size()));
            if (chunk <= 0) {
                break;
            }
            AStream.read(buffer.data(), std::streamsize(chunk));
            const int32_t read = int32_t(AStream.gcount());
            if (read == 0) {
                throw EIdNoDataToRead();
            }
            WriteBytes(buffer.data(), read);
            position += read;
        }
    } catch (...) {
        EndWork(wmWrite);
        throw;
    }
    EndWork(wmWrite);
}

int64_t TIdTCPConnection::WriteFile(const std::string& AFile, bool AAllowTransmission) {
    (void)AAllowTransmission;
    std::error_code error;
    if (!std::filesystem::is_regular_file(AFile, error)) {
        throw EIdFileNotFound(AFile);
    }
    std::ifstream file(AFile, std::ios::binary);
    if (!file) {
        throw EIdFileNotReadable(AFile);
    }
    WriteStream(file, true, false, 0);
    file.clear();
    file.seekg(0, std::ios::end);
    return int64_t(file.tellg());
}

// A TCP connection as a byte and line stream over an I/O handler.
#pragma once

#include "IdComponent.h"
#include "IdException.h"
#include "IdGlobal.h"
#include "IdIOHandler.h"
#include "IdManagedBuffer.h"
#include "IdRFCReply.h"
#include "IdSimpleBuffer.h"

#include <atomic>
#include <cstdint>
#include <istream>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class TIdConnectionIntercept;

enum TIdMaxLineAction { maException, maSplit };

// Threads. One connection is used by two threads: a reader blocks in ReadLn (and calls
// CheckForDisconnect), while the window's thread writes, asks Connected, and disconnects.
//
//  - InputBuffer and RecvBuffer belong to the reader. Only ResetConnection (at the next
//    connect, when the previous reader has ended) touches them from elsewhere. Checks on
//    other threads that need "is input buffered" read an atomic mirror of its size.
//  - ClosedGracefully is an atomic; either thread may set it.
//  - The I/O handler is held through a shared record (THandlerRef). Every operation that
//    calls into the handler takes a lease on the record for its length, so a Disconnect on
//    the window's thread can drop an owned handler while the reader is still blocked in
//    Readable or Recv: the object is freed when the last lease goes, on whichever thread
//    that is. Disconnect first closes the socket, which wakes the blocked reader (the socket
//    handle shuts both directions down and keeps the descriptor number taken until no call
//    is inside it), so the reader leaves promptly and frees the handler behind itself.
//    A reader that was inside the handler when it was closed judges the connection by that
//    handler (its lease), and a read that ends because of a local close raises
//    (EIdConnClosedGracefully or EIdClosedSocket) rather than returning an empty line.
//  - Closing a gracefully closed socket and raising hsDisconnected/OnDisconnected from
//    CheckForDisconnect is claimed once per connection, so the reader and the window's
//    thread noticing the same close do not both report it.
//  - Handler and intercept assignment, Disconnect and destruction happen on the window's
//    thread (as connect does); the intercept pointer is atomic because the reader reads it.
class TIdTCPConnection : public TIdComponent {
public:
    TIdTCPConnection();
    // Closes the socket (no status, no OnDisconnected) and frees what the connection owns.
    ~TIdTCPConnection() override;

    virtual void DoDisconnected();
    // Empties the input buffer and clears ClosedGracefully; done before each connect.
    virtual void ResetConnection();
    // Everything until the peer closes, inside a wmRead work bracket.
    virtual std::string ReadAll();
    // Closes a connection found lost and raises EIdConnClosedGracefully when ARaise and
    // nothing (or, with AIgnoreBuffer, whatever) is left in the input buffer.
    virtual void CheckForDisconnect(bool ARaiseExceptionIfDisconnected = true,
                                    bool AIgnoreBuffer = false);
    virtual int32_t PollForDisconnect(bool ARaiseExceptionIfDisconnected = true);
    // AReplyCode unless AAllowed is not empty and lacks it: then RaiseReplyError.
    virtual int16_t CheckReply(int16_t AReplyCode, const std::vector<int16_t>& AAllowed);
    virtual bool Connected();
    virtual void Disconnect();
    virtual void DisconnectSocket();
    // Reads one numeric reply into LastReply, then CheckReply. Blank lines are skipped. A first
    // line whose fourth character is "-" begins a continued reply, which ends after the line
    // that starts with the code and a blank (in any letter case) or after any line shorter
    // than that (four characters). One reply holds at most MaxReplyLines lines and
    // MaxReplyBytes bytes (each line's text and one for its ending, blank lines included):
    // beyond that EIdReplyTooLong, with what was read in LastReply and the rest left unread.
    virtual int16_t ReadReply(const std::vector<int16_t>& AAllowed = {});
    // EIdProtocolReplyError with LastReply's code and text.
    [[noreturn]] virtual void RaiseReplyError();
    // AClass (RaiseAs<E>) with LastReply's text lines, each followed by CR LF, as its message.
    [[noreturn]] virtual void RaiseReplyError(EIdExceptionClass AClass);
    // Waits for data and appends one received block to the input buffer. Result: bytes
    // received, 0 when the connection ended, -1 on a time-out that raised nothing.
    virtual int32_t FillInputBuffer(bool ARaiseExceptionIfDisconnected = true,
                                    int32_t ATimeout = Id::TimeoutDefault,
                                    bool ARaiseExceptionOnTimeout = true);
    // The next line without its terminator (empty: LF, with one CR before it dropped too).
    virtual std::string ReadLn(const std::string& ATerminator = std::string(),
                               int32_t ATimeout = Id::TimeoutDefault, int32_t AMaxLineLength = -1);
    // ReadLn into the caller's string, reusing its capacity, as std::getline does: a reader
    // that keeps one string for every line allocates nothing per line. Same rules and results
    // as ReadLn.
    void ReadLnInto(std::string& VLine, const std::string& ATerminator = std::string(),
                    int32_t ATimeout = Id::TimeoutDefault, int32_t AMaxLineLength = -1);
    // WriteLn(ALine), then ReadReply(AAllowed).
    virtual int16_t SendCommand(const std::string& ALine,
                                const std::vector<int16_t>& AAllowed = {});
    virtual void Write(const std::string& AOut);
    virtual void WriteLn(const std::string& AOut = std::string());
    // Sends a seekable stream in blocks of SendBufferSize inside a wmWrite work bracket: from
    // its start (AFromStart) or its position, to its end (ASize 0) or for ASize bytes. With
    // AWriteByteCount the byte count goes first as 4 bytes in network order. A stream that
    // ends before its size gives EIdNoDataToRead, after what was read has been sent.
    virtual void WriteStream(std::istream& AStream, bool AFromStart = true,
                             bool AWriteByteCount = false, int32_t ASize = 0);
    // Sends a whole file and returns its size. EIdFileNotFound when AFile is not a file
    // (nothing is sent). This platform has no file transmission call: AAllowTransmission is
    // kept for callers and the file is always sent as a stream.
    virtual int64_t WriteFile(const std::string& AFile, bool AAllowTransmission = false);

    // Sends ACount bytes through the intercept and the I/O handler at once, looping until all
    // are sent. AWriteNow is kept for callers; writes are never buffered.
    void WriteBytes(const void* ABuffer, int32_t ACount, bool AWriteNow = false);
    // Waits for one block (with the default time-out) if connected, then returns and removes
    // everything buffered.
    std::string ReadAvailable();
    // The next line with blanks and control characters trimmed off both ends that is not empty,
    // trying at most AAttemptLimit lines; empty when none was.
    std::string ReadNonBlankLine(int32_t AAttemptLimit);
    // The 4 bytes of AValue, in network order with AConvert, else in this machine's order.
    void WriteInt32(int32_t AValue, bool AConvert = true);

    static constexpr int32_t MaxReplyLines = 1000;
    static constexpr int32_t MaxReplyBytes = 65536;

    bool ASCIIFilter() const { return FASCIIFilter; }
    void SetASCIIFilter(bool AValue) { FASCIIFilter = AValue; }
    bool ClosedGracefully() const { return FClosedGracefully.load(); }
    bool OwnsIOHandler() const { return FOwnsIOHandler; }
    void SetOwnsIOHandler(bool AValue) { FOwnsIOHandler = AValue; }
    TIdManagedBuffer* InputBuffer() const { return FInputBuffer.get(); }
    TIdConnectionIntercept* Intercept() const { return FIntercept.load(); }
    void SetIntercept(TIdConnectionIntercept* AValue);
    TIdIOHandler* IOHandler() const;
    // The last numeric reply read; owned by the connection.
    TIdRFCReply* LastReply() const { return FLastReply.get(); }
    // Frees the current handler first if the connection owns it. The new one is not owned
    // (see SetOwnsIOHandler) and is cleared when it is destroyed.
    void SetIOHandler(TIdIOHandler* AValue);
    TIdMaxLineAction MaxLineAction() const { return FMaxLineAction; }
    void SetMaxLineAction(TIdMaxLineAction AValue) { FMaxLineAction = AValue; }
    int32_t MaxLineLength() const { return FMaxLineLength; }
    void SetMaxLineLength(int32_t AValue) { FMaxLineLength = AValue; }
    TNotifyEvent OnDisconnected;
    int32_t ReadTimeout() const { return FReadTimeout; }
    void SetReadTimeout(int32_t AValue) { FReadTimeout = AValue; }
    int32_t RecvBufferSize() const { return FRecvBufferSize; }
    void SetRecvBufferSize(int32_t AValue) { FRecvBufferSize = AValue; }
    TIdSimpleBuffer* RecvBuffer() const { return FRecvBuffer.get(); }
    int32_t SendBufferSize() const { return FSendBufferSize; }
    void SetSendBufferSize(int32_t AValue) { FSendBufferSize = AValue; }

protected:
    void Notification(TIdBaseComponent* AComponent, TOperation AOperation) override;

private:
    struct THandlerRef;
    using TLease = std::shared_ptr<THandlerRef>;

    TLease Lease() const;
    // Drops the connection's reference to the handler; AFree decides whether the handler is
    // freed once the last lease is gone.
    void ReleaseIOHandler(bool AFree);
    // The operations against one leased handler (see Threads above).
    bool CheckForDisconnectLeased(const TLease& AHandler, bool ARaise, bool AIgnoreBuffer);
    bool ConnectedLeased(const TLease& AHandler);
    // AClaimed: the caller has already claimed the close of this connection.
    void DisconnectSocketLeased(const TLease& AHandler, bool AClaimed = false);
    std::string MaxLineExceeded(int32_t AMaxLineLength);
    struct TLineRules;
    TLineRules LineRules(const std::string& ATerminator, int32_t AMaxLineLength) const;
    // The next line when ReadLn can take it from the buffer at once: the terminator is LF, a
    // whole line is buffered and it is within the maximum. VLine views it without its line
    // ending, VTaken is the count to remove with the ending.
    bool BufferedLine(const TLineRules& ARules, std::string_view& VLine, int32_t& VTaken) const;
    // ReadLn the general way: any terminator, waiting for more data as needed.
    void ReadLnWaiting(std::string& VLine, const std::string& ATerminator, const TLineRules& ARules,
                       int32_t ATimeout);
    void ConsumeLine(int32_t ACount);
    // One receipt into the input buffer, straight or through the intercept. Result as
    // FillInputBuffer's for one block.
    int32_t ReceiveDirect(const TLease& AHandler);
    int32_t ReceiveThrough(const TLease& AHandler, TIdConnectionIntercept* AIntercept);
    int32_t Received(const TLease& AHandler, int32_t ACount);
    void FilterASCII(char* ABlock, int32_t ACount) const;
    void BytesRemoved(int32_t ACount);

    bool FASCIIFilter = false;
    std::atomic<bool> FClosedGracefully{false};
    bool FOwnsIOHandler = false;
    std::unique_ptr<TIdManagedBuffer> FInputBuffer;
    std::atomic<TIdConnectionIntercept*> FIntercept{nullptr};
    mutable std::mutex FIOHandlerLock; // guards FIOHandler (the pointer, not the object)
    TLease FIOHandler;
    std::unique_ptr<TIdRFCReply> FLastReply;
    TIdMaxLineAction FMaxLineAction = maException;
    int32_t FMaxLineLength = 16384;
    int32_t FReadTimeout = 0;
    int32_t FRecvBufferSize = 32768;
    std::unique_ptr<TIdSimpleBuffer> FRecvBuffer;
    int32_t FSendBufferSize = 32768;

    // The input buffer's size as other threads may read it.
    std::atomic<int32_t> FInputBuffered{0};
    // Set by whoever closes the socket of the current connection first.
    std::atomic<bool> FCloseClaimed{false};
    // Set by an explicit DisconnectSocket (and so Disconnect), as opposed to a close that
    // follows the peer's.
    std::atomic<bool> FDisconnectedLocally{false};
};

// An in-memory I/O handler for connection tests that need exact receipt boundaries.
//
// Each queued receipt is what one Recv returns (split further only if the reader asks for
// fewer bytes); EndOfData makes the next Recv return 0 as a peer close does. Readable waits
// (on a condition variable) until a receipt, the end of data or a Close arrives, so a
// reader thread can block in it like on a socket. Close wakes such a waiter; Recv and Send
// on a closed handler raise EIdClosedSocket ("Disconnected.") as the socket handler does.
#pragma once

#include "IdIOHandler.h"
#include "IdTCPConnection.h"
#include "Waiting.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

class ScriptedIOHandler : public TIdIOHandler {
public:
    // Starts connected; ConnectClient connects it again after a Close.
    ScriptedIOHandler() = default;
    ~ScriptedIOHandler() override;

    void Receipt(const std::string& bytes);
    void EndOfData();
    // The largest count one Send accepts (0: all), to exercise partial sends.
    void SetSendLimit(int32_t limit) {
        Locked([&] { return FSendLimit = limit; });
    }
    // Makes the wait happen inside Recv instead of Readable (which then answers at once),
    // as with a reader already in recv: a Close then makes that Recv return 0, the way a
    // socket shut down under a blocked recv does.
    void SetWaitInRecv(bool value) {
        Locked([&] { return FWaitInRecv = value; });
    }

    std::string Sent() const {
        return Locked([this] { return FSent; });
    }
    // Threads currently waiting in Readable or Recv, and the waits that timed out so far.
    int Waiting() const {
        return Locked([this] { return FWaiting; });
    }
    int Timeouts() const {
        return Locked([this] { return FTimeouts; });
    }
    // Holds the first Connected() made, after its answer is taken, by the thread that read
    // the end of data: where a reader that saw the peer's close decides to report it.
    CallGate AfterEndGate;
    // Counted up when the handler is destroyed, if set.
    std::atomic<int>* Destroyed = nullptr;

    void Close() override;
    void ConnectClient(const std::string& AHost, int32_t APort, const std::string& ABoundIP,
                       int32_t ABoundPort, int32_t ABoundPortMin, int32_t ABoundPortMax,
                       int32_t ATimeout) override;
    bool Connected() override;
    bool Readable(int32_t AMSec) override;
    int32_t Recv(void* ABuf, int32_t ALen) override;
    int32_t Send(const void* ABuf, int32_t ALen) override;

private:
    template <typename F> auto Locked(F read) const -> decltype(read()) {
        std::lock_guard lock(FLock);
        return read();
    }
    bool Ready() const { return !FReceipts.empty() || FEndOfData || !FConnected; }

    mutable std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<std::string> FReceipts;
    bool FEndOfData = false;
    bool FConnected = true;
    int32_t FSendLimit = 0;
    bool FWaitInRecv = false;
    std::string FSent;
    int FWaiting = 0;
    int FTimeouts = 0;
    std::thread::id FEndReader;
};

// The connected pair of the connection tests: a connection owning a fresh scripted handler.
struct ScriptedConnection {
    std::atomic<int> Destroyed{0}; // first: the handler goes with the connection
    TIdTCPConnection Conn;
    ScriptedIOHandler* Handler = new ScriptedIOHandler();
    ScriptedConnection() {
        Handler->Destroyed = &Destroyed;
        Conn.SetIOHandler(Handler);
        Conn.SetOwnsIOHandler(true);
    }
};

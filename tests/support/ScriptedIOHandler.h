// An in-memory I/O handler for connection tests that need exact receipt boundaries: each
// receipt is what one Recv returns, and after them EndOfData makes Recv return 0 as a peer
// close does. Readable blocks like a socket's until a receipt, the end of data or a Close.
#pragma once

#include "IdException.h"
#include "IdIOHandler.h"
#include "IdTCPConnection.h"
#include "Waiting.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

class ScriptedIOHandler : public TIdIOHandler {
public:
    void Receipt(const std::string& ABytes) {
        std::lock_guard lock(FLock);
        FReceipts.push_back(ABytes);
        FChanged.notify_all();
    }
    void EndOfData() { Set(FEndOfData, true); }
    int32_t SendLimit = 0;   // the most one Send takes (0: all)
    bool WaitInRecv = false; // as a reader already in recv: a Close makes that Recv return 0
    // Holds the first Connected() asked, after its answer is taken, by the thread that read
    // the end of data: where a reader that saw the peer's close decides to report it.
    CallGate AfterEndGate;

    // What was sent, the threads waiting in Readable or Recv now, and the waits timed out.
    std::string Sent() const { return Locked(FSent); }
    int Waiting() const { return Locked(FWaiting); }
    int Timeouts() const { return Locked(FTimeouts); }

    void Close() override { Set(FConnected, false); }
    void ConnectClient(const std::string&, int32_t, const std::string&, int32_t, int32_t, int32_t,
                       int32_t) override {
        Set(FConnected, true);
    }
    bool Connected() override {
        const bool connected = Locked(FConnected);
        if (Locked(FEndReader) == std::this_thread::get_id()) {
            AfterEndGate.Leave(AfterEndGate.Enter());
        }
        return connected;
    }
    bool Readable(int32_t AMSec) override {
        std::unique_lock lock(FLock);
        return WaitInRecv || WaitReady(lock, AMSec);
    }
    int32_t Recv(void* ABuf, int32_t ALen) override {
        std::unique_lock lock(FLock);
        if (!FConnected) {
            throw EIdClosedSocket();
        }
        if (WaitInRecv) {
            WaitReady(lock, -1);
            if (!FConnected) {
                return 0;
            }
        }
        if (FReceipts.empty()) {
            FEndReader = std::this_thread::get_id();
            return 0;
        }
        std::string& front = FReceipts.front();
        const int32_t count = std::min<int32_t>(ALen, int32_t(front.size()));
        std::memcpy(ABuf, front.data(), size_t(count));
        front.erase(0, size_t(count));
        if (front.empty()) {
            FReceipts.pop_front();
        }
        return count;
    }
    int32_t Send(const void* ABuf, int32_t ALen) override {
        std::lock_guard lock(FLock);
        if (!FConnected) {
            throw EIdClosedSocket();
        }
        const int32_t count = SendLimit > 0 ? std::min(ALen, SendLimit) : ALen;
        FSent.append(static_cast<const char*>(ABuf), size_t(count));
        return count;
    }

private:
    // AMSec < 0: without limit.
    bool WaitReady(std::unique_lock<std::mutex>& ALock, int32_t AMSec) {
        ++FWaiting;
        auto ready = [this] { return !FReceipts.empty() || FEndOfData || !FConnected; };
        const bool result = AMSec < 0
                                ? (FChanged.wait(ALock, ready), true)
                                : FChanged.wait_for(ALock, std::chrono::milliseconds(AMSec), ready);
        --FWaiting;
        FTimeouts += result ? 0 : 1;
        return result;
    }
    template <typename T> T Locked(const T& AField) const {
        std::lock_guard lock(FLock);
        return AField;
    }
    void Set(bool& AField, bool AValue) {
        std::lock_guard lock(FLock);
        AField = AValue;
        FChanged.notify_all();
    }

    mutable std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<std::string> FReceipts;
    bool FEndOfData = false;
    bool FConnected = true;
    std::string FSent;
    int FWaiting = 0;
    int FTimeouts = 0;
    std::thread::id FEndReader;
};

struct ScriptedConnection {
    TIdTCPConnection Conn;
    ScriptedIOHandler* Handler = new ScriptedIOHandler();
    ScriptedConnection() {
        Conn.SetIOHandler(Handler);
        Conn.SetOwnsIOHandler(true);
    }
};

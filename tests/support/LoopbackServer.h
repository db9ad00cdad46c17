// A scripted TCP server on 127.0.0.1. It serves the first connection and records what that
// client sends (later ones are only held open). The script runs on the server's own thread, so
// the test's thread is free to block in the client under test.
//
//     server.WaitFor("NICK bob\r\n").Send(":srv 001 bob :hi\r\n", 1, 2ms).Close();
#pragma once

#include "RawSocket.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class LoopbackServer {
public:
    using Millis = std::chrono::milliseconds;

    LoopbackServer();
    ~LoopbackServer();

    int Port() const { return FPort; }
    static const char* Host() { return "127.0.0.1"; }

    // In pieces of `chunk` bytes (0: one piece), each leaving at once (TCP_NODELAY), with the
    // pause between them.
    LoopbackServer& Send(std::string bytes, size_t chunk = 0, Millis pause = Millis(0)) {
        return Queue({kSend, std::move(bytes), chunk, pause});
    }
    // Until the client has sent `text` after the previous match; a time-out drops the rest
    // of the script.
    LoopbackServer& WaitFor(std::string text, Millis timeout = Millis(5000)) {
        return Queue({kWaitFor, std::move(text), 0, timeout});
    }
    LoopbackServer& Close() { return Queue({kClose}); } // half-close: the client reads end of data
    LoopbackServer& Reset() { return Queue({kReset}); } // abortive: the client's next read fails
    // The rest of the script serves the next connection (a reconnect), once it is accepted;
    // what it sends is added to Received.
    LoopbackServer& NextConnection(Millis timeout = Millis(5000)) {
        return Queue({kNext, {}, 0, timeout});
    }

    // Each wait gives up (false) after the time-out.
    bool WaitScriptDone(Millis timeout = Millis(5000)) {
        return WaitUntil(timeout, [this] { return FScript.empty(); });
    }
    bool WaitForReceived(const std::string& text, Millis timeout = Millis(5000)) {
        return WaitUntil(timeout, [&] { return FReceived.find(text) != std::string::npos; });
    }
    bool WaitForClientClose(Millis timeout = Millis(5000)) {
        return WaitUntil(timeout, [this] { return FClientClosed; });
    }
    std::string Received() const {
        std::lock_guard lock(FLock);
        return FReceived;
    }

private:
    enum TKind { kSend, kWaitFor, kClose, kReset, kNext };
    struct Action {
        TKind Kind;
        std::string Bytes = {};
        size_t Chunk = 0;
        Millis Time{0};
    };

    LoopbackServer& Queue(Action AAction);
    bool WaitUntil(Millis ATimeout, const std::function<bool()>& ADone);
    void Wake();
    void Run();
    bool Perform(const Action& AAction);
    void Pump(int AMSec, bool AWrite = false);

    RawSocket FListener;
    RawSocket FClient;
    std::vector<RawSocket> FLater;
    std::pair<RawSocket, RawSocket> FWake; // read end, write end
    int FPort = 0;
    bool FAccepted = false;  // only the server's thread touches the fields up to here
    size_t FMatchedUpTo = 0; // where the next WaitFor searches from

    mutable std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<Action> FScript; // the head stays until it is done
    std::string FReceived;
    bool FClientClosed = false;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

// A scripted TCP server on 127.0.0.1 for transport tests and the benchmarks. It listens on a
// port the system picks and serves the first connection: the script (Send, Close, Reset) runs
// in order on the server's own thread, so the test's thread is free to block in the client
// under test, and everything the client sends is recorded. Later connections are counted
// and left unanswered.
//
//     server.Send(":srv 001 bob :hi\r\n").Close();
#pragma once

#include "RawSocket.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LoopbackServer {
public:
    LoopbackServer();
    ~LoopbackServer(); // stops the script and closes every socket (without a reset)
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int Port() const { return FPort; }
    static const char* Host() { return "127.0.0.1"; }

    LoopbackServer& Send(std::string bytes);
    LoopbackServer& Close(); // half-close: the client reads end of data
    LoopbackServer& Reset(); // SO_LINGER 0: the client sees a reset

    // Each wait gives up (false) after TestSupport::HangLimit.
    bool WaitForReceived(const std::string& text);
    bool WaitForClientClose();
    size_t ConnectionCount() const;

private:
    struct Action {
        enum { kSend, kClose, kReset } Kind;
        std::string Bytes;
        size_t Sent;
    };

    LoopbackServer& Queue(Action action);
    bool WaitUntil(const std::function<bool()>& done);
    void Run();
    void Advance(); // runs the script as far as it goes without blocking
    void Wake();

    RawSocket FListener;
    int FPort = 0;
    int FWake[2] = {-1, -1};

    mutable std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<Action> FScript;
    std::vector<RawSocket> FConnections; // the first one is served
    std::string FReceived;
    bool FClientClosed = false;
    bool FStop = false;
    std::thread FThread;
};

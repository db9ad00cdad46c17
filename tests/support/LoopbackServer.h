// A scripted TCP server on 127.0.0.1 for transport and protocol tests. It listens on a port
// the system picks, accepts every connection and records what each client sends. The script
// (Send in chosen pieces with a pause between them, WaitFor a text from the client, Close,
// Reset, NextConnection) runs in order on the server's own thread, so the test's thread is
// free to block in the client under test; actions may be queued while the script runs.
//
//     server.WaitFor("NICK bob\r\n").Send(":srv 001 bob :hi\r\n", 1, 2ms).Close();
//
// Actions target the current connection (the first accepted, until NextConnection) and wait
// until it has been accepted.
#pragma once

#include "RawSocket.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LoopbackServer {
public:
    using Millis = std::chrono::milliseconds;

    LoopbackServer();
    ~LoopbackServer(); // stops the script and closes every socket (without a reset)
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int Port() const { return FPort; }
    static const char* Host() { return "127.0.0.1"; }

    // Writes the bytes in pieces of `chunk` bytes (0: one piece), each sent at once
    // (TCP_NODELAY) and followed by the pause.
    LoopbackServer& Send(std::string bytes, size_t chunk = 0, Millis pause = Millis(0));
    // Waits until the client has sent `text` after the previous match on this connection;
    // a time-out records a failure and drops the rest of the script.
    LoopbackServer& WaitFor(std::string text, Millis timeout = Millis(5000));
    LoopbackServer& Close(); // half-close: the client reads end of data
    LoopbackServer& Reset(); // SO_LINGER 0: the client sees a reset
    LoopbackServer& NextConnection();

    // Each wait gives up (false) after the time-out.
    bool WaitScriptDone(Millis timeout = Millis(5000));
    bool WaitForReceived(const std::string& text, Millis timeout = Millis(5000), size_t index = 0);
    bool WaitForClientClose(Millis timeout = Millis(5000), size_t index = 0);

    std::string Received(size_t index = 0) const;
    size_t ConnectionCount() const;
    std::vector<std::string> Failures() const; // a WaitFor that timed out, a failed send

private:
    struct Action;
    struct Connection;

    LoopbackServer& Queue(Action action);
    bool WaitUntil(Millis timeout, const std::function<bool()>& done);
    void Run();
    void AcceptPending();
    void ReadFrom(Connection& connection);
    int Advance(); // runs the head actions as far as they go; returns the poll time-out
    void Wake();

    RawSocket FListener;
    int FWakeRead = -1;
    int FWakeWrite = -1;
    int FPort = 0;

    mutable std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<Action> FScript;
    std::vector<std::unique_ptr<Connection>> FConnections;
    std::vector<std::string> FFailures;
    size_t FCurrent = 0;
    bool FStop = false;
    std::thread FThread;
};

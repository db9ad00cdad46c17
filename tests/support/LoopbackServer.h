// A scripted TCP server on 127.0.0.1 for transport tests and the benchmarks. It listens on a
// port the system picks and serves the first connection on its own thread, so the test's
// thread is free to block in the client under test: the script (Send, Close, Reset) runs in
// order, and between its steps the server reads what the client sent.
//
//     server.Send(":srv 001 bob :hi\r\n").Close();
#pragma once

#include "RawSocket.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

class LoopbackServer {
public:
    LoopbackServer();
    ~LoopbackServer(); // stops the script and closes the socket (without a reset)
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int Port() const { return FListener.LocalPort(); }
    static const char* Host() { return "127.0.0.1"; }

    LoopbackServer& Send(std::string bytes) { return Queue('s', std::move(bytes)); }
    LoopbackServer& Close() { return Queue('c', {}); } // half-close: the client reads the end
    LoopbackServer& Reset() { return Queue('r', {}); } // SO_LINGER 0: the client sees a reset

    // Each wait gives up (false) after TestSupport::HangLimit.
    bool WaitForReceived(const std::string& text);
    bool WaitForClientClose();

private:
    LoopbackServer& Queue(char kind, std::string bytes);
    void Serve();

    RawSocket FListener;
    std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<std::pair<char, std::string>> FScript;
    int FPeer = -1; // the served connection, once accepted
    std::string FReceived;
    bool FClientClosed = false;
    bool FStop = false;
    std::thread FThread; // last: starts once the fields above exist
};

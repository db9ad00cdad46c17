// A scripted TCP server on 127.0.0.1 for transport tests and the benchmarks. It listens on a
// port the system picks and serves the first connection: the script (Send, Close, Reset) runs
// in order on the server's own thread, so the test's thread is free to block in the client
// under test. The waits read what the client sent.
//
//     server.Send(":srv 001 bob :hi\r\n").Close();
#pragma once

#include "RawSocket.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
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

    // Sends in pieces of `chunk` bytes (0: one piece), with `pause` after each, so that the
    // client meets them in separate receipts.
    LoopbackServer& Send(std::string bytes, size_t chunk = 0,
                         std::chrono::milliseconds pause = std::chrono::milliseconds(0));
    LoopbackServer& Close() { return Queue('c', {}); } // half-close: the client reads the end
    LoopbackServer& Reset() { return Queue('r', {}); } // SO_LINGER 0: the client sees a reset

    // Each wait gives up (false) after TestSupport::HangLimit.
    bool WaitForReceived(const std::string& text);
    bool WaitForClientClose();
    std::string Received(); // what the waits have read of the client's bytes so far
    bool WaitScriptDone();  // every queued step has been carried out

private:
    LoopbackServer& Queue(char kind, std::string bytes);
    bool ReadUntil(const std::function<bool()>& done);

    RawSocket FListener;
    std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<std::pair<char, std::string>> FScript;
    int FPeer = -1; // the served connection, once accepted; -1 again after a reset
    std::string FReceived;
    bool FClientClosed = false;
    bool FBusy = false; // a step taken off the script is being carried out
    bool FStop = false;
    std::thread FThread;
};

// A scriptable TCP server on 127.0.0.1 for transport and protocol tests.
//
// The server listens on a port the system picks (Port()), accepts every connection, and
// records everything each client sends. What it does in return is a script: actions queued
// from the test (Send with a chosen chunking and pause between chunks, Pause, WaitFor a text
// from the client, Close, Reset, NextConnection) run in order on the server's own thread, so
// the test's thread is free to block in the client under test. Actions may be queued at any
// time, also while the script runs ("on command").
//
//     LoopbackServer server;
//     server.WaitFor("NICK bob\r\n").Send(":srv 001 bob :hi\r\n", 1, 2ms).Close();
//     client.Connect("127.0.0.1", server.Port());
//
// Every action targets the current connection: the first one accepted, until NextConnection
// moves on to the next. An action waits until that connection has been accepted.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LoopbackServer {
public:
    using Millis = std::chrono::milliseconds;

    struct Options {
        int Backlog = 16;
        // False leaves connections in the accept queue (no accept, nothing recorded): with a
        // small backlog, further connects then hang, which connect time-out tests need.
        bool Accept = true;
    };

    LoopbackServer();
    explicit LoopbackServer(Options options);
    // Stops the script and closes every socket (without a reset).
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int Port() const { return FPort; }
    static const char* Host() { return "127.0.0.1"; }

    // Script actions. Send writes the bytes in pieces of ASize bytes (0: as one piece), each
    // piece sent completely (TCP_NODELAY, so it leaves at once) and followed by the pause.
    LoopbackServer& Send(std::string bytes, size_t chunk = 0, Millis pause = Millis(0));
    LoopbackServer& Pause(Millis duration);
    // Waits until the client has sent AText after the end of the previous WaitFor match on
    // this connection. Giving up after the time-out records a failure and drops the rest of
    // the script.
    LoopbackServer& WaitFor(std::string text, Millis timeout = Millis(5000));
    // Half-close: the client reads end of data (FIN); what it still sends is recorded.
    LoopbackServer& Close();
    // Abortive close: SO_LINGER 0, so the client sees a reset (RST).
    LoopbackServer& Reset();
    LoopbackServer& NextConnection();

    // Waits until every queued action has run. False on time-out.
    bool WaitScriptDone(Millis timeout = Millis(5000));
    // Waits until connection AIndex has recorded AText anywhere in what it received.
    bool WaitForReceived(const std::string& text, Millis timeout = Millis(5000), size_t index = 0);
    // Waits until the client of connection AIndex has closed (end of data or reset seen).
    bool WaitForClientClose(Millis timeout = Millis(5000), size_t index = 0);
    // Waits until AIndex + 1 connections have been accepted.
    bool WaitForConnection(Millis timeout = Millis(5000), size_t index = 0);

    // Everything connection AIndex has received so far.
    std::string Received(size_t index = 0) const;
    size_t ConnectionCount() const;
    // Problems met while running the script (a WaitFor that timed out, a failed send).
    std::vector<std::string> Failures() const;

private:
    struct Action;
    struct Connection;

    LoopbackServer& Queue(Action action);
    void Run();
    void AcceptPending();
    void ReadFrom(Connection& connection);
    // Runs the head actions as far as they can go; returns how long the loop may sleep.
    int Advance();
    void Wake();

    Options FOptions;
    int FListener = -1;
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

// A loopback port that nothing listens on at the moment of the call (bound and released),
// for refused connects.
int UnusedLoopbackPort();

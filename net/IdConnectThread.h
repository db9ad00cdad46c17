// Runs one blocking connect of a socket handle on a thread of its own, so that the caller
// can give up after a time-out (TIdIOHandlerSocket::ConnectClient).
//
// A plain thread, not a TIdThread: it touches only its binding's Connect, its own
// ExceptionMessage and its terminated mark. The mark is an atomic stored with release order
// after the message, so a caller that reads Terminated() as true (acquire) also sees the
// message.
#pragma once

#include <atomic>
#include <string>
#include <thread>

class TIdSocketHandle;

class TIdConnectThread {
public:
    // Created suspended: nothing runs until Start.
    explicit TIdConnectThread(TIdSocketHandle* ABinding);
    // Waits for the thread to end.
    ~TIdConnectThread();
    TIdConnectThread(const TIdConnectThread&) = delete;
    TIdConnectThread& operator=(const TIdConnectThread&) = delete;

    void Start();
    // The terminate request sets the same mark the thread sets when it ends.
    void Terminate() { FTerminated.store(true, std::memory_order_release); }
    bool Terminated() const { return FTerminated.load(std::memory_order_acquire); }
    void WaitFor();

    TIdSocketHandle* Binding() const { return FBinding; }
    // The text of the error the connect raised; empty on success. Read it only after
    // Terminated() returned true because the thread ended, or after WaitFor.
    const std::string& ExceptionMessage() const { return FExceptionMessage; }

private:
    void Execute();

    TIdSocketHandle* FBinding; // not owned
    std::string FExceptionMessage;
    std::atomic<bool> FTerminated{false};
    std::thread FThread;
};

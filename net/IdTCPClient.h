// The client side of one TCP connection: where to connect, and connecting.
#pragma once

#include "IdGlobal.h"
#include "IdTCPConnection.h"

#include <cstdint>
#include <string>

class TIdTCPClient : public TIdTCPConnection {
public:
    virtual void SetHost(const std::string& AValue) { FHost = AValue; }
    virtual void SetPort(int32_t AValue) { FPort = AValue; }
    virtual void DoOnConnected();
    // Creates a socket I/O handler if none is assigned (owned by the client, reused after a
    // failed attempt) and connects it. A failure closes the socket and reaches the caller
    // unchanged; no disconnect status or event is raised then.
    virtual void Connect(int32_t ATimeout = Id::TimeoutDefault);
    // Connects, reads until the peer closes, and disconnects whether or not the read failed.
    virtual std::string ConnectAndReadAll();

    const std::string& BoundIP() const { return FBoundIP; }
    void SetBoundIP(const std::string& AValue) { FBoundIP = AValue; }
    int32_t BoundPort() const { return FBoundPort; }
    void SetBoundPort(int32_t AValue) { FBoundPort = AValue; }
    int32_t BoundPortMax() const { return FBoundPortMax; }
    void SetBoundPortMax(int32_t AValue) { FBoundPortMax = AValue; }
    int32_t BoundPortMin() const { return FBoundPortMin; }
    void SetBoundPortMin(int32_t AValue) { FBoundPortMin = AValue; }
    const std::string& Host() const { return FHost; }
    TNotifyEvent OnConnected;
    int32_t Port() const { return FPort; }

private:
    std::string FBoundIP;
    int32_t FBoundPort = 0;
    int32_t FBoundPortMax = 0;
    int32_t FBoundPortMin = 0;
    std::string FHost;
    int32_t FPort = 0;
};

// What a connection needs of its transport. TIdIOHandlerSocket implements it on a socket.
#pragma once

#include "IdComponent.h"

#include <cstdint>
#include <string>

class TIdSocketHandle;

class TIdIOHandler : public TIdComponent {
public:
    TIdIOHandler() = default;
    // Destroying a handler closes it first. Subclasses whose Close needs their own fields
    // call Close in their own destructor as well, since the base runs after they are gone.
    ~TIdIOHandler() override;

    virtual void AfterAccept() {}
    virtual void Close() {}
    virtual void ConnectClient(const std::string& AHost, int32_t APort, const std::string& ABoundIP,
                               int32_t ABoundPort, int32_t ABoundPortMin, int32_t ABoundPortMax,
                               int32_t ATimeout) {
        (void)AHost, (void)APort, (void)ABoundIP, (void)ABoundPort, (void)ABoundPortMin,
            (void)ABoundPortMax, (void)ATimeout;
    }
    virtual bool Connected() = 0;
    virtual void Open() {}
    virtual bool Readable(int32_t AMSec) = 0;
    // Raw results: bytes moved, 0 when the peer closed (Recv), -1 on a socket error whose
    // code the stack's LastSocketError gives on this thread.
    virtual int32_t Recv(void* ABuf, int32_t ALen) = 0;
    virtual int32_t Send(const void* ABuf, int32_t ALen) = 0;
    // The socket the handler's bytes travel on, or null (a handler without one, or not open).
    virtual TIdSocketHandle* SocketBinding() const { return nullptr; }

    // The longest wait for data in the handler's own exchanges during ConnectClient (a
    // proxy's replies), in milliseconds; 0 waits without limit. A client sets it from its
    // connection's ReadTimeout before connecting, so a silent proxy cannot hang the connect.
    int32_t ReadTimeout() const { return FReadTimeout; }
    void SetReadTimeout(int32_t AValue) { FReadTimeout = AValue; }

private:
    int32_t FReadTimeout = 0;
};

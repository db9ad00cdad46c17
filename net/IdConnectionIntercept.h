// A hook object a connection notifies on connect and disconnect and shows every block it
// sends or receives. Intercepts chain: each passes every call on to its own Intercept.
//
// Order along a chain A -> B (A is the connection's intercept, B chained to A):
//  - Connect: A's OnConnect, then B;  Disconnect: B first, then A's OnDisconnect.
//  - Receive: B first, then A's OnReceive: received data flows from the outermost chained
//    intercept inwards to the connection.
//  - Send: A's OnSend first, then B: data to send flows outwards.
// After each event that was given a buffer the buffer is rewound to its start, so the next
// intercept (and the connection) reads the block from its first byte.
#pragma once

#include "IdComponent.h"
#include "IdEvents.h"

class TIdSimpleBuffer;
class TIdTCPConnection;

class TIdConnectionIntercept : public TIdBaseComponent {
public:
    TIdConnectionIntercept();
    ~TIdConnectionIntercept() override;

    // Hooks the connection calls.
    virtual void Connect(TIdTCPConnection* AConnection);
    virtual void Disconnect();
    virtual void Receive(TIdSimpleBuffer* ABuffer);
    virtual void Send(TIdSimpleBuffer* ABuffer);

    // The connection this intercept is attached to: set by Connect, cleared by Disconnect.
    TIdTCPConnection* Connection() const { return FConnection; }
    // The next intercept of the chain, cleared when that one is destroyed.
    TIdConnectionIntercept* Intercept() const { return FIntercept; }
    void SetIntercept(TIdConnectionIntercept* AValue);
    bool IsClient() const { return FIsClient; }
    void SetIsClient(bool AValue) { FIsClient = AValue; }

    TIdInterceptNotifyEvent OnConnect;
    TIdInterceptNotifyEvent OnDisconnect;
    TIdInterceptStreamEvent OnReceive;
    TIdInterceptStreamEvent OnSend;

protected:
    void Notification(TIdBaseComponent* AComponent, TOperation AOperation) override;

    // Pass a call on to the chained intercept, if there is one.
    virtual void NestedConnect(TIdTCPConnection* AConnection);
    virtual void NestedDisconnect();
    virtual void NestedReceive(TIdSimpleBuffer* ABuffer);
    virtual void NestedSend(TIdSimpleBuffer* ABuffer);

private:
    TIdTCPConnection* FConnection = nullptr;
    TIdConnectionIntercept* FIntercept = nullptr;
    bool FIsClient = true;
};

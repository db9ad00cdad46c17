#include "IdTCPClient.h"

#include "IdConnectionIntercept.h"
#include "IdException.h"
#include "IdIOHandlerSocket.h"

#include <memory>

void TIdTCPClient::DoOnConnected() {
    RaiseEvent(OnConnected, this);
}

void TIdTCPClient::Connect(int32_t ATimeout) {
    TIdIOHandler* handler = IOHandler();
    if (handler != nullptr && handler->Connected()) {
        throw EIdAlreadyConnected();
    }
    if (handler == nullptr) {
        auto created = std::make_unique<TIdIOHandlerSocket>();
        // The handler's own statuses (resolving, connecting) reach the same handler.
        created->OnStatus = OnStatus;
        SetIOHandler(created.get());
        handler = created.release();
        SetOwnsIOHandler(true);
    }
    try {
        handler->Open();
        ResetConnection();
        // A proxy's replies during the connect wait no longer than the connection's reads.
        handler->SetReadTimeout(ReadTimeout());
        handler->ConnectClient(FHost, FPort, FBoundIP, FBoundPort, FBoundPortMin, FBoundPortMax,
                               ATimeout);
        if (TIdConnectionIntercept* intercept = Intercept()) {
            intercept->Connect(this);
        }
        DoStatus(hsConnected, FHost);
        DoOnConnected();
    } catch (...) {
        // The caller must see the failure that stopped the connect, not a second one met
        // while closing; the handler stays for the next attempt.
        try {
            DisconnectSocket();
        } catch (...) {
        }
        throw;
    }
}

std::string TIdTCPClient::ConnectAndReadAll() {
    Connect(Id::TimeoutDefault);
    std::string result;
    try {
        result = ReadAll();
    } catch (...) {
        Disconnect();
        throw;
    }
    Disconnect();
    return result;
}

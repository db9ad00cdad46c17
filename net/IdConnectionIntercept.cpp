#include "IdConnectionIntercept.h"

#include "IdSimpleBuffer.h"

TIdConnectionIntercept::TIdConnectionIntercept() = default;

TIdConnectionIntercept::~TIdConnectionIntercept() {
    SetIntercept(nullptr);
}

void TIdConnectionIntercept::SetIntercept(TIdConnectionIntercept* AValue) {
    if (AValue == FIntercept) {
        return;
    }
    if (FIntercept) {
        FIntercept->RemoveFreeNotification(this);
    }
    FIntercept = AValue;
    if (FIntercept) {
        FIntercept->FreeNotification(this);
    }
}

void TIdConnectionIntercept::Notification(TIdBaseComponent* AComponent, TOperation AOperation) {
    if (AOperation == opRemove && AComponent == FIntercept) {
        FIntercept = nullptr;
    }
    TIdBaseComponent::Notification(AComponent, AOperation);
}

void TIdConnectionIntercept::NestedConnect(TIdTCPConnection* AConnection) {
    if (FIntercept) {
        FIntercept->Connect(AConnection);
    }
}

void TIdConnectionIntercept::NestedDisconnect() {
    if (FIntercept) {
        FIntercept->Disconnect();
    }
}

void TIdConnectionIntercept::NestedReceive(TIdSimpleBuffer* ABuffer) {
    if (FIntercept) {
        FIntercept->Receive(ABuffer);
    }
}

void TIdConnectionIntercept::NestedSend(TIdSimpleBuffer* ABuffer) {
    if (FIntercept) {
        FIntercept->Send(ABuffer);
    }
}

void TIdConnectionIntercept::Connect(TIdTCPConnection* AConnection) {
    FConnection = AConnection;
    RaiseEvent(OnConnect, this);
    NestedConnect(AConnection);
}

void TIdConnectionIntercept::Disconnect() {
    NestedDisconnect();
    RaiseEvent(OnDisconnect, this);
    FConnection = nullptr;
}

void TIdConnectionIntercept::Receive(TIdSimpleBuffer* ABuffer) {
    NestedReceive(ABuffer);
    RaiseEvent(OnReceive, this, ABuffer);
    ABuffer->SetPosition(0);
}

void TIdConnectionIntercept::Send(TIdSimpleBuffer* ABuffer) {
    if (OnSend) {
        OnSend(this, ABuffer);
        ABuffer->SetPosition(0);
    }
    NestedSend(ABuffer);
}

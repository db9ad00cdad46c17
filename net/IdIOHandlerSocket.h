// The I/O handler of a TCP client: one socket handle (Binding), opened and connected here,
// read and written by the connection.
//
// Threads: the connecting thread opens, connects and closes; a reader thread may sit in
// Readable or Recv meanwhile, and a Close from another thread wakes it (TIdSocketHandle).
// Binding is created once by the first Open and lives as long as the handler, so a reader
// never finds it freed under it while the handler exists.
#pragma once

#include "IdIOHandler.h"
#include "IdSocketHandle.h"
#include "IdSocksInfo.h"

#include <cstdint>
#include <memory>
#include <string>

class TIdIOHandlerSocket : public TIdIOHandler {
public:
    TIdIOHandlerSocket();
    ~TIdIOHandlerSocket() override;

    void Close() override;
    // Allocates and binds the socket, resolves AHost and connects, blocking or, with a
    // time-out, through a TIdConnectThread. Reports hsResolving (names only) and
    // hsConnecting. With a SOCKS version selected it dials the proxy instead (the statuses
    // name the proxy) and then has the proxy connect to AHost:APort; settings the request
    // cannot carry are refused before the proxy is dialled, and a failed negotiation closes
    // the socket.
    void ConnectClient(const std::string& AHost, int32_t APort, const std::string& ABoundIP,
                       int32_t ABoundPort, int32_t ABoundPortMin, int32_t ABoundPortMax,
                       int32_t ATimeout) override;
    // True exactly when a Binding exists and holds a socket.
    bool Connected() override;
    // Creates the Binding, or resets an existing one (local side included).
    void Open() override;
    bool Readable(int32_t AMSec) override;
    // Raise EIdClosedSocket ("Disconnected.") when not connected, also when a Close on another
    // thread comes between that check and the call; otherwise the raw result.
    int32_t Recv(void* ABuf, int32_t ALen) override;
    int32_t Send(const void* ABuf, int32_t ALen) override;

    TIdSocketHandle* Binding() const { return FBinding.get(); }
    TIdSocketHandle* SocketBinding() const override { return Binding(); }
    // The proxy settings. Reading creates the handler's own (svNoSocks) when it has none.
    TIdSocksInfo* SocksInfo();
    // References settings that live elsewhere (the caller frees them; the reference is cleared
    // when they are destroyed), dropping the handler's own. Null clears the reference.
    void SetSocksInfo(TIdSocksInfo* AValue);
    // Copies ASource's settings into the handler's own, creating it (and dropping a reference
    // to settings that live elsewhere) as needed.
    void AssignSocksInfo(const TIdSocksInfo& ASource);
    bool UseNagle() const { return FUseNagle; }
    void SetUseNagle(bool AValue) { FUseNagle = AValue; }

    // The polling step of a connect with a time-out, and the time-out used for a connect
    // without one while the anti-freeze hook is in use.
    static constexpr int32_t ConnectPollStep = 125;
    static constexpr int32_t AntiFreezeConnectTimeout = 120000;

protected:
    void Notification(TIdBaseComponent* AComponent, TOperation AOperation) override;

private:
    void ConnectWithTimeout(int32_t ATimeout);
    int32_t ClosedMeanwhile(int32_t AResult);

    std::unique_ptr<TIdSocketHandle> FBinding;
    std::unique_ptr<TIdSocksInfo> FOwnSocksInfo;
    TIdSocksInfo* FSocksInfo = nullptr; // FOwnSocksInfo, one referenced, or none
    bool FUseNagle = true;
};

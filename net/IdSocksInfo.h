// SOCKS proxy settings, and the negotiation that asks the proxy to connect onward.
//
// The negotiation runs inside the I/O handler's ConnectClient, after the TCP connect to the
// proxy and before the connection counts as connected. It talks to the proxy through the
// handler's Send and Recv only (no connection buffer), and reads exactly the bytes each reply
// has, so the first byte the connection reads afterwards is the server's.
//
// A proxy is not trusted to behave: every wait for its reply is bounded by the handler's
// ReadTimeout, a reply cut short or never sent raises EIdSocksServerRespondError, and one that
// breaks the protocol (wrong version byte, unknown address type, bytes beyond a reply that
// must be answered first) raises EIdSocksReplyError. Settings that do not fit their field are
// refused by CheckRequest before the proxy is dialled.
#pragma once

#include "IdComponent.h"

#include <cstdint>
#include <string>

class TIdIOHandler;

enum TSocksVersion { svNoSocks, svSocks4, svSocks4A, svSocks5 };
enum TSocksAuthentication { saNoAuthentication, saUsernamePassword };

class TIdSocksInfo : public TIdComponent {
public:
    static constexpr int32_t DefaultPort = 1080;

    TIdSocksInfo() = default;
    // Copies the settings, not the I/O handler.
    void Assign(const TIdSocksInfo& ASource);

    // Raises EIdSocksSettingError when the request for AHost:APort cannot be sent as given:
    // a user name, password or host name over 255 bytes where the field has a one-byte length
    // (or, in SOCKS 4, a 255-byte cap), a zero byte inside a zero-terminated field, or a port
    // outside 0-65535. Does nothing without a SOCKS version.
    void CheckRequest(const std::string& AHost, int32_t APort) const;
    // Asks the proxy, over the I/O handler's connected socket, to connect to AHost:APort.
    // Does nothing with svNoSocks.
    void MakeSocksConnection(const std::string& AHost, int32_t APort);

    TSocksAuthentication Authentication() const { return FAuthentication; }
    void SetAuthentication(TSocksAuthentication AValue) { FAuthentication = AValue; }
    const std::string& Host() const { return FHost; }
    void SetHost(const std::string& AValue) { FHost = AValue; }
    const std::string& Password() const { return FPassword; }
    void SetPassword(const std::string& AValue) { FPassword = AValue; }
    int32_t Port() const { return FPort; }
    void SetPort(int32_t AValue) { FPort = AValue; }
    const std::string& Username() const { return FUsername; }
    void SetUsername(const std::string& AValue) { FUsername = AValue; }
    TSocksVersion Version() const { return FVersion; }
    void SetVersion(TSocksVersion AValue) { FVersion = AValue; }
    TIdIOHandler* IOHandler() const { return FIOHandler; }
    // The handler whose connection the negotiation uses; cleared when it is destroyed.
    void SetIOHandler(TIdIOHandler* AValue);

protected:
    void Notification(TIdBaseComponent* AComponent, TOperation AOperation) override;

private:
    void Socks4(const std::string& AHost, int32_t APort);
    void Socks5(const std::string& AHost, int32_t APort);
    void Send(const std::string& ABytes);
    // Reads exactly ACount bytes into VBuffer, appending; raises EIdSocksServerRespondError
    // when the proxy closes, fails or stays silent past the read time-out first.
    void Read(std::string& VBuffer, int32_t ACount);
    // Raises when the proxy sent more than the reply just read before the client's next step.
    void CheckNothingMore(const char* AStep);

    TSocksAuthentication FAuthentication = saNoAuthentication;
    std::string FHost;
    std::string FPassword;
    int32_t FPort = DefaultPort;
    std::string FUsername;
    TSocksVersion FVersion = svNoSocks;
    TIdIOHandler* FIOHandler = nullptr;
};

#include "IdSocksInfo.h"

#include "IdException.h"
#include "IdGlobal.h"
#include "IdIOHandler.h"
#include "IdStack.h"

#include <algorithm>

// The wire (RFC 1928 and 1929 for SOCKS 5; SOCKS 4 and its 4A extension), numbers in network
// order:
//   SOCKS 4/4A request: 4, 1, port(2), address(4; 0.0.0.1 for 4A), user id, 0 [, host, 0]
//   SOCKS 4/4A reply:   0, status, port(2), address(4)            status 90 = granted
//   SOCKS 5 methods:    5, 1, method         reply: 5, method      0 none, 2 user/password
//   user/password:      1, len, user, len, password   reply: 1, status (0 = success)
//   SOCKS 5 connect:    5, 1, 0, 3, len, host, port(2)    (the host always as a name)
//   SOCKS 5 reply:      5, code, 0, type, address (1: 4 bytes, 3: len + name, 4: 16), port(2)
// The version bytes of the replies are checked: a peer that answers in another version (or
// is no SOCKS proxy at all) is told apart from a refusal. The reserved byte is not.
namespace {

constexpr uint8_t kSocks4Granted = 90;
constexpr uint8_t kMethodNone = 0;
constexpr uint8_t kMethodUsernamePassword = 2;
constexpr uint8_t kNoAcceptableMethod = 0xFF;
constexpr size_t kMaxField = 255;

[[noreturn]] void RaiseSocks4Status(uint8_t AStatus) {
    switch (AStatus) {
    case 91:
        throw EIdSocksRequestFailed();
    case 92:
        throw EIdSocksRequestServerFailed();
    case 93:
        throw EIdSocksRequestIdentFailed();
    default:
        throw EIdSocksUnknownError();
    }
}

[[noreturn]] void RaiseSocks5Reply(uint8_t ACode) {
    switch (ACode) {
    case 1:
        throw EIdSocksServerGeneralError();
    case 2:
        throw EIdSocksServerPermissionError();
    case 3:
        throw EIdSocksServerNetUnreachableError();
    case 4:
        throw EIdSocksServerHostUnreachableError();
    case 5:
        throw EIdSocksServerConnectionRefusedError();
    case 6:
        throw EIdSocksServerTTLExpiredError();
    case 7:
        throw EIdSocksServerCommandError();
    case 8:
        throw EIdSocksServerAddressError();
    default:
        throw EIdSocksUnknownError();
    }
}

void CheckVersion(const std::string& AReply, uint8_t AExpected, const char* AStep) {
    if (uint8_t(AReply[0]) != AExpected) {
        throw EIdSocksReplyError(Id::Format("version %d in the %s reply, %d expected",
                                            uint8_t(AReply[0]), AStep, AExpected));
    }
}

void CheckField(const std::string& AValue, const char* AName, bool AZeroTerminated) {
    if (AValue.size() > kMaxField) {
        throw EIdSocksSettingError(
            Id::Format("%s of %zu bytes, at most 255 allowed", AName, AValue.size()));
    }
    if (AZeroTerminated && AValue.find('\0') != std::string::npos) {
        throw EIdSocksSettingError(Id::Format("%s with a zero byte", AName));
    }
}

void AppendPort(std::string& VRequest, int32_t APort) {
    const uint16_t port = ActiveStack()->HToNS(uint16_t(APort));
    VRequest.append(reinterpret_cast<const char*>(&port), 2);
}

} // namespace

void TIdSocksInfo::Assign(const TIdSocksInfo& ASource) {
    FAuthentication = ASource.FAuthentication;
    FHost = ASource.FHost;
    FPassword = ASource.FPassword;
    FPort = ASource.FPort;
    FUsername = ASource.FUsername;
    FVersion = ASource.FVersion;
}

void TIdSocksInfo::SetIOHandler(TIdIOHandler* AValue) {
    // The link to a previous handler stays: a handler that references these settings hears
    // through it when they are destroyed (one link serves both directions).
    FIOHandler = AValue;
    if (AValue != nullptr) {
        AValue->FreeNotification(this);
    }
}

void TIdSocksInfo::Notification(TIdBaseComponent* AComponent, TOperation AOperation) {
    if (AOperation == opRemove && AComponent == FIOHandler) {
        FIOHandler = nullptr;
    }
    TIdComponent::Notification(AComponent, AOperation);
}

// SOCKS 4 has a user id (the protocol allows any length; 255 bytes is the cap this request
// keeps) and, in 4A, a host name, both zero-terminated; SOCKS 5 has one-byte lengths.
void TIdSocksInfo::CheckRequest(const std::string& AHost, int32_t APort) const {
    if (FVersion == svNoSocks) {
        return;
    }
    if (APort < 0 || APort > 65535) {
        throw EIdSocksSettingError(Id::Format("port %d outside 0-65535", APort));
    }
    // Only what goes on the wire: SOCKS 5 without a log-in sends no user name.
    const bool socks4 = FVersion == svSocks4 || FVersion == svSocks4A;
    const bool login = FVersion == svSocks5 && FAuthentication == saUsernamePassword;
    if (socks4 || login) {
        CheckField(FUsername, "user name", socks4);
    }
    if (login) {
        CheckField(FPassword, "password", false);
    }
    if (FVersion != svSocks4) {
        CheckField(AHost, "host name", socks4);
        if (AHost.empty()) {
            throw EIdSocksSettingError("empty host name");
        }
    }
}

void TIdSocksInfo::MakeSocksConnection(const std::string& AHost, int32_t APort) {
    switch (FVersion) {
    case svNoSocks:
        return;
    case svSocks4:
    case svSocks4A:
        CheckRequest(AHost, APort);
        Socks4(AHost, APort);
        return;
    case svSocks5:
        CheckRequest(AHost, APort);
        Socks5(AHost, APort);
        return;
    }
}

void TIdSocksInfo::Socks4(const std::string& AHost, int32_t APort) {
    std::string request{4, 1};
    AppendPort(request, APort);
    if (FVersion == svSocks4) {
        TIdStack* stack = ActiveStack();
        const TIdInAddr address = stack->StringToAddress(stack->ResolveHostName(AHost));
        request.append(reinterpret_cast<const char*>(address.data()), address.size());
    } else {
        request.append({0, 0, 0, 1});
    }
    request.append(FUsername).push_back('\0');
    if (FVersion == svSocks4A) {
        request.append(AHost).push_back('\0');
    }
    Send(request);

    std::string reply;
    Read(reply, 8);
    CheckVersion(reply, 0, "connect");
    if (uint8_t(reply[1]) != kSocks4Granted) {
        RaiseSocks4Status(uint8_t(reply[1]));
    }
}

void TIdSocksInfo::Socks5(const std::string& AHost, int32_t APort) {
    const uint8_t method =
        FAuthentication == saUsernamePassword ? kMethodUsernamePassword : kMethodNone;
    Send(std::string{5, 1, char(method)});
    std::string reply;
    Read(reply, 2);
    CheckVersion(reply, 5, "method selection");
    if (uint8_t(reply[1]) == kNoAcceptableMethod || uint8_t(reply[1]) != method) {
        throw EIdSocksAuthMethodError();
    }
    CheckNothingMore("method selection");

    if (FAuthentication == saUsernamePassword) {
        std::string request{1, char(FUsername.size())};
        request.append(FUsername).push_back(char(FPassword.size()));
        request.append(FPassword);
        Send(request);
        reply.clear();
        Read(reply, 2);
        CheckVersion(reply, 1, "authentication");
        if (reply[1] != 0) {
            throw EIdSocksAuthError();
        }
        CheckNothingMore("authentication");
    }

    std::string request{5, 1, 0, 3, char(AHost.size())};
    request.append(AHost);
    AppendPort(request, APort);
    Send(request);

    // A refusal is raised before anything more is read: the proxy may close right after it.
    reply.clear();
    Read(reply, 5);
    CheckVersion(reply, 5, "connect");
    if (reply[1] != 0) {
        RaiseSocks5Reply(uint8_t(reply[1]));
    }
    // The fifth byte is the first byte of the bound address, or the length of its name.
    switch (reply[3]) {
    case 1:
        Read(reply, 4 - 1 + 2);
        break;
    case 3:
        Read(reply, uint8_t(reply[4]) + 2);
        break;
    case 4:
        Read(reply, 16 - 1 + 2);
        break;
    default:
        throw EIdSocksReplyError(
            Id::Format("address type %d in the connect reply", uint8_t(reply[3])));
    }
}

void TIdSocksInfo::Send(const std::string& ABytes) {
    if (FIOHandler == nullptr) {
        throw EIdNotConnected();
    }
    TIdStack* stack = ActiveStack();
    size_t offset = 0;
    while (offset < ABytes.size()) {
        const int32_t sent =
            FIOHandler->Send(ABytes.data() + offset, int32_t(ABytes.size() - offset));
        if (sent == 0) {
            throw EIdSocksServerRespondError();
        }
        stack->CheckForSocketError(sent);
        offset += size_t(sent);
    }
}

void TIdSocksInfo::Read(std::string& VBuffer, int32_t ACount) {
    if (FIOHandler == nullptr) {
        throw EIdNotConnected();
    }
    const int32_t timeout =
        FIOHandler->ReadTimeout() > 0 ? FIOHandler->ReadTimeout() : Id::TimeoutInfinite;
    char block[256 + 2];
    while (ACount > 0) {
        // A proxy that keeps silent, closes or fails mid-reply has not given its answer.
        if (!FIOHandler->Readable(timeout)) {
            throw EIdSocksServerRespondError();
        }
        const int32_t count = FIOHandler->Recv(block, std::min<int32_t>(ACount, sizeof block));
        if (count <= 0) {
            throw EIdSocksServerRespondError();
        }
        VBuffer.append(block, size_t(count));
        ACount -= count;
    }
}

// Readable also when the proxy has closed: one byte tells a close from bytes it had no business
// sending yet.
void TIdSocksInfo::CheckNothingMore(const char* AStep) {
    if (!FIOHandler->Readable(0)) {
        return;
    }
    char extra = 0;
    if (FIOHandler->Recv(&extra, 1) <= 0) {
        throw EIdSocksServerRespondError();
    }
    throw EIdSocksReplyError(Id::Format("more bytes than the %s reply holds", AStep));
}

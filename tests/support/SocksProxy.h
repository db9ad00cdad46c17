// Real SOCKS proxies for end-to-end tests, on 127.0.0.1 on a free port with a configuration of
// their own; the constructor returns once the port accepts connections, the destructor stops
// the proxy.
//
//  - Dante (Debian's danted): SOCKS 4 and 5, connecting onward to 127.0.0.1 only. With user
//    names it accepts only SOCKS 5 user name and password, checked against the system's
//    password files: it runs in a mount namespace of its own in which the test's passwd and
//    shadow files (with the one user below) stand over the real ones, which stay untouched.
//    That needs root, as the test machines run.
//  - microsocks: SOCKS 5 only; with user names it accepts only the user below.
// Both answer 0xFF to a method they do not accept. Neither speaks SOCKS 4A (Dante refuses it
// with 91, microsocks answers as SOCKS 5).
#pragma once

#include "ChildProcess.h"
#include "TempDir.h"

#include <cstdint>
#include <memory>
#include <string>

class SocksProxy {
public:
    enum TKind { kDante, kMicrosocks };
    static constexpr const char* User = "brisal";
    static constexpr const char* Password = "secret";

    // Throws std::runtime_error with the proxy's log when it cannot be started.
    SocksProxy(TKind AKind, bool AUserPassword);

    static const char* Host() { return "127.0.0.1"; }
    uint16_t Port() const { return FPort; }
    std::string Log() const { return FProcess ? FProcess->Log() : std::string(); }

private:
    std::vector<std::string> DanteCommand(bool AUserPassword);

    TempDir FDirectory;
    uint16_t FPort = 0;
    std::unique_ptr<ChildProcess> FProcess;
};

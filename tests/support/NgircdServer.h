// A real IRC server for end-to-end tests: Debian's ngircd on 127.0.0.1, on a free port, with a
// configuration of its own and nothing looked up (no DNS, ident or PAM). The constructor
// returns once the port accepts connections; the destructor stops the server. Nicks are at
// most 9 characters (432 beyond); each command costs about a second of penalty unless
// FloodPenalty is off; a silent client is pinged after PingTimeout seconds; the first user to
// join a channel is its operator. Its own lines come from "irc.brisal.test".
#pragma once

#include "ChildProcess.h"
#include "TempDir.h"
#include "TestCertificates.h"

#include <cstdint>
#include <memory>
#include <string>

struct NgircdConfig {
    int PingTimeout = 5; // seconds; ngircd's lowest value
    bool FloodPenalty = true;
    TestCertificates::TPair TLS = {}; // with one, the server also speaks TLS on TLSPort()
};

class NgircdServer {
public:
    explicit NgircdServer(NgircdConfig AConfig = {}); // throws std::runtime_error with the log

    static const char* Host() { return "127.0.0.1"; }
    uint16_t Port() const { return FPort; }
    uint16_t TLSPort() const { return FTLSPort; } // 0 without a certificate
    std::string Log() const { return FProcess ? FProcess->Log() : std::string(); }

    // A server that goes away and comes back on the same port, as a restarted one does.
    void Stop() { FProcess.reset(); }
    void Restart(); // throws std::runtime_error when it does not listen again
    // SIGSTOP: the connections stay open and nothing answers. SIGCONT resumes it.
    void Freeze(bool AFrozen);

private:
    bool StartOn(uint16_t APort); // false when the server ended instead of listening

    NgircdConfig FConfig;
    TempDir FDirectory;
    uint16_t FPort = 0;
    uint16_t FTLSPort = 0;
    std::unique_ptr<ChildProcess> FProcess;
};

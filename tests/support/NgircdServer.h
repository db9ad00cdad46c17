// A real IRC server for end-to-end tests: Debian's ngircd on 127.0.0.1, on a free port, with a
// configuration written into a temporary directory of its own. Nothing is looked up (no DNS,
// no ident, no PAM), so registration answers at once. The constructor returns once the port
// accepts connections; the destructor stops the server (see ChildProcess).
//
// Things a test must allow for, as with any ngircd:
// - Nicks are at most MaxNickLength characters (9 by default); a longer one is refused (432).
// - After registration every command costs the sender about a second of "penalty": the
//   server reads the next one only then. Wait for the answer lines, never sleep.
// - The server sends PING after PingTimeout seconds of silence on a connection.
// - The first user to join a channel the server does not predefine becomes its operator;
//   in a predefined channel nobody does.
// - An IRC operator (OPER Oper Password) may use MODE on any channel.
#pragma once

#include "ChildProcess.h"
#include "TempDir.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct NgircdChannel {
    std::string Name;
    std::string Topic;
    std::string Modes; // as in a MODE command, for example "+tn"
};

struct NgircdConfig {
    int PingTimeout = 5; // seconds; ngircd's lowest value
    int PongTimeout = 20;
    int MaxNickLength = 9;    // ngircd's default
    bool FloodPenalty = true; // false: MaxPenaltyTime = 0, commands are read at once
    std::vector<NgircdChannel> Channels;
    std::string Motd = "Brisal test server";
    std::string Oper = "brisal";
    std::string OperPassword = "brisal";
};

class NgircdServer {
public:
    explicit NgircdServer(NgircdConfig AConfig = {}); // throws std::runtime_error with the log
    ~NgircdServer();
    NgircdServer(const NgircdServer&) = delete;
    NgircdServer& operator=(const NgircdServer&) = delete;

    static const char* Host() { return "127.0.0.1"; }
    static const char* Name() { return "irc.brisal.test"; } // the prefix of its own lines
    uint16_t Port() const { return FPort; }
    const NgircdConfig& Config() const { return FConfig; }

    bool Running() { return FProcess && FProcess->Running(); }
    void Stop();
    std::string Log() const; // the server's own log, for failure messages

private:
    std::string ConfigText() const;

    NgircdConfig FConfig;
    TempDir FDirectory;
    uint16_t FPort = 0;
    std::unique_ptr<ChildProcess> FProcess;
};

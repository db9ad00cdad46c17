// A second real IRC client for end-to-end tests: Debian's `ii`, driven through its files.
//
// ii keeps a directory per server (DIR/127.0.0.1) and one per channel or query partner below
// it, each with an `out` file of what it received there and, for the server, an `in` FIFO of
// commands. Every command here goes through the server's FIFO, which the helper keeps open,
// so ii sends them in the order they were given: "/j #chan" joins, any other line is sent to
// the server as written (PRIVMSG with CTCP framing, TOPIC, KICK, MODE, ...).
//
// ii writes nothing to its files for the raw lines it sends, so a test waits on the receiving
// side. Nicks follow the server's limit (9 characters on a default ngircd).
#pragma once

#include "ChildProcess.h"
#include "TempDir.h"
#include "Waiting.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

class IiClient {
public:
    // Starts ii against 127.0.0.1:APort and waits for the server's welcome. Throws
    // std::runtime_error (with ii's log) when it does not come.
    IiClient(uint16_t APort, std::string ANick);
    ~IiClient();
    IiClient(const IiClient&) = delete;
    IiClient& operator=(const IiClient&) = delete;

    const std::string& Nick() const { return FNick; }

    // Joins and waits until the server has confirmed it (false after the bound).
    bool Join(const std::string& AChannel);
    void Say(const std::string& ATarget, const std::string& AText);   // PRIVMSG
    void Ctcp(const std::string& ATarget, const std::string& AQuery); // query framed by byte 1
    void Raw(const std::string& ALine); // one IRC command line, without CR LF

    // Waits until AText appears in the out file of AWhere ("" for the server, else a channel
    // or a nick) after the previous match in that file.
    bool WaitForText(const std::string& AText, const std::string& AWhere = "",
                     std::chrono::milliseconds ALimit = TestSupport::HangLimit);
    std::string Out(const std::string& AWhere = "") const;
    std::string Log() const; // ii's own trace of the lines it exchanged

    void Stop();

private:
    void Command(const std::string& ALine);

    std::string FNick;
    TempDir FDirectory;
    std::unique_ptr<ChildProcess> FProcess;
    int FInput = -1;                        // the server FIFO, open for writing
    std::map<std::string, size_t> FMatched; // per out file: where the next wait searches from
};

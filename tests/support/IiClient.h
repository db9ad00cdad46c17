// A second real IRC client for end-to-end tests: Debian's `ii`. It writes what it receives to
// an `out` file per server, channel or query partner (lower case); commands go through the
// server's `in` FIFO, held open so they go in order. Wait on the receiving side.
#pragma once

#include "ChildProcess.h"
#include "TempDir.h"
#include "Waiting.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unistd.h>

class IiClient {
public:
    // Starts ii against 127.0.0.1:APort and waits for the welcome; throws std::runtime_error
    // (with ii's log) when it does not come.
    IiClient(uint16_t APort, std::string ANick);
    ~IiClient() { ::close(FInput); }
    IiClient(const IiClient&) = delete;
    IiClient& operator=(const IiClient&) = delete;

    // Joins and waits until the server has confirmed it (false after the bound).
    bool Join(const std::string& AChannel);
    void Say(const std::string& ATarget, const std::string& AText) {
        Raw("PRIVMSG " + ATarget + " :" + AText);
    }
    // One IRC command line, without CR LF: ii sends what follows a "/" unchanged.
    void Raw(const std::string& ALine);

    // Waits until AText appears in the out file of AWhere ("" for the server, else a channel
    // or a nick, in lower case).
    bool WaitForText(const std::string& AText, const std::string& AWhere = "");
    std::string Out(const std::string& AWhere = "") const;
    std::string Log() const { return FProcess->Log(); }

private:
    std::string FNick;
    TempDir FDirectory;
    std::unique_ptr<ChildProcess> FProcess;
    int FInput = -1; // the server FIFO, open for writing
};

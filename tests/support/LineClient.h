// A bare line-oriented TCP client on 127.0.0.1: a third party on a real server whose every
// byte the test controls (registration by hand, lines the component under test must not
// send), independent of the transport under test. Lines go out with CR LF; received lines are
// split at LF with one CR before it dropped.
#pragma once

#include "RawSocket.h"
#include "Waiting.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class LineClient {
public:
    explicit LineClient(uint16_t APort); // throws std::runtime_error when it cannot connect

    void Send(const std::string& ALine); // adds CR LF
    // Waits until a line containing AText has arrived after the previous match and returns it;
    // "" after ALimit or when the server closed the connection first.
    std::string WaitForLine(const std::string& AText,
                            std::chrono::milliseconds ALimit = TestSupport::HangLimit);
    const std::vector<std::string>& Lines() const { return FLines; }
    bool Closed() const { return FClosed; }

private:
    bool ReadSome(int AMSec);

    RawSocket FSocket;
    std::string FPartial;
    std::vector<std::string> FLines;
    size_t FNext = 0; // the first line the next WaitForLine looks at
    bool FClosed = false;
};

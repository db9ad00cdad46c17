// A real IRC server for the tests that concern what a server does with the client's lines:
// ngircd on 127.0.0.1, a free port, with DNS, ident and PAM lookups off, started for one test
// and stopped with it. Waited for by polling its port, never by sleeping.
#pragma once

#include "TempDir.h"

#include <string>
#include <sys/types.h>

class NgircdServer {
public:
    NgircdServer();  // Running() tells whether it came up
    ~NgircdServer(); // stops the server and waits for it
    NgircdServer(const NgircdServer&) = delete;
    NgircdServer& operator=(const NgircdServer&) = delete;

    bool Running() const { return FPid > 0 && FReady; }
    int Port() const { return FPort; }
    // What went wrong when it is not running.
    const std::string& Problem() const { return FProblem; }

private:
    TempDir FDir;
    int FPort = 0;
    pid_t FPid = -1;
    bool FReady = false;
    std::string FProblem;
};

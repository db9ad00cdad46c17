// A throwaway authority and the server certificates TLS tests present, made with the openssl
// program (P-256 keys: milliseconds) in a directory that "nobody" (a test server run as root
// becomes it) can read. Throws std::runtime_error when openssl fails.
#pragma once

#include "TempDir.h"

#include <string>

struct TestCertificates {
    struct TPair {
        std::string Cert, Key; // empty: no TLS
    };
    TestCertificates();

    TempDir Directory;
    std::string CAFile; // the authority the tests trust; the system's store does not know it
    TPair Server;       // localhost and 127.0.0.1, from that authority
    TPair OtherName;    // irc.elsewhere.test only, from that authority
};

// A throwaway certificate authority and the certificates TLS tests present, made with the
// openssl program (P-256 keys: milliseconds) in a temporary directory that the "nobody" a test
// server run as root becomes can read. Throws std::runtime_error when openssl fails.
#pragma once

#include "TempDir.h"

#include <filesystem>

struct TestCertificates {
    struct TPair {
        std::filesystem::path Cert;
        std::filesystem::path Key;
    };
    TestCertificates();

    TempDir Directory;
    std::filesystem::path CAFile; // the authority the tests trust
    TPair Server;                 // 127.0.0.1 and localhost, from that authority
    TPair OtherName;              // irc.elsewhere.test only, from that authority
    TPair UnknownAuthority;       // 127.0.0.1 and localhost, from an authority nobody trusts
    TPair Expired;                // 127.0.0.1 and localhost, trusted, expired when made
};

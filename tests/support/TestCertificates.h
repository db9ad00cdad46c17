// A throwaway certificate authority and the server certificates the TLS tests present, made
// with the openssl program in a temporary directory (readable by the "nobody" a test server
// run as root becomes). Keys are P-256: making them takes milliseconds.
#pragma once

#include "TempDir.h"

#include <filesystem>
#include <string>

class TestCertificates {
public:
    struct TPair {
        std::filesystem::path Cert;
        std::filesystem::path Key;
    };

    TestCertificates(); // throws std::runtime_error when openssl fails

    // The authority the tests trust (a handler's CAFile).
    const std::filesystem::path& CAFile() const { return FCAFile; }
    // For 127.0.0.1 and localhost, from the trusted authority.
    const TPair& Server() const { return FServer; }
    // For irc.elsewhere.test only, from the trusted authority.
    const TPair& OtherName() const { return FOtherName; }
    // For 127.0.0.1 and localhost, from an authority nobody trusts.
    const TPair& UnknownAuthority() const { return FUnknownAuthority; }
    // For 127.0.0.1 and localhost, from the trusted authority, expired since it was made.
    const TPair& Expired() const { return FExpired; }

private:
    std::filesystem::path Authority(const std::string& AName);
    TPair Issue(const std::string& AName, const std::string& AAuthority, const std::string& ANames,
                int ADays);

    TempDir FDirectory;
    std::filesystem::path FCAFile;
    TPair FServer;
    TPair FOtherName;
    TPair FUnknownAuthority;
    TPair FExpired;
};

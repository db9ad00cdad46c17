#include "TestCertificates.h"

#include <cstdlib>
#include <stdexcept>

namespace {

void Run(const std::string& ACommand) {
    if (std::system((ACommand + " >/dev/null 2>&1").c_str()) != 0) {
        throw std::runtime_error("test certificates not made (run scripts/deps.sh?): " + ACommand);
    }
}

} // namespace

TestCertificates::TestCertificates() {
    const std::string dir = Directory.Path().string() + "/";
    const auto make = [&](const std::string& AName, const std::string& AMore) -> TPair {
        Run("openssl req -x509 -days 2 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes "
            "-keyout " +
            dir + AName + ".key -out " + dir + AName + ".pem -subj /CN=Brisal-test-" + AName +
            AMore);
        return {dir + AName + ".pem", dir + AName + ".key"};
    };
    CAFile = make("ca", "").Cert;
    const std::string byCA = " -CA " + CAFile + " -CAkey " + dir + "ca.key -addext subjectAltName=";
    Server = make("server", byCA + "DNS:localhost,IP:127.0.0.1");
    OtherName = make("elsewhere", byCA + "DNS:irc.elsewhere.test");
    Run("chmod -R a+rX " + dir);
}

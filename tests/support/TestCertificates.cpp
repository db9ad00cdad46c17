#include "TestCertificates.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace {

void Run(const std::string& ACommand) {
    if (std::system((ACommand + " >/dev/null 2>&1").c_str()) != 0) {
        throw std::runtime_error("openssl failed (run scripts/deps.sh?): " + ACommand);
    }
}

const std::string kNewKey = " -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout ";

} // namespace

TestCertificates::TestCertificates() {
    namespace fs = std::filesystem;
    const std::string dir = Directory.Path().string() + "/";
    for (const char* authority : {"ca", "stranger"}) {
        Run("openssl req -x509" + kNewKey + dir + authority + ".key -out " + dir + authority +
            ".pem -days 2 -subj /CN=Brisal-test-" + authority);
    }
    CAFile = dir + "ca.pem";
    // A negative validity ends before it begins: expired from its first second.
    const auto issue = [&](const std::string& AName, const std::string& AAuthority,
                           const std::string& ANames, int ADays) -> TPair {
        const std::string base = dir + AName;
        Directory.WriteFile(AName + ".ext", "subjectAltName=" + ANames + "\n");
        Run("openssl req" + kNewKey + base + ".key -out " + base + ".csr -subj /CN=" + AName);
        Run("openssl x509 -req -in " + base + ".csr -CA " + dir + AAuthority + ".pem -CAkey " +
            dir + AAuthority + ".key -CAcreateserial -out " + base + ".pem -days " +
            std::to_string(ADays) + " -extfile " + base + ".ext");
        return {base + ".pem", base + ".key"};
    };
    const std::string local = "DNS:localhost,IP:127.0.0.1";
    Server = issue("server", "ca", local, 2);
    OtherName = issue("elsewhere", "ca", "DNS:irc.elsewhere.test", 2);
    UnknownAuthority = issue("unknown", "stranger", local, 2);
    Expired = issue("expired", "ca", local, -1);
    const auto readable = fs::perms::group_read | fs::perms::others_read;
    fs::permissions(Directory.Path(), readable | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::add);
    for (const auto& entry : fs::directory_iterator(Directory.Path())) {
        fs::permissions(entry.path(), readable, fs::perm_options::add);
    }
}

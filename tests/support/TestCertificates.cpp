#include "TestCertificates.h"

#include <cstdlib>
#include <stdexcept>

namespace {

void Run(const std::string& ACommand) {
    if (std::system((ACommand + " >/dev/null 2>&1").c_str()) != 0) {
        throw std::runtime_error("openssl failed (run scripts/deps.sh?): " + ACommand);
    }
}

const char* const kNewKey = "-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes";

} // namespace

TestCertificates::TestCertificates() {
    namespace fs = std::filesystem;
    fs::permissions(FDirectory.Path(),
                    fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                        fs::perms::others_exec,
                    fs::perm_options::add);
    FCAFile = Authority("ca");
    Authority("stranger");
    const std::string local = "DNS:localhost,IP:127.0.0.1";
    FServer = Issue("server", "ca", local, 2);
    FOtherName = Issue("elsewhere", "ca", "DNS:irc.elsewhere.test", 2);
    FUnknownAuthority = Issue("unknown", "stranger", local, 2);
    // A negative validity ends before it begins: expired from the first second.
    FExpired = Issue("expired", "ca", local, -1);
    for (const auto& entry : fs::directory_iterator(FDirectory.Path())) {
        fs::permissions(entry.path(), fs::perms::others_read | fs::perms::group_read,
                        fs::perm_options::add);
    }
}

std::filesystem::path TestCertificates::Authority(const std::string& AName) {
    const std::string base = (FDirectory.Path() / AName).string();
    Run("openssl req -x509 " + std::string(kNewKey) + " -keyout " + base + ".key -out " + base +
        ".pem -days 2 -subj /CN=Brisal-test-" + AName);
    return base + ".pem";
}

TestCertificates::TPair TestCertificates::Issue(const std::string& AName,
                                                const std::string& AAuthority,
                                                const std::string& ANames, int ADays) {
    const std::string base = (FDirectory.Path() / AName).string();
    const std::string authority = (FDirectory.Path() / AAuthority).string();
    FDirectory.WriteFile(AName + ".ext", "subjectAltName=" + ANames + "\n");
    Run("openssl req " + std::string(kNewKey) + " -keyout " + base + ".key -out " + base +
        ".csr -subj /CN=" + AName);
    Run("openssl x509 -req -in " + base + ".csr -CA " + authority + ".pem -CAkey " + authority +
        ".key -CAcreateserial -out " + base + ".pem -days " + std::to_string(ADays) + " -extfile " +
        base + ".ext");
    return {base + ".pem", base + ".key"};
}

// A SOCKS proxy's replies as a proxy would send them: the first byte chooses the version
// (4, 4A, 5), the method (none or user name and password) and whether the host is a name or
// an address; the next gives the size of the receipts; the rest is what the proxy sends, in
// receipts of that size, then it closes.
//
// What must hold: the connection through the proxy either succeeds or ends in one of the
// transport's own errors; never a crash, a hang, another exception, or a read past the reply.
#include "IdException.h"
#include "IdSocksInfo.h"
#include "IdTCPClient.h"
#include "ScriptedIOHandler.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    if (ASize < 2) {
        return 0;
    }
    static TIdTCPClient keepStack; // the socket stack SOCKS 4 resolves the address with
    const TSocksVersion versions[] = {svSocks4, svSocks4A, svSocks5};
    const uint8_t choice = AData[0];
    const size_t receipt = 1 + AData[1] % 16;
    const std::string replies(reinterpret_cast<const char*>(AData + 2), ASize - 2);

    ScriptedIOHandler proxy;
    for (size_t from = 0; from < replies.size(); from += receipt) {
        proxy.Receipt(replies.substr(from, receipt));
    }
    proxy.EndOfData();

    TIdSocksInfo socks;
    socks.SetVersion(versions[choice % 3]);
    if ((choice & 4) != 0) {
        socks.SetAuthentication(saUsernamePassword);
        socks.SetUsername("user");
        socks.SetPassword("secret");
    }
    socks.SetIOHandler(&proxy);
    // A name only where the proxy resolves it: SOCKS 4 would look it up here.
    const bool byName = (choice & 8) != 0 && versions[choice % 3] != svSocks4;
    const std::string host = byName ? "irc.example.net" : "127.0.0.1";
    try {
        socks.MakeSocksConnection(host, 6667);
    } catch (const EIdException&) {
        // a refusal, a lie or a close, reported
    }
    socks.SetIOHandler(nullptr);
    return 0;
}

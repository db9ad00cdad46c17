#include "IiClient.h"

#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

static const char* const kProgram = "/usr/bin/ii";
static const char* const kHost = "127.0.0.1";

IiClient::IiClient(uint16_t APort, std::string ANick) : FNick(std::move(ANick)) {
    if (access(kProgram, X_OK) != 0) {
        throw std::runtime_error(std::string(kProgram) + " is missing: run scripts/deps.sh");
    }
    const std::filesystem::path tree = FDirectory.Path() / "irc";
    FProcess = std::make_unique<ChildProcess>(std::vector<std::string>{kProgram, "-s", kHost, "-p",
                                                                       std::to_string(APort), "-n",
                                                                       FNick, "-i", tree.string()},
                                              FDirectory.Path() / "ii.log");
    // ii opens its FIFO for reading once it is connected; until then an open for writing
    // without blocking fails (ENXIO).
    const std::string fifo = (tree / kHost / "in").string();
    TestSupport::WaitUntil([&] {
        FInput = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        return FInput >= 0 || !FProcess->Running();
    });
    if (FInput < 0 || !WaitForText("Welcome")) {
        ::close(FInput);
        throw std::runtime_error("ii (" + FNick + ") did not register:\n" + Log());
    }
    // Lines are short and written whole, so blocking writes never wait in practice.
    ::fcntl(FInput, F_SETFL, ::fcntl(FInput, F_GETFL) & ~O_NONBLOCK);
}

bool IiClient::Join(const std::string& AChannel) {
    Raw("j " + AChannel); // ii's own join, which makes the channel's directory
    return WaitForText(FNick + "(", AChannel);
}

void IiClient::Raw(const std::string& ALine) {
    const std::string command = "/" + ALine + "\n";
    if (ALine.find_first_of("\r\n") != std::string::npos ||
        ::write(FInput, command.data(), command.size()) != ssize_t(command.size())) {
        throw std::runtime_error("ii (" + FNick + ") did not take " + ALine + ":\n" + Log());
    }
}

std::string IiClient::Out(const std::string& AWhere) const {
    std::ifstream in(FDirectory.Path() / "irc" / kHost / AWhere / "out", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool IiClient::WaitForText(const std::string& AText, const std::string& AWhere) {
    return TestSupport::WaitUntil([&] { return Out(AWhere).find(AText) != std::string::npos; });
}

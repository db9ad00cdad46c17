#include "IiClient.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

namespace {

const char* const kProgram = "/usr/bin/ii";
const char* const kHost = "127.0.0.1";

// ii names a channel's or nick's directory in lower case.
std::string Lower(std::string AText) {
    std::transform(AText.begin(), AText.end(), AText.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return AText;
}

} // namespace

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

IiClient::~IiClient() {
    if (FInput >= 0) {
        ::close(FInput);
    }
}

bool IiClient::Join(const std::string& AChannel) {
    Command("/j " + AChannel);
    return WaitForText(FNick + "(", AChannel);
}

void IiClient::Command(const std::string& ALine) {
    const std::string command = ALine + "\n";
    // ii gone, the FIFO's write would raise SIGPIPE and end the whole test program: blocked,
    // it becomes this write's error instead.
    sigset_t pipe, previous;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &previous);
    ssize_t n;
    do {
        n = ::write(FInput, command.data(), command.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0 && errno == EPIPE) {
        const timespec none{0, 0};
        sigtimedwait(&pipe, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (ALine.find_first_of("\r\n") != std::string::npos || n != ssize_t(command.size())) {
        throw std::runtime_error("ii (" + FNick + ") did not take " + ALine + ":\n" + Log());
    }
}

std::string IiClient::Out(const std::string& AWhere) const {
    std::filesystem::path file = FDirectory.Path() / "irc" / kHost;
    if (!AWhere.empty()) {
        file /= Lower(AWhere);
    }
    std::ifstream in(file / "out", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool IiClient::WaitForText(const std::string& AText, const std::string& AWhere,
                           std::chrono::milliseconds ALimit) {
    size_t& from = FMatched[Lower(AWhere)];
    return TestSupport::WaitUntil(
        [&] {
            const size_t found = Out(AWhere).find(AText, from);
            from = found == std::string::npos ? from : found + AText.size();
            return found != std::string::npos;
        },
        ALimit);
}

#include "IiClient.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kProgram = "/usr/bin/ii";
const char* const kHost = "127.0.0.1";

// ii names a channel's or nick's directory in lower case.
std::string Lower(std::string AText) {
    for (char& c : AText) {
        c = char(std::tolower(static_cast<unsigned char>(c)));
    }
    return AText;
}

// A write to a FIFO whose reader has gone raises SIGPIPE, which would end the whole test
// program; here it becomes an error of this write alone.
bool WriteWithoutSigpipe(int AFd, const std::string& ABytes) {
    sigset_t pipe;
    sigset_t previous;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &previous);
    ssize_t n;
    do {
        n = ::write(AFd, ABytes.data(), ABytes.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0 && errno == EPIPE) {
        const timespec none{0, 0};
        sigtimedwait(&pipe, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return n == ssize_t(ABytes.size());
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
    const std::string fifo = (tree / kHost / "in").string();
    // ii opens its FIFO for reading once it is connected; until then an open for writing
    // without blocking fails with ENXIO.
    TestSupport::WaitUntil([&] {
        FInput = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        return FInput >= 0 || !FProcess->Running();
    });
    if (FInput < 0 || !WaitForText("Welcome")) {
        const std::string log = FProcess->Log();
        Stop();
        throw std::runtime_error("ii (" + FNick + ") did not register:\n" + log);
    }
    // Lines are short and written whole, so blocking writes never wait in practice.
    ::fcntl(FInput, F_SETFL, ::fcntl(FInput, F_GETFL) & ~O_NONBLOCK);
}

IiClient::~IiClient() {
    Stop();
}

void IiClient::Stop() {
    if (FInput >= 0) {
        ::close(FInput);
        FInput = -1;
    }
    if (FProcess) {
        FProcess->Stop();
    }
}

void IiClient::Command(const std::string& ALine) {
    if (ALine.find_first_of("\r\n") != std::string::npos) {
        throw std::invalid_argument("ii command with a line break: " + ALine);
    }
    if (FInput < 0 || !WriteWithoutSigpipe(FInput, ALine + "\n")) {
        throw std::runtime_error("ii (" + FNick + ") no longer reads commands:\n" + Log());
    }
}

bool IiClient::Join(const std::string& AChannel) {
    Command("/j " + AChannel);
    return WaitForText(FNick + "(", AChannel);
}

void IiClient::Say(const std::string& ATarget, const std::string& AText) {
    Raw("PRIVMSG " + ATarget + " :" + AText);
}

void IiClient::Ctcp(const std::string& ATarget, const std::string& AQuery) {
    Say(ATarget, "\x01" + AQuery + "\x01");
}

void IiClient::Raw(const std::string& ALine) {
    // A leading "/" makes ii send the rest unchanged; its one-letter commands ("/j", "/t")
    // cannot be hit, as IRC commands are longer.
    Command("/" + ALine);
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
            if (found == std::string::npos) {
                return false;
            }
            from = found + AText.size();
            return true;
        },
        ALimit);
}

std::string IiClient::Log() const {
    return FProcess ? FProcess->Log() : std::string();
}

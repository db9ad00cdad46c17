// The only file that calls the BSD socket functions or reads errno for sockets.
#include "IdStackPosix.h"

#include "IdException.h"
#include "IdGlobal.h"
#include "IdSocketErrors.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <span>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The calling thread's last socket error, Winsock-numbered, recorded by the failing call
// itself (the platform's per-thread WSAGetLastError). Reading errno later instead would
// report whatever ran in between.
thread_local int32_t tSocketError = 0;

int32_t Fail(int32_t code) {
    tSocketError = code;
    return Id_SOCKET_ERROR;
}

int32_t FailWithErrno() {
    return Fail(Id::SocketErrorFromNative(errno));
}

// A raw result as the contract wants it: -1 on failure with the error recorded.
int32_t Raw(long result) {
    if (result < 0) {
        return FailWithErrno();
    }
    return static_cast<int32_t>(result);
}

// Resolver failures onto the Winsock resolver codes: no such name 11001, try again 11002,
// unrecoverable 11003, a name without an IPv4 address 11004. A system error keeps its own
// mapped code; failures that our fixed hints cannot cause count as unrecoverable.
int32_t ResolverError(int rc) {
    switch (rc) {
    case EAI_NONAME:
        return Id::WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
        return Id::WSATRY_AGAIN;
    case EAI_FAIL:
        return Id::WSANO_RECOVERY;
#ifdef EAI_NODATA
    case EAI_NODATA:
        return Id::WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
        return Id::WSANO_DATA;
#endif
    case EAI_MEMORY:
        return Id::WSAENOBUFS;
    case EAI_SYSTEM: {
        const int32_t code = Id::SocketErrorFromNative(errno);
        return code != 0 ? code : Id::WSANO_RECOVERY;
    }
    default:
        return Id::WSANO_RECOVERY;
    }
}

// A name with a zero byte in it would be cut at that byte by the C calls and look up
// something other than what was asked; such a name exists nowhere.
bool HasZeroByte(const std::string& text) {
    return text.find('\0') != std::string::npos;
}

bool ValidPort(int32_t port) {
    return port >= 0 && port <= 65535;
}

std::string InAddrToString(const in_addr& addr) {
    TIdInAddr bytes;
    std::memcpy(bytes.data(), &addr.s_addr, 4);
    return Id::Format("%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
}

// Fills an IPv4 socket address; throws std::invalid_argument for a malformed address text
// (via StringToAddress). An empty IP, allowed where allowAny, means any address.
sockaddr_in MakeAddress(TIdStack& stack, int32_t family, const std::string& ip, int32_t port,
                        bool allowAny) {
    sockaddr_in addr{};
    addr.sin_family = static_cast<sa_family_t>(family);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (!(allowAny && ip.empty())) {
        const TIdInAddr bytes = stack.StringToAddress(ip);
        std::memcpy(&addr.sin_addr.s_addr, bytes.data(), 4);
    }
    return addr;
}

void ReadAddress(const sockaddr_storage& storage, int32_t& family, std::string& ip, int32_t& port) {
    family = storage.ss_family;
    if (storage.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(storage);
        ip = InAddrToString(in.sin_addr);
        port = ntohs(in.sin_port);
    } else {
        ip.clear();
        port = 0;
    }
}

// Socket-level option numbers: Winsock's onto this platform's. Only options whose value has
// the same form on both sides (an int) are translated; any other socket-level option is
// refused, since passing its Winsock number through would name a different option here
// (Winsock's SO_ACCEPTCONN is Linux's SO_REUSEADDR). Other levels pass through unchanged.
bool TranslateOption(int32_t& level, int32_t& option) {
    if (level != Id_SOL_SOCKET) {
        return true;
    }
    static const struct {
        int32_t Winsock;
        int Native;
    } kOptions[] = {
        {Id_SO_DEBUG, SO_DEBUG},         {Id_SO_REUSEADDR, SO_REUSEADDR},
        {Id_SO_KEEPALIVE, SO_KEEPALIVE}, {Id_SO_DONTROUTE, SO_DONTROUTE},
        {Id_SO_BROADCAST, SO_BROADCAST}, {Id_SO_OOBINLINE, SO_OOBINLINE},
        {Id_SO_SNDBUF, SO_SNDBUF},       {Id_SO_RCVBUF, SO_RCVBUF},
        {Id_SO_ERROR, SO_ERROR},         {Id_SO_TYPE, SO_TYPE},
    };
    for (const auto& o : kOptions) {
        if (o.Winsock == option) {
            level = SOL_SOCKET;
            option = o.Native;
            return true;
        }
    }
    return false;
}

struct AddrInfoFree {
    void operator()(addrinfo* ai) const { freeaddrinfo(ai); }
};
using AddrInfoPtr = std::unique_ptr<addrinfo, AddrInfoFree>;

// The IPv4 addresses of a name; failures raise the resolver's code through the check.
AddrInfoPtr LookUp(TIdStack& stack, const std::string& name) {
    if (HasZeroByte(name)) {
        stack.CheckForSocketError(Fail(Id::WSAHOST_NOT_FOUND));
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM; // one entry per address rather than one per socket type
    addrinfo* result = nullptr;
    const int rc = getaddrinfo(name.c_str(), nullptr, &hints, &result);
    if (rc != 0) {
        stack.CheckForSocketError(Fail(ResolverError(rc)));
    }
    return AddrInfoPtr(result);
}

std::string AddressOf(const addrinfo* ai) {
    return InAddrToString(reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr);
}

template <typename Call> auto RetryOnInterrupt(Call call) {
    for (;;) {
        const auto result = call();
        if (!(result < 0 && errno == EINTR)) {
            return result;
        }
    }
}

} // namespace

std::unique_ptr<TIdStack> CreatePlatformStack() {
    return std::make_unique<TIdStackPosix>();
}

std::unique_ptr<TIdSocketList> TIdSocketList::CreateSocketList() {
    return std::make_unique<TIdSocketListPosix>();
}

// There is no socket library to start on this platform; the flag keeps its meaning (a stack
// has been set up in this process). Nothing process-wide is changed: SIGPIPE stays as the
// program has it, because every send passes MSG_NOSIGNAL.
TIdStackPosix::TIdStackPosix() {
    MarkStackStarted();
}

TIdStackPosix::~TIdStackPosix() = default;

void TIdStackPosix::PopulateLocalAddresses() {
    FLocalAddresses.clear();
    const AddrInfoPtr result = LookUp(*this, LocalHostName());
    for (const addrinfo* ai = result.get(); ai != nullptr; ai = ai->ai_next) {
        FLocalAddresses.push_back(AddressOf(ai));
    }
}

TIdStackSocketHandle TIdStackPosix::Accept(TIdStackSocketHandle ASocket, std::string& VIP,
                                           int32_t& VPort) {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    const int fd = RetryOnInterrupt(
        [&] { return accept4(ASocket, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC); });
    if (fd < 0) {
        return FailWithErrno();
    }
    int32_t family = 0;
    ReadAddress(addr, family, VIP, VPort);
    return fd;
}

int32_t TIdStackPosix::Bind(TIdStackSocketHandle ASocket, int32_t AFamily, const std::string& AIP,
                            int32_t APort) {
    // A port outside 16 bits would otherwise be cut silently and bind somewhere else.
    if (!ValidPort(APort)) {
        return Fail(Id::WSAEINVAL);
    }
    const sockaddr_in addr = MakeAddress(*this, AFamily, AIP, APort, true);
    return Raw(bind(ASocket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr));
}

int32_t TIdStackPosix::CloseSocket(TIdStackSocketHandle ASocket) {
    shutdown(ASocket, SHUT_RDWR); // fails harmlessly on unconnected sockets
    // close() releases the descriptor even when interrupted; retrying could close a
    // descriptor another thread has just been given.
    if (close(ASocket) < 0 && errno != EINTR) {
        return FailWithErrno();
    }
    return 0;
}

int32_t TIdStackPosix::Connect(TIdStackSocketHandle ASocket, int32_t AFamily,
                               const std::string& AIP, int32_t APort) {
    if (!ValidPort(APort)) {
        return Fail(Id::WSAEINVAL);
    }
    const sockaddr_in addr = MakeAddress(*this, AFamily, AIP, APort, false);
    if (connect(ASocket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
        return 0;
    }
    if (errno != EINTR) {
        return FailWithErrno();
    }
    // An interrupted connect goes on in the background and cannot be restarted; wait for it
    // to finish and take its outcome from the socket.
    pollfd pfd{ASocket, POLLOUT, 0};
    if (RetryOnInterrupt([&] { return poll(&pfd, 1, -1); }) < 0) {
        return FailWithErrno();
    }
    if (pfd.revents & POLLNVAL) {
        return Fail(Id::WSAENOTSOCK);
    }
    int error = 0;
    socklen_t len = sizeof error;
    if (getsockopt(ASocket, SOL_SOCKET, SO_ERROR, &error, &len) < 0) {
        return FailWithErrno();
    }
    return error == 0 ? 0 : Fail(Id::SocketErrorFromNative(error));
}

std::string TIdStackPosix::HostByName(const std::string& AHostName) {
    const AddrInfoPtr result = LookUp(*this, AHostName);
    return result ? AddressOf(result.get()) : std::string();
}

std::string TIdStackPosix::LocalHostName() {
    char buffer[250] = {};
    gethostname(buffer, sizeof buffer - 1); // the last byte stays 0 even if the name is cut
    return buffer;
}

std::string TIdStackPosix::HostByAddress(const std::string& AAddress) {
    if (HasZeroByte(AAddress)) {
        CheckForSocketError(Fail(Id::WSAHOST_NOT_FOUND));
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = inet_addr(AAddress.c_str());
    char host[NI_MAXHOST] = {};
    const int rc = getnameinfo(reinterpret_cast<const sockaddr*>(&addr), sizeof addr, host,
                               sizeof host, nullptr, 0, NI_NAMEREQD);
    if (rc != 0) {
        CheckForSocketError(Fail(ResolverError(rc)));
    }
    return host;
}

int32_t TIdStackPosix::ServicePort(const std::string& AService) {
    servent entry{};
    servent* found = nullptr;
    char buffer[4096];
    if (!HasZeroByte(AService) &&
        getservbyname_r(AService.c_str(), nullptr, &entry, buffer, sizeof buffer, &found) == 0 &&
        found != nullptr) {
        return ntohs(static_cast<uint16_t>(found->s_port));
    }
    int32_t port = 0;
    if (!Id::TryStrToInt(AService, port)) {
        throw EIdInvalidServiceName(AService);
    }
    return port;
}

TIdStrings TIdStackPosix::PortServices(int32_t APort) {
    TIdStrings names;
    servent entry{};
    servent* found = nullptr;
    char buffer[4096];
    if (getservbyport_r(htons(static_cast<uint16_t>(APort)), nullptr, &entry, buffer, sizeof buffer,
                        &found) == 0 &&
        found != nullptr) {
        names.emplace_back(found->s_name);
        for (char** alias = found->s_aliases; alias != nullptr && *alias != nullptr; ++alias) {
            names.emplace_back(*alias);
        }
    }
    return names;
}

uint16_t TIdStackPosix::HToNS(uint16_t AHostShort) {
    return htons(AHostShort);
}
uint16_t TIdStackPosix::NToHS(uint16_t ANetShort) {
    return ntohs(ANetShort);
}
uint32_t TIdStackPosix::HToNL(uint32_t AHostLong) {
    return htonl(AHostLong);
}
uint32_t TIdStackPosix::NToHL(uint32_t ANetLong) {
    return ntohl(ANetLong);
}

int32_t TIdStackPosix::Listen(TIdStackSocketHandle ASocket, int32_t ABacklog) {
    return Raw(listen(ASocket, ABacklog));
}

int32_t TIdStackPosix::Recv(TIdStackSocketHandle ASocket, void* ABuffer, int32_t ABufferLength,
                            int32_t AFlags) {
    if (ABufferLength < 0) {
        return Fail(Id::WSAEINVAL);
    }
    return Raw(RetryOnInterrupt(
        [&] { return recv(ASocket, ABuffer, static_cast<size_t>(ABufferLength), AFlags); }));
}

int32_t TIdStackPosix::RecvFrom(TIdStackSocketHandle ASocket, void* ABuffer, int32_t ALength,
                                int32_t AFlags, std::string& VIP, int32_t& VPort) {
    if (ALength < 0) {
        return Fail(Id::WSAEINVAL);
    }
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    const ssize_t result = RetryOnInterrupt([&] {
        return recvfrom(ASocket, ABuffer, static_cast<size_t>(ALength), AFlags,
                        reinterpret_cast<sockaddr*>(&addr), &len);
    });
    if (result < 0) {
        return FailWithErrno();
    }
    int32_t family = 0;
    ReadAddress(addr, family, VIP, VPort);
    return static_cast<int32_t>(result);
}

int32_t TIdStackPosix::Send(TIdStackSocketHandle ASocket, const void* ABuffer,
                            int32_t ABufferLength, int32_t AFlags) {
    if (ABufferLength < 0) {
        return Fail(Id::WSAEINVAL);
    }
    return Raw(RetryOnInterrupt([&] {
        return send(ASocket, ABuffer, static_cast<size_t>(ABufferLength), AFlags | MSG_NOSIGNAL);
    }));
}

int32_t TIdStackPosix::SendTo(TIdStackSocketHandle ASocket, const void* ABuffer,
                              int32_t ABufferLength, int32_t AFlags, const std::string& AIP,
                              int32_t APort) {
    if (ABufferLength < 0 || !ValidPort(APort)) {
        return Fail(Id::WSAEINVAL);
    }
    const sockaddr_in addr = MakeAddress(*this, AF_INET, AIP, APort, false);
    return Raw(RetryOnInterrupt([&] {
        return sendto(ASocket, ABuffer, static_cast<size_t>(ABufferLength), AFlags | MSG_NOSIGNAL,
                      reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    }));
}

int32_t TIdStackPosix::SetSockOpt(TIdStackSocketHandle ASocket, int32_t ALevel, int32_t AOptName,
                                  const void* AOptVal, int32_t AOptLen) {
    if (!TranslateOption(ALevel, AOptName)) {
        return Fail(Id::WSAENOPROTOOPT);
    }
    return Raw(setsockopt(ASocket, ALevel, AOptName, AOptVal, static_cast<socklen_t>(AOptLen)));
}

int32_t TIdStackPosix::GetSockOpt(TIdStackSocketHandle ASocket, int32_t ALevel, int32_t AOptName,
                                  void* AOptVal, int32_t& VOptLen) {
    if (!TranslateOption(ALevel, AOptName)) {
        return Fail(Id::WSAENOPROTOOPT);
    }
    socklen_t len = static_cast<socklen_t>(VOptLen);
    if (getsockopt(ASocket, ALevel, AOptName, AOptVal, &len) < 0) {
        return FailWithErrno();
    }
    VOptLen = static_cast<int32_t>(len);
    if (ALevel == SOL_SOCKET && AOptName == SO_ERROR && len >= sizeof(int)) {
        int native = 0;
        std::memcpy(&native, AOptVal, sizeof native);
        const int32_t code = Id::SocketErrorFromNative(native);
        std::memcpy(AOptVal, &code, sizeof code);
    }
    return 0;
}

// Descriptors are closed when the program runs another one, so children never inherit them.
TIdStackSocketHandle TIdStackPosix::Socket(int32_t AFamily, int32_t AStruct, int32_t AProtocol) {
    return Raw(socket(AFamily, AStruct | SOCK_CLOEXEC, AProtocol));
}

int32_t TIdStackPosix::Shutdown(TIdStackSocketHandle ASocket, int32_t AHow) {
    return Raw(shutdown(ASocket, AHow));
}

std::string TIdStackPosix::TranslateSocketErrorMsg(int32_t AErr) {
    if (AErr == Id::WSAHOST_NOT_FOUND) {
        return Id::Format(EIdSocketError::Pattern, AErr, "Host not found.");
    }
    return TIdStack::TranslateSocketErrorMsg(AErr);
}

int32_t TIdStackPosix::LastSocketError() {
    return tSocketError;
}

void TIdStackPosix::PeerName(TIdStackSocketHandle ASocket, int32_t& VFamily, std::string& VIP,
                             int32_t& VPort) {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    CheckForSocketError(Raw(getpeername(ASocket, reinterpret_cast<sockaddr*>(&addr), &len)));
    ReadAddress(addr, VFamily, VIP, VPort);
}

void TIdStackPosix::SockName(TIdStackSocketHandle ASocket, int32_t& VFamily, std::string& VIP,
                             int32_t& VPort) {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    CheckForSocketError(Raw(getsockname(ASocket, reinterpret_cast<sockaddr*>(&addr), &len)));
    ReadAddress(addr, VFamily, VIP, VPort);
}

// Select over poll(): select's descriptor sets would be written out of bounds by a descriptor
// at or above FD_SETSIZE (1024 here), and a program that opens many files can get one.
// Readiness follows select's own rules: readable on data, end of stream or error; writable on
// space or error; "exceptional" on urgent data, and also on error, which is where the
// reference platform reports a failed connect. Each list keeps its order and drops repeats,
// as a select set does. A handle that is not an open descriptor fails the wait with 10038.
int32_t TIdStackPosix::Select(TIdSocketHandles* AReadList, TIdSocketHandles* AWriteList,
                              TIdSocketHandles* AExceptList, int32_t ATimeout) {
    struct Wanted {
        TIdSocketHandles* List;
        short Events;
        short Ready;
    };
    const Wanted wanted[] = {
        {AReadList, POLLIN, POLLIN | POLLHUP | POLLERR},
        {AWriteList, POLLOUT, POLLOUT | POLLHUP | POLLERR},
        {AExceptList, POLLPRI, POLLPRI | POLLERR},
    };
    // On the stack: a wait per receipt on the reader's path allocates nothing. Each list
    // holds at most Id_FD_SETSIZE handles, so three lists fit.
    std::array<pollfd, 3 * Id_FD_SETSIZE> polled;
    size_t polledCount = 0;
    const auto find = [&](TIdStackSocketHandle handle) {
        return std::find_if(polled.begin(), polled.begin() + long(polledCount),
                            [&](const pollfd& p) { return p.fd == handle; });
    };
    for (const Wanted& w : wanted) {
        if (w.List == nullptr) {
            continue;
        }
        if (w.List->size() > static_cast<size_t>(Id_FD_SETSIZE)) {
            throw EIdStackSetSizeExceeded();
        }
        for (const TIdStackSocketHandle handle : *w.List) {
            auto it = find(handle);
            if (it == polled.begin() + long(polledCount)) {
                polled[polledCount++] = pollfd{handle, 0, 0};
            }
            it->events = static_cast<short>(it->events | w.Events);
        }
    }
    const std::span<pollfd> fds(polled.data(), polledCount);
    auto clearLists = [&] {
        for (const Wanted& w : wanted) {
            if (w.List != nullptr) {
                w.List->clear();
            }
        }
    };
    // A failed wait reports nothing as ready, so a caller that looks at the lists instead of
    // the result cannot mistake its own request for an answer.
    auto fail = [&](int32_t code) {
        clearLists();
        return Fail(code);
    };
    for (const pollfd& p : fds) {
        if (p.fd < 0) {
            return fail(Id::WSAENOTSOCK);
        }
    }
    if (ATimeout < 0 && ATimeout != Id::TimeoutInfinite) {
        return fail(Id::WSAEINVAL);
    }

    // A signal interrupting the wait restarts it with the time that is left.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(ATimeout, 0));
    int rc;
    for (;;) {
        int waitMs = -1;
        if (ATimeout != Id::TimeoutInfinite) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            waitMs = static_cast<int>(std::max<long long>(left, 0));
        }
        rc = poll(fds.data(), nfds_t(fds.size()), waitMs);
        if (rc >= 0 || errno != EINTR) {
            break;
        }
    }
    if (rc < 0) {
        return fail(Id::SocketErrorFromNative(errno));
    }
    for (const pollfd& p : fds) {
        if (p.revents & POLLNVAL) {
            return fail(Id::WSAENOTSOCK);
        }
    }

    // Each list keeps its ready handles, in order and once each, in place.
    int32_t count = 0;
    for (const Wanted& w : wanted) {
        if (w.List == nullptr) {
            continue;
        }
        TIdSocketHandles& list = *w.List;
        size_t kept = 0;
        for (size_t i = 0; i < list.size(); ++i) {
            const TIdStackSocketHandle handle = list[i];
            if ((find(handle)->revents & w.Ready) != 0 &&
                std::find(list.begin(), list.begin() + long(kept), handle) ==
                    list.begin() + long(kept)) {
                list[kept++] = handle;
            }
        }
        list.resize(kept);
        count += static_cast<int32_t>(kept);
    }
    return count;
}

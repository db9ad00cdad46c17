// The only file that calls Winsock. Nothing here links against ws2_32: every call goes
// through the binding table (WS below), so a direct call that slipped in would fail to link.
#include "IdStackWindows.h"

#include "IdException.h"
#include "IdGlobal.h"
#include "IdSocketErrors.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include <windows.h>
#include <winsock2.h> // after IdSocketErrors.h, which takes Winsock's error macros out

namespace {

// A Winsock function through its table entry, typed by its own declaration:
// WS(recv)(socket, buffer, length, flags). A name missing from the table does not compile.
template <typename Function, size_t Index> Function Bound() {
    static_assert(Index < kWinsockFunctionNames.size(), "not in the Winsock binding table");
    return reinterpret_cast<Function>(WinsockLibrary().Entry(Index));
}
#define WS(name) (Bound<decltype(&::name), WinsockFunctionIndex(#name)>())

// The calling thread's last socket error, taken from WSAGetLastError by the failing call
// itself: the binding of a later call, or any other system call in between, could change the
// thread's last error before the caller asks.
thread_local int32_t tSocketError = 0;

int32_t Fail(int32_t code) {
    tSocketError = code;
    return Id_SOCKET_ERROR;
}

// A blocking call that Shutdown cancelled fails with the system's "operation aborted", not a
// Winsock code: it reads as the interrupted call it is.
int32_t FailWithLastError() {
    const int32_t error = WS(WSAGetLastError)();
    return Fail(error == ERROR_OPERATION_ABORTED ? Id::WSAEINTR : error);
}

int32_t Raw(int result) {
    return result == SOCKET_ERROR ? FailWithLastError() : result;
}

// Handles are 32-bit here; Winsock's are pointer-sized. Windows keeps handle values within 32
// bits, sign-extended, so -1 is INVALID_SOCKET both ways.
SOCKET ToSocket(TIdStackSocketHandle AHandle) {
    return static_cast<SOCKET>(static_cast<intptr_t>(AHandle));
}

TIdStackSocketHandle FromSocket(SOCKET ASocket) {
    return static_cast<TIdStackSocketHandle>(static_cast<intptr_t>(ASocket));
}

bool HasZeroByte(const std::string& text) {
    return text.find('\0') != std::string::npos;
}

bool ValidPort(int32_t port) {
    return port >= 0 && port <= 65535;
}

std::string InAddrToString(const void* addr) {
    TIdInAddr bytes;
    std::memcpy(bytes.data(), addr, 4);
    return Id::Format("%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
}

sockaddr_in MakeAddress(TIdStack& stack, int32_t family, const std::string& ip, int32_t port,
                        bool allowAny) {
    sockaddr_in addr{};
    addr.sin_family = static_cast<ADDRESS_FAMILY>(family);
    addr.sin_port = WS(htons)(static_cast<u_short>(port));
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
        ip = InAddrToString(&in.sin_addr.s_addr);
        port = WS(ntohs)(in.sin_port);
    } else {
        ip.clear();
        port = 0;
    }
}

// A host entry's first IPv4 address, or "" when it has none.
std::string FirstAddress(const hostent* host) {
    if (host->h_addrtype != AF_INET || host->h_length != 4 || host->h_addr_list[0] == nullptr) {
        return std::string();
    }
    return InAddrToString(host->h_addr_list[0]);
}

// ---- Waking a wait on a socket shut down by another thread
//
// The reader thread waits in Select, holding its socket, and is ended by the window's thread
// shutting that socket down (the close itself waits until the wait lets go of the handle, so
// that its number cannot be reused under the wait). Winsock's select, unlike poll on POSIX,
// is not ended by shutting the socket down, only by closing it. So each thread that waits has
// a wake socket of its own (UDP on 127.0.0.1, sent one byte to wake it), the handles it waits
// on are registered for the time of the wait, and Shutdown marks its handle as shut and wakes
// the threads waiting on it. A handle shut for receiving then reads as ready and as ended, as
// it does on POSIX, until it is closed.

struct TWake {
    SOCKET Socket = INVALID_SOCKET;
    sockaddr_in Address{};
    TWake() {
        const SOCKET s = WS(socket)(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        if (s == INVALID_SOCKET) {
            return;
        }
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = WS(htonl)(INADDR_LOOPBACK);
        int len = sizeof addr;
        if (WS(bind)(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
            WS(getsockname)(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            WS(closesocket)(s);
            return;
        }
        Socket = s;
        Address = addr;
    }
    ~TWake() {
        if (Socket != INVALID_SOCKET) {
            try {
                WS(closesocket)(Socket);
            } catch (const EIdWS2StubError&) {
                // A thread ending after the library was released at process end.
            }
        }
    }
    TWake(const TWake&) = delete;
    TWake& operator=(const TWake&) = delete;

    void Wake() const {
        const char byte = 0;
        WS(sendto)
        (Socket, &byte, 1, 0, reinterpret_cast<const sockaddr*>(&Address), sizeof Address);
    }
    // Takes every byte sent so far, so that the next wait is not woken by an old one.
    void Drain() const {
        for (;;) {
            fd_set set{};
            set.fd_count = 1;
            set.fd_array[0] = Socket;
            timeval now{};
            char byte;
            if (WS(select)(0, &set, nullptr, nullptr, &now) != 1 ||
                WS(recv)(Socket, &byte, 1, 0) == SOCKET_ERROR) {
                return;
            }
        }
    }
};

std::mutex gShutLock;
std::unordered_set<SOCKET> gShut;                       // shut for receiving, not closed
std::unordered_multimap<SOCKET, const TWake*> gWaiting; // handle -> threads waiting on it

bool IsShut(SOCKET s) {
    std::lock_guard<std::mutex> lock(gShutLock);
    return gShut.count(s) != 0;
}

// A new socket owns its number, whatever became of an old one that had it and was closed
// other than through this stack.
SOCKET Fresh(SOCKET s) {
    std::lock_guard<std::mutex> lock(gShutLock);
    gShut.erase(s);
    return s;
}

// A select set of up to 64 handles and the waiting thread's wake socket. Winsock reads a set
// as a count and that many handles, so a set may be longer than its fd_set type.
struct TSet {
    u_int fd_count = 0;
    SOCKET fd_array[Id_FD_SETSIZE + 1];
    fd_set* Native() { return reinterpret_cast<fd_set*>(this); }
    bool Has(SOCKET s) const {
        return std::find(fd_array, fd_array + fd_count, s) != fd_array + fd_count;
    }
};

// A list into a select set: at most 64 handles, each once (as FD_SET keeps them).
void FillSet(TSet& set, const TIdSocketHandles* list) {
    set.fd_count = 0;
    if (list == nullptr) {
        return;
    }
    if (list->size() > static_cast<size_t>(Id_FD_SETSIZE)) {
        throw EIdStackSetSizeExceeded();
    }
    for (const TIdStackSocketHandle handle : *list) {
        const SOCKET s = ToSocket(handle);
        if (!set.Has(s)) {
            set.fd_array[set.fd_count++] = s;
        }
    }
}

} // namespace

// ---- The library and its binding table

TIdWinsockLibrary::TIdWinsockLibrary(std::string AName) : FName(std::move(AName)) {}

TIdWinsockLibrary::~TIdWinsockLibrary() {
    if (FStarted) {
        try {
            // Through this object: the process's library is being destroyed, so WS cannot
            // reach it.
            constexpr size_t cleanup = WinsockFunctionIndex("WSACleanup");
            reinterpret_cast<decltype(&::WSACleanup)>(Entry(cleanup))();
        } catch (const EIdWS2StubError&) {
            // A library without WSACleanup was never started; nothing to clean up.
        }
    }
    if (void* module = FModule.exchange(nullptr)) {
        FreeLibrary(static_cast<HMODULE>(module));
    }
    for (auto& entry : FEntries) {
        entry.store(nullptr);
    }
}

void TIdWinsockLibrary::Load() {
    std::lock_guard<std::mutex> lock(FLoadLock);
    if (FModule.load() != nullptr) {
        return;
    }
    HMODULE module = LoadLibraryA(FName.c_str());
    if (module == nullptr) {
        const DWORD error = GetLastError();
        throw EIdWS2StubError(Id::Format(LoadError, FName.c_str()), error);
    }
    FModule.store(module);
}

bool TIdWinsockLibrary::Loaded() const {
    return FModule.load() != nullptr;
}

// WSAStartup is called once, before any entry of the table can be of use, so it is looked up
// here rather than given an entry.
bool TIdWinsockLibrary::Startup() {
    const auto module = static_cast<HMODULE>(FModule.load());
    if (module == nullptr) {
        throw EIdWS2StubError(Id::Format(CallError, "WSAStartup"), Id::WSANOTINITIALISED);
    }
    const auto startup = reinterpret_cast<decltype(&::WSAStartup)>(
        reinterpret_cast<void*>(GetProcAddress(module, "WSAStartup")));
    if (startup == nullptr) {
        throw EIdWS2StubError(Id::Format(CallError, "WSAStartup"), GetLastError());
    }
    WSADATA data{};
    if (startup(0x202, &data) != 0) {
        return false;
    }
    FStarted = true;
    return true;
}

void* TIdWinsockLibrary::Entry(size_t AIndex) {
    std::atomic<void*>& entry = FEntries.at(AIndex);
    if (void* bound = entry.load(std::memory_order_acquire)) {
        return bound;
    }
    const std::string name(kWinsockFunctionNames[AIndex]);
    const auto module = static_cast<HMODULE>(FModule.load());
    if (module == nullptr) {
        throw EIdWS2StubError(Id::Format(CallError, name.c_str()), Id::WSANOTINITIALISED);
    }
    // The lookup must not disturb the thread's last error: WSAGetLastError may be the call
    // being bound.
    const DWORD lastError = GetLastError();
    void* bound = reinterpret_cast<void*>(GetProcAddress(module, name.c_str()));
    if (bound == nullptr) {
        throw EIdWS2StubError(Id::Format(CallError, name.c_str()), GetLastError());
    }
    SetLastError(lastError);
    entry.store(bound, std::memory_order_release);
    return bound;
}

TIdWinsockLibrary& WinsockLibrary() {
    static TIdWinsockLibrary library("WS2_32.DLL");
    return library;
}

// ---- The stack

std::unique_ptr<TIdStack> CreatePlatformStack() {
    return std::make_unique<TIdStackWindows>();
}

std::unique_ptr<TIdSocketList> TIdSocketList::CreateSocketList() {
    return std::make_unique<TIdSocketListWindows>();
}

TIdStackWindows::TIdStackWindows() {
    if (!StackStarted()) {
        TIdWinsockLibrary& library = WinsockLibrary();
        library.Load();
        if (!library.Startup()) {
            throw EIdStackInitializationFailed();
        }
        MarkStackStarted();
    }
}

TIdStackWindows::~TIdStackWindows() = default;

void TIdStackWindows::PopulateLocalAddresses() {
    FLocalAddresses.clear();
    const std::string name = LocalHostName();
    const hostent* host = WS(gethostbyname)(name.c_str());
    if (host == nullptr) {
        CheckForSocketError(FailWithLastError());
    }
    if (host->h_addrtype != AF_INET || host->h_length != 4) {
        return;
    }
    for (char** addr = host->h_addr_list; *addr != nullptr; ++addr) {
        FLocalAddresses.push_back(InAddrToString(*addr));
    }
}

TIdStackSocketHandle TIdStackWindows::Accept(TIdStackSocketHandle ASocket, std::string& VIP,
                                             int32_t& VPort) {
    sockaddr_storage addr{};
    int len = sizeof addr;
    const SOCKET s = WS(accept)(ToSocket(ASocket), reinterpret_cast<sockaddr*>(&addr), &len);
    if (s == INVALID_SOCKET) {
        return FailWithLastError();
    }
    int32_t family = 0;
    ReadAddress(addr, family, VIP, VPort);
    return FromSocket(Fresh(s));
}

int32_t TIdStackWindows::Bind(TIdStackSocketHandle ASocket, int32_t AFamily, const std::string& AIP,
                              int32_t APort) {
    // A port outside 16 bits would otherwise be cut silently and bind somewhere else.
    if (!ValidPort(APort)) {
        return Fail(Id::WSAEINVAL);
    }
    const sockaddr_in addr = MakeAddress(*this, AFamily, AIP, APort, true);
    return Raw(WS(bind)(ToSocket(ASocket), reinterpret_cast<const sockaddr*>(&addr), sizeof addr));
}

int32_t TIdStackWindows::CloseSocket(TIdStackSocketHandle ASocket) {
    const SOCKET s = ToSocket(ASocket);
    WS(shutdown)(s, SD_BOTH); // fails harmlessly on unconnected sockets
    {
        // The handle's number is free for the next socket once closed.
        std::lock_guard<std::mutex> lock(gShutLock);
        gShut.erase(s);
    }
    return Raw(WS(closesocket)(s));
}

int32_t TIdStackWindows::Connect(TIdStackSocketHandle ASocket, int32_t AFamily,
                                 const std::string& AIP, int32_t APort) {
    if (!ValidPort(APort)) {
        return Fail(Id::WSAEINVAL);
    }
    const sockaddr_in addr = MakeAddress(*this, AFamily, AIP, APort, false);
    return Raw(
        WS(connect)(ToSocket(ASocket), reinterpret_cast<const sockaddr*>(&addr), sizeof addr));
}

// A name with a zero byte would be cut at that byte by the call and look up another name;
// such a name exists nowhere.
std::string TIdStackWindows::HostByName(const std::string& AHostName) {
    if (HasZeroByte(AHostName)) {
        CheckForSocketError(Fail(Id::WSAHOST_NOT_FOUND));
    }
    const hostent* host = WS(gethostbyname)(AHostName.c_str());
    if (host == nullptr) {
        CheckForSocketError(FailWithLastError());
    }
    return FirstAddress(host);
}

std::string TIdStackWindows::LocalHostName() {
    char buffer[250] = {};
    WS(gethostname)(buffer, sizeof buffer - 1); // the last byte stays 0 even if the name is cut
    return buffer;
}

std::string TIdStackWindows::HostByAddress(const std::string& AAddress) {
    if (HasZeroByte(AAddress)) {
        CheckForSocketError(Fail(Id::WSAHOST_NOT_FOUND));
    }
    const u_long addr = WS(inet_addr)(AAddress.c_str());
    const hostent* host = WS(gethostbyaddr)(reinterpret_cast<const char*>(&addr), 4, AF_INET);
    if (host == nullptr) {
        CheckForSocketError(FailWithLastError());
    }
    return host->h_name != nullptr ? host->h_name : "";
}

int32_t TIdStackWindows::ServicePort(const std::string& AService) {
    if (!HasZeroByte(AService)) {
        if (const servent* found = WS(getservbyname)(AService.c_str(), nullptr)) {
            return WS(ntohs)(static_cast<u_short>(found->s_port));
        }
    }
    int32_t port = 0;
    if (!Id::TryStrToInt(AService, port)) {
        throw EIdInvalidServiceName(AService);
    }
    return port;
}

TIdStrings TIdStackWindows::PortServices(int32_t APort) {
    TIdStrings names;
    const servent* found = WS(getservbyport)(WS(htons)(static_cast<u_short>(APort)), nullptr);
    if (found != nullptr) {
        names.emplace_back(found->s_name);
        for (char** alias = found->s_aliases; alias != nullptr && *alias != nullptr; ++alias) {
            names.emplace_back(*alias);
        }
    }
    return names;
}

uint16_t TIdStackWindows::HToNS(uint16_t AHostShort) {
    return WS(htons)(AHostShort);
}
uint16_t TIdStackWindows::NToHS(uint16_t ANetShort) {
    return WS(ntohs)(ANetShort);
}
uint32_t TIdStackWindows::HToNL(uint32_t AHostLong) {
    return WS(htonl)(AHostLong);
}
uint32_t TIdStackWindows::NToHL(uint32_t ANetLong) {
    return WS(ntohl)(ANetLong);
}

int32_t TIdStackWindows::Listen(TIdStackSocketHandle ASocket, int32_t ABacklog) {
    return Raw(WS(listen)(ToSocket(ASocket), ABacklog));
}

int32_t TIdStackWindows::Recv(TIdStackSocketHandle ASocket, void* ABuffer, int32_t ABufferLength,
                              int32_t AFlags) {
    if (ABufferLength < 0) {
        return Fail(Id::WSAEINVAL);
    }
    const SOCKET s = ToSocket(ASocket);
    const int result = WS(recv)(s, static_cast<char*>(ABuffer), ABufferLength, AFlags);
    if (result == SOCKET_ERROR) {
        // Shut for receiving on this side, before or during the call: the end of the stream,
        // as on POSIX.
        return IsShut(s) ? 0 : FailWithLastError();
    }
    return result;
}

int32_t TIdStackWindows::RecvFrom(TIdStackSocketHandle ASocket, void* ABuffer, int32_t ALength,
                                  int32_t AFlags, std::string& VIP, int32_t& VPort) {
    if (ALength < 0) {
        return Fail(Id::WSAEINVAL);
    }
    sockaddr_storage addr{};
    int len = sizeof addr;
    const int result = WS(recvfrom)(ToSocket(ASocket), static_cast<char*>(ABuffer), ALength, AFlags,
                                    reinterpret_cast<sockaddr*>(&addr), &len);
    if (result == SOCKET_ERROR) {
        return FailWithLastError();
    }
    int32_t family = 0;
    ReadAddress(addr, family, VIP, VPort);
    return result;
}

int32_t TIdStackWindows::Send(TIdStackSocketHandle ASocket, const void* ABuffer,
                              int32_t ABufferLength, int32_t AFlags) {
    if (ABufferLength < 0) {
        return Fail(Id::WSAEINVAL);
    }
    return Raw(
        WS(send)(ToSocket(ASocket), static_cast<const char*>(ABuffer), ABufferLength, AFlags));
}

int32_t TIdStackWindows::SendTo(TIdStackSocketHandle ASocket, const void* ABuffer,
                                int32_t ABufferLength, int32_t AFlags, const std::string& AIP,
                                int32_t APort) {
    if (ABufferLength < 0 || !ValidPort(APort)) {
        return Fail(Id::WSAEINVAL);
    }
    const sockaddr_in addr = MakeAddress(*this, AF_INET, AIP, APort, false);
    return Raw(WS(sendto)(ToSocket(ASocket), static_cast<const char*>(ABuffer), ABufferLength,
                          AFlags, reinterpret_cast<const sockaddr*>(&addr), sizeof addr));
}

int32_t TIdStackWindows::SetSockOpt(TIdStackSocketHandle ASocket, int32_t ALevel, int32_t AOptName,
                                    const void* AOptVal, int32_t AOptLen) {
    return Raw(WS(setsockopt)(ToSocket(ASocket), ALevel, AOptName,
                              static_cast<const char*>(AOptVal), AOptLen));
}

int32_t TIdStackWindows::GetSockOpt(TIdStackSocketHandle ASocket, int32_t ALevel, int32_t AOptName,
                                    void* AOptVal, int32_t& VOptLen) {
    int len = VOptLen;
    const int result =
        WS(getsockopt)(ToSocket(ASocket), ALevel, AOptName, static_cast<char*>(AOptVal), &len);
    if (result == SOCKET_ERROR) {
        return FailWithLastError();
    }
    VOptLen = len;
    return result;
}

TIdStackSocketHandle TIdStackWindows::Socket(int32_t AFamily, int32_t AStruct, int32_t AProtocol) {
    const SOCKET s = WS(socket)(AFamily, AStruct, AProtocol);
    return s == INVALID_SOCKET ? FailWithLastError() : FromSocket(Fresh(s));
}

int32_t TIdStackWindows::Shutdown(TIdStackSocketHandle ASocket, int32_t AHow) {
    const SOCKET s = ToSocket(ASocket);
    const bool receiving = AHow == SD_RECEIVE || AHow == SD_BOTH;
    if (receiving) {
        // Marked before the call: wine's shutdown itself may end a recv blocked on the socket,
        // which must then find it shut.
        std::lock_guard<std::mutex> lock(gShutLock);
        gShut.insert(s);
    }
    const int result = WS(shutdown)(s, AHow);
    const int32_t error = result == SOCKET_ERROR ? WS(WSAGetLastError)() : 0;
    if (receiving) {
        std::lock_guard<std::mutex> lock(gShutLock);
        if (result != 0) {
            gShut.erase(s);
        }
        // A call blocked on the socket (a recv, or a connect, which cannot be shut down) is
        // ended as the POSIX shutdown ends it; its error then reads as an interrupted call.
        CancelIoEx(reinterpret_cast<HANDLE>(s), nullptr);
        auto [from, to] = gWaiting.equal_range(s);
        for (auto it = from; it != to; ++it) {
            it->second->Wake();
        }
    }
    return result == SOCKET_ERROR ? Fail(error) : result;
}

std::string TIdStackWindows::TranslateSocketErrorMsg(int32_t AErr) {
    if (AErr == Id::WSAHOST_NOT_FOUND) {
        return Id::Format(EIdSocketError::Pattern, AErr, "Host not found.");
    }
    return TIdStack::TranslateSocketErrorMsg(AErr);
}

int32_t TIdStackWindows::LastSocketError() {
    return tSocketError;
}

void TIdStackWindows::PeerName(TIdStackSocketHandle ASocket, int32_t& VFamily, std::string& VIP,
                               int32_t& VPort) {
    sockaddr_storage addr{};
    int len = sizeof addr;
    CheckForSocketError(
        Raw(WS(getpeername)(ToSocket(ASocket), reinterpret_cast<sockaddr*>(&addr), &len)));
    ReadAddress(addr, VFamily, VIP, VPort);
}

void TIdStackWindows::SockName(TIdStackSocketHandle ASocket, int32_t& VFamily, std::string& VIP,
                               int32_t& VPort) {
    sockaddr_storage addr{};
    int len = sizeof addr;
    CheckForSocketError(
        Raw(WS(getsockname)(ToSocket(ASocket), reinterpret_cast<sockaddr*>(&addr), &len)));
    ReadAddress(addr, VFamily, VIP, VPort);
}

// Each list is replaced by what select left in its set, in set order; a failed wait leaves
// every list empty, so a caller that looks at the lists instead of the result cannot mistake
// its own request for an answer. Winsock refuses a wait with three empty sets; like the POSIX
// stack, such a wait just lets its time-out pass. A handle shut for receiving is ready to read
// and to write (see TWake).
int32_t TIdStackWindows::Select(TIdSocketHandles* AReadList, TIdSocketHandles* AWriteList,
                                TIdSocketHandles* AExceptList, int32_t ATimeout) {
    TIdSocketHandles* lists[3] = {AReadList, AWriteList, AExceptList};
    TSet asked[3];
    for (int i = 0; i < 3; ++i) {
        FillSet(asked[i], lists[i]);
    }
    auto fail = [&](int32_t code) {
        for (TIdSocketHandles* list : lists) {
            if (list != nullptr) {
                list->clear();
            }
        }
        return Fail(code);
    };
    if (ATimeout < 0 && ATimeout != Id::TimeoutInfinite) {
        return fail(Id::WSAEINVAL);
    }
    if (asked[0].fd_count == 0 && asked[1].fd_count == 0 && asked[2].fd_count == 0) {
        if (ATimeout == Id::TimeoutInfinite) {
            return fail(Id::WSAEINVAL); // nothing could ever end the wait
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(ATimeout));
        return 0;
    }

    static thread_local const TWake wake;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(ATimeout, 0));
    TSet ready[3];
    TSet shut[2]; // of the read and write sets
    for (;;) {
        bool registered = false;
        {
            std::lock_guard<std::mutex> lock(gShutLock);
            for (int i = 0; i < 2; ++i) {
                shut[i].fd_count = 0;
                for (u_int j = 0; j < asked[i].fd_count; ++j) {
                    if (gShut.count(asked[i].fd_array[j]) != 0) {
                        shut[i].fd_array[shut[i].fd_count++] = asked[i].fd_array[j];
                    }
                }
            }
            if (shut[0].fd_count + shut[1].fd_count == 0 && wake.Socket != INVALID_SOCKET) {
                for (const TSet& set : asked) {
                    for (u_int j = 0; j < set.fd_count; ++j) {
                        gWaiting.emplace(set.fd_array[j], &wake);
                    }
                }
                registered = true;
            }
        }
        const bool anyShut = shut[0].fd_count + shut[1].fd_count != 0;
        for (int i = 0; i < 3; ++i) {
            ready[i] = asked[i];
        }
        if (registered) {
            ready[0].fd_array[ready[0].fd_count++] = wake.Socket;
        }
        timeval time{};
        if (!anyShut && ATimeout != Id::TimeoutInfinite) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            const long ms = static_cast<long>(std::max<long long>(left, 0));
            time.tv_sec = ms / 1000;
            time.tv_usec = (ms % 1000) * 1000;
        }
        const int result =
            WS(select)(0, ready[0].Native(), ready[1].Native(), ready[2].Native(),
                       ATimeout == Id::TimeoutInfinite && !anyShut ? nullptr : &time);
        const int32_t error = result == SOCKET_ERROR ? WS(WSAGetLastError)() : 0;
        if (registered) {
            std::lock_guard<std::mutex> lock(gShutLock);
            for (const TSet& set : asked) {
                for (u_int j = 0; j < set.fd_count; ++j) {
                    auto [from, to] = gWaiting.equal_range(set.fd_array[j]);
                    for (auto it = from; it != to; ++it) {
                        if (it->second == &wake) {
                            gWaiting.erase(it);
                            break;
                        }
                    }
                }
            }
        }
        if (result == SOCKET_ERROR) {
            return fail(error);
        }
        if (!registered || !ready[0].Has(wake.Socket)) {
            break;
        }
        // Woken: a handle of this wait was shut down (or an old wake came late; then the wait
        // goes on for the time left).
        --ready[0].fd_count;
        std::remove(ready[0].fd_array, ready[0].fd_array + ready[0].fd_count + 1, wake.Socket);
        wake.Drain();
        if (result > 1) {
            break;
        }
    }

    int32_t count = 0;
    for (int i = 0; i < 3; ++i) {
        if (lists[i] == nullptr) {
            continue;
        }
        lists[i]->clear();
        for (u_int j = 0; j < asked[i].fd_count; ++j) {
            const SOCKET s = asked[i].fd_array[j];
            if (ready[i].Has(s) || (i < 2 && shut[i].Has(s))) {
                lists[i]->push_back(FromSocket(s));
            }
        }
        count += static_cast<int32_t>(lists[i]->size());
    }
    return count;
}

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
#include <set>
#include <thread>

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

int32_t FailWithLastError() {
    return Fail(WS(WSAGetLastError)());
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

// The sockets this side has shut for reading. A POSIX poll finds such a socket readable (the
// read then ends at once); Winsock's select does not, and would wait on: Select answers for
// them itself. Its waits are cut into slices, each of which looks here again, for a shutdown
// that came just before the wait began (the cancel in Shutdown reaches only a wait already
// begun).
std::mutex gShutLock;
std::set<SOCKET> gShutForReading;
constexpr int32_t kSelectSlice = 100; // ms

bool ShutForReading(SOCKET ASocket) {
    std::lock_guard lock(gShutLock);
    return gShutForReading.count(ASocket) != 0;
}

// A new socket owns its number, whatever became of an old one that had it and was closed
// without this stack.
SOCKET Fresh(SOCKET ASocket) {
    std::lock_guard lock(gShutLock);
    gShutForReading.erase(ASocket);
    return ASocket;
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

// A list into a select set: at most 64 handles, each once (as FD_SET keeps them).
void FillSet(fd_set& set, const TIdSocketHandles* list) {
    set.fd_count = 0;
    if (list == nullptr) {
        return;
    }
    if (list->size() > static_cast<size_t>(Id_FD_SETSIZE)) {
        throw EIdStackSetSizeExceeded();
    }
    for (const TIdStackSocketHandle handle : *list) {
        const SOCKET s = ToSocket(handle);
        if (std::find(set.fd_array, set.fd_array + set.fd_count, s) ==
            set.fd_array + set.fd_count) {
            set.fd_array[set.fd_count++] = s;
        }
    }
}

// What select left in a set, in set order.
void ReadSet(const fd_set& set, TIdSocketHandles* list) {
    if (list == nullptr) {
        return;
    }
    list->clear();
    for (u_int i = 0; i < set.fd_count; ++i) {
        list->push_back(FromSocket(set.fd_array[i]));
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
    {
        std::lock_guard lock(gShutLock);
        gShutForReading.erase(ToSocket(ASocket));
    }
    WS(shutdown)(ToSocket(ASocket), SD_BOTH); // fails harmlessly on unconnected sockets
    return Raw(WS(closesocket)(ToSocket(ASocket)));
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
    const int32_t result =
        Raw(WS(recv)(ToSocket(ASocket), static_cast<char*>(ABuffer), ABufferLength, AFlags));
    // A read this side shut down (or cancelled, see Shutdown) ends as on POSIX: no more data.
    if (result == Id_SOCKET_ERROR &&
        (tSocketError == Id::WSAESHUTDOWN || tSocketError == ERROR_OPERATION_ABORTED)) {
        return 0;
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
    const int32_t result = Raw(WS(shutdown)(ToSocket(ASocket), AHow));
    // Unlike the BSD call, Winsock's shutdown does not wake a thread blocked in recv or select
    // on the socket: its pending calls are cancelled so that it does, as a close must.
    if (AHow != Id_SD_Send) {
        {
            std::lock_guard lock(gShutLock);
            gShutForReading.insert(ToSocket(ASocket));
        }
        ::CancelIoEx(reinterpret_cast<HANDLE>(ToSocket(ASocket)), nullptr);
    }
    return result;
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
// stack, such a wait just lets its time-out pass.
int32_t TIdStackWindows::Select(TIdSocketHandles* AReadList, TIdSocketHandles* AWriteList,
                                TIdSocketHandles* AExceptList, int32_t ATimeout) {
    fd_set sets[3];
    FillSet(sets[0], AReadList);
    FillSet(sets[1], AWriteList);
    FillSet(sets[2], AExceptList);
    TIdSocketHandles* lists[3] = {AReadList, AWriteList, AExceptList};
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
    if (sets[0].fd_count == 0 && sets[1].fd_count == 0 && sets[2].fd_count == 0) {
        if (ATimeout == Id::TimeoutInfinite) {
            return fail(Id::WSAEINVAL); // nothing could ever end the wait
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(ATimeout));
        return 0;
    }
    const fd_set asked[3] = {sets[0], sets[1], sets[2]};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ATimeout);
    for (;;) {
        fd_set shut;
        shut.fd_count = 0;
        for (u_int i = 0; i < asked[0].fd_count; ++i) {
            if (ShutForReading(asked[0].fd_array[i])) {
                shut.fd_array[shut.fd_count++] = asked[0].fd_array[i];
            }
        }
        if (shut.fd_count > 0) {
            ReadSet(shut, lists[0]);
            for (TIdSocketHandles* list : {lists[1], lists[2]}) {
                if (list != nullptr) {
                    list->clear();
                }
            }
            return int32_t(shut.fd_count);
        }
        int32_t slice = kSelectSlice;
        if (ATimeout != Id::TimeoutInfinite) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            slice = int32_t(std::clamp<int64_t>(left.count(), 0, kSelectSlice));
        }
        timeval time{};
        time.tv_sec = slice / 1000;
        time.tv_usec = (slice % 1000) * 1000;
        for (int i = 0; i < 3; ++i) {
            sets[i] = asked[i];
        }
        const int result = WS(select)(0, &sets[0], &sets[1], &sets[2], &time);
        const bool cancelled =
            result == SOCKET_ERROR && WS(WSAGetLastError)() == ERROR_OPERATION_ABORTED;
        if (result == SOCKET_ERROR && !cancelled) {
            return fail(WS(WSAGetLastError)());
        }
        if (result > 0) {
            for (int i = 0; i < 3; ++i) {
                ReadSet(sets[i], lists[i]);
            }
            return result;
        }
        if (!cancelled && ATimeout != Id::TimeoutInfinite &&
            std::chrono::steady_clock::now() >= deadline) {
            for (int i = 0; i < 3; ++i) {
                ReadSet(sets[i], lists[i]);
            }
            return 0;
        }
    }
}

// ---- The socket list

TIdStackSocketHandle TIdSocketListWindows::Items(int32_t AIndex) const {
    if (AIndex < 0 || AIndex >= FCount) {
        throw EIdStackSetSizeExceeded();
    }
    return FSockets[static_cast<size_t>(AIndex)];
}

void TIdSocketListWindows::Add(TIdStackSocketHandle AHandle) {
    if (FCount >= Id_FD_SETSIZE) {
        throw EIdStackSetSizeExceeded();
    }
    FSockets[static_cast<size_t>(FCount++)] = AHandle;
}

void TIdSocketListWindows::Remove(TIdStackSocketHandle AHandle) {
    for (int32_t i = 0; i < FCount; ++i) {
        if (FSockets[static_cast<size_t>(i)] == AHandle) {
            FSockets[static_cast<size_t>(i)] = FSockets[static_cast<size_t>(FCount - 1)];
            FSockets[static_cast<size_t>(FCount - 1)] = 0;
            --FCount;
            return;
        }
    }
}

int32_t TIdSocketListWindows::Count() const {
    return FCount;
}

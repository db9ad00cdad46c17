// The socket stack over Winsock 2, the socket layer of the game's own platform.
//
// The library is not linked: "WS2_32.DLL" is loaded at run time by the first stack of the
// process and each function is bound by name on its first call (TIdWinsockLibrary). Winsock's
// error codes are the codes this transport speaks, so they pass through unmapped; each failure
// is recorded at once, on the failing thread, so LastSocketError answers correctly even if
// other calls touched the thread's last error since. Socket-level options are Winsock's own
// numbers, so they pass through unchanged.
#pragma once

#include "IdStack.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

// The Winsock binding table: one entry per function, in this order. Only the functions the
// stack calls are ever bound. The twelve ANSI names that come again after WSAProviderConfigChange
// are the entries behind the functions' generic names; they bind the same ANSI entry points.
inline constexpr std::array<std::string_view, 112> kWinsockFunctionNames = {
    "WSACleanup",
    "accept",
    "bind",
    "closesocket",
    "connect",
    "ioctlsocket",
    "getpeername",
    "getsockname",
    "getsockopt",
    "htonl",
    "htons",
    "inet_addr",
    "inet_ntoa",
    "listen",
    "ntohl",
    "ntohs",
    "recv",
    "recvfrom",
    "select",
    "send",
    "sendto",
    "setsockopt",
    "shutdown",
    "socket",
    "gethostbyaddr",
    "gethostbyname",
    "gethostname",
    "getservbyport",
    "getservbyname",
    "getprotobynumber",
    "getprotobyname",
    "WSASetLastError",
    "WSAGetLastError",
    "WSAIsBlocking",
    "WSAUnhookBlockingHook",
    "WSASetBlockingHook",
    "WSACancelBlockingCall",
    "WSAAsyncGetServByName",
    "WSAAsyncGetServByPort",
    "WSAAsyncGetProtoByName",
    "WSAAsyncGetProtoByNumber",
    "WSAAsyncGetHostByName",
    "WSAAsyncGetHostByAddr",
    "WSACancelAsyncRequest",
    "WSAAsyncSelect",
    "__WSAFDIsSet",
    "WSAAccept",
    "WSACloseEvent",
    "WSAConnect",
    "WSACreateEvent",
    "WSADuplicateSocketA",
    "WSADuplicateSocketW",
    "WSAEnumNetworkEvents",
    "WSAEnumProtocolsA",
    "WSAEnumProtocolsW",
    "WSAEventSelect",
    "WSAGetOverlappedResult",
    "WSAGetQosByName",
    "WSAHtonl",
    "WSAHtons",
    "WSAIoctl",
    "WSAJoinLeaf",
    "WSANtohl",
    "WSANtohs",
    "WSARecv",
    "WSARecvDisconnect",
    "WSARecvFrom",
    "WSAResetEvent",
    "WSASend",
    "WSASendDisconnect",
    "WSASendTo",
    "WSASetEvent",
    "WSASocketA",
    "WSASocketW",
    "WSAWaitForMultipleEvents",
    "WSAAddressToStringA",
    "WSAAddressToStringW",
    "WSAStringToAddressA",
    "WSAStringToAddressW",
    "WSALookupServiceBeginA",
    "WSALookupServiceBeginW",
    "WSALookupServiceNextA",
    "WSALookupServiceNextW",
    "WSALookupServiceEnd",
    "WSAInstallServiceClassA",
    "WSAInstallServiceClassW",
    "WSARemoveServiceClass",
    "WSAGetServiceClassInfoA",
    "WSAGetServiceClassInfoW",
    "WSAEnumNameSpaceProvidersA",
    "WSAEnumNameSpaceProvidersW",
    "WSAGetServiceClassNameByClassIdA",
    "WSAGetServiceClassNameByClassIdW",
    "WSASetServiceA",
    "WSASetServiceW",
    "WSAProviderConfigChange",
    "WSADuplicateSocketA",
    "WSAEnumProtocolsA",
    "WSASocketA",
    "WSAAddressToStringA",
    "WSAStringToAddressA",
    "WSALookupServiceBeginA",
    "WSALookupServiceNextA",
    "WSAInstallServiceClassA",
    "WSAGetServiceClassInfoA",
    "WSAEnumNameSpaceProvidersA",
    "WSAGetServiceClassNameByClassIdA",
    "WSASetServiceA",
    "TransmitFile",
    "AcceptEx",
    "GetAcceptExSockaddrs",
    "WSARecvEx",
};

// The table index of a function's first entry; the table's size for a name not in it.
constexpr size_t WinsockFunctionIndex(std::string_view AName) {
    for (size_t i = 0; i < kWinsockFunctionNames.size(); ++i) {
        if (kWinsockFunctionNames[i] == AName) {
            return i;
        }
    }
    return kWinsockFunctionNames.size();
}

// The socket library loaded at run time and its binding table. The stack uses the process's
// one instance, WinsockLibrary() (the library "WS2_32.DLL"); a library of another name is
// for seeing how loading and binding fail. An entry is empty until its first call binds it
// ("the stub"); binding is not locked, as every thread stores the same entry point.
class TIdWinsockLibrary {
public:
    static inline constexpr const char* LoadError = "Error on loading Winsock2 library (%s)";
    static inline constexpr const char* CallError = "Error on call Winsock2 library function %s";

    explicit TIdWinsockLibrary(std::string AName);
    // Cleans up Winsock if this library started it, then releases the library and empties
    // every entry: the process's library does this at process end.
    ~TIdWinsockLibrary();
    TIdWinsockLibrary(const TIdWinsockLibrary&) = delete;
    TIdWinsockLibrary& operator=(const TIdWinsockLibrary&) = delete;

    // Loads the library unless it is loaded; a failure raises EIdWS2StubError with LoadError
    // formatted with the library's name, and the system's code.
    void Load();
    bool Loaded() const;
    // Starts Winsock 2.2 (WSAStartup); false when it refuses.
    bool Startup();

    // The entry point of table entry AIndex, bound on its first call. Without the library
    // loaded raises EIdWS2StubError with CallError formatted with the function's name and
    // 10093 (not initialised); a library without that function raises the same title with
    // the system's code for a missing procedure.
    void* Entry(size_t AIndex);

    const std::string& Name() const { return FName; }

private:
    const std::string FName;
    std::mutex FLoadLock;
    std::atomic<void*> FModule{nullptr};
    bool FStarted = false;
    std::array<std::atomic<void*>, kWinsockFunctionNames.size()> FEntries{};
};

// The process's Winsock library, "WS2_32.DLL", released at process end.
TIdWinsockLibrary& WinsockLibrary();

class TIdStackWindows : public TIdStack {
public:
    // The first stack of the process loads the library and starts Winsock 2.2; a refusal
    // raises EIdStackInitializationFailed. Later stacks find it started.
    TIdStackWindows();
    ~TIdStackWindows() override;

    void PopulateLocalAddresses() override;
    TIdStackSocketHandle Accept(TIdStackSocketHandle ASocket, std::string& VIP,
                                int32_t& VPort) override;
    int32_t Bind(TIdStackSocketHandle ASocket, int32_t AFamily, const std::string& AIP,
                 int32_t APort) override;
    // Shuts the socket down first, as the POSIX stack does, so that a reader blocked on it
    // wakes the same way on both platforms.
    int32_t CloseSocket(TIdStackSocketHandle ASocket) override;
    int32_t Connect(TIdStackSocketHandle ASocket, int32_t AFamily, const std::string& AIP,
                    int32_t APort) override;
    std::string HostByName(const std::string& AHostName) override;
    std::string LocalHostName() override;
    std::string HostByAddress(const std::string& AAddress) override;
    int32_t ServicePort(const std::string& AService) override;
    TIdStrings PortServices(int32_t APort) override;
    uint16_t HToNS(uint16_t AHostShort) override;
    int32_t Listen(TIdStackSocketHandle ASocket, int32_t ABacklog) override;
    uint16_t NToHS(uint16_t ANetShort) override;
    uint32_t HToNL(uint32_t AHostLong) override;
    uint32_t NToHL(uint32_t ANetLong) override;
    int32_t Recv(TIdStackSocketHandle ASocket, void* ABuffer, int32_t ABufferLength,
                 int32_t AFlags) override;
    int32_t RecvFrom(TIdStackSocketHandle ASocket, void* ABuffer, int32_t ALength, int32_t AFlags,
                     std::string& VIP, int32_t& VPort) override;
    int32_t Select(TIdSocketHandles* AReadList, TIdSocketHandles* AWriteList,
                   TIdSocketHandles* AExceptList, int32_t ATimeout) override;
    int32_t Send(TIdStackSocketHandle ASocket, const void* ABuffer, int32_t ABufferLength,
                 int32_t AFlags) override;
    int32_t SendTo(TIdStackSocketHandle ASocket, const void* ABuffer, int32_t ABufferLength,
                   int32_t AFlags, const std::string& AIP, int32_t APort) override;
    int32_t SetSockOpt(TIdStackSocketHandle ASocket, int32_t ALevel, int32_t AOptName,
                       const void* AOptVal, int32_t AOptLen) override;
    TIdStackSocketHandle Socket(int32_t AFamily, int32_t AStruct, int32_t AProtocol) override;
    // Shutting down for receiving also ends the calls blocked on the socket in other threads
    // (Winsock's own shutdown does not) and makes the socket read as ready and ended until it
    // is closed, as the BSD calls do.
    int32_t Shutdown(TIdStackSocketHandle ASocket, int32_t AHow) override;
    // Answers 11001 "Host not found." itself; every other code goes to the shared table.
    std::string TranslateSocketErrorMsg(int32_t AErr) override;
    int32_t LastSocketError() override;
    void PeerName(TIdStackSocketHandle ASocket, int32_t& VFamily, std::string& VIP,
                  int32_t& VPort) override;
    void SockName(TIdStackSocketHandle ASocket, int32_t& VFamily, std::string& VIP,
                  int32_t& VPort) override;
    int32_t GetSockOpt(TIdStackSocketHandle ASocket, int32_t ALevel, int32_t AOptName,
                       void* AOptVal, int32_t& VOptLen) override;
};

// The fixed 64-handle socket list, as on every platform.
class TIdSocketListWindows final : public TIdSocketListFixed {};

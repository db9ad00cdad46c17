// The socket stack: every socket operation the transport needs, behind one object.
//
// TIdStack declares the operations and adds the shared ones (error check, socket creation,
// host resolution, dotted-address test). TIdStackPosix implements them over the BSD calls.
// One instance, ActiveStack, serves the whole process; it exists while at least one
// TIdComponent exists. Raw results are the platform call's own (-1 on failure, the code then
// available from LastSocketError on the same thread), returned unchecked.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

using TIdStackSocketHandle = int32_t;
inline constexpr TIdStackSocketHandle Id_INVALID_SOCKET = -1;
inline constexpr int32_t Id_SOCKET_ERROR = -1;

inline constexpr int32_t Id_PF_INET = 2; // IPv4
inline constexpr int32_t Id_SOCK_STREAM = 1;
inline constexpr int32_t Id_SOCK_DGRAM = 2;
inline constexpr int32_t Id_IPPROTO_TCP = 6;
inline constexpr int32_t Id_TCP_NODELAY = 1;
inline constexpr int32_t Id_SD_Receive = 0; // shutdown: no more receives
inline constexpr int32_t Id_SD_Send = 1;    // shutdown: no more sends
inline constexpr int32_t Id_SD_Both = 2;    // shutdown: both directions

// Socket-level options in the Winsock numbering, all with an int value; the stack translates
// them to the platform's own numbers (Linux numbers SOL_SOCKET and these options differently)
// and refuses other socket-level options with 10042. Other levels pass through unchanged
// (IPPROTO_TCP and TCP_NODELAY agree everywhere). SO_ERROR reads back as a Winsock code.
inline constexpr int32_t Id_SOL_SOCKET = 0xFFFF;
inline constexpr int32_t Id_SO_DEBUG = 0x0001;
inline constexpr int32_t Id_SO_REUSEADDR = 0x0004;
inline constexpr int32_t Id_SO_KEEPALIVE = 0x0008;
inline constexpr int32_t Id_SO_DONTROUTE = 0x0010;
inline constexpr int32_t Id_SO_BROADCAST = 0x0020;
inline constexpr int32_t Id_SO_OOBINLINE = 0x0100;
inline constexpr int32_t Id_SO_SNDBUF = 0x1001;
inline constexpr int32_t Id_SO_RCVBUF = 0x1002;
inline constexpr int32_t Id_SO_ERROR = 0x1007;
inline constexpr int32_t Id_SO_TYPE = 0x1008;

using TIdInAddr = std::array<uint8_t, 4>; // an IPv4 address in memory (network) order
using TIdSocketHandles = std::vector<TIdStackSocketHandle>;
using TIdStrings = std::vector<std::string>;

class TIdStack {
public:
    TIdStack();
    virtual ~TIdStack();
    TIdStack(const TIdStack&) = delete;
    TIdStack& operator=(const TIdStack&) = delete;

    virtual void PopulateLocalAddresses() = 0;
    virtual std::string LocalAddress();
    virtual const TIdStrings& LocalAddresses();
    virtual TIdStackSocketHandle Accept(TIdStackSocketHandle ASocket, std::string& VIP,
                                        int32_t& VPort) = 0;
    virtual int32_t Bind(TIdStackSocketHandle ASocket, int32_t AFamily, const std::string& AIP,
                         int32_t APort) = 0;
    virtual int32_t CloseSocket(TIdStackSocketHandle ASocket) = 0;
    virtual int32_t Connect(TIdStackSocketHandle ASocket, int32_t AFamily, const std::string& AIP,
                            int32_t APort) = 0;
    virtual std::string HostByName(const std::string& AHostName) = 0;
    virtual std::string LocalHostName() = 0;
    virtual std::string HostByAddress(const std::string& AAddress) = 0;
    virtual int32_t ServicePort(const std::string& AService) = 0;
    virtual TIdStrings PortServices(int32_t APort) = 0;
    virtual uint16_t HToNS(uint16_t AHostShort) = 0;
    virtual int32_t Listen(TIdStackSocketHandle ASocket, int32_t ABacklog) = 0;
    virtual uint16_t NToHS(uint16_t ANetShort) = 0;
    virtual uint32_t HToNL(uint32_t AHostLong) = 0;
    virtual uint32_t NToHL(uint32_t ANetLong) = 0;
    virtual int32_t Recv(TIdStackSocketHandle ASocket, void* ABuffer, int32_t ABufferLength,
                         int32_t AFlags) = 0;
    virtual int32_t RecvFrom(TIdStackSocketHandle ASocket, void* ABuffer, int32_t ALength,
                             int32_t AFlags, std::string& VIP, int32_t& VPort) = 0;
    // Each given list is replaced by the handles that are ready; a null list is an empty set.
    // More than 64 handles in a list raise EIdStackSetSizeExceeded. ATimeout is milliseconds
    // or TimeoutInfinite. Result: ready count, 0 on time-out, -1 on failure.
    virtual int32_t Select(TIdSocketHandles* AReadList, TIdSocketHandles* AWriteList,
                           TIdSocketHandles* AExceptList, int32_t ATimeout) = 0;
    virtual int32_t Send(TIdStackSocketHandle ASocket, const void* ABuffer, int32_t ABufferLength,
                         int32_t AFlags) = 0;
    virtual int32_t SendTo(TIdStackSocketHandle ASocket, const void* ABuffer, int32_t ABufferLength,
                           int32_t AFlags, const std::string& AIP, int32_t APort) = 0;
    virtual int32_t SetSockOpt(TIdStackSocketHandle ASocket, int32_t ALevel, int32_t AOptName,
                               const void* AOptVal, int32_t AOptLen) = 0;
    virtual TIdStackSocketHandle Socket(int32_t AFamily, int32_t AStruct, int32_t AProtocol) = 0;
    virtual int32_t Shutdown(TIdStackSocketHandle ASocket, int32_t AHow) = 0;
    virtual std::string TranslateSocketErrorMsg(int32_t AErr);
    virtual int32_t LastSocketError() = 0;
    virtual void PeerName(TIdStackSocketHandle ASocket, int32_t& VFamily, std::string& VIP,
                          int32_t& VPort) = 0;
    virtual void SockName(TIdStackSocketHandle ASocket, int32_t& VFamily, std::string& VIP,
                          int32_t& VPort) = 0;
    virtual int32_t GetSockOpt(TIdStackSocketHandle ASocket, int32_t ALevel, int32_t AOptName,
                               void* AOptVal, int32_t& VOptLen) = 0;
    virtual std::string AddressToString(const TIdInAddr& AAddr);
    virtual TIdInAddr StringToAddress(const std::string& AText);

    // False when AResult is not -1. Otherwise stores this thread's LastSocketError in
    // LastError and returns true if the code is in AIgnore, else raises EIdSocketError.
    bool CheckForSocketError(int32_t AResult, std::initializer_list<int32_t> AIgnore = {});
    [[noreturn]] void RaiseSocketError(int32_t AErr);
    TIdStackSocketHandle NewSocketHandle(int32_t ASocketType, int32_t AProtocol);
    std::string ResolveHostName(const std::string& AHost);
    bool IsDottedAddress(const std::string& AText);

    // The code stored by this thread's last failing CheckForSocketError. Kept per thread, so
    // a check on the reader thread cannot overwrite the value the window's thread reads.
    int32_t LastError() const;

protected:
    // Records that the platform's socket library has been started (see StackStarted).
    static void MarkStackStarted();

    // Refilled on every read of LocalAddresses or LocalAddress: one reader at a time.
    TIdStrings FLocalAddresses;
};

// An abstract set of socket handles. Items with an index outside 0..Count-1 raises
// EIdStackSetSizeExceeded; Remove moves the last handle into the freed place (order is not
// kept) and ignores an absent handle.
class TIdSocketList {
public:
    virtual ~TIdSocketList() = default;
    virtual TIdStackSocketHandle Items(int32_t AIndex) const = 0;
    virtual void Add(TIdStackSocketHandle AHandle) = 0;
    virtual void Remove(TIdStackSocketHandle AHandle) = 0;
    virtual int32_t Count() const = 0;

    // The platform's implementation (TIdSocketListPosix, TIdSocketListWindows), defined by
    // the platform's stack file.
    static std::unique_ptr<TIdSocketList> CreateSocketList();
};

// The most handles a select set (and so a Select list or a socket list) holds.
inline constexpr int32_t Id_FD_SETSIZE = 64;

// The fixed 64-handle socket list: a count and the handles, the layout of Winsock's select
// set. The same on every platform; each platform's list is this one under its own name.
class TIdSocketListFixed : public TIdSocketList {
public:
    TIdStackSocketHandle Items(int32_t AIndex) const override;
    void Add(TIdStackSocketHandle AHandle) override;
    void Remove(TIdStackSocketHandle AHandle) override;
    int32_t Count() const override;

private:
    int32_t FCount = 0;
    std::array<TIdStackSocketHandle, Id_FD_SETSIZE> FSockets{};
};

// The stack's lifetime. The process's one stack, ActiveStack, exists while it has users
// (every TIdComponent is one): the first AcquireStack creates it with StackClass, the last
// ReleaseStack frees it, both under one process-wide lock. Null while there is no user.
TIdStack* ActiveStack();
void AcquireStack();
void ReleaseStack();
int StackUsers();

// Creates the stack instance for ActiveStack; CreatePlatformStack from process start.
using TIdStackClass = std::unique_ptr<TIdStack> (*)();
TIdStackClass StackClass();
void SetStackClass(TIdStackClass AClass);
// The platform's stack; the platform's stack file defines it (IdStackPosix.cpp here).
std::unique_ptr<TIdStack> CreatePlatformStack();

// True once a stack of this process has started the platform's socket library; never reset,
// so a second stack after the first was freed does not start it again.
bool StackStarted();

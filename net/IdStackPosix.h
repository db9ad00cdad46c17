// The socket stack over this platform's BSD socket calls.
//
// The calls are made directly (there is no library to load and bind here). Every failure is
// recorded at once, on the failing thread, as a Winsock-numbered code (see IdSocketErrors.h),
// so LastSocketError answers correctly even if other code touched errno since. Names resolve
// through the thread-safe resolver, IPv4 only. Sends never raise SIGPIPE. Select waits with
// poll(), so any descriptor number is safe. There is no ServeFile: this platform has no file
// transmission call of that kind, and the connection sends files itself.
#pragma once

#include "IdStack.h"

class TIdStackPosix : public TIdStack {
public:
    TIdStackPosix();
    ~TIdStackPosix() override;

    void PopulateLocalAddresses() override;
    TIdStackSocketHandle Accept(TIdStackSocketHandle ASocket, std::string& VIP,
                                int32_t& VPort) override;
    int32_t Bind(TIdStackSocketHandle ASocket, int32_t AFamily, const std::string& AIP,
                 int32_t APort) override;
    // Also shuts the socket down first: on this platform closing a descriptor does not wake
    // another thread blocked reading it, and the reader thread relies on that wake-up.
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
class TIdSocketListPosix final : public TIdSocketListFixed {};

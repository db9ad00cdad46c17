#include "IdStack.h"

#include "IdException.h"
#include "IdGlobal.h"
#include "IdSocketErrors.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <strings.h>

namespace {

// Each thread keeps the code its own last failing check stored: the reader thread's check
// must not overwrite the value the window's thread is about to raise, and the other way round.
thread_local int32_t tLastError = 0;

std::atomic<bool> gStackStarted{false};

// The stack lock guards the user count and the stack's creation and release. The stack
// pointer itself is atomic so that threads using the stack (the reader) read it without the
// lock; it only changes while no component, and so no user of the stack, exists.
std::mutex gStackLock;
int gStackUsers = 0;
std::unique_ptr<TIdStack> gOwnedStack;
std::atomic<TIdStack*> gActiveStack{nullptr};
std::atomic<TIdStackClass> gStackClass{&CreatePlatformStack};

} // namespace

TIdStack::TIdStack() = default;
TIdStack::~TIdStack() = default;

void TIdStack::MarkStackStarted() {
    gStackStarted.store(true);
}

bool StackStarted() {
    return gStackStarted.load();
}

std::string TIdStack::LocalAddress() {
    const TIdStrings& addresses = LocalAddresses();
    return addresses.empty() ? std::string() : addresses.front();
}

const TIdStrings& TIdStack::LocalAddresses() {
    PopulateLocalAddresses();
    return FLocalAddresses;
}

std::string TIdStack::TranslateSocketErrorMsg(int32_t AErr) {
    return Id::Format(EIdSocketError::Pattern, AErr, Id::SocketErrorMessage(AErr));
}

std::string TIdStack::AddressToString(const TIdInAddr& AAddr) {
    return Id::Format("%u.%u.%u.%u", AAddr[0], AAddr[1], AAddr[2], AAddr[3]);
}

// Four parts split at "."; anything after a fourth "." is ignored. A part that is not a whole
// number raises std::invalid_argument (a conversion error, not a socket error); a number
// outside 0..255 keeps its low 8 bits.
TIdInAddr TIdStack::StringToAddress(const std::string& AText) {
    std::string rest = AText;
    TIdInAddr result{};
    for (uint8_t& byte : result) {
        byte = static_cast<uint8_t>(Id::StrToInt(Id::FetchToken(rest, ".")) & 0xFF);
    }
    return result;
}

bool TIdStack::CheckForSocketError(int32_t AResult, std::initializer_list<int32_t> AIgnore) {
    if (AResult != Id_SOCKET_ERROR) {
        return false;
    }
    tLastError = LastSocketError();
    if (std::find(AIgnore.begin(), AIgnore.end(), tLastError) != AIgnore.end()) {
        return true;
    }
    RaiseSocketError(tLastError);
}

void TIdStack::RaiseSocketError(int32_t AErr) {
    throw EIdSocketError(AErr, TranslateSocketErrorMsg(AErr));
}

TIdStackSocketHandle TIdStack::NewSocketHandle(int32_t ASocketType, int32_t AProtocol) {
    const TIdStackSocketHandle handle = Socket(Id_PF_INET, ASocketType, AProtocol);
    if (handle == Id_INVALID_SOCKET) {
        throw EIdInvalidSocket();
    }
    return handle;
}

// "localhost" in any letter case and dotted addresses never reach the resolver. The case
// comparison folds ASCII letters only: the name is ASCII, and a locale must not change it.
std::string TIdStack::ResolveHostName(const std::string& AHost) {
    if (strcasecmp(AHost.c_str(), "LOCALHOST") == 0 && AHost.size() == 9) {
        return "127.0.0.1";
    }
    if (IsDottedAddress(AHost)) {
        return AHost;
    }
    return HostByName(AHost);
}

// Three parts split at "." and the remainder as the fourth, each a whole number 0..255. So
// "1.2.3" fails on its empty fourth part and "1.2.3.4.5" on its fourth part "4.5".
bool TIdStack::IsDottedAddress(const std::string& AText) {
    std::string rest = AText;
    std::string parts[4];
    for (int i = 0; i < 3; ++i) {
        parts[i] = Id::FetchToken(rest, ".");
    }
    parts[3] = rest;
    return std::all_of(std::begin(parts), std::end(parts), [](const std::string& part) {
        int32_t value = 0;
        return Id::TryStrToInt(part, value) && value >= 0 && value <= 255;
    });
}

int32_t TIdStack::LastError() const {
    return tLastError;
}

TIdStackClass StackClass() {
    return gStackClass.load();
}

void SetStackClass(TIdStackClass AClass) {
    gStackClass.store(AClass);
}

TIdStack* ActiveStack() {
    return gActiveStack.load();
}

void AcquireStack() {
    std::lock_guard lock(gStackLock);
    if (gStackUsers == 0) {
        // A stack that cannot be created leaves the count as it was, so the next user tries
        // again.
        gOwnedStack = StackClass()();
        gActiveStack.store(gOwnedStack.get());
    }
    ++gStackUsers;
}

void ReleaseStack() {
    std::lock_guard lock(gStackLock);
    if (--gStackUsers == 0) {
        gActiveStack.store(nullptr);
        gOwnedStack.reset();
    }
}

int StackUsers() {
    std::lock_guard lock(gStackLock);
    return gStackUsers;
}

TIdStackSocketHandle TIdSocketListFixed::Items(int32_t AIndex) const {
    if (AIndex < 0 || AIndex >= FCount) {
        throw EIdStackSetSizeExceeded();
    }
    return FSockets[static_cast<size_t>(AIndex)];
}

void TIdSocketListFixed::Add(TIdStackSocketHandle AHandle) {
    if (FCount >= Id_FD_SETSIZE) {
        throw EIdStackSetSizeExceeded();
    }
    FSockets[static_cast<size_t>(FCount++)] = AHandle;
}

void TIdSocketListFixed::Remove(TIdStackSocketHandle AHandle) {
    for (int32_t i = 0; i < FCount; ++i) {
        if (FSockets[static_cast<size_t>(i)] == AHandle) {
            FSockets[static_cast<size_t>(i)] = FSockets[static_cast<size_t>(FCount - 1)];
            FSockets[static_cast<size_t>(FCount - 1)] = 0;
            --FCount;
            return;
        }
    }
}

int32_t TIdSocketListFixed::Count() const {
    return FCount;
}

#include "ScriptedIOHandler.h"

#include "IdException.h"

#include <algorithm>
#include <chrono>
#include <cstring>

ScriptedIOHandler::~ScriptedIOHandler() {
    Close();
    if (Destroyed != nullptr) {
        ++*Destroyed;
    }
}

void ScriptedIOHandler::Change(const std::function<void()>& AChange) {
    std::lock_guard lock(FLock);
    AChange();
    FChanged.notify_all();
}

void ScriptedIOHandler::Receipt(const std::string& ABytes) {
    Change([&] { FReceipts.push_back(ABytes); });
}

void ScriptedIOHandler::EndOfData() {
    Change([&] { FEndOfData = true; });
}

void ScriptedIOHandler::Close() {
    Change([&] { FConnected = false; });
}

void ScriptedIOHandler::ConnectClient(const std::string&, int32_t, const std::string&, int32_t,
                                      int32_t, int32_t, int32_t) {
    Change([&] { FConnected = true; });
}

bool ScriptedIOHandler::Connected() {
    std::unique_lock lock(FLock);
    const bool connected = FConnected;
    const bool endReader = std::this_thread::get_id() == FEndReader;
    lock.unlock();
    if (endReader) {
        AfterEndGate.Leave(AfterEndGate.Enter());
    }
    return connected;
}

bool ScriptedIOHandler::Readable(int32_t AMSec) {
    std::unique_lock lock(FLock);
    if (WaitInRecv) {
        return true;
    }
    ++FWaiting;
    auto ready = [this] { return Ready(); };
    const bool result = AMSec < 0
                            ? (FChanged.wait(lock, ready), true) // infinite or default
                            : FChanged.wait_for(lock, std::chrono::milliseconds(AMSec), ready);
    --FWaiting;
    FTimeouts += result ? 0 : 1;
    return result;
}

int32_t ScriptedIOHandler::Recv(void* ABuf, int32_t ALen) {
    std::unique_lock lock(FLock);
    if (!FConnected) {
        throw EIdClosedSocket();
    }
    if (WaitInRecv) {
        ++FWaiting;
        FChanged.wait(lock, [this] { return Ready(); });
        --FWaiting;
        if (!FConnected) {
            return 0;
        }
    }
    if (FReceipts.empty()) {
        FEndReader = std::this_thread::get_id();
        return 0; // end of data (Readable only lets a reader through with one of the two)
    }
    std::string& front = FReceipts.front();
    const int32_t count = std::min<int32_t>(ALen, int32_t(front.size()));
    std::memcpy(ABuf, front.data(), size_t(count));
    front.erase(0, size_t(count));
    if (front.empty()) {
        FReceipts.pop_front();
    }
    return count;
}

int32_t ScriptedIOHandler::Send(const void* ABuf, int32_t ALen) {
    std::lock_guard lock(FLock);
    if (!FConnected) {
        throw EIdClosedSocket();
    }
    const int32_t count = SendLimit > 0 ? std::min(ALen, SendLimit) : ALen;
    FSent.append(static_cast<const char*>(ABuf), size_t(count));
    return count;
}

// The transport's event types in one place, and the one helper that raises an event.
//
// An event is a std::function member named like the event (OnStatus, OnWork, ...). An empty
// function means the event is unbound and raising it does nothing.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <utility>

class TIdComponent;
class TIdConnectionIntercept;
class TIdSimpleBuffer;
class TIdBaseThread;
class TIdThread;

enum TIdStatus {
    hsResolving,
    hsConnecting,
    hsConnected,
    hsDisconnecting,
    hsDisconnected,
    hsStatusText,
    ftpTransfer,
    ftpReady,
    ftpAborted,
};

enum TWorkMode { wmRead, wmWrite };

using TNotifyEvent = std::function<void(TIdComponent* Sender)>;
using TIdStatusEvent =
    std::function<void(TIdComponent* ASender, TIdStatus AStatus, const std::string& AStatusText)>;
using TWorkEvent =
    std::function<void(TIdComponent* Sender, TWorkMode AWorkMode, int32_t AWorkCount)>;
using TWorkBeginEvent =
    std::function<void(TIdComponent* Sender, TWorkMode AWorkMode, int32_t AWorkCountMax)>;
using TWorkEndEvent = std::function<void(TIdComponent* Sender, TWorkMode AWorkMode)>;
using TIdInterceptNotifyEvent = std::function<void(TIdConnectionIntercept* ASender)>;
using TIdInterceptStreamEvent =
    std::function<void(TIdConnectionIntercept* ASender, TIdSimpleBuffer* AStream)>;
using TIdBytesRemovedEvent = std::function<void(TIdSimpleBuffer* ASender, int32_t ABytes)>;
using TIdExceptionThreadEvent =
    std::function<void(TIdThread* AThread, const std::exception& AException)>;
using TIdNotifyThreadEvent = std::function<void(TIdThread* AThread)>;
using TIdBaseThreadNotifyEvent = std::function<void(TIdBaseThread* Sender)>;

// Raises an event if it is bound. Callers that would build an argument only for the event
// test `if (OnX)` themselves, so the work that feeds an unbound event is skipped too.
template <typename Event, typename... Args> void RaiseEvent(const Event& event, Args&&... args) {
    if (event) {
        event(std::forward<Args>(args)...);
    }
}

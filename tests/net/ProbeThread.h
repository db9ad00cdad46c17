// A TIdThread that records its hooks, for the thread and Synchronize tests.
#pragma once

#include "IdThread.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Shared, so a free-on-terminate thread can still be checked after it deleted itself.
class HookLog {
public:
    void Add(const std::string& AEvent) {
        std::lock_guard<std::mutex> lock(FMutex);
        FEvents.push_back(AEvent);
    }
    std::vector<std::string> Events() const {
        std::lock_guard<std::mutex> lock(FMutex);
        return FEvents;
    }
    int Count(const std::string& AEvent) const {
        const auto events = Events();
        return static_cast<int>(std::count(events.begin(), events.end(), AEvent));
    }

private:
    mutable std::mutex FMutex;
    std::vector<std::string> FEvents;
};

// Data whose destruction is logged, to see when Cleanup freed it.
class LoggedData : public TIdThreadData {
public:
    explicit LoggedData(std::shared_ptr<HookLog> ALog) : FLog(std::move(ALog)) {}
    ~LoggedData() override { FLog->Add("DataFreed"); }

private:
    std::shared_ptr<HookLog> FLog;
};

class ProbeThread : public TIdThread {
public:
    using TBody = std::function<void(ProbeThread&)>;

    // ABody runs once per Run; without one Run only sleeps a moment so loops stay cheap.
    ProbeThread(std::shared_ptr<HookLog> ALog, bool ACreateSuspended, TBody ABody = {},
                bool AFreeOnTerminate = false)
        : TIdThread(ACreateSuspended), Log(std::move(ALog)), FBody(std::move(ABody)) {
        SetFreeOnTerminate(AFreeOnTerminate);
    }
    ~ProbeThread() override { Log->Add("Destroyed"); }

    int Runs() const { return FRuns.load(); }
    TBody BeforeRunBody; // runs inside BeforeRun, e.g. to throw there
    const std::shared_ptr<HookLog> Log;

protected:
    void AfterRun() override { Log->Add("AfterRun"); }
    void AfterExecute() override { Log->Add("AfterExecute"); }
    void BeforeExecute() override { Log->Add("BeforeExecute"); }
    void BeforeRun() override {
        Log->Add("BeforeRun");
        if (BeforeRunBody) {
            BeforeRunBody(*this);
        }
    }
    void Cleanup() override {
        Log->Add("Cleanup");
        TIdThread::Cleanup();
    }
    void DoException(const std::exception& AException) override {
        Log->Add("DoException");
        TIdThread::DoException(AException);
    }
    void DoStopped() override {
        Log->Add("DoStopped");
        TIdThread::DoStopped();
    }
    void Run() override {
        Log->Add("Run");
        ++FRuns;
        FBody ? FBody(*this) : std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

private:
    TBody FBody;
    std::atomic<int> FRuns{0};
};

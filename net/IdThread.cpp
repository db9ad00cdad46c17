#include "IdThread.h"

#include "IdException.h"
#include "IdGlobal.h"

#include <cstdlib>
#include <cxxabi.h>

namespace {

// The type of the exception being handled, for `catch (...)`. Both C++ runtimes on this
// platform (libstdc++, libc++) provide the Itanium ABI call.
const std::type_info* CurrentExceptionType() {
    return abi::__cxa_current_exception_type();
}

std::string TypeName(const std::type_info* AType) {
    if (AType == nullptr) {
        return "unknown type";
    }
    int status = 0;
    char* demangled = abi::__cxa_demangle(AType->name(), nullptr, nullptr, &status);
    std::string name = status == 0 && demangled != nullptr ? demangled : AType->name();
    std::free(demangled);
    return name;
}

} // namespace

TIdThread::TIdThread(bool ACreateSuspended)
    : TIdBaseThread(ACreateSuspended), FStopped(ACreateSuspended) {}

TIdThread::~TIdThread() {
    // Ended here, not in the base destructor, because the body still uses FLock and Cleanup.
    FinishThread();
    Cleanup();
}

void TIdThread::Start() {
    std::lock_guard<std::recursive_mutex> lock(FLock);
    if (Stopped()) {
        FStopped = false;
        Resume();
    }
}

void TIdThread::Stop() {
    std::lock_guard<std::recursive_mutex> lock(FLock);
    if (!Stopped()) {
        if (StopMode() == smTerminate) {
            Terminate();
        }
        FStopped = true;
    }
}

void TIdThread::Terminate() {
    bool parked;
    {
        // Both marks under the lock the loop parks under: a thread about to park sees either
        // neither or both, so it never parks between them and waits for a start that will
        // not come. A free-on-terminate reader let go of by its component parked there for
        // good, and the component's destructor waited on it.
        std::lock_guard<std::recursive_mutex> lock(FLock);
        FStopped = true;
        TIdBaseThread::Terminate();
        parked = FParked;
    }
    if (parked) {
        Resume();
    }
}

void TIdThread::TerminateAndWaitFor() {
    if (FreeOnTerminate()) {
        throw EIdThreadTerminateAndWaitFor();
    }
    Terminate();
    if (Suspended()) {
        Resume();
    }
    WaitFor();
}

bool TIdThread::Stopped() const {
    std::lock_guard<std::recursive_mutex> lock(FLock);
    return Terminated() || FStopped || Suspended();
}

std::string TIdThread::TerminatingException() const {
    std::lock_guard<std::recursive_mutex> lock(FLock);
    return FTerminatingException;
}

const std::type_info* TIdThread::TerminatingExceptionClass() const {
    std::lock_guard<std::recursive_mutex> lock(FLock);
    return FTerminatingExceptionClass;
}

void TIdThread::Cleanup() {
    FData.reset();
}

void TIdThread::DoException(const std::exception& AException) {
    RaiseEvent(OnException, this, AException);
}

void TIdThread::DoStopped() {
    RaiseEvent(OnStopped, this);
}

bool TIdThread::ParkWhileStopped() {
    {
        // The suspended flag is set while FLock is held, so a Start from another thread
        // either comes first (and we do not park) or sees us suspended and resumes us: a
        // Start is never lost between the check and the wait.
        std::lock_guard<std::recursive_mutex> lock(FLock);
        if (!Stopped()) {
            return false;
        }
        if (Terminated()) {
            return true;
        }
        BeginSuspend();
        FParked = true;
    }
    WaitWhileSuspended();
    std::lock_guard<std::recursive_mutex> lock(FLock);
    FParked = false;
    return Terminated();
}

void TIdThread::Execute() {
    try {
        try {
            BeforeExecute();
            while (!Terminated()) {
                if (Stopped()) {
                    DoStopped();
                    if (ParkWhileStopped()) {
                        break;
                    }
                }
                try {
                    BeforeRun();
                    try {
                        while (!Stopped()) {
                            Run();
                        }
                    } catch (...) {
                        AfterRun();
                        throw;
                    }
                    AfterRun();
                } catch (...) {
                    Cleanup();
                    throw;
                }
                Cleanup();
            }
        } catch (...) {
            AfterExecute();
            throw;
        }
        AfterExecute();
    } catch (const std::exception& e) {
        Trapped(&typeid(e), e);
    } catch (const char* text) {
        Trapped(CurrentExceptionType(), EIdException(text != nullptr ? text : ""));
    } catch (const std::string& text) {
        Trapped(CurrentExceptionType(), EIdException(text));
    } catch (...) {
        const std::type_info* type = CurrentExceptionType();
        Trapped(type, EIdException(Id::Format("Exception of type %s", TypeName(type).c_str())));
    }
}

void TIdThread::Trapped(const std::type_info* AClass, const std::exception& AException) {
    {
        std::lock_guard<std::recursive_mutex> lock(FLock);
        FTerminatingExceptionClass = AClass;
        FTerminatingException = AException.what();
    }
    try {
        DoException(AException);
    } catch (...) {
        // A handler's own failure must not leave the thread either.
    }
    Terminate();
}

#include "IdConnectThread.h"

#include "IdSocketHandle.h"
#include "IdStack.h"

namespace {

// The errors of a connect whose socket the caller closed under it after the time-out.
constexpr int32_t Id_WSAEBADF = 10009;
constexpr int32_t Id_WSAENOTSOCK = 10038;

} // namespace

TIdConnectThread::TIdConnectThread(TIdSocketHandle* ABinding) : FBinding(ABinding) {}

TIdConnectThread::~TIdConnectThread() {
    WaitFor();
}

void TIdConnectThread::Start() {
    if (!FThread.joinable()) {
        FThread = std::thread([this] { Execute(); });
    }
}

void TIdConnectThread::WaitFor() {
    if (FThread.joinable()) {
        FThread.join();
    }
}

void TIdConnectThread::Execute() {
    try {
        ActiveStack()->CheckForSocketError(FBinding->Connect(Id_PF_INET),
                                           {Id_WSAEBADF, Id_WSAENOTSOCK});
    } catch (const std::exception& e) {
        FExceptionMessage = e.what();
    } catch (...) {
        // Nothing may escape a thread; a failure without a text still has to read as one.
        FExceptionMessage = "Unknown error.";
    }
    Terminate(); // published after the message
}

#include "IdConnectThread.h"

#include "IdSocketErrors.h"
#include "IdSocketHandle.h"
#include "IdStack.h"

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
        // Not reported: the errors of a connect whose socket the caller closed under it
        // after the time-out.
        ActiveStack()->CheckForSocketError(FBinding->Connect(Id_PF_INET),
                                           {Id::WSAEBADF, Id::WSAENOTSOCK});
    } catch (const std::exception& e) {
        FExceptionMessage = e.what();
    } catch (...) {
        // Nothing may escape a thread; a failure without a text still has to read as one.
        FExceptionMessage = "Unknown error.";
    }
    Terminate(); // published after the message
}

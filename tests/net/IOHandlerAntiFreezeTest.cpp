// Waits of the I/O handler on the window's thread while an anti-freeze is registered: they
// are cut into slices of its idle time-out with the hook's processing between them, and a
// connect without a time-out runs on the connect thread so it can be waited for in slices.
#include "IdAntiFreezeBase.h"
#include "IdException.h"
#include "IdGlobal.h"
#include "IdIOHandlerSocket.h"

#include "RawSocket.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

class CountingAntiFreeze : public TIdAntiFreezeBase {
public:
    void Process() override {
        ++FCalls;
        RaiseEvent(OnProcess, FCalls);
    }
    int Calls() const { return FCalls; }
    std::function<void(int)> OnProcess;

private:
    int FCalls = 0;
};

class AntiFreezeWait : public ::testing::Test {
protected:
    void SetUp() override {
        Id::SetMainThread(); // this test's thread plays the window's thread
        FAntiFreeze.SetIdleTimeOut(50);
        ASSERT_TRUE(FListener.Valid());
    }
    void ConnectAndAccept() {
        FHandler.Open();
        FHandler.ConnectClient("127.0.0.1", FListener.LocalPort(), "", 0, 0, 0, 3000);
        FPeer = FListener.Accept();
        ASSERT_TRUE(FPeer.Valid());
        FAntiFreeze.OnProcess = nullptr;
    }

    CountingAntiFreeze FAntiFreeze;
    RawSocket FListener = RawSocket::Listener();
    TIdIOHandlerSocket FHandler;
    RawSocket FPeer;
};

long ElapsedMs(Clock::time_point AStart) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - AStart).count());
}

} // namespace

TEST_F(AntiFreezeWait, InfiniteReadableProcessesBetweenSlicesUntilDataCome) {
    ConnectAndAccept();
    const int before = FAntiFreeze.Calls();
    // The peer only sends from inside the third idle processing: the wait must go on in
    // slices until then.
    FAntiFreeze.OnProcess = [this, before](int ACalls) {
        if (ACalls == before + 3) {
            ASSERT_EQ(::send(FPeer.Fd(), "x", 1, 0), 1);
        }
    };
    EXPECT_TRUE(FHandler.Readable(Id::TimeoutInfinite));
    EXPECT_EQ(FAntiFreeze.Calls(), before + 3) << "a wait that found data is not idle";
}

TEST_F(AntiFreezeWait, LongReadableWithoutDataEndsAfterItsTimeWithIdleProcessing) {
    ConnectAndAccept();
    const int before = FAntiFreeze.Calls();
    const auto start = Clock::now();
    EXPECT_FALSE(FHandler.Readable(120)); // slices of 20, 50 and 50 ms
    EXPECT_EQ(FAntiFreeze.Calls(), before + 3);
    EXPECT_GE(ElapsedMs(start), 120);
}

// Without a time-out the connect still goes through the worker (120 s limit), so a refusal
// arrives as the worker's error and the hook runs while it is awaited.
TEST_F(AntiFreezeWait, DefaultTimeoutConnectRunsOnTheConnectThread) {
    FHandler.Open();
    FHandler.ConnectClient("127.0.0.1", FListener.LocalPort(), "", 0, 0, 0, Id::TimeoutDefault);
    EXPECT_TRUE(FHandler.Connected());
    EXPECT_GE(FAntiFreeze.Calls(), 1);

    const int32_t closedPort = FreeLoopbackPort();
    FHandler.Open();
    EXPECT_THROW(FHandler.ConnectClient("127.0.0.1", closedPort, "", 0, 0, 0, 0),
                 EIdConnectException);
}

// An exception from the hook leaves the connect wait at once; the worker, blocked on a full
// accept queue, is released by closing the socket rather than waited for.
TEST_F(AntiFreezeWait, HookExceptionDuringConnectReleasesTheWorker) {
    RawSocket full = RawSocket::Listener(0);
    std::vector<RawSocket> fillers = FillAcceptQueue(full.LocalPort());
    ASSERT_FALSE(fillers.empty()) << "the accept queue never filled";
    FAntiFreeze.OnProcess = [](int ACalls) {
        if (ACalls == 2) {
            throw std::runtime_error("window closed");
        }
    };
    const auto start = Clock::now();
    FHandler.Open();
    try {
        FHandler.ConnectClient("127.0.0.1", full.LocalPort(), "", 0, 0, 0, Id::TimeoutInfinite);
        FAIL() << "connected through a full accept queue";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "window closed");
    }
    EXPECT_LT(ElapsedMs(start), 5000);
    EXPECT_FALSE(FHandler.Connected());
}

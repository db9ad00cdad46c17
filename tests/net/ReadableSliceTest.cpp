// A wait on the window's thread with an anti-freeze is cut into slices of its idle time-out.
// Idle time-outs of 0 or 1 once made that slicing recurse without end (or once per
// millisecond of the wait), and an infinite wait with idle 0 spun a core.
#include "IdAntiFreezeBase.h"
#include "IdGlobal.h"
#include "IdIOHandlerSocket.h"
#include "IdMainThreadQueue.h"

#include "RawSocket.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <chrono>
#include <ctime>
#include <functional>

namespace {

class HookAntiFreeze : public TIdAntiFreezeBase {
public:
    void Process() override {
        ++Calls;
        RaiseEvent(OnProcess);
    }
    int Calls = 0;
    std::function<void()> OnProcess;
};

double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

class ReadableSlices : public ::testing::Test {
protected:
    void SetUp() override {
        TIdMainThreadQueue::Instance().RegisterMainThread(); // as the window's thread
        FHandler.Open();
        FHandler.ConnectClient("127.0.0.1", FListener.LocalPort(), "", 0, 0, 0, Id::TimeoutDefault);
        FPeer = FListener.Accept();
        ASSERT_TRUE(FPeer.Valid());
    }
    void PeerSends() { ASSERT_EQ(::send(FPeer.Fd(), "x", 1, 0), 1); }

    HookAntiFreeze FAntiFreeze;
    RawSocket FListener = RawSocket::Listener();
    RawSocket FPeer;
    TIdIOHandlerSocket FHandler;
};

} // namespace

TEST_F(ReadableSlices, IdleTimeOutsOfZeroOrLessEndAFiniteWait) {
    for (const int32_t idle : {0, -5}) {
        SCOPED_TRACE(idle);
        FAntiFreeze.SetIdleTimeOut(idle);
        FAntiFreeze.Calls = 0;
        EXPECT_FALSE(FHandler.Readable(100));
        // Slices of the minimum, each followed by processing.
        EXPECT_EQ(FAntiFreeze.Calls, 100 / TIdAntiFreezeBase::MinIdleSlice);
    }
}

// Two million slices of 1 ms: as calls they overflow the stack before the first wait.
TEST_F(ReadableSlices, AWaitOfMillionsOfSlicesEndsWhenDataArrives) {
    FAntiFreeze.SetIdleTimeOut(1);
    PeerSends();
    EXPECT_TRUE(FHandler.Readable(2000000));
    FAntiFreeze.Calls = 0;
    char byte;
    ASSERT_EQ(FHandler.Recv(&byte, 1), 1);
    FAntiFreeze.OnProcess = [&] {
        if (FAntiFreeze.Calls == 3) {
            PeerSends();
        }
    };
    EXPECT_TRUE(FHandler.Readable(2000000));
    EXPECT_EQ(FAntiFreeze.Calls, 3) << "the slice that found data is not idle";
}

// The peer sends only once 300 ms have passed; until then the waiting thread should sleep in
// its slices. A spin polls without a pause and uses about as much CPU as time passes.
TEST_F(ReadableSlices, AnInfiniteWaitWithIdleZeroDoesNotSpin) {
    using Clock = std::chrono::steady_clock;
    FAntiFreeze.SetIdleTimeOut(0);
    const auto start = Clock::now();
    const double cpuStart = ThreadCpuMs();
    FAntiFreeze.OnProcess = [&] {
        if (Clock::now() - start >= std::chrono::milliseconds(300) && FAntiFreeze.Calls > 0) {
            FAntiFreeze.OnProcess = nullptr;
            PeerSends();
        }
    };
    EXPECT_TRUE(FHandler.Readable(Id::TimeoutInfinite));
    const double cpu = ThreadCpuMs() - cpuStart;
    const double wall = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    EXPECT_LT(cpu, wall / 6) << cpu << " ms of CPU in " << wall << " ms";
}

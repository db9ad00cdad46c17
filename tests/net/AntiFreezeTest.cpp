#include "IdAntiFreezeBase.h"
#include "IdException.h"
#include "IdGlobal.h"
#include "IdIOHandlerSocket.h"
#include "IdMainThreadQueue.h"
#include "RawSocket.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <vector>

namespace {

class CountingAntiFreeze : public TIdAntiFreezeBase {
public:
    void Process() override { RaiseEvent(OnProcess, ++FCalls); }
    int FCalls = 0;
    std::function<void(int)> OnProcess;
};

class AntiFreeze : public ::testing::Test {
protected:
    void SetUp() override {
        TIdMainThreadQueue::Instance().RegisterMainThread(); // plays the window's thread
        ASSERT_EQ(TIdAntiFreezeBase::Registered(), nullptr);
    }
};

// Waits of the I/O handler on the window's thread while an anti-freeze is registered: they
// are cut into slices of its idle time-out with the hook's processing between them, and a
// connect without a time-out runs on the connect thread so it can be waited for in slices.
class AntiFreezeWait : public ::testing::Test {
protected:
    void SetUp() override {
        TIdMainThreadQueue::Instance().RegisterMainThread();
        FAntiFreeze.SetIdleTimeOut(50);
    }
    void Connect(int32_t APort, int32_t ATimeout) {
        FHandler.Open();
        FHandler.ConnectClient("127.0.0.1", APort, "", 0, 0, 0, ATimeout);
    }

    CountingAntiFreeze FAntiFreeze;
    RawSocket FListener = RawSocket::Listener();
    TIdIOHandlerSocket FHandler;
};

} // namespace

// Process runs only on the window's thread, only while active, and during a busy wait only
// when asked to or when not limited to idle waits.
TEST_F(AntiFreeze, ProcessIsCalledOnlyWhenItShouldBe) {
    TIdAntiFreezeBase::DoProcess(true, true); // none registered: nothing to call
    CountingAntiFreeze af;
    struct Case {
        const char* why;
        bool active, onlyWhenIdle, idle, override, called;
    };
    const Case cases[] = {
        {"idle wait", true, true, true, false, true},
        {"busy wait, only when idle", true, true, false, false, false},
        {"busy wait, overridden", true, true, false, true, true},
        {"busy wait, not only when idle", true, false, false, false, true},
        {"inactive", false, false, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        af.SetActive(c.active);
        af.SetOnlyWhenIdle(c.onlyWhenIdle);
        af.FCalls = 0;
        TIdAntiFreezeBase::DoProcess(c.idle, c.override);
        EXPECT_EQ(af.FCalls, c.called ? 1 : 0);
        EXPECT_EQ(TIdAntiFreezeBase::ShouldUse(), c.active);
    }
    af.SetActive(true); // other threads never process, even when it is active
    bool shouldUse = true;
    std::thread([&] {
        shouldUse = TIdAntiFreezeBase::ShouldUse();
        TIdAntiFreezeBase::DoProcess(true, true);
    }).join();
    EXPECT_FALSE(shouldUse);
    EXPECT_EQ(af.FCalls, 0);
}

// Freeing an earlier anti-freeze after a later one replaced it must not unregister the later.
TEST_F(AntiFreeze, LaterReplacesEarlierAndSurvivesItsDestruction) {
    auto first = std::make_unique<CountingAntiFreeze>();
    CountingAntiFreeze second;
    first.reset();
    EXPECT_EQ(TIdAntiFreezeBase::Registered(), &second);
    TIdAntiFreezeBase::DoProcess(true);
    EXPECT_EQ(second.FCalls, 1);
}

TEST_F(AntiFreezeWait, ReadableProcessesBetweenSlices) {
    Connect(FListener.LocalPort(), 3000);
    RawSocket peer = FListener.Accept();
    ASSERT_TRUE(peer.Valid());
    int before = FAntiFreeze.FCalls;
    EXPECT_FALSE(FHandler.Readable(120)); // slices of 20, 50 and 50 ms
    EXPECT_EQ(FAntiFreeze.FCalls, before + 3);

    // The peer only sends from inside the third idle processing: an infinite wait goes on in
    // slices until then, and the slice that found data is not idle.
    before = FAntiFreeze.FCalls;
    FAntiFreeze.OnProcess = [&](int ACalls) {
        if (ACalls == before + 3) {
            ASSERT_EQ(::send(peer.Fd(), "x", 1, 0), 1);
        }
    };
    EXPECT_TRUE(FHandler.Readable(Id::TimeoutInfinite));
    EXPECT_EQ(FAntiFreeze.FCalls, before + 3);
}

// Without a time-out the connect still goes through the worker (120 s limit), so a refusal
// arrives as the worker's error and the hook runs while it is awaited.
TEST_F(AntiFreezeWait, DefaultTimeoutConnectRunsOnTheConnectThread) {
    Connect(FListener.LocalPort(), Id::TimeoutDefault);
    EXPECT_TRUE(FHandler.Connected());
    EXPECT_GE(FAntiFreeze.FCalls, 1);
    EXPECT_THROW(Connect(FreeLoopbackPort(), 0), EIdConnectException);
}

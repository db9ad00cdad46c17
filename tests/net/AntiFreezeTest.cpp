#include "IdAntiFreezeBase.h"
#include "IdMainThreadQueue.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

class CountingAntiFreeze : public TIdAntiFreezeBase {
public:
    int FCalls = 0;
    void Process() override { ++FCalls; }
};

class AntiFreeze : public ::testing::Test {
protected:
    void SetUp() override {
        TIdMainThreadQueue::Instance().RegisterMainThread(); // plays the window's thread
        ASSERT_EQ(TIdAntiFreezeBase::Registered(), nullptr);
    }
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

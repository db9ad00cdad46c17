#include "IdAntiFreezeBase.h"
#include "IdGlobal.h"

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
        Id::SetMainThread(); // this test's thread plays the window's thread
        ASSERT_EQ(TIdAntiFreezeBase::Registered(), nullptr);
    }
};

} // namespace

TEST_F(AntiFreeze, SilentWhenNoneRegistered) {
    EXPECT_FALSE(TIdAntiFreezeBase::ShouldUse());
    TIdAntiFreezeBase::DoProcess(true, true); // nothing to call: must not crash
    auto antiFreeze = std::make_unique<CountingAntiFreeze>();
    antiFreeze.reset();
    EXPECT_EQ(TIdAntiFreezeBase::Registered(), nullptr);
    EXPECT_FALSE(TIdAntiFreezeBase::ShouldUse());
}

TEST_F(AntiFreeze, DefaultsAndWhenProcessIsCalled) {
    CountingAntiFreeze af;
    EXPECT_TRUE(af.Active());
    EXPECT_TRUE(af.ApplicationHasPriority());
    EXPECT_EQ(af.IdleTimeOut(), 250);
    EXPECT_TRUE(af.OnlyWhenIdle());
    EXPECT_TRUE(TIdAntiFreezeBase::ShouldUse());

    struct Case {
        const char* why;
        bool active;
        bool onlyWhenIdle;
        bool idle;
        bool override;
        bool called;
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
}

TEST_F(AntiFreeze, OtherThreadsNeverProcess) {
    CountingAntiFreeze af;
    af.SetOnlyWhenIdle(false);
    bool shouldUse = true;
    std::thread worker([&] {
        shouldUse = TIdAntiFreezeBase::ShouldUse();
        TIdAntiFreezeBase::DoProcess(true, true);
    });
    worker.join();
    EXPECT_FALSE(shouldUse);
    EXPECT_EQ(af.FCalls, 0);
    TIdAntiFreezeBase::DoProcess(false, false);
    EXPECT_EQ(af.FCalls, 1);
}

// A later anti-freeze replaces an earlier one; freeing the earlier one afterwards must not
// unregister the later.
TEST_F(AntiFreeze, LaterReplacesEarlierAndSurvivesItsDestruction) {
    auto first = std::make_unique<CountingAntiFreeze>();
    CountingAntiFreeze second;
    EXPECT_EQ(TIdAntiFreezeBase::Registered(), &second);
    first.reset();
    EXPECT_EQ(TIdAntiFreezeBase::Registered(), &second);
    TIdAntiFreezeBase::DoProcess(true);
    EXPECT_EQ(second.FCalls, 1);
}

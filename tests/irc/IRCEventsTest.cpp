// The event types: a var argument must reach the component again after the handler ran.
#include "IdIRCEvents.h"

#include <gtest/gtest.h>

static_assert(cuMode == 0 && cuNames == 3 && cuQuit == 8, "update kinds are numbered 0 to 8");

TEST(IRCEvents, VarArgumentsComeBackThroughRaiseEvent) {
    TIdIRCOnRaw onRaw = [](TIdIRC*, TIdIRCUser*, const std::string&, const std::string&,
                           bool& suppress) { suppress = true; };
    bool suppress = false;
    RaiseEvent(onRaw, static_cast<TIdIRC*>(nullptr), static_cast<TIdIRCUser*>(nullptr),
               std::string("PRIVMSG"), std::string("#c :hi"), suppress);
    EXPECT_TRUE(suppress);

    TIdIRCOnNicksInUse onNicksInUse = [](TIdIRC*, std::string& nick) { nick += "_"; };
    std::string nick = "alice";
    RaiseEvent(onNicksInUse, static_cast<TIdIRC*>(nullptr), nick);
    EXPECT_EQ("alice_", nick);

    TIdIRCOnNicksInUse unbound;
    RaiseEvent(unbound, static_cast<TIdIRC*>(nullptr), nick);
    EXPECT_EQ("alice_", nick);
}

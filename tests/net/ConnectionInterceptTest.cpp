#include "IdConnectionIntercept.h"
#include "IdSimpleBuffer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

std::string Content(TIdSimpleBuffer* ABuffer) {
    return std::string(ABuffer->Data(), static_cast<size_t>(ABuffer->Size()));
}

// A chain outer -> middle -> inner whose events log what they see and each append their own
// letter to the block, so the final content shows the order the block passed through them.
struct Chain {
    TIdConnectionIntercept outer, middle, inner;
    std::vector<std::string> log;

    Chain() {
        outer.SetIntercept(&middle);
        middle.SetIntercept(&inner);
        Bind(outer, "outer", 'o');
        Bind(middle, "middle", 'm');
        Bind(inner, "inner", 'i');
    }

    void Bind(TIdConnectionIntercept& AIntercept, const std::string& AName, char ALetter) {
        auto stamp = [this, AName, ALetter](const char* AWhat, TIdConnectionIntercept* ASender,
                                            TIdSimpleBuffer* ABuffer) {
            // Every intercept must find the block rewound to its start.
            log.push_back(AName + " " + AWhat + " at " + std::to_string(ABuffer->Position()) +
                          " sees " + Content(ABuffer) +
                          (ASender->Connection() ? " attached" : " detached"));
            ABuffer->Seek(0, soEnd);
            ABuffer->Write(&ALetter, 1);
        };
        AIntercept.OnSend = [stamp](TIdConnectionIntercept* s, TIdSimpleBuffer* b) {
            stamp("send", s, b);
        };
        AIntercept.OnReceive = [stamp](TIdConnectionIntercept* s, TIdSimpleBuffer* b) {
            stamp("receive", s, b);
        };
        AIntercept.OnConnect = [this, AName](TIdConnectionIntercept* s) {
            log.push_back(AName + " connect" + (s->Connection() ? " attached" : " detached"));
        };
        AIntercept.OnDisconnect = [this, AName](TIdConnectionIntercept* s) {
            log.push_back(AName + " disconnect" + (s->Connection() ? " attached" : " detached"));
        };
    }
};

// The intercepts only store the connection; any distinct address stands in for one here.
TIdTCPConnection* FakeConnection() {
    static int placeholder;
    return reinterpret_cast<TIdTCPConnection*>(&placeholder);
}

} // namespace

TEST(ConnectionIntercept, SentDataFlowsOutwardsAndReceivedDataInwards) {
    Chain chain;
    chain.outer.Connect(FakeConnection());
    chain.log.clear();

    TIdSimpleBuffer sent;
    sent.Write("x", 1);
    sent.SetPosition(0); // as the connection hands it over
    chain.outer.Send(&sent);
    EXPECT_EQ(Content(&sent), "xomi");
    EXPECT_EQ(sent.Position(), 0) << "rewound after the last event";

    TIdSimpleBuffer received;
    received.Write("y", 1);
    received.SetPosition(0);
    chain.outer.Receive(&received);
    EXPECT_EQ(Content(&received), "yimo");
    EXPECT_EQ(received.Position(), 0);

    const std::vector<std::string> expected = {
        "outer send at 0 sees x attached",      "middle send at 0 sees xo attached",
        "inner send at 0 sees xom attached",    "inner receive at 0 sees y attached",
        "middle receive at 0 sees yi attached", "outer receive at 0 sees yim attached",
    };
    EXPECT_EQ(chain.log, expected);
}

TEST(ConnectionIntercept, ConnectRunsOutsideInAndDisconnectInsideOut) {
    Chain chain;
    chain.outer.Connect(FakeConnection());
    EXPECT_EQ(chain.outer.Connection(), FakeConnection());
    EXPECT_EQ(chain.inner.Connection(), FakeConnection());
    chain.outer.Disconnect();
    EXPECT_EQ(chain.outer.Connection(), nullptr);
    EXPECT_EQ(chain.inner.Connection(), nullptr);

    const std::vector<std::string> expected = {
        "outer connect attached",    "middle connect attached",    "inner connect attached",
        "inner disconnect attached", "middle disconnect attached", "outer disconnect attached",
    };
    EXPECT_EQ(chain.log, expected);
}

TEST(ConnectionIntercept, DestroyingAChainedInterceptClearsTheReference) {
    TIdConnectionIntercept outer;
    auto first = std::make_unique<TIdConnectionIntercept>();
    auto second = std::make_unique<TIdConnectionIntercept>();
    int secondSends = 0;
    second->OnSend = [&](TIdConnectionIntercept*, TIdSimpleBuffer*) { ++secondSends; };

    outer.SetIntercept(first.get());
    outer.SetIntercept(second.get());
    first.reset(); // no longer chained: must not clear the current link
    EXPECT_EQ(outer.Intercept(), second.get());

    TIdSimpleBuffer block;
    block.Write("z", 1);
    outer.Send(&block);
    EXPECT_EQ(secondSends, 1);

    second.reset();
    EXPECT_EQ(outer.Intercept(), nullptr);
    outer.Send(&block); // would reach freed memory if the link had survived
    outer.Receive(&block);
    outer.Connect(FakeConnection());
    outer.Disconnect();
}

TEST(ConnectionIntercept, DestroyingTheHolderFirstLeavesNoRegistrationBehind) {
    auto inner = std::make_unique<TIdConnectionIntercept>();
    {
        TIdConnectionIntercept outer;
        outer.SetIntercept(inner.get());
    }
    inner.reset(); // must not notify the holder that is already gone
    SUCCEED();
}

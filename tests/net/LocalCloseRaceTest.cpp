// A Disconnect on the window's thread can close the socket between the I/O handler's check
// that it is connected and its Recv or Send. The call then finds no socket: that is this
// side's close and must raise what a close raises ("Disconnected."), not the socket error
// of a call on no descriptor ("Socket Error # 10009").
#include "IdException.h"
#include "IdGlobal.h"
#include "IdIOHandlerSocket.h"

#include "RawSocket.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// Answers Connected as the check did just before the close: still connected.
class LateCloseHandler : public TIdIOHandlerSocket {
public:
    bool Connected() override { return true; }
};

} // namespace

TEST(LocalCloseRace, RecvAndSendAfterTheCheckRaiseDisconnected) {
    RawSocket listener = RawSocket::Listener();
    LateCloseHandler handler;
    char byte = 'x';
    const struct {
        const char* why;
        std::function<int32_t()> call;
    } cases[] = {
        {"Recv", [&] { return handler.Recv(&byte, 1); }},
        {"Send", [&] { return handler.Send(&byte, 1); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        handler.Open();
        handler.ConnectClient("127.0.0.1", listener.LocalPort(), "", 0, 0, 0, Id::TimeoutDefault);
        RawSocket peer = listener.Accept();
        ASSERT_TRUE(peer.Valid());
        handler.Close();
        try {
            const int32_t result = c.call();
            ADD_FAILURE() << "returned " << result;
        } catch (const EIdClosedSocket& e) {
            EXPECT_STREQ(e.what(), "Disconnected.");
        } catch (const std::exception& e) {
            ADD_FAILURE() << "raised " << e.what();
        }
    }
}

// A reader thread blocked on the handler while another thread closes it: the close must
// wake the reader, and the descriptor number must stay taken until the reader has left.
#include "IdException.h"
#include "IdGlobal.h"
#include "IdIOHandlerSocket.h"

#include "ProbeStack.h"
#include "RawSocket.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <chrono>
#include <future>
#include <memory>

namespace {

using namespace std::chrono_literals;

// A handler connected to a peer that never sends, on a ProbeStack.
class BlockedReader : public ::testing::Test {
protected:
    void SetUp() override {
        FHandler = std::make_unique<TIdIOHandlerSocket>();
        FStack = ProbeStack::Active();
        ASSERT_NE(FStack, nullptr);
        Connect();
    }
    void Connect() {
        FHandler->Open();
        FHandler->ConnectClient("127.0.0.1", FListener.LocalPort(), "", 0, 0, 0,
                                Id::TimeoutDefault);
        FPeer = FListener.Accept();
        ASSERT_TRUE(FPeer.Valid());
    }
    // The reader's call (Readable or Recv), started on its own thread once `gate` is armed.
    std::future<int32_t> StartReader(CallGate& gate, bool recv) {
        gate.Arm();
        return std::async(std::launch::async, [this, recv] {
            char buffer[64];
            return recv ? FHandler->Recv(buffer, sizeof(buffer))
                        : int32_t(FHandler->Readable(Id::TimeoutInfinite));
        });
    }

    ProbeStackScope FProbe; // first: the handler's stack must be a ProbeStack
    RawSocket FListener = RawSocket::Listener();
    std::unique_ptr<TIdIOHandlerSocket> FHandler;
    ProbeStack* FStack = nullptr;
    RawSocket FPeer;

    // Declared after a reader's future, so that it runs first when a failed assertion leaves
    // the test early: it opens the gates and the peer's close ends any wait, so the future's
    // destructor does not wait forever.
    struct Unblock {
        BlockedReader& test;
        ~Unblock() {
            test.FStack->RecvGate.Release();
            test.FStack->SelectGate.Release();
            test.FPeer.Close();
        }
    };
};

} // namespace

// Readable answers true (a shut-down socket reads as end of data); Recv returns 0.
TEST_F(BlockedReader, CloseWakesAReaderWaitingInReadableOrRecv) {
    for (bool recv : {false, true}) {
        SCOPED_TRACE(recv ? "Recv" : "Readable");
        if (recv) {
            Connect(); // again, after the first round's close
        }
        CallGate& gate = recv ? FStack->RecvGate : FStack->SelectGate;
        auto reader = StartReader(gate, recv);
        Unblock unblock{*this};
        ASSERT_TRUE(gate.WaitEntered());
        gate.Release(); // do not hold it after the wait: only see that it ends
        FHandler->Close();
        ASSERT_EQ(reader.wait_for(5s), std::future_status::ready) << "the close did not wake it";
        EXPECT_EQ(reader.get(), recv ? 0 : 1);
        // What the reader does next fails cleanly instead of touching a stale descriptor.
        char byte = 0;
        EXPECT_THROW(FHandler->Recv(&byte, 1), EIdClosedSocket);
        EXPECT_THROW(FHandler->Readable(0), EIdConnClosedGracefully);
    }
}

// The reader is held inside the stack's Recv after the close woke it: the descriptor must
// still be open and its number must not be handed to a new socket until the reader leaves.
TEST_F(BlockedReader, DescriptorOutlivesTheCloseUntilTheLastCallLeaves) {
    const int fd = FHandler->Binding()->Handle();
    auto reader = StartReader(FStack->RecvGate, true);
    Unblock unblock{*this};
    ASSERT_TRUE(FStack->RecvGate.WaitEntered());
    FHandler->Close();
    EXPECT_FALSE(FHandler->Connected()) << "marked closed at once";
    ASSERT_TRUE(FStack->RecvGate.WaitReturned()) << "the close did not wake the reader";

    EXPECT_TRUE(DescriptorOpen(fd)) << "closed while a call was still on it";
    RawSocket newcomer(::socket(AF_INET, SOCK_STREAM, 0));
    EXPECT_NE(newcomer.Fd(), fd) << "the number was reused under the reader";

    FStack->RecvGate.Release();
    ASSERT_EQ(reader.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(reader.get(), 0);
    EXPECT_FALSE(DescriptorOpen(fd)) << "the last call to leave closes the descriptor";
}

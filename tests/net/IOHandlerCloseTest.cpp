// A reader thread blocked on the handler while another thread closes it: the close must
// wake the reader, and the descriptor number must stay taken until the reader has left.
#include "IdException.h"
#include "IdGlobal.h"
#include "IdIOHandlerSocket.h"

#include "ProbeStack.h"
#include "RawSocket.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;

// A handler connected to a peer that never sends, on a ProbeStack.
class BlockedReader : public ::testing::Test {
protected:
    void SetUp() override {
        FHandler = std::make_unique<TIdIOHandlerSocket>();
        FStack = ProbeStack::Active();
        ASSERT_NE(FStack, nullptr);
        FHandler->Open();
        FHandler->ConnectClient("127.0.0.1", FListener.LocalPort(), "", 0, 0, 0,
                                Id::TimeoutDefault);
        FPeer = FListener.Accept();
        ASSERT_TRUE(FPeer.Valid());
    }

    ProbeStackScope FProbe; // first: the handler's stack must be a ProbeStack
    RawSocket FListener = RawSocket::Listener();
    std::unique_ptr<TIdIOHandlerSocket> FHandler;
    ProbeStack* FStack = nullptr;
    RawSocket FPeer;

    // Declared after a reader's future, so that it runs first when a failed assertion leaves
    // the test early: it lets the reader go (opens the gates, and the peer's close ends any
    // wait), so the future's destructor does not wait forever.
    struct Unblock {
        BlockedReader& test;
        ~Unblock() {
            test.FStack->RecvGate.Release();
            test.FStack->SelectGate.Release();
            test.FPeer.Close();
        }
    };
    template <typename Result> bool Ends(std::future<Result>& AReader) {
        return AReader.wait_for(5s) == std::future_status::ready;
    }
};

} // namespace

TEST_F(BlockedReader, CloseWakesAReaderWaitingInReadable) {
    FStack->SelectGate.Arm();
    auto reader =
        std::async(std::launch::async, [this] { return FHandler->Readable(Id::TimeoutInfinite); });
    Unblock unblock{*this};
    ASSERT_TRUE(FStack->SelectGate.WaitEntered());
    FStack->SelectGate.Release(); // do not hold it after the wait: only see that it ends
    FHandler->Close();
    ASSERT_TRUE(Ends(reader)) << "the close did not wake it";
    EXPECT_TRUE(reader.get()) << "a shut-down socket reads as ready (end of data)";

    // What the reader does next fails cleanly instead of touching a stale descriptor.
    char byte = 0;
    EXPECT_THROW(FHandler->Recv(&byte, 1), EIdClosedSocket);
    EXPECT_THROW(FHandler->Readable(0), EIdConnClosedGracefully);
}

TEST_F(BlockedReader, CloseWakesAReaderBlockedInRecvWithEndOfData) {
    FStack->RecvGate.Arm();
    auto reader = std::async(std::launch::async, [this] {
        char buffer[64];
        return FHandler->Recv(buffer, sizeof(buffer));
    });
    Unblock unblock{*this};
    ASSERT_TRUE(FStack->RecvGate.WaitEntered());
    FStack->RecvGate.Release();
    FHandler->Close();
    ASSERT_TRUE(Ends(reader)) << "the close did not wake it";
    EXPECT_EQ(reader.get(), 0);
}

// The reader is held inside the stack's Recv after the close woke it: the descriptor must
// still be open and its number must not be handed to a new socket until the reader leaves.
TEST_F(BlockedReader, DescriptorOutlivesTheCloseUntilTheLastCallLeaves) {
    const int fd = FHandler->Binding()->Handle();
    FStack->RecvGate.Arm();
    auto reader = std::async(std::launch::async, [this] {
        char buffer[64];
        return FHandler->Recv(buffer, sizeof(buffer));
    });
    Unblock unblock{*this};
    ASSERT_TRUE(FStack->RecvGate.WaitEntered());
    FHandler->Close();
    EXPECT_FALSE(FHandler->Connected()) << "marked closed at once";
    ASSERT_TRUE(FStack->RecvGate.WaitReturned()) << "the close did not wake the reader";

    EXPECT_TRUE(DescriptorOpen(fd)) << "closed while a call was still on it";
    RawSocket newcomer(::socket(AF_INET, SOCK_STREAM, 0));
    EXPECT_NE(newcomer.Fd(), fd) << "the number was reused under the reader";

    FStack->RecvGate.Release();
    ASSERT_TRUE(Ends(reader));
    EXPECT_EQ(reader.get(), 0);
    EXPECT_FALSE(DescriptorOpen(fd)) << "the last call to leave closes the descriptor";
}

// The reader thread's loop as the connection runs it, against a close from this thread; run
// under ThreadSanitizer this checks the handler's shared state.
TEST_F(BlockedReader, ReaderLoopEndsPromptlyWhenClosedFromAnotherThread) {
    const char hello[] = "hello";
    ASSERT_EQ(::send(FPeer.Fd(), hello, 5, 0), 5);
    std::atomic<int> received{0};
    FStack->SelectGate.Arm();
    auto reader = std::async(std::launch::async, [&] {
        char buffer[64];
        try {
            for (;;) {
                if (!FHandler->Readable(Id::TimeoutInfinite)) {
                    continue;
                }
                const int32_t count = FHandler->Recv(buffer, sizeof(buffer));
                if (count <= 0) {
                    return std::string("end of data");
                }
                received += count;
            }
        } catch (const EIdException& e) {
            return std::string(e.what());
        }
    });
    Unblock unblock{*this};
    ASSERT_TRUE(FStack->SelectGate.WaitEntered());
    FStack->SelectGate.Release();
    // Let the reader take the greeting and block again before the close.
    for (int i = 0; i < 500 && received.load() < 5; ++i) {
        std::this_thread::sleep_for(2ms);
    }
    EXPECT_EQ(received.load(), 5);
    FHandler->Close();
    ASSERT_TRUE(Ends(reader));
    const std::string end = reader.get();
    EXPECT_TRUE(end == "end of data" || end == "Disconnected." ||
                end == "Connection Closed Gracefully.")
        << end;
}

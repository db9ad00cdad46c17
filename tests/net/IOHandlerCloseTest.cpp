// A reader thread inside the handler's Recv while another thread closes it: the descriptor
// number must stay taken until the reader has left.
#include "IdGlobal.h"
#include "IdIOHandlerSocket.h"
#include "ProbeStack.h"
#include "RawSocket.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <chrono>
#include <future>

using namespace std::chrono_literals;

// The reader is held inside the stack's Recv after the close woke it: the descriptor must
// still be open and its number must not be handed to a new socket until the reader leaves.
TEST(IOHandlerClose, DescriptorOutlivesTheCloseUntilTheLastCallLeaves) {
    ProbeStackScope probe; // first: the handler's stack must be a ProbeStack
    RawSocket listener = RawSocket::Listener();
    TIdIOHandlerSocket handler;
    handler.Open();
    handler.ConnectClient("127.0.0.1", listener.LocalPort(), "", 0, 0, 0, Id::TimeoutDefault);
    RawSocket peer = listener.Accept();
    ProbeStack& stack = *ProbeStack::Active();
    const int fd = handler.Binding()->Handle();
    stack.RecvGate.Arm();
    auto reader = std::async(std::launch::async, [&] {
        char buffer[64];
        return handler.Recv(buffer, sizeof(buffer));
    });
    struct Unblock { // a failed assertion must not leave the future waiting for ever
        ProbeStack& stack;
        RawSocket& peer;
        ~Unblock() {
            stack.RecvGate.Release();
            peer.Close();
        }
    } unblock{stack, peer};
    ASSERT_TRUE(stack.RecvGate.WaitEntered());
    handler.Close();
    EXPECT_FALSE(handler.Connected()) << "marked closed at once";
    ASSERT_TRUE(stack.RecvGate.WaitReturned()) << "the close did not wake the reader";
    EXPECT_TRUE(DescriptorOpen(fd)) << "closed while a call was still on it";
    RawSocket newcomer(::socket(AF_INET, SOCK_STREAM, 0));
    EXPECT_NE(newcomer.Fd(), fd) << "the number was reused under the reader";
    stack.RecvGate.Release();
    ASSERT_EQ(reader.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(reader.get(), 0);
    EXPECT_FALSE(DescriptorOpen(fd)) << "the last call to leave closes the descriptor";
}

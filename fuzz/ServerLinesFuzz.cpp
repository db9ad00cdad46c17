// Server lines through the component's per-line entry, every event bound: the tokenizer,
// dispatch, numeric replies, CTCP and DCC decoding and the registry all see hostile text. The
// input is split into lines at LF (a CR before it stays, as the reader would leave it only
// without one). The component is connected to an in-memory handler, so what it answers goes
// nowhere and the reader waits until the disconnect at the end.
//
// After every line the registry must still be whole: every user and channel is found by its
// own name at its own position or an earlier one (an earlier namesake after a rename).
#include "EventLog.h"
#include "IdIRC.h"
#include "IdMainThreadQueue.h"
#include "ScriptedIOHandler.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void Check(bool AHolds, const char* AWhat) {
    if (!AHolds) {
        std::fprintf(stderr, "registry broken: %s\n", AWhat);
        std::abort();
    }
}

void CheckRegistry(TIdIRC& AIrc) {
    TIdIRCUsers& users = AIrc.Users();
    for (int32_t i = 0; i < users.Count(); ++i) {
        int32_t found = -1;
        Check(users.Find(users.Items(i)->Nick(), found) && found <= i, "a user not found");
    }
    TIdIRCChannels& channels = AIrc.Channels();
    for (int32_t i = 0; i < channels.Count(); ++i) {
        int32_t found = -1;
        Check(channels.Find(channels.Items(i)->Name(), found) && found <= i, "a channel not found");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    static const bool registered = [] {
        TIdMainThreadQueue::Instance().RegisterMainThread();
        return true;
    }();
    (void)registered;

    {
        EventLog log; // outlives the component, whose last events it still takes
        auto* handler = new ScriptedIOHandler();
        handler->WaitInRecv = true; // the reader waits in Recv until the disconnect closes it
        TIdIRC irc;
        irc.SetIOHandler(handler);
        irc.SetOwnsIOHandler(true);
        irc.SetHost("127.0.0.1"); // never dialled: the handler is in memory
        irc.SetBoundIP("127.0.0.1");
        irc.SetSendInterval(0);
        irc.SetNick("me");
        irc.SetAltNick("alt");
        log.Bind(irc);
        irc.OnPingPong = [](TIdComponent*) {};
        irc.OnNicksInUse = [](TIdIRC*, std::string& ANick) { ANick += "_"; };
        irc.OnList = [](TIdIRC*, const std::vector<std::string>* AChans, int32_t APosition, bool) {
            Check(APosition >= 0 && size_t(APosition) <= AChans->size(), "a list batch outside");
        };
        handler->Close(); // a new handler counts as connected; the component's Connect opens it
        irc.Connect();

        const std::string input(reinterpret_cast<const char*>(AData), ASize);
        for (size_t from = 0; from <= input.size();) {
            const size_t end = std::min(input.find('\n', from), input.size());
            irc.HandleReceivedLine(input.substr(from, end - from));
            CheckRegistry(irc);
            log.Lines.clear();
            from = end + 1;
        }
        irc.Disconnect(true);
    }
    // What the reader left for the window's thread when it ended.
    TIdMainThreadQueue::Instance().ProcessPending();
    return 0;
}

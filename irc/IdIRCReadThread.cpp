#include "IdIRCReadThread.h"

#include "IdIRC.h"
#include "IdMainThreadQueue.h"

namespace {
const std::string kLF = "\n";
} // namespace

std::shared_ptr<TIdIRCReadLink> TIdIRCReadThread::Start(TIdIRC* AClient) {
    auto link = std::make_shared<TIdIRCReadLink>();
    link->Client = AClient;
    link->Lines.resize(kMaxBatch);
    TIdIRCReadThread* thread = new TIdIRCReadThread(AClient, link);
    link->Thread = thread;
    link->Ended = thread->EndFlag();
    // The tag TIdBaseThread::Synchronize gives the reader's hand-offs.
    link->Owner = static_cast<const TIdBaseThread*>(thread);
    thread->SetFreeOnTerminate(true);
    // Only now: the body must not start (and possibly end and delete the object) before the
    // link knows the thread.
    thread->AfterConstruction();
    return link;
}

TIdIRCReadThread::TIdIRCReadThread(TIdIRC* AClient, std::shared_ptr<TIdIRCReadLink> ALink)
    : TIdThread(false), Client(AClient), FLink(std::move(ALink)) {}

TIdIRCReadThread::~TIdIRCReadThread() {
    std::lock_guard lock(FLink->Lock);
    FLink->Thread = nullptr;
}

void TIdIRCReadThread::DoException(const std::exception& AException) {
    // Every end of reading lands here, the expected ones too (the server closed, the
    // component disconnected while a read or a hand-off was under way): none is a fault to
    // report, so it is only recorded.
    {
        std::lock_guard lock(FLink->Lock);
        FLink->EndedWith = AException.what();
    }
    TIdThread::DoException(AException);
}

int32_t TIdIRCReadThread::CompleteLinesBuffered() const {
    // Only this thread touches the input buffer while it reads. Searched from the end: what
    // follows the last line end is at most one unfinished line, and everything before it is
    // complete lines, so the search is short and each line is scanned only once, by ReadLn.
    const TIdManagedBuffer* buffer = Client->InputBuffer();
    const char* data = buffer->Data();
    for (int32_t at = buffer->Size(); at > 0; --at) {
        if (data[at - 1] == '\n') {
            return at;
        }
    }
    return 0;
}

void TIdIRCReadThread::ReadBatch() {
    TIdIRCReadLink& link = *FLink;
    link.Count = 0;
    link.Next = 0;
    // The wait for the first line: ends with a line, or raises (the server closed, the
    // component disconnected, the line is too long) and so ends the reader.
    Client->ReadLnInto(link.Lines[0], kLF, -1, -1);
    link.Count = 1;
    // Then the complete lines already buffered: ReadLnInto returns each at once, or raises
    // at once for one that is too long. That error waits until the lines before it have been
    // handled.
    const TIdManagedBuffer* buffer = Client->InputBuffer();
    int32_t complete = CompleteLinesBuffered();
    while (link.Count < kMaxBatch && complete > 0) {
        const int32_t before = buffer->Size();
        try {
            Client->ReadLnInto(link.Lines[link.Count], kLF, -1, -1);
        } catch (...) {
            FPendingEnd = std::current_exception();
            break;
        }
        complete -= before - buffer->Size();
        ++link.Count;
    }
}

void TIdIRCReadThread::HandOff(TIdIRCReadLink& ALink) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    size_t handled = 0;
    while (ALink.Next < ALink.Count) {
        // Re-read for every line: a handler may have disconnected, reconnected or destroyed
        // the component.
        TIdIRC* client = ALink.Client;
        if (client == nullptr) {
            ALink.Next = ALink.Count;
            return;
        }
        // Swapped, not copied: the component's previous line buffer comes back to be read
        // into again.
        client->HandleReceivedLine(ALink.Lines[ALink.Next++], true);
        // The clock every few lines only: reading it costs as much as a short line's handling.
        if (++handled % 16 == 0 && Clock::now() - start >= kMaxBatchTime) {
            return; // the rest in the next hand-off, after the window has had its turn
        }
    }
}

void TIdIRCReadThread::Run() {
    TIdIRCReadLink& link = *FLink;
    if (link.Next >= link.Count) {
        ReadBatch();
    }
    // The hand-off holds the link, not this thread: if the component is destroyed from
    // inside it, this thread is released and ends while the call runs on.
    std::shared_ptr<TIdIRCReadLink> shared = FLink;
    Synchronize([shared] { HandOff(*shared); });
    if (Terminated()) {
        return; // let go of by the component: the connection may be another one's by now
    }
    if (link.Next < link.Count) {
        return; // the rest of the batch first
    }
    if (FPendingEnd) {
        std::rethrow_exception(std::exchange(FPendingEnd, nullptr));
    }
    Client->CheckForDisconnect(true, false);
}

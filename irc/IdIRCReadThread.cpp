#include "IdIRCReadThread.h"

#include "IdIRC.h"
#include "IdMainThreadQueue.h"

namespace {
const std::string kLF = "\n";
constexpr size_t kPrefetchDistance = 8; // lines
} // namespace

std::shared_ptr<TIdIRCReadLink> TIdIRCReadThread::Start(TIdIRC* AClient) {
    auto link = std::make_shared<TIdIRCReadLink>();
    link->Client = AClient;
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

void TIdIRCReadThread::ReadBatch(TIdIRCReadBatch& ABatch, bool AWait) {
    ABatch.Count = 0;
    ABatch.Next = 0;
    if (AWait) {
        // Ends with a line, or raises (the server closed, the component disconnected, the
        // line is too long) and so ends the reader.
        ABatch.MakeRoom();
        Client->ReadLnInto(ABatch.Lines[0], kLF, -1, -1);
        SplitIRCLine(ABatch.Lines[0], ABatch.Splits[0]);
        ABatch.Count = 1;
    }
    // Then the complete lines that have arrived, without waiting for more: ReadLnInto returns
    // each at once, or raises at once for one that is too long.
    const TIdManagedBuffer* buffer = Client->InputBuffer();
    try {
        while (ABatch.Count < kMaxBatch) {
            int32_t complete = CompleteLinesBuffered();
            if (complete == 0) {
                // No line end buffered: everything is one unfinished line. Past the line limit
                // it is left to the next waiting read, which reports it, rather than buffered
                // on without end.
                if (buffer->Size() >= Client->MaxLineLength()) {
                    break;
                }
                // As ReadLn checks before it waits: once the peer has closed, an unfinished
                // line left over is no reason to report the end as anything but that close.
                Client->CheckForDisconnect(true, true);
                if (Client->FillInputBuffer(true, 0, false) <= 0) {
                    break;
                }
                continue;
            }
            while (ABatch.Count < kMaxBatch && complete > 0) {
                const int32_t before = buffer->Size();
                ABatch.MakeRoom();
                Client->ReadLnInto(ABatch.Lines[ABatch.Count], kLF, -1, -1);
                SplitIRCLine(ABatch.Lines[ABatch.Count], ABatch.Splits[ABatch.Count]);
                complete -= before - buffer->Size();
                ++ABatch.Count;
            }
        }
    } catch (...) {
        FPendingEnd = std::current_exception();
    }
}

void TIdIRCReadThread::HandOff(TIdIRCReadLink& ALink, size_t ABatch) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    TIdIRCReadBatch& batch = ALink.Batches[ABatch];
    if (ALink.Client != nullptr) {
        ALink.Client->LinesArrived();
    }
    size_t handled = 0;
    while (!batch.Done()) {
        // Re-read for every line: a handler may have disconnected, reconnected or destroyed
        // the component.
        TIdIRC* client = ALink.Client;
        if (client == nullptr) {
            batch.Next = batch.Count;
            return;
        }
        // Swapped, not copied: the component's previous line buffer comes back to be read
        // into again.
        const size_t line = batch.Next++;
        // The reader wrote the lines ahead on another core: asking for them now, rather than
        // when their turn comes, spares a stall on each. In the flood benchmark it saved about
        // a sixth of the window thread's CPU while other work shared the caches; on an idle
        // machine the difference was within the noise.
        if (const size_t ahead = line + kPrefetchDistance; ahead < batch.Count) {
            __builtin_prefetch(batch.Lines[ahead].data());
            __builtin_prefetch(&batch.Splits[ahead]);
            __builtin_prefetch(reinterpret_cast<const char*>(&batch.Splits[ahead]) + 64);
        }
        client->HandleReceivedLine(batch.Lines[line], batch.Splits[line]);
        // The clock every few lines only: reading it costs as much as a short line's handling.
        if (++handled % 16 == 0 && Clock::now() - start >= kMaxBatchTime) {
            return; // the rest in the next hand-off, after the window has had its turn
        }
    }
}

void TIdIRCReadThread::Run() {
    TIdIRCReadLink& link = *FLink;
    TIdIRCReadBatch& due = link.Batches[FDue];
    TIdIRCReadBatch& ahead = link.Batches[1 - FDue];
    if (due.Done()) {
        // Nothing read ahead: what ended reading then, or else the wait for the next line.
        if (FPendingEnd) {
            std::rethrow_exception(std::exchange(FPendingEnd, nullptr));
        }
        Client->CheckForDisconnect(true, false);
        ReadBatch(due, true);
    }
    // The hand-off holds the link, not this thread: if the component is destroyed from
    // inside it, this thread is released and ends while the call runs on.
    std::shared_ptr<TIdIRCReadLink> shared = FLink;
    const size_t index = FDue;
    Post(FTicket, [shared, index] { HandOff(*shared, index); });
    if (ahead.Done() && !FPendingEnd) {
        ReadBatch(ahead, false);
    }
    FTicket.Wait();
    if (Terminated()) {
        return; // let go of by the component: the connection may be another one's by now
    }
    if (due.Done()) {
        FDue = 1 - FDue; // else the rest of the due batch goes first, in the next pass
    }
}

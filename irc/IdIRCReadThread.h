// The IRC component's reader: reads server lines on its own thread and hands them to the
// component on the window's thread, so that every IRC event runs there, in arrival order.
//
// One hand-off carries every complete line that has already arrived (up to kMaxBatch), not
// just one: a blocking hand-off costs tens of microseconds, which would cap a flood far below
// what the transport reads. And while the window's thread handles one batch, the reader reads
// the next from what has arrived meanwhile (two batches, used in turn); it never blocks in a
// read while a batch is out, so the end of a hand-off is always collected at once. What the
// window's thread sees stays that of one line per hand-off:
//  - lines are handled in order, each completely before the next;
//  - an exception from a line's handling ends the reader; the rest of the batch, and the
//    batch read meanwhile, are dropped;
//  - once the component has let go of the reader (its Disconnect, a new Connect, its
//    destruction) no further line of the batch is handled, and a line handed over while the
//    component is csDisconnected raises nothing (the component checks);
//  - a line found too long, or a peer close, after some complete lines ends the reader only
//    after those lines have been handled;
//  - the window's thread stops a batch after kMaxBatchTime and takes the rest in the next
//    hand-off, so it can repaint between two during a flood.
#pragma once

#include "IdIRCTokenizer.h"
#include "IdMainThreadQueue.h"
#include "IdThread.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TIdIRC;
class TIdIRCReadThread;

// Lines read and not yet all handed to the component. Written by the reader while it is not
// handed over, read by the window's thread inside a hand-off; the queue's hand-off orders the
// two.
//
// Each batch has cache lines of its own: the reader counts lines into one batch while the
// window's thread works through the other. Side by side, the two batches shared a line, and
// each line of a flood bounced it between the cores twice; that cost the window's thread
// about a third of its time.
struct alignas(64) TIdIRCReadBatch {
    std::vector<std::string> Lines;
    std::vector<TIdIRCLineSplit> Splits; // of each line in Lines
    size_t Count = 0;                    // lines read into Lines
    size_t Next = 0;                     // the first line not yet handed to the component
    bool Done() const { return Next >= Count; }
    // Room for line Count. The batch grows as lines come, rather than holding kMaxBatch empty
    // entries from the start: a quiet connection uses a handful, and its lines stay in cache.
    void MakeRoom() {
        if (Count == Lines.size()) {
            Lines.emplace_back();
            Splits.emplace_back();
        }
    }
};

// What the component and its reader share. It outlives both: the reader deletes itself when
// it ends, and a hand-off the reader was released from (the component destroyed from inside
// it) may still be running on the window's thread after the reader and the component are gone.
struct TIdIRCReadLink {
    // Window's thread only. The component that wants this reader's lines; cleared when it
    // lets go of the reader. A hand-off finding it null handles nothing more.
    TIdIRC* Client = nullptr;

    TIdIRCReadBatch Batches[2];

    // Set when the reader's thread has ended and the object is gone.
    std::shared_ptr<const std::atomic<bool>> Ended;
    // The tag of the reader's hand-offs in the window's thread's queue.
    const void* Owner = nullptr;

    // Guards the two below: the reader clears Thread in its destructor, so that whoever
    // holds the lock and finds it set may still call it.
    std::mutex Lock;
    TIdIRCReadThread* Thread = nullptr;
    std::string EndedWith; // the message of the exception that ended the reader
};

class TIdIRCReadThread : public TIdThread {
public:
    static constexpr size_t kMaxBatch = 4096;
    static constexpr std::chrono::microseconds kMaxBatchTime{2000};

    // Starts reading at once (free-on-terminate); the returned pointer is the link's Thread.
    static std::shared_ptr<TIdIRCReadLink> Start(TIdIRC* AClient);

    ~TIdIRCReadThread() override;

protected:
    void Run() override;
    void DoException(const std::exception& AException) override;

private:
    TIdIRCReadThread(TIdIRC* AClient, std::shared_ptr<TIdIRCReadLink> ALink);

    // Fills ABatch with the complete lines that have arrived. With AWait it first blocks for
    // one line, and what ends that wait ends the reader; any other end of reading is kept in
    // FPendingEnd, raised once the lines read before it are handled.
    void ReadBatch(TIdIRCReadBatch& ABatch, bool AWait);
    // The length of the buffered bytes that end in a line end: whole lines, ready to take.
    int32_t CompleteLinesBuffered() const;
    // On the window's thread, inside the hand-off.
    static void HandOff(TIdIRCReadLink& ALink, size_t ABatch);

    TIdIRC* const Client;
    const std::shared_ptr<TIdIRCReadLink> FLink;
    // What ended reading after the lines read so far: raised once they are handled.
    std::exception_ptr FPendingEnd;
    size_t FDue = 0; // the batch to hand over next; the other one is read ahead
    // The hand-off of the due batch while it is out. Declared last: destroyed first, it waits
    // for a hand-off still out before the batches it uses can go.
    TIdMainThreadQueue::TTicket FTicket;
};

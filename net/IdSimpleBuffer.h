// A growable in-memory byte stream, and the buffer the connection and the intercepts pass
// received and sent blocks in.
#pragma once

#include "IdEvents.h"

#include <cstdint>
#include <string>

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

// The memory stream underneath: one block of Size() bytes at Memory(), a read/write position
// and a capacity that grows geometrically, so appending many small blocks stays linear.
// TIdManagedBuffer reinterprets the front of the block; everything that must respect that
// goes through the virtual Seek, Size and Data.
class TIdSimpleBuffer {
public:
    TIdSimpleBuffer() = default;
    virtual ~TIdSimpleBuffer();
    TIdSimpleBuffer(const TIdSimpleBuffer&) = delete;
    TIdSimpleBuffer& operator=(const TIdSimpleBuffer&) = delete;

    // Fired after every Remove with the count removed.
    TIdBytesRemovedEvent OnBytesRemoved;

    // Stream operations. Seek returns the new position as the stream reports positions.
    virtual int32_t Seek(int32_t AOffset, TSeekOrigin AOrigin);
    int32_t Position() { return Seek(0, soCurrent); }
    void SetPosition(int32_t APosition) { Seek(APosition, soBeginning); }
    // The number of readable bytes: the whole block here, the unconsumed part in a
    // managed buffer.
    virtual int32_t Size() const { return FSize; }
    // Resizes the physical block (the position is kept unless it would lie beyond the end).
    void SetSize(int32_t ANewSize);
    // Reads or writes at the position and advances it; a write beyond the end grows the block.
    int32_t Read(void* ABuffer, int32_t ACount);
    int32_t Write(const void* ABuffer, int32_t ACount);
    // Size 0, position 0, memory released.
    virtual void Clear();
    // Appending without an intermediate copy: AppendSpace makes room for ACount bytes at the
    // physical end and returns where they go; Appended adds the AWritten bytes put there to
    // the size and leaves the position at the end, as Seek(0, soEnd) and Write would.
    char* AppendSpace(int32_t ACount);
    void Appended(int32_t AWritten);

    // The physical block, and where the readable bytes start within it.
    char* Memory() { return FMemory; }
    const char* Memory() const { return FMemory; }
    virtual const char* Data() const { return FMemory; }
    int32_t Capacity() const { return FCapacity; }

    // Returns the first ACount bytes and removes them. Raises EIdNotEnoughDataInBuffer when
    // fewer are buffered; a negative count is treated as 0.
    virtual std::string Extract(int32_t ACount);
    // Drops the first ACount bytes. Removing everything releases the memory; otherwise the
    // rest moves to the front.
    virtual void Remove(int32_t ACount);

protected:
    // The physical size and position, whatever Size and Seek report.
    int32_t PhysicalSize() const { return FSize; }
    int32_t PhysicalPosition() const { return FPosition; }
    void SetPhysicalPosition(int32_t APosition) { FPosition = APosition; }

private:
    void Reserve(int32_t ACapacity);

    char* FMemory = nullptr;
    int32_t FSize = 0;
    int32_t FPosition = 0;
    int32_t FCapacity = 0;
};

// The connection's input buffer: a byte queue consumed from the front without moving
// memory on every read.
#pragma once

#include "IdSimpleBuffer.h"

// Removing from the front only advances ConsumedCount; the bytes still buffered are moved
// down once PackThreshold consumed bytes have piled up, so cutting many short lines out of a
// large receipt costs no copying per line. Seeks from the beginning and all reported
// positions are logical (relative to the first unconsumed byte); seeks from the current
// position or the end are physical. New bytes are always appended at the physical end.
class TIdManagedBuffer : public TIdSimpleBuffer {
public:
    // Final: the connection calls these once per line, and they are then bound directly.
    int32_t Seek(int32_t AOffset, TSeekOrigin AOrigin) override;
    int32_t Size() const final { return PhysicalSize() - FConsumedCount; }
    const char* Data() const final { return Memory() + FConsumedCount; }

    void Clear() override;
    // Inline for the common case, a part of the data (one line after another): the
    // connection's line reader calls it for every line.
    void Remove(int32_t ACount) final {
        if (ACount > 0 && ACount < Size()) {
            FConsumedCount += ACount;
            if (FConsumedCount >= FPackThreshold) {
                Compact();
            }
            RaiseEvent(OnBytesRemoved, this, ACount);
        } else {
            RemoveUncommon(ACount);
        }
    }
    // Remove for an owner that reports removals itself (the connection's line reader takes
    // every line this way): no OnBytesRemoved, and emptying keeps the block, so the next
    // receipt does not allocate it again.
    void Consume(int32_t ACount) {
        if (ACount > 0 && ACount < Size()) {
            FConsumedCount += ACount;
            if (FConsumedCount >= FPackThreshold) {
                Compact();
            }
        } else {
            ConsumeUncommon(ACount);
        }
    }
    // Moves the unconsumed bytes to the start of the block.
    void Compact();

    int32_t PackThreshold() const { return FPackThreshold; }
    void SetPackThreshold(int32_t AValue) { FPackThreshold = AValue; }
    int32_t ConsumedCount() const { return FConsumedCount; }

private:
    // Remove for the counts the inline part leaves: none, all, or more than is buffered.
    void RemoveUncommon(int32_t ACount);
    void ConsumeUncommon(int32_t ACount);

    int32_t FPackThreshold = 32768;
    int32_t FConsumedCount = 0;
};

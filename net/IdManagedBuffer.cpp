#include "IdManagedBuffer.h"

#include "IdException.h"

#include <algorithm>
#include <cstring>

int32_t TIdManagedBuffer::Seek(int32_t AOffset, TSeekOrigin AOrigin) {
    if (AOrigin == soBeginning) {
        AOffset += FConsumedCount;
    }
    return TIdSimpleBuffer::Seek(AOffset, AOrigin) - FConsumedCount;
}

void TIdManagedBuffer::Clear() {
    TIdSimpleBuffer::Clear();
    FConsumedCount = 0;
}

void TIdManagedBuffer::RemoveUncommon(int32_t ACount) {
    ACount = std::max(ACount, 0);
    if (ACount > Size()) {
        throw EIdNotEnoughDataInBuffer();
    }
    if (ACount == Size()) {
        Clear();
    } else if (FConsumedCount >= FPackThreshold) {
        Compact(); // nothing consumed now, but the threshold may have been lowered
    }
    RaiseEvent(OnBytesRemoved, this, ACount);
}

void TIdManagedBuffer::ConsumeUncommon(int32_t ACount) {
    if (ACount > Size()) {
        throw EIdNotEnoughDataInBuffer();
    }
    if (ACount > 0) { // all of it
        SetSize(0);
        FConsumedCount = 0;
    }
}

void TIdManagedBuffer::Compact() {
    if (FConsumedCount <= 0) {
        return;
    }
    int32_t logical = Size();
    std::memmove(Memory(), Memory() + FConsumedCount, size_t(logical));
    // Keep the position on the same byte.
    int32_t position = std::max(PhysicalPosition() - FConsumedCount, 0);
    SetSize(logical);
    SetPhysicalPosition(std::min(position, logical));
    FConsumedCount = 0;
}

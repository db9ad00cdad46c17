#include "IdSimpleBuffer.h"

#include "IdException.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

TIdSimpleBuffer::~TIdSimpleBuffer() {
    std::free(FMemory);
}

int32_t TIdSimpleBuffer::Seek(int32_t AOffset, TSeekOrigin AOrigin) {
    switch (AOrigin) {
    case soBeginning:
        FPosition = AOffset;
        break;
    case soCurrent:
        FPosition += AOffset;
        break;
    case soEnd:
        FPosition = FSize + AOffset;
        break;
    }
    return FPosition;
}

void TIdSimpleBuffer::Reserve(int32_t ACapacity) {
    if (ACapacity <= FCapacity) {
        return;
    }
    // Doubling keeps a long line that arrives in many receipts linear to collect; 8 KiB
    // steps keep tiny buffers from reallocating on every append.
    int64_t grown = std::max<int64_t>(ACapacity, int64_t(FCapacity) * 2);
    grown = (grown + 8191) & ~int64_t(8191);
    grown = std::min<int64_t>(grown, INT32_MAX);
    char* memory = static_cast<char*>(std::realloc(FMemory, size_t(grown)));
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    FMemory = memory;
    FCapacity = int32_t(grown);
}

void TIdSimpleBuffer::SetSize(int32_t ANewSize) {
    ANewSize = std::max(ANewSize, 0);
    Reserve(ANewSize);
    FSize = ANewSize;
    if (FPosition > FSize) {
        FPosition = FSize;
    }
}

int32_t TIdSimpleBuffer::Read(void* ABuffer, int32_t ACount) {
    if (FPosition < 0 || ACount <= 0 || FPosition >= FSize) {
        return 0;
    }
    int32_t count = std::min(ACount, FSize - FPosition);
    std::memcpy(ABuffer, FMemory + FPosition, size_t(count));
    FPosition += count;
    return count;
}

int32_t TIdSimpleBuffer::Write(const void* ABuffer, int32_t ACount) {
    if (FPosition < 0 || ACount <= 0) {
        return 0;
    }
    int64_t end = int64_t(FPosition) + ACount;
    if (end > INT32_MAX) {
        throw std::bad_alloc();
    }
    if (end > FSize) {
        Reserve(int32_t(end));
        FSize = int32_t(end);
    }
    std::memcpy(FMemory + FPosition, ABuffer, size_t(ACount));
    FPosition = int32_t(end);
    return ACount;
}

char* TIdSimpleBuffer::AppendSpace(int32_t ACount) {
    if (int64_t(FSize) + std::max(ACount, 0) > INT32_MAX) {
        throw std::bad_alloc();
    }
    Reserve(FSize + std::max(ACount, 0));
    return FMemory + FSize;
}

void TIdSimpleBuffer::Appended(int32_t AWritten) {
    FSize += std::clamp(AWritten, 0, FCapacity - FSize);
    FPosition = FSize;
}

void TIdSimpleBuffer::Clear() {
    std::free(FMemory);
    FMemory = nullptr;
    FSize = 0;
    FPosition = 0;
    FCapacity = 0;
}

std::string TIdSimpleBuffer::Extract(int32_t ACount) {
    ACount = std::max(ACount, 0);
    if (ACount > Size()) {
        throw EIdNotEnoughDataInBuffer();
    }
    std::string result(Data(), size_t(ACount));
    Remove(ACount);
    return result;
}

void TIdSimpleBuffer::Remove(int32_t ACount) {
    ACount = std::max(ACount, 0);
    if (ACount > FSize) {
        throw EIdNotEnoughDataInBuffer();
    }
    if (ACount == FSize) {
        Clear();
    } else {
        std::memmove(FMemory, FMemory + ACount, size_t(FSize - ACount));
        FSize -= ACount;
        FPosition = std::clamp(FPosition - ACount, 0, FSize);
    }
    RaiseEvent(OnBytesRemoved, this, ACount);
}

#include "IdException.h"
#include "IdManagedBuffer.h"
#include "IdSimpleBuffer.h"
#include "Waiting.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

std::string Pattern(int n) {
    std::string s(size_t(n), '\0');
    for (int i = 0; i < n; ++i) {
        s[size_t(i)] = char('a' + i % 26);
    }
    return s;
}

void Append(TIdSimpleBuffer& buffer, const std::string& bytes) {
    buffer.Seek(0, soEnd);
    buffer.Write(bytes.data(), int32_t(bytes.size()));
}

std::string Logical(const TIdSimpleBuffer& buffer) {
    return std::string(buffer.Data(), size_t(buffer.Size()));
}

} // namespace

// Both buffer kinds must behave the same to a reader that only extracts from the front.
TEST(Buffer, ExtractAndRemoveFromTheFrontInBothKinds) {
    for (bool managed : {false, true}) {
        SCOPED_TRACE(managed ? "managed" : "simple");
        std::unique_ptr<TIdSimpleBuffer> buffer =
            managed ? std::make_unique<TIdManagedBuffer>() : std::make_unique<TIdSimpleBuffer>();
        std::vector<int32_t> removed;
        buffer->OnBytesRemoved = [&](TIdSimpleBuffer* sender, int32_t count) {
            removed.push_back(count);
            EXPECT_EQ(sender->Size(), removed.size() == 1 ? 7 : 0)
                << "fired after the bytes are gone";
        };
        Append(*buffer, "0123456789");
        EXPECT_EQ(buffer->Extract(3), "012");
        // Beyond the buffered bytes: the fixed text, nothing removed, no event.
        EXPECT_EQ(TestSupport::Raised<EIdNotEnoughDataInBuffer>([&] { buffer->Extract(8); }),
                  "Not enough data in buffer.");
        EXPECT_THROW(buffer->Remove(8), EIdNotEnoughDataInBuffer);
        EXPECT_EQ(Logical(*buffer), "3456789");
        // Exactly what is left: emptied and the memory released.
        EXPECT_EQ(buffer->Extract(7), "3456789");
        EXPECT_EQ(buffer->Capacity(), 0);
        EXPECT_EQ(removed, (std::vector<int32_t>{3, 7}));
        EXPECT_EQ(buffer->Extract(0), "");
    }
}

// Removals below 32768 consumed bytes only advance the count; reaching it exactly moves the
// rest to the front and starts the count over.
TEST(ManagedBuffer, CompactsWhenConsumedBytesReachTheThreshold) {
    TIdManagedBuffer buffer;
    const std::string all = Pattern(40000);
    Append(buffer, all);
    buffer.Remove(32000);
    EXPECT_EQ(buffer.Extract(767), all.substr(32000, 767));
    EXPECT_EQ(buffer.ConsumedCount(), 32767);
    EXPECT_NE(buffer.Data(), buffer.Memory());
    EXPECT_EQ(buffer.Extract(1), all.substr(32767, 1));
    EXPECT_EQ(buffer.ConsumedCount(), 0);
    EXPECT_EQ(buffer.Data(), buffer.Memory());
    EXPECT_EQ(Logical(buffer), all.substr(32768));
    buffer.Remove(buffer.Size()); // exactly the size: the count starts over, memory released
    EXPECT_EQ(buffer.ConsumedCount(), 0);
    EXPECT_EQ(buffer.Capacity(), 0);
    Append(buffer, "xyz");
    EXPECT_EQ(buffer.Data(), buffer.Memory());
}

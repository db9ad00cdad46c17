#include "IdException.h"
#include "IdManagedBuffer.h"
#include "IdSimpleBuffer.h"

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
        std::unique_ptr<TIdSimpleBuffer> buffer;
        if (managed) {
            buffer = std::make_unique<TIdManagedBuffer>();
        } else {
            buffer = std::make_unique<TIdSimpleBuffer>();
        }
        std::vector<int32_t> removed;
        buffer->OnBytesRemoved = [&](TIdSimpleBuffer* sender, int32_t count) {
            EXPECT_EQ(sender, buffer.get());
            removed.push_back(count);
            // Fired after the bytes are gone.
            EXPECT_EQ(sender->Size(), 10 - (removed.size() == 1 ? 3 : 10));
        };
        Append(*buffer, "0123456789");
        EXPECT_EQ(buffer->Extract(3), "012");
        EXPECT_EQ(Logical(*buffer), "3456789");

        // Beyond the buffered bytes: the fixed text, nothing removed, no event.
        try {
            buffer->Extract(8);
            ADD_FAILURE() << "no exception";
        } catch (const EIdNotEnoughDataInBuffer& e) {
            EXPECT_STREQ(e.what(), "Not enough data in buffer.");
        }
        EXPECT_THROW(buffer->Remove(8), EIdNotEnoughDataInBuffer);
        EXPECT_EQ(Logical(*buffer), "3456789");

        // Exactly what is left: emptied and the memory released.
        EXPECT_EQ(buffer->Extract(7), "3456789");
        EXPECT_EQ(buffer->Size(), 0);
        EXPECT_EQ(buffer->Capacity(), 0);
        EXPECT_EQ(removed, (std::vector<int32_t>{3, 7}));
        // Extract(0) of an empty buffer is a valid empty read.
        EXPECT_EQ(buffer->Extract(0), "");
    }
}

TEST(ManagedBuffer, RemovingExactlyTheSizeResetsTheConsumedCount) {
    TIdManagedBuffer buffer;
    Append(buffer, Pattern(100));
    buffer.Remove(40);
    EXPECT_EQ(buffer.ConsumedCount(), 40);
    EXPECT_EQ(buffer.Size(), 60);
    buffer.Remove(60);
    EXPECT_EQ(buffer.ConsumedCount(), 0);
    EXPECT_EQ(buffer.Size(), 0);
    EXPECT_EQ(buffer.Capacity(), 0);
    // Bytes appended afterwards start the block again.
    Append(buffer, "xyz");
    EXPECT_EQ(Logical(buffer), "xyz");
    EXPECT_EQ(buffer.Data(), buffer.Memory());
}

// Small removals only advance the consumed count; the data is moved once the threshold of
// 32768 consumed bytes is reached, and then the count starts over.
TEST(ManagedBuffer, CompactsOnceWhenConsumedBytesReachTheThreshold) {
    TIdManagedBuffer buffer;
    EXPECT_EQ(buffer.PackThreshold(), 32768);
    const std::string all = Pattern(50000);
    Append(buffer, all);
    int compactions = 0;
    int32_t consumed = 0;
    std::string read;
    // 1000-byte steps cross 32768 at the 33rd step; 4096-byte steps would land on it exactly.
    for (int step = 0; step < 45; ++step) {
        int32_t before = buffer.ConsumedCount();
        read += buffer.Extract(1000);
        consumed += 1000;
        if (buffer.ConsumedCount() < before) {
            ++compactions;
            EXPECT_EQ(consumed, 33000) << "compacted at the wrong point";
            EXPECT_EQ(buffer.ConsumedCount(), 0);
            EXPECT_EQ(buffer.Data(), buffer.Memory());
        }
        ASSERT_EQ(buffer.Size(), 50000 - consumed);
    }
    EXPECT_EQ(compactions, 1);
    EXPECT_EQ(buffer.ConsumedCount(), 12000);
    EXPECT_EQ(read + Logical(buffer), all);

    // Exactly at the threshold counts too.
    TIdManagedBuffer exact;
    Append(exact, Pattern(40000));
    exact.Remove(32767);
    EXPECT_EQ(exact.ConsumedCount(), 32767);
    exact.Remove(1);
    EXPECT_EQ(exact.ConsumedCount(), 0);
    EXPECT_EQ(Logical(exact), Pattern(40000).substr(32768));
}

// Positions are reported relative to the first unconsumed byte; seeking from the beginning
// lands on it; appends go to the physical end whatever has been consumed.
TEST(ManagedBuffer, SeeksAreLogicalFromTheBeginningAndAppendsGoToTheEnd) {
    TIdManagedBuffer buffer;
    Append(buffer, "0123456789");
    buffer.Remove(4);
    EXPECT_EQ(buffer.Seek(0, soEnd), 6);
    EXPECT_EQ(buffer.Seek(0, soBeginning), 0);
    char c = 0;
    ASSERT_EQ(buffer.Read(&c, 1), 1);
    EXPECT_EQ(c, '4');
    EXPECT_EQ(buffer.Position(), 1);
    Append(buffer, "AB");
    EXPECT_EQ(Logical(buffer), "456789AB");
    buffer.SetPosition(2);
    buffer.Compact();
    // Compaction keeps the position on the same byte.
    ASSERT_EQ(buffer.Read(&c, 1), 1);
    EXPECT_EQ(c, '6');
    EXPECT_EQ(Logical(buffer), "456789AB");
}

TEST(SimpleBuffer, StreamWritesGrowAndReadsStopAtTheEnd) {
    TIdSimpleBuffer buffer;
    const std::string big = Pattern(70000);
    // Many small appends, as a long line arriving in pieces would.
    for (size_t i = 0; i < big.size(); i += 7) {
        std::string piece = big.substr(i, 7);
        ASSERT_EQ(buffer.Write(piece.data(), int32_t(piece.size())), int32_t(piece.size()));
    }
    EXPECT_EQ(Logical(buffer), big);
    buffer.SetPosition(69998);
    char out[8] = {};
    EXPECT_EQ(buffer.Read(out, 8), 2);
    EXPECT_EQ(buffer.Read(out, 8), 0);
    buffer.SetSize(5);
    EXPECT_EQ(buffer.Position(), 5);
    EXPECT_EQ(Logical(buffer), "abcde");
    buffer.Remove(2);
    EXPECT_EQ(Logical(buffer), "cde");
    EXPECT_EQ(buffer.Data(), buffer.Memory());
}

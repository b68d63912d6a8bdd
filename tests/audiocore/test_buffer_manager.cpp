// Intrusive lists, audio blocks and the linked-list buffer manager.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "audiocore/CAudioBlock.h"
#include "audiocore/CBufferManagerLL.h"
#include "audiocore/LinkedList.h"

using namespace Kelvane::AudioCore;
using Bytes = std::vector<unsigned char>;

namespace {

Bytes Ramp(unsigned int n, unsigned char start = 0) {
    Bytes v(n);
    std::iota(v.begin(), v.end(), start);
    return v;
}

Bytes Content(const CAudioBlock& b) {
    return Bytes(b.AudioData(), b.AudioData() + b.BufferLength());
}

std::vector<ListElement*> Walk(const LinkedList& list) {
    std::vector<ListElement*> out;
    for (ListElement* e = list.getHead(); e != nullptr; e = e->GetNext()) out.push_back(e);
    return out;
}

}  // namespace

TEST(LinkedList, AddRemoveKeepsOrderLinksAndCount) {
    LinkedList list;
    ListElement a, b, c;
    list.add(nullptr);
    EXPECT_TRUE(list.isListEmpty());
    EXPECT_EQ(list.getTail(), nullptr);
    list.add(&a);
    list.add(&b);
    list.add(&c);
    EXPECT_EQ(Walk(list), (std::vector<ListElement*>{&a, &b, &c}));
    EXPECT_EQ(list.size(), 3u);
    EXPECT_EQ(list.getTail(), &c);
    EXPECT_EQ(c.GetPrevious(), &b);

    EXPECT_EQ(list.remove(&b), &b);  // middle
    EXPECT_EQ(Walk(list), (std::vector<ListElement*>{&a, &c}));
    EXPECT_EQ(c.GetPrevious(), &a);
    EXPECT_EQ(list.remove(&b), nullptr);  // no longer there
    EXPECT_EQ(list.size(), 2u);
    EXPECT_EQ(list.remove(&a), &a);  // head
    EXPECT_EQ(list.getHead(), &c);
    EXPECT_EQ(c.GetPrevious(), nullptr);
    EXPECT_EQ(list.remove(&c), &c);
    EXPECT_TRUE(list.isListEmpty());
    EXPECT_EQ(list.size(), 0u);
    EXPECT_EQ(list.remove(&c), nullptr);  // empty list
}

TEST(LinkedList, SameElementIsNeverLinkedTwice) {
    // The meter registers each callback as result and as binary-result callback, which both
    // land in the same list; the second add must neither loop the element nor count it twice.
    LinkedList results, logs;
    ListElement callback;
    results.add(&callback);
    results.add(&callback);
    logs.add(&callback);  // the sole element of a second list
    EXPECT_EQ(results.size(), 1u);
    EXPECT_EQ(callback.GetNext(), nullptr);
    EXPECT_EQ(results.remove(&callback), &callback);
    EXPECT_EQ(logs.remove(&callback), &callback);
    EXPECT_EQ(results.remove(&callback), nullptr);  // second unregister finds nothing
    EXPECT_EQ(results.size(), 0u);
    EXPECT_EQ(logs.size(), 0u);
}

TEST(CAudioBlock, OwnsAppendsAndCopies) {
    auto bytes = Ramp(6, 10);
    CAudioBlock block(bytes.data(), 6, 2, 48000, 16, FOUR_BYTES_INT32, 77);
    bytes[0] = 0;  // the block holds its own copy
    const auto more = Ramp(3, 100);
    EXPECT_EQ(block.Append(more.data(), 3), 9u);
    EXPECT_EQ(Content(block), (Bytes{10, 11, 12, 13, 14, 15, 100, 101, 102}));

    // The copy constructor keeps everything; Copy() drops packing mode and timestamp.
    CAudioBlock same(block);
    std::unique_ptr<CAudioBlock> copy(block.Copy());
    for (const CAudioBlock* c : {&same, copy.get()}) {
        EXPECT_NE(c->AudioData(), block.AudioData());
        EXPECT_EQ(Content(*c), Content(block));
        EXPECT_EQ(c->Channels(), 2);
        EXPECT_EQ(c->SamplesPerSec(), 48000);
        EXPECT_EQ(c->BitsPerSample(), 16);
    }
    EXPECT_EQ(same.Timestamp(), 77u);
    EXPECT_EQ(same.PackingMode(), FOUR_BYTES_INT32);
    EXPECT_EQ(copy->Timestamp(), 0u);
    EXPECT_EQ(copy->PackingMode(), PACKING_MODE_NOT_USED);

    CAudioBlock empty(nullptr, 100, 1, 8000, 16, PACKING_MODE_NOT_USED, 0);
    EXPECT_EQ(empty.AudioData(), nullptr);
    EXPECT_EQ(empty.BufferLength(), 0u);
    EXPECT_EQ(empty.Append(more.data(), 3), 3u);
}

TEST(CBufferManagerLL, ConstructorRefusesUnusableParameters) {
    EXPECT_TRUE(CBufferManagerLL(0, 0).GetError());
    EXPECT_TRUE(CBufferManagerLL(1024, 2000).GetError());
    EXPECT_FALSE(CBufferManagerLL(1024, 2048).GetError());
    EXPECT_FALSE(CBufferManagerLL(1024, 0).GetError());
    EXPECT_TRUE(CBufferManagerLL(0x80000000u, 0xFFFFFFFFu).GetError());  // 2x block wraps 32 bits

    CBufferManagerLL refused(0, 0);
    unsigned char* block = nullptr;
    unsigned char dest[16];
    EXPECT_EQ(refused.GetData(&block), -1);
    EXPECT_EQ(refused.GetData(dest, 16), -1);
    EXPECT_EQ(refused.PutData(dest, 1, nullptr), -1);
}

TEST(CBufferManagerLL, CapacityAndFillPercent) {
    CBufferManagerLL buffer(1024, 2048);
    auto data = Ramp(2000);
    unsigned int fill = 999;
    EXPECT_EQ(buffer.PutData(data.data(), 2000, &fill), 2000);
    EXPECT_EQ(fill, 97u);  // 100 * 2000 / 2048 = 97.66, truncated
    EXPECT_EQ(buffer.PutData(data.data(), 100, &fill), -3);
    EXPECT_EQ(buffer.PutData(data.data(), 48, nullptr), 48);
    EXPECT_EQ(buffer.GetFillPercent(), 100u);
    EXPECT_EQ(buffer.PutData(nullptr, 0, nullptr), 0);  // full, but nothing to add
    EXPECT_EQ(buffer.PutData(data.data(), 1, nullptr), -3);

    // Taking a block frees capacity only once its chunks are fully consumed.
    unsigned char* block = nullptr;
    EXPECT_EQ(buffer.GetData(&block), 1024);
    EXPECT_EQ(buffer.GetAvailableBytes(), 1024u);
    EXPECT_EQ(buffer.GetHeldBytes(), 2048u);  // the head chunk is partly read
    EXPECT_EQ(buffer.PutData(data.data(), 1, nullptr), -3);
    EXPECT_EQ(buffer.GetData(&block), 1024);
    EXPECT_EQ(buffer.GetHeldBytes(), 0u);
    EXPECT_EQ(buffer.PutData(data.data(), 1, &fill), 1);
    EXPECT_EQ(fill, 0u);

    CBufferManagerLL unlimited(16, 0);
    EXPECT_EQ(unlimited.PutData(data.data(), 2000, &fill), 2000);
    EXPECT_EQ(fill, 0u);
    EXPECT_EQ(unlimited.PutData(data.data(), 0, &fill), 0);
    EXPECT_EQ(unlimited.PutData(nullptr, 5, &fill), 0);
}

TEST(CBufferManagerLL, WholeBlocksAreAssembledAcrossChunksInOrder) {
    CBufferManagerLL buffer(1024, 0);
    auto data = Ramp(1100);
    unsigned char* block = reinterpret_cast<unsigned char*>(1);
    EXPECT_EQ(buffer.GetData(static_cast<unsigned char**>(nullptr)), -1);
    EXPECT_EQ(buffer.PutData(data.data(), 1000, nullptr), 1000);
    EXPECT_EQ(buffer.GetData(&block), 0);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(buffer.PutData(data.data() + 1000, 100, nullptr), 100);
    EXPECT_EQ(buffer.GetData(&block), 1024);
    EXPECT_EQ(buffer.GetAvailableBytes(), 76u);
    EXPECT_EQ(Bytes(block, block + 1024), Bytes(data.begin(), data.begin() + 1024));

    // Many small pieces make one block; the rest stays queued in order.
    CBufferManagerLL small(8, 0);
    auto ramp = Ramp(21);
    for (unsigned i = 0; i < 21; i += 3) small.PutData(ramp.data() + i, 3, nullptr);
    Bytes seen;
    while (small.GetData(&block) == 8) seen.insert(seen.end(), block, block + 8);
    EXPECT_EQ(seen, Bytes(ramp.begin(), ramp.begin() + 16));
    unsigned char rest[16];
    EXPECT_EQ(small.GetData(rest, 16), 5);
    EXPECT_EQ(Bytes(rest, rest + 5), Bytes(ramp.begin() + 16, ramp.end()));
    EXPECT_EQ(small.GetData(rest, 16), 0);
}

TEST(CBufferManagerLL, RemainderOnlyWhenNoWholeBlockIsLeft) {
    CBufferManagerLL buffer(1024, 0);
    auto data = Ramp(1500);
    unsigned char dest[1024];
    EXPECT_EQ(buffer.GetData(static_cast<unsigned char*>(nullptr), 100), -1);
    EXPECT_EQ(buffer.GetData(dest, 1), -1);
    EXPECT_EQ(buffer.GetData(dest, 100), 0);  // empty
    buffer.PutData(data.data(), 1500, nullptr);
    EXPECT_EQ(buffer.GetData(dest, 1024), -2);

    CBufferManagerLL rest(1024, 0);
    rest.PutData(data.data(), 700, nullptr);
    EXPECT_EQ(rest.GetData(dest, 500), 500);
    EXPECT_EQ(rest.GetAvailableBytes(), 200u);
    EXPECT_EQ(dest[499], data[499]);
    EXPECT_EQ(rest.GetData(dest, 500), 200);
    EXPECT_EQ(dest[0], data[500]);
    EXPECT_EQ(rest.GetHeldBytes(), 0u);
}

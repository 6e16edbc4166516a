#include "audio/pcm_queue.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <vector>

namespace {

using vxs::PCMQueue;
using vxs::PCMQueuePtr;

// Bytes counting up from `first`, so that order and identity are visible.
std::vector<uint8_t> ramp(int count, int first = 0) {
    std::vector<uint8_t> bytes(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(first + i);
    return bytes;
}

std::vector<uint8_t> take(PCMQueue& queue, int size, bool remaining) {
    std::vector<uint8_t> out(static_cast<size_t>(size > 0 ? size : 1));
    const int count = queue.dequeSamples(out.data(), size, remaining);
    out.resize(static_cast<size_t>(count > 0 ? count : 0));
    return out;
}

TEST(PCMQueueTest, CapacityChoosesTheMode) {
    for (int capacity : {0, -5}) {
        PCMQueuePtr queue = PCMQueue::newQueue(capacity);
        ASSERT_TRUE(queue);
        EXPECT_FALSE(queue->isLoopMode());
        EXPECT_EQ(0, queue->capacity());
        EXPECT_FALSE(queue->haveData());
    }
    PCMQueuePtr ring = PCMQueue::newQueue(4);
    ASSERT_TRUE(ring);
    EXPECT_TRUE(ring->isLoopMode());
    EXPECT_EQ(4, ring->capacity());
}

// ---- linear mode ----

TEST(PCMQueueLinearTest, GrowsToExactlyWhatIsHeld) {
    PCMQueuePtr queue = PCMQueue::newQueue(0);
    const std::vector<uint8_t> bytes = ramp(5000);
    EXPECT_EQ(3000, queue->queueAudio(bytes.data(), 3000));
    EXPECT_EQ(3000, queue->capacity());
    EXPECT_EQ(5000, queue->queueAudio(bytes.data() + 3000, 2000));
    EXPECT_EQ(5000, queue->capacity());
    EXPECT_EQ(5000, queue->queueAudio(bytes.data(), 0));
    EXPECT_EQ(bytes, take(*queue, 5000, false));
}

TEST(PCMQueueLinearTest, DequeTakesFullBlocksOrTheRemainderWhenAsked) {
    PCMQueuePtr queue = PCMQueue::newQueue(0);
    const std::vector<uint8_t> bytes = ramp(5000);
    queue->queueAudio(bytes.data(), 5000);

    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 3200), take(*queue, 3200, false));
    EXPECT_EQ(1800, queue->length());
    EXPECT_TRUE(take(*queue, 3200, false).empty());
    EXPECT_EQ(1800, queue->length());

    std::vector<uint8_t> peek(3200);
    EXPECT_EQ(0, queue->readSamples(peek.data(), 3200, false));
    EXPECT_EQ(1800, queue->readSamples(peek.data(), 3200, true));
    EXPECT_EQ(1800, queue->length());  // reading keeps the bytes

    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 3200, bytes.end()), take(*queue, 3200, true));
    EXPECT_FALSE(queue->haveData());
    EXPECT_TRUE(take(*queue, 3200, true).empty());
}

// Pushes and pulls of uneven sizes: the bytes come out in order however the
// buffer is reused and grown.
TEST(PCMQueueLinearTest, MixedPushesAndPullsKeepTheOrder) {
    PCMQueuePtr queue = PCMQueue::newQueue(0);
    std::deque<uint8_t> model;
    int next = 0;
    for (int round = 0; round < 300; ++round) {
        const int pushed = 1 + (round * 37) % 500;
        const std::vector<uint8_t> bytes = ramp(pushed, next);
        next += pushed;
        ASSERT_EQ(static_cast<int>(model.size()) + pushed, queue->queueAudio(bytes.data(), pushed));
        model.insert(model.end(), bytes.begin(), bytes.end());

        const int size = 1 + (round * 53) % 450;
        const bool remaining = round % 3 == 0;
        std::vector<uint8_t> peek(static_cast<size_t>(size));
        const int peeked = queue->readSamples(peek.data(), size, remaining);
        const std::vector<uint8_t> got = take(*queue, size, remaining);
        const size_t expected = model.size() >= static_cast<size_t>(size) ? static_cast<size_t>(size)
                                : remaining                               ? model.size()
                                                                          : 0;
        ASSERT_EQ(expected, got.size()) << "round " << round;
        ASSERT_EQ(static_cast<int>(expected), peeked) << "round " << round;
        for (size_t i = 0; i < expected; ++i) {
            ASSERT_EQ(model.front(), got[i]) << "round " << round;
            ASSERT_EQ(got[i], peek[i]) << "round " << round;
            model.pop_front();
        }
        ASSERT_EQ(static_cast<int>(model.size()), queue->length());
    }
}

TEST(PCMQueueLinearTest, InvalidArgumentsChangeNothing) {
    PCMQueuePtr queue = PCMQueue::newQueue(0);
    const std::vector<uint8_t> bytes = ramp(8);
    queue->queueAudio(bytes.data(), 8);
    EXPECT_EQ(-1, queue->queueAudio(bytes.data(), -1));
    EXPECT_EQ(-1, queue->queueAudio(nullptr, 4));
    std::vector<uint8_t> out(8);
    EXPECT_EQ(0, queue->dequeSamples(out.data(), -4, true));
    EXPECT_EQ(0, queue->dequeSamples(nullptr, 4, true));
    EXPECT_EQ(0, queue->readSamples(out.data(), 0, true));
    EXPECT_EQ(8, queue->length());
    EXPECT_EQ(bytes, take(*queue, 8, false));
}

TEST(PCMQueueLinearTest, LogicPositionsAndSnapshotsBelongToRings) {
    PCMQueuePtr queue = PCMQueue::newQueue(0);
    const std::vector<uint8_t> bytes = ramp(10);
    queue->queueAudio(bytes.data(), 10);
    queue->shiftToLogicPos(4);
    EXPECT_EQ(10, queue->length());
    queue->snapshot();
    take(*queue, 5, false);
    EXPECT_FALSE(queue->restore());
    EXPECT_EQ(5, queue->length());
    queue->reset();
    EXPECT_EQ(5, queue->logicStart());  // reset counts the emptied bytes
    EXPECT_FALSE(queue->haveData());
}

// ---- ring mode ----

TEST(PCMQueueRingTest, KeepsTheNewestBytesAndCountsTheOverwrittenOnes) {
    PCMQueuePtr queue = PCMQueue::newQueue(4);
    const std::vector<uint8_t> bytes = ramp(5, 1);
    EXPECT_EQ(3, queue->queueAudio(bytes.data(), 3));
    EXPECT_EQ(4, queue->queueAudio(bytes.data() + 3, 2));
    EXPECT_EQ(1, queue->logicStart());
    EXPECT_EQ((std::vector<uint8_t>{2, 3, 4, 5}), take(*queue, 4, false));
    EXPECT_EQ(5, queue->logicStart());
}

TEST(PCMQueueRingTest, InputLongerThanTheRingKeepsItsTail) {
    PCMQueuePtr queue = PCMQueue::newQueue(4);
    const std::vector<uint8_t> bytes = ramp(6, 1);
    EXPECT_EQ(4, queue->queueAudio(bytes.data(), 6));
    EXPECT_EQ(0, queue->logicStart());
    EXPECT_EQ((std::vector<uint8_t>{3, 4, 5, 6}), take(*queue, 4, false));
}

// Random pushes and pulls against a plain model: content, order, length and
// stream position must agree through every wrap of the ring.
TEST(PCMQueueRingTest, MatchesAModelThroughManyWraps) {
    const int capacity = 7;
    PCMQueuePtr queue = PCMQueue::newQueue(capacity);
    std::deque<uint8_t> model;
    int64_t modelStart = 0;
    int next = 0;
    uint32_t seed = 12345;
    auto random = [&seed](int range) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int>((seed >> 16) % static_cast<uint32_t>(range));
    };

    for (int step = 0; step < 2000; ++step) {
        if (random(2) == 0) {
            const int n = random(capacity + 1);
            const std::vector<uint8_t> bytes = ramp(n, next);
            next += n;
            ASSERT_EQ(static_cast<int>(std::min<size_t>(model.size() + n, capacity)),
                      queue->queueAudio(bytes.data(), n));
            for (uint8_t b : bytes) model.push_back(b);
            while (model.size() > static_cast<size_t>(capacity)) {
                model.pop_front();
                ++modelStart;
            }
        } else {
            const int size = 1 + random(capacity);
            const bool remaining = random(2) == 0;
            std::vector<uint8_t> peek(static_cast<size_t>(size));
            const int peeked = queue->readSamples(peek.data(), size, remaining);
            const std::vector<uint8_t> got = take(*queue, size, remaining);
            const size_t expected = model.size() >= static_cast<size_t>(size) ? static_cast<size_t>(size)
                                    : remaining                               ? model.size()
                                                                              : 0;
            ASSERT_EQ(expected, got.size()) << "step " << step;
            ASSERT_EQ(static_cast<int>(expected), peeked) << "step " << step;
            for (size_t i = 0; i < expected; ++i) {
                ASSERT_EQ(model.front(), got[i]) << "step " << step;
                ASSERT_EQ(got[i], peek[i]) << "step " << step;
                model.pop_front();
                ++modelStart;
            }
        }
        ASSERT_EQ(static_cast<int>(model.size()), queue->length()) << "step " << step;
        ASSERT_EQ(modelStart, queue->logicStart()) << "step " << step;
    }
}

TEST(PCMQueueRingTest, ShiftDropsUpToAStreamPosition) {
    PCMQueuePtr queue = PCMQueue::newQueue(8);
    const std::vector<uint8_t> bytes = ramp(8);
    queue->queueAudio(bytes.data(), 8);
    take(*queue, 2, false);  // stream now starts at 2

    queue->shiftToLogicPos(1);  // already behind: nothing
    EXPECT_EQ(6, queue->length());
    queue->shiftToLogicPos(5);
    EXPECT_EQ(5, queue->logicStart());
    EXPECT_EQ((std::vector<uint8_t>{5, 6, 7}), take(*queue, 3, false));

    queue->queueAudio(bytes.data(), 4);
    queue->shiftToLogicPos(100);  // beyond what is held: empty, position taken over
    EXPECT_FALSE(queue->haveData());
    EXPECT_EQ(100, queue->logicStart());
}

TEST(PCMQueueRingTest, StreamPositionsGoBeyondThirtyTwoBits) {
    PCMQueuePtr queue = PCMQueue::newQueue(16);
    const int64_t far = 5000000000LL;  // more than 2^32 bytes into the stream
    queue->shiftToLogicPos(far);
    const std::vector<uint8_t> bytes = ramp(20);
    queue->queueAudio(bytes.data(), 10);
    take(*queue, 3, false);
    EXPECT_EQ(far + 3, queue->logicStart());
    queue->queueAudio(bytes.data(), 10);  // 17 held in 16: one overwritten
    EXPECT_EQ(far + 4, queue->logicStart());
    queue->shiftToLogicPos(far + 10);
    EXPECT_EQ(10, queue->length());
    queue->reset();
    EXPECT_EQ(far + 20, queue->logicStart());
}

TEST(PCMQueueRingTest, RestoreGivesBackWhatWasTakenSinceTheSnapshot) {
    PCMQueuePtr queue = PCMQueue::newQueue(6);
    const std::vector<uint8_t> bytes = ramp(10);
    queue->queueAudio(bytes.data(), 4);
    take(*queue, 3, false);
    queue->queueAudio(bytes.data() + 4, 4);  // held: 3..7, wrapped around the end

    queue->snapshot();
    EXPECT_EQ((std::vector<uint8_t>{3, 4, 5, 6, 7}), take(*queue, 5, false));
    EXPECT_FALSE(queue->haveData());
    EXPECT_TRUE(queue->restore());
    EXPECT_EQ(5, queue->length());
    EXPECT_EQ((std::vector<uint8_t>{3, 4, 5, 6, 7}), take(*queue, 5, false));
}

TEST(PCMQueueRingTest, QueueingOrResetDiscardsTheSnapshot) {
    PCMQueuePtr queue = PCMQueue::newQueue(4);
    const std::vector<uint8_t> bytes = ramp(8);
    EXPECT_FALSE(queue->restore());  // none taken yet

    queue->queueAudio(bytes.data(), 4);
    queue->snapshot();
    take(*queue, 4, false);
    queue->queueAudio(bytes.data() + 4, 4);  // reuses the snapshot's bytes
    EXPECT_FALSE(queue->restore());
    EXPECT_EQ((std::vector<uint8_t>{4, 5, 6, 7}), take(*queue, 4, false));

    queue->queueAudio(bytes.data(), 2);
    queue->snapshot();
    queue->reset();
    EXPECT_FALSE(queue->restore());
    EXPECT_FALSE(queue->haveData());
}

TEST(PCMQueueRingTest, ResetEmptiesAndTheRingWorksOn) {
    PCMQueuePtr queue = PCMQueue::newQueue(4);
    const std::vector<uint8_t> bytes = ramp(6);
    queue->queueAudio(bytes.data(), 3);
    take(*queue, 1, false);
    queue->reset();
    EXPECT_EQ(3, queue->logicStart());
    EXPECT_FALSE(queue->haveData());
    queue->queueAudio(bytes.data() + 3, 3);
    EXPECT_EQ((std::vector<uint8_t>{3, 4, 5}), take(*queue, 3, false));
}

// ---- sentence positions ----

TEST(PCMQueueTest, FirstStartPositionStaysEvenAtZero) {
    const struct {
        std::vector<int64_t> starts;
        int64_t start;
        int64_t end;
    } cases[] = {
        {{}, 0, 0},
        {{0}, 0, 0},
        {{0, 3200}, 0, 3200},
        {{3200, 6400}, 3200, 6400},
        {{0, 3200, 6400}, 0, 6400},
        {{5000000000LL, 5000003200LL}, 5000000000LL, 5000003200LL},
    };
    for (const auto& c : cases) {
        PCMQueuePtr queue = PCMQueue::newQueue(0);
        for (int64_t position : c.starts) queue->set_stc_start_pos(position);
        EXPECT_EQ(c.start, queue->get_stc_start_pos());
        EXPECT_EQ(c.end, queue->get_stc_end_pos());
    }

    PCMQueuePtr queue = PCMQueue::newQueue(0);
    queue->set_stc_end_pos(800);
    queue->set_stc_start_pos(0);
    queue->set_stc_end_pos(1600);
    EXPECT_EQ(0, queue->get_stc_start_pos());
    EXPECT_EQ(1600, queue->get_stc_end_pos());
}

}  // namespace

#include "audio/pcm_queue.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

namespace vxs {

PCMQueuePtr PCMQueue::newQueue(int capacity) {
    if (capacity <= 0) return PCMQueuePtr(new (std::nothrow) PCMQueue(false, nullptr, 0));
    uint8_t* buffer = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(capacity)));
    if (buffer == nullptr) return PCMQueuePtr();
    PCMQueue* queue = new (std::nothrow) PCMQueue(true, buffer, capacity);
    if (queue == nullptr) std::free(buffer);
    return PCMQueuePtr(queue);
}

PCMQueue::PCMQueue(bool loopMode, uint8_t* buffer, int capacity)
    : mDataLength(0),
      mData(buffer),
      mBufferCapacity(capacity),
      mLoopMode(loopMode),
      mLinearHead(0),
      mLoopStart(buffer),
      mLoopEnd(buffer),
      mDataEnd(buffer ? buffer + capacity : nullptr),
      m_snapshot_length(0),
      m_snapshot_start(buffer),
      m_snapshot_end(buffer),
      m_snapshot_valid(false),
      mLogicStart(0),
      _stc_start_pos(0),
      _stc_end_pos(0),
      _stc_start_set(false) {}

PCMQueue::~PCMQueue() { std::free(mData); }

int PCMQueue::queueAudio(const uint8_t* data, int length) {
    if (length < 0 || (data == nullptr && length > 0)) return -1;
    if (length == 0) return mDataLength;
    return mLoopMode ? queueRing(data, length) : queueLinear(data, length);
}

int PCMQueue::queueLinear(const uint8_t* data, int length) {
    const int64_t needed = static_cast<int64_t>(mDataLength) + length;
    if (needed > INT_MAX) return -1;
    if (mLinearHead + needed > mBufferCapacity) {
        compactLinear();
        if (needed > mBufferCapacity) {
            uint8_t* grown = static_cast<uint8_t*>(std::realloc(mData, static_cast<size_t>(needed)));
            if (grown == nullptr) return -1;
            mData = grown;
            mBufferCapacity = static_cast<int>(needed);
        }
    }
    std::memcpy(mData + mLinearHead + mDataLength, data, static_cast<size_t>(length));
    mDataLength = static_cast<int>(needed);
    return mDataLength;
}

void PCMQueue::compactLinear() {
    if (mLinearHead == 0) return;
    if (mDataLength > 0) std::memmove(mData, mData + mLinearHead, static_cast<size_t>(mDataLength));
    mLinearHead = 0;
}

int PCMQueue::queueRing(const uint8_t* data, int length) {
    if (length > mBufferCapacity) {
        // Only the newest bytes survive anyway.
        data += length - mBufferCapacity;
        length = mBufferCapacity;
    }
    const int64_t overwritten = static_cast<int64_t>(mDataLength) + length - mBufferCapacity;
    if (overwritten > 0) mLogicStart += overwritten;

    const int untilEnd = static_cast<int>(mDataEnd - mLoopEnd);
    const int first = length < untilEnd ? length : untilEnd;
    std::memcpy(mLoopEnd, data, static_cast<size_t>(first));
    std::memcpy(mData, data + first, static_cast<size_t>(length - first));
    mLoopEnd = advanceInRing(mLoopEnd, length);

    const int64_t held = static_cast<int64_t>(mDataLength) + length;
    mDataLength = held < mBufferCapacity ? static_cast<int>(held) : mBufferCapacity;
    if (mDataLength == mBufferCapacity) mLoopStart = mLoopEnd;  // the oldest byte follows the newest
    m_snapshot_valid = false;
    return mDataLength;
}

int PCMQueue::dequeSamples(uint8_t* out, int size, bool dequeRemaining) {
    return mLoopMode ? takeRing(out, size, dequeRemaining, true) : takeLinear(out, size, dequeRemaining, true);
}

int PCMQueue::readSamples(uint8_t* out, int size, bool dequeRemaining) {
    return mLoopMode ? takeRing(out, size, dequeRemaining, false) : takeLinear(out, size, dequeRemaining, false);
}

int PCMQueue::takeLinear(uint8_t* out, int size, bool dequeRemaining, bool remove) {
    if (out == nullptr || size <= 0) return 0;
    int count = 0;
    if (mDataLength >= size) {
        count = size;
    } else if (dequeRemaining && mDataLength > 0) {
        count = mDataLength;
    } else {
        return 0;
    }
    std::memcpy(out, mData + mLinearHead, static_cast<size_t>(count));
    if (remove) {
        // The rest moves to the front only when the next append needs the room,
        // so draining a long queue in small blocks costs no more than the copies.
        mDataLength -= count;
        mLinearHead = mDataLength > 0 ? mLinearHead + count : 0;
    }
    return count;
}

int PCMQueue::takeRing(uint8_t* out, int size, bool dequeRemaining, bool remove) {
    if (out == nullptr || size <= 0) return 0;
    if (mDataLength < size && !dequeRemaining) return 0;
    const int count = size < mDataLength ? size : mDataLength;
    if (count == 0) return 0;
    copyOutOfRing(mLoopStart, out, count);
    if (remove) {
        if (mDataLength - count <= 0) {
            emptyRing();
        } else {
            mLoopStart = advanceInRing(mLoopStart, count);
            mDataLength -= count;
        }
        mLogicStart += count;
    }
    return count;
}

void PCMQueue::shiftToLogicPos(int64_t position) {
    if (!mLoopMode || position <= mLogicStart) return;
    const int64_t drop = position - mLogicStart;
    if (drop < mDataLength) {
        mLoopStart = advanceInRing(mLoopStart, static_cast<int>(drop));
        mDataLength -= static_cast<int>(drop);
    } else {
        emptyRing();
    }
    mLogicStart = position;
}

void PCMQueue::reset() {
    mLogicStart += mDataLength;
    emptyRing();
    mLinearHead = 0;
    m_snapshot_length = 0;
    m_snapshot_start = mData;
    m_snapshot_end = mData;
    m_snapshot_valid = false;
    mDataEnd = mData ? mData + mBufferCapacity : nullptr;
}

void PCMQueue::snapshot() {
    if (!mLoopMode) return;
    m_snapshot_length = mDataLength;
    m_snapshot_start = mLoopStart;
    m_snapshot_end = mLoopEnd;
    m_snapshot_valid = true;
}

bool PCMQueue::restore() {
    if (!m_snapshot_valid) return false;
    mDataLength = m_snapshot_length;
    mLoopStart = m_snapshot_start;
    mLoopEnd = m_snapshot_end;
    return true;
}

void PCMQueue::set_stc_start_pos(int64_t position) {
    if (_stc_start_set) {
        _stc_end_pos = position;
        return;
    }
    _stc_start_pos = position;
    _stc_start_set = true;
}

void PCMQueue::set_stc_end_pos(int64_t position) { _stc_end_pos = position; }

void PCMQueue::copyOutOfRing(const uint8_t* from, uint8_t* out, int count) const {
    const int untilEnd = static_cast<int>(mDataEnd - from);
    const int first = count < untilEnd ? count : untilEnd;
    std::memcpy(out, from, static_cast<size_t>(first));
    std::memcpy(out + first, mData, static_cast<size_t>(count - first));
}

uint8_t* PCMQueue::advanceInRing(uint8_t* position, int count) const {
    const int64_t offset = (static_cast<int64_t>(position - mData) + count) % mBufferCapacity;
    return mData + offset;
}

void PCMQueue::emptyRing() {
    mDataLength = 0;
    mLoopStart = mData;
    mLoopEnd = mData;
}

}  // namespace vxs

// PCMQueue: a byte queue for 16-bit PCM audio, either a linear buffer that
// grows as needed or a ring of fixed capacity that keeps the newest bytes.
//
// A ring queue also tracks stream positions: `logicStart()` is the position in
// the whole stream of the oldest byte it holds (every byte dropped or taken so
// far). Positions are 64-bit so that they never wrap within a process's life.
// Every queue also carries the start and end positions of the sentence it
// holds, set by its user.
//
// Threading: no locking; one queue is used by one thread at a time (users that
// share a queue guard it with their own lock).
#ifndef VXS_AUDIO_PCM_QUEUE_H
#define VXS_AUDIO_PCM_QUEUE_H

#include <cstdint>

#include "core/shared_ptr.h"

namespace vxs {

class PCMQueue;
typedef Memory::vxs_shared_ptr<PCMQueue> PCMQueuePtr;

class PCMQueue {
public:
    // capacity > 0: a ring of exactly that many bytes, allocated now (empty
    // pointer if the allocation fails); capacity <= 0: a linear queue with no
    // buffer yet.
    static PCMQueuePtr newQueue(int capacity);
    ~PCMQueue();
    PCMQueue(const PCMQueue&) = delete;
    PCMQueue& operator=(const PCMQueue&) = delete;

    // Appends `length` bytes; returns the bytes held afterwards. A ring keeps
    // only the newest `capacity` bytes. -1 (queue unchanged) for a negative
    // length, a null `data` with a positive length, or a linear buffer that
    // cannot grow.
    int queueAudio(const uint8_t* data, int length);
    // Removes and copies `size` bytes into `out` when that many are held, or,
    // with `dequeRemaining`, whatever is held (at most `size`). Returns the
    // bytes taken; 0 when nothing was taken or the arguments are invalid.
    int dequeSamples(uint8_t* out, int size, bool dequeRemaining);
    // The same choice and copy as dequeSamples, without removing anything.
    int readSamples(uint8_t* out, int size, bool dequeRemaining);
    // Ring only: drops the bytes before stream position `position`.
    void shiftToLogicPos(int64_t position);

    bool haveData() const { return mDataLength > 0; }
    int length() const { return mDataLength; }
    int capacity() const { return mBufferCapacity; }
    bool isLoopMode() const { return mLoopMode; }
    int64_t logicStart() const { return mLogicStart; }

    // Empties the queue; the emptied bytes count as consumed in logicStart().
    void reset();
    // Ring only: remembers what the queue holds, so that restore() can give
    // back bytes taken out since. Bytes queued after the snapshot may overwrite
    // the remembered ones, so queueing or reset() discards the snapshot.
    void snapshot();
    // Returns to the last snapshot; false (nothing changes) without a valid one.
    // logicStart() keeps counting the bytes taken since.
    bool restore();

    // The first call sets the sentence start; later calls set the end (the
    // first data of a sentence carries its start, later data extend it).
    void set_stc_start_pos(int64_t position);
    void set_stc_end_pos(int64_t position);
    int64_t get_stc_start_pos() const { return _stc_start_pos; }
    int64_t get_stc_end_pos() const { return _stc_end_pos; }

private:
    PCMQueue(bool loopMode, uint8_t* buffer, int capacity);

    int queueLinear(const uint8_t* data, int length);
    int queueRing(const uint8_t* data, int length);
    // Linear: moves the held bytes to the front of the buffer.
    void compactLinear();
    int takeLinear(uint8_t* out, int size, bool dequeRemaining, bool remove);
    int takeRing(uint8_t* out, int size, bool dequeRemaining, bool remove);
    // Copies `count` bytes starting at ring position `from` into `out`, wrapping.
    void copyOutOfRing(const uint8_t* from, uint8_t* out, int count) const;
    uint8_t* advanceInRing(uint8_t* position, int count) const;
    void emptyRing();

    int mDataLength;
    uint8_t* mData;
    int mBufferCapacity;
    bool mLoopMode;
    int mLinearHead;      // linear: offset of the oldest byte in mData
    uint8_t* mLoopStart;  // ring: oldest byte
    uint8_t* mLoopEnd;    // ring: where the next byte goes
    uint8_t* mDataEnd;    // ring: mData + capacity
    int m_snapshot_length;
    uint8_t* m_snapshot_start;
    uint8_t* m_snapshot_end;
    bool m_snapshot_valid;
    int64_t mLogicStart;
    int64_t _stc_start_pos;
    int64_t _stc_end_pos;
    bool _stc_start_set;  // position 0 is a real start, so "unset" needs its own flag
};

}  // namespace vxs

#endif  // VXS_AUDIO_PCM_QUEUE_H

// The work items of the single-request decoder: one request to send (the
// multipart body of one audio package) and one answer to parse, each tagged
// with the package index and the utterance it belongs to.
//
// Threading: plain values. A task is filled by the thread that makes it and
// then only read by the one worker that takes it from a queue.
#ifndef VXS_DECODER_ASR_POST_TASK_H
#define VXS_DECODER_ASR_POST_TASK_H

#include <cstdint>
#include <string>

#include "core/shared_ptr.h"
#include "net/http_response.h"

namespace vxs {

class EventManagerDec;

// One request to send.
struct ASRPostTask {
    Memory::vxs_shared_ptr<char> postData;  // the multipart body
    uint32_t dataLen = 0;
    int postIdx = 0;           // package index, negative for the last package
    uint64_t AudioOffset = 0;  // the package message's offset (carried, not used)
    uint32_t AudioLength = 0;  // raw PCM bytes of the package (carried, not used)
    std::string global_key;    // serial number of the utterance
    uint64_t generation = 0;   // which start of the decoder the package belongs to
    // The decoder, weakly: a queued request never keeps a released decoder alive.
    Memory::vxs_weak_ptr<EventManagerDec> decoder;
};

// One answer to parse, on the decoder's serial queue.
struct ASRResponseParseTask {
    Memory::vxs_shared_ptr<Networking::vxs_HttpResponse> response;
    int postIdx = 0;
    uint64_t AudioOffset = 0;
    uint32_t AudioLength = 0;
    std::string global_key;
    uint64_t generation = 0;
};

}  // namespace vxs

#endif  // VXS_DECODER_ASR_POST_TASK_H

// Builds what the online decoders send to the recognition service: the
// parameter packet and the type/length/value packets of the chunked upload
// connection, and the multipart body of a single recognition request.
//
// Threading: every call is static and keeps no state; the parameter map and
// the recycled document belong to the calling decoder and must only be
// touched from its queue. The map is changed only to store a generated
// serial number under "sn.string".
#ifndef VXS_DECODER_ASR_REQUEST_BUILDER_H
#define VXS_DECODER_ASR_REQUEST_BUILDER_H

#include <cjson/cJSON.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/param.h"
#include "core/shared_ptr.h"
#include "decoder/recognition_enums.h"
#include "decoder/request_keys.h"

namespace vxs {

// A JSON tree freed with cJSON_Delete when its last holder lets go.
typedef Memory::vxs_shared_ptr<cJSON> JsonDocumentPtr;
// Takes ownership of `tree` (null gives an empty pointer).
JsonDocumentPtr make_json_document(cJSON* tree);

// The (domain, code, description) triple of a failed build; code 0 = success.
struct RequestBuildError {
    int16_t domain = 0;
    int16_t code = 0;
    std::string description;
};

class ASRRequestBuilder {
  public:
    // The parameter packet (type TYPE_UPLOAD_PARAM) of the chunked protocol;
    // empty on failure with `error` set. Stores a generated serial number in
    // the map when it has none.
    static Memory::vxs_shared_ptr<char> buildChunkUpParams(const ParamMapPtr& params,
                                                           size_t& outLength,
                                                           RequestBuildError& error);
    // One packet: 4-byte little-endian length (1 + payloadLength), the type
    // byte, the payload (none when `payload` is null). Empty when the packet
    // cannot be allocated; outLength = payloadLength + 5.
    static Memory::vxs_shared_ptr<char> buildChunkData(const char* payload, size_t payloadLength,
                                                       uint8_t type, size_t& outLength);
    // One multipart body of the single-request protocol. `idx` is the 1-based
    // index of the piece, negative for the last one. `recycled` carries the
    // document between the pieces of one utterance (start each with an empty
    // one). `cancelFlag` stops a wait for the access token.
    static Memory::vxs_shared_ptr<char> buildRequest(const char* audio, size_t audioLength,
                                                     size_t& outLength, int idx,
                                                     const ParamMapPtr& params,
                                                     JsonDocumentPtr& recycled,
                                                     RequestBuildError& error, bool* cancelFlag);
    // A body built from the parameters; the document becomes `recycled`.
    static Memory::vxs_shared_ptr<char> buildNewRequest(const char* audio, size_t audioLength,
                                                        size_t& outLength, int idx,
                                                        const ParamMapPtr& params,
                                                        JsonDocumentPtr& recycled,
                                                        RequestBuildError& error, bool* cancelFlag);
    // A body carrying `recycled` with only "idx" changed; empty (and no
    // error) when the document has no "idx" member.
    static Memory::vxs_shared_ptr<char> buildRequestFromRecycledJSON(const char* audio,
                                                                     size_t audioLength,
                                                                     size_t& outLength, int idx,
                                                                     JsonDocumentPtr& recycled,
                                                                     RequestBuildError& error);

    static bool isOfflineRecognitionProperty(TVXVoiceRecognitionProperty property);
    // The "fun" bit set: early returns, punctuation mode, server VAD, contacts.
    static uint32_t functionsValue(const ParamMap& params);

    static void addObject(const std::string& value, const char* name, cJSON* object);
    static void addInt(int value, const char* name, cJSON* object);
};

}  // namespace vxs

#endif  // VXS_DECODER_ASR_REQUEST_BUILDER_H

// Shared pieces of the chunked decoder suites: a decoder wired to a message
// recorder, the start parameters it needs, upload packet parsing and download
// record building.
#ifndef VXS_TESTS_DECODER_CHUNK_CHUNK_TEST_SUPPORT_H
#define VXS_TESTS_DECODER_CHUNK_CHUNK_TEST_SUPPORT_H

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "core/context.h"
#include "core/message.h"
#include "core/param.h"
#include "decoder/event_manager_dec_chunk.h"
#include "support/message_recorder.h"

namespace chunktest {

// One type/length/value packet of an upload body.
struct Packet {
    uint8_t type = 0;
    std::string payload;
};

// Splits an upload body into packets; a truncated tail becomes a packet of
// type 0xFF holding the rest.
std::vector<Packet> parse_packets(const std::string& body);
std::string packet_types(const std::vector<Packet>& packets);

// One download record: length, type, payload.
std::string record(uint8_t type, const std::string& payload);
// A JSON record (0xF0 partial or 0xF1 final) with `err_no` and one word.
std::string json_record(uint8_t type, int err_no, const std::string& word);
inline std::string end_record() { return record(0xF3, std::string()); }

// The start map of one utterance (network Wi-Fi, PCM 16 kHz unless changed).
vxs::ParamMapPtr start_params(const std::string& sn, const std::string& serverUrl);

// The decoder with a recorder as its callback module, on a fresh context.
struct DecoderUnderTest {
    DecoderUnderTest();
    ~DecoderUnderTest();

    void send(const std::string& name, const vxs::ParamMapPtr& params = vxs::ParamMapPtr());
    // "engine.data" with `bytes` bytes of PCM (a ramp, so that it is not all
    // zero), with the given samples, or with these very bytes.
    void send_audio(uint32_t bytes, bool last);
    void send_audio(const std::vector<int16_t>& pcm, bool last);
    void send_bytes(const std::string& bytes, bool last);

    // The finish messages so far as (domain, code, text).
    struct Finish {
        int16_t domain = 0;
        int16_t code = 0;
        std::string text;
    };
    std::vector<Finish> finishes() const;
    // Names of the messages received so far, in order.
    std::vector<std::string> names() const { return recorder->names(); }
    // The result kinds of the "dec.callback.data" messages, in order.
    std::vector<int> result_types() const;
    std::vector<std::string> result_texts() const;

    vxs::ContextPtr context;
    vxs::Memory::vxs_shared_ptr<vxs_test::MessageRecorder> recorder;
    vxs::EventManagerDecChunkPtr decoder;
};

}  // namespace chunktest

#endif  // VXS_TESTS_DECODER_CHUNK_CHUNK_TEST_SUPPORT_H

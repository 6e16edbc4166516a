#include "decoder/asr_request_builder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "core/log.h"
#include "net/access_token.h"

namespace vxs {
namespace {

typedef std::map<std::string, std::string> StringMap;
typedef std::vector<TVXVoiceRecognitionProperty> PropertyList;

const std::string kSeparator = std::string("\r\n--") + ASR_REQUEST_CONTENT_BOUNDARY + "\r\n";
const std::string kClosing = std::string("\r\n--") + ASR_REQUEST_CONTENT_BOUNDARY + "--\r\n";

// Takes the length by reference: it is written by the call that makes `buffer`.
std::string bytesOf(const Memory::vxs_shared_ptr<char>& buffer, const size_t& length) {
    return buffer ? std::string(buffer.getPTR(), length) : std::string();
}

// Restores the gzip magic over the 75 7B mark and inflates the member.
std::string unmarkAndInflate(std::string marked) {
    EXPECT_GE(marked.size(), 2u);
    if (marked.size() < 2) return std::string();
    EXPECT_EQ('\x75', marked[0]);
    EXPECT_EQ('\x7B', marked[1]);
    marked[0] = '\x1F';
    marked[1] = '\x8B';
    z_stream stream{};
    EXPECT_EQ(Z_OK, inflateInit2(&stream, 31));
    stream.next_in = reinterpret_cast<Bytef*>(&marked[0]);
    stream.avail_in = static_cast<uInt>(marked.size());
    std::string text;
    char chunk[4096];
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof(chunk);
        status = inflate(&stream, Z_NO_FLUSH);
        text.append(chunk, sizeof(chunk) - stream.avail_out);
    }
    EXPECT_EQ(Z_STREAM_END, status);
    EXPECT_EQ(0u, stream.avail_in) << "bytes after the gzip member";
    inflateEnd(&stream);
    return text;
}

std::string printed(cJSON* tree) {
    char* text = cJSON_Print(tree);
    std::string result = text ? text : "";
    cJSON_free(text);
    cJSON_Delete(tree);
    return result;
}

struct ParsedDocument {
    explicit ParsedDocument(const std::string& text) : tree(cJSON_Parse(text.c_str())) {}
    ~ParsedDocument() { cJSON_Delete(tree); }
    std::string string(const char* name) const {
        const cJSON* item = cJSON_GetObjectItemCaseSensitive(tree, name);
        return cJSON_IsString(item) ? item->valuestring : "<absent>";
    }
    double number(const char* name) const {
        const cJSON* item = cJSON_GetObjectItemCaseSensitive(tree, name);
        return cJSON_IsNumber(item) ? item->valuedouble : -12345;
    }
    bool has(const char* name) const { return cJSON_HasObjectItem(tree, name); }
    cJSON* tree;
};

ParamMapPtr chunkParams() {
    ParamMapPtr params = newParamMap();
    (*params)[ASR_ONLINE_PARAM_KEY_NET_INT] = paramBase::box<int>(EVR_NETWORK_TYPE_WIFI);
    (*params)[ASR_ONLINE_PARAM_KEY_CHUNK_KEY] = paramBase::box<std::string>("chunk-key");
    (*params)[ASR_ONLINE_PARAM_KEY_UID_STRING] = paramBase::box<std::string>("client-1");
    (*params)[ASR_ONLINE_PARAM_KEY_PLATFORM_STRING] = paramBase::box<std::string>("Linux");
    (*params)[ASR_ONLINE_PARAM_KEY_VER_STRING] = paramBase::box<std::string>(ASR_CORE_VERSION);
    (*params)[ASR_ONLINE_PARAM_KEY_PDT_STRING] = paramBase::box<std::string>(ASR_SEARCH_PRODUCT_ID);
    (*params)[ASR_ONLINE_PARAM_KEY_SAMPLE_RATE_INT] = paramBase::box<int>(16000);
    return params;
}

// The JSON document inside a chunk parameter packet, after checking the frame.
std::string chunkDocumentText(const ParamMapPtr& params, RequestBuildError& error) {
    size_t length = 0;
    std::string packet =
        bytesOf(ASRRequestBuilder::buildChunkUpParams(params, length, error), length);
    if (packet.empty()) return std::string();
    EXPECT_EQ(0, error.code);
    uint32_t framed = static_cast<unsigned char>(packet[0]) |
                      static_cast<unsigned char>(packet[1]) << 8 |
                      static_cast<unsigned char>(packet[2]) << 16 |
                      static_cast<uint32_t>(static_cast<unsigned char>(packet[3])) << 24;
    EXPECT_EQ(packet.size() - 4, framed);
    EXPECT_EQ(TYPE_UPLOAD_PARAM, static_cast<uint8_t>(packet[4]));
    return unmarkAndInflate(packet.substr(5));
}

TEST(ChunkPacket, FramesTypeLengthValue) {
    const std::string big(300, 'x');
    struct Case {
        const char* payload;
        size_t length;
        uint8_t type;
        std::string header;
    } cases[] = {
        {"abc", 3, TYPE_UPLOAD_AUDIO, std::string("\x04\x00\x00\x00\x01", 5)},
        {nullptr, 0, TYPE_UPLOAD_FINISH, std::string("\x01\x00\x00\x00\x03", 5)},
        {nullptr, 0, TYPE_UPLOAD_CANCEL, std::string("\x01\x00\x00\x00\x04", 5)},
        {big.data(), big.size(), TYPE_UPLOAD_REALTIME_DATA, std::string("\x2D\x01\x00\x00\x05", 5)},
    };
    for (const Case& c : cases) {
        size_t length = 0;
        std::string packet =
            bytesOf(ASRRequestBuilder::buildChunkData(c.payload, c.length, c.type, length), length);
        EXPECT_EQ(c.length + 5, length);
        EXPECT_EQ(c.header + std::string(c.payload ? c.payload : "", c.length), packet)
            << int(c.type);
    }
}

TEST(ChunkParams, MarkedGzipMemberOfThePrintedDocument) {
    ParamMapPtr params = chunkParams();
    (*params)[ASR_ONLINE_PARAM_KEY_CHUNK_PARAM] = paramBase::box<std::string>("pam-text");
    (*params)[ASR_ONLINE_PARAM_KEY_APP_ID] = paramBase::box<std::string>("42");
    (*params)[ASR_ONLINE_PARAM_KEY_API_KEY] = paramBase::box<std::string>("api");
    (*params)[ASR_ONLINE_PARAM_KEY_SN_STRING] = paramBase::box<std::string>("SN-1");
    (*params)[ASR_ONLINE_PARAM_KEY_APP_STRING] = paramBase::box<std::string>("demo");
    (*params)[ASR_ONLINE_PARAM_KEY_CITY_ID_INT] = paramBase::box<int>(131);
    (*params)[ASR_ONLINE_PARAM_KEY_PROP_LIST] = paramBase::box<PropertyList>(
        {EVoiceRecognitionPropertyMap, EVoiceRecognitionPropertyContacts});

    cJSON* expected = cJSON_CreateObject();
    cJSON_AddStringToObject(expected, "key", "chunk-key");
    cJSON_AddStringToObject(expected, "pam", "pam-text");
    cJSON_AddNumberToObject(expected, "appid", 42);
    cJSON_AddStringToObject(expected, "apikey", "api");
    cJSON_AddStringToObject(expected, "cuid", "client-1");
    cJSON_AddStringToObject(expected, "pfm", "Linux&1");
    cJSON_AddStringToObject(expected, "ver", "Core_3.0.0");
    cJSON_AddNumberToObject(expected, "pid", 1536);
    cJSON_AddNumberToObject(expected, "smr", 16000);
    cJSON_AddStringToObject(expected, "sn", "SN-1");
    cJSON_AddStringToObject(expected, "app", "demo");
    cJSON_AddNumberToObject(expected, "cid", 131);
    cJSON* list = cJSON_AddArrayToObject(expected, "prop_list");
    cJSON_AddItemToArray(list, cJSON_CreateNumber(10060));
    cJSON_AddItemToArray(list, cJSON_CreateNumber(100014));
    cJSON_AddNumberToObject(expected, "fun", 0x40001);

    RequestBuildError error;
    EXPECT_EQ(printed(expected), chunkDocumentText(params, error));
}

TEST(ChunkParams, GeneratesTheSerialNumberOnceAndReusesIt) {
    ParamMapPtr params = chunkParams();
    RequestBuildError error;
    ParsedDocument first(chunkDocumentText(params, error));
    std::string stored = (*params)[ASR_ONLINE_PARAM_KEY_SN_STRING].valueString();
    EXPECT_EQ(36u, stored.size());
    EXPECT_EQ(stored, first.string("sn"));
    ParsedDocument second(chunkDocumentText(params, error));
    EXPECT_EQ(stored, second.string("sn"));
}

TEST(ChunkParams, ProductIdMustBeAWholeNumber) {
    struct Case {
        const char* product;
        int16_t code;
        double pid;
    } cases[] = {
        {"1537", 0, 1537},
        {"-1", 0, -1},
        {"15a6", DEC_ERROR_CODE_INVALID_PARAMETER, 0},
        {"1-2", DEC_ERROR_CODE_INVALID_PARAMETER, 0},
        {"", DEC_ERROR_CODE_INVALID_PARAMETER, 0},
    };
    for (const Case& c : cases) {
        ParamMapPtr params = chunkParams();
        (*params)[ASR_ONLINE_PARAM_KEY_PDT_STRING] = paramBase::box<std::string>(c.product);
        RequestBuildError error;
        std::string text = chunkDocumentText(params, error);
        EXPECT_EQ(c.code, error.code) << c.product;
        if (c.code == 0) {
            EXPECT_EQ(c.pid, ParsedDocument(text).number("pid")) << c.product;
        } else {
            EXPECT_EQ(DEC_ERROR_CODE_CLASS, error.domain);
            EXPECT_EQ("Decoder invalid parameter: pdt.string", error.description);
        }
    }
}

TEST(ChunkParams, PlatformSuffixFollowsTheNetworkType) {
    const std::pair<int, const char*> cases[] = {
        {EVR_NETWORK_TYPE_NO, "Linux&3"},   {EVR_NETWORK_TYPE_2G, "Linux&3"},
        {EVR_NETWORK_TYPE_3G, "Linux&3"},   {EVR_NETWORK_TYPE_4G, "Linux&3"},
        {EVR_NETWORK_TYPE_WIFI, "Linux&1"}, {9, "Linux&3"},
    };
    for (const auto& c : cases) {
        ParamMapPtr params = chunkParams();
        (*params)[ASR_ONLINE_PARAM_KEY_NET_INT] = paramBase::box<int>(c.first);
        RequestBuildError error;
        EXPECT_EQ(c.second, ParsedDocument(chunkDocumentText(params, error)).string("pfm"))
            << c.first;
    }
}

TEST(ChunkParams, FailuresNameWhatIsMissingOrWrong) {
    struct Case {
        const char* removed;
        const char* addedKey;
        const char* addedValue;
        int16_t code;
        const char* description;
    } cases[] = {
        {ASR_ONLINE_PARAM_KEY_NET_INT, nullptr, nullptr, DEC_ERROR_CODE_EXCEPTION,
         "Decoder missing parameters: net.int"},
        {ASR_ONLINE_PARAM_KEY_CHUNK_KEY, nullptr, nullptr, DEC_ERROR_CODE_EXCEPTION,
         "missing parameters: chunk_key.string or api_key.string"},
        {ASR_ONLINE_PARAM_KEY_PLATFORM_STRING, nullptr, nullptr, DEC_ERROR_CODE_EXCEPTION,
         "Decoder missing parameters: platform.string"},
        {ASR_ONLINE_PARAM_KEY_SAMPLE_RATE_INT, nullptr, nullptr, DEC_ERROR_CODE_EXCEPTION,
         "Decoder missing parameters: audio_sample_rate.int"},
        {nullptr, ASR_ONLINE_PARAM_KEY_APP_ID, "abc", DEC_ERROR_CODE_INVALID_PARAMETER,
         "Decoder invalid parameter: app_id.string"},
    };
    for (const Case& c : cases) {
        ParamMapPtr params = chunkParams();
        if (c.removed) params->erase(c.removed);
        if (c.addedKey) (*params)[c.addedKey] = paramBase::box<std::string>(c.addedValue);
        RequestBuildError error;
        size_t length = 0;
        EXPECT_FALSE(ASRRequestBuilder::buildChunkUpParams(params, length, error)) << c.description;
        EXPECT_EQ(DEC_ERROR_CODE_CLASS, error.domain);
        EXPECT_EQ(c.code, error.code);
        EXPECT_EQ(c.description, error.description);
    }
    RequestBuildError error;
    size_t length = 0;
    EXPECT_FALSE(ASRRequestBuilder::buildChunkUpParams(ParamMapPtr(), length, error));
    EXPECT_EQ("Decoder missing parameters: missing all config!!", error.description);
}

TEST(ChunkParams, TraceLogOfTheDocumentHidesKeys) {
    const std::string chunkKey = "ChunkKeySecret0123456789abcdef";
    const std::string apiKey = "ApiKeySecret0123456789abcdefgh";
    ParamMapPtr params = chunkParams();
    (*params)[ASR_ONLINE_PARAM_KEY_CHUNK_KEY] = paramBase::box<std::string>(chunkKey);
    (*params)[ASR_ONLINE_PARAM_KEY_API_KEY] = paramBase::box<std::string>(apiKey);
    int previousLevel = get_current_log_level();
    set_log_level(kLogTrace);
    testing::internal::CaptureStderr();
    RequestBuildError error;
    std::string document = chunkDocumentText(params, error);
    std::string logged = testing::internal::GetCapturedStderr();
    set_log_level(previousLevel);
    EXPECT_NE(std::string::npos, document.find(chunkKey)) << "the service still gets the key";
    EXPECT_NE(std::string::npos, logged.find("upload json: "));
    EXPECT_EQ(std::string::npos, logged.find(chunkKey)) << logged;
    EXPECT_EQ(std::string::npos, logged.find(apiKey)) << logged;
}

TEST(Functions, BitsAndDefaults) {
    struct Case {
        const char* name;
        ParamMap params;
        uint32_t expected;
    };
    std::vector<Case> cases;
    cases.push_back({"defaults", {}, 0x40001});
    cases.push_back({"mode 2 wins over disable_punc",
                     {{ASR_ONLINE_PARAM_KEY_PUNC_EXT_MODE_INT, paramBase::box<int>(2)},
                      {ASR_ONLINE_PARAM_KEY_DISABLE_PUNC_BOOL, paramBase::box<bool>(true)}},
                     0x60001});
    cases.push_back(
        {"mode 7", {{ASR_ONLINE_PARAM_KEY_PUNC_EXT_MODE_INT, paramBase::box<int>(7)}}, 0x40001});
    cases.push_back(
        {"mode 3", {{ASR_ONLINE_PARAM_KEY_PUNC_EXT_MODE_INT, paramBase::box<int>(3)}}, 0x70001});
    cases.push_back({"mode 0 falls back to disable_punc",
                     {{ASR_ONLINE_PARAM_KEY_PUNC_EXT_MODE_INT, paramBase::box<int>(0)},
                      {ASR_ONLINE_PARAM_KEY_DISABLE_PUNC_BOOL, paramBase::box<bool>(true)}},
                     0x50001});
    cases.push_back({"everything flipped",
                     {{ASR_ONLINE_PARAM_KEY_ENABLE_EARLY_RETURNS_BOOL, paramBase::box<bool>(false)},
                      {ASR_ONLINE_PARAM_KEY_ENABLE_SERVER_VAD_BOOL, paramBase::box<bool>(false)},
                      {ASR_ONLINE_PARAM_KEY_ENABLE_CONTACTS_BOOL, paramBase::box<bool>(true)}},
                     0x20000000});
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, ASRRequestBuilder::functionsValue(c.params)) << c.name;
}

ParamMapPtr requestParams() {
    ParamMapPtr params = newParamMap();
    (*params)[ASR_ONLINE_PARAM_KEY_NET_INT] = paramBase::box<int>(EVR_NETWORK_TYPE_4G);
    (*params)[ASR_ONLINE_PARAM_KEY_UID_STRING] = paramBase::box<std::string>("client-1");
    (*params)[ASR_ONLINE_PARAM_KEY_PLATFORM_STRING] = paramBase::box<std::string>("Linux");
    (*params)[ASR_ONLINE_PARAM_KEY_VER_STRING] = paramBase::box<std::string>(ASR_CORE_VERSION);
    (*params)[ASR_ONLINE_PARAM_KEY_PDT_STRING] = paramBase::box<std::string>(ASR_INPUT_PRODUCT_ID);
    (*params)[ASR_ONLINE_PARAM_KEY_PTC_STRING] = paramBase::box<std::string>("1");
    // A token object without keys adds nothing and fetches nothing.
    (*params)[ASR_ONLINE_PARAM_KEY_TOK] =
        paramBase::box<Memory::vxs_shared_ptr<Networking::vxs_AccessToken>>(
            Networking::vxs_AccessToken::alloc());
    return params;
}

struct Body {
    std::string document;  // inflated JSON text
    std::string audio;
};

// Splits a multipart body into its two parts, checking the separators.
Body splitBody(const std::string& body) {
    Body parts;
    EXPECT_EQ(0u, body.find(kSeparator));
    size_t second = body.find(kSeparator, kSeparator.size());
    EXPECT_NE(std::string::npos, second);
    EXPECT_GE(body.size(), kClosing.size());
    if (second == std::string::npos || body.size() < kClosing.size()) return parts;
    EXPECT_EQ(kClosing, body.substr(body.size() - kClosing.size()));
    parts.document = unmarkAndInflate(body.substr(kSeparator.size(), second - kSeparator.size()));
    size_t audioStart = second + kSeparator.size();
    parts.audio = body.substr(audioStart, body.size() - kClosing.size() - audioStart);
    return parts;
}

Body request(int idx, const ParamMapPtr& params, JsonDocumentPtr& recycled,
             const std::string& audio, RequestBuildError& error) {
    size_t length = 0;
    std::string body =
        bytesOf(ASRRequestBuilder::buildRequest(audio.data(), audio.size(), length, idx, params,
                                                recycled, error, nullptr),
                length);
    if (body.empty()) return Body();
    EXPECT_EQ(length, body.size());
    return splitBody(body);
}

TEST(SingleRequest, FirstPieceDocumentAndLayout) {
    ParamMapPtr params = requestParams();
    (*params)[ASR_ONLINE_PARAM_KEY_USER_PARAMS] =
        paramBase::box<StringMap>({{"zz", "last"}, {"aa", "first"}});
    JsonDocumentPtr recycled;
    RequestBuildError error;
    const std::string audio("\x00\x01\r\n--\xff", 6);
    Body body = request(1, params, recycled, audio, error);
    EXPECT_EQ(0, error.code) << error.description;
    EXPECT_EQ(audio, body.audio);

    cJSON* expected = cJSON_CreateObject();
    cJSON_AddStringToObject(expected, "uid", "client-1");
    cJSON_AddStringToObject(expected, "pfm", "Linux&3");
    cJSON_AddStringToObject(expected, "ver", "Core_3.0.0");
    cJSON_AddStringToObject(expected, "idx", "1");
    cJSON_AddStringToObject(expected, "pdt", "1537");
    cJSON_AddStringToObject(expected, "glb",
                            (*params)[ASR_ONLINE_PARAM_KEY_SN_STRING].valueString().c_str());
    cJSON_AddStringToObject(expected, "enc", "utf-8");
    cJSON_AddStringToObject(expected, "rtn", "json");
    cJSON_AddStringToObject(expected, "ptc", "1");
    cJSON_AddStringToObject(expected, "fun", "262145");
    cJSON_AddStringToObject(expected, "aa", "first");
    cJSON_AddStringToObject(expected, "zz", "last");
    EXPECT_EQ(printed(expected), body.document);
    EXPECT_TRUE(recycled);
}

TEST(SingleRequest, PropertyListCollapsesOfflineKindsAndNeedsTheCityForMaps) {
    const PropertyList properties = {
        EVoiceRecognitionPropertyContacts, EVoiceRecognitionPropertyInput,
        EVoiceRecognitionPropertyPlayerInstruction, EVoiceRecognitionPropertyMap};
    ParamMapPtr params = requestParams();
    (*params)[ASR_ONLINE_PARAM_KEY_PROP_LIST] = paramBase::box<PropertyList>(properties);
    (*params)[ASR_ONLINE_PARAM_KEY_CITY_ID_INT] = paramBase::box<int>(131);
    JsonDocumentPtr recycled;
    RequestBuildError error;
    ParsedDocument document(request(1, params, recycled, "a", error).document);
    EXPECT_EQ("131", document.string("city_id"));
    EXPECT_EQ("{\"prop_list\":[10005,20000,10060]}", document.string("prop_list"));

    const PropertyList searches = {EVoiceRecognitionPropertySearch, EVoiceRecognitionPropertyRadio,
                                   EVoiceRecognitionPropertySearch};
    (*params)[ASR_ONLINE_PARAM_KEY_PROP_LIST] = paramBase::box<PropertyList>(searches);
    JsonDocumentPtr second;
    EXPECT_EQ("{\"prop_list\":[10005,10005]}",
              ParsedDocument(request(-1, params, second, "a", error).document).string("prop_list"));

    params->erase(ASR_ONLINE_PARAM_KEY_CITY_ID_INT);
    (*params)[ASR_ONLINE_PARAM_KEY_PROP_LIST] = paramBase::box<PropertyList>(properties);
    JsonDocumentPtr failed;
    size_t length = 0;
    EXPECT_FALSE(
        ASRRequestBuilder::buildRequest("a", 1, length, 1, params, failed, error, nullptr));
    EXPECT_EQ(DEC_ERROR_CODE_EXCEPTION, error.code);
    EXPECT_EQ("Decoder missing parameters: city_id.int", error.description);
    EXPECT_FALSE(failed);
}

TEST(SingleRequest, LaterPiecesRepeatTheSecondDocumentWithOnlyIdxChanged) {
    ParamMapPtr params = requestParams();
    JsonDocumentPtr recycled;
    RequestBuildError error;
    Body first = request(1, params, recycled, "one", error);
    Body second = request(2, params, recycled, "two", error);
    ParsedDocument secondDocument(second.document);
    EXPECT_FALSE(secondDocument.has("uid"));
    EXPECT_FALSE(secondDocument.has("pfm"));
    EXPECT_EQ(ParsedDocument(first.document).string("glb"), secondDocument.string("glb"));

    // Changes to the map after the second piece must not reach later pieces.
    (*params)[ASR_ONLINE_PARAM_KEY_APP_STRING] = paramBase::box<std::string>("late");
    for (int idx : {3, 4, -5}) {
        Body later = request(idx, params, recycled, "more", error);
        EXPECT_EQ("more", later.audio);
        std::string expected = second.document;
        std::string from = "\"idx\":\t\"2\"";
        size_t at = expected.find(from);
        ASSERT_NE(std::string::npos, at);
        expected.replace(at, from.size(), "\"idx\":\t\"" + std::to_string(idx) + "\"");
        EXPECT_EQ(expected, later.document) << idx;
    }
}

TEST(SingleRequest, ReservedPairsOnlyForKelpProtocolsAndEncoded) {
    struct Case {
        const char* protocol;
        int network;
        const char* rsv;
    } cases[] = {
        {"300", EVR_NETWORK_TYPE_2G, "a%26b=x%3Dy&net_type=1"},
        {"305", EVR_NETWORK_TYPE_WIFI, "a%26b=x%3Dy&net_type=2"},
        {"1", EVR_NETWORK_TYPE_WIFI, "<absent>"},
    };
    for (const Case& c : cases) {
        ParamMapPtr params = requestParams();
        (*params)[ASR_ONLINE_PARAM_KEY_PTC_STRING] = paramBase::box<std::string>(c.protocol);
        (*params)[ASR_ONLINE_PARAM_KEY_NET_INT] = paramBase::box<int>(c.network);
        (*params)[ASR_ONLINE_PARAM_KEY_BUA_STRING] = paramBase::box<std::string>("agent");
        (*params)[ASR_ONLINE_PARAM_KEY_RESERVED] =
            paramBase::box<StringMap>({{"a&b", "x=y"}, {ASR_REQUEST_KEY_RESERVED_NET_TYPE, "9"}});
        JsonDocumentPtr recycled;
        RequestBuildError error;
        ParsedDocument document(request(1, params, recycled, "a", error).document);
        EXPECT_EQ(c.rsv, document.string("rsv")) << c.protocol;
        EXPECT_EQ(std::string(c.protocol) == "1" ? "<absent>" : "agent", document.string("bua"))
            << c.protocol;
    }
}

}  // namespace
}  // namespace vxs

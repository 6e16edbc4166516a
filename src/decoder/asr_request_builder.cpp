#include "decoder/asr_request_builder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <vector>

#include "core/log.h"
#include "core/uuid_factory.h"
#include "net/access_token.h"
#include "net/gzip_compressor.h"
#include "net/log_redaction.h"

namespace vxs {

namespace {

typedef std::map<std::string, std::string> StringMap;
typedef Memory::vxs_shared_ptr<Networking::vxs_AccessToken> AccessTokenPtr;

const char kMissingParameters[] = "Decoder missing parameters: ";
const char kInvalidParameter[] = "Decoder invalid parameter: ";
const char kAllocFailed[] =
    "Failed alloc while building post data: Failed allocate memory for request";
const char kPrintFailed[] =
    "Failed alloc while building post data: NULL response while output json!";

// The first two bytes of every compressed document: "u{" in place of the gzip
// magic, which the service expects.
const unsigned char kDocumentMark[2] = {0x75, 0x7B};

void deleteJsonTree(void* tree) { cJSON_Delete(static_cast<cJSON*>(tree)); }

void fail(RequestBuildError& error, int16_t code, const std::string& description) {
    error.domain = DEC_ERROR_CODE_CLASS;
    error.code = code;
    error.description = description;
}

void failMissing(RequestBuildError& error, const char* key) {
    fail(error, DEC_ERROR_CODE_EXCEPTION, std::string(kMissingParameters) + key);
}

// The entry under `key` when it holds a value, else null.
// A required entry; a missing one fails the build.
const paramBase* requireParam(const ParamMap& params, const char* key, RequestBuildError& error) {
    const paramBase* value = findParam(params, key);
    if (value == nullptr) failMissing(error, key);
    return value;
}

bool boolOr(const ParamMap& params, const char* key, bool fallback) {
    const paramBase* value = findParam(params, key);
    return value ? value->valueBool() : fallback;
}

void addStringIfPresent(const ParamMap& params, const char* key, const char* name, cJSON* object) {
    if (const paramBase* value = findParam(params, key))
        ASRRequestBuilder::addObject(value->valueString(), name, object);
}

// Whole-string decimal parse; "" and trailing characters are rejected.
bool parseDecimal(const std::string& text, long long& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    out = std::strtoll(text.c_str(), &end, 10);
    return errno == 0 && end != nullptr && *end == '\0';
}

bool isAllDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

std::string platformWithNetwork(const std::string& platform, int networkType) {
    return platform + (networkType == EVR_NETWORK_TYPE_WIFI ? "&1" : "&3");
}

// The serial number of the utterance, generated and stored on first use so
// that every later packet and the caller see the same value.
std::string serialNumber(ParamMap& params) {
    if (const paramBase* value = findParam(params, ASR_ONLINE_PARAM_KEY_SN_STRING))
        return value->valueString();
    std::string generated = UUIDFactory::generateUUID();
    params[ASR_ONLINE_PARAM_KEY_SN_STRING] = paramBase::box<std::string>(generated);
    return generated;
}

uint32_t punctuationBits(const ParamMap& params) {
    const paramBase* mode = findParam(params, ASR_ONLINE_PARAM_KEY_PUNC_EXT_MODE_INT);
    if (mode != nullptr && mode->valueInt() != 0) {
        switch (mode->valueInt()) {
            case 1:
                return 0x10000;
            case 2:
                return 0x20000;
            case 3:
                return 0x30000;
            default:
                return 0;
        }
    }
    return boolOr(params, ASR_ONLINE_PARAM_KEY_DISABLE_PUNC_BOOL, false) ? 0x10000 : 0;
}

Memory::vxs_shared_ptr<char> allocateBytes(size_t length) {
    Memory::vxs_shared_ptr<char> buffer(new (std::nothrow) char[length == 0 ? 1 : length]);
    if (buffer) buffer.setCustomDestructor(&Memory::vxs_shared_ptr<char>::arrayDestructor);
    return buffer;
}

// Prints, logs (redacted: the documents carry keys and tokens), compresses and
// marks a document. Empty on failure with `error` set.
Memory::vxs_shared_ptr<char> compressDocument(const cJSON* document, size_t& outLength,
                                              RequestBuildError& error) {
    char* text = cJSON_Print(document);
    if (text == nullptr) {
        fail(error, DEC_ERROR_CODE_EXCEPTION, kPrintFailed);
        return Memory::vxs_shared_ptr<char>();
    }
    size_t textLength = std::strlen(text);
    VXS_LOG_TRACE("upload json: %s", Networking::redact_for_log(text, textLength).c_str());
    zipCompressor::CompressError compressError = zipCompressor::COMPRESS_OK;
    size_t zippedLength = 0;
    Memory::vxs_shared_ptr<char> zipped =
        zipCompressor::compressData(text, textLength, zippedLength, compressError);
    cJSON_free(text);
    if (compressError != zipCompressor::COMPRESS_OK) {
        fail(error, DEC_ERROR_CODE_EXCEPTION,
             "Failed compress post data: Zip request failed with error: " +
                 std::to_string(compressError));
        return Memory::vxs_shared_ptr<char>();
    }
    if (!zipped || zippedLength < 2) {
        fail(error, DEC_ERROR_CODE_EXCEPTION,
             "Zip request failed, invalid data size from compressor 0");
        return Memory::vxs_shared_ptr<char>();
    }
    std::memcpy(zipped.getPTR(), kDocumentMark, sizeof(kDocumentMark));
    outLength = zippedLength;
    return zipped;
}

// "\r\n--B\r\n" document "\r\n--B\r\n" audio "\r\n--B--\r\n", no part headers.
Memory::vxs_shared_ptr<char> assembleMultipart(const char* document, size_t documentLength,
                                               const char* audio, size_t audioLength,
                                               size_t& outLength, RequestBuildError& error) {
    const std::string separator = std::string("\r\n--") + ASR_REQUEST_CONTENT_BOUNDARY + "\r\n";
    const std::string closing = std::string("\r\n--") + ASR_REQUEST_CONTENT_BOUNDARY + "--\r\n";
    if (audio == nullptr) audioLength = 0;
    size_t total = separator.size() * 2 + documentLength + audioLength + closing.size();
    Memory::vxs_shared_ptr<char> body = allocateBytes(total);
    if (!body) {
        fail(error, DEC_ERROR_CODE_EXCEPTION, kAllocFailed);
        return body;
    }
    char* cursor = body.getPTR();
    auto append = [&cursor](const char* bytes, size_t length) {
        if (length == 0) return;
        std::memcpy(cursor, bytes, length);
        cursor += length;
    };
    append(separator.data(), separator.size());
    append(document, documentLength);
    append(separator.data(), separator.size());
    append(audio, audioLength);
    append(closing.data(), closing.size());
    outLength = total;
    return body;
}

Memory::vxs_shared_ptr<char> finishBody(const cJSON* document, const char* audio,
                                        size_t audioLength, size_t& outLength,
                                        RequestBuildError& error) {
    size_t documentLength = 0;
    Memory::vxs_shared_ptr<char> compressed = compressDocument(document, documentLength, error);
    if (!compressed) return compressed;
    return assembleMultipart(compressed.getPTR(), documentLength, audio, audioLength, outLength,
                             error);
}

// Percent-encodes everything but RFC 3986 unreserved characters, so that a
// name or value holding "&" or "=" cannot split or forge rsv pairs.
std::string formEncode(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '_' || c == '.' || c == '~') {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 0x0F];
        }
    }
    return encoded;
}

bool addChunkCredentials(const ParamMap& params, cJSON* document, RequestBuildError& error) {
    addStringIfPresent(params, ASR_ONLINE_PARAM_KEY_CHUNK_KEY, ASR_REQUEST_KEY_CHUNK_KEY, document);
    addStringIfPresent(params, ASR_ONLINE_PARAM_KEY_CHUNK_PARAM, ASR_REQUEST_KEY_CHUNK_PARAMS,
                       document);
    if (const paramBase* appId = findParam(params, ASR_ONLINE_PARAM_KEY_APP_ID)) {
        long long number = 0;
        std::string text = appId->valueString();
        if (!isAllDigits(text) || !parseDecimal(text, number)) {
            fail(error, DEC_ERROR_CODE_INVALID_PARAMETER,
                 std::string(kInvalidParameter) + ASR_ONLINE_PARAM_KEY_APP_ID);
            return false;
        }
        cJSON_AddNumberToObject(document, ASR_REQUEST_KEY_APP_ID, static_cast<double>(number));
    }
    addStringIfPresent(params, ASR_ONLINE_PARAM_KEY_VP_PARAMS, ASR_REQUEST_KEY_VP_PARAMS, document);
    addStringIfPresent(params, ASR_ONLINE_PARAM_KEY_API_KEY, ASR_REQUEST_KEY_API_KEY, document);
    if (!findParam(params, ASR_ONLINE_PARAM_KEY_CHUNK_KEY) &&
        !findParam(params, ASR_ONLINE_PARAM_KEY_API_KEY)) {
        fail(error, DEC_ERROR_CODE_EXCEPTION,
             std::string("missing parameters: ") + ASR_ONLINE_PARAM_KEY_CHUNK_KEY + " or " +
                 ASR_ONLINE_PARAM_KEY_API_KEY);
        return false;
    }
    return true;
}

std::string uidOrIdentity(const ParamMap& params) {
    const paramBase* uid = findParam(params, ASR_ONLINE_PARAM_KEY_UID_STRING);
    return uid ? uid->valueString() : UUIDFactory::getIdentity();
}

// The document of the chunked parameter packet; null on failure.
cJSON* chunkDocument(ParamMap& params, RequestBuildError& error) {
    const paramBase* network = requireParam(params, ASR_ONLINE_PARAM_KEY_NET_INT, error);
    if (network == nullptr) return nullptr;
    int networkType = network->valueInt();
    cJSON* document = cJSON_CreateObject();
    if (document == nullptr) {
        fail(error, DEC_ERROR_CODE_EXCEPTION, kAllocFailed);
        return nullptr;
    }
    auto abandon = [document]() -> cJSON* {
        cJSON_Delete(document);
        return nullptr;
    };
    if (!addChunkCredentials(params, document, error)) return abandon();
    ASRRequestBuilder::addObject(uidOrIdentity(params), ASR_REQUEST_KEY_CHUNK_UID, document);
    const paramBase* platform = requireParam(params, ASR_ONLINE_PARAM_KEY_PLATFORM_STRING, error);
    if (platform == nullptr) return abandon();
    ASRRequestBuilder::addObject(platformWithNetwork(platform->valueString(), networkType),
                                 ASR_REQUEST_KEY_CHUNK_PLATFORM, document);
    const paramBase* version = requireParam(params, ASR_ONLINE_PARAM_KEY_VER_STRING, error);
    if (version == nullptr) return abandon();
    ASRRequestBuilder::addObject(version->valueString(), ASR_REQUEST_KEY_CHUNK_VERSION, document);
    const paramBase* product = requireParam(params, ASR_ONLINE_PARAM_KEY_PDT_STRING, error);
    if (product == nullptr) return abandon();
    std::string productText = product->valueString();
    long long productId = 0;
    // Only whole numbers: "1-2" would otherwise pass the character check and
    // silently become 1.
    if (productText.find_first_not_of("-1234567890") != std::string::npos ||
        !parseDecimal(productText, productId)) {
        fail(error, DEC_ERROR_CODE_INVALID_PARAMETER,
             std::string(kInvalidParameter) + ASR_ONLINE_PARAM_KEY_PDT_STRING);
        return abandon();
    }
    cJSON_AddNumberToObject(document, ASR_REQUEST_KEY_CHUNK_PRODUCT,
                            static_cast<double>(productId));
    const paramBase* sampleRate = requireParam(params, ASR_ONLINE_PARAM_KEY_SAMPLE_RATE_INT, error);
    if (sampleRate == nullptr) return abandon();
    ASRRequestBuilder::addInt(sampleRate->valueInt(), ASR_REQUEST_KEY_CHUNK_SAMRATE, document);
    ASRRequestBuilder::addObject(serialNumber(params), ASR_REQUEST_KEY_CHUNK_SERIAL_NUMBER,
                                 document);
    addStringIfPresent(params, ASR_ONLINE_PARAM_KEY_APP_STRING, ASR_REQUEST_KEY_CHUNK_APPLICATION,
                       document);
    if (const paramBase* city = findParam(params, ASR_ONLINE_PARAM_KEY_CITY_ID_INT)) {
        ASRRequestBuilder::addInt(city->valueInt(), ASR_REQUEST_KEY_CHUNK_CITY_ID, document);
    }
    if (const paramBase* list = findParam(params, ASR_ONLINE_PARAM_KEY_PROP_LIST)) {
        cJSON* array = cJSON_AddArrayToObject(document, ASR_REQUEST_KEY_CHUNK_PROPERTY_LIST);
        if (const auto* properties = list->get<std::vector<TVXVoiceRecognitionProperty>>()) {
            for (TVXVoiceRecognitionProperty property : *properties) {
                cJSON_AddItemToArray(array, cJSON_CreateNumber(static_cast<double>(property)));
            }
        }
    }
    cJSON_AddNumberToObject(document, ASR_REQUEST_KEY_CHUNK_FUNCTIONS,
                            static_cast<double>(ASRRequestBuilder::functionsValue(params)));
    return document;
}

// The comma-separated list of a single request's "prop_list": offline kinds
// and repeats of the search domain collapse into one 10005; the map domain
// needs the city. False (with `error` set) when the city is missing.
bool propertyListText(const ParamMap& params,
                      const std::vector<TVXVoiceRecognitionProperty>& properties, cJSON* document,
                      std::string& list, RequestBuildError& error) {
    bool searchListed = false;
    auto append = [&list](int value) {
        if (!list.empty()) list += ",";
        list += std::to_string(value);
    };
    for (TVXVoiceRecognitionProperty property : properties) {
        if (property == EVoiceRecognitionPropertyMap) {
            const paramBase* city = requireParam(params, ASR_ONLINE_PARAM_KEY_CITY_ID_INT, error);
            if (city == nullptr) return false;
            ASRRequestBuilder::addObject(std::to_string(city->valueInt()), ASR_REQUEST_KEY_CITY_ID,
                                         document);
        }
        if (ASRRequestBuilder::isOfflineRecognitionProperty(property) ||
            property == EVoiceRecognitionPropertySearch) {
            if (!searchListed) {
                append(EVoiceRecognitionPropertySearch);
                searchListed = true;
            } else if (property == EVoiceRecognitionPropertySearch) {
                append(property);
            }
            continue;
        }
        append(property);
    }
    return true;
}

bool isKelpProtocol(const ParamMap& params) {
    const paramBase* protocol = findParam(params, ASR_ONLINE_PARAM_KEY_PTC_STRING);
    long long number = 0;
    if (protocol == nullptr || !parseDecimal(protocol->valueString(), number)) return false;
    return number == EPROTOCOL_KELP_PROTOCOL || number == EPROTOCOL_KELP_TEXT_PROTOCOL ||
           number == EPROTOCOL_KELP_NLU_PROTOCOL;
}

void addKelpMembers(const ParamMap& params, int networkType, cJSON* document) {
    addStringIfPresent(params, ASR_ONLINE_PARAM_KEY_BUA_STRING, ASR_REQUEST_KEY_USER_AGENT,
                       document);
    addStringIfPresent(params, ASR_ONLINE_PARAM_KEY_COOKIE_STRING, ASR_REQUEST_KEY_COOKIE,
                       document);
    addStringIfPresent(params, ASR_ONLINE_PARAM_KEY_PU_STRING, ASR_REQUEST_KEY_PU, document);
    addStringIfPresent(params, ASR_ONLINE_PARAM_KEY_FROM_STRING, ASR_REQUEST_KEY_FROM, document);
    const paramBase* reserved = findParam(params, ASR_ONLINE_PARAM_KEY_RESERVED);
    const StringMap* pairs = reserved ? reserved->get<StringMap>() : nullptr;
    if (pairs == nullptr) return;
    StringMap withNetwork = *pairs;
    withNetwork[ASR_REQUEST_KEY_RESERVED_NET_TYPE] = networkType == EVR_NETWORK_TYPE_2G ? "1" : "2";
    std::string joined;
    for (const auto& pair : withNetwork) {
        if (!joined.empty()) joined += "&";
        joined += formEncode(pair.first) + "=" + formEncode(pair.second);
    }
    if (!joined.empty()) ASRRequestBuilder::addObject(joined, ASR_REQUEST_KEY_RESERVED, document);
}

// Adds "tok" when the token object holds API keys; false when fetching fails.
bool addAccessToken(const ParamMap& params, cJSON* document, bool* cancelFlag,
                    RequestBuildError& error) {
    const paramBase* entry = findParam(params, ASR_ONLINE_PARAM_KEY_TOK);
    const AccessTokenPtr* token = entry ? entry->get<AccessTokenPtr>() : nullptr;
    if (token == nullptr || !*token || !(*token)->isApiKeyInfoSet()) return true;
    Memory::vxs_shared_ptr<char> description;
    Memory::vxs_shared_ptr<char> value = (*token)->getAccessToken(&description, cancelFlag);
    if (!value || value.getPTR()[0] == '\0') {
        fail(error, DEC_ERROR_CODE_ACCESS_TOKEN_FAILED,
             std::string("Failed get access token: ") + (description ? description.getPTR() : ""));
        return false;
    }
    ASRRequestBuilder::addObject(value.getPTR(), ASR_REQUEST_KEY_ACCESS_TOKEN, document);
    return true;
}

// The document of a single request; null on failure.
cJSON* requestDocument(int idx, ParamMap& params, bool* cancelFlag, RequestBuildError& error) {
    const paramBase* network = requireParam(params, ASR_ONLINE_PARAM_KEY_NET_INT, error);
    if (network == nullptr) return nullptr;
    int networkType = network->valueInt();
    bool firstPiece = idx == 1 || idx == -1;
    cJSON* document = cJSON_CreateObject();
    if (document == nullptr) {
        fail(error, DEC_ERROR_CODE_EXCEPTION, kAllocFailed);
        return nullptr;
    }
    auto abandon = [document]() -> cJSON* {
        cJSON_Delete(document);
        return nullptr;
    };
    if (firstPiece) {
        ASRRequestBuilder::addObject(uidOrIdentity(params), ASR_REQUEST_KEY_UID, document);
        const paramBase* platform =
            requireParam(params, ASR_ONLINE_PARAM_KEY_PLATFORM_STRING, error);
        if (platform == nullptr) return abandon();
        ASRRequestBuilder::addObject(platformWithNetwork(platform->valueString(), networkType),
                                     ASR_REQUEST_KEY_PLATFORM, document);
        const paramBase* version = requireParam(params, ASR_ONLINE_PARAM_KEY_VER_STRING, error);
        if (version == nullptr) return abandon();
        ASRRequestBuilder::addObject(version->valueString(), ASR_REQUEST_KEY_VERSION, document);
    }
    ASRRequestBuilder::addObject(std::to_string(idx), ASR_REQUEST_KEY_REQUEST_INDEX, document);
    const paramBase* product = requireParam(params, ASR_ONLINE_PARAM_KEY_PDT_STRING, error);
    if (product == nullptr) return abandon();
    ASRRequestBuilder::addObject(product->valueString(), ASR_REQUEST_KEY_PRODUCT, document);
    ASRRequestBuilder::addObject(serialNumber(params), ASR_REQUEST_KEY_SERIAL_NUMBER, document);
    ASRRequestBuilder::addObject(ASR_REQUEST_DEFAULT_TEXT_ENCODE, ASR_REQUEST_KEY_TEXT_ENCODING,
                                 document);
    ASRRequestBuilder::addObject(ASR_REQUEST_DEFAULT_RETURN_TYPE, ASR_REQUEST_KEY_RETURN_TYPE,
                                 document);
    const paramBase* protocol = requireParam(params, ASR_ONLINE_PARAM_KEY_PTC_STRING, error);
    if (protocol == nullptr) return abandon();
    ASRRequestBuilder::addObject(protocol->valueString(), ASR_REQUEST_KEY_PROTOCOL, document);
    addStringIfPresent(params, ASR_ONLINE_PARAM_KEY_APP_STRING, ASR_REQUEST_KEY_APPLICATION,
                       document);
    if (!addAccessToken(params, document, cancelFlag, error)) return abandon();
    if (firstPiece) {
        const paramBase* list = findParam(params, ASR_ONLINE_PARAM_KEY_PROP_LIST);
        const auto* properties =
            list ? list->get<std::vector<TVXVoiceRecognitionProperty>>() : nullptr;
        if (properties != nullptr) {
            std::string text;
            if (!propertyListText(params, *properties, document, text, error)) return abandon();
            if (!text.empty()) {
                ASRRequestBuilder::addObject("{\"prop_list\":[" + text + "]}",
                                             ASR_REQUEST_KEY_PROPERTY_LIST, document);
            }
        }
    }
    ASRRequestBuilder::addObject(std::to_string(ASRRequestBuilder::functionsValue(params)),
                                 ASR_REQUEST_KEY_FUNCTIONS, document);
    if (firstPiece) {
        const paramBase* user = findParam(params, ASR_ONLINE_PARAM_KEY_USER_PARAMS);
        if (const StringMap* pairs = user ? user->get<StringMap>() : nullptr) {
            for (const auto& pair : *pairs)
                ASRRequestBuilder::addObject(pair.second, pair.first.c_str(), document);
        }
        if (isKelpProtocol(params)) addKelpMembers(params, networkType, document);
    }
    return document;
}

}  // namespace

JsonDocumentPtr make_json_document(cJSON* tree) {
    JsonDocumentPtr document(tree);
    if (document) document.setCustomDestructor(&deleteJsonTree);
    return document;
}

Memory::vxs_shared_ptr<char> ASRRequestBuilder::buildChunkUpParams(const ParamMapPtr& params,
                                                                   size_t& outLength,
                                                                   RequestBuildError& error) {
    if (!params) {
        fail(error, DEC_ERROR_CODE_EXCEPTION,
             std::string(kMissingParameters) + "missing all config!!");
        return Memory::vxs_shared_ptr<char>();
    }
    JsonDocumentPtr document = make_json_document(chunkDocument(*params, error));
    if (!document) return Memory::vxs_shared_ptr<char>();
    size_t compressedLength = 0;
    Memory::vxs_shared_ptr<char> compressed =
        compressDocument(document.getPTR(), compressedLength, error);
    if (!compressed) return compressed;
    Memory::vxs_shared_ptr<char> packet =
        buildChunkData(compressed.getPTR(), compressedLength, TYPE_UPLOAD_PARAM, outLength);
    if (!packet) fail(error, DEC_ERROR_CODE_EXCEPTION, kAllocFailed);
    return packet;
}

Memory::vxs_shared_ptr<char> ASRRequestBuilder::buildChunkData(const char* payload,
                                                               size_t payloadLength, uint8_t type,
                                                               size_t& outLength) {
    if (payload == nullptr) payloadLength = 0;
    // The length field is 32 bits wide; a larger payload cannot be framed.
    if (payloadLength > UINT32_MAX - 1) return Memory::vxs_shared_ptr<char>();
    size_t total = payloadLength + 5;
    Memory::vxs_shared_ptr<char> packet = allocateBytes(total);
    if (!packet) return packet;
    uint32_t length = static_cast<uint32_t>(payloadLength + 1);
    unsigned char* bytes = reinterpret_cast<unsigned char*>(packet.getPTR());
    for (int shift = 0; shift < 4; ++shift)
        bytes[shift] = static_cast<unsigned char>(length >> (8 * shift));
    bytes[4] = type;
    if (payloadLength > 0) std::memcpy(bytes + 5, payload, payloadLength);
    outLength = total;
    VXS_LOG_DEBUG("buildChunkData alllen=%d, type=%d, datalen=%d", static_cast<int>(total),
                  static_cast<int>(type), static_cast<int>(payloadLength));
    return packet;
}

Memory::vxs_shared_ptr<char> ASRRequestBuilder::buildRequest(
    const char* audio, size_t audioLength, size_t& outLength, int idx, const ParamMapPtr& params,
    JsonDocumentPtr& recycled, RequestBuildError& error, bool* cancelFlag) {
    if (recycled && (idx > 2 || idx < -2)) {
        Memory::vxs_shared_ptr<char> body =
            buildRequestFromRecycledJSON(audio, audioLength, outLength, idx, recycled, error);
        if (body) return body;
        if (error.code != 0) return body;
    }
    return buildNewRequest(audio, audioLength, outLength, idx, params, recycled, error, cancelFlag);
}

Memory::vxs_shared_ptr<char> ASRRequestBuilder::buildNewRequest(
    const char* audio, size_t audioLength, size_t& outLength, int idx, const ParamMapPtr& params,
    JsonDocumentPtr& recycled, RequestBuildError& error, bool* cancelFlag) {
    if (!params) {
        fail(error, DEC_ERROR_CODE_EXCEPTION,
             std::string(kMissingParameters) + "missing all config!!");
        return Memory::vxs_shared_ptr<char>();
    }
    JsonDocumentPtr document = make_json_document(requestDocument(idx, *params, cancelFlag, error));
    if (!document) return Memory::vxs_shared_ptr<char>();
    Memory::vxs_shared_ptr<char> body =
        finishBody(document.getPTR(), audio, audioLength, outLength, error);
    if (body) recycled = document;
    return body;
}

Memory::vxs_shared_ptr<char> ASRRequestBuilder::buildRequestFromRecycledJSON(
    const char* audio, size_t audioLength, size_t& outLength, int idx, JsonDocumentPtr& recycled,
    RequestBuildError& error) {
    cJSON* index = recycled ? cJSON_GetObjectItemCaseSensitive(recycled.getPTR(),
                                                               ASR_REQUEST_KEY_REQUEST_INDEX)
                            : nullptr;
    if (index == nullptr) return Memory::vxs_shared_ptr<char>();
    if (!cJSON_IsString(index) ||
        cJSON_SetValuestring(index, std::to_string(idx).c_str()) == nullptr) {
        fail(error, DEC_ERROR_CODE_EXCEPTION, kAllocFailed);
        return Memory::vxs_shared_ptr<char>();
    }
    return finishBody(recycled.getPTR(), audio, audioLength, outLength, error);
}

bool ASRRequestBuilder::isOfflineRecognitionProperty(TVXVoiceRecognitionProperty property) {
    switch (property) {
        case EVoiceRecognitionPropertyContacts:
        case EVoiceRecognitionPropertySetting:
        case EVoiceRecognitionPropertyTVInstruction:
        case EVoiceRecognitionPropertyPlayerInstruction:
        case EVoiceRecognitionPropertyRadio:
            return true;
        default:
            return false;
    }
}

uint32_t ASRRequestBuilder::functionsValue(const ParamMap& params) {
    uint32_t functions = 0;
    if (boolOr(params, ASR_ONLINE_PARAM_KEY_ENABLE_EARLY_RETURNS_BOOL, true)) functions |= 0x1;
    uint32_t punctuation = punctuationBits(params);
    VXS_LOG_DEBUG("Punctuation Mode: %02X", static_cast<unsigned>(punctuation >> 16));
    functions |= punctuation;
    if (boolOr(params, ASR_ONLINE_PARAM_KEY_ENABLE_SERVER_VAD_BOOL, true)) functions |= 0x40000;
    if (boolOr(params, ASR_ONLINE_PARAM_KEY_ENABLE_CONTACTS_BOOL, false)) functions |= 0x20000000;
    return functions;
}

void ASRRequestBuilder::addObject(const std::string& value, const char* name, cJSON* object) {
    if (object == nullptr || name == nullptr) return;
    cJSON_AddStringToObject(object, name, value.c_str());
}

void ASRRequestBuilder::addInt(int value, const char* name, cJSON* object) {
    if (object == nullptr || name == nullptr) return;
    cJSON_AddNumberToObject(object, name, value);
}

}  // namespace vxs

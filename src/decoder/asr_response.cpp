#include "decoder/asr_response.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/json_util.h"
#include "core/log.h"
#include "decoder/download_record.h"

namespace vxs {

namespace {

// Owns one parsed tree for the scope.
class JsonTree {
  public:
    explicit JsonTree(cJSON* tree) : m_tree(tree) {}
    ~JsonTree() { cJSON_Delete(m_tree); }
    JsonTree(const JsonTree&) = delete;
    JsonTree& operator=(const JsonTree&) = delete;
    cJSON* get() const { return m_tree; }

  private:
    cJSON* m_tree;
};

std::string unformatted_json(const cJSON* tree) {
    if (tree == nullptr) return std::string();
    char* printed = cJSON_PrintUnformatted(tree);
    if (printed == nullptr) return std::string();
    std::string text(printed);
    cJSON_free(printed);
    return text;
}

void set_local_error(ASRResult* result, const std::string& description) {
    result->_err_no = ASR_LOCAL_PARSE_ERR_NO;
    result->_err_desc = description;
}

void mark_error_if_failed(ASRResult* result) {
    if (result->_err_no != 0) result->_type = EVR_RESULT_TYPE_ERROR;
}

// The server's number as the 16-bit field holds it. A value that does not fit
// (65536 would truncate to 0, i.e. success) or is not whole stays an error.
int16_t server_err_no_of(const cJSON* number) {
    const double value = number->valuedouble;
    if (std::isfinite(value) && value == std::floor(value) && value >= INT16_MIN &&
        value <= INT16_MAX) {
        return static_cast<int16_t>(value);
    }
    VXS_LOG_WARN("[ASRResponse] err_no %.17g out of range, taken as a server error", value);
    return ASR_SERVER_ERR_NO_UNKNOWN;
}

void store_server_err_no(const cJSON* number, ASRResult* result) {
    result->_err_no = server_err_no_of(number);
    result->_err_desc = ASRResponse::get_server_err_desc(result->_err_no);
}

// The text handed to the session: {"results_recognition":[...],"origin_result":{answer}}.
// A null `recognition` gives an empty array.
void set_result_text(const cJSON* recognition, const cJSON* answer, ASRResult* result) {
    cJSON* text = cJSON_CreateObject();
    cJSON* items = recognition ? cJSON_Duplicate(recognition, 1) : cJSON_CreateArray();
    cJSON* origin = cJSON_Duplicate(answer, 1);
    bool built = text && items && origin;
    if (built) {
        cJSON_AddItemToObject(text, "results_recognition", items);
        cJSON_AddItemToObject(text, "origin_result", origin);
        result->_response = unformatted_json(text);
        built = !result->_response.empty();
    } else {
        cJSON_Delete(items);
        cJSON_Delete(origin);
    }
    cJSON_Delete(text);
    if (!built) set_local_error(result, "[ASRResponse] building the result text failed");
}

// The recognised text of a confusion network: per slot, the name of the first
// member of the slot's first candidate.
std::string confusion_network_text(const cJSON* content) {
    std::string text;
    for (const cJSON* slot = content->child; slot != nullptr; slot = slot->next) {
        const cJSON* word = get_json_array_item(get_json_array_item(slot, 0), 0);
        if (word != nullptr && word->string != nullptr) text += word->string;
    }
    return text;
}

// answer.content.item, or null (an empty list) when it is not an array.
const cJSON* search_mode_items(const cJSON* answer) {
    const cJSON* items = get_json_item(get_json_item(answer, "content"), "item");
    if (cJSON_IsArray(items)) return items;
    VXS_LOG_INFO("[ASRResponse::parse_partial_result] content item not found: %s",
                 unformatted_json(answer).c_str());
    return nullptr;
}

bool read_number(const cJSON* tree, const char* key, const cJSON** number) {
    const cJSON* item = get_json_item(tree, key);
    if (!cJSON_IsNumber(item)) return false;
    *number = item;
    return true;
}

}  // namespace

ASRResponse::ASRResponse(int32_t index, const char* data, uint32_t length)
    : _idx(index), _data_len(0), _data_alloc_failed(false) {
    const bool hasData = data != nullptr && length > 0;
    const size_t size = hasData ? static_cast<size_t>(length) : 1;
    // One spare byte keeps the copy NUL-terminated for anyone who prints it;
    // the parsers themselves are bounded by _data_len.
    char* buffer = new (std::nothrow) char[size + 1];
    if (buffer == nullptr) {
        VXS_LOG_FATAL("[ASRResponse::ASRResponse] malloc for _data failed");
        if (!hasData) abort();
        // An answer too large to copy becomes an error result, not a crash.
        _data_alloc_failed = true;
        return;
    }
    if (hasData)
        memcpy(buffer, data, size);
    else
        buffer[0] = '\0';
    buffer[size] = '\0';
    _data = Memory::vxs_shared_ptr<char>(buffer);
    _data.setCustomDestructor(&Memory::vxs_shared_ptr<char>::arrayDestructor);
    _data_len = static_cast<uint32_t>(size);
}

bool ASRResponse::report_missing_data(ASRResult* result) const {
    if (!_data_alloc_failed) return false;
    set_local_error(result, "[ASRResponse::ASRResponse] malloc for _data failed");
    mark_error_if_failed(result);
    return true;
}

std::string ASRResponse::get_server_err_desc(int err_no) {
    VXS_LOG_ERROR("[ASRResponse::get_server_err_desc]err_no is: %d", err_no);
    switch (err_no) {
        case 0:
            return "Server response ok.";
        case -3001:
            return "Server parameters invalid.";
        case -3002:
            return "Server recognition failed.";
        case -3003:
            return "Server find no recognition result.";
        case -3004:
            return "Server app name unknown.";
        case -3005:
            return "Server speech quality problem.";
        case -3006:
            return "Server speech too long.";
        default:
            return "Server unkown error.";
    }
}

void ASRResponse::get_err_no_in_search_mode(const cJSON* answer, ASRResult* result) {
    if (result == nullptr) return;
    const cJSON* errNo = nullptr;
    if (read_number(get_json_item(answer, "result"), "err_no", &errNo)) {
        store_server_err_no(errNo, result);
    } else {
        set_local_error(
            result, "[ASRResponse::get_err_no_in_search_mode]err_no item not found, response: " +
                        unformatted_json(answer));
    }
}

void ASRResponse::get_err_no_in_input_mode(const cJSON* answer, ASRResult* result) {
    if (result == nullptr) return;
    const cJSON* first = get_json_array_item(get_json_item(answer, "idxs"), 0);
    const cJSON* errNo = nullptr;
    if (read_number(get_json_item(first, "result"), "err_no", &errNo)) {
        store_server_err_no(errNo, result);
    } else {
        set_local_error(result,
                        "[ASRResponse::get_err_no_in_input_mode]err_no item not found, response: " +
                            unformatted_json(answer));
    }
}

void ASRResponse::parse_partial_result(const cJSON* answer, ASRResult* result) {
    if (answer == nullptr || result == nullptr) {
        VXS_LOG_ERROR("[ASRResponse::parse_partial_result] invalid parameter");
        return;
    }
    get_err_no_in_search_mode(answer, result);
    if (result->_err_no == ASR_LOCAL_PARSE_ERR_NO) {
        result->_type = EVR_RESULT_TYPE_ERROR;
        return;
    }
    // A server error does not stop here: the result keeps its text and is
    // marked as an error at the end.
    const cJSON* body = get_json_item(answer, "result");
    const cJSON* index = nullptr;
    const cJSON* resType = nullptr;
    if (!read_number(body, "idx", &index)) {
        set_local_error(result, "[ASRResponse::parse_partial_result] idx item not found:" +
                                    unformatted_json(answer));
    } else {
        result->_index = index->valueint;
        if (!read_number(body, "res_type", &resType)) {
            VXS_LOG_INFO("[ASRResponse::parse_partial_result] res_type item not found: %s",
                         unformatted_json(answer).c_str());
            result->_type = EVR_RESULT_TYPE_EMPTY;
        } else {
            result->_res_type = static_cast<ASR_RES_TYPE>(resType->valueint);
            set_result_text(search_mode_items(answer), answer, result);
            result->_type = EVR_RESULT_TYPE_PARTIAL;
        }
    }
    mark_error_if_failed(result);
}

void ASRResponse::create_result(ASRResult* result, TVXVoiceRecognitionResultType resultType) {
    if (result == nullptr || report_missing_data(result)) return;
    JsonTree answer(read_json(_data.getPTR(), _data_len));
    if (answer.get() == nullptr) {
        set_local_error(result, "[ASRResponse::create_result] parse json failed");
    } else {
        parse_partial_result(answer.get(), result);
        if (result->_err_no == 0 && (result->_res_type == ASR_RES_TYPE_SINGLE_FINISH ||
                                     result->_res_type == ASR_RES_TYPE_MULTI_FINISH)) {
            result->_type = resultType;
        }
        if (result->_err_no != 0)
            VXS_LOG_ERROR("[ASRResponse::create_result] parse_partial_result failed");
    }
    mark_error_if_failed(result);
}

void ASRResponse::fill_cn_result(const cJSON* answer, ASRResult* result) {
    get_err_no_in_input_mode(answer, result);
    if (result->_err_no != 0) return;
    const cJSON* first = get_json_array_item(get_json_item(answer, "idxs"), 0);
    const cJSON* body = get_json_item(first, "result");
    const cJSON* index = nullptr;
    const cJSON* resType = nullptr;
    if (body == nullptr) {
        set_local_error(result, "[ASRResponse::create_cn_result] result item not found: " +
                                    unformatted_json(answer));
        return;
    }
    if (!read_number(body, "idx", &index)) {
        set_local_error(result, "[ASRResponse::create_cn_result] idx item not found: " +
                                    unformatted_json(body));
        return;
    }
    result->_index = index->valueint;
    if (!read_number(body, "res_type", &resType)) {
        set_local_error(result, "[ASRResponse::create_cn_result] res_type item not found: " +
                                    unformatted_json(body));
        return;
    }
    result->_res_type = static_cast<ASR_RES_TYPE>(resType->valueint);

    const cJSON* content = get_json_item(first, "content");
    cJSON* recognition = cJSON_CreateArray();
    if (cJSON_IsArray(content)) {
        cJSON_AddItemToArray(recognition,
                             cJSON_CreateString(confusion_network_text(content).c_str()));
    } else {
        VXS_LOG_INFO("[ASRResponse::create_cn_result] content item not found: %s",
                     unformatted_json(answer).c_str());
    }
    set_result_text(recognition, answer, result);
    cJSON_Delete(recognition);
    result->_type = EVR_RESULT_TYPE_CN;
}

void ASRResponse::create_cn_result(ASRResult* result) {
    if (result == nullptr || report_missing_data(result)) return;
    JsonTree answer(read_json(_data.getPTR(), _data_len));
    if (answer.get() == nullptr) {
        set_local_error(result, "[ASRResponse::create_cn_result] parse json failed");
    } else if (get_json_item(answer.get(), "idxs") == nullptr) {
        parse_partial_result(answer.get(), result);
    } else {
        fill_cn_result(answer.get(), result);
    }
    mark_error_if_failed(result);
}

void ASRResponse::parse_chunk_json(const char* payload, uint32_t length, ASRResult* result) {
    // Bounded by the payload length: a record carries no terminator.
    JsonTree answer(read_json(payload, length));
    if (answer.get() == nullptr) {
        set_local_error(result, "[ASRResponse::create_result] parse json failed");
        return;
    }
    const cJSON* errNo = nullptr;
    if (!read_number(answer.get(), "err_no", &errNo)) {
        set_local_error(result, "[ASRResponse::create_chunk_result]err_no item not found");
        return;
    }
    store_server_err_no(errNo, result);
    const cJSON* words = get_json_item(get_json_item(answer.get(), "result"), "word");
    set_result_text(cJSON_IsArray(words) ? words : nullptr, answer.get(), result);
}

void ASRResponse::create_chunk_result(ASRResult* result) {
    if (result == nullptr || report_missing_data(result)) return;
    if (_data_len <= DOWNLOAD_RECORD_HEADER_BYTES) {
        result->_res_type = ASR_RES_TYPE_NONE;
        result->_type = EVR_RESULT_TYPE_EMPTY;
        return;
    }
    const uint8_t* record = reinterpret_cast<const uint8_t*>(_data.getPTR());
    VXS_LOG_DEBUG("[ASRResponse::create_chunk_result] record head: %02x %02x %02x %02x %02x",
                  record[0], record[1], record[2], record[3], record[4]);
    // The header's length must describe exactly these bytes; anything else
    // means the stream is out of step and nothing in it can be trusted.
    size_t recordSize = 0;
    if (frame_download_record(record, _data_len, &recordSize) != DOWNLOAD_RECORD_COMPLETE ||
        recordSize != _data_len) {
        set_local_error(result,
                        "[ASRResponse::create_chunk_result]record length does not match the data");
        mark_error_if_failed(result);
        return;
    }
    const char* payload = _data.getPTR() + DOWNLOAD_RECORD_PAYLOAD_OFFSET;
    const uint32_t payloadLength =
        _data_len - static_cast<uint32_t>(DOWNLOAD_RECORD_PAYLOAD_OFFSET);
    switch (record[4]) {
        case DOWNLOAD_RECORD_PARTIAL:
        case DOWNLOAD_RECORD_FINAL: {
            const bool partial = record[4] == DOWNLOAD_RECORD_PARTIAL;
            if (payloadLength == 0) {
                // An empty partial is nothing to report; an empty final would
                // otherwise end the utterance with neither a result nor an error.
                if (!partial) {
                    result->_res_type = ASR_RES_TYPE_SINGLE_FINISH;
                    set_local_error(result,
                                    "[ASRResponse::create_chunk_result]not enough response data");
                }
                break;
            }
            result->_res_type = partial ? ASR_RES_TYPE_PARTIAL : ASR_RES_TYPE_SINGLE_FINISH;
            result->_type = partial ? EVR_RESULT_TYPE_PARTIAL : EVR_RESULT_TYPE_FINISH;
            parse_chunk_json(payload, payloadLength, result);
            break;
        }
        case DOWNLOAD_RECORD_THIRD:
            result->_res_type = ASR_RES_TYPE_THIRD;
            result->_type = EVR_RESULT_TYPE_THIRD;
            result->set_binary_data(payload, payloadLength);
            break;
        case DOWNLOAD_RECORD_NLU:
            result->_res_type = ASR_RES_TYPE_NLU;
            result->_type = EVR_RESULT_TYPE_NLU;
            result->set_binary_data(payload, payloadLength);
            break;
        case DOWNLOAD_RECORD_VP_RES:
            result->_res_type = ASR_RES_TYPE_VP_RES;
            result->_type = EVR_RESULT_TYPE_VP_RES;
            result->set_binary_data(payload, payloadLength);
            break;
        case DOWNLOAD_RECORD_END:
            result->_res_type = ASR_RES_TYPE_END;
            result->_type = EVR_RESULT_TYPE_END;
            break;
        default:
            result->_res_type = ASR_RES_TYPE_NONE;
            result->_type = EVR_RESULT_TYPE_EMPTY;
            break;
    }
    mark_error_if_failed(result);
}

}  // namespace vxs

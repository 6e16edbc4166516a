#include "answers.h"

#include <sstream>
#include <vector>

#include <cjson/cJSON.h>

#include "marked_document.h"

namespace vxs {
namespace refservice {

namespace {

std::vector<std::string> split_words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    std::string word;
    while (in >> word) words.push_back(word);
    return words;
}

void add_error_members(cJSON* object, int err_no, const std::string& detail) {
    cJSON_AddNumberToObject(object, "err_no", err_no);
    cJSON_AddStringToObject(object, "err_msg", detail.empty() ? server_error_text(err_no) : detail.c_str());
}

cJSON* result_object(int err_no, int idx, int res_type, const std::string& sn, const std::string& detail) {
    cJSON* result = cJSON_CreateObject();
    add_error_members(result, err_no, detail);
    cJSON_AddNumberToObject(result, "idx", idx);
    cJSON_AddNumberToObject(result, "res_type", res_type);
    cJSON_AddStringToObject(result, "sn", sn.c_str());
    return result;
}

// One slot per word, one candidate per slot; words after the first carry
// their leading space because a client joins the slots without separators.
cJSON* confusion_network(const std::string& text) {
    cJSON* slots = cJSON_CreateArray();
    const std::vector<std::string> words = split_words(text);
    for (size_t i = 0; i < words.size(); ++i) {
        cJSON* candidate = cJSON_CreateObject();
        cJSON_AddNumberToObject(candidate, (i == 0 ? words[i] : " " + words[i]).c_str(), 1.0);
        cJSON* slot = cJSON_CreateArray();
        cJSON_AddItemToArray(slot, candidate);
        cJSON_AddItemToArray(slots, slot);
    }
    return slots;
}

std::string print_and_free(cJSON* root) {
    std::string text = print_compact(root);
    cJSON_Delete(root);
    return text;
}

}  // namespace

const char* server_error_text(int err_no) {
    switch (err_no) {
        case 0: return "Server response ok.";
        case -3001: return "Server parameters invalid.";
        case -3002: return "Server recognition failed.";
        case -3003: return "Server find no recognition result.";
        case -3004: return "Server app name unknown.";
        case -3005: return "Server speech quality problem.";
        case -3006: return "Server speech too long.";
        default: return "Server unkown error.";
    }
}

std::string download_record(uint8_t type, const std::string& payload, uint32_t announced_extra) {
    const uint32_t length = static_cast<uint32_t>(payload.size()) + 1 + announced_extra;
    std::string record;
    record.reserve(payload.size() + 5);
    for (int shift = 0; shift < 32; shift += 8) record.push_back(static_cast<char>((length >> shift) & 0xFF));
    record.push_back(static_cast<char>(type));
    record += payload;
    return record;
}

std::string chunk_result_json(int err_no, const std::string& text, const std::string& sn, const std::string& detail) {
    cJSON* root = cJSON_CreateObject();
    add_error_members(root, err_no, detail);
    cJSON_AddStringToObject(root, "sn", sn.c_str());
    cJSON* result = cJSON_AddObjectToObject(root, "result");
    cJSON* words = cJSON_AddArrayToObject(result, "word");
    if (!text.empty()) cJSON_AddItemToArray(words, cJSON_CreateString(text.c_str()));
    return print_and_free(root);
}

std::string single_answer(const std::string& protocol, int err_no, int idx, int res_type, const std::string& text,
                          const std::string& sn, const std::string& detail) {
    cJSON* root = cJSON_CreateObject();
    cJSON* result = result_object(err_no, idx, res_type, sn, detail);
    if (protocol == "101") {
        cJSON* entry = cJSON_CreateObject();
        cJSON_AddItemToObject(entry, "result", result);
        cJSON_AddItemToObject(entry, "content", confusion_network(text));
        cJSON* idxs = cJSON_AddArrayToObject(root, "idxs");
        cJSON_AddItemToArray(idxs, entry);
    } else {
        cJSON_AddItemToObject(root, "result", result);
        cJSON* content = cJSON_AddObjectToObject(root, "content");
        cJSON* items = cJSON_AddArrayToObject(content, "item");
        if (!text.empty()) cJSON_AddItemToArray(items, cJSON_CreateString(text.c_str()));
    }
    return print_and_free(root);
}

}  // namespace refservice
}  // namespace vxs

#include "core/json_util.h"

namespace vxs {

cJSON* read_json(const char* text) {
    if (!text || !*text) return nullptr;
    return cJSON_Parse(text);
}

cJSON* read_json(const char* text, size_t length) {
    if (!text || length == 0) return nullptr;
    return cJSON_ParseWithLength(text, length);
}

cJSON* get_json_item(const cJSON* tree, const char* key) {
    if (!tree || !key) return nullptr;
    return cJSON_GetObjectItemCaseSensitive(tree, key);
}

cJSON* get_json_array_item(const cJSON* tree, int index) {
    if (!tree || index < 0) return nullptr;
    return cJSON_GetArrayItem(tree, index);
}

}  // namespace vxs

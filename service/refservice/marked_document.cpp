#include "marked_document.h"

#include <zlib.h>

#include <cstdlib>

namespace vxs {
namespace refservice {

bool inflate_marked_document(const uint8_t* data, size_t size, std::string* text, std::string* error) {
    if (size < 18 || data[0] != 0x75 || data[1] != 0x7B) {
        *error = "document is not a marked gzip member";
        return false;
    }
    std::string member(reinterpret_cast<const char*>(data), size);
    member[0] = static_cast<char>(0x1F);
    member[1] = static_cast<char>(0x8B);

    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
        *error = "inflate init failed";
        return false;
    }
    stream.next_in = reinterpret_cast<Bytef*>(&member[0]);
    stream.avail_in = static_cast<uInt>(member.size());
    text->clear();
    char chunk[16384];
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof(chunk);
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) break;
        text->append(chunk, sizeof(chunk) - stream.avail_out);
        if (text->size() > kMaxDocumentBytes) {
            inflateEnd(&stream);
            *error = "document larger than " + std::to_string(kMaxDocumentBytes) + " bytes";
            return false;
        }
        if (status == Z_OK && stream.avail_in == 0 && stream.avail_out != 0) break;
    }
    const bool complete = status == Z_STREAM_END;
    const bool trailing = stream.avail_in != 0;
    inflateEnd(&stream);
    if (!complete) {
        *error = "document is not a complete gzip member";
        return false;
    }
    if (trailing) {
        *error = "bytes after the gzip member";
        return false;
    }
    return true;
}

bool read_marked_document(const uint8_t* data, size_t size, JsonDocument* document, std::string* text,
                          std::string* error) {
    if (!inflate_marked_document(data, size, text, error)) return false;
    cJSON* root = cJSON_ParseWithLength(text->data(), text->size());
    if (!root || !cJSON_IsObject(root)) {
        cJSON_Delete(root);
        *error = "document is not a JSON object";
        return false;
    }
    *document = JsonDocument(root);
    return true;
}

std::string print_compact(const cJSON* item) {
    if (!item) return std::string();
    char* printed = cJSON_PrintUnformatted(item);
    if (!printed) return std::string();
    std::string text(printed);
    cJSON_free(printed);
    return text;
}

}  // namespace refservice
}  // namespace vxs

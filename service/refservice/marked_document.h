// The compressed JSON documents clients send: one gzip member whose magic
// bytes 1F 8B were replaced by 75 7B. This undoes the marking, inflates the
// member with a bound on its size and parses the JSON text.
//
// Threading: pure functions.
#ifndef VXS_SERVICE_REFSERVICE_MARKED_DOCUMENT_H
#define VXS_SERVICE_REFSERVICE_MARKED_DOCUMENT_H

#include <cstddef>
#include <cstdint>
#include <string>

#include <cjson/cJSON.h>

namespace vxs {
namespace refservice {

// Largest inflated document accepted.
constexpr size_t kMaxDocumentBytes = 256 * 1024;

// The JSON text of a marked document, or false with a reason (not marked,
// not a gzip member, truncated, too large).
bool inflate_marked_document(const uint8_t* data, size_t size, std::string* text, std::string* error);

// Owns a parsed cJSON tree.
class JsonDocument {
public:
    JsonDocument() = default;
    explicit JsonDocument(cJSON* root) : m_root(root) {}
    ~JsonDocument() { cJSON_Delete(m_root); }
    JsonDocument(const JsonDocument&) = delete;
    JsonDocument& operator=(const JsonDocument&) = delete;
    JsonDocument(JsonDocument&& other) noexcept : m_root(other.m_root) { other.m_root = nullptr; }
    JsonDocument& operator=(JsonDocument&& other) noexcept {
        if (this != &other) {
            cJSON_Delete(m_root);
            m_root = other.m_root;
            other.m_root = nullptr;
        }
        return *this;
    }
    cJSON* get() const { return m_root; }

private:
    cJSON* m_root = nullptr;
};

// Inflates and parses; the root must be an object.
bool read_marked_document(const uint8_t* data, size_t size, JsonDocument* document, std::string* text,
                          std::string* error);

// Compact JSON text of `item` ("" for none).
std::string print_compact(const cJSON* item);

}  // namespace refservice
}  // namespace vxs

#endif  // VXS_SERVICE_REFSERVICE_MARKED_DOCUMENT_H

#include "net/log_redaction.h"

#include <algorithm>
#include <cctype>

namespace vxs {
namespace Networking {

namespace {

constexpr size_t kKeptPrefix = 4;
constexpr size_t kLongRunMask = 17;

bool is_token_char(unsigned char c) {
    return std::isalnum(c) != 0 || c == '-' || c == '_' || c == '.' || c == '~' || c == '+' || c == '/' || c == '%';
}

bool is_name_char(unsigned char c) { return std::isalnum(c) != 0 || c == '_' || c == '-' || c == '.'; }

bool names_a_secret(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    static const char* const kWords[] = {"token", "key", "secret", "password", "passwd", "tok", "auth", "client_id"};
    for (const char* word : kWords) {
        if (name.find(word) != std::string::npos) return true;
    }
    return false;
}

// The field name that ends just before text[pos] (a JSON `"name":` with
// optional blanks, or a form `name=`); empty when there is none.
std::string field_name_before(const std::string& text, size_t pos) {
    size_t end = pos;
    while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '"')) --end;
    if (end == 0 || (text[end - 1] != ':' && text[end - 1] != '=')) return std::string();
    --end;
    while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '"')) --end;
    size_t begin = end;
    while (begin > 0 && is_name_char(static_cast<unsigned char>(text[begin - 1]))) --begin;
    return text.substr(begin, end - begin);
}

// Short secrets are hidden whole: four characters of an eight-character key
// would give half of it away.
void append_masked(std::string& out, const std::string& run) {
    if (run.size() >= 3 * kKeptPrefix) out.append(run, 0, kKeptPrefix);
    out += "***";
}

}  // namespace

std::string redact_for_log(const char* text, size_t length) {
    if (text == nullptr || length == 0) return std::string();
    const size_t shown = std::min(length, kMaxLoggedBodyBytes);
    std::string source(text, shown);
    for (char& c : source) {
        if (std::iscntrl(static_cast<unsigned char>(c)) != 0) c = '.';
    }

    std::string out;
    out.reserve(shown + 16);
    size_t pos = 0;
    while (pos < source.size()) {
        if (!is_token_char(static_cast<unsigned char>(source[pos]))) {
            out += source[pos++];
            continue;
        }
        size_t end = pos;
        while (end < source.size() && is_token_char(static_cast<unsigned char>(source[end]))) ++end;
        const std::string run = source.substr(pos, end - pos);
        const bool secret_value = names_a_secret(field_name_before(source, pos));
        if (secret_value || run.size() >= kLongRunMask) {
            append_masked(out, run);
        } else {
            out += run;
        }
        pos = end;
    }
    if (length > shown) out += "...(" + std::to_string(length) + " bytes)";
    return out;
}

}  // namespace Networking
}  // namespace vxs

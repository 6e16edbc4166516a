#include "core/wakeup_words.h"

#include "core/file_util.h"

namespace vxs {

namespace {

// The stored bytes inverted back into text, up to a decoded zero byte.
std::string invertBytes(const std::string& stored) {
    std::string text;
    text.reserve(stored.size());
    for (char c : stored) {
        const char plain = static_cast<char>(~static_cast<unsigned char>(c));
        if (plain == '\0') break;
        text.push_back(plain);
    }
    return text;
}

void appendCommaSeparated(const std::string& line, std::vector<std::string>& words) {
    size_t start = 0;
    for (;;) {
        const size_t comma = line.find(',', start);
        if (comma == std::string::npos) {
            words.push_back(line.substr(start));
            return;
        }
        words.push_back(line.substr(start, comma - start));
        start = comma + 1;
    }
}

}  // namespace

void decode_wakeup_words(const std::string& fileName, std::vector<std::string>& words) {
    const std::string text = invertBytes(read_all_content(fileName));
    const size_t lineEnd = text.find("\r\n");
    if (lineEnd == std::string::npos) return;
    appendCommaSeparated(text.substr(0, lineEnd), words);
}

}  // namespace vxs

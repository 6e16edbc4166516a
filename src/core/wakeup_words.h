// Decoder of the wake-up words file used by the grammar handling.
//
// Threading: reentrant.
#ifndef VXS_CORE_WAKEUP_WORDS_H
#define VXS_CORE_WAKEUP_WORDS_H

#include <string>
#include <vector>

namespace vxs {

// The file holds its text with every byte inverted (bitwise NOT); a decoded
// zero byte ends the text. Appends to `words` the ","-separated parts of the
// text before the first "\r\n", in order and empty parts included; appends
// nothing when the file is missing or empty or has no "\r\n".
void decode_wakeup_words(const std::string& fileName, std::vector<std::string>& words);

}  // namespace vxs

#endif  // VXS_CORE_WAKEUP_WORDS_H

// Builds a configuration message the way a host does, reads every parameter
// back and prints it. Exits with 1 if a value does not come back as it was set.
#include <cstdio>
#include <string>
#include <vector>

#include "vxs/vxs_sdk_constants.h"
#include "vxs/vxs_sdk_message.h"

namespace {

bool failed = false;

void expect(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "minimal_host: %s\n", what);
        failed = true;
    }
}

void print_message(const vxs::VXSSDKMessage& message) {
    std::printf("message %s\n", message.name.c_str());
    for (const std::string& key : message.string_param_keys()) {
        std::string value;
        message.get_parameter(key, value);
        std::printf("  string %s = %s\n", key.c_str(), value.c_str());
    }
    for (const std::string& key : message.int_param_keys()) {
        int value = 0;
        message.get_parameter(key, value);
        std::printf("  int %s = %d\n", key.c_str(), value);
    }
    for (const std::string& key : message.float_param_keys()) {
        float value = 0;
        message.get_parameter(key, value);
        std::printf("  float %s = %g\n", key.c_str(), static_cast<double>(value));
    }
    for (const std::string& key : message.char_param_keys()) {
        const char* data = nullptr;
        int length = 0;
        message.get_parameter(key, data, length);
        std::printf("  bytes %s = %d bytes\n", key.c_str(), length);
    }
    for (const std::string& key : message.vector_param_keys()) {
        std::vector<std::string> value;
        message.get_parameter(key, value);
        std::printf("  vector %s = %zu items\n", key.c_str(), value.size());
    }
}

}  // namespace

int main() {
    vxs::VXSSDKMessage config(vxs::ASR_CMD_CONFIG);
    config.set_parameter(vxs::ASR_PARAM_KEY_SECRET_KEY, std::string("secret"));
    config.set_parameter(vxs::COMMON_PARAM_KEY_DEBUG_LOG_LEVEL, vxs::EVRDebugLogLevelError);
    config.set_parameter("asr_param_key_max_wait_duration.float", 1.5f);
    config.set_parameter("hosts.vector<string>", std::vector<std::string>{"a", "b"});
    const char audio[] = {1, 2, 3, 4};
    expect(config.set_parameter(vxs::DATA_CHUNK, audio, 4), "audio refused");
    expect(!config.set_parameter(vxs::DATA_CHUNK, audio, -1), "negative length accepted");

    const vxs::VXSSDKMessage copy(config);
    std::string secret;
    int level = -1;
    float wait = 0;
    const char* data = nullptr;
    int length = 0;
    expect(copy.name == "asr.config", "name lost");
    expect(copy.get_parameter(vxs::ASR_PARAM_KEY_SECRET_KEY, secret) && secret == "secret", "string lost");
    expect(copy.get_parameter(vxs::COMMON_PARAM_KEY_DEBUG_LOG_LEVEL, level) && level == 2, "int lost");
    expect(copy.get_parameter("asr_param_key_max_wait_duration.float", wait) && wait == 1.5f, "float lost");
    expect(copy.get_parameter(vxs::DATA_CHUNK, data, length) && length == 4 && data[3] == 4, "bytes lost");

    print_message(copy);
    std::printf("%s\n", failed ? "minimal_host: FAILED" : "minimal_host: OK");
    return failed ? 1 : 0;
}

#include "vad/dnn/network_file.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "vad/dnn/dnn_vad_print.h"
#include "vad/dnn/network.h"

namespace vx_dnnvad {

namespace {

const int kHeaderLineBytes = 1024;
// Far above any detector network; keeps every size product inside an int.
const long kMaxParameters = 1L << 28;

bool readInt32(FILE* f, int32_t* value) {
    unsigned char bytes[4];
    if (std::fread(bytes, 1, 4, f) != 4) return false;
    const uint32_t u = static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
                       (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
    std::memcpy(value, &u, 4);
    return true;
}

void writeInt32(FILE* f, int32_t value) {
    uint32_t u;
    std::memcpy(&u, &value, 4);
    const unsigned char bytes[4] = {static_cast<unsigned char>(u), static_cast<unsigned char>(u >> 8),
                                    static_cast<unsigned char>(u >> 16), static_cast<unsigned char>(u >> 24)};
    std::fwrite(bytes, 1, 4, f);
}

// Bytes between the current position and the end of the file.
long remainingBytes(FILE* f) {
    const long here = std::ftell(f);
    if (here < 0 || std::fseek(f, 0, SEEK_END) != 0) return -1;
    const long end = std::ftell(f);
    std::fseek(f, here, SEEK_SET);
    return end - here;
}

// Reads `count` little-endian floats (the host is little-endian x86-64).
bool readFloats(FILE* f, float* out, long count) {
    return std::fread(out, sizeof(float), static_cast<size_t>(count), f) == static_cast<size_t>(count);
}

class FileCloser {
public:
    explicit FileCloser(FILE* f) : file(f) {}
    ~FileCloser() {
        if (file) std::fclose(file);
    }
    FileCloser(const FileCloser&) = delete;
    FileCloser& operator=(const FileCloser&) = delete;

private:
    FILE* file;
};

}  // namespace

long networkParameterCount(const std::vector<int>& layerSizes) {
    if (layerSizes.size() < 2) return -1;
    long count = 0;
    for (size_t i = 0; i < layerSizes.size(); ++i) {
        if (layerSizes[i] < 1) return -1;
    }
    for (size_t i = 0; i + 1 < layerSizes.size(); ++i) count += static_cast<long>(layerSizes[i + 1]) * (layerSizes[i] + 1);
    return count;
}

DNN::DNN(VadConfiger* /*config*/, const char* path)
    : layerNumber(0),
      layerSize(nullptr),
      weight(nullptr),
      bias(nullptr),
      maxlayerSize(0),
      workspace(nullptr),
      workspace2(nullptr),
      batchActivations(nullptr),
      batchSums(nullptr),
      state(UNINIT),
      weightT(nullptr) {
    if (loadFile(path)) {
        state = IDLE;
    } else {
        release();
    }
}

bool DNN::loadFile(const char* path) {
    FILE* f = path ? std::fopen(path, "rb") : nullptr;
    if (!f) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]failed to open dnn model file[%s]\n", path ? path : "(null)");
        return false;
    }
    FileCloser closer(f);
    char line[kHeaderLineBytes];
    if (!std::fgets(line, sizeof line, f) || !std::fgets(line, sizeof line, f)) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]failed to read header of model file[%s]\n", path);
        return false;
    }
    if (!std::fgets(line, sizeof line, f)) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]failed to read data offeset of model file[%s]\n", path);
        return false;
    }
    errno = 0;
    const long declared = std::strtol(line, nullptr, 10);
    if (declared <= 0 || declared > kMaxParameters || errno == ERANGE) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]invalid parameter count[%ld] in model file[%s]\n", declared, path);
        return false;
    }
    int32_t layers = 0;
    if (!readInt32(f, &layers) || layers < 2 || static_cast<long>(layers) * 4 > remainingBytes(f)) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]invalid layer count in model file[%s]\n", path);
        return false;
    }
    layerSize = new (std::nothrow) int[layers];
    if (!layerSize) return false;
    layerNumber = layers;
    std::vector<int> widths(layers);
    for (int i = 0; i < layers; ++i) {
        int32_t width = 0;
        if (!readInt32(f, &width) || width < 1 || width > kMaxParameters) {
            VX_DNNVAD_PRINT("ERROR:[%s:%d]invalid layer width in model file[%s]\n", path);
            return false;
        }
        layerSize[i] = widths[i] = width;
    }
    const long needed = networkParameterCount(widths);
    if (needed < 0 || needed > kMaxParameters) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]invalid layer width in model file[%s]\n", path);
        return false;
    }
    // Checked before allocating so that a lying header cannot ask for gigabytes.
    if (declared * static_cast<long>(sizeof(float)) > remainingBytes(f)) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]corrupted net model file[%s]\n", path);
        return false;
    }
    float* flat = static_cast<float*>(std::calloc(static_cast<size_t>(declared), sizeof(float)));
    if (!flat) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]allocate memory[%d] for net_buf\n", static_cast<int>(declared));
        return false;
    }
    bool ok = readFloats(f, flat, declared);
    if (!ok) VX_DNNVAD_PRINT("ERROR:[%s:%d]corrupted net model file[%s]\n", path);
    if (ok && needed > declared) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]read_param_num[%d] != param_num[%d]\n", static_cast<int>(needed),
                        static_cast<int>(declared));
        ok = false;
    }
    ok = ok && allocateLayers();
    if (ok) {
        const int consumed = set_network(flat, static_cast<int>(declared));
        if (consumed != declared) {
            VX_DNNVAD_PRINT("ERROR:[%s:%d]read_param_num[%d] != param_num[%d]\n", consumed, static_cast<int>(declared));
        }
    }
    std::free(flat);
    return ok;
}

bool writeNetworkFile(const char* path, const std::vector<int>& layerSizes, const std::vector<float>& params,
                      long declaredCount) {
    if (networkParameterCount(layerSizes) < 0) return false;
    FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    const long count = declaredCount < 0 ? static_cast<long>(params.size()) : declaredCount;
    std::fprintf(f, "VXS DNN VAD network\n");
    for (size_t i = 0; i < layerSizes.size(); ++i) std::fprintf(f, i ? " %d" : "%d", layerSizes[i]);
    std::fprintf(f, "\n%ld\n", count);
    writeInt32(f, static_cast<int32_t>(layerSizes.size()));
    for (int width : layerSizes) writeInt32(f, width);
    const bool written = std::fwrite(params.data(), sizeof(float), params.size(), f) == params.size();
    return std::fclose(f) == 0 && written;
}

}  // namespace vx_dnnvad

#include "vad/dnn/cmvn_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vad/dnn/dnn_vad_print.h"

namespace vx_dnnvad {

namespace {

// One line without its "\n"; false at the end of the file.
bool readLine(FILE* f, std::string* line) {
    line->clear();
    char chunk[1024];
    while (std::fgets(chunk, sizeof chunk, f)) {
        line->append(chunk);
        if (!line->empty() && (*line)[line->size() - 1] == '\n') {
            line->erase(line->size() - 1);
            return true;
        }
    }
    return !line->empty();
}

void trimTrailingBlanks(std::string* line) {
    size_t end = line->size();
    while (end > 0 && std::strchr(" \t\f\v\b\r", (*line)[end - 1]) != nullptr) --end;
    line->resize(end);
}

// The sections being filled while the file is read.
struct CmvnSections {
    int dim;
    float* target[2];
    int count[2];    // value lines seen; only the first dim are stored
    int current;     // 0 before the first header, 1 means, 2 reciprocal deviations
    bool badValue;   // a value line without a number
};

// Handles one "vec" header; false when reading must stop.
bool startSection(CmvnSections* s, const char* rest, bool* failed) {
    ++s->current;
    if (s->current > 2) return false;
    const long declared = std::strtol(rest, nullptr, 10);
    if (declared != s->dim) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]error:CMVNFeatureTranslator init curVecLen:%d srcDim:%d not equal\n\n",
                        static_cast<int>(declared), s->dim);
        *failed = true;
        return false;
    }
    return true;
}

void storeValue(CmvnSections* s, const std::string& line) {
    if (s->current == 0) return;
    const int section = s->current - 1;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(line.c_str(), &end);
    if (end == line.c_str()) {
        s->badValue = true;
        return;
    }
    if (s->count[section] < s->dim) s->target[section][s->count[section]] = static_cast<float>(value);
    ++s->count[section];
}

}  // namespace

int loadCmvnFile(const char* path, int dim, float* mean, float* revVar) {
    FILE* f = path ? std::fopen(path, "r") : nullptr;
    if (!f) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]failed to open dnn model file\n\n");
        return -1;
    }
    CmvnSections s = {dim, {mean, revVar}, {0, 0}, 0, false};
    bool failed = false;
    std::string line;
    while (readLine(f, &line)) {
        trimTrailingBlanks(&line);
        if (line.empty()) continue;
        if (line.compare(0, 3, "vec") == 0) {
            if (!startSection(&s, line.c_str() + 3, &failed)) break;
            continue;
        }
        storeValue(&s, line);
    }
    std::fclose(f);
    if (failed) return -1;
    bool ok = !s.badValue;
    if (s.badValue) VX_DNNVAD_PRINT("ERROR:[%s:%d]CMVNFeatureTranslator init value line without a number\n\n");
    if (s.count[1] != dim) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]CMVNFeatureTranslator init varVecLen:%d srcDim:%d not equal\n\n", s.count[1],
                        dim);
        ok = false;
    }
    if (s.count[0] != dim) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]CMVNFeatureTranslator init meanVecLen:%d srcDim:%d not equal\n\n", s.count[0],
                        dim);
        ok = false;
    }
    return ok ? 0 : -1;
}

bool writeCmvnFile(const char* path, const float* mean, const float* revVar, int dim) {
    FILE* f = std::fopen(path, "w");
    if (!f) return false;
    const float* sections[2] = {mean, revVar};
    for (const float* values : sections) {
        std::fprintf(f, "vec %d\n", dim);
        for (int i = 0; i < dim; ++i) std::fprintf(f, "%.9g\n", values[i]);
    }
    return std::fclose(f) == 0;
}

}  // namespace vx_dnnvad

#include "scoring.h"

#include <algorithm>
#include <cmath>

namespace vad_eval {

void Score::addFrames(const std::vector<uint8_t>& decided, const std::vector<uint8_t>& labels) {
    const size_t n = std::min(decided.size(), labels.size());
    for (size_t i = 0; i < n; ++i) {
        if (decided[i] && labels[i]) ++m_truePositive;
        if (decided[i] && !labels[i]) ++m_falsePositive;
        if (!decided[i] && labels[i]) ++m_falseNegative;
    }
}

static bool overlaps(const Span& a, const Span& b) { return a.startMs < b.endMs && b.startMs < a.endMs; }

void Score::addUtterances(const std::vector<Span>& sentences, const std::vector<Span>& detected) {
    for (const Span& sentence : sentences) {
        ++m_sentences;
        std::vector<const Span*> hits;
        for (const Span& d : detected) {
            if (overlaps(sentence, d)) hits.push_back(&d);
        }
        if (hits.empty()) continue;
        ++m_found;
        if (hits.size() > 1) ++m_split;
        m_startErrors.push_back(static_cast<double>(hits.front()->startMs - sentence.startMs));
        m_endErrors.push_back(static_cast<double>(hits.back()->endMs - sentence.endMs));
    }
    for (const Span& d : detected) {
        const bool matched = std::any_of(sentences.begin(), sentences.end(),
                                         [&](const Span& s) { return overlaps(s, d); });
        if (!matched) ++m_false;
    }
}

double Score::precision() const {
    const int64_t d = m_truePositive + m_falsePositive;
    return d ? static_cast<double>(m_truePositive) / static_cast<double>(d) : 0.0;
}

double Score::recall() const {
    const int64_t d = m_truePositive + m_falseNegative;
    return d ? static_cast<double>(m_truePositive) / static_cast<double>(d) : 0.0;
}

double Score::f1() const {
    const double p = precision();
    const double r = recall();
    return p + r > 0 ? 2 * p * r / (p + r) : 0.0;
}

double Score::median(std::vector<double> values) {
    if (values.empty()) return NAN;
    std::sort(values.begin(), values.end());
    const size_t m = values.size() / 2;
    return values.size() % 2 ? values[m] : (values[m - 1] + values[m]) / 2;
}

double Score::medianAbs(std::vector<double> values) {
    for (double& v : values) v = std::fabs(v);
    return median(values);
}

std::vector<Span> spansOfFrames(const std::vector<uint8_t>& decided, int maxGapFrames, int windowMs) {
    std::vector<Span> spans;
    int64_t start = -1;
    int64_t last = -1;
    for (size_t i = 0; i < decided.size(); ++i) {
        if (!decided[i]) continue;
        const int64_t f = static_cast<int64_t>(i);
        if (start >= 0 && f - last - 1 > maxGapFrames) {
            spans.push_back({start * 10, last * 10 + windowMs});
            start = -1;
        }
        if (start < 0) start = f;
        last = f;
    }
    if (start >= 0) spans.push_back({start * 10, last * 10 + windowMs});
    return spans;
}

}  // namespace vad_eval

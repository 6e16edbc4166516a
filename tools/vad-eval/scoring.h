// Frame and utterance scores of a voice-activity detector against labelled
// speech: frame precision/recall/F1 and, per labelled sentence, whether it was
// found, split, and how far the detected start and end lie from it.
//
// Threading: plain values; one thread at a time per Score.
#ifndef VXS_TOOLS_VAD_EVAL_SCORING_H
#define VXS_TOOLS_VAD_EVAL_SCORING_H

#include <cstdint>
#include <vector>

namespace vad_eval {

struct Span {
    int64_t startMs;
    int64_t endMs;
};

class Score {
public:
    // Adds one stream: per-frame decisions and labels (same 10 ms grid; the
    // shorter length counts), labelled sentences and detected utterances.
    void addFrames(const std::vector<uint8_t>& decided, const std::vector<uint8_t>& labels);
    void addUtterances(const std::vector<Span>& sentences, const std::vector<Span>& detected);

    double precision() const;
    double recall() const;
    double f1() const;
    int sentences() const { return m_sentences; }
    int found() const { return m_found; }
    int split() const { return m_split; }
    int falseUtterances() const { return m_false; }
    // Medians over found sentences, detected minus labelled, in ms.
    double medianStartErrorMs() const { return median(m_startErrors); }
    double medianEndErrorMs() const { return median(m_endErrors); }
    double medianAbsStartErrorMs() const { return medianAbs(m_startErrors); }
    double medianAbsEndErrorMs() const { return medianAbs(m_endErrors); }

private:
    static double median(std::vector<double> values);
    static double medianAbs(std::vector<double> values);

    int64_t m_truePositive = 0;
    int64_t m_falsePositive = 0;
    int64_t m_falseNegative = 0;
    int m_sentences = 0;
    int m_found = 0;
    int m_split = 0;
    int m_false = 0;
    std::vector<double> m_startErrors;
    std::vector<double> m_endErrors;
};

// Runs of speech frames merged across gaps of at most `maxGapFrames`, as
// utterances: start of the first frame to the end of the last one's window.
std::vector<Span> spansOfFrames(const std::vector<uint8_t>& decided, int maxGapFrames, int windowMs);

}  // namespace vad_eval

#endif

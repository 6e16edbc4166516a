// Drives the neural detector over a stream the way the VAD module does
// (multi-sentence settings, one detection pass and hand-back per push) and
// reports every utterance it closes, with times relative to the stream start.
//
// Threading: one thread at a time per instance.
#ifndef VXS_TOOLS_VXS_VAD_UTTERANCE_FINDER_H
#define VXS_TOOLS_VXS_VAD_UTTERANCE_FINDER_H

#include <cstdint>
#include <string>
#include <vector>

#include "vad/dnn/detector.h"

namespace vxs_vad_tool {

struct Utterance {
    int64_t speechStartMs;  // start of the first speech frame
    int64_t speechEndMs;    // end of the last speech frame's 25 ms window
    int64_t audioStartMs;   // the audio handed back for it
    int64_t audioEndMs;
    std::string status;     // what closed it: NO_SPEECH, SPEECH_PAUSE, SPEECH_TOO_LONG, END_OF_INPUT
};

class UtteranceSink {
public:
    virtual ~UtteranceSink() = default;
    virtual void onUtterance(const Utterance& utterance) = 0;
    // Every analysed frame (a frame that closes an utterance comes twice).
    virtual void onFrame(int64_t frame, const char* code) = 0;
};

struct FinderOptions {
    int sampleRate = 16000;
    bool longSpeech = false;  // no wait limits, a reset after every utterance
    bool frames = false;      // report every frame
    std::string dnnFile;
    std::string cmvnFile;
};

class UtteranceFinder {
public:
    explicit UtteranceFinder(UtteranceSink* sink);
    ~UtteranceFinder();
    UtteranceFinder(const UtteranceFinder&) = delete;
    UtteranceFinder& operator=(const UtteranceFinder&) = delete;

    // Configures and initialises the detector; false with `error` set on failure.
    bool init(const FinderOptions& options, std::string* error);
    // One push. False once detection has ended (the first utterance outside
    // long speech, no speech, speech too short, or a detector error in `error`).
    bool push(const short* samples, int count, std::string* error);
    // End of input: reports an utterance that is still open.
    void finish();
    // Samples per push: 160 ms.
    int pushSamples() const { return m_options.sampleRate / 100 * 16; }

private:
    class ReportingDetector;

    void configure();
    int resultOf(int state) const;
    void deliver();
    void close(const char* status);
    void emit(const char* status);
    int64_t msOfSamples(int64_t samples) const { return samples * 1000 / m_options.sampleRate; }

    UtteranceSink* m_sink;
    FinderOptions m_options;
    ReportingDetector* m_mfe;
    std::vector<char> m_buffer;
    int m_preState;
    int m_curState;
    int m_preResult;
    bool m_stopped;
    int64_t m_offsetSamples;    // stream position of the detector's last reset
    int64_t m_pushedSinceReset;
    int64_t m_utteranceStart;   // stream sample of the utterance's first handed-back sample, -1 = none
    int64_t m_utteranceSamples; // samples handed back for it
};

}  // namespace vxs_vad_tool

#endif

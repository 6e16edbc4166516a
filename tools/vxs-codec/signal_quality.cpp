#include "signal_quality.h"

#include <algorithm>
#include <cmath>

namespace vxs {
namespace codec_io {

namespace {

constexpr double kSegmentMinDb = -10.0;
constexpr double kSegmentMaxDb = 35.0;
// Pauses say nothing about how well speech is coded: a segment whose reference
// is more than 30 dB below the loudest segment, or quieter than about -70 dBFS,
// is left out of the segmental SNR (it still counts for the plain SNR).
constexpr double kSilentSegmentMeanSquare = 100.0;
constexpr double kActiveSegmentRange = 1000.0;  // 30 dB
// Finite stand-in for the infinite ratio of identical signals (JSON has no inf).
constexpr double kIdenticalDb = 200.0;

size_t overlapAt(size_t referenceSamples, size_t codedSamples, int delay) {
    if (codedSamples <= static_cast<size_t>(delay)) return 0;
    return std::min(referenceSamples, codedSamples - static_cast<size_t>(delay));
}

double correlationAt(const int16_t* reference, const int16_t* coded, size_t samples) {
    double dot = 0.0, codedEnergy = 0.0;
    for (size_t i = 0; i < samples; ++i) {
        dot += static_cast<double>(reference[i]) * coded[i];
        codedEnergy += static_cast<double>(coded[i]) * coded[i];
    }
    return codedEnergy > 0.0 ? dot / std::sqrt(codedEnergy) : 0.0;
}

int bestDelay(const int16_t* reference, size_t referenceSamples, const int16_t* coded, size_t codedSamples,
              int maxDelaySamples) {
    int best = 0;
    double bestScore = -1e300;
    for (int delay = 0; delay <= maxDelaySamples; ++delay) {
        const size_t samples = overlapAt(referenceSamples, codedSamples, delay);
        if (samples == 0) break;
        const double score = correlationAt(reference, coded + delay, samples);
        if (score > bestScore) {
            bestScore = score;
            best = delay;
        }
    }
    return best;
}

double meanSquare(const int16_t* samples, size_t count) {
    double sum = 0.0;
    for (size_t i = 0; i < count; ++i) sum += static_cast<double>(samples[i]) * samples[i];
    return count > 0 ? sum / static_cast<double>(count) : 0.0;
}

double loudestSegment(const int16_t* samples, size_t count, size_t segment) {
    double loudest = 0.0;
    for (size_t start = 0; start < count; start += segment)
        loudest = std::max(loudest, meanSquare(samples + start, std::min(count, start + segment) - start));
    return loudest;
}

double ratioDb(double signal, double noise) {
    if (noise <= 0.0) return kIdenticalDb;
    if (signal <= 0.0) return -kIdenticalDb;
    return 10.0 * std::log10(signal / noise);
}

}  // namespace

SignalQuality compareSignals(const int16_t* reference, size_t referenceSamples, const int16_t* coded,
                             size_t codedSamples, int sampleRate, int maxDelaySamples) {
    SignalQuality quality;
    if (reference == nullptr || coded == nullptr || sampleRate <= 0 || maxDelaySamples < 0) return quality;
    const int delay = bestDelay(reference, referenceSamples, coded, codedSamples, maxDelaySamples);
    const size_t samples = overlapAt(referenceSamples, codedSamples, delay);
    if (samples == 0) return quality;
    const int16_t* aligned = coded + delay;
    const size_t segment = static_cast<size_t>(std::max(1, sampleRate / 50));

    const double activeFloor =
        std::max(kSilentSegmentMeanSquare, loudestSegment(reference, samples, segment) / kActiveSegmentRange);

    double signalTotal = 0.0, noiseTotal = 0.0, codedTotal = 0.0, segmentSum = 0.0;
    size_t segmentsUsed = 0;
    for (size_t start = 0; start < samples; start += segment) {
        const size_t end = std::min(samples, start + segment);
        double signal = 0.0, noise = 0.0;
        for (size_t i = start; i < end; ++i) {
            const double error = static_cast<double>(reference[i]) - aligned[i];
            signal += static_cast<double>(reference[i]) * reference[i];
            noise += error * error;
            codedTotal += static_cast<double>(aligned[i]) * aligned[i];
        }
        signalTotal += signal;
        noiseTotal += noise;
        if (signal / static_cast<double>(end - start) < activeFloor) continue;
        segmentSum += std::clamp(ratioDb(signal, noise), kSegmentMinDb, kSegmentMaxDb);
        ++segmentsUsed;
    }
    quality.snrDb = ratioDb(signalTotal, noiseTotal);
    quality.levelDb = ratioDb(codedTotal, signalTotal);
    quality.segmentalSnrDb = segmentsUsed > 0 ? segmentSum / static_cast<double>(segmentsUsed) : 0.0;
    quality.delaySamples = delay;
    quality.comparedSamples = samples;
    quality.valid = true;
    return quality;
}

}  // namespace codec_io
}  // namespace vxs

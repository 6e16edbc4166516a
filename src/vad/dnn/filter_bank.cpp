#include "vad/dnn/filter_bank.h"

#include <cmath>
#include <cstring>
#include <new>

namespace vx_dnnvad {

namespace {

const double kPi = 3.14159265358979323846;
const float kLogFloor = 1.1920929e-7f;  // 2^-23
const float kPreEmphasis = 0.97f;

double Mel(double f) { return 1127.0 * std::log(1.0 + f / 700.0); }

template <class T>
T* newVector(int n) {
    T* v = new (std::nothrow) T[n + 1]();
    if (v) v[0] = static_cast<T>(n);
    return v;
}

bool buildFftTables(FBankInfo* fb) {
    const int half = fb->fftN / 2;
    fb->stageCos = new (std::nothrow) float[half]();
    fb->stageSin = new (std::nothrow) float[half]();
    fb->bitRev = new (std::nothrow) short[half]();
    fb->splitCos = new (std::nothrow) float[half + 1]();
    fb->splitSin = new (std::nothrow) float[half + 1]();
    fb->fftRe = new (std::nothrow) float[half]();
    fb->fftIm = new (std::nothrow) float[half]();
    if (!fb->stageCos || !fb->stageSin || !fb->bitRev || !fb->splitCos || !fb->splitSin || !fb->fftRe || !fb->fftIm)
        return false;
    for (int stageHalf = 4; stageHalf < half; stageHalf *= 2) {
        for (int j = 0; j < stageHalf; ++j) {
            const double angle = -kPi * j / stageHalf;
            fb->stageCos[stageHalf - 4 + j] = static_cast<float>(std::cos(angle));
            fb->stageSin[stageHalf - 4 + j] = static_cast<float>(std::sin(angle));
        }
    }
    int bits = 0;
    while ((1 << bits) < half) ++bits;
    for (int i = 0; i < half; ++i) {
        int r = 0;
        for (int b = 0; b < bits; ++b) r |= ((i >> b) & 1) << (bits - 1 - b);
        fb->bitRev[i] = static_cast<short>(r);
    }
    for (int k = 0; k <= half; ++k) {
        fb->splitCos[k] = static_cast<float>(std::cos(2.0 * kPi * k / fb->fftN));
        fb->splitSin[k] = static_cast<float>(-std::sin(2.0 * kPi * k / fb->fftN));
    }
    return true;
}

// Four floats at any 4-byte boundary.
typedef float Float4 __attribute__((vector_size(16), aligned(4), may_alias));

// The first two radix-2 stages at once (twiddles 1 and -i) on bit-reversed input.
void firstTwoStages(float* re, float* im, int n) {
    for (int i = 0; i < n; i += 4) {
        const float b0r = re[i] + re[i + 1], b0i = im[i] + im[i + 1];
        const float b1r = re[i] - re[i + 1], b1i = im[i] - im[i + 1];
        const float b2r = re[i + 2] + re[i + 3], b2i = im[i + 2] + im[i + 3];
        const float b3r = re[i + 2] - re[i + 3], b3i = im[i + 2] - im[i + 3];
        re[i] = b0r + b2r;
        im[i] = b0i + b2i;
        re[i + 2] = b0r - b2r;
        im[i + 2] = b0i - b2i;
        re[i + 1] = b1r + b3i;
        im[i + 1] = b1i - b3r;
        re[i + 3] = b1r - b3i;
        im[i + 3] = b1i + b3r;
    }
}

// Radix-2 complex FFT (forward sign) of n >= 8 values in split form, input
// already in bit-reversed order; later stages run four butterflies at a time.
void complexFft(float* re, float* im, int n, const FBankInfo* fb) {
    firstTwoStages(re, im, n);
    for (int stageHalf = 4; stageHalf < n; stageHalf *= 2) {
        const float* wc = fb->stageCos + stageHalf - 4;
        const float* ws = fb->stageSin + stageHalf - 4;
        for (int start = 0; start < n; start += 2 * stageHalf) {
            for (int j = 0; j < stageHalf; j += 4) {
                Float4* ur = reinterpret_cast<Float4*>(re + start + j);
                Float4* ui = reinterpret_cast<Float4*>(im + start + j);
                Float4* xr = reinterpret_cast<Float4*>(re + start + j + stageHalf);
                Float4* xi = reinterpret_cast<Float4*>(im + start + j + stageHalf);
                const Float4 wr = *reinterpret_cast<const Float4*>(wc + j);
                const Float4 wi = *reinterpret_cast<const Float4*>(ws + j);
                const Float4 vr = *xr * wr - *xi * wi;
                const Float4 vi = *xr * wi + *xi * wr;
                *xr = *ur - vr;
                *xi = *ui - vi;
                *ur += vr;
                *ui += vi;
            }
        }
    }
}

void fillChannelMap(FBankInfo* fb, double mlo, int maxChan) {
    const int half = fb->fftN / 2;
    int chan = 1;
    for (int k = 1; k <= half; ++k) {
        const float melk = static_cast<float>(1127.0 * std::log(1.0 + (k - 1) * static_cast<double>(fb->fres)));
        if (k < fb->klo || k > fb->khi) {
            fb->loChan[k] = -1;
            fb->loWt[k] = 0.0f;
            continue;
        }
        while (chan <= maxChan && fb->cf[chan] < melk) ++chan;
        int c = chan - 1;
        if (c >= maxChan) c = maxChan - 1;  // unreachable for bins below the high edge
        fb->loChan[k] = static_cast<short>(c);
        if (c > 0) {
            fb->loWt[k] = (fb->cf[c + 1] - melk) / (fb->cf[c + 1] - fb->cf[c]);
        } else {
            fb->loWt[k] = (fb->cf[1] - melk) / (fb->cf[1] - static_cast<float>(mlo));
        }
    }
}

// Channels without bins of their own keep an empty run.
void fillChannelRuns(FBankInfo* fb) {
    for (int c = 0; c <= fb->numChans; ++c)
        fb->chanFirstBin[c] = fb->chanEndBin[c] = static_cast<short>(fb->klo);
    for (int k = fb->khi; k >= fb->klo; --k) {
        const int c = fb->loChan[k];
        if (c < 0 || c > fb->numChans) continue;
        if (fb->chanEndBin[c] == fb->klo) fb->chanEndBin[c] = static_cast<short>(k + 1);
        fb->chanFirstBin[c] = static_cast<short>(k);
    }
}

}  // namespace

FBankInfo* InitFBank(int frameSize, int frameShift, int sampleRate, int numChans, float lopass, float hipass,
                     Boolean usePower, Boolean takeLogs) {
    if (frameSize < 16 || frameSize > 16384 || sampleRate <= 0 || numChans < 1 || lopass < 0 || hipass <= lopass)
        return nullptr;
    FBankInfo* fb = new (std::nothrow) FBankInfo();
    if (!fb) return nullptr;
    fb->frameSize = frameSize;
    fb->frameShift = frameShift;
    fb->numChans = numChans;
    fb->sampleRate = sampleRate;
    fb->usePower = usePower;
    fb->takeLogs = takeLogs;
    fb->fftN = 2;
    while (fb->fftN < frameSize) fb->fftN *= 2;
    const int half = fb->fftN / 2;
    fb->fres = static_cast<float>(sampleRate) / (fb->fftN * 700.0f);
    const double mlo = Mel(lopass);
    const double mhi = Mel(hipass);
    const int klo = static_cast<int>(lopass / sampleRate * fb->fftN + 2.5);
    const int khi = static_cast<int>(hipass / sampleRate * fb->fftN + 0.5);
    fb->klo = klo < 2 ? 2 : klo;
    fb->khi = khi > half ? half : khi;
    const int maxChan = numChans + 1;
    fb->cf = newVector<float>(maxChan);
    fb->loChan = newVector<short>(half);
    fb->loWt = newVector<float>(half);
    fb->x = newVector<float>(fb->fftN);
    fb->fbank = newVector<float>(numChans);
    fb->chanFirstBin = new (std::nothrow) short[numChans + 1]();
    fb->chanEndBin = new (std::nothrow) short[numChans + 1]();
    fb->lowerShare = newVector<float>(half);
    fb->upperShare = newVector<float>(half);
    if (!fb->cf || !fb->loChan || !fb->loWt || !fb->x || !fb->fbank || !fb->chanFirstBin ||
        !fb->chanEndBin || !fb->lowerShare || !fb->upperShare || !buildFftTables(fb)) {
        ClearFBank(fb);
        return nullptr;
    }
    const float ms = static_cast<float>(mhi - mlo);
    for (int i = 1; i <= maxChan; ++i) {
        fb->cf[i] = (static_cast<float>(i) / static_cast<float>(maxChan)) * ms + static_cast<float>(mlo);
    }
    fillChannelMap(fb, mlo, maxChan);
    fillChannelRuns(fb);
    return fb;
}

void ClearFBank(FBankInfo* fb) {
    if (!fb) return;
    delete[] fb->cf;
    delete[] fb->loChan;
    delete[] fb->loWt;
    delete[] fb->x;
    delete[] fb->fbank;
    delete[] fb->chanFirstBin;
    delete[] fb->chanEndBin;
    delete[] fb->lowerShare;
    delete[] fb->upperShare;
    delete[] fb->stageCos;
    delete[] fb->stageSin;
    delete[] fb->fftRe;
    delete[] fb->fftIm;
    delete[] fb->bitRev;
    delete[] fb->splitCos;
    delete[] fb->splitSin;
    delete fb;
}

FeOption* InitFEVad() {
    FeOption* opt = new (std::nothrow) FeOption();
    if (!opt) return nullptr;
    opt->sampleRate = 8000;
    opt->frameSize = 200;
    opt->frameShift = 80;
    opt->lowCutoff = 40;
    opt->highCutoff = 3800;
    opt->fBankChanNum = 26;
    opt->cepstrumNum = 12;
    opt->cepstrumLift = 22;
    opt->lpcOrder = 12;
    opt->usePitch = FALSE;
    opt->useDnn = FALSE;
    opt->useEnergy = FALSE;
    opt->order = STATIC_ONLY;
    opt->ftype = FBANK;
    opt->wformat = PCM;
    opt->fbinfo = InitFBank(opt->frameSize, opt->frameShift, opt->sampleRate, opt->fBankChanNum,
                            static_cast<float>(opt->lowCutoff), static_cast<float>(opt->highCutoff), TRUE, TRUE);
    opt->hamWin = newVector<float>(opt->frameSize);
    opt->work = newVector<float>(opt->frameSize);
    if (!opt->fbinfo || !opt->hamWin || !opt->work) {
        KillFEVad(opt);
        return nullptr;
    }
    GenHamWindow(opt->hamWin, opt->frameSize);
    return opt;
}

void KillFEVad(FeOption* opt) {
    if (!opt) return;
    ClearFBank(opt->fbinfo);
    delete[] opt->hamWin;
    delete[] opt->work;
    delete opt;
}

// The frame helpers run four samples at a time (1-based data start at s + 1);
// the mean is summed in four lanes, combined in a fixed order.
void ZeroMeanFrame(float* s, int n) {
    Float4 lanes = {0.0f, 0.0f, 0.0f, 0.0f};
    int i = 1;
    for (; i + 3 <= n; i += 4) lanes += *reinterpret_cast<const Float4*>(s + i);
    float sum = (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
    for (; i <= n; ++i) sum += s[i];
    const float mean = sum / n;
    i = 1;
    for (; i + 3 <= n; i += 4) *reinterpret_cast<Float4*>(s + i) -= mean;
    for (; i <= n; ++i) s[i] -= mean;
}

void PreEmphasise(float* s, int n, float k) {
    // Downwards, so that every s[i - 1] read is still the original sample.
    int i = n;
    for (; i - 3 >= 2; i -= 4) {
        Float4* now = reinterpret_cast<Float4*>(s + i - 3);
        const Float4 before = *reinterpret_cast<const Float4*>(s + i - 4);
        *now -= before * k;
    }
    for (; i >= 2; --i) s[i] -= s[i - 1] * k;
    s[1] *= 1.0f - k;
}

void GenHamWindow(float* win, int n) {
    const double a = 2.0 * kPi / (n - 1);
    for (int i = 1; i <= n; ++i) win[i] = static_cast<float>(0.54 - 0.46 * std::cos(a * (i - 1)));
}

void Ham(float* s, const float* win, int n) {
    int i = 1;
    for (; i + 3 <= n; i += 4) *reinterpret_cast<Float4*>(s + i) *= *reinterpret_cast<const Float4*>(win + i);
    for (; i <= n; ++i) s[i] *= win[i];
}

void Realft(float* x, const FBankInfo* fb) {
    const int half = fb->fftN / 2;
    float* re = fb->fftRe;
    float* im = fb->fftIm;
    // z[n] = s[2n] + i s[2n+1], stored in bit-reversed order.
    for (int n = 0; n < half; ++n) {
        const int r = fb->bitRev[n];
        re[r] = x[2 * n + 1];
        im[r] = x[2 * n + 2];
    }
    complexFft(re, im, half, fb);
    x[1] = re[0] + im[0];
    x[2] = 0.0f;
    for (int k = 1; k <= half / 2; ++k) {
        const int m = half - k;
        // E = (Z[k] + conj Z[M-k]) / 2, O = (Z[k] - conj Z[M-k]) / 2i
        const float er = 0.5f * (re[k] + re[m]);
        const float ei = 0.5f * (im[k] - im[m]);
        const float or_ = 0.5f * (im[k] + im[m]);
        const float oi = -0.5f * (re[k] - re[m]);
        const float wr = fb->splitCos[k];
        const float wi = fb->splitSin[k];
        const float tr = wr * or_ - wi * oi;
        const float ti = wr * oi + wi * or_;
        // X[k] = E + W^k O, X[M-k] = conj(E - W^k O)
        x[2 * k + 1] = er + tr;
        x[2 * k + 2] = ei + ti;
        x[2 * m + 1] = er - tr;
        x[2 * m + 2] = ti - ei;
    }
}

void Wave2FBank(const float* s, float* fbank, FBankInfo* fb) {
    float* x = fb->x;
    for (int i = 1; i <= fb->frameSize; ++i) x[i] = s[i];
    for (int i = fb->frameSize + 1; i <= fb->fftN; ++i) x[i] = 0.0f;
    Realft(x, fb);
    for (int k = fb->klo; k <= fb->khi; ++k) {
        const float re = x[2 * k - 1];
        const float im = x[2 * k];
        const float e = re * re + im * im;
        fb->lowerShare[k] = fb->loWt[k] * e;
        fb->upperShare[k] = e - fb->lowerShare[k];
    }
    // Channel c: the upper shares of the bins below its centre, then the lower
    // shares of the bins above it, in bin order.
    for (int c = 1; c <= fb->numChans; ++c) {
        float sum = 0.0f;
        for (int k = fb->chanFirstBin[c - 1]; k < fb->chanEndBin[c - 1]; ++k)
            sum += fb->upperShare[k];
        for (int k = fb->chanFirstBin[c]; k < fb->chanEndBin[c]; ++k) sum += fb->lowerShare[k];
        fbank[c] = sum;
    }
    for (int c = 1; c <= fb->numChans; ++c) fbank[c] = std::log(fbank[c] < kLogFloor ? kLogFloor : fbank[c]);
}

int Wav2CepOneFrame(const float* wave, int sampNumber, float* out, int& outDim, FeOption* opt) {
    if (!opt || !opt->fbinfo || !opt->work || !opt->hamWin || !wave || !out) return -1;
    FBankInfo* fb = opt->fbinfo;
    if (sampNumber != opt->frameSize || fb->frameSize != opt->frameSize || fb->numChans != opt->fBankChanNum)
        return -1;
    float* s = opt->work;
    std::memcpy(s + 1, wave, sampNumber * sizeof(float));
    ZeroMeanFrame(s, sampNumber);
    PreEmphasise(s, sampNumber, kPreEmphasis);
    Ham(s, opt->hamWin, sampNumber);
    Wave2FBank(s, fb->fbank, fb);
    std::memcpy(out, fb->fbank + 1, fb->numChans * sizeof(float));
    outDim = fb->numChans;
    return 0;
}

}  // namespace vx_dnnvad

// Front end of the detector's features: options, the mel filter bank, the
// 256-point real FFT and the per-frame chain (mean removal, pre-emphasis,
// Hamming window, power spectrum, 26 log mel energies).
//
// The arithmetic is part of the contract with the trained model files: frames
// of 200 samples at 8000 Hz holding raw 16-bit values as floats (no scaling),
// fftN 256, bins klo 3 .. khi 122, log floor 2^-23. Vectors marked 1-based keep
// their length in element 0 and data from index 1.
//
// Threading: an FeOption (with its filter bank and scratch buffers) belongs to
// one thread at a time; nothing is shared between options.
#ifndef VXS_VAD_DNN_FILTER_BANK_H
#define VXS_VAD_DNN_FILTER_BANK_H

namespace vx_dnnvad {

enum Boolean { FALSE = 0, TRUE = 1 };
enum FeOrder { STATIC_ONLY = 0, FIRST_ORDER = 1, SECOND_ORDER = 2, THRID_ORDER = 3 };
enum FeatureType { MFCC = 0, PLP = 1, PNCC = 2, FBANK = 3 };
enum WaveFormat { WAVE = 0, PCM = 1, SPH = 2 };

struct FBankInfo {
    int frameSize;
    int frameShift;
    int numChans;
    int sampleRate;
    int fftN;
    int klo;
    int khi;
    float fres;      // sampleRate / (fftN * 700)
    float* cf;       // 1-based, numChans + 1 centres in mel (cf[numChans+1] = high edge)
    short* loChan;   // 1-based, fftN/2 bins: channel whose centre lies below, -1 outside
    float* loWt;     // 1-based, fftN/2 bins: weight of that lower channel
    float* x;        // 1-based, fftN: FFT work buffer
    Boolean usePower;
    Boolean takeLogs;
    // FFT tables and scratch, built once: per-stage twiddles of the
    // fftN/2-point complex FFT (stages of half-length 4, 8, ... concatenated),
    // its bit-reversal permutation, the twiddles that split it into the real
    // FFT, and split real/imaginary work vectors.
    float* stageCos;
    float* stageSin;
    short* bitRev;
    float* splitCos;
    float* splitSin;
    float* fftRe;
    float* fftIm;
    float* fbank;    // 1-based, numChans: channel accumulator
    // Per channel c = 0..numChans, the bins [chanFirstBin[c], chanEndBin[c])
    // whose lower channel is c (a contiguous run: loChan never decreases), and
    // per bin its shares of the power for the channel below and above, so
    // that each channel sums its own bins without waiting on the others.
    short* chanFirstBin;
    short* chanEndBin;
    float* lowerShare;  // 1-based, fftN/2: loWt[k] * power
    float* upperShare;  // 1-based, fftN/2: power - lowerShare[k]
};

struct FeOption {
    int sampleRate;
    int frameSize;
    int frameShift;
    int lowCutoff;
    int highCutoff;
    int fBankChanNum;
    int cepstrumNum;
    int cepstrumLift;
    int lpcOrder;
    Boolean usePitch;
    Boolean useDnn;
    Boolean useEnergy;
    FeOrder order;
    FBankInfo* fbinfo;
    FeatureType ftype;
    WaveFormat wformat;
    char pnccGTFB[1024];
    // Built once with the options so that a frame allocates nothing.
    float* hamWin;   // 1-based, frameSize: Hamming window
    float* work;     // 1-based, frameSize: the frame being processed
};

// The detector's front end (8000 Hz, 200/80 samples, 26 channels 40-3800 Hz,
// filter bank features only). Null on allocation failure.
FeOption* InitFEVad();
void KillFEVad(FeOption* opt);

// Builds a mel filter bank; null on allocation failure or bad arguments
// (frames of 16 to 16384 samples).
FBankInfo* InitFBank(int frameSize, int frameShift, int sampleRate, int numChans, float lopass, float hipass,
                     Boolean usePower, Boolean takeLogs);
void ClearFBank(FBankInfo* fb);

// One frame: `wave` holds sampNumber (= frameSize) raw samples; `out` receives
// fBankChanNum log mel energies and outDim their count. 0, or -1 (nothing
// written) when the frame size does not match or the options are incomplete.
int Wav2CepOneFrame(const float* wave, int sampNumber, float* out, int& outDim, FeOption* opt);

// Log mel energies of one windowed frame `s` (1-based, frameSize) into
// `fbank` (1-based, numChans).
void Wave2FBank(const float* s, float* fbank, FBankInfo* fb);

// Frame helpers, all on 1-based vectors of n samples.
void ZeroMeanFrame(float* s, int n);
void PreEmphasise(float* s, int n, float k);
void GenHamWindow(float* win, int n);
void Ham(float* s, const float* win, int n);

// In-place real FFT of the 1-based vector x[1..fftN]: afterwards bin k
// (1-based, 1..fftN/2) = DFT coefficient k-1 with its real part in x[2k-1] and
// its imaginary part in x[2k] (x[2] = 0: the Nyquist term is not kept).
void Realft(float* x, const FBankInfo* fb);

}  // namespace vx_dnnvad

#endif

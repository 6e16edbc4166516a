"""Training and held-out corpora for the voice-activity model.

Everything comes from Debian packages or is generated here, deterministically:
real speech from pocketsphinx-testdata, synthetic speech from espeak-ng in
several voices, rates and languages, and non-speech from sox (white, pink and
brown noise, hum, tones) plus clicks, impulses, short noise bursts and silence.
Speech is mixed with noise at
several signal-to-noise ratios and written at 16 and 8 kHz.

Frame labels come from the energy of the clean speech, frame for frame on the
detector's own grid (frame f covers 8 kHz samples [80 f, 80 f + 200)).
"""

import os
import subprocess

import numpy as np

RATE = 16000
FRAME_SHIFT = 160   # 16 kHz samples per 10 ms frame
FRAME_WINDOW = 400  # 25 ms window
PS_DATA = "/usr/share/pocketsphinx/test/data"

# Real recordings: the held-out ones are never seen in training.
REAL_TRAIN = [
    "something.raw",
    "tidigits/dhd.2934z.raw",
    "librivox/sense_and_sensibility_01_austen_64kb-0870.wav",
    "librivox/sense_and_sensibility_01_austen_64kb-0880.wav",
    "librivox/sense_and_sensibility_01_austen_64kb-0890.wav",
    "librivox/sense_and_sensibility_01_austen_64kb-0920.wav",
]
REAL_HELDOUT = [
    "goforward.raw",
    "numbers.raw",
    "librivox/sense_and_sensibility_01_austen_64kb-0930.wav",
]

SENTENCES = {
    "en": [
        "The quick brown fox jumps over the lazy dog.",
        "Please call me back when you get this message.",
        "Turn left at the next corner and keep going for two miles.",
        "What time does the train leave for the airport tomorrow?",
        "I would like a cup of coffee with milk and no sugar.",
        "Seven hundred and forty two, then press the pound key.",
        "She sells sea shells by the sea shore.",
        "Remind me to buy bread, eggs and some fresh fruit.",
        "The weather will be cloudy with a chance of rain.",
        "Open the window, it is getting warm in here.",
        "How far is it from here to the nearest station?",
        "Set an alarm for six thirty in the morning.",
        "Thank you very much, that was really helpful.",
        "Send a short note to the whole team about the meeting.",
        "Go forward ten meters, then stop and wait.",
        "My phone number is five five five, one two three four.",
    ],
    "de": [
        "Guten Morgen, wie geht es Ihnen heute?",
        "Bitte schalten Sie das Licht im Wohnzimmer aus.",
        "Der Zug nach Berlin hat leider zwanzig Minuten Verspaetung.",
        "Ich haette gerne ein Glas Wasser, bitte.",
    ],
    "fr": [
        "Bonjour, je voudrais reserver une table pour deux personnes.",
        "Il fait tres beau aujourd'hui, allons nous promener.",
        "Pouvez-vous parler un peu plus lentement, s'il vous plait?",
        "Le rendez-vous est fixe a quinze heures trente.",
    ],
    "es": [
        "Buenos dias, donde esta la estacion de autobuses?",
        "Manana vamos a visitar a mis abuelos en el campo.",
        "Necesito comprar pan, leche y un poco de queso.",
    ],
    "it": [
        "Vorrei un biglietto di andata e ritorno per Roma.",
        "Oggi il cielo e sereno e fa molto caldo.",
    ],
    "pt": [
        "Obrigado pela ajuda, foi muito gentil da sua parte.",
        "O restaurante abre as sete horas da noite.",
    ],
    "nl": ["Kunt u mij vertellen hoe laat het is?", "Wij gaan morgen met de fiets naar het strand."],
    "pl": ["Dzien dobry, chcialbym kupic bilet do Krakowa.", "Prosze zamknac drzwi, bo jest zimno."],
    "sv": ["Kan du hjalpa mig att hitta vagen till hotellet?"],
    "cs": ["Dnes vecer budeme varit polevku a brambory."],
}
VOICES = {
    "en": ["en-us", "en-gb", "en-gb-scotland", "en-us+f3", "en+m3", "en+f2", "en-gb-x-rp+f4", "en-029+m5"],
    "de": ["de", "de+f3"], "fr": ["fr-fr", "fr-fr+f2"], "es": ["es", "es-419+f3"], "it": ["it", "it+m4"],
    "pt": ["pt", "pt+f4"], "nl": ["nl"], "pl": ["pl+m2"], "sv": ["sv+f1"], "cs": ["cs"],
}
NOISES = ["white", "pink", "brown", "hum", "mains", "tone", "clicks", "impulses", "bursts", "silence"]
# Noises mixed under speech. Mains hum is left out: pauses inside an utterance
# are labelled speech, and with a hum that never changes under them the
# network learns to keep calling a hum speech once speech has been heard.
MIX_NOISES = [kind for kind in NOISES if kind != "mains"]
# Sparse, sudden sounds: the non-speech nearest to a speech onset, and the
# loudest non-speech a microphone picks up (taps, knocks, relays, plosive pops).
CLICK_LIKE = ["clicks", "impulses", "bursts"]


def run(cmd):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def read_raw(path):
    return np.fromfile(path, dtype="<i2").astype(np.float64)


def write_raw(path, samples):
    np.clip(np.round(samples), -32768, 32767).astype("<i2").tofile(path)


def to_16k_raw(src, dst, extra=()):
    """Any audio file sox reads -> 16 kHz mono raw (optionally through extra effects)."""
    if src.endswith(".raw"):
        src_args = ["-t", "raw", "-r", str(RATE), "-e", "signed", "-b", "16", "-c", "1", src]
    else:
        src_args = [src]
    run(["sox", "-R", *src_args, "-t", "raw", "-r", str(RATE), "-e", "signed", "-b", "16", "-c", "1", dst,
         *extra])


# ---------------------------------------------------------------- labels

def frame_energies_db(x):
    frames = max(0, (len(x) - FRAME_WINDOW) // FRAME_SHIFT + 1)
    idx = np.arange(FRAME_WINDOW)[None, :] + FRAME_SHIFT * np.arange(frames)[:, None]
    return 10.0 * np.log10(np.mean(x[idx] ** 2, axis=1) + 1.0)


def close_gaps(labels, max_gap):
    out = labels.copy()
    speech = np.flatnonzero(labels)
    for a, b in zip(speech[:-1], speech[1:]):
        if 1 < b - a <= max_gap + 1:
            out[a + 1:b] = 1
    return out


def drop_islands(labels, min_len):
    out = labels.copy()
    for start, end in runs(labels):
        if end - start < min_len:
            out[start:end] = 0
    return out


def runs(labels):
    """[start, end) of every run of ones."""
    padded = np.concatenate(([0], labels.astype(np.int8), [0]))
    edges = np.flatnonzero(np.diff(padded))
    return list(zip(edges[0::2], edges[1::2]))


def extend_ends(labels, e, threshold):
    """Carries each run of speech on past its end while the energy stays above
    `threshold`: a word's last sound (a final consonant, a fading vowel) is
    quieter than its core but still belongs to it."""
    out = labels.copy()
    for _, end in runs(labels):
        f = end
        while f < len(e) and not out[f] and e[f] > threshold:
            out[f] = 1
            f += 1
    return out


SPEECH_BAND_LOW_HZ = 100.0


def speech_band(x):
    """x without its content below SPEECH_BAND_LOW_HZ: DC drift, rumble and the
    puff of a breath on the microphone carry energy there but no speech (and
    the detector, which sees 62-3800 Hz after pre-emphasis, hardly sees them)."""
    spectrum = np.fft.rfft(x)
    spectrum[np.fft.rfftfreq(len(x), 1.0 / RATE) < SPEECH_BAND_LOW_HZ] = 0.0
    return np.fft.irfft(spectrum, len(x))


def speech_labels(clean, floor_margin=15.0, peak_margin=35.0, tail_floor_margin=12.0, tail_peak_margin=45.0):
    """Per-frame speech labels of a clean (or nearly clean) recording.

    Energies are those of the speech band (see speech_band), so that a
    rumble or a breath puff after the last word is not taken for its ending.
    Speech starts where a frame's energy is floor_margin dB above the
    recording's floor and within peak_margin dB of its loudest frame; once
    started it lasts while the energy stays tail_floor_margin dB above the
    floor and within tail_peak_margin dB of the peak (hysteresis: faint word
    endings stay speech, while a faint sound alone never starts any). Gaps up
    to 150 ms (stop closures, short breaks between words) are closed and blips
    under 50 ms dropped. These are both the network's targets and the
    reference of the evaluation.
    """
    if len(clean) < FRAME_WINDOW:
        return np.zeros(0, np.uint8)
    e = frame_energies_db(speech_band(clean))
    floor = np.percentile(e, 10)
    threshold = max(floor + floor_margin, e.max() - peak_margin)
    tail_threshold = max(floor + tail_floor_margin, e.max() - tail_peak_margin)
    labels = drop_islands(close_gaps((e > threshold).astype(np.uint8), 15), 5)
    return close_gaps(extend_ends(labels, e, tail_threshold), 15)


# ---------------------------------------------------------------- sources

def make_speech_sources(work, rng):
    """Clean utterances (16 kHz float arrays) for training and held-out use."""
    os.makedirs(work, exist_ok=True)
    train, heldout = [], []
    for name in REAL_TRAIN + REAL_HELDOUT:
        dst = os.path.join(work, "real_" + os.path.basename(name).replace(".wav", ".raw"))
        to_16k_raw(os.path.join(PS_DATA, name), dst)
        x = read_raw(dst)
        (heldout if name in REAL_HELDOUT else train).append(("real", x))
        if name in REAL_TRAIN:
            for speed in (0.9, 1.1):
                dst_s = dst.replace(".raw", "_speed%.1f.raw" % speed)
                to_16k_raw(os.path.join(PS_DATA, name), dst_s, ["speed", str(speed)])
                train.append(("real", read_raw(dst_s)))
    n = 0
    for lang, sentences in sorted(SENTENCES.items()):
        voices = VOICES[lang]
        for i, text in enumerate(sentences):
            # Every fourth sentence (and its voice) is held out.
            held = (i % 4 == 3) or (lang in ("sv", "cs"))
            takes = 1 if held else 3
            for take in range(takes):
                voice = voices[(i + take) % len(voices)]
                speed = int(rng.integers(120, 220))
                pitch = int(rng.integers(20, 80))
                wav = os.path.join(work, "espeak_%03d.wav" % n)
                raw = wav.replace(".wav", ".raw")
                run(["espeak-ng", "-v", voice, "-s", str(speed), "-p", str(pitch), "-w", wav, text])
                to_16k_raw(wav, raw)
                n += 1
                (heldout if held else train).append(("espeak", read_raw(raw)))
    return train, heldout


def sox_noise(work, kind, seconds, tag):
    dst = os.path.join(work, "noise_%s_%s.raw" % (kind, tag))
    synth = {
        "white": ["whitenoise"], "pink": ["pinknoise"], "brown": ["brownnoise"],
        "hum": ["square", "50"], "tone": ["sine", "1000"],
    }[kind]
    extra = ["lowpass", "400"] if kind == "hum" else []
    run(["sox", "-R", "-n", "-t", "raw", "-r", str(RATE), "-e", "signed", "-b", "16", "-c", "1", dst,
         "synth", str(seconds), *synth, "vol", "0.5", *extra])
    return read_raw(dst)


def make_noise(work, kind, n, rng, cache):
    """n samples of one kind of non-speech at unit RMS (silence: a faint floor)."""
    if kind == "silence":
        return rng.normal(0.0, 1.0, n) * 0.01
    if kind == "clicks":
        return clicks(n, rng)
    if kind == "impulses":
        return impulses(n, rng)
    if kind == "bursts":
        return bursts(n, rng)
    if kind == "mains":
        return mains_hum(n, rng)
    else:
        if kind not in cache:
            cache[kind] = sox_noise(work, kind, 60, "src")
        src = cache[kind]
        if kind == "tone":
            # a different frequency for every use, made here from sox's pure tone by resampling
            freq_scale = rng.uniform(0.2, 3.0)
            t = np.arange(n) * freq_scale
            x = np.interp(t % (len(src) - 1), np.arange(len(src)), src)
        else:
            start = int(rng.integers(0, len(src) - n)) if len(src) > n else 0
            x = np.resize(src[start:start + n], n)
    rms = np.sqrt(np.mean(x ** 2)) + 1e-9
    return x / rms


def clicks(n, rng):
    """Clicks and taps at unit RMS: 1 to 25 a second, each a decaying spike or a
    short damped ring (a key, a relay, a finger on the microphone)."""
    x = np.zeros(n)
    per_second = rng.uniform(1.0, 25.0)
    count = max(1, int(n / RATE * per_second))
    pos = rng.integers(0, n, count)
    same_sign = rng.random() < 0.5
    signs = np.ones(count) if same_sign else rng.choice([-1.0, 1.0], count)
    x[pos] = signs * rng.uniform(0.2, 1.0, count)
    length = int(rng.integers(20, 240))
    t = np.arange(length)
    shape = np.exp(-t / rng.uniform(2.0, 40.0))
    if rng.random() < 0.5:
        shape *= np.cos(2 * np.pi * rng.uniform(300.0, 4000.0) / RATE * t)
    x = np.convolve(x, shape)[:n]
    return x / (np.sqrt(np.mean(x ** 2)) + 1e-9)


def mains_hum(n, rng):
    """Mains hum at unit RMS: 50 or 60 Hz and its first harmonics as pure
    sines, with random weights and phases (the buzz of a ground loop is a few
    strong low harmonics, much like the low end of a voiced sound)."""
    t = np.arange(n) / RATE
    base = 50.0 if rng.random() < 0.5 else 60.0
    x = np.zeros(n)
    for h in range(1, 8):
        weight = rng.uniform(0.0, 1.0) * (1.0 if h <= 3 else 0.3)
        x += weight * np.sin(2 * np.pi * base * h * t + rng.uniform(0, 2 * np.pi))
    return x / (np.sqrt(np.mean(x ** 2)) + 1e-9)


def starting_on_event(x, rng):
    """x cut to start up to 10 ms before its first loud sample, so that a
    stream opens on a click or a burst."""
    loud = np.flatnonzero(np.abs(x) > 0.1 * (np.abs(x).max() + 1e-9))
    if len(loud) == 0:
        return x
    start = max(0, int(loud[0]) - int(rng.integers(0, RATE // 100)))
    return x[start:]


def sudden_events(n, rng, per_second_range):
    """Onset positions of sparse events, 'per_second' drawn log-uniformly so
    that rare and dense trains are equally common."""
    lo, hi = np.log(per_second_range[0]), np.log(per_second_range[1])
    per_second = np.exp(rng.uniform(lo, hi))
    count = max(1, int(round(n / RATE * per_second)))
    return np.sort(rng.integers(0, n, count))


def impulses(n, rng):
    """Impulse trains at unit RMS, 0.3 to 40 a second: single-sample spikes up
    to a few-sample pulses, one polarity or both, with a wide spread of
    heights (clipped at high levels, they become the flat-topped pulses of an
    overloaded input)."""
    x = np.zeros(n)
    pos = sudden_events(n, rng, (0.3, 40.0))
    width = int(rng.integers(1, 9))
    signs = np.ones(len(pos)) if rng.random() < 0.5 else rng.choice([-1.0, 1.0], len(pos))
    heights = signs * 10 ** rng.uniform(-1.5, 0.0, len(pos))
    for p, h in zip(pos, heights):
        x[p:p + width] += h
    return x / (np.sqrt(np.mean(x ** 2)) + 1e-9)


def bursts(n, rng):
    """Short noise bursts at unit RMS, 0.3 to 12 a second, each 3 to 80 ms of
    white noise under a fast attack and an exponential decay, low-passed by a
    varying amount (knocks, a dropped object, a rustle on the microphone)."""
    x = np.zeros(n)
    pos = sudden_events(n, rng, (0.3, 12.0))
    smoothing = rng.uniform(0.0, 0.95)  # one-pole low-pass: 0 keeps the burst white
    for p in pos:
        length = int(rng.uniform(0.003, 0.08) * RATE)
        t = np.arange(length)
        envelope = (1.0 - np.exp(-t / rng.uniform(1.0, 40.0))) * np.exp(-t / (length * rng.uniform(0.15, 0.6)))
        burst = rng.normal(0.0, 1.0, length)
        for k in range(1, length):
            burst[k] += smoothing * burst[k - 1]
        end = min(n, p + length)
        x[p:end] += (burst * envelope)[:end - p] * 10 ** rng.uniform(-1.0, 0.0)
    return x / (np.sqrt(np.mean(x ** 2)) + 1e-9)


# ---------------------------------------------------------------- streams

def active_rms(x, labels):
    idx = [np.arange(FRAME_SHIFT * a, min(len(x), FRAME_SHIFT * b + FRAME_WINDOW - FRAME_SHIFT))
           for a, b in runs(labels)]
    if not idx:
        return np.sqrt(np.mean(x ** 2)) + 1e-9
    return np.sqrt(np.mean(x[np.concatenate(idx)] ** 2)) + 1e-9


def compose(utterances, rng, gaps):
    """Places utterances in a stream: lead-in, utterance, gap, ..., tail.

    Returns the clean stream, its frame labels and the [start, end) frame of
    each utterance's labelled speech.
    """
    parts, offsets = [], []
    pos = 0
    lead = int(rng.uniform(*gaps) * RATE)
    parts.append(np.zeros(lead))
    pos += lead
    for k, u in enumerate(utterances):
        offsets.append(pos)
        parts.append(u)
        pos += len(u)
        gap = int(rng.uniform(*gaps) * RATE)
        gap -= gap % FRAME_SHIFT
        parts.append(np.zeros(gap))
        pos += gap
    clean = np.concatenate(parts)
    labels = np.zeros(max(0, (len(clean) - FRAME_WINDOW) // FRAME_SHIFT + 1), np.uint8)
    sentences = []
    for off, u in zip(offsets, utterances):
        lab = speech_labels(u)
        first = off // FRAME_SHIFT
        # utterances start on a frame boundary (offsets are multiples of the shift)
        span = labels[first:first + len(lab)]
        span |= lab[:len(span)]
        r = runs(lab)
        if r:
            sentences.append((first + r[0][0], first + r[-1][1]))
    return clean, labels, sentences


def mix(clean, labels, noise_kind, snr_db, speech_dbfs, rng, work, cache):
    """Scales speech to an active level and adds noise at snr_db (None: clean)."""
    level = 32768.0 * 10 ** (speech_dbfs / 20.0)
    x = clean * (level / active_rms(clean, labels)) if labels.any() else clean.copy()
    floor = make_noise(work, "silence", len(x), rng, cache) * 3.0  # about -80 dBFS
    if snr_db is None:
        return x + floor
    noise = make_noise(work, noise_kind, len(x), rng, cache)
    return x + floor + noise * (level / 10 ** (snr_db / 20.0))


def noise_only(kind, seconds, dbfs, rng, work, cache):
    n = int(seconds * RATE)
    return make_noise(work, kind, n, rng, cache) * 32768.0 * 10 ** (dbfs / 20.0)


def to_8k(work, path16):
    path8 = path16.replace(".raw", "_8k.raw")
    run(["sox", "-R", "-t", "raw", "-r", str(RATE), "-e", "signed", "-b", "16", "-c", "1", path16,
         "-t", "raw", "-r", "8000", "-e", "signed", "-b", "16", "-c", "1", path8])
    return path8


def dump_features(dump_tool, rate, raw, out):
    run([dump_tool, str(rate), raw, out])
    return np.fromfile(out, dtype="<f4").reshape(-1, 26)

"""Generates the training and held-out sets under a work directory.

usage: make_data.py WORK_DIR FEATURE_DUMP_TOOL

WORK_DIR/train/NNNN.f32 + .lab   training streams: the detector's log mel
                                 features and one '0'/'1' per frame
WORK_DIR/heldout/NNNN.raw + .lab held-out streams as PCM, with
WORK_DIR/heldout/manifest.txt    one line each: raw rate condition labels sentences
                                 (sentences: "a-b,c-d" labelled speech frames [a, b))
"""

import os
import shutil
import sys

import numpy as np

import corpus

SEED = 20261211
TRAIN_STREAMS = 260
TRAIN_NOISE_STREAMS = 480
TRAIN_ONSET_STREAMS = 4000
ONSET_COPIES = 4
TRAIN_SNRS = [None, None, 30, 20, 15, 10, 5, 0, -5]
HELDOUT_CONDITIONS = [("clean", None), ("10dB", 10), ("0dB", 0)]
HELDOUT_NOISES = ["white", "pink", "brown", "hum", "clicks"]


def write_labels(path, labels):
    with open(path, "w") as f:
        f.write("".join("1" if v else "0" for v in labels) + "\n")


def fit(labels, frames):
    """Labels padded or cut to the frames the feature chain produced (one per complete window)."""
    return np.concatenate([labels, np.zeros(max(0, frames - len(labels)), np.uint8)])[:frames]


def save_stream(directory, index, x, labels, rate, dump_tool, keep_raw):
    raw16 = os.path.join(directory, "%04d.raw" % index)
    corpus.write_raw(raw16, x)
    raw = raw16 if rate == 16000 else corpus.to_8k(directory, raw16)
    feats = dump_features_for(dump_tool, rate, raw, os.path.join(directory, "%04d.f32" % index))
    labels = fit(labels, len(feats))
    write_labels(os.path.join(directory, "%04d.lab" % index), labels)
    if not keep_raw:
        os.remove(raw16)
        if raw != raw16:
            os.remove(raw)
    return raw, labels


def dump_features_for(dump_tool, rate, raw, out):
    return corpus.dump_features(dump_tool, rate, raw, out)


def make_train(work, sources, dump_tool, rng, cache):
    directory = os.path.join(work, "train")
    os.makedirs(directory, exist_ok=True)
    index = 0
    for _ in range(TRAIN_STREAMS):
        count = int(rng.integers(1, 4))
        utts = [sources[int(rng.integers(0, len(sources)))][1] for _ in range(count)]
        clean, labels, _ = corpus.compose(utts, rng, (0.15, 1.5))
        snr = TRAIN_SNRS[int(rng.integers(0, len(TRAIN_SNRS)))]
        kind = corpus.MIX_NOISES[int(rng.integers(0, len(corpus.MIX_NOISES)))]
        x = corpus.mix(clean, labels, kind, snr, rng.uniform(-38, -12), rng, work, cache)
        rate = 16000 if rng.random() < 0.5 else 8000
        save_stream(directory, index, x, labels, rate, dump_tool, keep_raw=False)
        index += 1
    # Click-like sounds get a fourfold share (a click train is the non-speech
    # nearest to speech onsets) and reach full scale (clipped, as an
    # overloaded input is); steady noise stays below -6 dBFS. Half the streams
    # are loud (-30 dBFS and up): a loud noise that starts abruptly, as at the
    # start of a stream, looks most like the onset of speech.
    kinds = corpus.NOISES + corpus.CLICK_LIKE * 3
    for k in range(TRAIN_NOISE_STREAMS):
        kind = kinds[k % len(kinds)]
        top = 0.0 if kind in corpus.CLICK_LIKE else -6.0
        level = rng.uniform(-75, top) if rng.random() < 0.5 else rng.uniform(-30, top)
        x = corpus.noise_only(kind, rng.uniform(4, 8), level, rng, work, cache)
        rate = 16000 if (k + k // len(kinds)) % 2 == 0 else 8000  # each kind at both rates
        save_stream(directory, index, x, np.zeros(0, np.uint8), rate, dump_tool, keep_raw=False)
        index += 1
    # Short streams that open on noise: the first frames of a stream see the
    # down-sampler start and a context filled with the first frame, a sudden
    # onset that only these teach the network to tell from speech.
    onset_kinds = kinds + corpus.CLICK_LIKE * 3
    for k in range(TRAIN_ONSET_STREAMS):
        kind = onset_kinds[k % len(onset_kinds)]
        top = 0.0 if kind in corpus.CLICK_LIKE else -6.0
        x = corpus.noise_only(kind, rng.uniform(0.08, 0.2), rng.uniform(-40, top), rng, work, cache)
        if kind in corpus.CLICK_LIKE:
            x = corpus.starting_on_event(x, rng)
        rate = 16000 if (k + k // len(onset_kinds)) % 2 == 0 else 8000
        save_stream(directory, index, x, np.zeros(0, np.uint8), rate, dump_tool, keep_raw=False)
        # Each counts several times: one stream teaches only its first frames.
        for copy in range(1, ONSET_COPIES):
            for suffix in (".f32", ".lab"):
                shutil.copyfile(os.path.join(directory, "%04d%s" % (index, suffix)),
                                os.path.join(directory, "%04d%s" % (index + copy, suffix)))
        index += ONSET_COPIES


def make_heldout(work, sources, dump_tool, rng, cache):
    directory = os.path.join(work, "heldout")
    os.makedirs(directory, exist_ok=True)
    lines = []
    index = 0
    for condition, snr in HELDOUT_CONDITIONS:
        for rate in (16000, 8000):
            order = list(range(len(sources)))
            for s in range(0, len(order), 3):
                group = [sources[i][1] for i in order[s:s + 3]]
                clean, labels, sentences = corpus.compose(group, rng, (1.5, 2.5))
                kind = HELDOUT_NOISES[index % len(HELDOUT_NOISES)]
                x = corpus.mix(clean, labels, kind, snr, rng.uniform(-32, -18), rng, work, cache)
                raw, labels = save_stream(directory, index, x, labels, rate, dump_tool, keep_raw=True)
                spans = ",".join("%d-%d" % (a, b) for a, b in sentences)
                lines.append("%s %d %s %s %s\n" % (os.path.basename(raw), rate, condition,
                                                  "%04d.lab" % index, spans))
                index += 1
    with open(os.path.join(directory, "manifest.txt"), "w") as f:
        f.writelines(lines)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    work, dump_tool = sys.argv[1], os.path.abspath(sys.argv[2])
    rng = np.random.default_rng(SEED)
    cache = {}
    train, heldout = corpus.make_speech_sources(os.path.join(work, "sources"), rng)
    print("speech sources: %d for training, %d held out" % (len(train), len(heldout)))
    make_train(work, train, dump_tool, rng, cache)
    # Its own generator: the held-out set stays the same when the training recipe changes.
    make_heldout(work, heldout, dump_tool, np.random.default_rng(SEED + 1), cache)


if __name__ == "__main__":
    main()

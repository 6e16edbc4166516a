"""Trains the voice-activity network and writes the two model files.

usage: train_model.py WORK_DIR OUT_DIR

Reads WORK_DIR/train/*.f32 + .lab (see make_data.py), normalises with the
training set's per-feature mean and standard deviation, splices CONTEXT frames
exactly as the detector does (oldest first, the first frame of a stream
repeated) and trains a sigmoid network with a 9-way softmax. Writes
OUT_DIR/vxs_easr_mfe_dnn.dat and OUT_DIR/vxs_easr_mfe_cmvn.dat.

Targets. The detector's confidence is exp((1 + sum of ln m_j) / 6), where
m_j is the 200 ms windowed maximum of the 3-frame average of output j, for
j = 3..8; it starts speech at 0.15 and ends it at 0.1. Speech frames get the
soft target 1/6 on each of outputs 3..8, other frames 1/3 on each of 0..2. If
the network gives speech mass P spread evenly over 3..8, the confidence is
e^(1/6) * P / 6 = 0.197 P: speech starts once P reaches 0.76 and ends once
the windowed maximum of P falls under 0.51, and during silence (P near 0)
the confidence is near 0.

The windowed maximum holds a decision for 200 ms after the network lets go,
so the detector's end of speech comes about that much after the labelled end.
(Teaching the network to let go early does not help: without look-ahead it
cannot tell the last syllable's decay from a pause between words.)
"""

import glob
import os
import struct
import sys

import numpy as np

SEED = 7
CONTEXT = 16
HIDDEN = [64, 32]
OUTPUTS = 9
EPOCHS = 10
BATCH = 256
LEARNING_RATE = 2e-3


def read_labels(path):
    with open(path) as f:
        return np.array([c == "1" for c in f.read().strip()], dtype=np.uint8)


def load_set(directory, suffix):
    """(features, per-frame labels from the files with `suffix`) of every stream."""
    streams = []
    for feat_path in sorted(glob.glob(os.path.join(directory, "*.f32"))):
        feats = np.fromfile(feat_path, dtype="<f4").reshape(-1, 26)
        labels = read_labels(feat_path.replace(".f32", suffix))
        n = min(len(feats), len(labels))
        streams.append((feats[:n], labels[:n]))
    return streams


def splice(feats):
    """Row t holds frames t-CONTEXT+1 .. t, oldest first; frame 0 stands in before the start."""
    n = len(feats)
    idx = np.arange(n)[:, None] + np.arange(-CONTEXT + 1, 1)[None, :]
    return feats[np.maximum(idx, 0)].reshape(n, CONTEXT * 26)


def fexp(y):
    """The detector's fast exponential (Schraudolph), in double."""
    y = np.clip(y, -699.0, 699.0)
    hi = np.trunc(1512775.3951951857 * y).astype(np.int64) + 1072632447
    return (hi << 32).view(np.float64)


def sigmoid(x):
    return (1.0 / (1.0 + fexp(-x.astype(np.float64)))).astype(np.float32)


def softmax(x):
    e = np.exp(x - x.max(axis=1, keepdims=True))
    return (e / e.sum(axis=1, keepdims=True)).astype(np.float32)


def init_layers(rng, sizes):
    layers = []
    for fan_in, fan_out in zip(sizes[:-1], sizes[1:]):
        w = rng.normal(0.0, 1.0 / np.sqrt(fan_in), (fan_out, fan_in)).astype(np.float32)
        layers.append([w, np.zeros(fan_out, np.float32)])
    return layers


def forward(layers, x):
    acts = [x]
    for i, (w, b) in enumerate(layers):
        z = acts[-1] @ w.T + b
        acts.append(softmax(z) if i == len(layers) - 1 else sigmoid(z))
    return acts


def train(x, targets, rng, val):
    sizes = [x.shape[1]] + HIDDEN + [OUTPUTS]
    layers = init_layers(rng, sizes)
    moments = [[np.zeros_like(p) for p in layer] for layer in layers]
    squares = [[np.zeros_like(p) for p in layer] for layer in layers]
    step = 0
    for epoch in range(EPOCHS):
        lr = LEARNING_RATE * (0.5 ** max(0, epoch - EPOCHS // 2))
        order = rng.permutation(len(x))
        loss = 0.0
        for s in range(0, len(order), BATCH):
            batch = order[s:s + BATCH]
            acts = forward(layers, x[batch])
            t = targets[batch]
            loss += -np.sum(t * np.log(acts[-1] + 1e-9))
            delta = (acts[-1] - t) / len(batch)
            step += 1
            for i in range(len(layers) - 1, -1, -1):
                grad_w = delta.T @ acts[i]
                grad_b = delta.sum(axis=0)
                if i > 0:
                    a = acts[i]
                    delta = (delta @ layers[i][0]) * a * (1.0 - a)
                for k, g in enumerate((grad_w, grad_b)):
                    moments[i][k] = 0.9 * moments[i][k] + 0.1 * g
                    squares[i][k] = 0.999 * squares[i][k] + 0.001 * g * g
                    m_hat = moments[i][k] / (1 - 0.9 ** step)
                    v_hat = squares[i][k] / (1 - 0.999 ** step)
                    layers[i][k] -= (lr * m_hat / (np.sqrt(v_hat) + 1e-8)).astype(np.float32)
        acc = frame_accuracy(layers, *val)
        print("epoch %2d  loss %.4f  held-out frame accuracy %.4f" % (epoch, loss / len(x), acc), flush=True)
    return layers


def frame_accuracy(layers, x, labels):
    p = forward(layers, x)[-1][:, 3:].sum(axis=1)
    return float(np.mean((p > 0.5) == (labels > 0)))


def soft_targets(speech):
    t = np.zeros((len(speech), OUTPUTS), np.float32)
    t[speech > 0, 3:] = 1.0 / 6.0
    t[speech == 0, :3] = 1.0 / 3.0
    return t


def write_network(path, layers):
    sizes = [layers[0][0].shape[1]] + [w.shape[0] for w, _ in layers]
    params = np.concatenate([np.concatenate([w.ravel(), b]) for w, b in layers]).astype("<f4")
    with open(path, "wb") as f:
        f.write(b"vxs voice-activity network, trained by tools/vad-train\n")
        f.write(("layers %s\n" % " ".join(map(str, sizes))).encode())
        f.write(b"%d\n" % len(params))
        f.write(struct.pack("<%di" % (len(sizes) + 1), len(sizes), *sizes))
        f.write(params.tobytes())


def write_cmvn(path, mean, rev_std):
    with open(path, "w") as f:
        f.write("vxs voice-activity feature normalisation, trained by tools/vad-train\n")
        for values in (mean, rev_std):
            f.write("vec 26\n")
            f.writelines("%.9g\n" % v for v in values)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    work, out_dir = sys.argv[1], sys.argv[2]
    rng = np.random.default_rng(SEED)
    train_set = load_set(os.path.join(work, "train"), ".lab")
    heldout = load_set(os.path.join(work, "heldout"), ".lab")
    all_feats = np.concatenate([f for f, _ in train_set])
    mean = all_feats.mean(axis=0).astype(np.float32)
    rev_std = (1.0 / (all_feats.std(axis=0) + 1e-3)).astype(np.float32)
    # round through the text file's precision so training sees what the detector reads
    mean = np.array(["%.9g" % v for v in mean], dtype=np.float32)
    rev_std = np.array(["%.9g" % v for v in rev_std], dtype=np.float32)

    def prepare(streams):
        xs = [splice((feats - mean) * rev_std) for feats, _ in streams]
        return np.concatenate(xs).astype(np.float32), np.concatenate([labels for _, labels in streams])

    x, speech = prepare(train_set)
    val = prepare(heldout)
    print("training frames %d (speech %.1f%%), held-out frames %d" % (len(x), 100 * speech.mean(), len(val[0])))
    layers = train(x, soft_targets(speech), rng, val)
    os.makedirs(out_dir, exist_ok=True)
    write_network(os.path.join(out_dir, "vxs_easr_mfe_dnn.dat"), layers)
    write_cmvn(os.path.join(out_dir, "vxs_easr_mfe_cmvn.dat"), mean, rev_std)
    print("weights: %d" % sum(w.size + b.size for w, b in layers))


if __name__ == "__main__":
    main()

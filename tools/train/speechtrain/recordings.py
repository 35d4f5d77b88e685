"""Held-back recordings: sentences the training corpus never holds, spoken
and shaped like the training data, written as 16 kHz 16-bit WAV files with a
texts.tsv of "file name<TAB>text"."""

import os
import random

import numpy as np

from . import data, speech
from .decode import write_wav
from .features import SAMPLE_RATE


def _sentences(seed, exclude, allowed_tokens, encoder, count):
    rng = random.Random(seed)
    out = []
    from .sentences import sentence
    while len(out) < count:
        text = sentence(rng)
        if text in exclude or text in out:
            continue
        if not set(encoder.encode(" " + text)) <= allowed_tokens:
            continue
        out.append(text)
    return out


def write_recordings(folder, seed, training_texts, allowed_tokens, encoder, short=27, medium=12,
                     long_seconds=120.0):
    """short single sentences (over one second each), `medium` recordings of
    10-30 s of several sentences, and one of about `long_seconds`."""
    rng = random.Random(seed * 31 + 7)
    pool = _sentences(seed, set(training_texts), allowed_tokens, encoder, 400)
    next_sentence = iter(pool)
    os.makedirs(folder, exist_ok=True)
    rows = []

    def spoken():
        text = next(next_sentence)
        return text, speech.speak(text, *speech.random_voice(rng)).astype(np.float32) / 32768.0

    def finish(name, pieces, texts):
        samples = np.concatenate(pieces)
        samples = data.augment(samples, rng) if rng.random() < 0.8 else samples
        write_wav(os.path.join(folder, name), samples)
        rows.append((name, " ".join(texts)))

    def silence(low, high):
        return np.zeros(int(rng.uniform(low, high) * SAMPLE_RATE), dtype=np.float32)

    # The demonstration recording: one sentence in the plain voice, no noise.
    demo = next(next_sentence)
    audio = speech.speak(demo, "", 165, 50).astype(np.float32) / 32768.0
    write_wav(os.path.join(folder, "demo.wav"),
              np.concatenate([silence(0.3, 0.3), audio, silence(0.6, 0.6)]))
    rows.append(("demo.wav", demo))
    for i in range(short):
        text, audio = spoken()
        pieces = [silence(0.1, 0.5), audio, silence(0.2, 0.6)]
        while sum(len(p) for p in pieces) < 1.3 * SAMPLE_RATE:
            pieces.append(silence(0.2, 0.2))
        finish("short-%02d.wav" % (i + 1), pieces, [text])
    for i in range(medium):
        goal = rng.uniform(10.0, 28.0)
        pieces, texts = [silence(0.1, 0.4)], []
        while True:
            text, audio = spoken()
            if texts and (sum(len(p) for p in pieces) + len(audio)) / SAMPLE_RATE > 29.0:
                break
            pieces += [audio, silence(0.4, 1.5)]
            texts.append(text)
            if sum(len(p) for p in pieces) / SAMPLE_RATE >= goal:
                break
        finish("medium-%02d.wav" % (i + 1), pieces, texts)
    pieces, texts = [silence(0.1, 0.4)], []
    while sum(len(p) for p in pieces) / SAMPLE_RATE < long_seconds:
        text, audio = spoken()
        pieces += [audio, silence(0.4, 1.8)]
        texts.append(text)
    finish("long-01.wav", pieces, texts)
    with open(os.path.join(folder, "texts.tsv"), "w", encoding="utf-8") as f:
        for name, text in rows:
            f.write("%s\t%s\n" % (name, text))
    return rows

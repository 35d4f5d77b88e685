"""The training corpus (sentences spoken once each, stored as 16-bit samples)
and the 30-second training windows composed from it.

A window is what the engine feeds its encoder: up to 30 s of audio from the
start of a decoding window, zero-filled to 480,000 samples. It holds one
sentence, or several separated by pauses and possibly running past the 30 s
edge. Its target is written as the engine decodes under its prompt
[<|startoftranscript|>, <|ru|>, <|transcribe|>, <|0.00|>]: one segment per
sentence, "text <|end|>" for the first and "<|start|> text <|end|>" for the
others, then <|endoftext|>. A sentence that starts inside the window but ends
beyond it contributes only its start timestamp, so that the engine's next
window begins where that sentence begins. A few windows are written without
timestamps ([..., <|notimestamps|>, text, <|endoftext|>]).
"""

import json
import math
import multiprocessing
import os
import random

import numpy as np

from . import sentences, speech, vocabulary
from .features import SAMPLE_RATE, SECONDS_PER_TIMESTAMP, WINDOW_SAMPLES

PROMPT = [vocabulary.START_OF_TRANSCRIPT, vocabulary.RUSSIAN, vocabulary.TRANSCRIBE]
MAX_TARGET_TOKENS = 200  # the engine's context holds 224 tokens in all
# Early training uses windows whose audio ends within SHORT_SECONDS and feeds
# the encoder only their first SHORT_SECONDS (the rest is silence): the
# network learns to read words several times faster, and the later full
# windows teach it the whole 30 seconds.
SHORT_SECONDS = 10.0


def _speak_job(job):
    text, voice, speed, pitch, gap = job
    return speech.speak(text, voice, speed, pitch, gap)


def sentence_list(seed, count, exclude=()):
    """`count` distinct sentences from a seeded generator, none of `exclude`."""
    rng = random.Random(seed)
    seen = set(exclude)
    out = []
    while len(out) < count:
        text = sentences.sentence(rng)
        if text not in seen:
            seen.add(text)
            out.append(text)
    return out


def build_corpus(folder, seed, count, processes=4, log=print):
    """Speaks `count` sentences (one random voice each) into folder/corpus.npy
    and folder/corpus.json. Deterministic for a seed."""
    rng = random.Random(seed * 1000003 + 1)
    texts = sentence_list(seed, count)
    jobs = [(text,) + speech.random_voice(rng) for text in texts]
    chunks, index, offset = [], [], 0
    with multiprocessing.Pool(processes) as pool:
        for i, samples in enumerate(pool.imap(_speak_job, jobs, chunksize=16)):
            chunks.append(samples)
            index.append({"text": jobs[i][0], "voice": jobs[i][1], "speed": jobs[i][2],
                          "pitch": jobs[i][3], "offset": offset, "length": len(samples)})
            offset += len(samples)
            if (i + 1) % 1000 == 0:
                log("corpus: %d/%d sentences spoken" % (i + 1, count))
    os.makedirs(folder, exist_ok=True)
    np.save(os.path.join(folder, "corpus.npy"), np.concatenate(chunks))
    with open(os.path.join(folder, "corpus.json"), "w", encoding="utf-8") as f:
        json.dump(index, f, ensure_ascii=False)


class Corpus:
    def __init__(self, folder, encoder):
        self.samples = np.load(os.path.join(folder, "corpus.npy"), mmap_mode="r")
        with open(os.path.join(folder, "corpus.json"), encoding="utf-8") as f:
            self.index = json.load(f)
        self.encoder = encoder
        self.tokens = [encoder.encode(" " + entry["text"]) for entry in self.index]

    def __len__(self):
        return len(self.index)

    def audio(self, i):
        entry = self.index[i]
        return np.asarray(self.samples[entry["offset"]:entry["offset"] + entry["length"]],
                          dtype=np.float32) / 32768.0


def timestamp(seconds, rounding):
    steps = rounding(seconds / SECONDS_PER_TIMESTAMP - 1e-6 if rounding is math.ceil
                     else seconds / SECONDS_PER_TIMESTAMP + 1e-6)
    return vocabulary.TIMESTAMP_BEGIN + max(0, min(vocabulary.TIMESTAMPS - 1, steps))


def target_tokens(segments, timestamps=True, window_seconds=WINDOW_SAMPLES / SAMPLE_RATE):
    """Tokens after the prompt for segments [(start s, end s, text tokens)];
    the first segment's start is the prompt's <|0.00|>. None when the segments
    do not fit the window."""
    if not timestamps:
        out = [vocabulary.NO_TIMESTAMPS]
        for _, _, tokens in segments:
            out += tokens
        return out + [vocabulary.END_OF_TEXT]
    out = [vocabulary.TIMESTAMP_BEGIN]
    for i, (start, end, tokens) in enumerate(segments):
        if i > 0:
            if start >= window_seconds:
                break
            out.append(timestamp(start, math.floor))
        if end > window_seconds:
            if i == 0:
                return None  # a first sentence longer than the window
            break  # only its start: the next window begins there
        out += tokens
        out.append(timestamp(end, math.ceil))
    return out + [vocabulary.END_OF_TEXT]


class WindowMaker:
    """Composes training windows; the same (seed, number) always gives the same window."""

    def __init__(self, corpus, seed):
        self.corpus = corpus
        self.seed = seed

    def window(self, number, short=False):
        """(480,000 samples, prompt and target tokens). A short window holds
        at most SHORT_SECONDS of audio, all of its sentences complete."""
        rng = random.Random(self.seed * 7919 + number)
        corpus = self.corpus
        if rng.random() < 0.03:
            return self._silent_window(rng, SHORT_SECONDS if short else 30.0)
        multi = rng.random() < 0.7
        lead = rng.uniform(0.0, 0.3) if rng.random() < 0.7 else rng.uniform(0.0, 2.0)
        if short:
            lead = min(lead, 0.5)
        pieces, segments = [], []
        position = int(lead * SAMPLE_RATE)
        target_length = (rng.uniform(4.0, SHORT_SECONDS) if short else rng.uniform(6.0, 42.0)) \
            if multi else 0.0
        pause_range = (0.3, 1.5) if rng.random() < 0.7 else (0.5, 3.0)
        while True:
            i = rng.randrange(len(corpus))
            if short and corpus.index[i]["length"] > (SHORT_SECONDS - 1.0) * SAMPLE_RATE:
                continue
            audio = corpus.audio(i) * (10.0 ** (rng.uniform(-4.0, 4.0) / 20.0))
            start = position / SAMPLE_RATE
            end = (position + len(audio)) / SAMPLE_RATE
            if short and segments and end + 0.05 > SHORT_SECONDS:
                break
            segments.append((start, end, corpus.tokens[i]))
            pieces.append((position, audio))
            position += len(audio)
            if position >= WINDOW_SAMPLES or position / SAMPLE_RATE >= target_length:
                break
            position += int(rng.uniform(*pause_range) * SAMPLE_RATE)
        # Without timestamps only when every sentence ends inside the window.
        with_timestamps = rng.random() < 0.92 or segments[-1][1] > WINDOW_SAMPLES / SAMPLE_RATE
        # Keep within the engine's token budget: drop whole sentences from the end.
        while True:
            tokens = target_tokens(segments, with_timestamps)
            if tokens is not None and len(tokens) <= MAX_TARGET_TOKENS:
                break
            segments.pop()
            pieces.pop()
        trail = rng.uniform(0.05, 1.0) if rng.random() < 0.8 else 0.0
        last_start, last_audio = pieces[-1]
        length = min(WINDOW_SAMPLES, last_start + len(last_audio) + int(trail * SAMPLE_RATE))
        samples = np.zeros(length, dtype=np.float32)
        if rng.random() < 0.15:
            # The last moment of an earlier sentence before the first one: the
            # engine's windows start at a predicted timestamp, which can fall
            # a little before the end of the previous sentence's last word.
            tail = corpus.audio(rng.randrange(len(corpus)))
            tail = tail[-int(rng.uniform(0.02, 0.15) * SAMPLE_RATE):]
            n = min(len(tail), pieces[0][0])
            samples[:n] += tail[len(tail) - n:]
        for start, audio in pieces:
            n = min(len(audio), length - start)
            if n > 0:
                samples[start:start + n] += audio[:n]
        samples = augment(samples, rng)
        window = np.zeros(WINDOW_SAMPLES, dtype=np.float32)
        window[:length] = samples
        return window, PROMPT + tokens


    def _silent_window(self, rng, seconds):
        """Silence or noise only: nothing to write."""
        length = int(rng.uniform(1.0, seconds) * SAMPLE_RATE)
        noise_rng = np.random.default_rng(rng.randrange(1 << 31))
        level = 10.0 ** (rng.uniform(-75.0, -35.0) / 20.0) if rng.random() < 0.8 else 0.0
        samples = (noise_rng.standard_normal(length) * level).astype(np.float32)
        samples = np.round(samples * 32767.0) / 32767.0
        window = np.zeros(WINDOW_SAMPLES, dtype=np.float32)
        window[:length] = samples
        return window, PROMPT + [vocabulary.TIMESTAMP_BEGIN, vocabulary.END_OF_TEXT]


def augment(samples, rng):
    """Level change, light noise (white or brown, sometimes hum), 16-bit rounding."""
    gain = 10.0 ** (rng.uniform(-20.0, 4.0) / 20.0)
    samples = samples * gain
    roll = rng.random()
    if roll < 0.75:
        level = np.sqrt(np.mean(samples ** 2) + 1e-12)
        snr = rng.uniform(12.0, 45.0)
        noise_rng = np.random.default_rng(rng.randrange(1 << 31))
        noise = noise_rng.standard_normal(len(samples)).astype(np.float32)
        if rng.random() < 0.4:
            noise = np.cumsum(noise)
            noise -= np.convolve(noise, np.ones(401) / 401, mode="same")
        if rng.random() < 0.15:
            t = np.arange(len(samples)) / SAMPLE_RATE
            noise += 3.0 * np.sin(2 * np.pi * rng.choice([50.0, 60.0]) * t).astype(np.float32)
        noise *= level / (np.sqrt(np.mean(noise ** 2)) + 1e-12) * 10.0 ** (-snr / 20.0)
        samples = samples + noise
    return np.clip(np.round(samples * 32767.0), -32768, 32767).astype(np.float32) / 32767.0

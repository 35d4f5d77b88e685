"""Greedy decoding of an exported checkpoint in float32, the way the engine
decodes: prompt [<|startoftranscript|>, <|ru|>, <|transcribe|>, <|0.00|>],
the timestamp rules, at most 224 tokens in a window, and the engine's window
loop (seek to the last timestamp, the last second of a file left alone)."""

import math
import wave

import numpy as np
import torch

from . import vocabulary
from .features import MelFrontEnd, SAMPLE_RATE, WINDOW_SAMPLES, pad_or_trim

PROMPT = [vocabulary.START_OF_TRANSCRIPT, vocabulary.RUSSIAN, vocabulary.TRANSCRIBE,
          vocabulary.TIMESTAMP_BEGIN]
EOT = vocabulary.END_OF_TEXT
TS = vocabulary.TIMESTAMP_BEGIN


def read_wav(path):
    with wave.open(path, "rb") as f:
        if f.getsampwidth() != 2 or f.getnchannels() != 1 or f.getframerate() != SAMPLE_RATE:
            raise ValueError("%s: expected 16-bit mono 16 kHz" % path)
        return np.frombuffer(f.readframes(f.getnframes()), dtype=np.int16).astype(
            np.float32) / 32768.0


def write_wav(path, samples):
    data = np.clip(np.round(samples * 32767.0), -32768, 32767).astype("<i2")
    with wave.open(path, "wb") as f:
        f.setnchannels(1)
        f.setsampwidth(2)
        f.setframerate(SAMPLE_RATE)
        f.writeframes(data.tobytes())


def timestamp_rules(logits, tokens, sample_begin):
    """The engine's timestamp rules on one row of logits (in place)."""
    logits[vocabulary.NO_TIMESTAMPS] = -math.inf
    sampled = tokens[sample_begin:]
    if sampled:
        last_ts = sampled[-1] >= TS
        penultimate_ts = len(sampled) < 2 or sampled[-2] >= TS
        after_text = False
        if last_ts:
            if penultimate_ts:
                logits[TS:] = -math.inf
            else:
                logits[:EOT] = -math.inf
                after_text = True
        for token in reversed(sampled):
            if token >= TS:
                logits[TS:token if after_text else token + 1] = -math.inf
                break
    log_probs = torch.log_softmax(logits, dim=-1)
    if torch.logsumexp(log_probs[TS:], dim=-1) > log_probs[:TS].max():
        logits[:TS] = -math.inf


@torch.no_grad()
def decode_window(model, mel):
    """Greedy tokens after the prompt (ending with <|endoftext|> when the model ends)."""
    audio = model.encoder(mel.unsqueeze(0))
    cross = [layer.cross_attn.keys_values(audio) for layer in model.decoder.layers]
    tokens = list(PROMPT)
    sum_log_prob, count = 0.0, 0
    while len(tokens) <= 222:
        hidden = model.decoder.hidden(torch.tensor([tokens]), audio, cross_kv=cross)
        logits = model.decoder.logits(hidden[0, -1]).float()
        timestamp_rules(logits, tokens, len(PROMPT))
        token = int(torch.argmax(logits))
        sum_log_prob += float(torch.log_softmax(logits, -1)[token])
        count += 1
        if token == EOT:
            return tokens[len(PROMPT):] + [EOT], sum_log_prob / count
        tokens.append(token)
    return tokens[len(PROMPT):], sum_log_prob / max(1, count)


def segments_and_seek(tokens, seek, segment_size):
    """The engine's text and next seek for one window's tokens (those after
    the prompt): with a pair of timestamps the next window starts at the last
    timestamp, without one after the whole window."""
    tokens = PROMPT + tokens
    count = len(tokens)
    is_ts = [t >= TS for t in tokens]
    text_tokens = [t for t in tokens if t < EOT]
    ends = [i for i in range(1, count) if is_ts[i - 1] and is_ts[i]]
    if not ends or not any(is_ts[-3:]):
        return text_tokens, seek + segment_size
    single_ending = not is_ts[-3] and is_ts[-2] and not is_ts[-1]
    last = tokens[count - 2] if single_ending else tokens[ends[-1]]
    return text_tokens, seek + int((last - TS) * 0.02 * SAMPLE_RATE)


def transcribe(model, encoder, samples, front_end=None, log=None):
    """Text of a whole recording through the engine's window loop, and the
    seeks of its windows."""
    front_end = front_end or MelFrontEnd(model.dims.n_mels)
    seek, texts, seeks = 0, [], []
    while seek < len(samples) - SAMPLE_RATE:
        size = min(WINDOW_SAMPLES, len(samples) - seek)
        window = torch.from_numpy(pad_or_trim(samples[seek:seek + size]))
        mel = front_end(window.unsqueeze(0))[0]
        tokens, _ = decode_window(model, mel)
        text_tokens, new_seek = segments_and_seek(tokens, seek, size)
        seeks.append(seek)
        if log:
            log("window %.2f s: %s" % (seek / SAMPLE_RATE, tokens))
        texts.append(encoder.decode(text_tokens))
        seek = new_seek if new_seek > seek else seek + size
    return " ".join(t.strip() for t in texts).strip(), seeks


def word_errors(reference, hypothesis):
    """(edit distance in words, reference word count)."""
    from .sentences import words_of
    ref, hyp = words_of(reference), words_of(hypothesis)
    row = list(range(len(hyp) + 1))
    for i, r in enumerate(ref, 1):
        previous, row[0] = row[0], i
        for j, h in enumerate(hyp, 1):
            current = min(row[j] + 1, row[j - 1] + 1, previous + (r != h))
            previous, row[j] = row[j], current
    return row[len(hyp)], len(ref)

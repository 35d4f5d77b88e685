"""Log-mel features computed exactly as the engine's mel stage computes them.

16 kHz audio is zero-padded (or cut) to a 30-second window of 480,000 samples,
reflect-padded by half a frame on both sides, cut into 3,000 frames of 400
samples every 160 samples under a periodic Hann window, turned into a power
spectrum of 201 bins, projected onto 80 Slaney-scale mel bands, and finally
log10(max(x, 1e-10)), floored at (maximum - 8) and scaled as (x + 4) / 4.
"""

import math

import numpy as np
import torch

SAMPLE_RATE = 16000
FFT_LENGTH = 400
HOP_LENGTH = 160
FREQUENCY_BINS = FFT_LENGTH // 2 + 1
WINDOW_SAMPLES = 480000
WINDOW_FRAMES = WINDOW_SAMPLES // HOP_LENGTH  # 3000
SECONDS_PER_TIMESTAMP = 0.02


def _hz_to_mel(hz):
    linear_step = 200.0 / 3.0
    if hz < 1000.0:
        return hz / linear_step
    return 15.0 + math.log(hz / 1000.0) / (math.log(6.4) / 27.0)


def _mel_to_hz(mel):
    linear_step = 200.0 / 3.0
    if mel < 15.0:
        return mel * linear_step
    return 1000.0 * math.exp((math.log(6.4) / 27.0) * (mel - 15.0))


def mel_filter_bank(n_mels=80):
    """[n_mels, 201] triangular filters, Slaney scale and area normalisation."""
    frequencies = np.arange(FREQUENCY_BINS, dtype=np.float64) * SAMPLE_RATE / FFT_LENGTH
    top = _hz_to_mel(SAMPLE_RATE / 2)
    edges = np.array([_mel_to_hz(top * i / (n_mels + 1)) for i in range(n_mels + 2)])
    filters = np.zeros((n_mels, FREQUENCY_BINS), dtype=np.float64)
    for m in range(n_mels):
        left, center, right = edges[m], edges[m + 1], edges[m + 2]
        lower = (frequencies - left) / (center - left)
        upper = (right - frequencies) / (right - center)
        filters[m] = np.maximum(0.0, np.minimum(lower, upper)) * (2.0 / (right - left))
    return filters.astype(np.float32)


class MelFrontEnd:
    """Batched log-mel features of 30-second windows, as float32 tensors."""

    def __init__(self, n_mels=80):
        n = np.arange(FFT_LENGTH)
        self.window = torch.from_numpy(
            (0.5 - 0.5 * np.cos(2.0 * np.pi * n / FFT_LENGTH)).astype(np.float32))
        self.filters = torch.from_numpy(mel_filter_bank(n_mels))

    def __call__(self, windows):
        """windows: float32 tensor [batch, 480000] -> [batch, n_mels, 3000]."""
        pad = FFT_LENGTH // 2
        padded = torch.nn.functional.pad(windows.unsqueeze(1), (pad, pad), mode="reflect").squeeze(1)
        frames = padded.unfold(1, FFT_LENGTH, HOP_LENGTH)[:, :WINDOW_FRAMES]
        spectrum = torch.fft.rfft(frames * self.window, dim=-1)
        power = spectrum.real.square() + spectrum.imag.square()
        mel = torch.matmul(power, self.filters.t()).transpose(1, 2)
        log = torch.log10(torch.clamp(mel, min=1e-10))
        floor = log.amax(dim=(1, 2), keepdim=True) - 8.0
        return (torch.maximum(log, floor) + 4.0) / 4.0


def pad_or_trim(samples, length=WINDOW_SAMPLES):
    """The window the engine feeds: the samples, zero-filled to `length`."""
    out = np.zeros(length, dtype=np.float32)
    n = min(len(samples), length)
    out[:n] = samples[:n]
    return out

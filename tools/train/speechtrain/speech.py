"""Synthetic Russian speech: espeak-ng speaks a sentence with one of several
voices at a given speed and pitch, sox resamples it to 16 kHz, and the
silence around the words is trimmed to a short margin."""

import subprocess

import numpy as np

SAMPLE_RATE = 16000
# espeak-ng voice variants used with the Russian voice: male, female and
# Klatt-synthesiser voices of clearly different timbre.
VOICES = ["", "m1", "m2", "m3", "m4", "m5", "m6", "m7", "f1", "f2", "f3", "f4", "f5",
          "klatt", "klatt2", "klatt3", "klatt4", "adam", "boris", "linda", "steph", "aunty",
          "david", "edward", "max", "paul", "robert", "john"]
MARGIN = int(0.03 * SAMPLE_RATE)


def speak(text, voice, speed, pitch, word_gap=0):
    """int16 samples at 16 kHz of `text` spoken by espeak-ng."""
    name = "ru+" + voice if voice else "ru"
    espeak = subprocess.run(
        ["espeak-ng", "-v", name, "-s", str(speed), "-p", str(pitch), "-g", str(word_gap),
         "-a", "60", "--stdout", text],
        check=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    sox = subprocess.run(
        ["sox", "-t", "wav", "-", "-t", "raw", "-r", str(SAMPLE_RATE), "-e", "signed",
         "-b", "16", "-c", "1", "-", "gain", "-n", "-6"],
        input=espeak.stdout, check=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    return trim(np.frombuffer(sox.stdout, dtype=np.int16))


def trim(samples, threshold=0.02):
    """Cuts the silence at both ends down to MARGIN samples; the threshold is
    relative to the loudest sample."""
    if len(samples) == 0:
        return samples
    level = np.abs(samples.astype(np.int32))
    loud = np.nonzero(level > threshold * level.max())[0]
    if len(loud) == 0:
        return samples[:0]
    begin = max(0, loud[0] - MARGIN)
    end = min(len(samples), loud[-1] + 1 + MARGIN)
    return samples[begin:end].copy()


def random_voice(rng):
    """(voice, speed in words per minute, pitch 0-99, word gap in 10 ms units)."""
    return (rng.choice(VOICES), rng.randint(130, 200), rng.randint(25, 75),
            rng.choice([0, 0, 0, 1, 2]))

"""Speech for end-to-end tests: sentences spoken by flite, played into the virtual desktop's
sound devices, and the word error rate of what came back."""

import os
import re
import subprocess
import tempfile

SENTENCES = [
    "the weather is nice today and we will go for a walk in the park",
    "please send me the report before the meeting on friday morning",
    "i think we should talk about the budget for the next year",
]


def speak(text, directory, name, lead=1.5, tail=1.5):
    """A WAV file of `text` (flite's rms voice, which the recogniser knows best) with silence
    around it; returns (path, seconds)."""
    raw = os.path.join(directory, name + "-raw.wav")
    padded = os.path.join(directory, name + ".wav")
    subprocess.run(["flite", "-voice", "rms", "-t", text, "-o", raw], check=True)
    subprocess.run(["sox", raw, padded, "pad", str(lead), str(tail)], check=True)
    seconds = float(subprocess.run(["soxi", "-D", padded], capture_output=True, text=True, check=True).stdout)
    return padded, seconds


def play(path, device):
    """Plays a file into a sink of the session (the "speakers", or "mic_feed" for the
    microphone) with a low latency; returns when it has been played."""
    subprocess.run(["paplay", "--latency-msec=20", "-d", device, path], check=True, timeout=120)


def reference_transcript(path):
    """What pocketsphinx_continuous makes of the same audio."""
    with tempfile.TemporaryDirectory() as tmp:
        pcm = os.path.join(tmp, "16k.wav")
        subprocess.run(["sox", path, "-r", "16000", "-c", "1", "-b", "16", pcm], check=True)
        out = subprocess.run(["pocketsphinx_continuous", "-infile", pcm, "-logfn", "/dev/null"],
                             capture_output=True, text=True, timeout=120).stdout
    return " ".join(line.strip() for line in out.splitlines() if line.strip())


def words(text):
    return re.findall(r"[a-z']+", text.lower())


def word_error_rate(reference, hypothesis):
    ref, hyp = words(reference), words(hypothesis)
    previous = list(range(len(hyp) + 1))
    for i, r in enumerate(ref, 1):
        current = [i]
        for j, h in enumerate(hyp, 1):
            current.append(min(previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (r != h)))
        previous = current
    return previous[-1] / max(len(ref), 1)

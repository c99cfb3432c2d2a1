"""The sound analysis that the end-to-end tests and the benchmarks rely on,
checked on synthetic captures whose rhythm is written out by hand.
Usage: test_audio.py [MARLIVOX_BINARY] (the binary is not used)."""

import array
import math
import os
import tempfile
import wave

import audio
import harness
from harness import check, check_equal

RATE = 48000


def synthesize(rhythm, unit_ms, hz=800, dropouts=()):
    """Samples for a rhythm written with "=" for a unit of tone and "." for a
    unit of silence; a number in braces, "{4000}", is that many ms of tone
    and "(1000)" that many ms of silence. `dropouts` are (ms, length ms) of
    silence put inside the tones."""
    unit = RATE * unit_ms // 1000
    spans = []  # (on, samples)
    i = 0
    while i < len(rhythm):
        c = rhythm[i]
        if c in "{(":
            close = rhythm.index("}" if c == "{" else ")", i)
            spans.append((c == "{", RATE * int(rhythm[i + 1:close]) // 1000))
            i = close + 1
            continue
        spans.append((c == "=", unit))
        i += 1
    samples = array.array("h")
    for on, n in spans:
        if on:
            samples.extend(int(30000 * math.sin(2 * math.pi * hz * k / RATE)) for k in range(n))
        else:
            samples.extend([0] * n)
    for at_ms, length_ms in dropouts:
        first = RATE * at_ms // 1000
        for k in range(first, first + RATE * length_ms // 1000):
            samples[k] = 0
    return samples


CASES = [
    # name, rhythm, unit ms, dropouts, expected [(text, carriers)]
    ("letters", "=.=.=....===.===.===....=.=.=....", 50, (), [("SOS", 0)]),
    ("word gap", "=.===....." + "......" + "===.=....", 50, (), [("A N", 0)]),
    ("swedish and signs", "=.===.===.=.===...." + "===.===.===.=...." + "===.=.=.=.===....",
     40, (), [("ÅÖ=", 0)]),
    ("carrier and pause", "{4000}(1000)===....", 50, (), [("T", 1)]),
    ("two transmissions", "=....(2000)" + "=.=....", 50, (), [("E", 0), ("I", 0)]),
    # A dash starting at 0 ms (150 ms long) with 10 ms missing inside.
    ("dropout bridged", "===....=....", 50, ((60, 10),), [("TE", 0)]),
]


def test_decode_cases(_binary):
    for name, rhythm, unit_ms, dropouts, expected in CASES:
        samples = synthesize(rhythm, unit_ms, dropouts=dropouts)
        segments = audio.tone_segments(samples)
        for unit in (unit_ms, None):  # given, and estimated from the sound
            if unit is None and name in ("carrier and pause", "two transmissions"):
                continue  # too few elements to estimate the unit from
            got = [(t["text"], len(t["carriers"]))
                   for t in audio.decode(segments, rate=RATE, unit_ms=unit)]
            check_equal(got, expected, f"{name} (unit {unit})")


def test_edges_to_the_sample(_binary):
    # 100 ms of silence, 50 ms of tone: the tone's first sample is 4800 (a
    # sine from phase 0, so its first loud sample is 4801), its end 7200.
    samples = synthesize("(100)" + "=", 50)
    segments = audio.tone_segments(samples)
    check_equal(len(segments), 1, "segments")
    first, end = segments[0]
    check(4800 <= first <= 4801, f"tone starts at sample {first}")
    check(7198 <= end <= 7200, f"tone ends at sample {end}")


def test_read_wav_written_by_the_wave_module(_binary):
    samples = synthesize("=.===....", 50)
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "a.wav")
        with wave.open(path, "wb") as f:
            f.setnchannels(1)
            f.setsampwidth(2)
            f.setframerate(RATE)
            f.writeframes(samples.tobytes())
        rate, read = audio.read_wav(path)
        check_equal(rate, RATE, "rate")
        check_equal(list(read), list(samples), "samples")
        check_equal(audio.wav_sample_count(path), len(samples), "sample count")
        check_equal([t["text"] for t in audio.decode_wav(path)], ["A"], "decoded")


if __name__ == "__main__":
    import sys
    if len(sys.argv) == 1:
        sys.argv.append("-")
    harness.main([test_decode_cases, test_edges_to_the_sample,
                  test_read_wav_written_by_the_wave_module])

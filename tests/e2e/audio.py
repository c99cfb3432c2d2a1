"""Analysis of captured keyer sound: WAV reading, tone edges to the sample,
tone/silence segments, and Morse decoding back into text.

The capture is 16-bit little-endian PCM, mono, 48000 samples per second, as
parec writes it. Python 3 standard library only.
"""

import array
import os
import statistics
import struct
import sys

RATE = 48000

# The characters the keyer sends, "." a dot and "-" a dash.
MORSE = {
    "A": ".-", "B": "-...", "C": "-.-.", "D": "-..", "E": ".", "F": "..-.",
    "G": "--.", "H": "....", "I": "..", "J": ".---", "K": "-.-", "L": ".-..",
    "M": "--", "N": "-.", "O": "---", "P": ".--.", "Q": "--.-", "R": ".-.",
    "S": "...", "T": "-", "U": "..-", "V": "...-", "W": ".--", "X": "-..-",
    "Y": "-.--", "Z": "--..",
    "0": "-----", "1": ".----", "2": "..---", "3": "...--", "4": "....-",
    "5": ".....", "6": "-....", "7": "--...", "8": "---..", "9": "----.",
    "+": ".-.-.", ".": ".-.-.-", ",": "--..--", "-": "-....-", "=": "-...-",
    "/": "-..-.", "?": "..--..", "@": ".--.-.",
    "Å": ".--.-", "Ä": ".-.-", "Ö": "---.",
}
TEXT_OF_PATTERN = {pattern: char for char, pattern in MORSE.items()}


def read_wav(path):
    """Returns (rate, samples) of a 16-bit mono PCM WAV file.

    The samples run to the end of the file whatever the header's sizes say:
    a recorder stopped by a signal may leave them unfinished.
    """
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise ValueError(f"{path}: not a RIFF/WAVE file")
    pos = 12
    rate = None
    while pos + 8 <= len(data):
        chunk_id = data[pos:pos + 4]
        size = struct.unpack_from("<I", data, pos + 4)[0]
        body = pos + 8
        if chunk_id == b"fmt ":
            fmt, channels, rate, _, _, bits = struct.unpack_from("<HHIIHH", data, body)
            if fmt != 1 or channels != 1 or bits != 16:
                raise ValueError(f"{path}: want 16-bit mono PCM, got format {fmt}, "
                                 f"{channels} channels, {bits} bits")
        elif chunk_id == b"data":
            raw = data[body:]
            raw = raw[:len(raw) // 2 * 2]
            samples = array.array("h")
            samples.frombytes(raw)
            if sys.byteorder != "little":
                samples.byteswap()
            if rate is None:
                raise ValueError(f"{path}: data before fmt")
            return rate, samples
        pos = body + size + (size & 1)
    raise ValueError(f"{path}: no data chunk")


def wav_sample_count(path):
    """The number of samples captured so far (the file may still grow)."""
    try:
        with open(path, "rb") as f:
            head = f.read(4096)
        pos = head.find(b"data")
        if pos < 0:
            return 0
        return max(0, (os.path.getsize(path) - (pos + 8)) // 2)
    except OSError:
        return 0


def tone_segments(samples, threshold=300, bridge=96, start=0):
    """Finds the tones: a list of (first, end) sample indices, end exclusive.

    A sample is loud when its magnitude exceeds `threshold` (about 1 % of full
    scale by default: the keyer's tone starts at phase 0, so its first loud
    sample is the first or second of the tone). Loud samples closer than
    `bridge` samples (2 ms) belong to one tone: that bridges the zero crossings
    of tones down to 250 Hz, while the shortest silence the keyer makes at
    usual unit lengths is far longer. `first` is the first loud sample and
    `end` one past the last.
    """
    segments = []
    seg_start = None
    last_loud = None
    n = len(samples)
    i = start
    while i < n:
        v = samples[i]
        if v > threshold or v < -threshold:
            if seg_start is None:
                seg_start = i
            elif i - last_loud > bridge:
                segments.append((seg_start, last_loud + 1))
                seg_start = i
            last_loud = i
        i += 1
    if seg_start is not None:
        segments.append((seg_start, last_loud + 1))
    return segments


def to_ms(samples_count, rate=RATE):
    return samples_count * 1000.0 / rate


def estimate_unit(segments, rate=RATE):
    """The unit in samples: the shortest element of the keyer's rhythm.

    A dot's tone and the gap after every element last one unit, so the
    shortest tones and gaps that recur are one unit long. Rare shorter values
    (a dropout of the sound output cutting a tone in two) are passed over: the
    unit is the median of the first cluster of lengths within 1.6 times its
    shortest that holds at least a tenth of all lengths (and at least three).
    """
    lengths = [end - first for first, end in segments]
    lengths += [segments[i + 1][0] - segments[i][1] for i in range(len(segments) - 1)]
    lengths = sorted(x for x in lengths if x > 0)
    if not lengths:
        raise ValueError("no tones to take the unit from")
    needed = min(len(lengths), max(3, len(lengths) // 10))
    for i, shortest in enumerate(lengths):
        cluster = [x for x in lengths[i:] if x <= shortest * 1.6]
        if len(cluster) >= needed:
            return statistics.median(cluster)
    return statistics.median(lengths)


def bridge_dropouts(segments, unit, limit=0.5):
    """Joins tones separated by a silence shorter than `limit` units: the
    keyer never makes one, but a sound output that underruns puts a short
    silence inside a tone. Returns the joined segments and, for each, how
    many silences were bridged inside it."""
    joined = []
    counts = []
    for first, end in segments:
        if joined and first - joined[-1][1] < limit * unit:
            joined[-1] = (joined[-1][0], end)
            counts[-1] += 1
        else:
            joined.append((first, end))
            counts.append(0)
    return joined, counts


def decode(segments, rate=RATE, unit=None, unit_ms=None, carrier_units=5, break_units=15):
    """Turns tone segments into text transmissions.

    Returns a list of transmissions, each a dict with "text" (the decoded
    message, words separated by one space, "#" for a pattern not in the
    table), "carriers" (lengths in ms of tones longer than `carrier_units`,
    which key no element), "dropouts" (short silences inside tones that were
    bridged, see bridge_dropouts) and "segments" (the tone segments of that
    transmission). The unit is `unit` samples, or `unit_ms` milliseconds, or
    else estimated from the sound.

    A silence longer than `break_units` ends a transmission, unless it follows
    a carrier (the pause between carrier and text): within a message the
    longest silence is the 11-unit word gap.

    Each length is taken as the nearest of the keyer's: tones under 2 units
    are dots (1), longer ones dashes (3); silences under 2.5 units separate
    elements (1), under 7.5 units letters (4), longer ones words (11).
    """
    if not segments:
        return []
    if unit is None:
        unit = unit_ms * rate / 1000.0 if unit_ms is not None else estimate_unit(segments)
    segments, dropouts = bridge_dropouts(segments, unit)
    transmissions = []
    current = {"text": "", "carriers": [], "dropouts": 0, "segments": []}
    pattern = ""

    def end_letter():
        nonlocal pattern
        if pattern:
            current["text"] += TEXT_OF_PATTERN.get(pattern, "#")
            pattern = ""

    previous_end = None
    after_carrier = False
    for (first, end), bridged in zip(segments, dropouts):
        if previous_end is not None:
            gap = (first - previous_end) / unit
            if gap > break_units and not after_carrier:
                end_letter()
                transmissions.append(current)
                current = {"text": "", "carriers": [], "dropouts": 0, "segments": []}
            elif gap >= 7.5:
                end_letter()
                if current["text"]:
                    current["text"] += " "
            elif gap >= 2.5:
                end_letter()
        length = (end - first) / unit
        current["segments"].append((first, end))
        current["dropouts"] += bridged
        after_carrier = length > carrier_units
        if after_carrier:
            end_letter()
            current["carriers"].append(to_ms(end - first, rate))
        else:
            pattern += "." if length < 2 else "-"
        previous_end = end
    end_letter()
    transmissions.append(current)
    return transmissions


def decode_wav(path, **kwargs):
    """Reads a capture and decodes it; see decode()."""
    rate, samples = read_wav(path)
    return decode(tone_segments(samples), rate=rate, **kwargs)


if __name__ == "__main__":
    # python3 audio.py CAPTURE.wav: prints the tones and what they say.
    rate, samples = read_wav(sys.argv[1])
    segs = tone_segments(samples)
    for first, end in segs:
        print(f"{to_ms(first, rate):10.2f} ms  tone {to_ms(end - first, rate):8.2f} ms")
    for t in decode(segs, rate=rate):
        print(repr(t["text"]), "carriers:", t["carriers"], "dropouts:", t["dropouts"])

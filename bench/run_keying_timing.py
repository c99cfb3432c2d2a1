#!/usr/bin/python3
"""The keying rhythm as heard: the real keyer under a private Xvfb with a
private PulseAudio server, "Test" pressed at UnitMs 50 and 20 (800 Hz, no
carrier), its null sink recorded and every tone edge found to the sample.
Prints, for tones and for silences, how far they are from the nominal rhythm
(median, 99th percentile and largest difference) and the length of each whole
transmission, first tone start to last tone end, against nominal.

Usage: bench/run_keying_timing.py BUILD_DIR [--repeats N] [--units 50,20] [--sound-only]
BUILD_DIR holds the built `marlivox` and `tests/xping`. With --sound-only the
same rhythm is keyed by bench/sound_rhythm (the sound output and plain sleeps,
no window), which tells the sound output's share from the rest of the keyer's. Python 3 standard
library only; uses the end-to-end harness in tests/e2e. With --sound-only it
also reports the delay from each StartToneLoop call to its tone at the sink.
"""

import argparse
import os
import statistics
import struct
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

import audio  # noqa: E402
import harness  # noqa: E402

RATE = 48000
PERIOD = 60  # samples of one 800 Hz period, the first one 0
THRESHOLD = 1000  # 16-bit capture: every tone sample but phases 0 and 30 is above 3400
MESSAGE = "TEST DE QZ0XYZ ="
REPEAT_PAUSE_MS = 600

# Dots and dashes of the characters the message uses.
MORSE = {
    "A": ".-", "B": "-...", "C": "-.-.", "D": "-..", "E": ".", "F": "..-.", "G": "--.",
    "H": "....", "I": "..", "J": ".---", "K": "-.-", "L": ".-..", "M": "--", "N": "-.",
    "O": "---", "P": ".--.", "Q": "--.-", "R": ".-.", "S": "...", "T": "-", "U": "..-",
    "V": "...-", "W": ".--", "X": "-..-", "Y": "-.--", "Z": "--..", "0": "-----",
    "1": ".----", "2": "..---", "3": "...--", "4": "....-", "5": ".....", "6": "-....",
    "7": "--...", "8": "---..", "9": "----.", "=": "-...-",
}


def settings_file(unit, repeat_count=1):
    """marlivox.cnf: ten lines, the key padded to 9 characters, CR LF."""
    values = ["800", str(unit), MESSAGE, "0", str(REPEAT_PAUSE_MS), str(repeat_count), "0",
              "vakant", "vakant", "vakant"]
    return "".join(f"MV{i:03d}".ljust(9) + f"{v}\r\n" for i, v in enumerate(values, 1)).encode()


def nominal(unit):
    """The nominal tones and the silences between them, in ms: a tone is 1 or 3
    units and is followed by 1 unit; a character by 3 more; a space by 7."""
    tones, silences = [], []
    gap = None
    for ch in MESSAGE:
        if ch == " ":
            gap += 7 * unit
            continue
        for element in MORSE[ch]:
            if gap is not None:
                silences.append(gap)
            tones.append(unit * (1 if element == "." else 3))
            gap = unit
        gap += 3 * unit
    return tones, silences


def edges(samples):
    """The tones as (start, end) sample indices, end exclusive, to the sample.
    A tone begins with the sample 0 of its first period, just before its first
    loud sample; it ends after its last loud sample (a tone cut exactly after
    phase 0 or 30 would read one sample short)."""
    found = []
    start = last = None
    for i, v in enumerate(samples):
        if v > THRESHOLD or v < -THRESHOLD:
            if start is None:
                start = i
            elif i - last > 10:
                found.append((start - 1, last + 1))
                start = i
            last = i
    if start is not None:
        found.append((start - 1, last + 1))
    return found


def ms(count):
    return count * 1000.0 / RATE


def p99(values):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(0.99 * (len(ordered) - 1))))]


class TimedRecorder:
    """Records the null sink through a pipe in small pieces, noting when each
    arrives on the monotonic clock (the one the keyer stamps its calls with).
    The earliest arrival time minus the samples before it bounds when the
    first sample reached the sink's monitor: from above, to within the
    recorder's own wake-up latency."""

    def __init__(self, env):
        self.process = subprocess.Popen(
            ["parec", "-d", "capture.monitor", "--format=s16le", "--rate=48000",
             "--channels=1", "--raw", "--latency-msec=2"], env=env, stdout=subprocess.PIPE)
        self.data = bytearray()
        self.first_sample_ns = None
        self.thread = threading.Thread(target=self._read)
        self.thread.start()
        harness.wait_until(lambda: len(self.data) > 0, 10.0, "the recording to start")

    def _read(self):
        while True:
            piece = self.process.stdout.read1(4096)
            if not piece:
                return
            arrived_ns = time.monotonic_ns()
            self.data.extend(piece)
            first = arrived_ns - (len(self.data) // 2) * 1_000_000_000 / RATE
            if self.first_sample_ns is None or first < self.first_sample_ns:
                self.first_sample_ns = first

    def stop(self):
        time.sleep(0.3)
        self.process.terminate()
        self.thread.join()
        self.process.wait()
        count = len(self.data) // 2
        return list(struct.unpack(f"<{count}h", bytes(self.data[:count * 2]))), self.first_sample_ns


def capture(build_dir, unit, repeats, sound_only):
    binary = os.path.join(build_dir, "marlivox")
    os.environ.setdefault("MARLIVOX_XPING", os.path.join(build_dir, "tests", "xping"))
    tones_per = len(nominal(unit)[0])
    if sound_only:
        with harness.Session(binary, sound=True) as session:
            starts_path = os.path.join(session.workdir(), "starts.txt")
            recorder = TimedRecorder(session.env)
            subprocess.run([os.path.join(build_dir, "bench", "sound_rhythm"), str(unit),
                            str(repeats), str(REPEAT_PAUSE_MS), starts_path],
                           env=session.env, check=True)
            samples, first_sample_ns = recorder.stop()
            with open(starts_path) as f:
                calls = [int(line) for line in f]
        return samples, (first_sample_ns, calls)
    with harness.Session(binary, sound=True) as session:
        workdir = session.workdir()
        with open(os.path.join(workdir, "marlivox.cnf"), "wb") as f:
            f.write(settings_file(unit))
        path = session.start_recording()
        keyer = session.start_keyer(workdir)
        tones, silences = nominal(unit)
        test_s = (sum(tones) + sum(silences) + REPEAT_PAUSE_MS) / 1000.0
        for n in range(1, repeats + 1):
            keyer.click_button("Test")
            # The bench itself stays still while the keyer keys: reading and
            # searching the recording takes a processor of the two for a
            # good part of a second, which the keyer and the sound server
            # would have to wait for. It is looked at once the Test is over.
            time.sleep(test_s + 0.5)
            session.wait_for_tones(n * tones_per)
            keyer.sync(timeout=120)  # the next click starts a new Test
        session.stop_recording()
        _, samples = audio.read_wav(path)
    return samples, None  # the session ends the keyer


def analyse(samples, unit, repeats):
    tones_nominal, silences_nominal = nominal(unit)
    # A stream that underruns puts silence inside a tone. While more tones are
    # found than keyed, the two closest are joined into one (its length then
    # includes the dropout) and the dropout is counted.
    found = edges(samples)
    dropouts = 0
    while len(found) > len(tones_nominal) * repeats:
        k = min(range(len(found) - 1), key=lambda i: found[i + 1][0] - found[i][1])
        found[k:k + 2] = [(found[k][0], found[k + 1][1])]
        dropouts += 1
    per = len(tones_nominal)
    if len(found) != per * repeats:
        print(f"UnitMs {unit}: found {len(found)} tones, expected {per * repeats}:",
              [(round(ms(a), 3), round(ms(b - a), 3)) for a, b in found], file=sys.stderr)
        raise SystemExit(1)
    tone_diffs, silence_diffs, first_diffs, lengths = [], [], [], []
    for r in range(repeats):
        group = found[r * per:(r + 1) * per]
        for k, (a, b) in enumerate(group):
            diff = ms(b - a) - tones_nominal[k]
            tone_diffs.append(diff)
            if k == 0:
                first_diffs.append(diff)
            if k + 1 < per:
                silence_diffs.append(ms(group[k + 1][0] - b) - silences_nominal[k])
        lengths.append(ms(group[-1][1] - group[0][0]))
    total_nominal = sum(tones_nominal) + sum(silences_nominal)
    starts = [a for a, _ in found]
    return tone_diffs, silence_diffs, first_diffs, lengths, total_nominal, dropouts, starts


def delays(starts, timing, per):
    """The delay from each StartToneLoop call to its tone at the sink, in ms,
    one list per transmission."""
    first_sample_ns, calls = timing
    if len(calls) != len(starts):
        print(f"{len(calls)} calls against {len(starts)} tones: no delays", file=sys.stderr)
        return []
    values = [(first_sample_ns + s * 1e9 / RATE - call) / 1e6 for s, call in zip(starts, calls)]
    return [values[i:i + per] for i in range(0, len(values), per)]


def row(name, diffs):
    return (f"| {name} | {len(diffs)} | {statistics.median(diffs):+.3f} | "
            f"{p99([abs(d) for d in diffs]):.3f} | {max(abs(d) for d in diffs):.3f} |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build_dir")
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--units", default="50,20")
    parser.add_argument("--sound-only", action="store_true")
    args = parser.parse_args()
    keyed_by = "bench/sound_rhythm" if args.sound_only else "the keyer's Test"
    print(f"Message {MESSAGE!r}, 800 Hz, no carrier, {args.repeats} transmissions per unit "
          f"length, keyed by {keyed_by}; load average {os.getloadavg()[0]:.2f}.")
    print("Differences from nominal in ms (measured minus nominal; p99 and max of the")
    print("absolute difference).\n")
    print("| UnitMs | what | count | median | p99 | max |")
    print("|---|---|---|---|---|---|")
    summaries = []
    for unit in (int(u) for u in args.units.split(",")):
        samples, timing = capture(os.path.abspath(args.build_dir), unit, args.repeats,
                                  args.sound_only)
        tones, silences, first, lengths, total, dropouts, starts = analyse(
            samples, unit, args.repeats)
        for name, diffs in (("tones", tones), ("silences", silences), ("first tones", first)):
            print(f"| {unit} " + row(name, diffs), flush=True)
        per = len(nominal(unit)[0])
        summaries.append((unit, lengths, total, dropouts,
                          delays(starts, timing, per) if timing else []))
    print("\n| UnitMs | nominal transmission (ms) | measured (ms) | difference (ms) |")
    print("|---|---|---|---|")
    for unit, lengths, total, _, _ in summaries:
        for length in lengths:
            print(f"| {unit} | {total:.3f} | {length:.3f} | {length - total:+.3f} |")
    print()
    for unit, _, _, dropouts, _ in summaries:
        print(f"UnitMs {unit}: {dropouts} dropout(s) inside tones (stream underruns)")
    if any(d for *_, d in summaries):
        print("\nDelay from each StartToneLoop call to its tone at the null sink's monitor")
        print("(an upper bound, within the recorder's wake-up latency), per transmission:\n")
        print("| UnitMs | transmission | median (ms) | smallest | largest |")
        print("|---|---|---|---|---|")
        for unit, *_, per_transmission in summaries:
            for n, values in enumerate(per_transmission, 1):
                print(f"| {unit} | {n} | {statistics.median(values):.2f} | {min(values):.2f} | "
                      f"{max(values):.2f} |")


if __name__ == "__main__":
    main()

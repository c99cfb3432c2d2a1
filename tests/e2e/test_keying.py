"""End to end: the sound of "Test" and "Kör", captured from a private
PulseAudio null sink and decoded back into text, and Escape during a Run.
Usage: test_keying.py MARLIVOX_BINARY"""

import os

import audio
import harness
from harness import check, check_equal

DEFAULT_MESSAGE = "TEST DE QZ0XYZ ="
STATUS = (390, 520, 200, 20)  # where "Klart" stands after a command


def settings_file(tone, unit, message, carrier, repeat_pause, count, carrier_pause):
    """A settings file in the keyer's own format, written out here."""
    values = [str(tone), str(unit), message, str(carrier), str(repeat_pause), str(count),
              str(carrier_pause), "vakant", "vakant", "vakant"]
    return "".join(f"MV{i:03d}    {value}\r\n" for i, value in enumerate(values, 1)).encode()


def element_count(message):
    return sum(len(audio.MORSE.get(c, "")) for c in message)


def wait_status(keyer, text):
    """Waits until the status label reads `text` (by OCR)."""
    def shown():
        return harness.similarity(keyer.read_label(STATUS), text) > 0.8
    harness.wait_until(shown, 120, f"the status {text!r}", interval=0.5)


# On a busy machine the keyer's thread may be late now and then, which
# stretches a silence by a unit or more, and a sound output may drop a few
# milliseconds inside a tone. Such a slip is random while a fault of keying
# repeats, so a command whose sound does not decode is tried again, up to
# this many times in all; every attempt is logged.
ATTEMPTS = 3


def heard(transmissions):
    return [(t["text"], [round(c) for c in t["carriers"]], t["dropouts"])
            for t in transmissions]


def decode_since(capture, start, unit_ms):
    """Decodes what the recording holds from sample `start` on."""
    rate, samples = audio.read_wav(capture)
    return audio.decode(audio.tone_segments(samples, start=start), rate=rate, unit_ms=unit_ms)


def press_until_heard(session, keyer, capture, button, tones, unit_ms, wanted, after=None):
    """Clicks `button`, waits for `tones` tones and "Klart", calls `after`
    (checks of the window once the command is over) and decodes what was
    sounded; again while it is not `wanted`, up to ATTEMPTS times. Returns the
    (text, number of carriers) of each transmission last heard."""
    for attempt in range(1, ATTEMPTS + 1):
        start = audio.wav_sample_count(capture)
        keyer.click_button(button)
        session.wait_for_tones(tones, start_sample=start, unit_ms=unit_ms)
        wait_status(keyer, "Klart")
        if after:
            after()
        transmissions = decode_since(capture, start, unit_ms)
        harness.log(f"attempt {attempt} heard (text, carriers ms, dropouts):",
                    heard(transmissions))
        got = [(t["text"], len(t["carriers"])) for t in transmissions]
        if got == wanted:
            break
    return got


def test_test_sounds_the_default_message(binary):
    with harness.Session(binary, sound=True) as session:
        workdir = session.workdir()
        capture = session.start_recording()
        keyer = session.start_keyer(workdir)
        tones = 1 + element_count(DEFAULT_MESSAGE)  # the carrier, then the text
        wanted = [(DEFAULT_MESSAGE, 1)]             # (text, carriers) of one transmission
        got = press_until_heard(session, keyer, capture, "Test", tones, 50, wanted)
        check_equal(got, wanted, "the decoded sound (text, number of carriers)")
        sent = keyer.read_label(harness.SENT_TEXT_VIEW)
        check(harness.similarity(sent, DEFAULT_MESSAGE) > 0.8,
              f"the sent-text display reads {sent!r}")
        keyer.press_escape()
        check_equal(keyer.wait_exit(), 0, "exit code after Escape")
        session.stop_recording()


def test_run_sounds_the_message_three_times_and_counts(binary):
    message = "SOS DE"
    unit = 80
    with harness.Session(binary, sound=True) as session:
        workdir = session.workdir()
        with open(os.path.join(workdir, "marlivox.cnf"), "wb") as f:
            f.write(settings_file(tone=700, unit=unit, message=message, carrier=0,
                                  repeat_pause=1500, count=3, carrier_pause=1000))
        capture = session.start_recording()
        keyer = session.start_keyer(workdir)
        wanted = [(message, 0)] * 3

        def count_shown():
            count = keyer.read_label(harness.COUNT_VIEW, digits=True)
            check_equal(count, "3", "the count shown after the Run")

        got = press_until_heard(session, keyer, capture, "Kör", 3 * element_count(message),
                                unit, wanted, after=count_shown)
        check_equal(got, wanted, "the decoded sound (text, number of carriers)")
        keyer.press_escape()
        check_equal(keyer.wait_exit(), 0, "exit code after Escape")
        session.stop_recording()


def test_escape_during_a_run_ends_the_process(binary):
    with harness.Session(binary, sound=True) as session:
        workdir = session.workdir()
        # 73 transmissions of twenty dots: minutes of keying unless Escape ends it.
        with open(os.path.join(workdir, "marlivox.cnf"), "wb") as f:
            f.write(settings_file(tone=800, unit=50, message="E" * 20, carrier=0,
                                  repeat_pause=500, count=73, carrier_pause=0))
        capture = session.start_recording()
        keyer = session.start_keyer(workdir)
        keyer.click_button("Kör")
        session.wait_for_tones(2)
        # Escape held while three more dots sound (the keyer looks at the key
        # around each dot), then released: the next dot ends the process.
        held_from = audio.wav_sample_count(capture)
        keyer.key_down("Escape")
        session.wait_for_tones(3, start_sample=held_from)
        keyer.key_up("Escape")
        check_equal(keyer.wait_exit(60), 0, "exit code after Escape during a Run")


if __name__ == "__main__":
    harness.main([
        test_test_sounds_the_default_message,
        test_run_sounds_the_message_three_times_and_counts,
        test_escape_during_a_run_ends_the_process,
    ])

"""End to end: the settings file on the first start, after "Spara", on the next
start, and when it cannot be written. Usage: test_settings.py MARLIVOX_BINARY"""

import os
import pwd

import harness
from harness import check, check_equal

# The file of the first start, written out by hand: ten lines, 163 bytes.
DEFAULT_FILE = (b"MV001    800\r\n"
                b"MV002    50\r\n"
                b"MV003    TEST DE QZ0XYZ =\r\n"
                b"MV004    4000\r\n"
                b"MV005    2000\r\n"
                b"MV006    73\r\n"
                b"MV007    1000\r\n"
                b"MV008    vakant\r\n"
                b"MV009    vakant\r\n"
                b"MV010    vakant\r\n")

# The file after "Spara" without edits: seven lines, then three lines of nine
# spaces, 145 bytes.
SAVED_FILE = (b"MV001    800\r\n"
              b"MV002    50\r\n"
              b"MV003    TEST DE QZ0XYZ =\r\n"
              b"MV004    4000\r\n"
              b"MV005    2000\r\n"
              b"MV006    73\r\n"
              b"MV007    1000\r\n"
              b"         \r\n"
              b"         \r\n"
              b"         \r\n")

# What the fields show with either file, by field number (25 holds MV007, 27
# holds MV005).
DEFAULT_FIELDS = {17: "800", 19: "50", 21: "TEST DE QZ0XYZ =", 23: "4000",
                  25: "1000", 27: "2000", 29: "73"}

SAVED = "Data sparade i filen marlivox.cnf"
NOT_SAVED = "Data kunde inte sparas i filen marlivox.cnf"
BOX_TITLE = "Åtgärd:"


def read_file(workdir):
    with open(os.path.join(workdir, "marlivox.cnf"), "rb") as f:
        return f.read()


def check_fields(keyer, expected, when):
    shown = {number: keyer.read_field(number) for number in expected}
    check_equal(shown, expected, f"field texts {when}")


def save_and_read_box(keyer):
    """Clicks "Spara", reads the box that follows and dismisses it; returns
    the message it resembles most."""
    keyer.click_button("Spara")
    box = keyer.wait_box(BOX_TITLE)
    lines = keyer.box_lines(box)
    harness.log("box shows", lines)
    message, score = harness.best_match(lines, [SAVED, NOT_SAVED])
    check(score > 0.85, f"the box text {lines!r} is neither save message")
    keyer.dismiss_box(box)
    return message


def no_information_boxes(keyer):
    boxes = [title for wid, title in keyer.windows() if wid != keyer.window]
    check_equal(boxes, [], "extra windows at start (a failed settings lookup?)")


def test_first_start_save_and_second_start(binary):
    with harness.Session(binary) as session:
        workdir = session.workdir()
        keyer = session.start_keyer(workdir)
        no_information_boxes(keyer)
        check_equal(read_file(workdir), DEFAULT_FILE, "the file written on the first start")
        check_fields(keyer, DEFAULT_FIELDS, "on the first start")

        check_equal(save_and_read_box(keyer), SAVED, "message after Spara")
        check_equal(read_file(workdir), SAVED_FILE, "the file after Spara")
        check_equal(sorted(os.listdir(workdir)), ["marlivox.cnf"], "files in the directory")
        keyer.click_button("Avsluta")
        check_equal(keyer.wait_exit(), 0, "exit code after Avsluta")

        keyer = session.start_keyer(workdir)
        no_information_boxes(keyer)
        check_fields(keyer, DEFAULT_FIELDS, "on the second start")
        check_equal(read_file(workdir), SAVED_FILE, "the file after the second start")
        keyer.press_escape()
        check_equal(keyer.wait_exit(), 0, "exit code after Escape")


def test_save_that_cannot_write_keeps_the_old_file(binary):
    # The file and its directory belong to someone else and are read-only for
    # the keyer. As root, permissions do not stop writes, so the keyer then
    # runs as the unprivileged user "nobody".
    old = DEFAULT_FILE.replace(b"MV001    800", b"MV001    700")
    with harness.Session(binary) as session:
        workdir = session.workdir()
        path = os.path.join(workdir, "marlivox.cnf")
        with open(path, "wb") as f:
            f.write(old)
        user = None
        if os.geteuid() == 0:
            user = "nobody"
            pwd.getpwnam(user)
            os.chmod(path, 0o644)
            os.chmod(workdir, 0o755)
        else:
            os.chmod(path, 0o444)
            os.chmod(workdir, 0o555)
        try:
            keyer = session.start_keyer(workdir, user=user)
            no_information_boxes(keyer)
            check_equal(keyer.read_field(17), "700", "field 17 from the read-only file")
            keyer.set_field(19, "60")
            check_equal(save_and_read_box(keyer), NOT_SAVED, "message after a failed Spara")
            check_equal(read_file(workdir), old, "the file after a failed Spara")
            check_equal(sorted(os.listdir(workdir)), ["marlivox.cnf"], "files in the directory")
            check(keyer.running(), "the keyer ended after a failed Spara")
            keyer.click_button("Avsluta")
            check_equal(keyer.wait_exit(), 0, "exit code after Avsluta")
        finally:
            os.chmod(workdir, 0o755)


if __name__ == "__main__":
    harness.main([
        test_first_start_save_and_second_start,
        test_save_that_cannot_write_keeps_the_old_file,
    ])

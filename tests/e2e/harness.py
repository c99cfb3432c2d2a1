"""The end-to-end harness: the real keyer binary on a private Xvfb, optionally
with a private PulseAudio server whose null sink is recorded, driven with
xdotool and read back through the clipboard, screenshots and OCR.

Each test script makes one Session (a context manager), which owns every
process it starts and ends them, by their ids, when the test is over.

Waiting is done by synchronising, not by guessed sleeps: a _NET_WM_PING round
trip (tools/xping) tells that the keyer has handled everything sent to it
before; where nothing can be synchronised on (a window to appear, a process to
end, a sound file to grow) the harness polls with a generous time-out.

Python 3 standard library only.
"""

import difflib
import os
import pwd
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

import audio

TITLE_PREFIX = "MARLIVOX"
DEFAULT_TIMEOUT = 60.0

# Client coordinates of the controls (x, y, width, height).
FIELDS = {
    17: (320, 280, 50, 20),   # Ton i Hertz
    19: (320, 310, 50, 20),   # Teckenlängd i mS
    21: (320, 340, 800, 20),  # Text du vill sända
    23: (320, 400, 50, 20),   # Ev. bärvåg i mS före texten
    25: (320, 430, 50, 20),   # Pause i mS mellan bärvåg och text
    27: (320, 460, 50, 20),   # Pause i mS mellan sändningarna
    29: (320, 490, 50, 20),   # Antal utsändningar du vill köra
}
BUTTONS = {
    "Spara": (120, 600, 100, 20),
    "Test": (250, 600, 100, 20),
    "Kör": (380, 600, 100, 20),
    "Avsluta": (510, 600, 100, 20),
}
SENT_TEXT_VIEW = (320, 370, 800, 20)
COUNT_VIEW = (320, 520, 50, 20)


class HarnessError(Exception):
    pass


def log(*parts):
    print("[e2e]", *parts, flush=True)


def wait_until(predicate, timeout=DEFAULT_TIMEOUT, what="a condition", interval=0.05):
    """Polls `predicate` until it returns a true value, which is returned."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise HarnessError(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


def xping_path():
    path = os.environ.get("MARLIVOX_XPING")
    if not path or not os.path.exists(path):
        raise HarnessError("MARLIVOX_XPING must name the built xping tool")
    return path


class Keyer:
    """One running keyer process and its main window."""

    def __init__(self, session, process, workdir, stdout_path, stderr_path):
        self.session = session
        self.process = process
        self.workdir = workdir
        self.stdout_path = stdout_path
        self.stderr_path = stderr_path
        self.window = None

    # ---- process ------------------------------------------------------------

    @property
    def pid(self):
        return self.process.pid

    def running(self):
        return self.process.poll() is None

    def wait_exit(self, timeout=DEFAULT_TIMEOUT):
        """Waits for the keyer to end and returns its exit code."""
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise HarnessError(f"the keyer did not end within {timeout:.0f} s")

    def stderr(self):
        with open(self.stderr_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

    # ---- windows ------------------------------------------------------------

    def windows(self):
        """The keyer's viewable top-level windows as (id, title) pairs."""
        return self.session.list_windows(self.pid)

    def wait_window(self, timeout=DEFAULT_TIMEOUT):
        """Waits for the main window, gives it the focus and waits until the
        keyer has handled everything up to now."""
        def find():
            if not self.running():
                raise HarnessError(f"the keyer ended (code {self.process.returncode}) "
                                   f"before showing its window; stderr: {self.stderr()!r}")
            for wid, title in self.windows():
                if title.startswith(TITLE_PREFIX):
                    return wid
            return None
        self.window = wait_until(find, timeout, "the keyer's main window")
        self.focus()
        return self.window

    def focus(self, wid=None):
        self.session.xdotool("windowfocus", "--sync", str(wid or self.window))
        self.sync()

    def sync(self, wid=None, timeout=DEFAULT_TIMEOUT):
        """Two _NET_WM_PING round trips: when the second reply comes, the
        keyer has handled every event sent to it before the first ping, and
        whatever those events posted in turn."""
        for _ in range(2):
            self.session.ping(wid or self.window, timeout)

    def ping_ok(self, timeout=10.0):
        """True when the window answers a ping within `timeout`."""
        return self.session.ping(self.window, timeout, check=False)

    def request_close(self):
        """The window manager's close request: WM_DELETE_WINDOW."""
        self.session.run([xping_path(), "close", str(self.window)])

    # ---- input --------------------------------------------------------------

    def click(self, x, y, wid=None):
        """A left click at client coordinates (x, y) of the window."""
        self.session.xdotool("mousemove", "--window", str(wid or self.window),
                             str(x), str(y), "click", "1")

    def click_button(self, name):
        x, y, w, h = BUTTONS[name]
        self.click(x + w // 2, y + h // 2)

    def key(self, *keys):
        self.session.xdotool("key", "--clearmodifiers", *keys)

    def key_down(self, key):
        self.session.xdotool("keydown", key)

    def key_up(self, key):
        self.session.xdotool("keyup", key)

    def type_text(self, text):
        self.session.xdotool("type", "--delay", "20", text)

    def press_escape(self):
        """Escape down and up as two separate, synchronised events: the keyer
        looks at the physical key state at each wake-up, so it must see the key
        held at one wake-up and released at a later one."""
        self.key_down("Escape")
        self.sync()
        self.key_up("Escape")

    # ---- reading what the window shows --------------------------------------

    def read_field(self, number):
        """The whole text of an input field, through select-all and copy."""
        x, y, w, h = FIELDS[number]
        self.session.clear_clipboard()
        self.click(x + min(w, 50) // 2, y + h // 2)
        self.key("ctrl+a")
        self.key("ctrl+c")
        self.sync()
        return self.session.read_clipboard()

    def set_field(self, number, text):
        x, y, w, h = FIELDS[number]
        self.click(x + min(w, 50) // 2, y + h // 2)
        self.key("ctrl+a")
        self.key("BackSpace")
        if text:
            self.type_text(text)
        self.sync()

    def wait_box(self, title, timeout=DEFAULT_TIMEOUT):
        """Waits for a message box with this title; returns its window id."""
        def find():
            if not self.running():
                raise HarnessError("the keyer ended while a message box was awaited")
            for wid, t in self.windows():
                if t == title:
                    return wid
            return None
        return wait_until(find, timeout, f"the message box {title!r}")

    def box_lines(self, wid):
        """The lines of text a message box shows, by OCR of its window. (Qt's
        message box copies its text on Ctrl+C only on Windows.)"""
        return [line for line in self.ocr_window(wid).splitlines() if line.strip()]

    def dismiss_box(self, wid):
        self.focus(wid)
        self.key("Return")
        wait_until(lambda: all(w != wid for w, _ in self.windows()), DEFAULT_TIMEOUT,
                   "the message box to close")
        self.focus()

    def screenshot(self, path, region=None):
        """A PNG of the window, or of a client region (x, y, w, h) of it."""
        self.session.run(["import", "-window", str(self.window), path])
        if region is not None:
            x, y, w, h = region
            self.session.run(["convert", path, "-crop", f"{w}x{h}+{x}+{y}", "+repage", path])
        return path

    def pixels(self, points):
        """The colours at client points [(x, y), ...] of one screenshot, as
        ImageMagick names them (e.g. "srgb(171,171,171)")."""
        shot = os.path.join(self.session.tmp, "pixels.png")
        self.session.run(["import", "-window", str(self.window), shot])
        spec = "\n".join(f"%[pixel:p{{{x},{y}}}]" for x, y in points)
        out = self.session.run(["convert", shot, "-format", spec, "info:"]).stdout
        return out.decode().split("\n")

    def read_label(self, region, digits=False):
        """The text of a label by OCR of its region of the main window; the
        edge of a bordered label is cut off first."""
        x, y, w, h = region
        return self.ocr_window(self.window, (x + 2, y + 2, w - 4, h - 4), single_line=True,
                               digits=digits)

    def ocr_window(self, wid, region=None, single_line=False, digits=False):
        """Reads the text in a window (or a region of it) with tesseract, on a
        grey copy scaled up four times with a white margin."""
        shot = os.path.join(self.session.tmp, "ocr-shot.png")
        path = os.path.join(self.session.tmp, "ocr.png")
        self.session.run(["import", "-window", str(wid), shot])
        args = ["convert", shot]
        if region is not None:
            x, y, w, h = region
            args += ["-crop", f"{w}x{h}+{x}+{y}", "+repage"]
        args += ["-colorspace", "Gray", "-bordercolor", "white", "-border", "10",
                 "-filter", "Lanczos", "-resize", "400%", path]
        self.session.run(args)
        ocr = ["tesseract", path, "stdout", "--psm", "7" if single_line else "6"]
        if digits:
            ocr += ["-c", "tessedit_char_whitelist=0123456789"]
        result = self.session.run(ocr, env_extra={"OMP_THREAD_LIMIT": "1"})
        return result.stdout.decode("utf-8", "replace").strip()


def similarity(a, b):
    """How alike two texts are, 0 to 1 (OCR makes small slips)."""
    return difflib.SequenceMatcher(None, a, b).ratio()


def best_match(lines, candidates):
    """The candidate text that one of the OCR lines resembles most, with the
    score."""
    scored = [(max((similarity(line, c) for line in lines), default=0.0), c)
              for c in candidates]
    scored.sort(reverse=True)
    return scored[0][1], scored[0][0]


class Session:
    """A private X server (and PulseAudio server, when sound matters) for one
    test, with its own HOME and runtime directory in a temporary directory."""

    def __init__(self, keyer_binary, sound=False, layout=None):
        self.keyer_binary = os.path.abspath(keyer_binary)
        self.sound = sound
        self.layout = layout
        self.processes = []  # (name, Popen), ended in reverse order
        self.keyers = []
        self.tmp = None
        self.env = None
        self.recording = None
        self.pulse_dir = None

    # ---- set-up and tear-down -----------------------------------------------

    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def _start(self):
        self.tmp = tempfile.mkdtemp(prefix="marlivox-e2e-")
        # Others (an unprivileged keyer) must be able to reach the directories
        # meant for them inside.
        os.chmod(self.tmp, 0o755)
        home = self.mkdir("home")
        runtime = self.mkdir("runtime", 0o700)
        env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": home,
            "XDG_RUNTIME_DIR": runtime,
            "LC_ALL": "C.UTF-8",
            "QT_QPA_PLATFORM": "xcb",
        }
        self.env = env
        self._start_xvfb()
        if self.layout:
            self.run(["setxkbmap", "-layout", self.layout])
        if self.sound:
            self._start_pulse()

    def mkdir(self, name, mode=0o755):
        path = os.path.join(self.tmp, name)
        os.makedirs(path, exist_ok=True)
        os.chmod(path, mode)
        return path

    def _spawn(self, name, args, **kwargs):
        process = subprocess.Popen(args, env=kwargs.pop("env", self.env), **kwargs)
        self.processes.append((name, process))
        return process

    def _start_xvfb(self):
        read_end, write_end = os.pipe()
        log_file = open(os.path.join(self.tmp, "xvfb.log"), "wb")
        try:
            # -noreset: by default the server resets when its last client
            # disconnects, and a client that connects during the reset is
            # turned away; the tools here connect and disconnect all the time.
            self._spawn("Xvfb", ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                 "1920x1080x24", "-nolisten", "tcp", "-noreset"],
                        pass_fds=(write_end,), stdout=log_file, stderr=log_file)
        finally:
            os.close(write_end)
            log_file.close()
        number = b""
        deadline = time.monotonic() + DEFAULT_TIMEOUT
        while not number.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([read_end], [], [], left)[0]:
                os.close(read_end)
                raise HarnessError("Xvfb did not report its display")
            chunk = os.read(read_end, 16)
            if not chunk:
                os.close(read_end)
                raise HarnessError("Xvfb ended without reporting its display")
            number += chunk
        os.close(read_end)
        self.env["DISPLAY"] = ":" + number.decode().strip()
        log("Xvfb on display", self.env["DISPLAY"])

    def _start_pulse(self):
        d = self.mkdir("pulse", 0o700)
        self.pulse_dir = d
        pulse_env = dict(self.env)
        pulse_env.update({
            "HOME": d,
            "XDG_RUNTIME_DIR": d,
            "PULSE_RUNTIME_PATH": d,
            "PULSE_STATE_PATH": d,
        })
        pulse_env.pop("DISPLAY", None)
        socket = os.path.join(d, "native")
        log_file = open(os.path.join(self.tmp, "pulse.log"), "wb")
        self._spawn("pulseaudio", [
            "pulseaudio", "--daemonize=no", "--system=false", "--exit-idle-time=-1",
            "--disallow-exit", "--use-pid-file=no", "-n",
            "--load=module-null-sink sink_name=capture rate=48000 channels=1 norewinds=1",
            f"--load=module-native-protocol-unix auth-anonymous=1 socket={socket}",
        ], env=pulse_env, stdout=log_file, stderr=log_file)
        log_file.close()
        self.env.update({
            "PULSE_SERVER": "unix:" + socket,
            "PULSE_COOKIE": os.path.join(d, "cookie"),
            "PULSE_RUNTIME_PATH": d,
            "SDL_AUDIODRIVER": "pulseaudio",
        })

        def ready():
            if not os.path.exists(socket):
                return False
            return subprocess.run(["pactl", "info"], env=self.env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL).returncode == 0
        wait_until(ready, DEFAULT_TIMEOUT, "the PulseAudio server")
        # The socket's directory must be reachable by the keyer, whoever runs it.
        os.chmod(d, 0o755)

    def close(self):
        """Ends every process started here, newest first, then removes the
        temporary directory."""
        for keyer in self.keyers:
            try:
                keyer.stop()
            except Exception:
                traceback.print_exc()
        for name, process in reversed(self.processes):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        self.processes = []
        if self.tmp and os.environ.get("MARLIVOX_E2E_KEEP") != "1":
            shutil.rmtree(self.tmp, ignore_errors=True)

    # ---- helpers ------------------------------------------------------------

    def run(self, args, env_extra=None, timeout=DEFAULT_TIMEOUT, check=True, input=None):
        env = dict(self.env)
        if env_extra:
            env.update(env_extra)
        result = subprocess.run(args, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                timeout=timeout, input=input)
        if check and result.returncode != 0:
            raise HarnessError(f"{args[0]} failed ({result.returncode}): "
                               f"{result.stderr.decode('utf-8', 'replace').strip()}")
        return result

    def xdotool(self, *args):
        return self.run(["xdotool", *args])

    def ping(self, wid, timeout=DEFAULT_TIMEOUT, check=True):
        result = self.run([xping_path(), "ping", str(wid), str(int(timeout * 1000))],
                          timeout=timeout + 30, check=False)
        if result.returncode == 0:
            return True
        if check:
            raise HarnessError(f"window {wid} did not answer a ping within {timeout:.0f} s")
        return False

    def list_windows(self, pid):
        out = self.run([xping_path(), "list", str(pid)]).stdout.decode("utf-8", "replace")
        windows = []
        for line in out.splitlines():
            wid, _, title = line.partition("\t")
            windows.append((int(wid), title))
        return windows

    def focused_window(self):
        return int(self.run([xping_path(), "focus"]).stdout.decode().strip())

    def clear_clipboard(self):
        self.run([xping_path(), "clear-clipboard"])

    def read_clipboard(self):
        """The clipboard's text, or "" when nobody holds it."""
        result = self.run(["xclip", "-o", "-selection", "clipboard", "-t", "UTF8_STRING"],
                          check=False)
        if result.returncode != 0:
            return ""
        return result.stdout.decode("utf-8", "replace")

    def open_other_window(self, title="other"):
        """A window of our own, mapped; returns its id. It stays until the
        session ends."""
        process = self._spawn("xping window", [xping_path(), "window", title],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        line = process.stdout.readline()
        if not line:
            raise HarnessError("could not open a window of our own")
        return int(line.decode().strip())

    # ---- the keyer ----------------------------------------------------------

    def workdir(self, name="work"):
        return self.mkdir(name)

    def start_keyer(self, workdir, user=None, env=None, wait_window=True):
        """Starts the keyer in `workdir` (its settings file lives there). With
        `user`, it runs as that user, from a copy of the binary that the user
        can read."""
        binary = self.keyer_binary
        args = [binary]
        run_env = dict(self.env if env is None else env)
        if user is not None:
            entry = pwd.getpwnam(user)
            copy = os.path.join(self.tmp, "marlivox-copy")
            if not os.path.exists(copy):
                shutil.copy2(binary, copy)
                os.chmod(copy, 0o755)
            home = self.mkdir("home-" + user)
            runtime = self.mkdir("runtime-" + user, 0o700)
            os.chown(home, entry.pw_uid, entry.pw_gid)
            os.chown(runtime, entry.pw_uid, entry.pw_gid)
            run_env.update({"HOME": home, "XDG_RUNTIME_DIR": runtime})
            args = ["setpriv", f"--reuid={entry.pw_uid}", f"--regid={entry.pw_gid}",
                    "--clear-groups", copy]
        n = len(self.keyers)
        stdout_path = os.path.join(self.tmp, f"keyer{n}.out")
        stderr_path = os.path.join(self.tmp, f"keyer{n}.err")
        with open(stdout_path, "wb") as out, open(stderr_path, "wb") as err:
            process = subprocess.Popen(args, cwd=workdir, env=run_env, stdout=out, stderr=err,
                                       stdin=subprocess.DEVNULL)
        keyer = Keyer(self, process, workdir, stdout_path, stderr_path)
        self.keyers.append(keyer)
        if wait_window:
            keyer.wait_window()
        return keyer

    # ---- sound --------------------------------------------------------------

    def start_recording(self, name="capture.wav"):
        """Records the null sink to a WAV file; returns once the file grows."""
        if not self.sound:
            raise HarnessError("this session has no sound server")
        path = os.path.join(self.tmp, name)
        self.recording = self._spawn("parec", [
            "parec", "-d", "capture.monitor", "--format=s16le", "--rate=48000",
            "--channels=1", "--file-format=wav", path])
        wait_until(lambda: audio.wav_sample_count(path) > 0, DEFAULT_TIMEOUT,
                   "the recording to start")
        first = audio.wav_sample_count(path)
        wait_until(lambda: audio.wav_sample_count(path) > first, DEFAULT_TIMEOUT,
                   "the recording to grow")
        self.recording_path = path
        return path

    def stop_recording(self):
        """Stops the recorder (SIGTERM, which lets it finish the file)."""
        process = self.recording
        if process is not None and process.poll() is None:
            process.send_signal(signal.SIGTERM)
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        self.recording = None
        return self.recording_path

    def wait_for_tones(self, count, start_sample=0, unit_ms=None, timeout=120.0):
        """Waits until the recording holds at least `count` finished tones
        after `start_sample` (with `unit_ms`, tones cut in two by a dropout of
        the sound output count once); returns them."""
        path = self.recording_path

        def enough():
            rate, samples = audio.read_wav(path)
            segments = audio.tone_segments(samples, start=start_sample)
            if unit_ms is not None:
                segments, _ = audio.bridge_dropouts(segments, unit_ms * rate / 1000.0)
            # The last tone may still be sounding: count only those followed
            # by some silence.
            done = [s for s in segments if len(samples) - s[1] > rate // 100]
            return done if len(done) >= count else None
        return wait_until(enough, timeout, f"{count} tones in the recording", interval=0.2)


def main(test_functions):
    """Runs the test functions given (each taking the keyer binary's path) and
    exits non-zero if any fails. argv[1] is the binary."""
    if len(sys.argv) != 2:
        print(f"usage: {sys.argv[0]} MARLIVOX_BINARY", file=sys.stderr)
        sys.exit(2)
    binary = sys.argv[1]
    failed = []
    for test in test_functions:
        log("----", test.__name__)
        started = time.monotonic()
        try:
            test(binary)
            log("PASS", test.__name__, f"({time.monotonic() - started:.1f} s)")
        except Exception:
            traceback.print_exc()
            log("FAIL", test.__name__)
            failed.append(test.__name__)
    if failed:
        log("failed:", ", ".join(failed))
        sys.exit(1)


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def check_equal(actual, expected, what):
    if actual != expected:
        raise AssertionError(f"{what}: expected {expected!r}, got {actual!r}")

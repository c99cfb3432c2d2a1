#!/usr/bin/python3
"""Footprint of the keyer beside another small Qt 6 Widgets program.

Measured on a private Xvfb (no window manager) with a private PulseAudio
server whose only sink is a null sink, for each program and each run:

  - start-up: from the start of the process to its top-level window being
    mapped, seen as a MapNotify on the root window (an X client of our own,
    through libX11 with ctypes, so there is no polling delay);
  - resident memory (VmRSS) after the window has settled, idle;
  - processor time (utime + stime from /proc/PID/stat, in clock ticks, and the
    run time of all threads from /proc/PID/task/*/schedstat, in ms) and thread
    wake-ups (context switches) over an idle period, nothing touching the
    window, first with the window focused (in front), then with the focus on
    the root window (in the background);
  - for the keyer: "Kör" clicked with xdotool, then processor time and
    wake-ups over a period of the transmission, VmRSS during it and VmHWM at
    its end, and a short recording of the null sink to show the tone sounds.

The other program is qt6ct (Debian package qt6ct), the Qt 6 configuration
tool: one window of tabs, combo boxes and buttons built on Qt 6 Widgets, about
as large a binary as the keyer. The setup installs it with apt-get if it is
missing (as root).

Prints one Markdown table of medians (the idle processor time as its largest
value over the runs, since the goal there is none at all) and the per-run
figures.

Usage: bench/footprint.py [--runs N] [--idle S] [--transmit S] MARLIVOX_BINARY
Python 3 standard library only.
"""

import argparse
import array
import ctypes
import ctypes.util
import os
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import wave

OTHER_PACKAGE = "qt6ct"
OTHER_BINARY = "/usr/bin/qt6ct"
RUN_BUTTON = (430, 610)  # "Kör": client x 380..480, y 600..620
CLK_TCK = os.sysconf("SC_CLK_TCK")

# A transmission that keys for well over the measured period: 800 Hz, 50 ms
# units, no carrier, many repetitions.
SETTINGS = [
    ("MV001", "800"),
    ("MV002", "50"),
    ("MV003", "TEST DE QZ0XYZ ="),
    ("MV004", "0"),
    ("MV005", "500"),
    ("MV006", "73"),
    ("MV007", "0"),
    ("MV008", "vakant"),
    ("MV009", "vakant"),
    ("MV010", "vakant"),
]


def log(*parts):
    print("[footprint]", *parts, file=sys.stderr, flush=True)


# ---- Tools and the comparison program ---------------------------------------------

def require_tools():
    missing = [t for t in ("Xvfb", "xdotool", "pulseaudio", "pactl", "parec")
               if shutil.which(t) is None]
    if missing:
        sys.exit(f"missing tools: {' '.join(missing)} "
                 "(packages xvfb, xdotool, pulseaudio, pulseaudio-utils)")


def ensure_other_program():
    if os.path.exists(OTHER_BINARY):
        return True
    if os.geteuid() != 0:
        log(f"{OTHER_BINARY} is missing and we are not root: "
            f"apt-get install {OTHER_PACKAGE}; measuring the keyer alone")
        return False
    log(f"installing {OTHER_PACKAGE} for the comparison")
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(["apt-get", "install", "-y", "-qq", "--no-install-recommends",
                    OTHER_PACKAGE], env=env, check=False)
    return os.path.exists(OTHER_BINARY)


# ---- The private X server and sound server ----------------------------------------

class Servers:
    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="marlivox-footprint-")
        self.processes = []
        self.env = {}

    def __enter__(self):
        try:
            self._start_xvfb()
            self._start_pulseaudio()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def _start_xvfb(self):
        read_fd, write_fd = os.pipe()
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1920x1080x24",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.processes.append(xvfb)
        os.close(write_fd)
        number = b""
        deadline = time.monotonic() + 30
        while not number.endswith(b"\n"):
            if time.monotonic() > deadline or xvfb.poll() is not None:
                raise RuntimeError("Xvfb did not start")
            ready, _, _ = select.select([read_fd], [], [], 1.0)
            if ready:
                chunk = os.read(read_fd, 64)
                if not chunk:
                    break
                number += chunk
        os.close(read_fd)
        self.display = ":" + number.decode().strip()

    def _start_pulseaudio(self):
        pulse = os.path.join(self.dir, "pulse")
        os.makedirs(pulse, mode=0o700)
        self.socket = os.path.join(pulse, "native")
        home = os.path.join(self.dir, "home")
        os.makedirs(home)
        self.env = {
            "DISPLAY": self.display,
            "QT_QPA_PLATFORM": "xcb",
            "HOME": home,
            "XDG_RUNTIME_DIR": pulse,
            "XDG_CONFIG_HOME": os.path.join(home, ".config"),
            "LC_ALL": "C.UTF-8",
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "PULSE_SERVER": "unix:" + self.socket,
            "PULSE_RUNTIME_PATH": pulse,
            "PULSE_STATE_PATH": pulse,
            "PULSE_COOKIE": os.path.join(pulse, "cookie"),
            "SDL_AUDIODRIVER": "pulseaudio",
        }
        server = subprocess.Popen(
            ["pulseaudio", "--daemonize=no", "--system=false", "--exit-idle-time=-1",
             "--disallow-exit", "--use-pid-file=no", "-n",
             "--load=module-null-sink sink_name=capture rate=48000 channels=1 norewinds=1",
             f"--load=module-native-protocol-unix auth-anonymous=1 socket={self.socket}"],
            env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.processes.append(server)
        deadline = time.monotonic() + 30
        while subprocess.run(["pactl", "info"], env=self.env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL).returncode != 0:
            if time.monotonic() > deadline or server.poll() is not None:
                raise RuntimeError("PulseAudio did not start")
            time.sleep(0.1)

    def __exit__(self, *exc):
        for process in reversed(self.processes):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


# ---- Watching the root window for the program's window ------------------------------

class MapWatcher:
    """An X connection that reports top-level windows being mapped."""

    SUBSTRUCTURE_NOTIFY_MASK = 1 << 19
    MAP_NOTIFY = 19

    def __init__(self, display):
        self.x = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        self.x.XConnectionNumber.argtypes = [ctypes.c_void_p]
        self.x.XPending.argtypes = [ctypes.c_void_p]
        self.x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        self.x.XFlush.argtypes = [ctypes.c_void_p]
        self.x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        deadline = time.monotonic() + 10
        while not (dpy := self.x.XOpenDisplay(display.encode())):
            if time.monotonic() > deadline:
                raise RuntimeError(f"cannot open display {display}")
            time.sleep(0.1)
        self.dpy = dpy
        root = self.x.XDefaultRootWindow(self.dpy)
        self.root = root
        self.x.XSelectInput(self.dpy, root, self.SUBSTRUCTURE_NOTIFY_MASK)
        self.x.XFlush(self.dpy)
        self.fd = self.x.XConnectionNumber(self.dpy)
        self.event = (ctypes.c_long * 24)()
        self.x.XInternAtom.restype = ctypes.c_ulong
        self.x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        self.x.XGetWindowProperty.argtypes = [
            ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long, ctypes.c_long,
            ctypes.c_int, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
            ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_ulong),
            ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_void_p)]
        self.x.XFree.argtypes = [ctypes.c_void_p]
        self.net_wm_pid = self.x.XInternAtom(self.dpy, b"_NET_WM_PID", 0)

    def window_pid(self, window):
        """The _NET_WM_PID of a window, or None."""
        actual_type = ctypes.c_ulong()
        actual_format = ctypes.c_int()
        count = ctypes.c_ulong()
        after = ctypes.c_ulong()
        data = ctypes.c_void_p()
        cardinal = 6  # XA_CARDINAL
        status = self.x.XGetWindowProperty(
            self.dpy, window, self.net_wm_pid, 0, 1, 0, cardinal,
            ctypes.byref(actual_type), ctypes.byref(actual_format), ctypes.byref(count),
            ctypes.byref(after), ctypes.byref(data))
        if status != 0 or not data.value:
            return None
        pid = None
        if actual_format.value == 32 and count.value == 1:
            pid = ctypes.cast(data, ctypes.POINTER(ctypes.c_long))[0]
        self.x.XFree(data)
        return pid

    def drain(self):
        while self.x.XPending(self.dpy):
            self.x.XNextEvent(self.dpy, self.event)

    def wait_for_map(self, pid, timeout):
        """Returns (monotonic time, window id) of the next mapped top-level
        window of process `pid` that is not override-redirect, or None on
        time-out."""
        deadline = time.monotonic() + timeout
        while True:
            while self.x.XPending(self.dpy):
                self.x.XNextEvent(self.dpy, self.event)
                now = time.monotonic()
                # XMapEvent: type, serial, send_event, display, event, window,
                # override_redirect; each in one 8-byte slot on x86-64.
                kind = self.event[0] & 0xFFFFFFFF
                override_redirect = self.event[6] & 0xFFFFFFFF
                window = self.event[5] & 0xFFFFFFFFFFFFFFFF
                if (kind == self.MAP_NOTIFY and not override_redirect
                        and self.window_pid(window) == pid):
                    return now, window
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                return None
            select.select([self.fd], [], [], remaining)

    def close(self):
        self.x.XCloseDisplay(self.dpy)


# ---- Reading a process's figures from /proc ------------------------------------------

def status_kb(pid, field):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return None


def cpu_ticks(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    # After the command name: state is field 3, utime 14 and stime 15.
    return int(fields[11]) + int(fields[12])


def threads_figures(pid):
    """(run time of all threads in ns, context switches of all threads)."""
    run_ns = 0
    switches = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                run_ns += int(f.read().split()[0])
            with open(f"/proc/{pid}/task/{task}/status") as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches:",
                                        "nonvoluntary_ctxt_switches:")):
                        switches += int(line.split()[1])
        except (FileNotFoundError, ProcessLookupError):
            pass
    return run_ns, switches


def switches_by_thread(pid):
    """Context switches per thread name."""
    counts = {}
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/comm") as f:
                name = f.read().strip()
            with open(f"/proc/{pid}/task/{task}/status") as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches:",
                                        "nonvoluntary_ctxt_switches:")):
                        counts[name] = counts.get(name, 0) + int(line.split()[1])
        except (FileNotFoundError, ProcessLookupError):
            pass
    return counts


def measure_period(pid, seconds):
    """Processor ticks, ms of thread run time, wake-ups, and the wake-ups of
    each thread that woke, over `seconds`."""
    ticks0 = cpu_ticks(pid)
    run0, switches0 = threads_figures(pid)
    by_thread0 = switches_by_thread(pid)
    time.sleep(seconds)
    ticks1 = cpu_ticks(pid)
    run1, switches1 = threads_figures(pid)
    by_thread1 = switches_by_thread(pid)
    woke = {name: n - by_thread0.get(name, 0) for name, n in by_thread1.items()
            if n - by_thread0.get(name, 0) > 0}
    return ticks1 - ticks0, (run1 - run0) / 1e6, switches1 - switches0, woke


# ---- One run of one program ----------------------------------------------------------

def write_settings(directory):
    with open(os.path.join(directory, "marlivox.cnf"), "w", encoding="utf-8",
              newline="") as f:
        for key, value in SETTINGS:
            f.write(f"{key:<9}{value}\r\n")


def xdotool(servers, *args):
    subprocess.run(["xdotool", *args], env=servers.env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def sink_peak(servers, seconds):
    """Largest absolute sample recorded from the null sink over `seconds`."""
    path = os.path.join(servers.dir, "tx.wav")
    recorder = subprocess.Popen(
        ["parec", "-d", "capture.monitor", "--format=s16le", "--rate=48000",
         "--channels=1", "--file-format=wav", path],
        env=servers.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(seconds)
    recorder.send_signal(signal.SIGTERM)
    recorder.wait(10)
    try:
        with wave.open(path, "rb") as w:
            samples = array.array("h", w.readframes(w.getnframes()))
    except (wave.Error, EOFError, FileNotFoundError):
        return 0
    return max((abs(s) for s in samples), default=0)


def run_once(servers, command, idle_s, transmit_s, keyer):
    result = {}
    workdir = tempfile.mkdtemp(prefix="run-", dir=servers.dir)
    if keyer:
        write_settings(workdir)
    watcher = MapWatcher(servers.display)
    watcher.drain()
    started = time.monotonic()
    process = subprocess.Popen(command, cwd=workdir, env=servers.env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        try:
            mapped = watcher.wait_for_map(process.pid, 60)
        finally:
            watcher.close()
        if mapped is None:
            raise RuntimeError(f"{command[0]}: no window within 60 s")
        result["startup_ms"] = (mapped[0] - started) * 1000
        window = str(mapped[1])
        root = str(watcher.root)

        time.sleep(2.0)  # let the first paint, fonts and sound set-up settle
        result["idle_rss_kb"] = status_kb(process.pid, "VmRSS")
        # Idle in front: the window has the input focus (both programs take it
        # when they open; made sure of here), so a text field's cursor blinks.
        xdotool(servers, "windowfocus", "--sync", window)
        time.sleep(0.5)
        ticks, run_ms, wakeups, woke = measure_period(process.pid, idle_s)
        result.update(front_ticks=ticks, front_run_ms=run_ms, front_wakeups=wakeups,
                      front_woke=woke)
        # Idle in the background: the focus on the root window, as when the
        # user works in another program.
        xdotool(servers, "windowfocus", root)
        time.sleep(0.5)
        ticks, run_ms, wakeups, woke = measure_period(process.pid, idle_s)
        result.update(back_ticks=ticks, back_run_ms=run_ms, back_wakeups=wakeups,
                      back_woke=woke)
        xdotool(servers, "windowfocus", "--sync", window)

        if keyer:
            xdotool(servers, "mousemove", "--window", window, *map(str, RUN_BUTTON),
                    "click", "1")
            time.sleep(0.5)
            if process.poll() is not None:
                raise RuntimeError("the keyer ended when Kör was clicked")
            ticks, run_ms, wakeups, woke = measure_period(process.pid, transmit_s)
            result.update(tx_ticks=ticks, tx_run_ms=run_ms, tx_wakeups=wakeups,
                          tx_woke=woke)
            result["tx_rss_kb"] = status_kb(process.pid, "VmRSS")
            result["tx_peak"] = sink_peak(servers, 1.0)
            result["tx_hwm_kb"] = status_kb(process.pid, "VmHWM")
            # Escape, pressed and released in the keyer's window, ends it. The
            # keyer looks at the keyboard around each dot only, so the key is
            # held longer than the longest stretch without a dot (the "0" and
            # its neighbours, about 1.5 s at 50 ms units).
            xdotool(servers, "windowfocus", "--sync", window)
            xdotool(servers, "keydown", "Escape")
            time.sleep(2.5)
            xdotool(servers, "keyup", "Escape")
            try:
                process.wait(10)
                result["escape_ended"] = True
            except subprocess.TimeoutExpired:
                result["escape_ended"] = False
        result["hwm_kb"] = status_kb(process.pid, "VmHWM") if process.poll() is None \
            else result.get("tx_hwm_kb")
    finally:
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
    return result


# ---- The report ----------------------------------------------------------------------

def median(runs, key):
    values = [r[key] for r in runs if r.get(key) is not None]
    return statistics.median(values) if values else None


def largest(runs, key):
    values = [r[key] for r in runs if r.get(key) is not None]
    return max(values) if values else None


def fmt(value, unit="", digits=0):
    if value is None:
        return "—"
    return f"{value:.{digits}f}{unit}"


def print_report(results, args):
    names = list(results)
    print(f"Runs: {args.runs} per program, interleaved; idle period {args.idle:g} s, "
          f"transmission period {args.transmit:g} s; clock tick {1000 / CLK_TCK:g} ms.")
    print(f"Machine: {os.cpu_count()} cores, load average at the end "
          f"{os.getloadavg()[0]:.2f}.")
    print()
    print("| Figure | " + " | ".join(names) + " |")
    print("|---|" + "---|" * len(names))
    rows = [
        ("Start to window mapped, median", lambda r: fmt(median(r, "startup_ms"), " ms")),
        ("Resident memory idle (VmRSS), median",
         lambda r: fmt(median(r, "idle_rss_kb") and median(r, "idle_rss_kb") / 1024, " MiB", 1)),
        (f"Processor time over {args.idle:g} s idle in front (focused), largest",
         lambda r: fmt(largest(r, "front_ticks"), " ticks") + " ("
         + fmt(largest(r, "front_run_ms"), " ms", 2) + ")"),
        (f"Thread wake-ups over {args.idle:g} s idle in front, largest",
         lambda r: fmt(largest(r, "front_wakeups"))),
        (f"Processor time over {args.idle:g} s idle in the background, largest",
         lambda r: fmt(largest(r, "back_ticks"), " ticks") + " ("
         + fmt(largest(r, "back_run_ms"), " ms", 2) + ")"),
        (f"Thread wake-ups over {args.idle:g} s idle in the background, largest",
         lambda r: fmt(largest(r, "back_wakeups"))),
        (f"Processor time over {args.transmit:g} s of a Run, median",
         lambda r: fmt(median(r, "tx_ticks"), " ticks") + " ("
         + fmt(median(r, "tx_run_ms"), " ms", 1) + ")" if median(r, "tx_ticks") is not None
         else "—"),
        (f"Thread wake-ups over {args.transmit:g} s of a Run, median",
         lambda r: fmt(median(r, "tx_wakeups"))),
        ("Resident memory during a Run (VmRSS), median",
         lambda r: fmt(median(r, "tx_rss_kb") and median(r, "tx_rss_kb") / 1024, " MiB", 1)),
        ("Peak resident memory (VmHWM), median",
         lambda r: fmt(median(r, "hwm_kb") and median(r, "hwm_kb") / 1024, " MiB", 1)),
    ]
    for title, cell in rows:
        print(f"| {title} | " + " | ".join(cell(results[n]) for n in names) + " |")
    print()
    for name in names:
        print(f"{name}, per run:")
        for i, r in enumerate(results[name], 1):
            print(f"  {i}: " + ", ".join(
                f"{k}={v:.1f}" if isinstance(v, float) else f"{k}={v}"
                for k, v in r.items()))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("binary", help="the marlivox binary")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--idle", type=float, default=10.0, help="idle period, s")
    parser.add_argument("--transmit", type=float, default=10.0,
                        help="measured period of the transmission, s")
    args = parser.parse_args()

    require_tools()
    programs = {"marlivox": ([os.path.abspath(args.binary)], True)}
    if ensure_other_program():
        programs[OTHER_PACKAGE] = ([OTHER_BINARY], False)
    results = {name: [] for name in programs}
    with Servers() as servers:
        for run in range(args.runs):
            for name, (command, keyer) in programs.items():
                log(f"run {run + 1}/{args.runs}: {name}")
                r = run_once(servers, command, args.idle, args.transmit, keyer)
                log("  " + ", ".join(f"{k}={v:.1f}" if isinstance(v, float)
                                      else f"{k}={v}" for k, v in r.items()))
                results[name].append(r)
    print_report(results, args)
    problems = [f"{name} run {i}: tone not heard during the Run"
                for name, (_, keyer) in programs.items() if keyer
                for i, r in enumerate(results[name], 1) if r.get("tx_peak", 0) < 1000]
    problems += [f"marlivox run {i}: Escape did not end it"
                 for i, r in enumerate(results["marlivox"], 1)
                 if not r.get("escape_ended")]
    for p in problems:
        log("WARNING:", p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

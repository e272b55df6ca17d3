#!/usr/bin/python3
"""Program-level figures for Pawlinex. Prints numbers; asserts nothing.

  bench/program_figures.py [--program build/program/pawlinex] [--seconds 60] [--rounds 3]
                           [--runs 5] [--only monitor,startup,latency]

monitor  The whole program under Xvfb watching a looping 640x480 15 fps MJPEG file (made here
         with ffmpeg) with TIMER 1: CPU seconds per minute and peak resident memory (VmHWM),
         next to the CPU that `ffmpeg -stream_loop -1 -re -i f.avi -t 60 -f null -` spends
         decoding the same minute. Alarms are kept out (CKSUM 9999): this is the idle cost.
         Measured in rounds, each the program's minute and then ffmpeg's right after it.
startup  From the program's start to (a) its window on the screen and (b) the first camera
         frame painted in the capture window, on the built-in demo camera. Read from Xvfb's
         memory-mapped frame buffer every 2 ms, so no marker in the program is needed.
latency  From the moment the frame in which an object appears leaves a local MJPEG camera
         (an HTTP server here) to the moment a local SMTP server has accepted the alarm mail.
         TIMER 1, MOVE off, one trigger with a 640x480 picture.

Every server, Xvfb and the program run in their own process groups, on free ports and a free
display, with a temporary program folder; everything is stopped at the end.
"""
import argparse
import mmap
import os
import pathlib
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
CLK_TCK = os.sysconf("SC_CLK_TCK")
SCREEN_W, SCREEN_H = 1280, 1024


def log(*args):
    print(*args, file=sys.stderr, flush=True)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def stop_group(proc, sig=signal.SIGTERM, wait=10):
    """Ends a process started with start_new_session=True, with its whole group."""
    if proc is None or proc.poll() is not None:
        return
    try:
        os.killpg(proc.pid, sig)
        proc.wait(timeout=wait)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()
    except ProcessLookupError:
        pass


def cpu_seconds(pid):
    """User + system CPU of all threads of a live process."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK


def vm_hwm_mb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return float("nan")


class Xvfb:
    """A private X server whose screen is a memory-mapped XWD file we can read at any moment."""

    def __init__(self, tmp):
        self.fbdir = pathlib.Path(tempfile.mkdtemp(prefix="fb", dir=tmp))
        r, w = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-screen", "0", f"{SCREEN_W}x{SCREEN_H}x24",
             "-fbdir", str(self.fbdir), "-br", "-nolisten", "tcp", "-noreset"],
            pass_fds=(w,), start_new_session=True,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        with os.fdopen(r) as rf:
            self.display = ":" + rf.readline().strip()
        f = open(self.fbdir / "Xvfb_screen0", "rb")
        self.map = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
        f.close()
        header = struct.unpack(">25I", self.map[:100])
        header_size, ncolors = header[0], header[19]
        self.bits_per_pixel, self.bytes_per_line = header[11], header[12]
        self.width, self.height = header[4], header[5]
        self.offset = header_size + 12 * ncolors
        assert self.bits_per_pixel == 32, self.bits_per_pixel

    def pixel(self, x, y):
        o = self.offset + y * self.bytes_per_line + 4 * x
        return self.map[o:o + 3]

    # The X server draws the pointer in the middle of the screen as soon as a client connects;
    # it must not count as a window or a picture.
    POINTER = (SCREEN_W // 2 - 24, SCREEN_H // 2 - 24, SCREEN_W // 2 + 24, SCREEN_H // 2 + 32)

    def any_lit(self, x0, y0, x1, y1, step=4, level=24):
        """True when any sampled pixel of the rectangle, outside the pointer, is brighter than
        `level`."""
        px0, py0, px1, py1 = self.POINTER
        for y in range(max(0, y0), min(self.height, y1), step):
            row = self.offset + y * self.bytes_per_line
            line = self.map[row + 4 * max(0, x0):row + 4 * min(self.width, x1)]
            for i in range(0, len(line), 4 * step):
                if line[i] > level or line[i + 1] > level or line[i + 2] > level:
                    x = max(0, x0) + i // 4
                    if px0 <= x < px1 and py0 <= y < py1:
                        continue
                    return True
        return False

    def lit_box(self, level=24):
        """Bounding box of everything that is not the black root window."""
        xs, ys = [], []
        for y in range(0, self.height, 2):
            row = self.offset + y * self.bytes_per_line
            line = self.map[row:row + self.bytes_per_line]
            for x in range(0, self.width, 2):
                i = 4 * x
                px0, py0, px1, py1 = self.POINTER
                if px0 <= x < px1 and py0 <= y < py1:
                    continue
                if line[i] > level or line[i + 1] > level or line[i + 2] > level:
                    xs.append(x)
                    ys.append(y)
        if not xs:
            return None
        return min(xs), min(ys), max(xs), max(ys)

    def stop(self):
        self.map.close()
        stop_group(self.proc)


def make_home(tmp, name, ini):
    home = pathlib.Path(tmp) / name
    for d in ("img", "avi", "help"):
        (home / d).mkdir(parents=True, exist_ok=True)
    if ini is not None:
        (home / "pawlinex.ini").write_bytes(ini.replace("\n", "\r\n").encode("ascii"))
    return home


def start_program(program, home, display, sources, log_path):
    env = dict(os.environ)
    for k in ("PAWLINEX_VIDEO_SOURCES", "PAWLINEX_AUDIO_SOURCE", "WAYLAND_DISPLAY"):
        env.pop(k, None)
    env.update({
        "DISPLAY": display,
        "QT_QPA_PLATFORM": "xcb",
        "PAWLINEX_HOME": str(home),
        "PAWLINEX_VIDEO_SOURCES": sources,
        "SDL_AUDIODRIVER": "dummy",
        "PAWLINEX_MEDIA_DIR": str(home),
    })
    out = open(log_path, "wb")
    proc = subprocess.Popen([str(program)], env=env, start_new_session=True,
                            stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
    out.close()
    return proc


def close_program(proc):
    """The program closes on SIGTERM like on its close box; fall back to killing the group."""
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout=15)
        except subprocess.TimeoutExpired:
            log("program did not close on SIGTERM; killed")
    stop_group(proc, signal.SIGKILL)


def fmt_stats(values, unit="s"):
    if not values:
        return "no samples"
    return (f"median {statistics.median(values):.3f} {unit} (min {min(values):.3f}, "
            f"max {max(values):.3f}, n={len(values)})")


# --- monitoring cost ------------------------------------------------------------------------

def figure_monitor(args, tmp):
    clip = pathlib.Path(tmp) / "f.avi"
    subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                    "testsrc2=size=640x480:rate=15", "-t", "20", "-c:v", "mjpeg", "-q:v", "4",
                    "-pix_fmt", "yuvj420p", "-an", str(clip)], check=True)
    seconds = args.seconds

    def decoding_floor():
        ff = subprocess.Popen(["ffmpeg", "-nostdin", "-loglevel", "error", "-stream_loop", "-1",
                               "-re", "-i", str(clip), "-t", str(seconds), "-f", "null", "-"],
                              start_new_session=True)
        _, status, usage = os.wait4(ff.pid, 0)
        ff.returncode = os.waitstatus_to_exitcode(status)
        return (usage.ru_utime + usage.ru_stime) * 60 / seconds

    # The machine's load drifts: each round measures the program and then the decoding floor
    # right after it, and the ratio is taken round by round.
    rounds = []
    xvfb = Xvfb(tmp)
    try:
        home = make_home(tmp, "monitor", "[COM]\nTIMER=1\nCKSUM=9999\nACCURACY=1\nNOIZE=0\n")
        proc = start_program(args.program, home, xvfb.display, str(clip),
                             pathlib.Path(tmp) / "monitor.log")
        time.sleep(args.warmup)
        for _ in range(args.rounds):
            if proc.poll() is not None:
                raise RuntimeError(f"program ended early ({proc.returncode}); see its log")
            c0, x0, t0 = cpu_seconds(proc.pid), cpu_seconds(xvfb.proc.pid), time.monotonic()
            time.sleep(seconds)
            c1, x1, t1 = cpu_seconds(proc.pid), cpu_seconds(xvfb.proc.pid), time.monotonic()
            # The program keeps running while ffmpeg measures; it is not counted then.
            rounds.append(((c1 - c0) * 60 / (t1 - t0), decoding_floor(),
                           (x1 - x0) * 60 / (t1 - t0)))
        hwm = vm_hwm_mb(proc.pid)
        close_program(proc)
    finally:
        xvfb.stop()
    for n, (prog, floor, xserver) in enumerate(rounds, 1):
        print(f"monitor: round {n}: program {prog:.2f} CPU s/min, ffmpeg decoding alone "
              f"{floor:.2f}, ratio {prog / floor:.2f}x; Xvfb {xserver:.2f}")
    ratios = [prog / floor for prog, floor, _ in rounds]
    print(f"monitor: program {statistics.median(r[0] for r in rounds):.2f} CPU s/min (median of "
          f"{len(rounds)} rounds of {seconds:.0f} s, TIMER 1, 640x480 15 fps MJPEG file, "
          f"{args.warmup:.0f} s warm-up); ffmpeg decoding the same file alone "
          f"{statistics.median(r[1] for r in rounds):.2f} CPU s/min")
    print(f"monitor: ratio median {statistics.median(ratios):.2f}x (min {min(ratios):.2f}, "
          f"max {max(ratios):.2f}; target <= 1.5x)")
    print(f"monitor: peak resident memory {hwm:.1f} MB (target < 150 MB)")
    print(f"monitor: Xvfb drawing the preview {statistics.median(r[2] for r in rounds):.2f} CPU "
          f"s/min (not counted above)")


# --- start-up -------------------------------------------------------------------------------

def figure_startup(args, tmp):
    windows, frames = [], []
    xvfb = Xvfb(tmp)
    try:
        geometry = None
        for run in range(args.runs):
            home = make_home(tmp, f"startup{run}", None)
            t0 = time.monotonic()
            proc = start_program(args.program, home, xvfb.display, "demo",
                                 pathlib.Path(tmp) / f"startup{run}.log")
            t_window = t_frame = None
            deadline = t0 + 20
            while time.monotonic() < deadline and proc.poll() is None:
                now = time.monotonic()
                if t_window is None:
                    if xvfb.any_lit(0, 0, SCREEN_W, SCREEN_H, step=16):
                        t_window = now
                elif geometry is not None and xvfb.any_lit(*geometry, step=3):
                    t_frame = now
                    break
                elif geometry is None and now - t_window > 3:
                    break
                time.sleep(0.002)
            if geometry is None and t_window is not None:
                # First run: find where the capture window sits. The demo room is never black
                # while everything around the picture is painted already, so wait for a steady
                # picture, then take the middle of the window between the side panels.
                time.sleep(2)
                box = xvfb.lit_box()
                x0, y0, x1, y1 = box
                w = x1 - x0
                # Left panel 133 px, right panel 146 px; probe the left part of the picture
                # between them, away from the pointer in the middle of the screen.
                cx0 = x0 + 133 + 20
                cx1 = x0 + 133 + (w - 133 - 146) // 4
                cy0 = y0 + (y1 - y0) // 3
                cy1 = y0 + 2 * (y1 - y0) // 3
                geometry = (cx0, cy0, cx1, cy1)
                log(f"startup: window at {box}, probing the capture area {geometry}")
                close_program(proc)
                # This run only found the geometry (and warmed the caches); it does not count.
                continue
            close_program(proc)
            if t_window is not None:
                windows.append(t_window - t0)
            if t_frame is not None:
                frames.append(t_frame - t0)
            # Let the screen go black again before the next run.
            end = time.monotonic() + 5
            while time.monotonic() < end and xvfb.any_lit(0, 0, SCREEN_W, SCREEN_H, step=16):
                time.sleep(0.01)
    finally:
        xvfb.stop()
    print(f"startup: process start to window on screen: {fmt_stats(windows)}")
    print(f"startup: process start to first demo frame in the capture window: "
          f"{fmt_stats(frames)} (target < 1 s)")


# --- alarm latency --------------------------------------------------------------------------

class MjpegCamera:
    """An HTTP MJPEG camera at 15 fps whose picture the bench switches at known moments."""

    def __init__(self, empty, full, fps=15):
        self.frames = {"empty": empty, "full": full}
        self.show = "empty"
        self.onsets = []  # wall-clock times at which the first frame of "full" went out
        self.fps = fps
        self.clients = 0
        self._pending_onset = False
        self._lock = threading.Lock()
        self.port = free_port()
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", self.port))
        self.sock.listen(4)
        self.stopping = False
        threading.Thread(target=self._accept, daemon=True).start()

    def url(self):
        return f"http://127.0.0.1:{self.port}/video.mjpg"

    def set(self, name):
        with self._lock:
            if name == "full" and self.show != "full":
                self._pending_onset = True
            self.show = name

    def _accept(self):
        while not self.stopping:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def _serve(self, conn):
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        try:
            conn.recv(4096)
            conn.sendall(b"HTTP/1.0 200 OK\r\nCache-Control: no-cache\r\n"
                         b"Content-Type: multipart/x-mixed-replace;boundary=frame\r\n\r\n")
            self.clients += 1
            period = 1.0 / self.fps
            next_t = time.monotonic()
            while not self.stopping:
                with self._lock:
                    jpeg = self.frames[self.show]
                    onset = self._pending_onset and self.show == "full"
                    self._pending_onset = False if onset else self._pending_onset
                part = (b"--frame\r\nContent-Type: image/jpeg\r\nContent-Length: "
                        + str(len(jpeg)).encode() + b"\r\n\r\n" + jpeg + b"\r\n")
                conn.sendall(part)
                if onset:
                    self.onsets.append(time.time())
                next_t += period
                time.sleep(max(0.0, next_t - time.monotonic()))
        except OSError:
            pass
        finally:
            conn.close()

    def stop(self):
        self.stopping = True
        self.sock.close()


class SmtpSink:
    def __init__(self):
        from aiosmtpd.controller import Controller

        self.accepted = []  # wall-clock times at which DATA was answered with 250
        sink = self

        class Handler:
            async def handle_DATA(self, server, session, envelope):
                sink.accepted.append(time.time())
                return "250 OK"

        self.port = free_port()
        self.controller = Controller(Handler(), hostname="127.0.0.1", port=self.port)
        self.controller.start()

    def stop(self):
        self.controller.stop()


def jpeg_of(tmp, name, graph):
    path = pathlib.Path(tmp) / f"{name}.jpg"
    subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i", graph,
                    "-frames:v", "1", "-q:v", "3", str(path)], check=True)
    return path.read_bytes()


def jpeg_size(data):
    """Width and height from a JPEG's start-of-frame marker."""
    i = 2
    while i + 9 < len(data):
        if data[i] != 0xFF:
            i += 1
            continue
        marker = data[i + 1]
        if marker in (0xC0, 0xC1, 0xC2):
            h, w = struct.unpack(">HH", data[i + 5:i + 9])
            return w, h
        i += 2 + struct.unpack(">H", data[i + 2:i + 4])[0]
    return 0, 0


def figure_latency(args, tmp):
    room = "testsrc2=size=640x480:rate=1,trim=start_frame=0:end_frame=1"
    empty = jpeg_of(tmp, "empty", room)
    full = jpeg_of(tmp, "full", room + ",drawbox=x=240:y=100:w=160:h=300:color=black:t=fill")
    camera = MjpegCamera(empty, full)
    smtp = SmtpSink()
    xvfb = Xvfb(tmp)
    proc = None
    home = None
    latencies = []
    try:
        ini = ("[COM]\nTIMER=1\nCKSUM=20\nACCURACY=10\nNOIZE=0\n"
               "[MAIL]\nMAIL=camera@example.com\nSMTP=127.0.0.1\t%d\nATT=0\n"
               "[0TRG]\nENABLED=True\nMAILTO=owner@example.com\nSUBJECT=alarm\nBODY=somebody\n"
               "GRP=1\nMINSIZE=0\nARC=50\n"
               "[FTP]\nMOVE=False\nFTP=False\n") % smtp.port
        home = make_home(tmp, "latency", ini)
        proc = start_program(args.program, home, xvfb.display, camera.url(),
                             pathlib.Path(tmp) / "latency.log")
        deadline = time.monotonic() + 20
        while camera.clients == 0 and time.monotonic() < deadline and proc.poll() is None:
            time.sleep(0.05)
        if camera.clients == 0:
            raise RuntimeError("the program never opened the camera; see its log")
        time.sleep(4)  # steady empty picture, the reference frame taken
        for n in range(args.runs):
            before = len(smtp.accepted)
            camera.set("full")
            end = time.monotonic() + 10
            while len(smtp.accepted) == before and time.monotonic() < end:
                time.sleep(0.005)
            if len(smtp.accepted) > before and len(camera.onsets) > n:
                latencies.append(smtp.accepted[before] - camera.onsets[n])
            else:
                log(f"latency: no mail within 10 s of appearance {n + 1}")
            time.sleep(2)
            # The object leaving is an alarm as well; wait for its mail before the next round.
            before = len(smtp.accepted)
            camera.set("empty")
            end = time.monotonic() + 10
            while len(smtp.accepted) == before and time.monotonic() < end:
                time.sleep(0.01)
            time.sleep(3)
    finally:
        if proc is not None:
            close_program(proc)
        xvfb.stop()
        smtp.stop()
        camera.stop()
    pictures = sorted((home / "img").glob("*_ALERT.jpg")) if home is not None else []
    sizes = sorted({jpeg_size(p.read_bytes()) for p in pictures})
    print(f"latency: {len(smtp.accepted)} mails accepted, {len(pictures)} alarm pictures of "
          f"{', '.join(f'{w}x{h}' for w, h in sizes) or 'no size'}")
    print(f"latency: object appears in the camera picture -> SMTP server accepted the alarm "
          f"mail (TIMER 1, one trigger, 640x480 picture): {fmt_stats(latencies)} "
          f"(target <= 0.1 s tick + 0.5 s = 0.6 s)")


def main():
    p = argparse.ArgumentParser(description=__doc__,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--program", type=pathlib.Path, default=ROOT / "build" / "program" / "pawlinex")
    p.add_argument("--seconds", type=float, default=60)
    p.add_argument("--warmup", type=float, default=5)
    p.add_argument("--runs", type=int, default=5)
    p.add_argument("--rounds", type=int, default=3, help="monitoring rounds of --seconds each")
    p.add_argument("--only", default="monitor,startup,latency")
    args = p.parse_args()
    args.program = args.program.resolve()
    if not os.access(args.program, os.X_OK):
        sys.exit(f"no program at {args.program}; build first or pass --program")
    print(f"program: {args.program}")
    print(f"machine: {os.cpu_count()} CPUs, load average {os.getloadavg()[0]:.2f} at start")
    figures = {"monitor": figure_monitor, "startup": figure_startup, "latency": figure_latency}
    with tempfile.TemporaryDirectory(prefix="pawlinex-figures-") as tmp:
        for name in args.only.split(","):
            try:
                figures[name.strip()](args, tmp)
            except Exception as e:  # one figure failing must not hide the others
                print(f"{name}: not measured: {e}")
            sys.stdout.flush()


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Loopback benchmarks of zeb40-flash against curl and atftp, with tftpd-hpa as the server.

Parts, in order:
  wall     32 MiB random image, uploaded A B C, B C A, C A B, ... (warm-up round, then --rounds
           rounds)
           at block size 1500 and 512; every stored file is compared with the image. Reports the
           median wall time per client and the median of the paired ratios ours / theirs.
  memory   peak resident set of zeb40-flash for a 1 MiB and a 256 MiB image (/usr/bin/time -v).
  cpu      instructions per data block under callgrind for a 4 MiB image (and a 1 MiB one, to
           take the start-up cost out), ours beside curl and atftp; ours' top functions.
  syscalls system calls per data block (strace -c), when strace is there.
  window   the window's upgrade run (bench/window_harness.cpp) against zeb40-flash, both to
           zeb40-sim, in alternating rounds.
  dup      2,000,000 bytes at block size 512 to zeb40-sim --dup 0 and --dup 0.01, in alternating
           rounds: time and data packets per block (the sim counts the data packets it got).
  loss     20 seeded images of 64 to 512 KiB through a lossy relay (bench/lossy_relay.py, 3 % of
           the datagrams dropped each way) in front of tftpd-hpa, by every client: each stored
           file compared; intact, failure reported, false success, time.
  reack    8 seeded images of 64 to 256 KiB through the same lossy relay (3 % each way) in front
           of zeb40-sim --reack timer --retransmit 5000 --jitter 1000, a device that takes no
           notice of a block it has and acknowledges again only on its own timer: every client
           with its defaults; intact, failure reported, false success, time.
  slow     zeb40-sim --delay 1500 and --delay 2500 (every answer that late), 40 blocks of 1500:
           the data packets per block the device got, and the time.
  fleet    20 devices of one zeb40-sim on 127.0.0.2 to 127.0.0.21 (--delay 2), an 8 MiB image:
           one device alone, all 20 in one run of zeb40-flash, and the 20 one after another
           (--jobs 1); and how long Ctrl-C takes to end a run of 20, mid-transfer and waiting.

--only PART (window, dup, loss, reack, slow or fleet) runs just that part and merges its section into an
existing results.md.

Results go to bench/results.md and to standard output. Only the Python standard library is used.
The machine is shared: wall times are noisy, hence the pairing; instruction counts are not.
"""

import argparse
import collections
import concurrent.futures
import datetime
import filecmp
import os
import random
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

from lossy_relay import LossyRelay

ROOT = Path(__file__).resolve().parent.parent
BIN = ROOT / "build" / "default" / "bin"
FLASH = BIN / "zeb40-flash"
TFTPD = "/usr/sbin/in.tftpd"
GNU_TIME = "/usr/bin/time"
MIB = 1024 * 1024
BLOCK_SIZES = (1500, 512)
CLIENTS = ("zeb40-flash", "curl", "atftp")
OURS = CLIENTS[0]
RUN_LIMIT_S = 180  # one upload; far above any healthy run, only there so that nothing hangs

load_samples = []  # (label, 1-minute load average)


def log(text):
    print(text, flush=True)


def load_average():
    with open("/proc/loadavg") as f:
        return float(f.read().split()[0])


def sample_load(label):
    load_samples.append((label, load_average()))


def cpu_model():
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return "unknown"


def make_image(path, size):
    with open(path, "wb") as f:
        left = size
        while left > 0:
            chunk = min(left, 4 * MIB)
            f.write(os.urandom(chunk))
            left -= chunk


def data_blocks(size, block):
    # The last block is shorter than a full one, empty when the size is a multiple of the block.
    return size // block + 1


class BenchError(Exception):
    pass


class Server:
    """tftpd-hpa in the foreground on a free loopback port, serving (and creating in) folder."""

    def __init__(self, folder):
        self.folder = folder
        self.process = None
        self.port = None

    @staticmethod
    def free_port():
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.bind(("127.0.0.1", 0))
            return s.getsockname()[1]

    def start(self):
        # The port is free when picked; another program may take it before the server binds it,
        # in which case the server ends at once and another port is tried.
        for _ in range(5):
            self.port = self.free_port()
            self.process = subprocess.Popen(
                [TFTPD, "-L", "-a", f"127.0.0.1:{self.port}", "-c", "-s", str(self.folder),
                 "-u", "root"],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(0.3)
            if self.process.poll() is None:
                return
        raise BenchError("tftpd-hpa did not start")

    def stop(self):
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None


def run_measured(argv, stdout=subprocess.DEVNULL, limit=RUN_LIMIT_S):
    """Runs argv; returns (exit code, wall s, (user s, system s) of CPU, stderr text). A run that
    lasts longer than limit seconds is killed (exit code -9)."""
    with tempfile.TemporaryFile() as err:
        start = time.perf_counter()
        process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=stdout, stderr=err)
        timer = threading.Timer(limit, process.kill)
        timer.start()
        try:
            _, status, usage = os.wait4(process.pid, 0)
        finally:
            timer.cancel()
        wall = time.perf_counter() - start
        process.returncode = os.waitstatus_to_exitcode(status)
        err.seek(0)
        text = err.read().decode(errors="replace")
    return process.returncode, wall, (usage.ru_utime, usage.ru_stime), text


def client_argv(client, port, block, image, remote):
    if client == OURS:
        return [str(FLASH), "--quiet", "--port", str(port), "--remote", remote, "--blksize",
                str(block), "127.0.0.1", str(image)]
    if client == "curl":
        return ["curl", "-s", "-T", str(image), "--tftp-blksize", str(block),
                f"tftp://127.0.0.1:{port}/{remote}"]
    if client == "atftp":
        return ["atftp", "--option", f"blksize {block}", "-p", "-l", str(image), "-r", remote,
                "127.0.0.1", str(port)]
    raise ValueError(client)


def check_stored(image, stored):
    """The stored file must equal the image byte for byte; it is removed afterwards."""
    # The server's child may still be closing the file when the client has ended.
    want = image.stat().st_size
    for _ in range(40):
        if stored.exists() and stored.stat().st_size == want:
            break
        time.sleep(0.05)
    if not stored.exists():
        raise BenchError(f"{stored.name}: not stored")
    same = filecmp.cmp(image, stored, shallow=False)
    stored.unlink()
    if not same:
        raise BenchError(f"{stored.name}: stored file differs from the image")


def upload(client, server, block, image, remote, wrap=None):
    argv = client_argv(client, server.port, block, image, remote)
    if wrap:
        argv = wrap + argv
    code, wall, cpu, err = run_measured(argv)
    if code != 0:
        raise BenchError(f"{client} exited {code} ({' '.join(argv)}): {err.strip()[:500]}")
    check_stored(image, server.folder / remote)
    return wall, cpu, err


def median_or_none(values):
    return statistics.median(values) if values else None


# --- wall time ------------------------------------------------------------------------------


def bench_wall(server, work, rounds, image_mib):
    image = work / f"image-{image_mib}M.bin"
    make_image(image, image_mib * MIB)
    results = {}
    for block in BLOCK_SIZES:
        walls = {c: [] for c in CLIENTS}
        cpus = {c: [] for c in CLIENTS}
        users = {c: [] for c in CLIENTS}
        for r in range(rounds + 1):  # round 0 warms the caches and is not counted
            # The order turns by one each round (A B C, B C A, C A B, ...), so that no client
            # always runs first or always follows the same other client.
            order = CLIENTS[r % len(CLIENTS):] + CLIENTS[:r % len(CLIENTS)]
            for client in order:
                wall, cpu, _ = upload(client, server, block, image, f"{client}-{block}-{r}.bin")
                if r > 0:
                    walls[client].append(wall)
                    cpus[client].append(cpu[0] + cpu[1])
                    users[client].append(cpu[0])
            sample_load(f"wall {block} round {r}")
        ratios = {c: [walls[OURS][i] / walls[c][i] for i in range(rounds)]
                  for c in CLIENTS if c != OURS}
        cpu_ratios = {c: [cpus[OURS][i] / cpus[c][i] for i in range(rounds)]
                      for c in CLIENTS if c != OURS}
        results[block] = {
            "wall": {c: statistics.median(walls[c]) for c in CLIENTS},
            "cpu": {c: statistics.median(cpus[c]) for c in CLIENTS},
            "user": {c: statistics.median(users[c]) for c in CLIENTS},
            "ratio": {c: statistics.median(v) for c, v in ratios.items()},
            "ratio_range": {c: (min(v), max(v)) for c, v in ratios.items()},
            "cpu_ratio": {c: statistics.median(v) for c, v in cpu_ratios.items()},
        }
        line = ", ".join(f"{c} {results[block]['wall'][c]:.3f} s" for c in CLIENTS)
        log(f"wall {block}: median {line}; paired ratio ours/curl "
            f"{results[block]['ratio']['curl']:.3f}, ours/atftp {results[block]['ratio']['atftp']:.3f}")
    image.unlink()
    return results


# --- peak memory ----------------------------------------------------------------------------


def bench_memory(server, work):
    results = {}
    for mib in (1, 256):
        image = work / f"image-{mib}M.bin"
        make_image(image, mib * MIB)
        try:
            _, _, err = upload(OURS, server, 1500, image, f"memory-{mib}.bin", wrap=[GNU_TIME, "-v"])
        finally:
            image.unlink()
        found = re.search(r"Maximum resident set size \(kbytes\): (\d+)", err)
        if not found:
            raise BenchError("no resident set size in the output of /usr/bin/time -v")
        results[mib] = int(found.group(1))
        log(f"memory {mib} MiB: peak RSS {results[mib]} KiB")
    return results


# --- instructions per block -----------------------------------------------------------------

# Frames every profile has above main (loader, libc start) or that are main itself.
STARTUP_FRAME = re.compile(r"\(below main\)|libc_start|ld-linux|:main$|:main \[|^\?\?\?:0x")


def short_function(entry):
    """'file:function(args) [object]' -> 'function', with the file relative to the tree."""
    entry = re.sub(r" \[[^\]]*\]$", "", entry)
    file, _, function = entry.partition(":")
    # Drop the argument list of C++ names, keep the name (and its ABI tag).
    cut = function.find("(", 1)
    if cut > 0:
        function = function[:cut]
    file = file.replace(str(ROOT) + "/", "")
    return f"{function} ({Path(file).name})" if file not in ("???", "") else function


def callgrind_profile(server, work, client, block, image, tag):
    out = work / f"callgrind.{tag}"
    wrap = ["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}"]
    upload(client, server, block, image, f"cg-{tag}.bin", wrap=wrap)
    total = None
    with open(out) as f:
        for line in f:
            if line.startswith("summary:") or line.startswith("totals:"):
                total = int(line.split()[1])
                break
    if total is None:
        raise BenchError(f"no total in {out}")
    return total, out


def top_functions(profile, count, inclusive):
    text = subprocess.run(
        ["callgrind_annotate", f"--inclusive={'yes' if inclusive else 'no'}", "--threshold=100",
         str(profile)], capture_output=True, text=True, check=True).stdout
    rows = []
    for line in text.splitlines():
        found = re.match(r"^\s*([\d,]+)\s+\(\s*[\d.]+%\)\s+(.*)$", line)
        if not found or found.group(2).startswith("PROGRAM TOTALS"):
            continue
        entry = found.group(2)
        if inclusive and STARTUP_FRAME.search(entry):
            continue
        name = short_function(entry)
        # Inlined code is listed once per source file it came from: keep the largest entry.
        if any(name == seen for _, seen in rows):
            continue
        rows.append((int(found.group(1).replace(",", "")), name))
        if len(rows) == count:
            break
    return rows


def bench_cpu(server, work):
    images = {}
    for mib in (1, 4):
        images[mib] = work / f"image-{mib}M.bin"
        make_image(images[mib], mib * MIB)
    results = {}
    try:
        for block in BLOCK_SIZES:
            for client in CLIENTS:
                tag = f"{client}-{block}"
                big, profile = callgrind_profile(server, work, client, block, images[4], tag + "-4")
                small, _ = callgrind_profile(server, work, client, block, images[1], tag + "-1")
                blocks_big = data_blocks(4 * MIB, block)
                blocks_small = data_blocks(1 * MIB, block)
                entry = {
                    "total": big,
                    "blocks": blocks_big,
                    "per_block": big / blocks_big,
                    "marginal": (big - small) / (blocks_big - blocks_small),
                }
                if client == OURS:
                    entry["top_inclusive"] = top_functions(profile, 16, True)
                    entry["top_self"] = top_functions(profile, 10, False)
                results[(client, block)] = entry
                log(f"cpu {block} {client}: {big} Ir, {entry['per_block']:.0f} per block, "
                    f"{entry['marginal']:.0f} per extra block")
            sample_load(f"cpu {block}")
    finally:
        for image in images.values():
            image.unlink(missing_ok=True)
    return results


# --- system calls per block ----------------------------------------------------------------


def parse_strace_summary(path):
    calls = {}
    for line in Path(path).read_text().splitlines():
        parts = line.split()
        if len(parts) in (5, 6) and parts[3].isdigit() and parts[-1] != "total":
            calls[parts[-1]] = int(parts[3])
    return calls


def bench_syscalls(server, work):
    """System calls per data block (strace -c), 4 MiB image: on loopback each costs far more
    than the instructions around it, so this is the other half of the CPU picture."""
    if shutil.which("strace") is None:
        log("syscalls: skipped, strace missing")
        return None
    image = work / "image-4M.bin"
    make_image(image, 4 * MIB)
    results = {}
    try:
        for block in BLOCK_SIZES:
            blocks = data_blocks(4 * MIB, block)
            for client in CLIENTS:
                out = work / f"strace.{client}-{block}"
                upload(client, server, block, image, f"st-{client}-{block}.bin",
                       wrap=["strace", "-f", "-c", "-o", str(out)])
                calls = parse_strace_summary(out)
                hot = {k: v / blocks for k, v in calls.items() if v / blocks >= 0.05}
                results[(client, block)] = {
                    "per_block": sum(calls.values()) / blocks,
                    "hot": dict(sorted(hot.items(), key=lambda kv: -kv[1])),
                }
                log(f"syscalls {block} {client}: {results[(client, block)]['per_block']:.2f} per block")
    finally:
        image.unlink(missing_ok=True)
    return results


# --- window overhead ------------------------------------------------------------------------

SIM = BIN / "zeb40-sim"
WINDOW_HARNESS = BIN / "zeb40-window-harness"
# The window always uploads to "/", which tftpd-hpa refuses as a folder; zeb40-sim stores it as
# firmware.bin, so both clients of this part upload "/" to the sim.
WINDOW_REMOTE = "/"
SIM_STORED = "firmware.bin"
WINDOW_LINE = re.compile(r"^window \S+ MiB: ([\d.]+) s, status paints (\d+), gauge paints (\d+), "
                         r"boxes (.*)$", re.M)
WINDOW_TARGET = 1.10


class Sim:
    """zeb40-sim on a free loopback port (--port 0), storing in folder; its log goes to a file.
    options: more arguments of the sim (faults)."""

    def __init__(self, folder, log_path, options=()):
        self.folder = folder
        self.log_path = log_path
        self.options = list(options)
        self.process = None
        self.port = None

    def start(self):
        self.log_file = open(self.log_path, "wb")
        self.process = subprocess.Popen(
            [str(SIM), "--port", "0", "--dir", str(self.folder)] + self.options,
            stdin=subprocess.DEVNULL, stdout=self.log_file, stderr=subprocess.STDOUT)
        # One "listening ADDR:PORT" line per --bind (127.0.0.1 without one).
        expected = max(1, self.options.count("--bind"))
        for _ in range(100):
            found = re.findall(r"^listening ([\d.]+):(\d+)$", self.log_path.read_text(), re.M)
            if len(found) >= expected:
                self.ports = {address: int(port) for address, port in found}
                self.port = int(found[0][1])
                return
            if self.process.poll() is not None:
                break
            time.sleep(0.05)
        self.stop()
        raise BenchError(f"zeb40-sim did not start: {self.log_path.read_text().strip()[:300]}")

    def stop(self):
        Server.stop(self)
        self.log_file.close()


def window_round(sim, image, counted, samples):
    """One run of the harness: (press to finish box in s, status paints, gauge paints)."""
    argv = [str(WINDOW_HARNESS), "--port", str(sim.port), str(image)]
    with tempfile.TemporaryFile() as out:
        code, wall, _, err = run_measured(argv, stdout=out)
        out.seek(0)
        text = out.read().decode(errors="replace")
    found = WINDOW_LINE.search(text)
    if code != 0 or not found:
        raise BenchError(f"window harness exited {code}: {text.strip()[:300]} {err.strip()[:300]}")
    if found.group(4) != '"Upgrade Finish."':
        raise BenchError(f"window harness: boxes {found.group(4)}")
    check_stored(image, sim.folder / SIM_STORED)
    if counted:
        samples["window"].append(float(found.group(1)))
        samples["harness"].append(wall)
        samples["status"].append(int(found.group(2)))
        samples["gauge"].append(int(found.group(3)))


def flash_round(sim, image, counted, samples):
    argv = client_argv(OURS, sim.port, 1500, image, WINDOW_REMOTE)
    code, wall, _, err = run_measured(argv)
    if code != 0:
        raise BenchError(f"zeb40-flash exited {code}: {err.strip()[:300]}")
    check_stored(image, sim.folder / SIM_STORED)
    if counted:
        samples["flash"].append(wall)


def bench_window(work, rounds, image_mib):
    """The cost of the window's upgrade run over zeb40-flash on the same image and server.

    Rounds alternate the harness (bench/window_harness.cpp: the application and TForm1 headless,
    bt1 pressed, timed from the press to the "Upgrade Finish." box) and zeb40-flash --quiet
    (timed as a process, start-up included), which of the two goes first changing every round;
    a warm-up round is not counted. Both upload "/" at the window's block size, 1500, to one
    zeb40-sim; every stored file is compared with the image. Returns the report section."""
    missing = [str(p.relative_to(ROOT)) for p in (WINDOW_HARNESS, SIM, FLASH) if not p.exists()]
    if missing:
        reason = "skipped: " + ", ".join(missing) + " missing (cmake --build --preset default)"
        log(f"window: {reason}")
        return reason
    image = work / f"window-image-{image_mib}M.bin"
    make_image(image, image_mib * MIB)
    stored = work / "window-sim"
    stored.mkdir()
    sim = Sim(stored, work / "window-sim.log")
    samples = {k: [] for k in ("window", "harness", "flash", "status", "gauge")}
    os.environ["QT_QPA_PLATFORM"] = "offscreen"
    try:
        sim.start()
        log(f"window: zeb40-sim on 127.0.0.1:{sim.port}, folder {stored}")
        for r in range(rounds + 1):  # round 0 warms the caches and is not counted
            steps = (window_round, flash_round) if r % 2 == 0 else (flash_round, window_round)
            for step in steps:
                step(sim, image, r > 0, samples)
            sample_load(f"window round {r}")
    finally:
        sim.stop()
        image.unlink(missing_ok=True)
    ratios = [w / f for w, f in zip(samples["window"], samples["flash"])]
    process_ratios = [h / f for h, f in zip(samples["harness"], samples["flash"])]
    ratio = statistics.median(ratios)
    verdict = "met" if ratio <= WINDOW_TARGET else "missed"
    med = {k: statistics.median(v) for k, v in samples.items()}
    log(f"window {image_mib} MiB: median {med['window']:.3f} s press to box, zeb40-flash "
        f"{med['flash']:.3f} s; paired ratio window/flash {ratio:.3f} (≤ {WINDOW_TARGET:.2f}): "
        f"{verdict}; paints: status {med['status']:.0f}, gauge {med['gauge']:.0f}")
    lines = [
        f"{image_mib} MiB random image, block size 1500, remote name \"/\", server zeb40-sim "
        f"(`zeb40-sim --port 0 --dir DIR`: tftpd-hpa refuses \"/\" as a folder, so both clients "
        f"of this part upload to the sim, which stores the image as {SIM_STORED}). "
        f"{rounds} rounds after a warm-up round; in each, the harness and `zeb40-flash --quiet` "
        "upload once, which goes first alternating; every stored file is compared with the image.",
        "",
        "Window: `zeb40-window-harness` (bench/window_harness.cpp) creates the application and "
        "TForm1 headless (QT_QPA_PLATFORM=offscreen) in a scratch folder with DORVEX.ini "
        "(IP=127.0.0.1, Path=the image), points tftp1 at the sim's port, answers and records the "
        "message boxes, starts no ARP tool, presses bt1 once the window is exposed and times the "
        "press to the \"Upgrade Finish.\" box. zeb40-flash is timed as a whole process, its "
        "start-up included, so the main ratio is slightly in the window's favour; the ratio of "
        "the harness's whole process (Qt start-up included) is given beside it.",
        "",
        "| measure | median | min–max |",
        "|---|---:|---:|",
        f"| window, press to finish box (s) | {med['window']:.3f} | "
        f"{min(samples['window']):.3f}–{max(samples['window']):.3f} |",
        f"| zeb40-flash --quiet, process (s) | {med['flash']:.3f} | "
        f"{min(samples['flash']):.3f}–{max(samples['flash']):.3f} |",
        f"| harness, whole process (s) | {med['harness']:.3f} | "
        f"{min(samples['harness']):.3f}–{max(samples['harness']):.3f} |",
        f"| paired ratio window / flash | {ratio:.3f} | {min(ratios):.3f}–{max(ratios):.3f} |",
        f"| paired ratio harness process / flash | {statistics.median(process_ratios):.3f} | "
        f"{min(process_ratios):.3f}–{max(process_ratios):.3f} |",
        f"| status line paints per run | {med['status']:.0f} | "
        f"{min(samples['status'])}–{max(samples['status'])} |",
        f"| gauge paints per run | {med['gauge']:.0f} | "
        f"{min(samples['gauge'])}–{max(samples['gauge'])} |",
        "",
        f"Target: median paired ratio window / flash ≤ {WINDOW_TARGET:.2f}: {verdict} "
        f"({ratio:.3f}).",
    ]
    return "\n".join(lines)


def merge_section(path, heading, section, info):
    """Replaces the section under heading of an existing report, keeping the others; a report
    without it gets it at its end."""
    text = path.read_text() if path.exists() else "# Benchmark results\n"
    command = " ".join(["bench/bench.py"] + sys.argv[1:])
    body = (f"{heading}\n\nRun {info['date']} (`{command}`), load "
            f"{info['load_start']:.2f} at the start, {info['load_end']:.2f} at the end.\n\n"
            f"{section}\n")
    if heading in text:
        before, _, rest = text.partition(heading)
        following = rest.find("\n## ")
        after = rest[following + 1:] if following >= 0 else ""
        text = before + body + ("\n" + after if after else "")
    else:
        text = text.rstrip("\n") + "\n\n" + body
    path.write_text(text)


# --- duplication ----------------------------------------------------------------------------

DUP_BYTES = 2_000_000
DUP_BLOCK = 512
DUP_RATE = "0.01"
DUP_TARGET = 1.10
DATA_PACKETS_LINE = re.compile(r"^data packets (\d+) for (\d+) blocks$", re.M)


def bench_dup(work, rounds):
    """Duplicated datagrams must not make the client send more (RFC 1123 section 4.2.3.1).

    Two zeb40-sims, one with --dup 0 and one with --dup 0.01 --seed 3 (each datagram it receives
    or sends duplicated with that chance), take the same image at block size 512 in alternating
    rounds, which sim goes first changing every round; a warm-up round is not counted. Each
    upload's stored file is compared with the image; each sim logs the data packets it received
    per upload. Returns the report section."""
    missing = [str(p.relative_to(ROOT)) for p in (SIM, FLASH) if not p.exists()]
    if missing:
        reason = "skipped: " + ", ".join(missing) + " missing (cmake --build --preset default)"
        log(f"dup: {reason}")
        return reason
    image = work / "dup-image.bin"
    make_image(image, DUP_BYTES)
    sims = {}
    times = {rate: [] for rate in ("0", DUP_RATE)}
    try:
        for rate in times:
            folder = work / f"dup-sim-{rate}"
            folder.mkdir()
            sims[rate] = Sim(folder, work / f"dup-sim-{rate}.log",
                             ["--dup", rate, "--seed", "3"])
            sims[rate].start()
        for r in range(rounds + 1):  # round 0 warms the caches and is not counted
            order = ("0", DUP_RATE) if r % 2 == 0 else (DUP_RATE, "0")
            for rate in order:
                argv = client_argv(OURS, sims[rate].port, DUP_BLOCK, image, "dup.bin")
                code, wall, _, err = run_measured(argv)
                if code != 0:
                    raise BenchError(f"zeb40-flash to --dup {rate} exited {code}: {err.strip()}")
                check_stored(image, sims[rate].folder / "dup.bin")
                if r > 0:
                    times[rate].append(wall)
            sample_load(f"dup round {r}")
    finally:
        for sim in sims.values():
            sim.stop()
        image.unlink(missing_ok=True)
    packets = {}
    for rate, sim in sims.items():
        counts = [(int(n), int(b)) for n, b in DATA_PACKETS_LINE.findall(sim.log_path.read_text())]
        counts = counts[1:]  # the warm-up round's
        packets[rate] = (statistics.median(n / b for n, b in counts), max(n / b for n, b in counts),
                         sum(b for _, b in counts) // len(counts))
    ratios = [d / z for d, z in zip(times[DUP_RATE], times["0"])]
    ratio = statistics.median(ratios)
    verdict = "met" if ratio <= DUP_TARGET else "missed"
    med = {rate: statistics.median(v) for rate, v in times.items()}
    log(f"dup: median {med['0']:.3f} s at --dup 0, {med[DUP_RATE]:.3f} s at --dup {DUP_RATE}; "
        f"paired ratio {ratio:.3f} (≤ {DUP_TARGET:.2f}): {verdict}; data packets per block "
        f"{packets['0'][0]:.4f} and {packets[DUP_RATE][0]:.4f}")
    lines = [
        f"{DUP_BYTES:,} random bytes at block size {DUP_BLOCK} by zeb40-flash to two zeb40-sims "
        f"(`zeb40-sim --port 0 --dir DIR --dup RATE --seed 3`), {rounds} rounds after a warm-up "
        "round, which sim goes first alternating; every stored file is compared with the image. "
        "Data packets: what the sim received per upload, over the blocks it took "
        f"({packets['0'][2]:,} per upload).",
        "",
        "| measure | --dup 0 | --dup " + DUP_RATE + " |",
        "|---|---:|---:|",
        f"| median time (s) | {med['0']:.3f} | {med[DUP_RATE]:.3f} |",
        f"| min–max (s) | {min(times['0']):.3f}–{max(times['0']):.3f} | "
        f"{min(times[DUP_RATE]):.3f}–{max(times[DUP_RATE]):.3f} |",
        f"| data packets per block, median | {packets['0'][0]:.4f} | {packets[DUP_RATE][0]:.4f} |",
        f"| data packets per block, max | {packets['0'][1]:.4f} | {packets[DUP_RATE][1]:.4f} |",
        f"| paired ratio --dup {DUP_RATE} / --dup 0 | | {ratio:.3f} "
        f"({min(ratios):.3f}–{max(ratios):.3f}) |",
        "",
        f"Target: median paired ratio ≤ {DUP_TARGET:.2f}: {verdict} ({ratio:.3f}).",
    ]
    return "\n".join(lines)


# --- loss -----------------------------------------------------------------------------------

LOSS_RATE = 0.03
LOSS_IMAGES = 20
LOSS_MIN, LOSS_MAX = 64 * 1024, 512 * 1024
LOSS_BLOCK = 1500
LOSS_TARGET = 0.10
LOSS_LIMIT_S = 900  # one upload; the slowest client needs minutes for one image at this loss


def relayed_upload(port, folder, client, image, seed, remote):
    """One upload through its own relay (seed: the relay's dice) in front of the server on port,
    which stores in folder. Returns (outcome, wall s, datagrams dropped)."""
    with LossyRelay(port, LOSS_RATE, seed) as relay:
        code, wall, _, _ = run_measured(client_argv(client, relay.port, LOSS_BLOCK, image, remote),
                                        limit=LOSS_LIMIT_S)
        dropped = sum(relay.dropped.values())
    stored = folder / remote
    want = image.stat().st_size
    if code == 0:
        # The server may still be closing (or renaming) the file when the client has ended.
        for _ in range(40):
            if stored.exists() and stored.stat().st_size == want:
                break
            time.sleep(0.05)
        intact = stored.exists() and filecmp.cmp(image, stored, shallow=False)
        outcome = "intact" if intact else "false success"
    else:
        outcome = "killed" if code == -9 else "failure reported"
    stored.unlink(missing_ok=True)
    return outcome, wall, dropped


def loss_upload(server, client, image, seed, remote):
    return relayed_upload(server.port, server.folder, client, image, seed, remote)


REACK_IMAGES = 8
REACK_MIN, REACK_MAX = 64 * 1024, 256 * 1024
REACK_SIM = ["--reack", "timer", "--retransmit", "5000", "--jitter", "1000"]


def reack_upload(sim, client, image, seed, remote):
    return relayed_upload(sim.port, sim.folder, client, image, seed, remote)[:2]


def bench_reack(work, jobs):
    """A receiver that takes no notice of a block it already has and acknowledges again only on
    its own timer (5 s and up to 1 s more), behind the 3 % relay: a client must wait for it,
    and must never report an image it did not store. Returns the report section."""
    if not SIM.exists():
        return "skipped: zeb40-sim missing (cmake --build --preset default)"
    folder = work / "reack-sim"
    folder.mkdir()
    sim = Sim(folder, work / "reack-sim.log", REACK_SIM + ["--seed", "5"])
    images = []
    for seed in range(1, REACK_IMAGES + 1):
        rng = random.Random(100 + seed)
        path = work / f"reack-image-{seed}.bin"
        path.write_bytes(rng.randbytes(rng.randint(REACK_MIN, REACK_MAX)))
        images.append((seed, path))
    results = {c: [] for c in CLIENTS}
    try:
        sim.start()
        jobs_list = [(c, seed, path) for seed, path in images for c in CLIENTS]
        with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
            futures = {pool.submit(reack_upload, sim, c, path, seed, f"reack-{c}-{seed}.bin"): c
                       for c, seed, path in jobs_list}
            for future in concurrent.futures.as_completed(futures):
                results[futures[future]].append(future.result())
        sample_load("reack")
    finally:
        sim.stop()
        for _, path in images:
            path.unlink(missing_ok=True)
    lines = [
        f"{REACK_IMAGES} random images of {REACK_MIN // 1024} to {REACK_MAX // 1024} KiB, block "
        f"size {LOSS_BLOCK}, through `bench/lossy_relay.py` dropping {LOSS_RATE * 100:.0f} % of the "
        f"datagrams each way, in front of `zeb40-sim {' '.join(REACK_SIM)}`: it takes no notice "
        "of a block it already has and sends its last acknowledgement again only when its own "
        "timer runs out. Every client with its defaults, the uploads side by side; every stored "
        "file compared with the image.",
        "",
        "| client | intact | failure reported | false success | median time (s) | min–max (s) |",
        "|---|---:|---:|---:|---:|---:|",
    ]
    for c in CLIENTS:
        outcomes = collections.Counter(r[0] for r in results[c])
        walls = [r[1] for r in results[c]]
        lines.append(f"| {c} | {outcomes['intact']} | {outcomes['failure reported']} | "
                     f"{outcomes['false success']} | {statistics.median(walls):.2f} | "
                     f"{min(walls):.2f}–{max(walls):.2f} |")
        log(f"reack {c}: {dict(outcomes)}, median {statistics.median(walls):.2f} s")
    ours = collections.Counter(r[0] for r in results[OURS])
    verdict = "met" if ours["intact"] == REACK_IMAGES else "missed"
    lines += ["", f"Target: every upload of zeb40-flash intact with the defaults: {verdict} "
              f"({ours['intact']}/{REACK_IMAGES})."]
    return "\n".join(lines)


SLOW_DELAYS = (1500, 2500)
SLOW_BLOCKS = 40
SLOW_TARGET = 1.1


def bench_slow(work):
    """A device that answers every datagram late: each block should go once. Returns the report
    section."""
    if not SIM.exists():
        return "skipped: zeb40-sim missing (cmake --build --preset default)"
    image = work / "slow-image.bin"
    make_image(image, SLOW_BLOCKS * LOSS_BLOCK - 100)
    rows = []
    try:
        for delay in SLOW_DELAYS:
            folder = work / f"slow-sim-{delay}"
            folder.mkdir()
            sim = Sim(folder, work / f"slow-sim-{delay}.log", ["--delay", str(delay)])
            try:
                sim.start()
                code, wall, _, err = run_measured(
                    client_argv(OURS, sim.port, LOSS_BLOCK, image, "slow.bin"), limit=600)
                if code != 0:
                    raise BenchError(f"zeb40-flash to --delay {delay} exited {code}: {err.strip()}")
                check_stored(image, folder / "slow.bin")
            finally:
                sim.stop()
            counts = [(int(n), int(b)) for n, b in DATA_PACKETS_LINE.findall(sim.log_path.read_text())]
            stored = [c for c in counts if c[1] > 0]
            n, b = stored[0]
            rows.append((delay, n, b, n / b, wall))
            log(f"slow {delay} ms: {n} data packets for {b} blocks ({n / b:.3f}), {wall:.1f} s")
    finally:
        image.unlink(missing_ok=True)
    worst = max(r[3] for r in rows)
    verdict = "met" if worst <= SLOW_TARGET else "missed"
    lines = [
        f"One image of {SLOW_BLOCKS} blocks of {LOSS_BLOCK} bytes by zeb40-flash (its defaults) to "
        "`zeb40-sim --delay MS`, which waits that long before each answer; the sim counts the "
        "data packets it received for the blocks it took (the requests sent again before the "
        "first answer, and answered, open transfers of their own, which are told \"Unknown "
        "transfer ID\" and take no blocks).",
        "",
        "| answer delay (ms) | data packets | blocks | per block | time (s) |",
        "|---:|---:|---:|---:|---:|",
    ]
    for delay, n, b, per, wall in rows:
        lines.append(f"| {delay} | {n} | {b} | {per:.3f} | {wall:.1f} |")
    lines += ["", f"Target: data packets per block ≤ {SLOW_TARGET}: {verdict} ({worst:.3f})."]
    return "\n".join(lines)


def bench_loss(server, work, jobs):
    """A lossy network, and who recovers fastest. Every client uploads the same 20 seeded images
    through a relay of its own that drops 3 % of the datagrams each way (the relay's dice seeded
    by the image's number). zeb40-flash uploads them one after the other; the others, which wait
    seconds for every loss, run jobs at a time, so that the part ends in minutes. Returns the
    report section."""
    images = []
    for seed in range(1, LOSS_IMAGES + 1):
        rng = random.Random(seed)
        path = work / f"loss-image-{seed}.bin"
        path.write_bytes(rng.randbytes(rng.randint(LOSS_MIN, LOSS_MAX)))
        images.append((seed, path))
    results = {c: [] for c in CLIENTS}
    try:
        for seed, path in images:
            results[OURS].append(loss_upload(server, OURS, path, seed, f"loss-ours-{seed}.bin"))
        log(f"loss: {OURS} done, median {statistics.median(r[1] for r in results[OURS]):.2f} s")
        sample_load("loss, ours")
        others = [(c, seed, path) for seed, path in images for c in CLIENTS if c != OURS]
        with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
            futures = {pool.submit(loss_upload, server, c, path, seed, f"loss-{c}-{seed}.bin"): c
                       for c, seed, path in others}
            for future in concurrent.futures.as_completed(futures):
                results[futures[future]].append(future.result())
        sample_load("loss, others")
    finally:
        for _, path in images:
            path.unlink(missing_ok=True)
    summary = {}
    for c in CLIENTS:
        outcomes = dict(collections.Counter(r[0] for r in results[c]))
        walls = [r[1] for r in results[c]]
        summary[c] = {
            "outcomes": outcomes,
            "median": statistics.median(walls),
            "range": (min(walls), max(walls)),
            "dropped": statistics.median(r[2] for r in results[c]),
        }
        log(f"loss {c}: {outcomes}, median {summary[c]['median']:.2f} s")
    faster = min((c for c in CLIENTS if c != OURS), key=lambda c: summary[c]["median"])
    ratio = summary[OURS]["median"] / summary[faster]["median"]
    ours = summary[OURS]["outcomes"]
    honest = ours.get("false success", 0) == 0 and ours.get("killed", 0) == 0
    verdict = "met" if honest and ratio <= LOSS_TARGET else "missed"
    lines = [
        f"{LOSS_IMAGES} random images of {LOSS_MIN // 1024} to {LOSS_MAX // 1024} KiB (seeds 1 "
        f"to {LOSS_IMAGES}), block size {LOSS_BLOCK}, tftpd-hpa behind `bench/lossy_relay.py`, "
        f"which drops {LOSS_RATE * 100:.0f} % of the datagrams each way (its dice seeded by the image's "
        "number; a repeated request goes into the same transfer). Each upload has a relay of its "
        f"own; zeb40-flash uploads one image at a time, curl and atftp {jobs} at a time (each "
        "waits seconds for every loss, and one at a time the part would take more than half an "
        "hour; the CPU they share is idle most of that time). Time: the client process, from "
        "start to exit; every stored file is compared with the image.",
        "",
        "| client | intact | failure reported | false success | killed (limit "
        f"{LOSS_LIMIT_S} s) | median time (s) | min–max (s) | datagrams dropped per upload, "
        "median |",
        "|---|---:|---:|---:|---:|---:|---:|---:|",
    ]
    for c in CLIENTS:
        o = summary[c]["outcomes"]
        lines.append(f"| {c} | {o.get('intact', 0)} | {o.get('failure reported', 0)} | "
                     f"{o.get('false success', 0)} | {o.get('killed', 0)} | "
                     f"{summary[c]['median']:.2f} | {summary[c]['range'][0]:.2f}–"
                     f"{summary[c]['range'][1]:.2f} | {summary[c]['dropped']:.0f} |")
    lines += [
        "",
        f"Target: zeb40-flash never reports a false success, and its median time is at most "
        f"{LOSS_TARGET:.1f} × that of the faster other client ({faster}): {verdict} "
        f"(ratio {ratio:.3f}).",
    ]
    return "\n".join(lines)


# --- fleet ----------------------------------------------------------------------------------

FLEET_DEVICES = 20
FLEET_MIB = 8
FLEET_DELAY_MS = 2
FLEET_TARGET = 1.30
FLEET_INTERRUPTS = 10
FLEET_LIMIT_S = 900  # the 20 one after another take minutes


def fleet_argv(ports, addresses, extra, hosts_file, image):
    """zeb40-flash --quiet to the devices at addresses, named in the list hosts_file."""
    hosts_file.write_text("".join(f"{a}:{ports[a]}\n" for a in addresses))
    return [str(FLASH), "--quiet"] + extra + ["@" + str(hosts_file), str(image)]


def fleet_upload(sim, image, addresses, extra, hosts_file):
    """One run of zeb40-flash to the sim's devices at addresses; every device's stored image is
    compared with the image. Returns the wall time."""
    argv = fleet_argv(sim.ports, addresses, extra, hosts_file, image)
    code, wall, _, err = run_measured(argv, limit=FLEET_LIMIT_S)
    if code != 0:
        raise BenchError(f"zeb40-flash to {len(addresses)} devices exited {code}: {err.strip()[:300]}")
    for address in addresses:
        check_stored(image, sim.folder / address / SIM_STORED)
    return wall


def fleet_interrupt(argv, ready, rng):
    """Starts argv, waits until ready() holds and 0.2 to 0.3 s more (drawn by rng, so that the
    signal falls anywhere in the client's 50 ms pieces of a wait), sends SIGINT and measures from
    the signal to the end of the process. Returns (seconds, exit status)."""
    process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 30
        while not ready() and time.monotonic() < deadline:
            time.sleep(0.01)
        time.sleep(0.2 + 0.1 * rng.random())
        start = time.perf_counter()
        process.send_signal(signal.SIGINT)
        code = process.wait(timeout=30)
        return time.perf_counter() - start, code
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()


def bench_fleet(work, rounds):
    """Many devices at once (each transfer on its own thread of zeb40-flash, the image read once)
    against one device alone.

    One zeb40-sim plays 20 devices on 127.0.0.2 to 127.0.0.21 (`--bind` each, --port 0, --delay 2:
    every answer waits 2 ms, as a device that writes each block to flash). In each of the rounds
    (after a warm-up round) zeb40-flash uploads the 8 MiB image to one device alone and to all
    20 in one run, which goes first alternating; every stored image is compared with the image.
    Then the 20 once one after another (--jobs 1) for comparison, and the time from Ctrl-C to the
    end of a run of 20, while the transfers run and while 20 requests wait for devices that do not
    answer (--wait). Returns the report section."""
    missing = [str(p.relative_to(ROOT)) for p in (SIM, FLASH) if not p.exists()]
    if missing:
        reason = "skipped: " + ", ".join(missing) + " missing (cmake --build --preset default)"
        log(f"fleet: {reason}")
        return reason
    addresses = [f"127.0.0.{2 + i}" for i in range(FLEET_DEVICES)]
    image = work / "fleet-image.bin"
    make_image(image, FLEET_MIB * MIB)
    folder = work / "fleet-sim"
    folder.mkdir()
    binds = [arg for a in addresses for arg in ("--bind", a)]
    # A device gives an interrupted transfer up after 3 × 200 ms without an answer; nothing is
    # lost on loopback, so the uploads that are timed never wait for a retransmission.
    sim = Sim(folder, work / "fleet-sim.log",
              binds + ["--delay", str(FLEET_DELAY_MS), "--retransmit", "200", "--retries", "2"])
    hosts = work / "fleet-hosts.txt"
    times = {"alone": [], "all": []}
    loads = {"alone": [], "all": []}
    try:
        sim.start()
        log(f"fleet: zeb40-sim on {addresses[0]} to {addresses[-1]}, --delay {FLEET_DELAY_MS}")
        for r in range(rounds + 1):  # round 0 warms the caches and is not counted
            order = ("alone", "all") if r % 2 == 0 else ("all", "alone")
            for kind in order:
                chosen = addresses[:1] if kind == "alone" else addresses
                wall = fleet_upload(sim, image, chosen, [], hosts)
                if r > 0:
                    times[kind].append(wall)
                    loads[kind].append(load_average())
            sample_load(f"fleet round {r}")
            log(f"fleet round {r}: alone {times['alone'][-1] if r else 0:.2f} s, "
                f"all {times['all'][-1] if r else 0:.2f} s")
        sequential = fleet_upload(sim, image, addresses, ["--jobs", "1"], hosts)
        sample_load("fleet one after another")
        log(f"fleet: one after another {sequential:.1f} s")

        interrupts = {"mid-transfer": [], "waiting": []}
        codes = set()
        rng = random.Random(13)
        for _ in range(FLEET_INTERRUPTS):
            offset = sim.log_path.stat().st_size

            def logged(text, offset=offset):
                log_text = sim.log_path.read_bytes()[offset:].decode(errors="replace")
                return log_text.count(text) >= FLEET_DEVICES

            seconds, code = fleet_interrupt(fleet_argv(sim.ports, addresses, [], hosts, image),
                                            lambda: logged("transfer port "), rng)
            interrupts["mid-transfer"].append(seconds)
            codes.add(code)
            # The next run starts once the devices have given these transfers up.
            deadline = time.monotonic() + 10
            while not logged("abandoned ") and time.monotonic() < deadline:
                time.sleep(0.05)
        sample_load("fleet interrupts mid-transfer")
        # Devices that do not answer yet: ports that nothing listens on.
        silent = {a: Server.free_port() for a in addresses}
        for _ in range(FLEET_INTERRUPTS):
            argv = fleet_argv(silent, addresses, ["--wait", "60"], hosts, image)
            seconds, code = fleet_interrupt(argv, lambda: True, rng)
            interrupts["waiting"].append(seconds)
            codes.add(code)
        sample_load("fleet interrupts waiting")
    finally:
        sim.stop()
        image.unlink(missing_ok=True)
    med = {k: statistics.median(v) for k, v in times.items()}
    ratios = [a / b for a, b in zip(times["all"], times["alone"])]
    ratio = statistics.median(ratios)
    verdict = "met" if ratio <= FLEET_TARGET else "missed"
    worst_interrupt = max(max(v) for v in interrupts.values())
    interrupt_verdict = "met" if worst_interrupt <= 0.1 and codes == {130} else "missed"
    log(f"fleet: alone {med['alone']:.2f} s, all {med['all']:.2f} s, paired ratio {ratio:.3f} "
        f"(≤ {FLEET_TARGET:.2f}): {verdict}; one after another {sequential:.1f} s; Ctrl-C worst "
        f"{worst_interrupt * 1000:.0f} ms, exit {sorted(codes)}")
    lines = [
        f"One zeb40-sim plays {FLEET_DEVICES} devices on {addresses[0]} to {addresses[-1]} "
        f"(`zeb40-sim --port 0 --dir DIR --bind 127.0.0.2 ... --bind 127.0.0.21 --delay "
        f"{FLEET_DELAY_MS} --retransmit 200 --retries 2`: each device waits {FLEET_DELAY_MS} ms "
        "before every answer, as one that writes each block to its flash, and gives a silent "
        f"client up after 0.6 s), an {FLEET_MIB} MiB random image, block size 1500. "
        f"{rounds} rounds after a warm-up round; in each, `zeb40-flash --quiet @LIST FILE` uploads "
        "to the first device alone and to all 20 (one transfer thread each), which goes first "
        "alternating; every stored image is compared with the image. Then the 20 once one after "
        "another (`--jobs 1`). Time: the zeb40-flash process, start to exit.",
        "",
        "| measure | median (s) | min–max (s) | load during (1-minute average) |",
        "|---|---:|---:|---:|",
        f"| one device alone | {med['alone']:.2f} | {min(times['alone']):.2f}–"
        f"{max(times['alone']):.2f} | {min(loads['alone']):.2f}–{max(loads['alone']):.2f} |",
        f"| 20 devices at once | {med['all']:.2f} | {min(times['all']):.2f}–"
        f"{max(times['all']):.2f} | {min(loads['all']):.2f}–{max(loads['all']):.2f} |",
        f"| paired ratio 20 at once / one alone | {ratio:.3f} | {min(ratios):.3f}–"
        f"{max(ratios):.3f} | |",
        f"| 20 devices one after another (once) | {sequential:.1f} | | |",
        "",
        f"Ctrl-C: SIGINT to a run of 20, {FLEET_INTERRUPTS} times each, 0.2 to 0.3 s (seeded "
        "draw) after all 20 transfers had started (`transfer port` logged by the sim), and as long "
        "after the start of a run with `--wait 60` to 20 ports where nothing answers; time from "
        "the signal to the end of the process (every socket closed with it), exit status "
        f"{sorted(codes)}. Mid-transfer an answer comes every 2 ms and the flag is seen at the "
        "next; a wait looks at it every 50 ms.",
        "",
        "| Ctrl-C | median (ms) | max (ms) |",
        "|---|---:|---:|",
    ]
    for kind, values in interrupts.items():
        lines.append(f"| {kind} | {statistics.median(values) * 1000:.0f} | "
                     f"{max(values) * 1000:.0f} |")
    lines += [
        "",
        f"Targets: median paired ratio 20 at once / one alone ≤ {FLEET_TARGET:.2f}: {verdict} "
        f"({ratio:.3f}); every Ctrl-C ends the run within 100 ms with status 130: "
        f"{interrupt_verdict} (worst {worst_interrupt * 1000:.0f} ms).",
    ]
    return "\n".join(lines)


# --- report ---------------------------------------------------------------------------------


def fmt_ratio(value):
    return f"{value:.3f}"


def write_report(path, info, wall, memory, cpu, syscalls, sections, rounds, image_mib, seconds):
    lines = []
    add = lines.append
    add("# Benchmark results")
    add("")
    add(f"- date: {info['date']}")
    add(f"- machine: `nproc` = {info['nproc']}, CPU: {info['cpu']}")
    loads = [v for _, v in load_samples]
    add(f"- load (1-minute average): {info['load_start']:.2f} at the start, "
        f"{info['load_end']:.2f} at the end, {min(loads):.2f} to {max(loads):.2f} while running. "
        "The machine is shared with other sessions' builds, so wall times are noisy; the ratios "
        "are medians of paired runs and the instruction counts do not depend on the load.")
    add(f"- command: `bench/run.sh` ({rounds} rounds after a warm-up round; whole run {seconds:.0f} s)")
    add(f"- server: tftpd-hpa (`in.tftpd -L -c -s DIR -u root`) on a free loopback port")
    add("")

    if wall:
        add(f"## Wall time, {image_mib} MiB random image")
        add("")
        add("Uploads alternate zeb40-flash, curl, atftp in every round, the order turning by one "
            "each round (A B C, B C A, C A B); every stored file is compared with the image. Ratio: the median over the rounds of (ours / theirs) within a round; "
            "below 1.00 ours is faster. CPU: user + system time of the client process (user: its own code, the rest is the kernel's); on loopback "
            "the transfer is a ping-pong, so the client's CPU time lies on its critical path.")
        add("")
        add("| block size | client | median wall (s) | median CPU (s) | of which user (s) | median paired ratio ours / client (min–max) | median paired CPU ratio |")
        add("|---:|---|---:|---:|---:|---:|---:|")
        for block in BLOCK_SIZES:
            r = wall[block]
            for c in CLIENTS:
                ratio = "—" if c == OURS else (
                    f"{fmt_ratio(r['ratio'][c])} ({fmt_ratio(r['ratio_range'][c][0])}–"
                    f"{fmt_ratio(r['ratio_range'][c][1])})")
                cpu_ratio = "—" if c == OURS else fmt_ratio(r["cpu_ratio"][c])
                add(f"| {block} | {c} | {r['wall'][c]:.3f} | {r['cpu'][c]:.3f} | {r['user'][c]:.3f} | {ratio} | {cpu_ratio} |")
        add("")

    if memory:
        add("## Peak memory of zeb40-flash")
        add("")
        add("| image | maximum resident set size (KiB) |")
        add("|---:|---:|")
        for mib, kib in memory.items():
            add(f"| {mib} MiB | {kib} |")
        add("")
        add(f"Difference: {memory[256] - memory[1]} KiB (block size 1500).")
        add("")

    if cpu:
        add("## Instructions per data block (callgrind)")
        add("")
        add("Per block: all instructions of the 4 MiB upload divided by its data blocks (start-up "
            "included). Per extra block: (instructions for 4 MiB − for 1 MiB) / (blocks for 4 MiB − "
            "for 1 MiB), the steady cost of one block without the start-up.")
        add("")
        add("| block size | client | instructions, 4 MiB | data blocks | per block | per extra block |")
        add("|---:|---|---:|---:|---:|---:|")
        for block in BLOCK_SIZES:
            for c in CLIENTS:
                e = cpu[(c, block)]
                add(f"| {block} | {c} | {e['total']:,} | {e['blocks']:,} | {e['per_block']:,.0f} | "
                    f"{e['marginal']:,.0f} |")
        add("")
        for block in BLOCK_SIZES:
            e = cpu[(OURS, block)]
            add(f"### zeb40-flash, block size {block}: top functions by inclusive instructions")
            add("")
            add("| inclusive Ir | per block | function |")
            add("|---:|---:|---|")
            for ir, name in e["top_inclusive"]:
                add(f"| {ir:,} | {ir / e['blocks']:,.0f} | `{name}` |")
            add("")
            add(f"Top by self instructions, block size {block}:")
            add("")
            add("| self Ir | per block | function |")
            add("|---:|---:|---|")
            for ir, name in e["top_self"]:
                add(f"| {ir:,} | {ir / e['blocks']:,.0f} | `{name}` |")
            add("")

    if syscalls:
        add("## System calls per data block (strace -c, 4 MiB image)")
        add("")
        add("| block size | client | system calls per block | of which (per block) |")
        add("|---:|---|---:|---|")
        for block in BLOCK_SIZES:
            for c in CLIENTS:
                e = syscalls[(c, block)]
                hot = ", ".join(f"{k} {v:.2f}" for k, v in e["hot"].items())
                add(f"| {block} | {c} | {e['per_block']:.2f} | {hot} |")
        add("")

    add("## Targets")
    add("")
    for line in targets(wall, memory):
        add(f"- {line}")
    add("")
    for heading, section in sections.items():
        add(heading)
        add("")
        add(section)
        add("")
    path.write_text("\n".join(lines))


def targets(wall, memory):
    out = []
    if wall:
        for block in BLOCK_SIZES:
            r = wall[block]
            faster = min((c for c in CLIENTS if c != OURS), key=lambda c: r["wall"][c])
            ratio = r["ratio"][faster]
            verdict = "met" if ratio <= 1.0 else "missed"
            out.append(f"block size {block}: median paired ratio against the faster other client "
                       f"({faster}) {ratio:.3f} (≤ 1.00): {verdict}")
    if memory:
        diff = memory[256] - memory[1]
        verdict = "met" if abs(diff) <= 1024 else "missed"
        out.append(f"peak memory flat: 256 MiB vs 1 MiB differ by {diff} KiB (≤ 1024): {verdict}")
    return out


SECTIONS = {
    "window": "## Window overhead",
    "dup": "## Duplication",
    "loss": "## Loss through a relay",
    "reack": "## A device that acknowledges again only on its own timer",
    "slow": "## A slow device",
    "fleet": "## Many devices at once",
}


def run_part(part, args, work, server):
    if part == "window":
        return bench_window(work, args.rounds, args.image_mib)
    if part == "dup":
        # One upload takes a tenth of a second, so that scheduling moves single times by a third:
        # four times the rounds keep the median of the ratios steady, in half a minute.
        return bench_dup(work, 4 * args.rounds)
    if part == "fleet":
        return bench_fleet(work, args.fleet_rounds)
    if part == "reack":
        return bench_reack(work, args.loss_jobs)
    if part == "slow":
        return bench_slow(work)
    return bench_loss(server, work, args.loss_jobs)


def main_only(args):
    """One part of window, dup, loss, fleet; its section replaces the one in the report."""
    info = {
        "date": datetime.datetime.now().astimezone().strftime("%Y-%m-%d %H:%M %Z"),
        "load_start": load_average(),
    }
    log(f"bench: {info['date']}, {args.only} part only, load {info['load_start']:.2f}")
    work = Path(tempfile.mkdtemp(prefix="zeb40-bench-", dir="/tmp"))
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    server = None
    try:
        if args.only == "loss":
            served = work / "served"
            served.mkdir()
            server = Server(served)
            server.start()
        section = run_part(args.only, args, work, server)
    except BenchError as e:
        sys.exit(f"bench: {e}")
    finally:
        if server is not None:
            server.stop()
        shutil.rmtree(work, ignore_errors=True)
    info["load_end"] = load_average()
    loads = [v for _, v in load_samples]
    if loads:
        section += (f"\n\nLoad (1-minute average) while running: {min(loads):.2f} to "
                    f"{max(loads):.2f}.")
    merge_section(args.output, SECTIONS[args.only], section, info)
    log(f"bench: {args.only} section merged into {args.output}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=25, help="counted rounds per block size (≥ 5)")
    parser.add_argument("--image-mib", type=int, default=32, help="image size of the wall part")
    parser.add_argument("--skip-wall", action="store_true")
    parser.add_argument("--skip-memory", action="store_true")
    parser.add_argument("--skip-callgrind", action="store_true")
    parser.add_argument("--skip-dup", action="store_true")
    parser.add_argument("--skip-loss", action="store_true")
    parser.add_argument("--skip-reack", action="store_true")
    parser.add_argument("--skip-slow", action="store_true")
    parser.add_argument("--skip-fleet", action="store_true")
    parser.add_argument("--fleet-rounds", type=int, default=5,
                        help="counted rounds of one device alone and 20 at once in the fleet part")
    parser.add_argument("--loss-jobs", type=int, default=20,
                        help="uploads of the other clients at a time in the loss part")
    parser.add_argument("--only", choices=sorted(SECTIONS),
                        help="only this part; its section replaces the one in --output")
    parser.add_argument("--only-window", action="store_true",
                        help="only the window part; its section replaces the one in --output")
    parser.add_argument("--output", type=Path, default=ROOT / "bench" / "results.md")
    args = parser.parse_args()
    if args.rounds < 5:
        parser.error("--rounds must be at least 5")
    if args.only_window:
        args.only = "window"
    if args.only:
        main_only(args)
        return
    for tool in (str(FLASH), TFTPD, GNU_TIME, "curl", "atftp", "valgrind", "callgrind_annotate"):
        if shutil.which(tool) is None:
            sys.exit(f"bench: {tool} not found (build zeb40-flash; scripts/setup-deps.sh installs the rest)")

    began = time.perf_counter()
    info = {
        "date": datetime.datetime.now().astimezone().strftime("%Y-%m-%d %H:%M %Z"),
        "nproc": os.cpu_count(),
        "cpu": cpu_model(),
        "load_start": load_average(),
    }
    try:
        info["nproc"] = int(subprocess.run(["nproc"], capture_output=True, text=True).stdout)
    except ValueError:
        pass
    sample_load("start")
    log(f"bench: {info['date']}, nproc {info['nproc']}, {info['cpu']}, load {info['load_start']:.2f}")

    # Images, stored files and profiles all live under one folder in /tmp, removed at the end.
    work = Path(tempfile.mkdtemp(prefix="zeb40-bench-", dir="/tmp"))
    served = work / "served"
    served.mkdir()
    server = Server(served)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    wall = memory = cpu = syscalls = None
    try:
        server.start()
        log(f"bench: tftpd-hpa on 127.0.0.1:{server.port}, folder {served}")
        if not args.skip_wall:
            wall = bench_wall(server, work, args.rounds, args.image_mib)
        if not args.skip_memory:
            memory = bench_memory(server, work)
        if not args.skip_callgrind:
            cpu = bench_cpu(server, work)
            syscalls = bench_syscalls(server, work)
        sections = {SECTIONS["window"]: run_part("window", args, work, server)}
        for part in ("dup", "loss", "reack", "slow", "fleet"):
            if not getattr(args, f"skip_{part}"):
                sections[SECTIONS[part]] = run_part(part, args, work, server)
    except BenchError as e:
        sys.exit(f"bench: {e}")
    finally:
        server.stop()
        shutil.rmtree(work, ignore_errors=True)
    info["load_end"] = load_average()
    seconds = time.perf_counter() - began
    write_report(args.output, info, wall, memory, cpu, syscalls, sections, args.rounds,
                 args.image_mib, seconds)
    for line in targets(wall, memory):
        log(f"target: {line}")
    log(f"bench: {seconds:.0f} s; results in {args.output}")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Lossy-network soak: seeded uploads of random sizes through zeb40-flash to zeb40-sim with loss
and duplication on 127.0.0.1, each one classified. Standard library only.

usage: soak.py BIN_DIR COUNT [FIRST_SEED]

Every upload is also measured by the data packets the device received (its "data packets N for B
blocks" line): beyond one packet per block, each loss the device logs (a data packet it dropped,
an acknowledgement it lost on the way back) explains one packet sent again. An upload that sends
more than EXCESS_LIMIT packets per block beyond those is a FAULT: a client that answers duplicates
floods the network (RFC 1123 section 4.2.3.1), and one whose time-out fires early does too.

Outcomes:
  stored         flash said sent, and the device stored the image byte for byte
  stored-final-ack-lost  the same, after every acknowledgement of the final block was lost (flash
                 ended on its time-out, as designed: the device is taken to have rebooted)
  failed         flash reported a failure (exit 1 or 2); the device stored nothing complete
  FAULT-*        success reported while the stored image differs (and the log does not show the
                 designed final-ack loss), a failure reported although the device stored the image
                 is counted as failed-but-stored (not a fault), a hang (the wall-clock bound hit),
                 a crash or any other exit
Prints a table of outcomes with counts and the data packet figures; exits 1 on any FAULT.
"""
import collections
import hashlib
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

LOSS = os.environ.get("SOAK_LOSS", "0.05")
DUP = os.environ.get("SOAK_DUP", "0.05")
# The device's own retransmission of its answers; it gives up after RETRIES of them in a row.
RETRANSMIT_MS = "500"
RETRIES = "6"
FLASH_TIMEOUT_MS = "2000"
EXCESS_LIMIT = 1.1
WALL_CLOCK_S = 120  # per upload
MAX_SIZE = 3 * 1024 * 1024


def pick_size(rng):
    kind = rng.random()
    if kind < 0.25:
        return rng.randint(0, 4096)
    if kind < 0.45:  # at and around whole blocks of 512 and 1500
        block = rng.choice([512, 1500])
        return max(0, block * rng.randint(0, 2000) + rng.choice([-1, 0, 0, 1]))
    return rng.randint(0, MAX_SIZE)


def start_sim(bin_dir, folder, seed, log_path):
    # The log goes to a file: a pipe that nobody reads while the upload runs would fill and
    # stall the simulator.
    log = open(log_path, "w")
    sim = subprocess.Popen(
        [os.path.join(bin_dir, "zeb40-sim"), "--bind", "127.0.0.1", "--port", "0", "--dir", folder,
         "--once", "--loss", LOSS, "--dup", DUP, "--seed", str(seed), "--retransmit",
         RETRANSMIT_MS, "--retries", RETRIES],
        stdout=log, stderr=subprocess.STDOUT)
    log.close()
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        with open(log_path) as f:
            first = f.readline()
        match = re.match(r"listening 127\.0\.0\.1:(\d+)\n", first)
        if match:
            return sim, int(match.group(1))
        if sim.poll() is not None:
            break
        time.sleep(0.01)
    sim.kill()
    sim.wait()
    raise RuntimeError("zeb40-sim did not start: " + first)


def run_one(bin_dir, seed, scratch):
    rng = random.Random(seed)
    size = pick_size(rng)
    image = rng.randbytes(size)
    folder = os.path.join(scratch, "dev%d" % seed)
    os.makedirs(folder)
    source = os.path.join(scratch, "image%d.bin" % seed)
    with open(source, "wb") as f:
        f.write(image)
    digest = hashlib.sha256(image).hexdigest()

    log_path = os.path.join(scratch, "sim%d.log" % seed)
    sim, port = start_sim(bin_dir, folder, seed, log_path)
    began = time.monotonic()
    try:
        flash = subprocess.run(
            ["timeout", "-k", "5", str(WALL_CLOCK_S), os.path.join(bin_dir, "zeb40-flash"),
             "--port", str(port), "--timeout", FLASH_TIMEOUT_MS, "--quiet", "127.0.0.1", source],
            capture_output=True, text=True)
        elapsed = time.monotonic() - began
    finally:
        try:
            sim.wait(timeout=3)  # --once: it ends after the upload's dally
        except subprocess.TimeoutExpired:
            sim.terminate()
            try:
                sim.wait(timeout=5)
            except subprocess.TimeoutExpired:
                sim.kill()
                sim.wait()
    with open(log_path) as f:
        log = f.read()
    os.remove(log_path)

    received = re.search(r"^received (\S+) (\d+) bytes sha256 ([0-9a-f]{64})$", log, re.M)
    stored_ok = False
    if received:
        path = os.path.join(folder, received.group(1))
        if os.path.exists(path):
            with open(path, "rb") as f:
                stored_ok = hashlib.sha256(f.read()).hexdigest() == digest
        stored_ok = stored_ok and received.group(3) == digest
    final_ack_lost = False
    if received:
        after = log[received.end():]
        # Every acknowledgement of the final block lost: the first one and each sent again for a
        # copy of the block.
        drops = len(re.findall(r"^dropped send ACK \d+$", after, re.M))
        final_ack_lost = drops > 0 and drops >= 1 + len(re.findall(r"acknowledged again$", after,
                                                                   re.M))
    dup_answers = len(re.findall(r"acknowledged again$", log, re.M))
    counted = re.search(r"^data packets (\d+) for (\d+) blocks$", log, re.M)
    packets = int(counted.group(1)) if counted else 0
    blocks = max(int(counted.group(2)) if counted else 0, 1)
    # Each data packet the device dropped, and each acknowledgement it lost on the way, may have
    # made the client send a block again; an acknowledgement the device lost when it sent it
    # again on its own time-out made it send nothing.
    losses = 0
    before = ""
    for line in log.splitlines():
        if line.startswith("dropped receive DATA ") or (
                line.startswith("dropped send ACK ") and not before.startswith("retransmit ")):
            losses += 1
        before = line
    per_block = packets / blocks
    excess = max(packets - losses, 0) / blocks

    code = flash.returncode
    if code == 0:
        if stored_ok:
            outcome = "stored-final-ack-lost" if final_ack_lost else "stored"
        elif final_ack_lost:
            outcome = "accepted: final ack lost, stored differs"
        else:
            outcome = "FAULT success but stored image differs"
    elif code in (1, 2):
        message = flash.stderr.strip().splitlines()[-1] if flash.stderr.strip() else ""
        reason = message.replace("zeb40-flash: ", "")
        outcome = "failed (%s)%s" % (reason, ", device stored it" if stored_ok else "")
    elif code == 124 or code == 137:
        outcome = "FAULT hang (wall-clock bound hit)"
    else:
        outcome = "FAULT crash or other exit %d" % code
    if not counted and not outcome.startswith("FAULT"):
        outcome = "FAULT the device logged no data packet count"
    if excess > EXCESS_LIMIT and not outcome.startswith("FAULT"):
        outcome = "FAULT %.2f data packets per block beyond the losses" % excess
    shutil.rmtree(folder, ignore_errors=True)
    os.remove(source)
    return {"seed": seed, "size": size, "outcome": outcome, "seconds": elapsed,
            "dup_answers": dup_answers, "per_block": per_block, "excess": excess,
            "losses": losses, "log": log, "stderr": flash.stderr}


def main():
    bin_dir, count = sys.argv[1], int(sys.argv[2])
    first_seed = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    out_dir = os.environ.get("SOAK_OUT", "")
    scratch = tempfile.mkdtemp(prefix="zeb40-soak-")
    results = []
    try:
        for i in range(count):
            r = run_one(bin_dir, first_seed + i, scratch)
            results.append(r)
            print("%4d seed %-6d %8d bytes %6.2f s  %5d losses  %5.3f packets per block, "
                  "%5.3f beyond the losses  %s" % (
                      i + 1, r["seed"], r["size"], r["seconds"], r["losses"], r["per_block"],
                      r["excess"], r["outcome"]), flush=True)
            if r["outcome"].startswith("FAULT") and out_dir:
                os.makedirs(out_dir, exist_ok=True)
                with open(os.path.join(out_dir, "seed%d.log" % r["seed"]), "w") as f:
                    f.write(r["log"] + "\n--- flash stderr\n" + r["stderr"])
    finally:
        shutil.rmtree(scratch, ignore_errors=True)

    table = collections.Counter(r["outcome"] for r in results)
    print()
    print("%-60s %6s" % ("outcome", "count"))
    for outcome, n in sorted(table.items()):
        print("%-60s %6d" % (outcome, n))
    secs = [r["seconds"] for r in results]
    acks = [r["dup_answers"] for r in results]
    excess = [r["excess"] for r in results]
    mib = sum(r["size"] for r in results) / 1048576
    print()
    print("uploads %d, %.1f MiB, seconds per upload: mean %.2f, median %.2f, max %.2f, total %.1f"
          % (len(results), mib, statistics.mean(secs), statistics.median(secs), max(secs),
             sum(secs)))
    print("duplicate data blocks acknowledged again by the device per upload: mean %.1f, max %d"
          % (statistics.mean(acks), max(acks)))
    print("data packets per block beyond the losses: mean %.3f, max %.3f (limit %.2f)"
          % (statistics.mean(excess), max(excess), EXCESS_LIMIT))
    faults = sum(n for o, n in table.items() if o.startswith("FAULT"))
    print("faults: %d" % faults)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""The floor of zeb40-flash's retransmission time-out, chosen by measurement. Each FLASH given is
a build of zeb40-flash with another floor (TFTPMinRetransmitTime); every one uploads, to tftpd-hpa
on loopback:

  loopback  an 8 MiB image, 5 rounds: the median time (a floor never fires on a clean link, so
            this shows only that nothing else changed);
  loss      the loss part's 20 seeded images through bench/lossy_relay.py dropping 3 % each way:
            the median time and the outcomes;
  stall     10 seeded images of 256 KiB through the relay without loss, the device pausing for
            300 ms before 2 % of its answers (the relay holds them and all that follows): the
            median time and the data packets per block (what a floor below the pause costs).

usage: bench/rto_floor.py LABEL=FLASH [LABEL=FLASH ...]   (prints a table in Markdown)
"""

import random
import statistics
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import bench  # noqa: E402  (the bench's server, relay and helpers)
from lossy_relay import LossyRelay  # noqa: E402

STALL_IMAGES = 10
STALL_SIZE = 256 * 1024
STALL_RATE = 0.02
STALL_MS = 300


def upload(flash, port, image, remote):
    argv = [flash, "--quiet", "--port", str(port), "--remote", remote, "--blksize", "1500",
            "127.0.0.1", str(image)]
    code, wall, _, _ = bench.run_measured(argv, limit=300)
    return code, wall


def intact(server, image, remote, code):
    stored = server.folder / remote
    ok = code == 0 and stored.exists() and stored.read_bytes() == image.read_bytes()
    stored.unlink(missing_ok=True)
    return "intact" if ok else ("false success" if code == 0 else "failed")


def measure(flash, server, work):
    result = {}
    big = work / "loopback.bin"
    bench.make_image(big, 8 * bench.MIB)
    walls = []
    for n in range(5):
        code, wall = upload(flash, server.port, big, f"lo-{n}.bin")
        assert intact(server, big, f"lo-{n}.bin", code) == "intact"
        walls.append(wall)
    result["loopback"] = statistics.median(walls)

    outcomes, walls = [], []
    for seed in range(1, bench.LOSS_IMAGES + 1):
        rng = random.Random(seed)
        image = work / f"loss-{seed}.bin"
        image.write_bytes(rng.randbytes(rng.randint(bench.LOSS_MIN, bench.LOSS_MAX)))
        with LossyRelay(server.port, bench.LOSS_RATE, seed) as relay:
            code, wall = upload(flash, relay.port, image, f"loss-{seed}.bin")
        outcomes.append(intact(server, image, f"loss-{seed}.bin", code))
        walls.append(wall)
    result["loss"] = (statistics.median(walls), outcomes)

    outcomes, walls, per_block = [], [], []
    for seed in range(1, STALL_IMAGES + 1):
        image = work / f"stall-{seed}.bin"
        image.write_bytes(random.Random(seed).randbytes(STALL_SIZE))
        with LossyRelay(server.port, 0.0, seed, STALL_RATE, STALL_MS) as relay:
            code, wall = upload(flash, relay.port, image, f"stall-{seed}.bin")
            sent = relay.forwarded["to server"]
        outcomes.append(intact(server, image, f"stall-{seed}.bin", code))
        walls.append(wall)
        blocks = STALL_SIZE // 1500 + 1
        per_block.append((sent - 1) / blocks)  # the request is no data packet
    result["stall"] = (statistics.median(walls), outcomes, statistics.median(per_block))
    return result


def main():
    builds = [arg.split("=", 1) for arg in sys.argv[1:]]
    if not builds or any(len(b) != 2 for b in builds):
        sys.exit(__doc__)
    print("| floor | loopback 8 MiB (s) | 3 % loss: median (s) | outcomes | stalls: median (s) "
          "| outcomes | data packets per block |")
    print("|---|---:|---:|---|---:|---|---:|")
    with tempfile.TemporaryDirectory() as scratch:
        work = Path(scratch)
        folder = work / "server"
        folder.mkdir()
        server = bench.Server(folder)
        server.start()
        try:
            for label, flash in builds:
                r = measure(flash, server, work)
                loss_median, loss_outcomes = r["loss"]
                stall_median, stall_outcomes, per_block = r["stall"]

                def count(outcomes):
                    return ", ".join(f"{outcomes.count(o)} {o}" for o in sorted(set(outcomes)))

                print(f"| {label} | {r['loopback']:.3f} | {loss_median:.2f} | {count(loss_outcomes)} "
                      f"| {stall_median:.2f} | {count(stall_outcomes)} | {per_block:.3f} |",
                      flush=True)
        finally:
            server.stop()


if __name__ == "__main__":
    main()

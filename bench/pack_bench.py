#!/usr/bin/env python3
"""Packing time: `quillbox-pack build` (stub + payload section) against `pack`
(the payload alone) on the whole-run benchmark's large shape, rounds
interleaved. Prints medians and build's extra time per quality.

Run through scripts/bench.sh, which sets the environment harness.py reads."""
import argparse
import pathlib
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests" / "e2e"))
import harness  # noqa: E402
import wine_bench  # noqa: E402


def timed(argv):
    start = time.perf_counter()
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--quality", type=int, action="append", help="brotli qualities to time (default 11 and 1)")
    args = parser.parse_args()
    work = harness.WORK / "pack-bench"
    folder = work / "app"
    if not folder.exists():
        folder.mkdir(parents=True)
        for f in wine_bench.pick_files(30 << 20):
            shutil.copyfile(f, folder / f.name)
        (folder / "quillbox.exe").write_bytes(harness.probe_bytes())
    files = list(folder.iterdir())
    print("%d files, %.1f MiB, %d interleaved rounds" % (len(files), sum(f.stat().st_size for f in files) / 2**20,
                                                         args.rounds))
    for quality in args.quality or [11, 1]:
        q = ["--quality", str(quality), "--quiet"]
        times = {"pack": [], "build": []}
        for _ in range(args.rounds):
            times["pack"].append(timed([harness.PACKER, "pack", str(work / "app.bin"), str(folder)] + q))
            times["build"].append(timed([harness.PACKER, "build", str(folder), "-o", str(work / "app.exe"),
                                         "--stub", str(harness.STUB)] + q))
        pack, build = statistics.median(times["pack"]), statistics.median(times["build"])
        print("quality %2d: pack %.2f s, build %.2f s, build - pack %+.2f s" % (quality, pack, build, build - pack))


if __name__ == "__main__":
    main()

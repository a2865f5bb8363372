#!/usr/bin/env python3
"""Packing time on the whole-run benchmark's large shape: `quillbox-pack build`
(stub + payload section) against `pack` (the payload alone), both without the
cache, rounds interleaved, medians and build's extra time per quality; then a
cold build's CPU time (an empty cache) against Debian's `brotli` command line
at the same quality and window over the same files, and a rebuild after one
small file changed (the cache warm) against the cold build.

Run through scripts/bench.sh, which sets the environment harness.py reads."""
import argparse
import pathlib
import resource
import tempfile
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


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def timed_cpu(argv, **kwargs):
    """Wall and CPU seconds of one run."""
    cpu, start = children_cpu(), time.perf_counter()
    subprocess.run(argv, check=True, stderr=subprocess.DEVNULL, **kwargs)
    return time.perf_counter() - start, children_cpu() - cpu


def brotli_cli_cpu(files, quality, window):
    cpu = 0.0
    for f in files:
        cpu += timed_cpu(["brotli", "-q", str(quality), "-w", str(window), "-c", str(f)],
                         stdout=subprocess.DEVNULL)[1]
    return cpu


def cache_figures(folder, files, quality, window=22):
    """Cold build CPU against the brotli CLI's, and a warm rebuild against the cold build."""
    build = lambda out, cache: [harness.PACKER, "build", str(folder), "-o", str(out), "--stub", str(harness.STUB),
                                "--quality", str(quality), "--window", str(window), "--quiet", "--cache", cache]
    with tempfile.TemporaryDirectory() as work:
        cache = str(pathlib.Path(work) / "cache")
        cli = brotli_cli_cpu(files, quality, window)
        cold_wall, cold_cpu = timed_cpu(build(pathlib.Path(work) / "cold.exe", cache))
        small = min(files, key=lambda f: f.stat().st_size)
        original = small.read_bytes()
        try:
            small.write_bytes(original + b"\0")
            warm_wall, warm_cpu = timed_cpu(build(pathlib.Path(work) / "warm.exe", cache))
        finally:
            small.write_bytes(original)
    targets = quality == 11  # the targets hold at the default quality; lower ones are for comparison
    print("quality %2d cold build: %.1f s CPU (%.1f s wall), brotli CLI %.1f s CPU: %.3f x%s"
          % (quality, cold_cpu, cold_wall, cli, cold_cpu / cli, " (target <= 1.10)" if targets else ""))
    print("quality %2d rebuild after one small file changed: %.2f s wall, %.2f s CPU: %.1f %% of the cold build's"
          " wall time%s" % (quality, warm_wall, warm_cpu, 100 * warm_wall / cold_wall,
                            " (target <= 5 %)" if targets else ""))


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
        q = ["--quality", str(quality), "--quiet", "--no-cache"]
        times = {"pack": [], "build": []}
        for _ in range(args.rounds):
            times["pack"].append(timed([harness.PACKER, "pack", str(work / "app.bin"), str(folder)] + q))
            times["build"].append(timed([harness.PACKER, "build", str(folder), "-o", str(work / "app.exe"),
                                         "--stub", str(harness.STUB)] + q))
        pack, build = statistics.median(times["pack"]), statistics.median(times["build"])
        print("quality %2d: pack %.2f s, build %.2f s, build - pack %+.2f s" % (quality, pack, build, build - pack))
    for quality in args.quality or [11, 1]:
        cache_figures(folder, files, quality)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Whole-run benchmark under Wine: the launcher's warm and cold starts beside
programs that do only the unavoidable part of the same work, interleaved and
pinned to one CPU. Prints medians, net ratios and peak memory.

    net = (launcher - launch floor) / (limit - floor)

Run through scripts/bench.sh, which builds everything and sets the environment
that tests/e2e/harness.py reads.
"""
import argparse
import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests" / "e2e"))
import harness  # noqa: E402

PROGRAMS = harness.TARGET / "bench-programs"
WINE_PE_DIRS = ["/usr/lib/i386-linux-gnu/wine/i386-windows", "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"]


def pick_files(total, at_most=None):
    """Real executables and libraries nobody here wrote, about `total` bytes."""
    files = []
    for folder in WINE_PE_DIRS:
        if os.path.isdir(folder):
            files += sorted(pathlib.Path(folder).glob("*.dll"))
            break
    chosen, size = [], 0
    for f in files:
        if size >= total:
            break
        if at_most is None or f.stat().st_size <= at_most:
            chosen.append(f)
            size += f.stat().st_size
    return chosen


def packed(folder, out):
    if not out.exists():
        subprocess.run([harness.PACKER, "pack", str(out), str(folder)], check=True)
    return out.read_bytes()


def cold_limit_exe(payload_file, work):
    exe = work / "cold_limit.exe"
    if not exe.exists():
        harness.build_exe(payload_file, exe, stub=PROGRAMS / "bench_cold_limit.exe")
    return exe


def make_shape(name, files, work, probe_size=0):
    """A payload of `files` plus the probe as .\\quillbox.exe (grown to `probe_size`
    bytes), with its launcher and cold limit."""
    folder = work / name / "app"
    if not folder.exists():
        folder.mkdir(parents=True)
        for f in files:
            shutil.copyfile(f, folder / f.name)
        # The probe, grown to the size asked for with the bytes of real
        # libraries as an overlay, so that it compresses like a real program.
        probe = harness.probe_bytes()
        filler = b"".join(f.read_bytes() for f in pick_files(probe_size))
        (folder / "quillbox.exe").write_bytes(probe + filler[:max(0, probe_size - len(probe))])
    payload_file = work / name / "payload.bin"
    data = packed(folder, payload_file)
    names = sorted(p.name for p in folder.iterdir())  # the packer's order for a flat folder
    sizes = [str((folder / n).stat().st_size) for n in names]
    return {
        "name": name,
        "bytes": sum(int(s) for s in sizes),
        "files": len(names),
        "launcher": harness.launcher(data, name="quillbox.exe"),
        "cold_limit": cold_limit_exe(payload_file, work / name),
        "sizes": sizes,
        "names": names,
    }


def peak_of(pid):
    """VmHWM in KiB of a running process (under Wine, the Windows process itself)."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def timed(argv, env):
    """Wall time of one run and its peak memory, polled while it runs (the high-water
    mark only rises, so a late look still sees the peak)."""
    start = time.perf_counter()
    process = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    peak = 0
    while process.poll() is None:
        peak = max(peak, peak_of(process.pid))
        time.sleep(0.002)
    elapsed = time.perf_counter() - start
    if process.returncode != 0:
        raise RuntimeError("%s failed with %d" % (argv, process.returncode))
    return elapsed, peak


def bench_shape(shape, rounds):
    env = harness.wine_environment()
    wine = ["taskset", "-c", "0", harness.WINE]
    app = harness.APP_DIR
    app_win = harness.APP_DIR_WIN
    scratch = harness.PREFIX / "drive_c" / "bench-cold"
    files_win = ["%s\\%s" % (app_win, n) for n in shape["names"]]

    def fill():
        harness.reset_app_dir()
        # No pipes: a persistent wineserver may hold their write ends open.
        subprocess.run(wine + [str(shape["launcher"])], env=env, check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def clear_scratch():
        shutil.rmtree(scratch, ignore_errors=True)

    commands = {
        "floor": (wine + [str(PROGRAMS / "bench_floor.exe")], None),
        "launch floor": (wine + [str(PROGRAMS / "bench_launch_floor.exe"), app_win + "\\quillbox.exe"], None),
        "known folder": (wine + [str(PROGRAMS / "bench_known_folder.exe")], None),
        "warm limit": (wine + [str(PROGRAMS / "bench_warm_limit.exe")] + files_win, None),
        "cold limit": (wine + [str(shape["cold_limit"]), harness.to_windows(scratch)] + shape["sizes"], clear_scratch),
        "launcher warm": (wine + [str(shape["launcher"])], None),
        "launcher cold": (wine + [str(shape["launcher"])], harness.reset_app_dir),
    }
    times = {k: [] for k in commands}
    memory = {k: 0 for k in commands}
    fill()
    for _ in range(rounds):
        for name, (argv, prepare) in commands.items():
            if prepare:
                prepare()
            elif name in ("launch floor", "warm limit", "launcher warm") and not (app / "quillbox.exe").exists():
                fill()
            elapsed, rss = timed(argv, env)
            times[name].append(elapsed)
            memory[name] = max(memory[name], rss)
    return {k: statistics.median(v) for k, v in times.items()}, memory


def report(shape, medians, memory):
    floor, launch_floor = medians["floor"], medians["launch floor"]
    warm_net = (medians["launcher warm"] - launch_floor) / max(medians["warm limit"] - floor, 1e-9)
    cold_net = (medians["launcher cold"] - launch_floor) / max(medians["cold limit"] - floor, 1e-9)
    print("\npayload %s: %d files, %.1f MiB" % (shape["name"], shape["files"], shape["bytes"] / 2**20))
    print("  %-16s %10s %12s" % ("command", "median ms", "peak RSS KiB"))
    for name in medians:
        print("  %-16s %10.1f %12d" % (name, medians[name] * 1000, memory[name]))
    print("  warm net ratio   %6.2f   (target <= 1.10)" % warm_net)
    print("  cold net ratio   %6.2f   (target <= 1.15)" % cold_net)
    # The known-folder lookup is part of the launcher's required work but of no
    # limit's; with its fixed price taken out the ratios compare like with like.
    shell = medians["known folder"] - floor
    print("  known-folder lookup costs %.1f ms; without it: warm net %.2f, cold net %.2f" % (
        shell * 1000, (medians["launcher warm"] - launch_floor - shell) / max(medians["warm limit"] - floor, 1e-9),
        (medians["launcher cold"] - launch_floor - shell) / max(medians["cold limit"] - floor, 1e-9)))
    print("  cold peak memory %6.2f x the cold limit's (target <= 1.10; Wine's own share included)"
          % (memory["launcher cold"] / max(memory["cold limit"], 1)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--rounds", type=int, default=15)
    args = parser.parse_args()
    work = harness.WORK / "bench"
    work.mkdir(parents=True, exist_ok=True)
    subprocess.run(["wineserver", "-p"], env=harness.wine_environment())  # keep one server for every run
    large = pick_files(30 << 20)
    shipped = pick_files(2 << 20, at_most=3 << 20)[-1:]
    print("Wine loader %s, build %s, pinned to CPU 0, %d interleaved rounds" % (harness.WINE, harness.TARGET.name,
                                                                             args.rounds))
    for shape in (make_shape("large", large, work), make_shape("shipped", shipped, work, probe_size=4 << 20)):
        medians, memory = bench_shape(shape, args.rounds)
        report(shape, medians, memory)
    harness.reset_app_dir()


if __name__ == "__main__":
    main()

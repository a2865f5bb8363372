#!/usr/bin/env python3
"""Whole-run benchmark under Wine: the launcher's warm and cold starts beside
programs that do only the unavoidable part of the same work with the launcher's
own techniques (the limits, which also ask for the known folder as every start
must): the warm limit hashes each file through one 256 KiB block kept for the
run, the cold limit decodes each entry whole into one buffer kept for the run
and grown only for a larger entry. Interleaved and pinned to one CPU. Prints
medians, net ratios and peak memory per shape, a 600 MiB file's cold and warm
start, and then every target in one table.

    net = (launcher - launch floor) / (limit - floor)

Run through scripts/bench.sh, which builds everything, runs the native
micro-benchmarks (their ratios come in through --micro) and sets the
environment that tests/support/wine_session.py reads.
"""
import argparse
import os
import pathlib
import re
import shutil
import statistics
import subprocess
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests" / "support"))
import wine_session as harness  # noqa: E402

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


def limit_exe(kind, payload_file, work):
    """The warm or cold limit with the shape's payload in its payload section."""
    exe = work / ("%s_limit.exe" % kind)
    stub = PROGRAMS / ("bench_%s_limit.exe" % kind)
    if not exe.exists() or exe.stat().st_mtime < max(stub.stat().st_mtime, os.path.getmtime(payload_file)):
        harness.build_exe(payload_file, exe, stub=stub)
    return exe


def make_shape(name, files, work, probe_size=0):
    """A payload of `files` plus the probe as .\\quillbox.exe (grown to `probe_size`
    bytes), with its launcher and limits."""
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
        # The same with the exit-code setting: its section is read at every start.
        "app_launcher": harness.launcher(data, name="quillbox.exe", options=("--exit-code", "app")),
        "warm_limit": limit_exe("warm", payload_file, work / name),
        "cold_limit": limit_exe("cold", payload_file, work / name),
        "sizes": sizes,
        "names": names,
    }


def drop_from_page_cache(path):
    """Lets the next run read `path` back like a program that was never started.
    A file just written or copied sits in the page cache in larger folios, and a
    touched page of a mapping then brings in all of its folio: the launcher,
    copied into the prefix, showed about 1 MiB more of its payload resident at a
    warm start than the limit written by the packer, for the same pages read."""
    fd = os.open(path, os.O_RDONLY)
    try:
        os.fsync(fd)
        os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
    finally:
        os.close(fd)


def timed(argv, env):
    """Wall time of one run and its peak resident memory in KiB."""
    status, elapsed, peak, _ = harness.measured_run(argv, env)
    if status != 0:
        raise RuntimeError("%s failed with %d" % (argv, status))
    return elapsed, peak


def round_order(names, round_number):
    """`names` in their order, with each launcher's start and the same start with
    --exit-code app swapped every other round: whichever runs second finds the
    page cache and the folder as the first left them, which would otherwise
    count against one of the two every time."""
    if round_number % 2:
        for pair in (("launcher warm", "exit-code warm"), ("launcher cold", "exit-code cold")):
            i, j = names.index(pair[0]), names.index(pair[1])
            names[i], names[j] = names[j], names[i]
    return names


def bench_shape(shape, rounds):
    env = harness.wine_environment()
    wine = ["taskset", "-c", "0", harness.WINE]
    app = harness.APP_DIR
    app_win = harness.APP_DIR_WIN
    scratch = harness.PREFIX / "drive_c" / "bench-cold"

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
        "warm limit": (wine + [str(shape["warm_limit"]), app_win], None),
        "cold limit": (wine + [str(shape["cold_limit"]), harness.to_windows(scratch)] + shape["sizes"], clear_scratch),
        "launcher warm": (wine + [str(shape["launcher"])], None),
        "exit-code warm": (wine + [str(shape["app_launcher"])], None),
        "launcher cold": (wine + [str(shape["launcher"])], harness.reset_app_dir),
        "exit-code cold": (wine + [str(shape["app_launcher"])], harness.reset_app_dir),
    }
    times = {k: [] for k in commands}
    memory = {k: 0 for k in commands}
    for exe in (shape["launcher"], shape["app_launcher"], shape["warm_limit"], shape["cold_limit"]):
        drop_from_page_cache(exe)
    fill()
    for round_number in range(rounds):
        for name in round_order(list(commands), round_number):
            argv, prepare = commands[name]
            if prepare:
                prepare()
            elif (name in ("launch floor", "warm limit", "launcher warm", "exit-code warm")
                  and not (app / "quillbox.exe").exists()):
                fill()
            elapsed, rss = timed(argv, env)
            times[name].append(elapsed)
            memory[name] = max(memory[name], rss)
    return {k: statistics.median(v) for k, v in times.items()}, memory


def report(shape, medians, memory):
    """Prints the shape's figures and returns its rows of the target table."""
    floor, launch_floor = medians["floor"], medians["launch floor"]
    warm_net = (medians["launcher warm"] - launch_floor) / max(medians["warm limit"] - floor, 1e-9)
    cold_net = (medians["launcher cold"] - launch_floor) / max(medians["cold limit"] - floor, 1e-9)
    label = "%.1f MiB in %d files" % (shape["bytes"] / 2**20, shape["files"])
    print("\npayload %s: %s" % (shape["name"], label))
    print("  %-16s %10s %12s" % ("command", "median ms", "peak RSS KiB"))
    for name in medians:
        print("  %-16s %10.1f %12d" % (name, medians[name] * 1000, memory[name]))
    # Peak memory includes Wine's own share, the same for every program.
    return [
        ("warm net", label, warm_net, 1.05),
        ("cold net", label, cold_net, 1.05),
        # The exit-code setting's cost: the start with it against the one without.
        ("--exit-code app warm / without", label, medians["exit-code warm"] / medians["launcher warm"], 1.05),
        ("--exit-code app cold / without", label, medians["exit-code cold"] / medians["launcher cold"], 1.05),
        ("warm peak memory / warm limit's", label, memory["launcher warm"] / max(memory["warm limit"], 1), 1.05),
        ("cold peak memory / cold limit's", label, memory["launcher cold"] / max(memory["cold limit"], 1), 1.05),
    ]


def bench_big_file(work, rounds):
    """Cold and warm starts with one 600 MiB file; their peak private memory
    against the file and the payload together."""
    payload_file, _ = harness.big_payload(work)
    exe = harness.launcher(payload_file.read_bytes())
    env = harness.wine_environment()
    argv = ["taskset", "-c", "0", harness.WINE, str(exe)]
    both = harness.BIG_SIZE + payload_file.stat().st_size
    times = {"cold": [], "warm": []}
    private = {"cold": 0, "warm": 0}
    for _ in range(rounds):
        for kind in ("cold", "warm"):
            if kind == "cold":
                harness.reset_app_dir()
            status, elapsed, _, anonymous = harness.measured_run(argv, env)
            if status != 0:
                raise RuntimeError("%s failed with %d" % (argv, status))
            times[kind].append(elapsed)
            private[kind] = max(private[kind], anonymous)
    harness.reset_app_dir()
    label = "600 MiB file, payload %.1f MiB" % (payload_file.stat().st_size / 2**20)
    print("\n%s" % label)
    for kind in ("cold", "warm"):
        print("  %s start %8.1f ms median, peak private %d KiB = %.2f x (file + payload)" % (
            kind, statistics.median(times[kind]) * 1000, private[kind], private[kind] * 1024 / both))
    return [("%s peak private / (file + payload)" % kind, label, private[kind] * 1024 / both, harness.PEAK_FACTOR)
            for kind in ("cold", "warm")]


def micro_rows(path):
    """The ratio lines of the native micro-benchmarks' output."""
    rows = []
    for line in pathlib.Path(path).read_text().splitlines():
        found = re.match(r"^(\S.*?)\s+([0-9.]+)\s+\(target >= ([0-9.]+)\)$", line)
        if found:
            rows.append((found.group(1), "native", float(found.group(2)), -float(found.group(3))))
    return rows


def print_table(rows):
    """One line per target; a negative limit is a lower bound."""
    print("\n%-40s %-34s %7s %9s  %s" % ("target", "shape", "value", "limit", "met"))
    for what, shape, value, limit in rows:
        met = value >= -limit if limit < 0 else value <= limit
        bound = ">= %.2f" % -limit if limit < 0 else "<= %.2f" % limit
        print("%-40s %-34s %7.2f %9s  %s" % (what, shape, value, bound, "yes" if met else "NO"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--big-rounds", type=int, default=3, help="rounds of the 600 MiB file (0: none)")
    parser.add_argument("--micro", help="output of the native micro-benchmarks, for the table")
    args = parser.parse_args()
    work = harness.WORK / "bench"
    work.mkdir(parents=True, exist_ok=True)
    subprocess.run(["wineserver", "-p"], env=harness.wine_environment())  # keep one server for every run
    large = pick_files(30 << 20)
    shipped = pick_files(2 << 20, at_most=3 << 20)[-1:]
    print("Wine loader %s, build %s, pinned to CPU 0, %d interleaved rounds" % (harness.WINE, harness.TARGET.name,
                                                                             args.rounds))
    rows = []
    for shape in (make_shape("large", large, work), make_shape("shipped", shipped, work, probe_size=4 << 20)):
        medians, memory = bench_shape(shape, args.rounds)
        rows += report(shape, medians, memory)
    harness.reset_app_dir()
    if args.big_rounds > 0:
        rows += bench_big_file(harness.WORK / "big-file", args.big_rounds)
    if args.micro:
        rows += micro_rows(args.micro)
    print_table(rows)


if __name__ == "__main__":
    main()

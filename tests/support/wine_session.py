"""Running the real launcher under Wine, for the end-to-end tests and the
benchmark alike: the prefix and per-user folder, launchers built around
payloads (the stub plus quillbox-pack build), starts with their output and
status, measured starts, and the big application file.

Configuration comes from the environment (CTest or scripts/bench.sh sets it):
  QUILLBOX_TARGET_BUILD  the MinGW build folder (quillbox-stub.exe, test programs)
  QUILLBOX_WINE          the Wine loader for that build's architecture
  QUILLBOX_PACKER        the host packer
  WINEPREFIX             the prefix, created by scripts/wine-env.sh
"""
import hashlib
import json
import os
import pathlib
import random
import shutil
import subprocess
import tempfile
import time

from quillbox_files import PeImage, payload  # noqa: F401  (the tests take them from here)

TARGET = pathlib.Path(os.environ.get("QUILLBOX_TARGET_BUILD", "."))
WINE = os.environ.get("QUILLBOX_WINE", "wine")
PACKER = os.environ.get("QUILLBOX_PACKER", "quillbox-pack")
PREFIX = pathlib.Path(os.environ.get("WINEPREFIX", str(pathlib.Path.home() / ".wine")))
PROGRAMS = TARGET / "test-programs"
STUB = TARGET / "quillbox-stub.exe"
WORK = pathlib.Path(os.environ.get("QUILLBOX_E2E_WORK", str(TARGET / "e2e-work")))
FAST_FAIL_STATUS = 0xC0000409 & 0xFF  # what the Linux side sees of STATUS_STACK_BUFFER_OVERRUN

USER = os.environ.get("USER") or "root"
LOCAL_APPDATA_WIN = "C:\\users\\%s\\AppData\\Local" % USER
APP_DIR_WIN = LOCAL_APPDATA_WIN + "\\quillbox"
APP_DIR = PREFIX / "drive_c" / "users" / USER / "AppData" / "Local" / "quillbox"


def wine_environment(extra=None):
    env = dict(os.environ)
    env.update({"WINEDEBUG": "-all", "WINEPREFIX": str(PREFIX), "WINEDLLOVERRIDES": "mscoree,mshtml="})
    for name in list(env):
        if name.startswith("QUILLBOX_PROBE"):
            del env[name]
    env.update(extra or {})
    return env


def to_windows(path):
    """The Windows path of a file under the prefix's drive C, or under Z: for the rest."""
    path = pathlib.Path(path).resolve()
    drive_c = (PREFIX / "drive_c").resolve()
    if drive_c in path.parents or path == drive_c:
        return "C:\\" + str(path.relative_to(drive_c)).replace("/", "\\")
    return "Z:" + str(path).replace("/", "\\")


def probe_bytes():
    return (PROGRAMS / "probe.exe").read_bytes()


_built = {}


def build_exe(payload_file, out, stub=STUB, options=()):
    """`stub` with `payload_file` embedded as it is, damaged or not, written to `out`."""
    subprocess.run([PACKER, "build", str(payload_file), "-o", str(out), "--stub", str(stub), "--no-verify", "--quiet"]
                   + list(options), check=True)
    return out


def launcher(payload_bytes, name="quillbox.exe", options=()):
    """The launcher built around `payload_bytes` with the build `options`, placed in
    a folder of its own under the prefix's drive C with the file name `name`."""
    key = hashlib.sha256(payload_bytes + " ".join(options).encode()).hexdigest()[:16]
    built = _built.get(key)
    if built is None:
        folder = WORK / "build" / key
        folder.mkdir(parents=True, exist_ok=True)
        (folder / "payload.bin").write_bytes(payload_bytes)
        built = build_exe(folder / "payload.bin", folder / "launcher.exe", options=options)
        _built[key] = built
    place = PREFIX / "drive_c" / "e2e" / key
    place.mkdir(parents=True, exist_ok=True)
    exe = place / name
    if not exe.exists() or exe.stat().st_mtime < built.stat().st_mtime:
        shutil.copyfile(built, exe)
    return exe


class Run:
    def __init__(self, status, stdout, stderr):
        self.status, self.stdout, self.stderr = status, stdout, stderr

    def __repr__(self):
        return "status %d\nstdout:\n%s\nstderr:\n%s" % (self.status, self.stdout, self.stderr)


class Started:
    """A program started under Wine with its output going to files, not pipes: a
    console application that the GUI launcher starts gets a conhost.exe of its
    own, which holds inherited pipes open for a second or so after everything
    has ended, and reading a pipe to its end waits for that. A file is whole
    once the program has exited."""

    def __init__(self, argv, env=None, cwd=None):
        self.out, self.err = tempfile.TemporaryFile(), tempfile.TemporaryFile()
        self.process = subprocess.Popen(argv, env=wine_environment(env), cwd=cwd, stdin=subprocess.DEVNULL,
                                        stdout=self.out, stderr=self.err)

    def finish(self, timeout=60):
        """Waits for the program's end (killed at `timeout`); its status and output."""
        try:
            self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise
        finally:
            outputs = []
            for f in (self.out, self.err):
                f.seek(0)
                outputs.append(f.read().decode("utf-8", "replace"))
                f.close()
        return Run(self.process.returncode, *outputs)


def run(exe, args=(), env=None, cwd=None, command_line=None, no_std_handles=False, full_status=False, timeout=60):
    """Runs `exe` under Wine. With `command_line`, the exact Windows command line is
    handed to CreateProcessW by start.exe, so no Unix-side quoting comes between.
    With `full_status`, start.exe reports all 32 bits of the exit status, of which
    Linux sees only the low 8; `args` then go on the command line, quoted."""
    if command_line is None and full_status:
        command_line = " ".join('"%s"' % word for word in [to_windows(exe)] + list(args))
    if command_line is not None or no_std_handles:
        line = command_line if command_line is not None else '"%s"' % to_windows(exe)
        line_file = PREFIX / "drive_c" / "e2e" / "command_line.txt"
        line_file.parent.mkdir(parents=True, exist_ok=True)
        line_file.write_bytes(line.encode("utf-16-le", "surrogatepass"))
        argv = [WINE, str(PROGRAMS / "start.exe")] + (["--no-std-handles"] if no_std_handles else [])
        argv += (["--print-status"] if full_status else []) + [to_windows(exe), "@" + to_windows(line_file)]
    else:
        argv = [WINE, str(exe)] + list(args)
    done = Started(argv, env, cwd).finish(timeout)
    if full_status:
        head, _, status = done.stdout.rpartition("start.exe: exit code 0x")
        assert status.endswith("\n"), done
        done.stdout, done.status = head, int(status, 16)
    return done


# Prefix chores (registry, wineboot) go through wine64 even for a 32-bit build:
# where 32-bit Wine is emulated, its tools take a minute each.
CHORE_WINE = "/usr/lib/wine/wine64" if os.path.exists("/usr/lib/wine/wine64") else WINE


def wine_chore(*argv):
    subprocess.run([CHORE_WINE] + list(argv), env=wine_environment(), capture_output=True, check=True, timeout=600)


def set_local_appdata(value):
    key = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders"
    wine_chore("reg", "add", key, "/v", "Local AppData", "/t", "REG_EXPAND_SZ", "/d", value, "/f")


def record_path(tag="record"):
    path = PREFIX / "drive_c" / "e2e" / ("%s.json" % tag)
    path.parent.mkdir(parents=True, exist_ok=True)
    if path.exists():
        path.unlink()
    return path


def read_record(path):
    return json.loads(path.read_text())


def reset_app_dir():
    if APP_DIR.is_symlink() or APP_DIR.is_file():
        APP_DIR.unlink()
    elif APP_DIR.exists():
        for p in APP_DIR.rglob("*"):
            try:
                p.chmod(0o755 if p.is_dir() else 0o644)
            except OSError:
                pass
        shutil.rmtree(APP_DIR)


def folder_contents(root=APP_DIR):
    """{relative path: bytes} of every file under `root`."""
    return {str(p.relative_to(root)): p.read_bytes() for p in sorted(root.rglob("*")) if p.is_file()}


def keep_server_running(seconds=60):
    """Keeps the prefix's wineserver up between the test's starts: one that exits
    3 s after its last client can close its socket on a client that is just
    connecting ("recvmsg: Connection reset by peer") when the machine is loaded.
    No pipes of ours: the server outlives this process and would hold them open."""
    quiet = dict(env=wine_environment(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                 stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "--persistent=%d" % seconds], timeout=60, **quiet)
    # The prefix's services start with the first program and live as long as the
    # server: started here, they hold no test's pipes.
    subprocess.run([CHORE_WINE, "wineboot"], timeout=600, **quiet)


def _memory_kib(pid):
    """(peak resident, resident private) in KiB of a running process; under Wine,
    the Windows process itself. Zeros once it is gone."""
    fields = {}
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                name, _, value = line.partition(":")
                if name in ("VmHWM", "RssAnon"):
                    fields[name] = int(value.split()[0])
    except OSError:
        pass
    return fields.get("VmHWM", 0), fields.get("RssAnon", 0)


def measured_run(argv, env=None, timeout=600):
    """Runs `argv` to its end with no standard streams. Returns (status, seconds,
    peak resident KiB, peak private KiB). The resident peak is the kernel's own
    high-water mark; the private one is polled, so a spike shorter than a few
    milliseconds may escape it."""
    start = time.perf_counter()
    # No pipes: a persistent wineserver may hold their write ends open.
    process = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    peak, private = 0, 0
    while process.poll() is None:
        resident, anonymous = _memory_kib(process.pid)
        peak, private = max(peak, resident), max(private, anonymous)
        if time.perf_counter() - start > timeout:
            process.kill()
            process.wait()
            raise subprocess.TimeoutExpired(argv, timeout)
        time.sleep(0.002)
    return process.returncode, time.perf_counter() - start, peak, private


# One application file of 600 MiB, for the test that starts it and the benchmark.
BIG_SIZE = 600 << 20
PEAK_FACTOR = 1.1  # peak private memory at most this times (file + payload)


def write_compressible_file(path, size):
    """Text-like blocks of 16 KiB that differ from each other in a few bytes, so
    that even the fastest quality packs them small (to about 2 %) and quickly."""
    rng = random.Random(13)
    block = bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz     \n") for _ in range(16 << 10))
    with open(path, "wb") as out:
        for i in range(size // len(block)):
            at = (i * 7919) % (len(block) - 8)
            out.write(block[:at] + b"%08d" % i + block[at + 8:])
        out.write(block[:size % len(block)])


def big_payload(work):
    """(payload file, content digest) of the probe as .\\quillbox.exe beside the big
    file, packed at quality 1; made once per build folder."""
    folder = work / "app"
    payload_file = work / "payload.bin"
    digest_file = work / "big.md5"
    if not payload_file.exists() or not digest_file.exists():
        folder.mkdir(parents=True, exist_ok=True)
        (folder / "quillbox.exe").write_bytes(probe_bytes())
        write_compressible_file(folder / "big.bin", BIG_SIZE)
        with open(folder / "big.bin", "rb") as f:
            digest_file.write_text(hashlib.file_digest(f, "md5").hexdigest())
        subprocess.run([PACKER, "pack", str(payload_file), str(folder), "--quality", "1", "--no-cache"], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        (folder / "big.bin").unlink()  # the payload and the digest are all that is needed again
    return payload_file, digest_file.read_text()

"""The shipped 32-bit launcher (the i686 stub plus quillbox-pack build, around the
i686 probe) under 32-bit Wine, where the broad suites run the x86_64 build: what
differs between the two builds (the system calls' conventions, the digests'
assembly, the fast-fail, the 32-bit image) seen from outside. Where 32-bit Wine
runs natively, the broad suites run this build themselves and this test is not
registered.

Where the kernel runs no 32-bit programs, qemu-i386 (registered by
install-deps.sh) runs 32-bit Wine at about a minute per program started, so the
starts are three and each checks as much as one start shows. Under emulation a
fast-fail shows as an illegal instruction (qemu has no int 0x29); that status,
and only that one, is accepted there, with the same report and nothing on disk.
"""
import hashlib
import os
import pathlib
import subprocess
import sys
import unittest

import harness
from harness import APP_DIR, APP_DIR_WIN, PREFIX, folder_contents, launcher, payload, probe_bytes, read_record, \
    record_path, reset_app_dir, run, to_windows



def wine32_mode():
    """native, emulated or none, as scripts/wine-env.sh tells them apart."""
    if os.environ.get("QUILLBOX_WINE32"):
        return os.environ["QUILLBOX_WINE32"]
    try:
        subprocess.run([harness.WINE, "--version"], capture_output=True, check=True, timeout=300)
    except (OSError, subprocess.SubprocessError):
        return "none"
    for entry in pathlib.Path("/proc/sys/fs/binfmt_misc").glob("*"):
        try:
            text = entry.read_text()
        except OSError:
            continue
        if text.startswith("enabled") and "\ninterpreter " in text and "qemu-i386" in text:
            return "emulated"
    return "native"


WINE32 = wine32_mode()
START_TIMEOUT = 900 if WINE32 == "emulated" else 120
# What the Linux side sees of a fast-fail: 0xC0000409 natively; under qemu-user,
# EXCEPTION_ILLEGAL_INSTRUCTION (0xC000001D), as no debugger is configured.
FATAL_STATUS = 0xC000001D & 0xFF if WINE32 == "emulated" else harness.FAST_FAIL_STATUS

LIBRARY = bytes(range(256)) * 300
# A file whose full path passes the classic 260-character limit.
DEEP = ".\\" + "\\".join(["deep-folder-%02d" % i for i in range(20)]) + "\\data.bin"
DEEP_CONTENT = b"deep" * 1000
APP = APP_DIR_WIN + "\\.\\quillbox.exe"


def app_payload():
    return payload([(".\\quillbox.exe", probe_bytes()), (".\\quillbox_greeting.dll", LIBRARY),
                    (DEEP, DEEP_CONTENT)])


def expected_files():
    return {"quillbox.exe": probe_bytes(), "quillbox_greeting.dll": LIBRARY,
            DEEP[2:].replace("\\", "/"): DEEP_CONTENT}


def make_prefix():
    """The prefix for this test, once per build folder: a 64-bit one (its services
    run natively) in which no debugger starts on an unhandled exception."""
    if (PREFIX / "system.reg").exists():
        return
    PREFIX.mkdir(parents=True, exist_ok=True)
    harness.wine_chore("wineboot", "--init")
    for key in ("HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug",
                "HKLM\\Software\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug"):
        harness.wine_chore("reg", "add", key, "/v", "Debugger", "/t", "REG_SZ", "/d", "", "/f")
        harness.wine_chore("reg", "add", key, "/v", "Auto", "/t", "REG_SZ", "/d", "0", "/f")
    subprocess.run(["wineserver", "--wait"], env=harness.wine_environment(), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)


class ShippedLauncher(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if WINE32 == "none":
            if os.environ.get("CI") == "true":
                raise AssertionError("CI=true, but 32-bit Wine cannot run here, natively or emulated")
            raise unittest.SkipTest("%s 32-bit programs on this machine" % harness.WINE_SKIP_MARK)
        make_prefix()
        # One wineserver for the whole test: each start then finds the prefix's services running.
        harness.keep_server_running(300)

    def setUp(self):
        reset_app_dir()

    def start(self, exe, args=(), env=None):
        return run(exe, args=args, env=env, timeout=START_TIMEOUT)

    def start_probe(self, exe, args=(), env=None):
        record = record_path()
        env = dict(env or {}, QUILLBOX_PROBE_RECORD=to_windows(record))
        done = self.start(exe, args, env)
        self.assertEqual(done.status, 0, done)
        return done, read_record(record)

    def test_install_start_then_a_stale_start_with_arguments(self):
        # Install by name over a folder the user left things in: the removal's
        # system calls, every file written, the application started.
        (APP_DIR / "left-by-user").mkdir(parents=True)
        (APP_DIR / "left-by-user" / "old.txt").write_bytes(b"old")
        done, record = self.start_probe(launcher(app_payload(), name="quillbox-setup-INSTALL.exe"))
        self.assertEqual(done.stdout, "executing %s\nprobe: running\n" % APP)  # a first start writes silently
        self.assertEqual(done.stderr, "")
        self.assertEqual(record["argv"], [APP, "--install"])
        self.assertIn("QUILLBOX_APPNAME=quillbox-setup-INSTALL.exe", record["environment"])
        self.assertTrue(record["stdout"] and record["stderr"])
        self.assertEqual(folder_contents(), expected_files())

        # A normal start over an edited file: the digests read back from disk
        # (the 32-bit assembly), every argument handed on, the environment sorted.
        (APP_DIR / "quillbox_greeting.dll").write_bytes(b"edited")
        args = ["a b", "", 'say"hi', "C:\\my dir\\", "tab\there", "\u00e9\u4e2d\U0001F600"]
        done, record = self.start_probe(launcher(app_payload()), args, env={"QB_ORDER_b": "1", "QB_ORDER_A": "2"})
        self.assertEqual(done.stdout.splitlines(), [
            "skip .\\quillbox.exe",
            "writing %s\\.\\quillbox_greeting.dll" % APP_DIR_WIN,
            "%s -> %s" % (hashlib.md5(LIBRARY).hexdigest(), hashlib.md5(b"edited").hexdigest()),
            "skip %s" % DEEP,
            "executing %s" % APP,
            "probe: running",
        ])
        self.assertEqual(record["argv"], [APP] + args)
        self.assertEqual(record["shell_argv"], [APP] + args)
        self.assertTrue(record["command_line"].startswith('"%s" "a b" ""' % APP), record["command_line"])
        self.assertIn("QUILLBOX_APPNAME=quillbox.exe", record["environment"])
        self.assertEqual(record["environment_unordered"], [])
        self.assertEqual(folder_contents(), expected_files())

    def test_a_damaged_payload_stops_promptly_with_its_report_and_nothing_on_disk(self):
        good = app_payload()
        exe = launcher(good[:8] + b"\xff\xff\xff\xff" + good[12:])
        done = self.start(exe)
        self.assertEqual(done.status, FATAL_STATUS, done)
        self.assertIn("lies after the wrapped name end", done.stderr)
        self.assertIn(" at libs/portable/src/", done.stderr)
        self.assertEqual(done.stdout, "")
        self.assertFalse(APP_DIR.exists())


if __name__ == "__main__":
    if sys.argv[1:] == ["--make-prefix"]:  # scripts/test.sh, while the build runs
        make_prefix()
    else:
        unittest.main()

"""quillbox-pack.exe, the packer built for Windows, under wine64: for the same
folder and options it writes the Linux packer's bytes exactly, reads launchers
the same way, and refuses bad input with the same line and status, leaving no
output behind."""
import os
import pathlib
import shutil
import subprocess
import tempfile
import unittest

from harness import (PACKER, PROGRAMS, STUB, TARGET, folder_contents, keep_server_running, to_windows,
                     wine_environment)
from quillbox_files import ico_file, icon_bitmap, icon_png

PACKER_EXE = pathlib.Path(os.environ.get("QUILLBOX_PACKER_EXE", "quillbox-pack.exe"))
WINE64 = os.environ.get("QUILLBOX_WINE64", "/usr/lib/wine/wine64")
SAMPLE = TARGET / "sample" / "app"
SYSTEM_LIBRARIES = {"kernel32.dll", "msvcrt.dll", "advapi32.dll", "user32.dll", "ws2_32.dll", "crypt32.dll",
                    "shell32.dll", "ole32.dll", "bcrypt.dll"}

# Sub-folders, empty files, names beyond ASCII (one outside the BMP), spaces,
# and a path far beyond MAX_PATH, which only the \\?\ form reaches.
DEEP = "/".join(["deep folder %02d with a long name" % i for i in range(10)])
TREE = {
    "quillbox.exe": b"MZ program",
    "empty.txt": b"",
    "lib/app.dll": b"library" * 1000,
    "lib/empty/nothing.bin": b"",
    "données/résumé.txt": "déjà vu".encode(),
    "日本語/ファイル.dat": bytes(range(256)) * 40,
    "emoji \U0001F600.txt": b"smile",
    DEEP + "/far.txt": b"far away",
}


def run_linux(*args):
    done = subprocess.run([PACKER] + [str(a) for a in args], capture_output=True, timeout=600)
    return done.returncode, done.stdout, done.stderr


def run_windows(*args, exe=PACKER_EXE):
    """quillbox-pack.exe with Linux paths given as Windows ones (Z:\\...)."""
    argv = [to_windows(a) if isinstance(a, pathlib.Path) else a for a in args]
    done = subprocess.run([WINE64, str(exe)] + argv, env=wine_environment({"LC_ALL": "C.UTF-8"}),
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=600)
    return done.returncode, done.stdout, done.stderr


def windows_packer_runs():
    try:
        return run_windows("--help")[0] == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


class WindowsPacker(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not PACKER_EXE.is_file():
            raise AssertionError("%s is missing; scripts/build.sh builds it" % PACKER_EXE)
        if not windows_packer_runs():
            raise unittest.SkipTest("wine64 cannot run %s on this machine" % PACKER_EXE.name)
        keep_server_running()

    def setUp(self):
        self.dir = pathlib.Path(tempfile.mkdtemp(prefix="packer-windows."))
        self.addCleanup(shutil.rmtree, self.dir, True)

    def tree(self):
        root = self.dir / "tree"
        for name, content in TREE.items():
            (root / name).parent.mkdir(parents=True, exist_ok=True)
            (root / name).write_bytes(content)
        (root / "no files here" / "nor here").mkdir(parents=True)
        return root

    def assert_success(self, done):
        self.assertEqual(done[0], 0, done)
        self.assertEqual(done[2], b"", done)

    def test_builds_the_linux_packers_bytes(self):
        tree = self.tree()
        icon = self.dir / "app.ico"
        icon.write_bytes(ico_file([(16, 32, icon_bitmap(16, 32)), (32, 4, icon_bitmap(32, 4)), (256, 32, icon_png(256))]))
        resource_options = ["--icon", icon, "--version", "2.0.1", "--version-string", "CompanyName=Société Exemple",
                            "--version-string", "ProductName=quillbox"]
        program = SAMPLE / "quillbox.exe"  # with icons and a version block of its own
        cases = [
            ("sample application", SAMPLE, []),
            ("icon and version block", SAMPLE, resource_options + ["--exit-code", "app"]),
            ("icon and version block of a program", SAMPLE, ["--icon", program, "--version-from", program,
                                                             "--version", "3.1", "--version-string", "Comments=x"]),
            ("tree", tree, []),
            ("tree with options", tree, ["--quality", "5", "--window", "18", "--jobs", "1", "--exe", ".\\données\\résumé.txt"]),
        ]
        for what, folder, options in cases:
            with self.subTest(what):
                linux, windows = self.dir / "linux.exe", self.dir / "windows.exe"
                cache = self.dir / "cache" / what
                self.assert_success(run_linux("build", folder, "-o", linux, "--stub", STUB, "--quiet", "--no-cache",
                                              *options))
                self.assert_success(run_windows("build", folder, "-o", windows, "--stub", STUB, "--quiet",
                                                "--cache", cache, *options))
                self.assertEqual(windows.read_bytes(), linux.read_bytes())
                # Built again over the existing output, every entry from the cache: replaced, not refused as an input.
                status, _, err = run_windows("build", folder, "-o", windows, "--stub", STUB, "--cache", cache, *options)
                self.assertEqual(status, 0, err)
                self.assertRegex(err, rb"\(\d+ from the cache, 0 compressed\)\n$")
                self.assertEqual(windows.read_bytes(), linux.read_bytes())
        self.assertEqual(sorted(p.name for p in self.dir.iterdir()),
                         ["app.ico", "cache", "linux.exe", "tree", "windows.exe"])

    def test_takes_the_stub_beside_itself(self):
        installed = self.dir / "installed"
        installed.mkdir()
        shutil.copyfile(PACKER_EXE, installed / "quillbox-pack.exe")
        shutil.copyfile(STUB, installed / "quillbox-stub.exe")
        linux, windows = self.dir / "linux.exe", self.dir / "windows.exe"
        self.assert_success(run_linux("build", SAMPLE, "-o", linux, "--stub", STUB, "--quiet"))
        self.assert_success(run_windows("build", SAMPLE, "-o", windows, "--quiet", exe=installed / "quillbox-pack.exe"))
        self.assertEqual(windows.read_bytes(), linux.read_bytes())

    def test_lists_verifies_and_unpacks_like_the_linux_packer(self):
        tree = self.tree()
        exe = self.dir / "app.exe"
        program = SAMPLE / "quillbox.exe"  # its icon and version block, two string tables, listed too
        self.assert_success(run_linux("build", tree, "-o", exe, "--stub", STUB, "--quiet", "--icon", program,
                                      "--version-from", program, "--exit-code", "app"))
        for command in (["list"], ["verify"], ["list", "--json"]):
            with self.subTest(command):
                windows = run_windows(*command, exe)
                self.assertEqual(windows, run_linux(*command, exe))
                self.assertEqual(windows[0], 0, windows)
        listed = run_windows("list", exe)[1]
        self.assertIn("日本語\\ファイル.dat\t".encode(), listed)
        self.assertIn(b"version string 040704B0 FileDescription: quillbox Beispielanwendung", listed)
        unpacked = self.dir / "unpacked"
        self.assert_success(run_windows("unpack", exe, unpacked))
        self.assertEqual(folder_contents(unpacked), folder_contents(tree))

    def test_refuses_bad_input_like_the_linux_packer_and_leaves_no_output(self):
        folder = self.tree()
        out_dir = self.dir / "out"
        out_dir.mkdir()
        out = out_dir / "app.exe"
        cases = [
            # what, input folder, output; the message up to the operating system's own words
            ("missing folder", self.dir / "missing", out, "{input}: no such file or folder\n"),
            ("output in a missing folder", folder, out_dir / "nope" / "app.exe",
             "cannot write {output}: folder {output_folder} does not exist\n"),
            # Even root cannot create files in /proc.
            ("unwritable output", folder, pathlib.Path("/proc/app.exe"), "cannot create temporary file "),
        ]
        for what, source, target, message in cases:
            with self.subTest(what):
                for side, run, spell in (("linux", run_linux, str), ("windows", run_windows, to_windows)):
                    status, stdout, stderr = run("build", source, "-o", target, "--stub", STUB, "--quiet")
                    expected = "quillbox-pack: " + message.format(
                        input='"%s"' % spell(source), output='"%s"' % spell(target),
                        output_folder='"%s"' % spell(target.parent))
                    self.assertEqual((status, stdout), (1, b""), (side, stderr))
                    text = stderr.decode()
                    self.assertTrue(text.startswith(expected), (side, text, expected))
                    self.assertEqual(text.count("\n"), 1, (side, text))
                    self.assertFalse(target.exists(), side)
                    self.assertEqual(list(out_dir.iterdir()), [], side)

    def test_case_table_agrees_with_the_platforms_comparison(self):
        # The name gate's case folding (tools/packer/case_fold.cpp) against
        # CompareStringOrdinal ignoring case, over every UTF-16 code unit.
        done = subprocess.run([WINE64, str(PROGRAMS / "case_fold_check.exe")], env=wine_environment(),
                              stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=600)
        self.assertIn("checked 65536 code units: 0 disagreements", done.stdout, done.stdout)
        self.assertEqual(done.returncode, 0, done.stdout)

    def test_listed_names_reach_the_name_rule_as_they_are(self):
        # A folder "sub." listed and passed through the path normaliser again
        # loses its dot: the walk would list "sub" (here missing) and fail
        # before the rule could refuse the name.
        folder = self.dir / "dotted"
        (folder / "sub.").mkdir(parents=True)
        (folder / "quillbox.exe").write_bytes(b"MZ")
        (folder / "sub." / "x.txt").write_bytes(b"x")
        out = self.dir / "app.exe"
        for side, run in (("linux", run_linux), ("windows", run_windows)):
            status, stdout, stderr = run("build", folder, "-o", out, "--stub", STUB, "--quiet")
            self.assertEqual(status, 1, (side, stderr))
            self.assertIn("\"sub.\" that ends in a dot or a space", stderr.decode(), side)
            self.assertFalse(out.exists(), side)

    def test_imports_only_system_libraries(self):
        # A MinGW runtime DLL (libstdc++, libgcc, winpthread) among them means a
        # packer that does not start on a machine without MinGW.
        dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(PACKER_EXE)], capture_output=True, text=True,
                              check=True).stdout
        imports = {line.split(":", 1)[1].strip().lower() for line in dump.splitlines() if "DLL Name:" in line}
        self.assertIn("kernel32.dll", imports)
        self.assertLessEqual(imports, SYSTEM_LIBRARIES)

    def test_usage_errors_help_and_version_are_the_same_bytes(self):
        cases = [([], 2), (["build"], 2), (["build", "folder"], 2), (["pack", "--quality"], 2), (["frobnicate"], 2),
                 (["--version"], 0), (["build", "--help"], 0)]
        for args, status in cases:
            with self.subTest(args=args):
                windows = run_windows(*args)
                self.assertEqual(windows, run_linux(*args))
                self.assertEqual(windows[0], status)


if __name__ == "__main__":
    unittest.main()

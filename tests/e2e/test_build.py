"""quillbox-pack build: the stub plus a payload section. Its refusals, its
determinism and its readers need no Wine; the built launcher, signed or not,
runs under Wine like the one the CMake build makes."""
import os
import pathlib
import shutil
import struct
import subprocess
import tempfile
import unittest

from harness import (APP_DIR, PeImage, PACKER, PREFIX, STUB, TARGET, LauncherTestCase, folder_contents, payload, reset_app_dir,
                     run)

SAMPLE = TARGET / "sample" / "app"
SIGNED_DIRECTORY = 4


def pack(*args):
    return subprocess.run([PACKER] + [str(a) for a in args], capture_output=True, text=True)


class Work(unittest.TestCase):
    def setUp(self):
        self.dir = pathlib.Path(tempfile.mkdtemp(prefix="build-test."))
        self.addCleanup(shutil.rmtree, self.dir, True)

    def write(self, name, data):
        path = self.dir / name
        path.write_bytes(data)
        return path


class BuildRefusals(Work):
    def test_bad_input_gets_one_line_a_failure_status_and_no_output(self):
        # One row per rule the command calls; the rules' own tables are unit tests.
        stub = STUB.read_bytes()
        signed = bytearray(stub)
        struct.pack_into("<II", signed, PeImage(stub).directories_offset + 8 * SIGNED_DIRECTORY, len(stub), 16)
        lying = bytearray(stub)
        struct.pack_into("<I", lying, PeImage(stub).section_table_end - 40 + 20, 0xFFFFF000)  # last section's data offset
        good = payload([(".\\quillbox.exe", b"program")])
        damaged = payload([(".\\quillbox.exe", b"program", None, b"0" * 32)])
        escaping = payload([("..\\..\\Startup\\x.exe", b"x"), ("C:\\Windows\\evil.dll", b"y")],
                           exe="..\\..\\Startup\\x.exe")
        cases = [
            ("inconsistent header", bytes(lying), good, "header is inconsistent: the data of section"),
            ("signed stub", bytes(signed), good, "the stub carries a signature; sign the exe after packing, not the stub"),
            ("payload failing verification", stub, damaged, "fails verification: entry \".\\quillbox.exe\": digest mismatch"),
            # build embeds nothing that verify refuses.
            ("payload with names that leave the folder", stub, escaping,
             "fails verification: invalid input: entry name \"..\\..\\Startup\\x.exe\" leaves the folder"),
        ]
        for what, stub_bytes, payload_bytes, message in cases:
            with self.subTest(what):
                out = self.dir / "out.exe"
                done = pack("build", self.write("payload.bin", payload_bytes), "-o", out,
                            "--stub", self.write("stub.exe", stub_bytes))
                self.assertEqual(done.returncode, 1, done)
                self.assertEqual(done.stdout, "")
                self.assertEqual(len(done.stderr.splitlines()), 1, done.stderr)
                self.assertTrue(done.stderr.startswith("quillbox-pack: "), done.stderr)
                self.assertIn(message, done.stderr)
                self.assertFalse(out.exists())
                self.assertEqual([p.name for p in self.dir.iterdir() if p.name.startswith("out")], [])


class BuildNames(Work):
    def test_a_launch_path_outside_the_folder_is_refused(self):
        out = self.dir / "out.exe"
        done = pack("build", SAMPLE, "-o", out, "--stub", STUB, "--exe", "\\\\host\\share\\x.exe")
        self.assertEqual(done.returncode, 1, done)
        self.assertIn("launch path \"\\\\host\\share\\x.exe\" is rooted", done.stderr)
        self.assertFalse(out.exists())


class BuildOutput(Work):
    def test_identical_input_gives_identical_launchers_that_the_readers_accept(self):
        first, second = self.dir / "first.exe", self.dir / "second.exe"
        for out in (first, second):
            done = pack("build", SAMPLE, "-o", out, "--stub", STUB, "--quiet")
            self.assertEqual((done.returncode, done.stdout, done.stderr), (0, "", ""), done)
        self.assertEqual(first.read_bytes(), second.read_bytes())
        # The same payload from a file, or taken out of the built launcher, builds the same bytes.
        payload_file = self.dir / "app.bin"
        self.assertEqual(pack("pack", payload_file, SAMPLE, "--quiet").returncode, 0)
        for source in (payload_file, first):
            again = self.dir / "again.exe"
            done = pack("build", source, "-o", again, "--stub", STUB, "--quiet")
            self.assertEqual(done.returncode, 0, done)
            self.assertEqual(again.read_bytes(), first.read_bytes(), source)
        # A built launcher as the stub gets its payload replaced, not a second one.
        rebuilt = self.dir / "rebuilt.exe"
        self.assertEqual(pack("build", payload_file, "-o", rebuilt, "--stub", first, "--quiet").returncode, 0)
        self.assertEqual(rebuilt.read_bytes(), first.read_bytes())

        self.assertEqual(pack("list", first).stdout, pack("list", payload_file).stdout)
        verified = pack("verify", first)
        self.assertEqual(verified.returncode, 0, verified)
        self.assertTrue(verified.stdout.startswith("ok: 2 entries"), verified.stdout)
        unpacked = self.dir / "unpacked"
        self.assertEqual(pack("unpack", first, unpacked).returncode, 0)
        self.assertEqual(folder_contents(unpacked), folder_contents(SAMPLE))

    def test_a_stub_carries_no_payload(self):
        done = pack("verify", STUB)
        self.assertEqual(done.returncode, 1)
        self.assertEqual(done.stderr, "quillbox-pack: \"%s\" carries no payload\n" % STUB)


class ReleaseArchive(Work):
    def test_installed_packer_takes_the_stub_beside_it(self):
        host = os.environ.get("QUILLBOX_HOST_BUILD")
        if not host:
            self.skipTest("QUILLBOX_HOST_BUILD is not set")
        prefix = self.dir / "release"
        subprocess.run(["cmake", "--install", host, "--prefix", str(prefix), "--component", "linux"], check=True,
                       capture_output=True)
        (prefix,) = prefix.iterdir()  # the archive's top folder
        self.assertEqual(sorted(p.name for p in prefix.iterdir()),
                         ["USAGE.txt", "quillbox-pack", "quillbox-stub-x86_64.exe", "quillbox-stub.exe"])
        self.assertEqual(PeImage((prefix / "quillbox-stub.exe").read_bytes()).machine, 0x14C)
        # With the 64-bit stub in the default stub's place, a default build is 64-bit:
        # the installed packer takes the stub beside it; without one it takes none
        # (the build tree's stub is for the build tree's own packer only).
        shutil.copyfile(prefix / "quillbox-stub-x86_64.exe", prefix / "quillbox-stub.exe")
        out = self.dir / "app.exe"
        build = [str(prefix / "quillbox-pack"), "build", str(SAMPLE), "-o", str(out), "--quiet"]
        done = subprocess.run(build, capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done)
        self.assertEqual(PeImage(out.read_bytes()).machine, 0x8664)
        (prefix / "quillbox-stub.exe").unlink()
        refused = subprocess.run(build, capture_output=True, text=True)
        self.assertEqual((refused.returncode, refused.stderr),
                         (1, "quillbox-pack: no quillbox-stub.exe beside this program; name one with --stub\n"))


class BuiltLauncher(LauncherTestCase):
    @staticmethod
    def place(folder):
        place = PREFIX / "drive_c" / "e2e" / folder
        place.mkdir(parents=True, exist_ok=True)
        return place

    def built(self):
        exe = self.place("built") / "quillbox.exe"
        done = pack("build", SAMPLE, "-o", exe, "--stub", STUB, "--quiet")
        self.assertEqual(done.returncode, 0, done)
        return exe

    def run_twice(self, exe):
        """Output of a first start (unpacking) and a second one, and the files unpacked."""
        reset_app_dir()
        first = run(exe, ["hello world", "--flag"])
        self.assertIn("  [1] hello world\r\n  [2] --flag\r\n", first.stdout, first)  # the sample's C runtime
        second = run(exe)
        return first.status, first.stdout, second.status, second.stdout, folder_contents()

    def test_same_files_and_command_line_as_the_cmake_built_launcher(self):
        cmake_built = TARGET / "quillbox.exe"
        exe = self.built()
        self.assertEqual(exe.read_bytes(), cmake_built.read_bytes())
        self.assertEqual(self.run_twice(exe), self.run_twice(cmake_built))
        self.assertEqual(folder_contents(APP_DIR), folder_contents(SAMPLE))

    def test_signed_launcher_still_verifies_unpacks_and_runs(self):
        if not shutil.which("osslsigncode") or not shutil.which("openssl"):
            self.skipTest("osslsigncode or openssl is missing (scripts/install-deps.sh installs them)")
        exe = self.built()
        keys = pathlib.Path(tempfile.mkdtemp(prefix="signing."))
        self.addCleanup(shutil.rmtree, keys, True)
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=quillbox throwaway test certificate",
                        "-keyout", str(keys / "key.pem"), "-out", str(keys / "cert.pem")],
                       check=True, capture_output=True)
        signed = self.place("signed") / "quillbox.exe"  # the same name: the same output
        if signed.exists():
            signed.unlink()
        subprocess.run(["osslsigncode", "sign", "-certs", str(keys / "cert.pem"), "-key", str(keys / "key.pem"),
                        "-n", "quillbox", "-h", "sha256", "-in", str(exe), "-out", str(signed)],
                       check=True, capture_output=True)
        # The chain ends in our own throwaway certificate, so trust it for the check.
        verified = subprocess.run(["osslsigncode", "verify", "-CAfile", str(keys / "cert.pem"), "-in", str(signed)],
                                  capture_output=True, text=True)
        self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
        self.assertIn("Signature verification: ok", verified.stdout)
        self.assertIn("\nSucceeded", verified.stdout)
        digests = {line.split(":", 1)[0].strip(): line.split(":", 1)[1].strip()
                   for line in verified.stdout.splitlines() if "message digest" in line and ":" in line}
        self.assertEqual(digests["Current message digest"], digests["Calculated message digest"], verified.stdout)

        self.assertEqual(pack("verify", signed).returncode, 0)
        again = keys / "again.exe"
        refused = pack("build", SAMPLE, "-o", again, "--stub", signed)
        self.assertEqual(refused.returncode, 1)
        self.assertIn("sign the exe after packing", refused.stderr)
        self.assertFalse(again.exists())

        signed_run = self.run_twice(signed)
        self.assertEqual((signed_run[0], signed_run[2]), (0, 0), signed_run)
        self.assertEqual(signed_run, self.run_twice(exe))
        self.assertEqual(folder_contents(APP_DIR), folder_contents(SAMPLE))


if __name__ == "__main__":
    unittest.main()

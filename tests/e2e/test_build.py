"""quillbox-pack build: the stub plus a payload section. Its refusals, its
determinism, its exit-code setting and the release folder need no Wine;
icons, version blocks and the built launcher under Wine are in
test_build_resources."""
import os
import pathlib
import shutil
import struct
import subprocess
import tarfile
import tempfile
import unittest

from harness import PeImage, PACKER, STUB, TARGET, folder_contents, payload

SAMPLE = TARGET / "sample" / "app"


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
        # One row for the stub's check and one for the payload's; their own tables are unit tests.
        stub = STUB.read_bytes()
        lying = bytearray(stub)
        struct.pack_into("<I", lying, PeImage(stub).section_table_end - 40 + 20, 0xFFFFF000)  # last section's data offset
        good = payload([(".\\quillbox.exe", b"program")])
        escaping = payload([("..\\..\\Startup\\x.exe", b"x"), ("C:\\Windows\\evil.dll", b"y")],
                           exe="..\\..\\Startup\\x.exe")
        cases = [
            ("inconsistent header", bytes(lying), good, "header is inconsistent: the data of section"),
            # Named as no stub before anything looks for its exit-code setting.
            ("no program at all", b"not a program\n", good, "the stub is not a PE file: no MZ signature"),
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

        # A launcher lists its exit-code setting and icon as well: the stub's, one 48-pixel PNG.
        self.assertEqual(pack("list", first).stdout, pack("list", payload_file).stdout +
                         "exit code: zero\nicon QUILLBOX_ICON: 48x48 32-bit PNG\n")
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


class BuildExitCode(Work):
    """--exit-code: a section of its own for app, nothing at all for zero; kept
    or replaced on a rebuild; refused for a stub that would not read it."""

    def names(self, exe):
        return [section[0] for section in PeImage(exe.read_bytes()).sections]

    def test_written_listed_verified_kept_or_replaced_and_refused_for_an_older_stub(self):
        plain, app, again = self.dir / "plain.exe", self.dir / "app.exe", self.dir / "again.exe"
        for out, options in ((plain, []), (app, ["--exit-code", "app"])):
            done = pack("build", SAMPLE, "-o", out, "--stub", STUB, "--quiet", *options)
            self.assertEqual((done.returncode, done.stderr), (0, ""), done)
        stub_sections = self.names(STUB)
        self.assertEqual(self.names(plain), stub_sections + [".qbpayld"])
        self.assertEqual(self.names(app), stub_sections + [".qbexit", ".qbpayld"])
        raw_offset, _, size = PeImage(app.read_bytes()).raw[".qbexit"]
        self.assertEqual(app.read_bytes()[raw_offset:raw_offset + size], b"QBEX" + struct.pack(">II", 1, 1))
        self.assertEqual(PeImage(app.read_bytes()).checksum, PeImage(app.read_bytes()).computed_checksum())
        for exe, mode in ((plain, "zero"), (app, "app")):
            self.assertIn("launch path: .\\quillbox.exe\nexit code: %s\nicon " % mode, pack("list", exe).stdout)
            self.assertEqual(pack("verify", exe).returncode, 0)
        # No option is not zero: a rebuild keeps the launcher's setting unless
        # told otherwise (the other cases are unit tests).
        for stub, options, want in ((app, [], app), (app, ["--exit-code", "zero"], plain)):
            with self.subTest(stub=stub.name, options=options):
                done = pack("build", SAMPLE, "-o", again, "--stub", stub, "--quiet", *options)
                self.assertEqual(done.returncode, 0, done)
                self.assertEqual(again.read_bytes(), want.read_bytes())
        # A stub from before the option does not carry the marker of a launcher that reads it.
        older = STUB.read_bytes().replace(b"reads the .qbexit exit-code setting", b"READS THE .QBEXIT EXIT-CODE SETTING")
        self.assertNotEqual(older, STUB.read_bytes())
        older_stub = self.write("older.exe", older)
        again.unlink()
        refused = pack("build", SAMPLE, "-o", again, "--stub", older_stub, "--exit-code", "app")
        self.assertEqual((refused.returncode, refused.stdout), (1, ""))
        self.assertEqual(refused.stderr, "quillbox-pack: \"%s\": the stub does not read the exit-code setting (it is "
                         "older than --exit-code); use the stub that came with this packer, or build without "
                         "--exit-code app\n" % older_stub)
        self.assertFalse(again.exists())
        self.assertEqual(pack("build", SAMPLE, "-o", again, "--stub", older_stub, "--quiet").returncode, 0)
        # A damaged setting: list and verify name it; a rebuild without the option refuses to keep it.
        damaged = bytearray(app.read_bytes())
        damaged[raw_offset + 11] = 7
        damaged_exe = self.write("damaged.exe", bytes(damaged))
        for command in (["list"], ["verify"], ["build", SAMPLE, "-o", again, "--stub"]):
            with self.subTest(command=command[0]):
                done = pack(*command, damaged_exe)
                self.assertEqual(done.returncode, 1, done)
                self.assertIn('"%s": exit-code setting: unknown mode 7' % damaged_exe, done.stderr)


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

    def test_release_folder_publishes_the_stubs_alone_and_checks_against_its_sha256sums(self):
        host = os.environ.get("QUILLBOX_HOST_BUILD")
        if not host:
            self.skipTest("QUILLBOX_HOST_BUILD is not set")
        subprocess.run(["cmake", "--build", host, "--target", "release"], check=True, capture_output=True)
        release = pathlib.Path(host) / "release"
        checked = subprocess.run(["sha256sum", "-c", "SHA256SUMS"], cwd=release, capture_output=True, text=True)
        self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
        listed = [line.split("  ", 1)[1] for line in (release / "SHA256SUMS").read_text().splitlines()]
        self.assertEqual(listed, sorted(p.name for p in release.iterdir() if p.name != "SHA256SUMS"))
        # Each stub alone is the one the archives carry, byte for byte: its hash allow-lists what the packer uses.
        (archive,) = release.glob("*.tar.gz")
        with tarfile.open(archive) as tar:
            carried = {pathlib.PurePath(m.name).name: tar.extractfile(m).read() for m in tar.getmembers() if m.isfile()}
        (alone_i686,) = release.glob("quillbox-*-stub-windows-i686.exe")
        (alone_x86_64,) = release.glob("quillbox-*-stub-windows-x86_64.exe")
        self.assertEqual(alone_i686.read_bytes(), carried["quillbox-stub.exe"])
        self.assertEqual(alone_x86_64.read_bytes(), carried["quillbox-stub-x86_64.exe"])
        self.assertEqual(PeImage(alone_i686.read_bytes()).machine, 0x14C)


if __name__ == "__main__":
    unittest.main()

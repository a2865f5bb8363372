"""quillbox-pack build --icon, --version, --version-from and signatures: what
an independent reader and Windows' own API under Wine see, every refusal, and
the built launcher, signed or not, running like the one the CMake build makes."""
import json
import pathlib
import re
import shutil
import struct
import subprocess
import tempfile
import unittest

from harness import (APP_DIR, PeImage, PREFIX, PROGRAMS, STUB, TARGET, LauncherTestCase, folder_contents,
                     reset_app_dir, run, to_windows, wine_environment, WINE)
from quillbox_files import ico_file, icon_bitmap, icon_png
from test_build import SAMPLE, Work, pack

# An icon of several sizes and depths, a PNG among them, and a version block
# with strings beyond ASCII.
ICON_IMAGES = [(16, 32, icon_bitmap(16, 32)), (32, 8, icon_bitmap(32, 8)), (48, 4, icon_bitmap(48, 4)),
               (256, 32, icon_png(256))]
VERSION_STRINGS = {"CompanyName": "Example Ltd", "FileDescription": "Das Programm – äöü 😀",
                   "LegalCopyright": "© 2026 Example", "ProductName": "quillbox sample", "Comments": "any key"}


def resource_options(icon):
    options = ["--icon", icon, "--version", "1.2.3.65535"]
    for key, value in VERSION_STRINGS.items():
        options += ["--version-string", "%s=%s" % (key, value)]
    return options


def pefile_text(value):
    """A version string as pefile gives it: UTF-8, a character outside the BMP spelled as its escaped surrogates."""
    def pair(match):
        high, low = int(match.group(1), 16), int(match.group(2), 16)
        return chr(0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00))
    return re.sub(r"\\u(d[89ab][0-9a-f]{2})\\u(d[c-f][0-9a-f]{2})", pair, value.decode())


def fnv1a(data):
    value = 0xCBF29CE484222325
    for byte in data:
        value = ((value ^ byte) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return value


def signed_copy(exe, out):
    """`exe` signed with osslsigncode and a throwaway certificate, verified; None without the tools."""
    if not shutil.which("osslsigncode") or not shutil.which("openssl"):
        return None
    keys = pathlib.Path(tempfile.mkdtemp(prefix="signing."))
    try:
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=quillbox throwaway test certificate",
                        "-keyout", str(keys / "key.pem"), "-out", str(keys / "cert.pem")],
                       check=True, capture_output=True)
        if out.exists():
            out.unlink()
        subprocess.run(["osslsigncode", "sign", "-certs", str(keys / "cert.pem"), "-key", str(keys / "key.pem"),
                        "-n", "quillbox", "-h", "sha256", "-in", str(exe), "-out", str(out)],
                       check=True, capture_output=True)
        # The chain ends in our own throwaway certificate, so trust it for the check.
        verified = subprocess.run(["osslsigncode", "verify", "-CAfile", str(keys / "cert.pem"), "-in", str(out)],
                                  capture_output=True, text=True)
    finally:
        shutil.rmtree(keys, True)
    return verified


class BuildResources(Work):
    """--icon and --version: what an independent reader sees, and every refusal."""

    def test_independent_reader_sees_every_image_and_string_and_rebuilding_gives_the_same_bytes(self):
        import pefile  # Debian's python3-pefile, installed by scripts/install-deps.sh
        icon = self.write("app.ico", ico_file(ICON_IMAGES))
        out = self.dir / "app.exe"
        done = pack("build", SAMPLE, "-o", out, "--stub", STUB, "--quiet", *resource_options(icon))
        self.assertEqual((done.returncode, done.stderr), (0, ""), done)
        # Headers alone first: parsing the version block rewrites pefile's copy of the bytes.
        headers_only = pefile.PE(str(out), fast_load=True)
        self.assertEqual(headers_only.OPTIONAL_HEADER.CheckSum, headers_only.generate_checksum())
        pe = pefile.PE(str(out))
        self.assertEqual(pe.sections[-1].Name.rstrip(b"\0"), b".qbpayld")
        resources = {entry.id: entry for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries}
        self.assertEqual(sorted(resources), [3, 14, 16, 24])  # icons, their group, the version block, the manifest
        (group_entry,) = resources[14].directory.entries
        self.assertEqual(str(group_entry.name), "QUILLBOX_ICON")

        def data(entry):
            (language,) = entry.directory.entries
            return pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)

        group = data(group_entry)
        self.assertEqual(struct.unpack_from("<HHH", group), (0, 1, len(ICON_IMAGES)))
        images = {entry.id: data(entry) for entry in resources[3].directory.entries}
        for i, (size, bits, image) in enumerate(ICON_IMAGES):
            width, height, _, _, planes, depth, length, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
            self.assertEqual((width, height, planes, depth, length), (size % 256, size % 256, 1, bits, len(image)))
            self.assertEqual(images[icon_id], image)
        self.assertEqual(data(resources[24].directory.entries[0]), PeImage(STUB.read_bytes()).resources()[24][1])
        fixed = pe.VS_FIXEDFILEINFO[0]
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), (0x10002, 0x3FFFF))
        self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), (0x10002, 0x3FFFF))
        (table,) = [info for info in pe.FileInfo[0] if info.Key == b"StringFileInfo"][0].StringTable
        self.assertEqual(table.LangID, b"040904B0")
        expected = dict(VERSION_STRINGS, FileVersion="1.2.3.65535", ProductVersion="1.2.3.65535")
        self.assertEqual({k.decode(): pefile_text(v) for k, v in table.entries.items()}, expected)

        listed = pack("list", out).stdout.splitlines()
        self.assertIn("icon QUILLBOX_ICON: 16x16 32-bit, 32x32 8-bit, 48x48 4-bit, 256x256 32-bit PNG", listed)
        self.assertIn("version 1.2.3.65535, product version 1.2.3.65535", listed)
        self.assertIn("version string FileDescription: " + VERSION_STRINGS["FileDescription"], listed)
        # The same as one JSON document: the text listing's entries, the icon's images, the version block.
        listing = json.loads(pack("list", out, "--json").stdout)
        self.assertEqual([[e["name"], str(e["compressed_size"]), str(e["plain_size"]), e["md5"]]
                          for e in listing["entries"]], [line.split("\t") for line in listed if "\t" in line])
        self.assertEqual((listing["launcher"], listing["launch_path"], listing["exit_code"]),
                         (True, ".\\quillbox.exe", "zero"))
        self.assertEqual(listing["icon"], [{"width": size, "height": size, "bits": bits, "png": image[:4] == b"\x89PNG"}
                                           for size, bits, image in ICON_IMAGES])
        self.assertEqual(listing["version"], {"file_version": "1.2.3.65535", "product_version": "1.2.3.65535",
                                              "strings": expected,
                                              "tables": [{"language": "040904B0", "strings": expected}]})

        # The launcher as the stub, with the same options: the same bytes; without them, its icon and version stay.
        again = self.dir / "again.exe"
        self.assertEqual(pack("build", SAMPLE, "-o", again, "--stub", out, "--quiet", *resource_options(icon)).returncode, 0)
        self.assertEqual(again.read_bytes(), out.read_bytes())
        self.assertEqual(pack("build", SAMPLE, "-o", again, "--stub", out, "--quiet").returncode, 0)
        self.assertEqual(pack("list", again).stdout, pack("list", out).stdout)
        # Icon and version taken from that launcher, as a program: every image and string, so the same bytes.
        copied = self.dir / "copied.exe"
        done = pack("build", SAMPLE, "-o", copied, "--stub", STUB, "--quiet", "--icon", out, "--version-from", out)
        self.assertEqual((done.returncode, done.stderr), (0, ""), done)
        self.assertEqual(copied.read_bytes(), out.read_bytes())

    def test_the_sample_applications_main_icon_and_version_block_become_the_launchers(self):
        import pefile
        program = SAMPLE / "quillbox.exe"  # two icon groups, a named one first, and two string tables
        out = self.dir / "app.exe"
        done = pack("build", SAMPLE, "-o", out, "--stub", STUB, "--quiet", "--icon", program, "--version-from", program)
        self.assertEqual((done.returncode, done.stderr), (0, ""), done)

        def icon_and_version(path):
            """The first icon group's name, entries and images; the fixed version fields, tables, translations."""
            pe = pefile.PE(str(path))
            resources = {entry.id: entry for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries}

            def data(entry):
                language = entry.directory.entries[0]
                return pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)

            group_entry = resources[14].directory.entries[0]
            group = data(group_entry)
            images = {entry.id: data(entry) for entry in resources[3].directory.entries}
            icon = [(group[6 + 14 * i:14 + 14 * i], images[struct.unpack_from("<H", group, 18 + 14 * i)[0]])
                    for i in range(struct.unpack_from("<H", group, 4)[0])]
            fixed = pe.VS_FIXEDFILEINFO[0]
            numbers = (fixed.FileVersionMS, fixed.FileVersionLS, fixed.ProductVersionMS, fixed.ProductVersionLS,
                       fixed.FileFlagsMask, fixed.FileFlags, fixed.FileType)
            tables = [(table.LangID, table.entries) for info in pe.FileInfo[0] if info.Key == b"StringFileInfo"
                      for table in info.StringTable]
            translations = [var.entry for info in pe.FileInfo[0] if info.Key == b"VarFileInfo" for var in info.Var]
            return str(group_entry.name), icon, numbers, tables, translations

        name, *launcher = icon_and_version(out)
        self.assertEqual((name, len(launcher[0]), len(launcher[2])), ("QUILLBOX_ICON", 2, 2))
        _, *own = icon_and_version(program)
        self.assertEqual(launcher, own)

    def test_bad_input_names_the_file_and_the_problem_and_leaves_no_output(self):
        good_icon = ico_file(ICON_IMAGES[:1])
        truncated = good_icon[:30]
        lying = bytearray(good_icon)
        lying[6] = 32  # listed as 32 wide, its bitmap is 16
        # 2,000 entries over one 64-pixel image (48,942 bytes) would put it into the launcher 2,000 times.
        one_image = icon_bitmap(64, 32)
        multiplied = struct.pack("<HHH", 0, 1, 2000) + struct.pack(
            "<BBBBHHII", 64, 64, 0, 0, 1, 32, len(one_image), 6 + 16 * 2000) * 2000 + one_image
        stub = STUB.read_bytes()
        image = PeImage(stub)
        foreign = bytearray(stub)
        # The manifest's type (24) turned into RT_BITMAP (2), a resource the packer does not know.
        (rsrc_rva, _) = image.directories[2]
        root = image.offset(rsrc_rva)
        named, ids = struct.unpack_from("<HH", stub, root + 12)
        for i in range(named + ids):
            if struct.unpack_from("<I", stub, root + 16 + 8 * i)[0] == 24:
                struct.pack_into("<I", foreign, root + 16 + 8 * i, 2)
        cases = [
            # what, options, stub, status, message
            ("truncated icon", ["--icon", self.write("bad.ico", truncated)], stub, 1,
             'the icon "%s" cannot be used: image 1 of 1 (1128 bytes at offset 22) lies outside the file (30 bytes)'
             % (self.dir / "bad.ico")),
            ("icon whose size fields lie", ["--icon", self.write("lying.ico", bytes(lying))], stub, 1,
             "image 1 of 1 is listed as 32x16 but its bitmap is 16x16"),
            ("icon listing one image 2,000 times", ["--icon", self.write("many.ico", multiplied)], stub, 1,
             "the .ico directory lists 2000 images, more than the 256 an icon may have"),
            ("missing icon", ["--icon", self.dir / "missing.ico"], stub, 1, '"%s"' % (self.dir / "missing.ico")),
            ("version part over 65535", ["--version", "1.2.3.65536"], stub, 2,
             '--version needs one to four numbers from 0 to 65535 with dots between, not "1.2.3.65536"'),
            ("empty key", ["--version-string", "=x"], stub, 2, "a version string needs a key"),
            ("empty value", ["--version-string", "CompanyName="], stub, 2, "CompanyName has an empty value"),
            ("too long value", ["--version-string", "Comments=" + "x" * 1025], stub, 2, "longer than 1024 characters"),
            ("stub with foreign resources", ["--icon", self.write("good.ico", good_icon)], bytes(foreign), 1,
             "the stub carries a resource of type 2, which the packer does not rewrite"),
            ("program without a version block", ["--version-from", STUB, "--version", "2"], stub, 1,
             'cannot copy the version block of "%s": the program has no version block' % STUB),
        ]
        for what, options, stub_bytes, status, message in cases:
            with self.subTest(what):
                out = self.dir / "out.exe"
                done = pack("build", SAMPLE, "-o", out, "--stub", self.write("stub.exe", stub_bytes), *options)
                self.assertEqual(done.returncode, status, done)
                self.assertTrue(done.stderr.startswith("quillbox-pack: "), done.stderr)
                self.assertIn(message, done.stderr.splitlines()[0])
                self.assertEqual([p.name for p in self.dir.iterdir() if p.name.startswith(("out", ".out"))], [])
        # Without options the same stub builds: its resources are left as they are.
        self.assertEqual(pack("build", SAMPLE, "-o", self.dir / "out.exe", "--stub", self.dir / "stub.exe",
                              "--quiet").returncode, 0)

    def test_unsigned_programs_are_named_and_refused_on_request(self):
        out = self.dir / "app.exe"
        note = ("quillbox-pack: note: 2 Windows programs in the payload carry no signature: .\\quillbox.exe, "
                ".\\quillbox_greeting.dll; sign them before packing\n")
        done = pack("build", SAMPLE, "-o", out, "--stub", STUB)
        self.assertEqual(done.returncode, 0, done)
        self.assertTrue(done.stderr.startswith(note), done.stderr)
        verified = pack("verify", out)
        self.assertEqual((verified.returncode, verified.stderr), (0, note))
        refused = pack("verify", out, "--require-signed")
        self.assertEqual((refused.returncode, refused.stdout), (1, ""))
        self.assertEqual(refused.stderr, note.replace("note: ", ""))
        out.unlink()
        refused = pack("build", SAMPLE, "-o", out, "--stub", STUB, "--require-signed")
        self.assertEqual((refused.returncode, refused.stderr), (1, note.replace("note: ", "")))
        self.assertFalse(out.exists())
        # A signed library is not named.
        app = self.dir / "app"
        shutil.copytree(SAMPLE, app)
        if signed_copy(SAMPLE / "quillbox_greeting.dll", app / "quillbox_greeting.dll") is None:
            self.skipTest("osslsigncode or openssl is missing (scripts/install-deps.sh installs them)")
        done = pack("build", app, "-o", out, "--stub", STUB)
        self.assertEqual(done.returncode, 0, done)
        self.assertTrue(done.stderr.startswith("quillbox-pack: note: 1 Windows program in the payload carries no "
                                               "signature: .\\quillbox.exe; sign them before packing\n"), done.stderr)


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

    def test_launcher_with_icon_and_version_shows_them_to_windows_starts_and_runs_signed(self):
        icon_dir = pathlib.Path(tempfile.mkdtemp(prefix="icon."))
        self.addCleanup(shutil.rmtree, icon_dir, True)
        icon = icon_dir / "app.ico"
        icon.write_bytes(ico_file(ICON_IMAGES))
        exe = self.place("resources") / "quillbox.exe"
        done = pack("build", SAMPLE, "-o", exe, "--stub", STUB, "--quiet", *resource_options(icon))
        self.assertEqual(done.returncode, 0, done)
        # Windows' own readers: the version API and the resource loader, by name.
        keys = sorted(VERSION_STRINGS) + ["FileVersion", "ProductVersion"]
        checked = subprocess.run([WINE, str(PROGRAMS / "resource_check.exe"), to_windows(exe)] + keys,
                                 env=wine_environment(), stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        lines = checked.stdout.decode("utf-8", "replace").splitlines()
        self.assertEqual(checked.returncode, 0, lines)
        expected = ["version 1.2.3.65535 1.2.3.65535", "translation 0409 04b0"]
        strings = dict(VERSION_STRINGS, FileVersion="1.2.3.65535", ProductVersion="1.2.3.65535")
        expected += ["string %s=%s" % (key, strings[key]) for key in keys]
        expected += ["image %dx%d %d %d %016x" % (size, size, bits, len(data), fnv1a(data))
                     for size, bits, data in ICON_IMAGES]
        expected += ["loaded %d %d" % (size, i + 1) for i, (size, _, _) in enumerate(ICON_IMAGES)]
        self.assertEqual(lines, expected)
        # Built on that launcher from its own icon and version, one number and one string overridden: Windows
        # sees the same images and strings but those, the launcher's old block replaced.
        copied = self.place("resources-copied") / "quillbox.exe"
        done = pack("build", SAMPLE, "-o", copied, "--stub", exe, "--quiet", "--icon", exe, "--version-from", exe,
                    "--version", "9.8.7.6", "--version-string", "CompanyName=Other Ltd")
        self.assertEqual(done.returncode, 0, done)
        checked = subprocess.run([WINE, str(PROGRAMS / "resource_check.exe"), to_windows(copied)] + keys,
                                 env=wine_environment(), stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        overridden = dict(strings, CompanyName="Other Ltd", FileVersion="9.8.7.6", ProductVersion="9.8.7.6")
        expected = (["version 9.8.7.6 9.8.7.6", "translation 0409 04b0"] +
                    ["string %s=%s" % (key, overridden[key]) for key in keys] + expected[2 + len(keys):])
        self.assertEqual(checked.stdout.decode("utf-8", "replace").splitlines(), expected)
        # It starts its application, as the launcher without them does, and signed as well.
        plain = self.built()
        self.assertEqual(self.run_twice(exe), self.run_twice(plain))
        signed = self.place("resources-signed") / "quillbox.exe"
        verified = signed_copy(exe, signed)
        if verified is None:
            self.skipTest("osslsigncode or openssl is missing (scripts/install-deps.sh installs them)")
        self.assertIn("Signature verification: ok", verified.stdout)
        signed_run = self.run_twice(signed)
        self.assertEqual((signed_run[0], signed_run[2]), (0, 0), signed_run)
        self.assertEqual(signed_run, self.run_twice(plain))

    def test_signed_launcher_still_verifies_unpacks_and_runs(self):
        exe = self.built()
        signed = self.place("signed") / "quillbox.exe"  # the same name: the same output
        verified = signed_copy(exe, signed)
        if verified is None:
            self.skipTest("osslsigncode or openssl is missing (scripts/install-deps.sh installs them)")
        self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
        self.assertIn("Signature verification: ok", verified.stdout)
        self.assertIn("\nSucceeded", verified.stdout)
        digests = {line.split(":", 1)[0].strip(): line.split(":", 1)[1].strip()
                   for line in verified.stdout.splitlines() if "message digest" in line and ":" in line}
        self.assertEqual(digests["Current message digest"], digests["Calculated message digest"], verified.stdout)

        self.assertEqual(pack("verify", signed).returncode, 0)
        keys = pathlib.Path(tempfile.mkdtemp(prefix="refused."))
        self.addCleanup(shutil.rmtree, keys, True)
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

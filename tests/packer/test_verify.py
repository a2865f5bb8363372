"""quillbox-pack verify and unpack on payloads made here: both call the name
gate (whose rules the unit table covers), like a damaged stream or a wrong digest."""
import os
import pathlib
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "support"))
from quillbox_files import payload as payload_of  # noqa: E402

PACKER = os.environ.get("QUILLBOX_PACKER", "quillbox-pack")


def payload(names, exe=b".\\quillbox.exe"):
    return payload_of([(name, b"content") for name in names], exe)


def packer(command, names, exe=b".\\quillbox.exe"):
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "app.bin")
        with open(path, "wb") as out:
            out.write(payload(names, exe))
        extra = [os.path.join(folder, "out")] if command == "unpack" else []
        done = subprocess.run([PACKER, command, path] + extra, capture_output=True, text=True, errors="replace")
        done.unpacked = os.path.exists(os.path.join(folder, "out"))
        return done


class Verify(unittest.TestCase):
    def test_names_the_gate_refuses_are_bad_lines(self):
        for names, bad in (([b".\\quillbox.exe", b"..\\..\\Startup\\x.exe"], b"..\\..\\Startup\\x.exe"),
                           ([b".\\quillbox.exe", b".\\QUILLBOX.EXE"], b".\\QUILLBOX.EXE")):
            with self.subTest(bad=bad):
                done = packer("verify", names)
                self.assertEqual(done.returncode, 1, done)
                self.assertIn("bad\t%s\tinvalid input: entry name" % bad.decode(), done.stdout)
                self.assertIn("1 of 2 entries are damaged", done.stderr)

    def test_a_launch_path_outside_the_payload_is_refused(self):
        done = packer("verify", [b".\\quillbox.exe"], exe=b"\\\\host\\share\\x.exe")
        self.assertEqual(done.returncode, 1, done)
        self.assertIn("launch path \"\\\\host\\share\\x.exe\" is rooted", done.stderr)

    def test_a_nul_in_a_name_is_an_error(self):
        done = packer("verify", [b".\\quillbox.exe\0.txt"])
        self.assertEqual(done.returncode, 1, done)
        self.assertIn("NUL character at offset", done.stderr)

    def test_names_inside_the_folder_pass(self):
        done = packer("verify", [b".\\quillbox.exe", b"sub\\x.dll", b"..x"])
        self.assertEqual(done.returncode, 0, done)
        self.assertIn("ok: 3 entries", done.stdout)


class Unpack(unittest.TestCase):
    def test_refuses_before_writing_anything(self):
        done = packer("unpack", [b".\\quillbox.exe", b"sub\\con .txt"])
        self.assertEqual(done.returncode, 1, done)
        self.assertIn("is a Windows device name", done.stderr)
        self.assertFalse(done.unpacked)


if __name__ == "__main__":
    sys.exit(unittest.main())

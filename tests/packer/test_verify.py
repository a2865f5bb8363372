"""quillbox-pack verify on payloads made here: a name that would leave the
per-user folder is an error, like a damaged stream or a wrong digest."""
import os
import pathlib
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "support"))
from quillbox_files import payload  # noqa: E402

PACKER = os.environ.get("QUILLBOX_PACKER", "quillbox-pack")


def verify(names):
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "app.bin")
        with open(path, "wb") as out:
            out.write(payload([(name, b"content") for name in names]))
        return subprocess.run([PACKER, "verify", path], capture_output=True, text=True, errors="replace")


class Verify(unittest.TestCase):
    def test_names_that_leave_the_folder_are_errors(self):
        for name in (b"..\\x", b".\\a\\..\\..\\x", b"C:\\x", b"C:x", b"\\x", b"/x", b"\\\\server\\share\\x",
                     b"\\\\?\\C:\\x"):
            with self.subTest(name=name):
                done = verify([b".\\quillbox.exe", name])
                self.assertEqual(done.returncode, 1, done)
                self.assertIn("bad\t%s\tinvalid input: entry name" % name.decode(), done.stdout)
                self.assertIn("1 of 2 entries are damaged", done.stderr)

    def test_a_nul_in_a_name_is_an_error(self):
        done = verify([b".\\quillbox.exe\0.txt"])
        self.assertEqual(done.returncode, 1, done)
        self.assertIn("NUL character at offset", done.stderr)

    def test_names_inside_the_folder_pass(self):
        done = verify([b".\\quillbox.exe", b"sub\\x.dll", b"..x"])
        self.assertEqual(done.returncode, 0, done)
        self.assertIn("ok: 3 entries", done.stdout)


if __name__ == "__main__":
    sys.exit(unittest.main())

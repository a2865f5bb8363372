"""quillbox-pack's cache of compressed entries as separate packers use it: two
at once on one folder, and a folder that cannot be written."""
import os
import pathlib
import random
import subprocess
import tempfile
import unittest

PACKER = os.environ.get("QUILLBOX_PACKER", "quillbox-pack")
FILES = 16


def make_app(folder):
    rng = random.Random(28)
    for i in range(FILES):
        words = [rng.choice([b"alpha", b"beta", b"gamma", b"\x00\x01\x02", bytes([i])]) for _ in range(20000 + 4000 * i)]
        (folder / ("f%02d.dll" % i)).write_bytes(b"".join(words))
    (folder / "quillbox.exe").write_bytes(b"MZ probe")


def start(out, app, *options):
    return subprocess.Popen([PACKER, "pack", str(out), str(app), "--quality", "7", "--jobs", "1"] + list(options),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def finish(process):
    out, err = process.communicate(timeout=600)
    return process.returncode, err


class Cache(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.root = pathlib.Path(self.dir.name)
        self.app = self.root / "app"
        self.app.mkdir()
        make_app(self.app)
        status, err = finish(start(self.root / "plain.bin", self.app, "--no-cache"))
        self.assertEqual(status, 0, err)
        self.plain = (self.root / "plain.bin").read_bytes()

    def tearDown(self):
        self.dir.cleanup()

    def test_two_packers_at_once_share_one_folder(self):
        cache = self.root / "cache"
        damaged = lambda: [p.write_bytes(p.read_bytes()[:-7]) for p in cache.glob("*.qbc")]
        for what, before in (("cold", lambda: None), ("warm", lambda: None), ("every record truncated", damaged)):
            with self.subTest(what):
                before()
                packers = [start(self.root / ("%d.bin" % i), self.app, "--cache", str(cache)) for i in range(2)]
                for i, packer in enumerate(packers):
                    status, err = finish(packer)
                    self.assertEqual(status, 0, err)
                    self.assertNotIn("warning", err)
                    self.assertEqual((self.root / ("%d.bin" % i)).read_bytes(), self.plain)
                self.assertEqual(sorted(p.name for p in cache.iterdir() if not p.name.endswith(".qbc")), [])
        # Whatever the two wrote over each other, every record is whole.
        status, err = finish(start(self.root / "again.bin", self.app, "--cache", str(cache)))
        self.assertIn("packed %d files (%d from the cache, 0 compressed)" % (FILES + 1, FILES + 1), err)
        self.assertEqual((self.root / "again.bin").read_bytes(), self.plain)

    def test_a_cache_that_cannot_be_made_warns_once(self):
        blocker = self.root / "a-file"
        blocker.write_bytes(b"")
        status, err = finish(start(self.root / "out.bin", self.app, "--cache", str(blocker / "cache")))
        self.assertEqual(status, 0, err)
        self.assertEqual(err.count("warning"), 1, err)
        self.assertIn("compressed entries are not kept for the next build", err)
        self.assertEqual((self.root / "out.bin").read_bytes(), self.plain)


if __name__ == "__main__":
    unittest.main()

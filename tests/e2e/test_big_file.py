"""One application file of 600 MiB: a cold start decodes and writes it, a warm
start hashes it, and neither holds much more than the file and the payload."""
import hashlib
import random
import subprocess

import harness
from harness import APP_DIR, LauncherTestCase, launcher, measured_run, probe_bytes, reset_app_dir

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
        subprocess.run([harness.PACKER, "pack", str(payload_file), str(folder), "--quality", "1"], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        (folder / "big.bin").unlink()  # the payload and the digest are all that is needed again
    return payload_file, digest_file.read_text()


class BigFile(LauncherTestCase):
    def tearDown(self):
        reset_app_dir()  # 600 MiB is not left behind

    def test_cold_and_warm_start_stay_within_file_and_payload(self):
        payload_file, digest = big_payload(harness.WORK / "big-file")
        exe = launcher(payload_file.read_bytes())
        budget_kib = PEAK_FACTOR * (BIG_SIZE + payload_file.stat().st_size) / 1024
        argv = [harness.WINE, str(exe)]

        status, _, _, cold_private = measured_run(argv, harness.wine_environment())
        self.assertEqual(status, 0)
        with open(APP_DIR / "big.bin", "rb") as f:
            self.assertEqual(hashlib.file_digest(f, "md5").hexdigest(), digest)
        self.assertLess(cold_private, budget_kib)
        written = (APP_DIR / "big.bin").stat().st_mtime_ns

        status, _, _, warm_private = measured_run(argv, harness.wine_environment())
        self.assertEqual(status, 0)
        self.assertEqual((APP_DIR / "big.bin").stat().st_mtime_ns, written)  # found current, not rewritten
        self.assertLess(warm_private, budget_kib)
        self.assertLess(warm_private, BIG_SIZE / 4 / 1024)  # hashed in blocks, never held whole

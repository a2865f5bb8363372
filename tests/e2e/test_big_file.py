"""One application file of 600 MiB: a cold start decodes and writes it, a warm
start hashes it, and neither holds much more than the file and the payload."""
import hashlib

import harness
from harness import APP_DIR, BIG_SIZE, PEAK_FACTOR, LauncherTestCase, big_payload, launcher, measured_run, reset_app_dir


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

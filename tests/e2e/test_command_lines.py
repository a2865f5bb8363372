"""Composed command lines against the platform's own parsers."""
import re
import subprocess
import unittest

from harness import PROGRAMS, WINE, LauncherTestCase, wine_environment


class PlatformParsers(LauncherTestCase):
    def test_c_runtime_and_shell_parsers_give_every_argument_back(self):
        done = subprocess.run([WINE, str(PROGRAMS / "cmdline_check.exe"), "20000", "100"], env=wine_environment(),
                              capture_output=True, timeout=600)
        out = done.stdout.decode("utf-8", "replace")
        print(out)
        self.assertEqual(done.returncode, 0, out + done.stderr.decode("utf-8", "replace"))
        self.assertRegex(out, re.compile(r"20000 command lines: 0 CommandLineToArgvW mismatches; 200 started"))


if __name__ == "__main__":
    unittest.main()

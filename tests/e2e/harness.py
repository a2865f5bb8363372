"""The end-to-end tests' base: the Wine session of tests/support/wine_session.py,
and the one check whether Wine can run this build's programs here, which makes
a module fail under CI=true and skip elsewhere.
"""
import functools
import os
import pathlib
import subprocess
import sys
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "support"))
from wine_session import *  # noqa: E402,F401,F403  (the tests take the session's names from here)
from wine_session import PROGRAMS, TARGET, WINE, keep_server_running, reset_app_dir, wine_environment  # noqa: E402,F811


@functools.lru_cache(maxsize=None)
def wine_usable():
    """Whether Wine can run this build's programs here: the one check the e2e tests make."""
    try:
        done = subprocess.run([WINE, str(PROGRAMS / "start.exe")], env=wine_environment(), capture_output=True, timeout=120)
    except (OSError, subprocess.TimeoutExpired):
        return False
    return done.returncode == 125  # its usage status


# CTest marks a module whose output holds this as skipped (SKIP_REGULAR_EXPRESSION).
WINE_SKIP_MARK = "e2e skipped: Wine cannot run"


class LauncherTestCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if wine_usable():
            keep_server_running()
            return
        if os.environ.get("CI") == "true":  # a CI run must not pass without having run anything
            raise AssertionError("CI=true, but Wine (%s) cannot run %s programs on this machine" % (WINE, TARGET.name))
        raise unittest.SkipTest("%s %s programs on this machine" % (WINE_SKIP_MARK, TARGET.name))

    def setUp(self):
        reset_app_dir()



"""Shared helpers of the package's tests: the built talvo-tools to compare
with, and the test files. A package that does not import fails the tests
that import it."""
import os
import pathlib
import subprocess
import sys

import pytest

TESTS = pathlib.Path(__file__).resolve().parent.parent
XRDML = TESTS / "data" / "xrdml"
ROOT = TESTS.parent


def tools_path():
    path = os.environ.get("TALVO_TOOLS")
    if not path:
        pytest.fail("TALVO_TOOLS names no talvo-tools to compare with")
    return path


def run_tools(*args, stdin=None):
    """talvo-tools' standard output; fails the test on a non-zero exit."""
    r = subprocess.run([tools_path(), *map(str, args)], input=stdin, capture_output=True, text=True)
    assert r.returncode == 0, f"talvo-tools {' '.join(map(str, args))}: {r.stderr}"
    return r.stdout


def rows(text):
    """The number rows of a talvo-tools output, comment lines left out."""
    return [[float(v) for v in line.split()] for line in text.splitlines() if line and not line.startswith("#")]


def run_python(code, env=None, cwd=None, timeout=120):
    """Runs code in a fresh interpreter (a process of its own, so that the
    module's once-per-process state starts anew, and a crash is its exit
    status, not the end of the test run)."""
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          env=os.environ if env is None else env, cwd=cwd, timeout=timeout)

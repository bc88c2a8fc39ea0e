"""Shared helpers of the module's tests: the built talvo-tools to compare
with, and the test files."""
import os
import pathlib
import subprocess
import sys

import pytest

TESTS = pathlib.Path(__file__).resolve().parent.parent
XRDML = TESTS / "data" / "xrdml"
ROOT = TESTS.parent


def _import_problem():
    # A module built with the sanitizers loads only into a process that
    # starts with their run-time (it aborts a plain python3 instead of
    # raising ImportError), so the import is tried in a child process first.
    r = subprocess.run([sys.executable, "-c", "import talvo"], capture_output=True, text=True)
    if r.returncode == 0:
        return None
    lines = (r.stderr or r.stdout).strip().splitlines()
    return lines[-1] if lines else f"exit status {r.returncode}"


# The exit status ctest takes for "skipped" (SKIP_RETURN_CODE).
SKIPPED = 77


def pytest_configure(config):
    problem = _import_problem()
    if problem is not None:
        pytest.exit(f"skipped: the talvo module cannot be imported by {sys.executable}: {problem}", returncode=SKIPPED)


def tools_path():
    path = os.environ.get("TALVO_TOOLS")
    if not path:
        pytest.skip("TALVO_TOOLS names no talvo-tools to compare with")
    return path


def run_tools(*args, stdin=None):
    """talvo-tools' standard output; fails the test on a non-zero exit."""
    r = subprocess.run([tools_path(), *map(str, args)], input=stdin, capture_output=True, text=True)
    assert r.returncode == 0, f"talvo-tools {' '.join(map(str, args))}: {r.stderr}"
    return r.stdout


def rows(text):
    """The number rows of a talvo-tools output, comment lines left out."""
    return [[float(v) for v in line.split()] for line in text.splitlines() if line and not line.startswith("#")]


def run_python(code, env, cwd=None):
    """Runs code in a fresh interpreter (a process of its own, so that the
    module's once-per-process state starts anew)."""
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env, cwd=cwd)

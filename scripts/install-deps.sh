#!/usr/bin/env bash
# Installs what building and testing TALVO needs on a fresh Debian machine;
# with --run only what building the programs needs, with --measure also what
# the speed comparisons need, with --web what the offline page's build
# (preset wasm) and its browser test need.
set -eu
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
if [ "${1:-}" != --run ]; then
[ -x /usr/bin/python3 ] || need+=(python3)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
# The Python module and its tests, for Debian's own python3.
[ -f /usr/include/pybind11/pybind11.h ] || need+=(pybind11-dev)
/usr/bin/python3 -c 'import sysconfig, os, sys; sys.exit(not os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h")))' 2>/dev/null || need+=(python3-dev)
/usr/bin/python3 -c 'import numpy' 2>/dev/null || need+=(python3-numpy)
/usr/bin/python3 -c 'import pytest' 2>/dev/null || need+=(python3-pytest)
# The independent peer of the X-ray attenuation tests.
/usr/bin/python3 -c 'import xraylib' 2>/dev/null || need+=(python3-xraylib)
# pip install . and pip wheel . (setuptools driving CMake), a fresh venv for
# the install test, and mypy for the stubs' test.
/usr/bin/python3 -c 'import pip' 2>/dev/null || need+=(python3-pip)
/usr/bin/python3 -c 'import setuptools' 2>/dev/null || need+=(python3-setuptools)
/usr/bin/python3 -c 'import wheel' 2>/dev/null || need+=(python3-wheel)
/usr/bin/python3 -c 'import ensurepip' 2>/dev/null || need+=(python3-venv)
/usr/bin/python3 -c 'import mypy' 2>/dev/null || need+=(python3-mypy)
fi
# --measure: the peer tools the XRDML speed comparison runs against.
if [ "${1:-}" = --measure ]; then
  command -v hyperfine >/dev/null || need+=(hyperfine)
  /usr/bin/python3 -c 'import xrayutilities' 2>/dev/null || need+=(python3-xrayutilities)
  # The Python package's speed beside periodictable's (bench/python_bench.py).
  /usr/bin/python3 -c 'import periodictable' 2>/dev/null || need+=(python3-periodictable)
fi
# --web: Debian's emscripten with the acorn its optimiser loads, headless chromium and node.
web=()
if [ "${1:-}" = --web ]; then
  command -v em++ >/dev/null || web+=(emscripten)
  # node runs the browser tests' DevTools client (tests/web/pdf_view_test.js).
  command -v node >/dev/null || web+=(nodejs)
  [ -d /usr/share/nodejs/acorn ] || web+=(node-acorn)
  command -v chromium >/dev/null || web+=(chromium)
fi
if [ ${#need[@]} -gt 0 ] || [ ${#web[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ]; then SUDO=; else SUDO=sudo; fi
  $SUDO apt-get update -q
  [ ${#need[@]} -eq 0 ] || $SUDO apt-get install -y -q "${need[@]}"
  # Without chromium's recommends (a desktop's worth of services a headless test does not use).
  [ ${#web[@]} -eq 0 ] || $SUDO apt-get install -y -q --no-install-recommends "${web[@]}"
fi

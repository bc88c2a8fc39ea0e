#!/usr/bin/env python3
"""How long the offline page takes from opening to its first results, in
headless Chromium, beside the floor: the same browser opening an empty page.

usage: bench/web_page_bench.py [WEB_DIR] [--runs N]

Two figures for each page, the median of N cold runs (a fresh profile each):
- wall: the whole `chromium --headless --dump-dom` process, browser start
  included, until the page's DOM is written out;
- ready: the page's own clock (performance.now() when the results are in the
  DOM, which page.js records in <body data-ready-ms>), from the start of the
  navigation: script parse, WebAssembly compile, the table read, the first
  calculation and drawing.
The target: results within a second of opening the page.
"""
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.parse


def load(chromium, url):
    with tempfile.TemporaryDirectory() as profile:
        start = time.perf_counter()
        run = subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                              f"--user-data-dir={profile}", "--dump-dom", url],
                             capture_output=True, text=True, timeout=120)
        wall = time.perf_counter() - start
    if run.returncode != 0:
        sys.exit(f"chromium failed on {url}: {run.stderr[-1000:]}")
    ready = re.search(r'data-ready-ms="([0-9.]+)"', run.stdout)
    return wall * 1000, float(ready.group(1)) if ready else None


def main():
    args = sys.argv[1:]
    runs = 5
    if "--runs" in args:
        i = args.index("--runs")
        runs = int(args[i + 1])
        del args[i:i + 2]
    web = os.path.abspath(args[0] if args else os.path.join(os.path.dirname(__file__), "..", "web"))
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    if chromium is None or not os.path.exists(os.path.join(web, "talvo-wasm.js")):
        sys.exit("needs chromium and a built web/talvo-wasm.js (cmake --preset wasm && cmake --build --preset wasm)")
    script = os.path.getsize(os.path.join(web, "talvo-wasm.js"))
    print(f"talvo-wasm.js: {script / 1024:.0f} KiB (limit 2048 KiB)")
    with tempfile.TemporaryDirectory() as d:
        empty = os.path.join(d, "empty.html")
        with open(empty, "w") as f:
            f.write("<!DOCTYPE html><title>empty</title><p>empty</p>\n")
        page = "file://" + os.path.join(web, "index.html")
        cases = [
            ("floor: an empty page", "file://" + empty),
            ("page: default (H2O, one wavelength)", page),
            ("page: Gd2O3 over 2001 wavelengths", page + "?" + urllib.parse.urlencode(
                {"formula": "Gd2O3", "density": "7.41", "thickness": "0.01", "wavelength": "0.5:20.5:0.01"})),
        ]
        for name, url in cases:
            results = [load(chromium, url) for _ in range(runs)]
            wall = statistics.median(r[0] for r in results)
            readies = [r[1] for r in results if r[1] is not None]
            ready = f"{statistics.median(readies):7.0f} ms" if readies else "      -"
            print(f"{name:40s} wall {wall:7.0f} ms   ready {ready}   ({runs} runs, median)")


if __name__ == "__main__":
    main()

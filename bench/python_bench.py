#!/usr/bin/env python3
"""Times the Python module's calls beside the same library calls made from
C++ (the PythonFloor benchmarks of talvo_bench), and prints the medians, the
ratio and the overhead of each call.

usage: /usr/bin/python3 bench/python_bench.py [BUILD_DIR]   (default build-bench)
"""
import json
import os
import pathlib
import statistics
import subprocess
import sys
import timeit

build = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build-bench").resolve()
root = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(build / "python"))
os.environ.setdefault("G_F", str(root / "data") + "/")

import numpy as np  # noqa: E402

import talvo  # noqa: E402


def grid(n, to):
    return to * np.arange(n, dtype=float) / n


q1m = grid(1000000, 75.0)
q1 = grid(1, 75.0)
q100k = grid(100000, 30.0)
q_s = grid(3001, 30.0)
s = 1.0 + 0.1 * (np.arange(q_s.size) % 7)
r = grid(2000, 20.0) + 0.01
rsm = str(root / "tests" / "data" / "xrdml" / "rsm_401_scans_list_positions.xrdml")
talvo.material("H2O")  # the table is read once, before the timing

CALLS = [
    ("form_factor, 1 point", "BM_PythonFloorFormFactor/1", lambda: talvo.form_factor("Fe", q1)),
    ("form_factor, 10^6 points", "BM_PythonFloorFormFactor/1000000", lambda: talvo.form_factor("Fe", q1m)),
    ("xray_average SiO2, 10^5 Q", "BM_PythonFloorXrayAverage", lambda: talvo.xray_average("SiO2", q100k)),
    ("material CuSO4+5H2O", "BM_PythonFloorMaterial", lambda: talvo.material("CuSO4+5H2O", density=2.286)),
    ("read_xrdml, 401-scan map", "BM_PythonFloorReadXrdml", lambda: talvo.read_xrdml(rsm)),
    ("sq2gr, 3001 Q x 2000 r", "BM_PythonFloorSq2gr", lambda: talvo.sq2gr(q_s, s, r, 0.1)),
]


def python_median(call):
    timer = timeit.Timer(call)
    number, _ = timer.autorange()
    return statistics.median(t / number for t in timer.repeat(repeat=7, number=number))


def cxx_medians():
    out = subprocess.run(
        [str(build / "bench" / "talvo_bench"), "--benchmark_filter=PythonFloor", "--benchmark_format=json",
         "--benchmark_repetitions=7", "--benchmark_report_aggregates_only=true"],
        check=True, capture_output=True, text=True).stdout
    unit = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    return {b["run_name"]: b["real_time"] * unit[b["time_unit"]]
            for b in json.loads(out)["benchmarks"] if b.get("aggregate_name") == "median"}


cxx = cxx_medians()
print(f"{'call':28} {'python':>12} {'C++ (floor)':>12} {'ratio':>7} {'overhead':>10}")
for name, bench, call in CALLS:
    py, c = python_median(call), cxx[bench]
    print(f"{name:28} {py * 1e6:10.1f}us {c * 1e6:10.1f}us {py / c:7.3f} {(py - c) * 1e6:8.1f}us")

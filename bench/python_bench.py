#!/usr/bin/env python3
"""Times the Python package's calls beside the same library calls made from
C++ (the PythonFloor benchmarks of talvo_bench, and BM_MaterialFromFormula),
and beside periodictable where it is installed; prints the medians, the
ratios and each target.

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
wavelengths = grid(200, 10.0) + 0.05
rsm = str(root / "tests" / "data" / "xrdml" / "rsm_401_scans_list_positions.xrdml")
talvo.material("H2O")  # the table is read once, before the timing

CALLS = [
    ("form_factor, 1 point", "BM_PythonFloorFormFactor/1", lambda: talvo.form_factor("Fe", q1)),
    ("form_factor, 10^6 points", "BM_PythonFloorFormFactor/1000000", lambda: talvo.form_factor("Fe", q1m)),
    ("xray_average SiO2, 10^5 Q", "BM_PythonFloorXrayAverage", lambda: talvo.xray_average("SiO2", q100k)),
    ("material CuSO4+5H2O", "BM_PythonFloorMaterial", lambda: talvo.material("CuSO4+5H2O", density=2.286)),
    ("material H2O", "BM_PythonFloorMaterialWater", lambda: talvo.material("H2O", density=1.0)),
    ("material Gd2O3, 1 wavelength", None,
     lambda: talvo.material("Gd2O3", density=7.41, thickness=0.01, wavelength=5.0)),
    ("material Gd2O3, 200 wavelengths", "BM_PythonFloorMaterialSweep",
     lambda: talvo.material("Gd2O3", density=7.41, thickness=0.01, wavelength=wavelengths)),
    ("read_xrdml, 401-scan map", "BM_PythonFloorReadXrdml", lambda: talvo.read_xrdml(rsm)),
    ("sq2gr, 3001 Q x 2000 r", "BM_PythonFloorSq2gr", lambda: talvo.sq2gr(q_s, s, r, 0.1)),
]


def python_median(call):
    timer = timeit.Timer(call)
    number, _ = timer.autorange()
    return statistics.median(t / number for t in timer.repeat(repeat=7, number=number))


def cxx_medians():
    out = subprocess.run(
        [str(build / "bench" / "talvo_bench"), "--benchmark_filter=PythonFloor|BM_MaterialFromFormula$",
         "--benchmark_format=json", "--benchmark_repetitions=7", "--benchmark_report_aggregates_only=true"],
        check=True, capture_output=True, text=True, env={**os.environ, "G_F": str(root / "data") + "/"}).stdout
    unit = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    return {b["run_name"]: b["real_time"] * unit[b["time_unit"]]
            for b in json.loads(out)["benchmarks"] if b.get("aggregate_name") == "median"}


cxx = cxx_medians()
py = {}
print(f"{'call':34} {'python':>12} {'C++ (floor)':>12} {'ratio':>7} {'overhead':>10}")
for name, bench, call in CALLS:
    py[name] = python_median(call)
    if bench is None:
        print(f"{name:34} {py[name] * 1e6:10.2f}us")
        continue
    c = cxx[bench]
    print(f"{name:34} {py[name] * 1e6:10.2f}us {c * 1e6:10.2f}us {py[name] / c:7.3f} {(py[name] - c) * 1e6:8.2f}us")

# The interpreter's and the binding's own cost of a call: a one-point
# form_factor less the library's time for it.
overhead = py["form_factor, 1 point"] - cxx["BM_PythonFloorFormFactor/1"]
water, floor = py["material H2O"], cxx["BM_PythonFloorMaterialWater"]
print(f"\nmaterial('H2O', density=1.0): {water * 1e6:.2f} us; target <= 2 x C++ ({floor * 1e6:.2f} us; "
      f"BM_MaterialFromFormula, a mix of formulas, {cxx['BM_MaterialFromFormula'] * 1e6:.2f} us) + call overhead "
      f"({overhead * 1e6:.2f} us) = {(2 * floor + overhead) * 1e6:.2f} us: "
      f"{'met' if water <= 2 * floor + overhead else 'NOT met'}")
one, many = py["material Gd2O3, 1 wavelength"], py["material Gd2O3, 200 wavelengths"]
print(f"200 wavelengths in one call: {many * 1e6:.2f} us = {many / one:.1f} x one call ({one * 1e6:.2f} us); "
      f"target <= 3 x: {'met' if many <= 3 * one else 'NOT met'}")
try:
    import periodictable
except ImportError:
    print("periodictable is not installed (python3-periodictable): no comparison")
else:
    pt = python_median(lambda: periodictable.neutron_scattering("H2O", density=1.0, wavelength=1.798))
    print(f"periodictable.neutron_scattering('H2O', density=1.0): {pt * 1e6:.2f} us, "
          f"{pt / water:.0f} x talvo.material (target >= 100 x)")

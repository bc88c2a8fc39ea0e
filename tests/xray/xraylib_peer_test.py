"""The X-ray material's attenuation against an independent peer: xraylib
(T. Schoonjans et al., Spectrochim. Acta B 66 (2011) 776), Debian's
python3-xraylib. xraylib takes photoabsorption from Scofield's (1973)
calculation, where talvo-tools takes it from Henke's f2, so the totals agree
to a few per cent away from absorption edges; its Rayleigh and Compton
cross-sections come from the same physics and agree more closely.

usage: xraylib_peer_test.py TALVO_TOOLS   (exit 77: skipped, xraylib absent)
"""
import json
import subprocess
import sys

try:
    import xraylib
except ImportError:
    print("skipped: the peer xraylib is not installed (Debian: python3-xraylib, scripts/install-deps.sh)")
    sys.exit(77)

TOOLS = sys.argv[1]

# formula, energy (keV), density (g/cm3), largest relative difference of the totals.
CASES = [
    ("SiO2", 8.048, 2.2, 0.05),
    ("H2O", 17.47934, 1.0, 0.05),
    ("Fe2O3", 8.04778, 5.24, 0.05),
    ("Ni", 8.04778, 8.9, 0.05),
    ("Cu", 9.0, 8.96, 0.05),
    ("Pb", 22.16292, 11.34, 0.05),
    ("C", 5.41472, 2.2, 0.05),
    ("Si", 1.0, 2.33, 0.05),
    ("Al2O3", 25.0, 3.95, 0.05),
    ("CaCO3", 0.5, 2.7, 0.05),
    # Between Gd's L2 and L1 edges and near U's K edge's tail the two
    # photoabsorption sources part: 11 % and 7 %.
    ("Gd2O3", 8.04778, 7.41, 0.15),
    ("U", 29.0, 19.1, 0.10),
]

failures = []
for formula, kev, density, within in CASES:
    out = subprocess.run([TOOLS, "xray", formula, "--energy", repr(kev), "--density", repr(density), "--json"],
                         capture_output=True, text=True, check=True).stdout
    m = json.loads(out)
    peer = {
        "mu_total": xraylib.CS_Total_CP(formula, kev) * density,
        "mu_photo": xraylib.CS_Photo_CP(formula, kev) * density,
        "mu_coh": xraylib.CS_Rayl_CP(formula, kev) * density,
        "mu_incoh": xraylib.CS_Compt_CP(formula, kev) * density,
    }
    limits = {"mu_total": within, "mu_photo": within, "mu_coh": 0.005, "mu_incoh": 0.02}
    for key, value in peer.items():
        diff = m[key] / value - 1.0
        print("%-6s %8s keV  %-8s talvo %-12.6g xraylib %-12.6g %+.4f" % (formula, kev, key, m[key], value, diff))
        if abs(diff) > limits[key]:
            failures.append("%s at %s keV: %s differs by %+.4f (limit %g)" % (formula, kev, key, diff, limits[key]))

if failures:
    print("\n".join(failures))
    sys.exit(1)
print("talvo-tools xray agrees with xraylib")

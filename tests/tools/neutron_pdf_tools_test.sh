#!/usr/bin/env bash
# talvo-tools pdf --radiation neutron from the outside. A silica glass with
# no structure (S = 1) in no can, and a vanadium rod, made here from the
# corrections talvo-tools ncorr prints (attenuation, multiple scattering,
# Placzek) and the atoms lit counted from the sizes: reduced back, S(Q) is 1
# at every point and the files carry their headers. Bad runs (a monitor of
# 0, a vanadium of another wavelength, 2theta that differ, a can thinner
# than nothing) are refused in words, nothing written; neutron
# options are refused on the X-ray path.
# usage: neutron_pdf_tools_test.sh TALVO_TOOLS DATA_DIR
set -u
tools=$1 data=$2
export G_F=$data
fail=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
expect_status() {  # expect_status NAME WANT -- command...
  local name=$1 want=$2
  shift 3
  "$@" >"$work/out" 2>"$work/err"
  local got=$?
  [ "$got" = "$want" ] || { echo "FAIL $name: exit status $got, want $want"; cat "$work/err"; fail=1; }
}

tt=5:125:0.5
sample=(--sample SiO2 --number-density 0.0662 --radius 3 --height 40 --beam-height 20 --wavelength 0.7)
rod=(--sample V --number-density 0.0722 --radius 3 --height 40 --beam-height 20 --wavelength 0.7)
mc=(--histories 20000 --seed 1)
expect_status "ncorr attenuation" 0 -- "$tools" ncorr attenuation "${sample[@]}" --twotheta $tt
cp out a_s
expect_status "ncorr multiple" 0 -- "$tools" ncorr multiple-scattering "${sample[@]}" "${mc[@]}" --twotheta $tt
cp out d_s
expect_status "ncorr placzek" 0 -- "$tools" ncorr placzek --sample SiO2 --number-density 0.0662 --wavelength 0.7 \
  --twotheta $tt
cp out p_s
expect_status "ncorr vanadium" 0 -- "$tools" ncorr attenuation "${rod[@]}" --twotheta $tt
cp out a_v
expect_status "ncorr vanadium multiple" 0 -- "$tools" ncorr multiple-scattering "${rod[@]}" "${mc[@]}" --twotheta $tt
cp out d_v
expect_status "ncorr vanadium placzek" 0 -- "$tools" ncorr placzek --sample V --number-density 0.0722 \
  --wavelength 0.7 --twotheta $tt
cp out p_v

python3 - <<'PY' || fail=1
import math
rows = lambda f: [list(map(float, l.split())) for l in open(f) if not l.startswith("#")]
a_s, d_s, p_s, a_v, d_v, p_v = (rows(f) for f in ("a_s", "d_s", "p_s", "a_v", "d_v", "p_v"))
# Sears 1992: sigma_s of Si, O and V, barn.
self_s = (2.167 + 2 * 4.232) / 3 / (4 * math.pi)
self_v = 5.10 / (4 * math.pi)
lit = math.pi * 0.3 ** 2 * 2.0  # cm3: the whole cross-section, 2 cm of beam
n_s, n_v = 0.0662 * lit, 0.0722 * lit
flux = 1.0 / (n_s * self_s)
def write(name, monitor, values, extra=""):
    with open(name, "w") as f:
        f.write("# synthetic run made by neutron_pdf_tools_test.sh\n# monitor %r\n%s" % (monitor, extra))
        for t, c in values:
            f.write("%r %r %r\n" % (t, c * monitor, math.sqrt(c * monitor)))
tt = [r[0] for r in a_s]
bg = [0.05 * (1 + 0.5 * math.exp(-t / 20)) for t in tt]
write("sample.dat", 1.0e6, [(t, flux * n_s * self_s * (1 + p[1]) * a[1] * (1 + d[1]) + b)
                            for t, a, d, p, b in zip(tt, a_s, d_s, p_s, bg)], "# wavelength 0.7\n")
write("bg.dat", 0.4e6, zip(tt, bg))
write("v.dat", 0.8e6, [(t, flux * n_v * self_v * (1 + p[1]) * a[1] * (1 + d[1]) + 0.03)
                       for t, a, d, p in zip(tt, a_v, d_v, p_v)], "# wavelength 0.7\n")
write("vb.dat", 0.2e6, [(t, 0.03) for t in tt])
write("v_other.dat", 0.8e6, [(t, 1.0) for t in tt], "# wavelength 0.5\n")
write("v_shifted.dat", 0.8e6, [(t + (0.01 if i == 7 else 0), 1.0) for i, t in enumerate(tt)])
PY

sed 's/^# monitor .*/# monitor 0/' bg.dat >bg_zero.dat
neutron=(pdf --radiation neutron --sample SiO2 --number-density 0.0662 --radius 3 --height 40 --beam-height 20
  --wavelength 0.7 --vanadium-radius 3 --vanadium-height 40 --vanadium-number-density 0.0722 "${mc[@]}"
  --vanadium-background vb.dat --r 0:10:0.02)
expect_status "neutron reduction" 0 -- "$tools" "${neutron[@]}" --background bg.dat --vanadium v.dat sample.dat
for k in dcs sq fq gr; do [ -s "sample.$k" ] || { echo "FAIL sample.$k not written"; fail=1; }; done
grep -qx "# radiation = neutron" sample.sq || { echo "FAIL the header names the radiation"; fail=1; }
grep -qx "# vanadium = v.dat" sample.sq || { echo "FAIL the header names the vanadium's run"; fail=1; }
grep -qx "# columns: Q dsigma/dOmega sigma" sample.dcs || { echo "FAIL the dcs columns"; fail=1; }
grep -q "^# wrote sample.gr$" out || { echo "FAIL the files written are named"; fail=1; }
# No structure in, none out: S is 1 within the Monte Carlo's interpolation between its nodes.
python3 - <<'PY' || fail=1
rows = [list(map(float, l.split())) for l in open("sample.sq") if not l.startswith("#")]
assert len(rows) == 241, len(rows)
worst = max(abs(s - 1) for q, s, e in rows)
assert worst < 2e-3, worst
print("neutron pdf tools: S(Q) within %.2g of 1" % worst)
PY
# The same run twice gives the same files.
cp sample.sq first.sq
expect_status "neutron rerun" 0 -- "$tools" "${neutron[@]}" --background bg.dat --vanadium v.dat sample.dat
cmp -s first.sq sample.sq || { echo "FAIL a rerun changed sample.sq"; fail=1; }

# A header reruns its reduction (--config, no --radiation needed): the same file; never over itself.
expect_status "neutron rerun from its header" 0 -- "$tools" pdf --config sample.gr -o again/
rows() { grep -v '^#' "$1"; }
cmp -s <(rows sample.gr) <(rows again/sample.gr) || { echo "FAIL a rerun from the header changed G(r)"; fail=1; }
grep -qx "# input = ../sample.dat" again/sample.gr || { echo "FAIL the rerun's header names its run from its folder"; fail=1; }
# ... so that its header reruns it from anywhere.
expect_status "neutron rerun from elsewhere" 0 -- env -C / "$tools" pdf --config "$work/again/sample.gr" -o "$work/third/"
cmp -s <(rows sample.gr) <(rows third/sample.gr) || { echo "FAIL a rerun from another folder changed G(r)"; fail=1; }
expect_status "neutron rerun over its header" 2 -- "$tools" pdf --config sample.gr
grep -qF "sample.gr is the --config file" err || { echo "FAIL a rerun over its header: $(cat err)"; fail=1; }
sed 's/^# window = none$/# composition = SiO2/' sample.gr >xray_key.gr
expect_status "neutron header with an X-ray key" 2 -- "$tools" pdf --config xray_key.gr -o again/
grep -qF 'unknown key "composition"' err || { echo "FAIL an X-ray key in a neutron header: $(cat err)"; fail=1; }

# --json: one line a sample, the summary's values (rho0 as given, the self term of Sears' sigma_s, S's high-Q
# mean 1), the files and the warnings; a sample that fails has its error in its line, and the others go on.
cp sample.dat second.dat
expect_status "neutron json" 1 -- "$tools" "${neutron[@]}" --background bg.dat --vanadium v.dat sample.dat \
  missing.dat second.dat -o js/ --json
python3 - <<'PY' || fail=1
import json, math
lines = [json.loads(l) for l in open("out")]
assert [l["input"] for l in lines] == ["sample.dat", "missing.dat", "second.dat"], lines
good, bad, again = lines
assert good["radiation"] == "neutron" and abs(good["number_density"] - 0.0662) < 1e-12, good
assert abs(good["self_static"] - (2.167 + 2 * 4.232) / 3 / (4 * math.pi)) < 1e-3, good["self_static"]
assert abs(good["high_q_mean"] - 1) < 2e-3 and good["high_q_mean_sigma"] > 0, good
assert good["files"] == ["js/sample.dcs", "js/sample.sq", "js/sample.fq", "js/sample.gr"], good["files"]
assert isinstance(good["warnings"], list) and isinstance(good["iterations"], int)
assert "error" in bad and "missing.dat" in bad["error"] and "files" not in bad, bad
assert {k: v for k, v in again.items() if k not in ("input", "files")} == \
       {k: v for k, v in good.items() if k not in ("input", "files")}
PY

# --optimize: each fitted value with its sigma in the notes and the JSON, the same value in the header that
# reruns it, the cost lowered.
expect_status "neutron optimize" 0 -- "$tools" "${neutron[@]}" --background bg.dat --vanadium v.dat sample.dat \
  --flat 0.01 --optimize flat:-0.05:0.05 -o fit/ --json
python3 - <<'PY' || fail=1
import json
line = json.loads(open("out").read())
flat = line["fitted"]["flat"]
assert flat["start"] == 0.01 and flat["sigma"] > 0 and flat["at_bound"] is False, flat
assert line["fit_cost_after"] <= line["fit_cost_before"] and line["fit_reductions"] > 0, line
header = [l for l in open("fit/sample.gr") if l.startswith("# ")]
assert "# flat = %r\n" % flat["value"] in header, [l for l in header if "flat" in l]
assert any(l.startswith("# fitted flat: %r +- " % flat["value"]) for l in header), header
PY

# Refusals: the reason in words, nothing written; exit 1 for runs that cannot be used, 2 for wrong usage.
refused() {  # refused NAME STATUS WORDS -- args...
  local name=$1 status=$2 words=$3
  shift 4
  rm -f bad.dcs bad.sq bad.fq bad.gr
  expect_status "$name" "$status" -- "$tools" "$@"
  grep -qF -- "$words" err || { echo "FAIL $name: the message does not say \"$words\""; cat err; fail=1; }
  for k in dcs sq fq gr; do [ ! -e "bad.$k" ] || { echo "FAIL $name wrote bad.$k"; fail=1; }; done
}
refused "monitor 0" 1 "the background's monitor count must be above 0" -- "${neutron[@]}" --background bg_zero.dat \
  --vanadium v.dat sample.dat -o bad
refused "vanadium of another wavelength" 1 "was measured at 0.5 A, not at the reduction's 0.7 A" -- \
  "${neutron[@]}" --background bg.dat --vanadium v_other.dat sample.dat -o bad
refused "2theta that differ" 1 "the vanadium's 2theta 8.51 at point 8 is not the sample's 8.5" -- \
  "${neutron[@]}" --background bg.dat --vanadium v_shifted.dat sample.dat -o bad
refused "a can thinner than nothing" 2 "a can thinner than nothing" -- "${neutron[@]}" --background bg.dat \
  --vanadium v.dat --can bg.dat --container V \
  --container-number-density 0.0722 --container-inner 3.2 --container-outer 3.1 sample.dat -o bad
refused "a fit of what is not there" 2 "--optimize takes a list of density, sample-scale, can-scale and flat" -- \
  "${neutron[@]}" --background bg.dat --vanadium v.dat --optimize mu-r sample.dat -o bad
refused "can-scale without a can" 2 "--optimize can-scale needs --can" -- \
  "${neutron[@]}" --background bg.dat --vanadium v.dat --optimize can-scale sample.dat -o bad
refused "no vanadium" 2 "needs --vanadium" -- pdf --radiation neutron --sample SiO2 --background bg.dat sample.dat -o bad
refused "another radiation" 2 "--radiation is xray or neutron" -- pdf --radiation gamma sample.dat -o bad
refused "a neutron option on the X-ray path" 2 "--vanadium is an option of --radiation neutron" -- \
  pdf --composition SiO2 --vanadium v.dat sample.dat -o bad

[ $fail = 0 ] && echo "neutron pdf tools: all passed"
exit $fail

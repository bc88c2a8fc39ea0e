#!/usr/bin/env bash
# talvo-tools pdf on the files people have and the names they give them:
# pyFAI's and Fit2D's x units, the line an XRDML file intends, names with
# control bytes, bytes that are not UTF-8, names of the longest legal length;
# and what a run shows while it goes: one JSON line a pattern however it is
# stopped, the progress line on a terminal, the exit status of a mistake.
# usage: pdf_inputs_test.sh TALVO_TOOLS TEST_FILES_DIR
set -u
tools=$1 files=$2
fail=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$files/lab_xy/zro2_mo.xy" "$work/"
cd "$work" || exit 1
bad() { echo "FAIL $*"; fail=1; }
raw() { LC_ALL=C grep -q $'[\x01-\x08\x0b-\x1f\x7f]' "$1"; }
ni=$files/pdf_reference/ni_kapton_synchrotron/ni.chi
zro2=(--composition ZrO2 --wavelength 0.71073 --output gr)

# pyFAI's column line states the unit: the nickel pattern laid out as pyFAI writes it is read in 1/nm.
{ printf '# == pyFAI calibration ==\n# Wavelength: 2.0e-11 m\n#       q_nm^-1             I \n'; tail -n +5 "$ni"; } >ni_pyfai.chi
"$tools" pdf ni_pyfai.chi --composition Ni --output gr >/dev/null 2>err || bad "pyFAI q_nm^-1: $(cat err)"
grep -qx '# format = qnm' ni_pyfai.gr || bad "pyFAI q_nm^-1 is not read as Q in 1/nm: $(grep format ni_pyfai.gr)"
cp "$ni" ni.chi && "$tools" pdf ni.chi --composition Ni --output gr >/dev/null 2>&1
[ "$(grep -v '^#' ni.gr)" = "$(grep -v '^#' ni_pyfai.gr)" ] || bad "pyFAI's layout and Fit2D's of one pattern differ"
# An x that is neither 2theta nor Q is refused unless --format says what it holds.
for x in "Radial distance (mm)" "Radius (pixels)" "Azimuth (Degrees)" "Quality factor"; do
  { printf 'ni.edf\n%s\nIntensity\n  2000\n' "$x"; tail -n +5 "$ni"; } >radial.chi
  "$tools" pdf radial.chi --composition Ni --wavelength 0.2 --output gr >/dev/null 2>err
  [ $? = 1 ] && grep -qF "radial.chi states its x as \"$x\", neither 2theta nor Q" err && [ ! -e radial.gr ] ||
    bad "Fit2D x \"$x\": $(cat err)"
done
"$tools" pdf radial.chi --composition Ni --format qnm --output gr >/dev/null 2>err && [ -s radial.gr ] ||
  bad "--format qnm does not read a Fit2D file of another x: $(cat err)"
{ printf '#        r_mm              I \n'; tail -n +5 "$ni"; } >r_mm.xy
"$tools" pdf r_mm.xy --composition Ni --wavelength 0.2 >/dev/null 2>err
[ $? = 1 ] && grep -qF 'r_mm.xy states its x as "r_mm", neither 2theta nor Q' err || bad "pyFAI r_mm: $(cat err)"

# XRDML: the line usedWavelength intends (Kbeta here), or a refusal without the wavelength.
x=$files/xrdml/single_scan_counts.xrdml
sed 's/intended="K-Alpha 1"/intended="K-Beta"/' "$x" >kbeta.xrdml
"$tools" pdf kbeta.xrdml --composition Si --output gr >/dev/null 2>err || bad "K-Beta: $(cat err)"
grep -qx '# wavelength = 1.39225' kbeta.gr || bad "K-Beta: not the file's kBeta: $(grep wavelength kbeta.gr)"
sed 's/intended="K-Alpha 1"/intended="Other"/' "$x" >other.xrdml
"$tools" pdf other.xrdml --composition Si --output gr >/dev/null 2>err
[ $? = 1 ] && grep -qF 'other.xrdml intends the line "Other", which is none of the file' err && [ ! -e other.gr ] ||
  bad "Other: $(cat err)"
"$tools" pdf other.xrdml --composition Si --output gr --wavelength 1.5 >/dev/null 2>err && [ -s other.gr ] ||
  bad "Other with --wavelength: $(cat err)"

# Names with control bytes are shown escaped in every message.
e=$'e\e[31m\n'
sed 's/<kAlpha1[^<]*<\/kAlpha1>//; s/intended="K-Alpha 1"//' "$x" >"$e.xrdml"
cp "$ni" "$e.chi"
cp "$files/pdf_reference/ni_kapton_synchrotron/ni.sq" "$e.sq"
printf '<xrdMeasurements><scan' >"$e.cut.xrdml"
escaped() {
  "$tools" pdf "$@" >/dev/null 2>err
  [ -s err ] || bad "no message for $(printf '%q' "$1")"
  raw err && bad "raw control bytes: $(cat -v err)"
  grep -qF 'e\x1b[31m\x0a' err || bad "the name is not escaped: $(cat -v err)"
}
escaped "$e.xrdml" --composition Si                                  # no wavelength
escaped "$e.chi" --composition Ni --format twotheta --wavelength 0.2 # --format contradicts the file
escaped "$e.sq" --composition Ni -o s                                # the reference program's S(Q)
escaped "$e.cut.xrdml" --composition Si                              # XRDML cut short

# --json: a name that is not UTF-8 comes back as Python's surrogateescape reads it, and names the file.
cp zro2_mo.xy $'inv\xff.xy'
"$tools" pdf --json $'inv\xff.xy' "${zro2[@]}" >json 2>/dev/null || bad "--json of inv\\xff.xy"
python3 - json <<'PY' || bad "--json inv\\xff: $(cat json)"
import json, os, sys
d = json.loads(open(sys.argv[1], "rb").read())
assert d["input"] == "inv\udcff.xy", d["input"]
assert d["files"] == ["inv\udcff.gr"] and os.path.exists(os.fsencode(d["files"][0])), d["files"]
PY

# The longest names whose outputs are legal: 245 bytes, and 82 three-byte characters.
long=$(printf 'n%.0s' $(seq 245)) && long=${long:0:245}
cjk=$(printf '\xe6\xbc\xa2%.0s' $(seq 81))
for name in "${long:0:242}.xy" "${long:0:247}.x" "$cjk.x"; do
  cp zro2_mo.xy "$name"
  "$tools" pdf "$name" --composition ZrO2 --wavelength 0.71073 --density 5.68 >/dev/null 2>err ||
    bad "a name of ${#name} characters: $(grep -v warning err | tail -c 200)"
  stem=${name%.*}
  for k in iq sq fq gr gofr rdf; do [ -s "$stem.$k" ] || bad "no $k for a name of ${#name} characters"; done
  [ -z "$(find . -maxdepth 1 -name '.?*')" ] || bad "hidden files left: $(find . -maxdepth 1 -name '.?*' | head -2)"
  rm -f "$stem".*
done

# -j: any number outside 1 to 256 is the same usage mistake (exit 2).
for j in 0 257 99999999999999999999 -1; do
  "$tools" pdf zro2_mo.xy "${zro2[@]}" -j "$j" >/dev/null 2>err
  [ $? = 2 ] && grep -qF -- "-j must be 1 to 256 threads, not \"$j\"" err || bad "-j $j: $(cat err)"
done
# A beam wider than any number lights the whole capillary, as no width does.
cap=(--composition ZrO2 --wavelength 0.71073 --density 5.68 --geometry capillary --capillary-diameter 0.5 --output gr)
"$tools" pdf zro2_mo.xy "${cap[@]}" -o whole >/dev/null 2>&1 || bad "capillary without a beam width"
"$tools" pdf zro2_mo.xy "${cap[@]}" --beam-width 1e308 -o wide >/dev/null 2>err || bad "--beam-width 1e308: $(cat err)"
[ "$(grep -v '^#' whole.gr)" = "$(grep -v '^#' wide.gr)" ] || bad "--beam-width 1e308 differs from the whole section"

# A size whose absorption passes the doubles is said with the size as given, not as "inf".
"$tools" pdf zro2_mo.xy --composition ZrO2 --wavelength 0.71073 --density 5.68 --geometry capillary \
  --capillary-diameter 1e308 --output gr >/dev/null 2>err
[ $? = 1 ] && grep -qF "times the capillary's radius (its diameter 1e+308 mm) is beyond the double range" err ||
  bad "--capillary-diameter 1e308: $(cat err)"

# A --json series stopped by SIGTERM has printed one line for every pattern whose files are in place.
mkdir series && for k in $(seq -w 1 60); do cp zro2_mo.xy "series/p$k.xy"; done
"$tools" pdf series/p*.xy "${zro2[@]}" -o series/ -j 2 --json >series.json 2>/dev/null &
pid=$!
for _ in $(seq 400); do [ -e series/p05.gr ] && break; sleep 0.02; done
kill -TERM $pid 2>/dev/null
wait $pid
sets=$(ls series/*.gr 2>/dev/null | wc -l)
lines=$(wc -l <series.json)
[ "$sets" -ge 5 ] && [ "$lines" -ge $((sets - 1)) ] && [ "$lines" -le "$sets" ] ||
  bad "SIGTERM: $sets sets written, $lines JSON lines"
python3 -c 'import json, sys; [json.loads(l) for l in open(sys.argv[1])]' series.json || bad "SIGTERM: a JSON line cut"

# On a terminal the progress line is drawn again after every message that took it off.
python3 - "$tools" <<'PY' || bad "the progress line is not redrawn after each clear"
import os, pty, subprocess, sys
tools = sys.argv[1]
inputs = ["series/p%02d.xy" % k for k in range(1, 31)]
leader, follower = pty.openpty()
p = subprocess.Popen([tools, "pdf", *inputs, "--composition", "ZrO2", "--wavelength", "0.71073", "--output", "gr",
                      "-o", "series/", "-j", "2"], stdout=subprocess.DEVNULL, stderr=follower)
os.close(follower)
seen = b""
while True:
    try:
        piece = os.read(leader, 65536)
    except OSError:
        break
    if not piece:
        break
    seen += piece
p.wait()
draws = seen.count(b"\rtalvo-tools pdf: ")
# A draw after every pattern's clear: one a pattern at least, however fast they come.
assert p.returncode == 0, p.returncode
assert draws >= len(inputs), (draws, seen[-300:])
print("progress drawn", draws, "times for", len(inputs), "patterns")
PY

echo "SIGTERM: $sets sets, $lines JSON lines"
[ $fail = 0 ] && echo "talvo-tools pdf input checks passed"
exit $fail

#!/usr/bin/env bash
# talvo-tools pdf from the outside: the files it writes, a rerun from their
# headers, the summary, and bad input that writes nothing.
# usage: pdf_tools_test.sh TALVO_TOOLS TEST_FILES_DIR
set -u
tools=$1 files=$2
fail=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$files/lab_xy/zro2_mo.xy" "$files/lab_xy/CeO2_635um_accum_0.xy" "$work/"
cd "$work" || exit 1
bad() { echo "FAIL $*"; fail=1; }

zro2=(zro2_mo.xy --composition ZrO2 --density 5.68 --geometry capillary --mu-r 1.25 --wavelength 0.71073)

# Every output, named after the input; rows "x value sigma" after the header,
# g(r) and R(r) with N(r) where the density is known.
"$tools" pdf "${zro2[@]}" --window lorch >out 2>err || bad "ZrO2 reduction failed: $(cat err)"
for k in iq sq fq gr gofr rdf; do
  [ -s "zro2_mo.$k" ] || bad "no zro2_mo.$k"
done
grep -q '^# composition = ZrO2$' zro2_mo.gr || bad "the header lacks the composition"
grep -q '^# normalisation constant alpha: [0-9.e-]* +- [0-9.e-]* ' zro2_mo.gr ||
  bad "the header lacks the normalisation constant and its sigma"
[ "$(grep -v '^#' zro2_mo.rdf | head -1)" = "0 0 0 0 0" ] || bad "R(0) and N(0) are not 0 with sigma 0"
awk '!/^#/ && NF != 5 { exit 1 }' zro2_mo.rdf || bad ".rdf rows are not r R sigma N sigma_N"
awk '!/^#/ && NF != 3 { exit 1 }' zro2_mo.gofr || bad ".gofr rows are not r g sigma"
[ "$(grep -v '^#' zro2_mo.rdf | wc -l)" = 3001 ] || bad ".rdf is not on the r grid of .gr"
[ "$(grep -v '^#' zro2_mo.gr | head -1)" = "0 0 0" ] || bad "G(0) is not 0 0 0"
[ "$(grep -v '^#' zro2_mo.gr | wc -l)" = 3001 ] || bad "r 0:30:0.01 is not 3001 rows"
[ "$(grep -v '^#' zro2_mo.gr | sed -n 84p | cut -d' ' -f1)" = 0.83 ] || bad "r is not written as its decimal"
grep -q 'not whole counts' err || bad "the errors of averaged counts are not explained"

# A rerun from a header gives the same files, byte for byte but for the input, named from the new files' folder.
mkdir again
"$tools" pdf --config zro2_mo.gr -o again/z >/dev/null 2>&1 || bad "rerun from the header failed"
for k in iq sq fq gr gofr rdf; do
  cmp -s "zro2_mo.$k" <(sed 's|^# input = ../zro2_mo.xy$|# input = zro2_mo.xy|' "again/z.$k") || bad "rerun: .$k differs"
done
# A command-line option overrides the file's.
"$tools" pdf --config zro2_mo.gr -o again/w --window none --output gr >/dev/null 2>&1 || bad "override failed"
grep -q '^# window = none$' again/w.gr || bad "--window on the command line did not override the file's"

# A header reruns from any folder: it names its files from its own folder.
mkdir -p runs/out far/away
cp zro2_mo.xy runs/
"$tools" pdf runs/zro2_mo.xy --composition ZrO2 --density 5.68 --geometry capillary --mu-r 1.25 \
  --wavelength 0.71073 --output gr -o runs/out/ >/dev/null 2>&1 || bad "reduction into runs/out/ failed"
grep -qx '# input = ../zro2_mo.xy' runs/out/zro2_mo.gr || bad "the header's input is not named from its folder"
(cd far/away && "$tools" pdf --config ../../runs/out/zro2_mo.gr -o here/ >/dev/null 2>err) ||
  bad "a rerun from another folder failed: $(cat far/away/err)"
cmp -s <(grep -v '^# input' runs/out/zro2_mo.gr) <(grep -v '^# input' far/away/here/zro2_mo.gr) ||
  bad "a rerun from another folder differs"
# An earlier header whose input is named from where it ran still reruns from there.
sed 's|^# input = .*|# input = runs/zro2_mo.xy|' runs/out/zro2_mo.gr >old.gr
"$tools" pdf --config old.gr -o again/old >/dev/null 2>&1 || bad "an earlier header no longer reruns"
# What is asked now replaces the header's values it conflicts with: --thickness its mu R,
# --monochromator its polarisation.
"$tools" pdf --config zro2_mo.gr --thickness 0.03 -o again/t --output gr >/dev/null 2>err ||
  bad "--thickness over a header's mu-r refused: $(cat err)"
grep -q '^# mu-r' again/t.gr && bad "the header's mu-r stayed beside --thickness"
grep -qx '# thickness = 0.03' again/t.gr || bad "--thickness not recorded"
"$tools" pdf --config zro2_mo.gr --monochromator HOPG -o again/m --output gr >/dev/null 2>err ||
  bad "--monochromator over a header's polarization refused: $(cat err)"
grep -q '^# polarization' again/m.gr && bad "the header's polarization stayed beside a monochromator"
# A setting file as people write it: its marks, tabs and case read; a line it cannot read named.
printf '# Input = zro2_mo.xy\ncomposition=ZrO2\ndensity: 5.68\ngeometry\t=\tcapillary\nMU-R = 1.25\nwavelength = 0.71073\n' \
  >forms.cfg
"$tools" pdf --config forms.cfg -o again/f --output gr >/dev/null 2>err || bad "the usual forms refused: $(cat err)"
grep -qx '# density = 5.68' again/f.gr || bad "density: 5.68 was not read"
grep -qx '# mu-r = 1.25' again/f.gr || bad "MU-R = 1.25 was not read"
printf 'input = zro2_mo.xy\ncomposition ZrO2\n' >words.cfg
"$tools" pdf --config words.cfg -o again/x >/dev/null 2>err && bad "an unread line passed"
grep -q 'words.cfg line 2 is not read: "composition ZrO2"' err || bad "the unread line is not named: $(cat err)"
printf '[PDF]\ninputfile = zro2_mo.xy\ndataformat = twotheta\ncomposition = ZrO2\nwavelength = 0.71\nqmax = 24 ; c\n' >q.cfg
"$tools" pdf --config q.cfg -o again/q >/dev/null 2>err && bad "qmax = 24 ; c passed"
grep -q -- '--qmax (q.cfg line 6) is not a number: "24 ; c"' err || bad "the bad value is not named with its line: $(cat err)"
[ -e again/w.sq ] && bad "--output gr wrote .sq"

# The summary.
json=$("$tools" pdf "${zro2[@]}" -o j --json 2>/dev/null)
python3 - "$json" <<'PY' || bad "--json: $json"
import json, sys
d = json.loads(sys.argv[1])
assert d["mode"] == "physical" and d["normalization_constant"] > 0
assert 0 < d["normalization_constant_sigma"] < 0.01 * d["normalization_constant"]
assert 0 < d["absorption_min"] < d["absorption_max"] <= 1
assert 0 < d["compton_fraction_at_qmax"] < 1 and d["outliers"] == []
assert d["files"] == ["j.iq", "j.sq", "j.fq", "j.gr", "j.gofr", "j.rdf"]
PY

# The picture: four panels in well-formed XML, titled with the input's file
# name, whatever bytes it holds (markup, the terminal's escape, not UTF-8).
odd=$'a<b>&c"\x01\x1b[31m\xff.xy'
cp zro2_mo.xy "$odd"
"$tools" pdf "$odd" "${zro2[@]:1}" -o p --plot p.svg >/dev/null 2>&1 || bad "--plot failed"
python3 - p.svg <<'PY' || bad "p.svg is not the picture of the odd name in well-formed XML"
import sys, xml.etree.ElementTree as ET
svg = ET.parse(sys.argv[1]).getroot()
ns = {"s": "http://www.w3.org/2000/svg"}
title = [t.text for t in svg.iterfind(".//s:text[@class='title']", ns)]
assert title == ['a<b>&c\\"\\x01\\x1b[31m\\xff.xy \u2014 physical mode'], title
assert [g.get("id") for g in svg.iterfind("s:g", ns)] == ["iq", "sq", "fq", "gr"]
PY

# A zinger in the input is removed and listed.
awk 'NR == 3000 { $2 = $2 * 40 } { print }' CeO2_635um_accum_0.xy >zinger.xy
"$tools" pdf zinger.xy --composition CeO2 --density 7.215 --geometry capillary --mu-r 1.75 --wavelength 0.71073 \
  --json 2>/dev/null | grep -q '"outliers": \[75.5' || bad "the zinger at 75.5 degrees is not listed"

# XRDML: the wavelength from the file (Kalpha1 as it intends), the ad hoc mode without a density.
"$tools" pdf "$files/xrdml/single_scan_counts.xrdml" --composition Si -o x --json 2>/dev/null |
  grep -q '"mode": "adhoc", "wavelength": 1.540598,' || bad "XRDML: not ad hoc at the file's Kalpha1"
grep -q '^# format = xrdml$' x.gr && grep -q '^# scan = 0$' x.gr || bad "XRDML: format and scan not in the header"
[ -e x.gofr ] || [ -e x.rdf ] && bad "without a density g(r) and R(r) were written"

# Outputs land in the current folder, or in a folder named with -o DIR/ (or an existing one).
mkdir -p here into && cp zro2_mo.xy fresh.xy && cd here || exit 1
"$tools" pdf ../fresh.xy --composition ZrO2 --wavelength 0.71073 --output gr >/dev/null 2>&1 || bad "default prefix run"
[ -s fresh.gr ] && [ ! -e ../fresh.gr ] || bad "the default prefix is not the input's name in the current folder"
"$tools" pdf ../fresh.xy --composition ZrO2 --wavelength 0.71073 --output gr -o ../into/ >/dev/null 2>&1 &&
  "$tools" pdf ../fresh.xy --composition ZrO2 --wavelength 0.71073 --output sq -o ../into >/dev/null 2>&1 ||
  bad "-o DIR failed"
[ -s ../into/fresh.gr ] && [ -s ../into/fresh.sq ] || bad "-o DIR/ and -o DIR did not write DIR/NAME.*"
cd .. || exit 1

# The option forms people type: each file once, an empty list and a second -o refused.
out=$("$tools" pdf zro2_mo.xy --composition ZrO2 --wavelength 0.71073 -o once --output iq,iq,iq 2>/dev/null)
[ "$(grep -c '^# wrote once.iq$' <<<"$out")" = 1 ] || bad "--output iq,iq,iq: $out"
for args in "--output=" "-o a -o b" "-j 0"; do
  case $args in
    --output=) set -- --output '' ;;
    *) read -ra words <<<"$args"; set -- "${words[@]}" ;;
  esac
  "$tools" pdf zro2_mo.xy --composition ZrO2 --wavelength 0.71073 "$@" >/dev/null 2>err
  [ $? = 2 ] || bad "$args: not a usage error"
done
"$tools" pdf zro2_mo.xy --composition ZrO2 --wavelength 0.71073 --output '' 2>&1 | head -1 |
  grep -qx 'talvo-tools pdf: --output is empty: give one or more of iq, sq, fq, gr, gofr and rdf; see `talvo-tools pdf --help`' || bad "--output '' message"
"$tools" pdf zro2_mo.xy --composition ZrO2 --wavelength 0.71073 -o a -o b 2>&1 | head -1 |
  grep -qx 'talvo-tools pdf: -o is given twice: give it once; see `talvo-tools pdf --help`' || bad "-o twice message"
# After --, a name that starts with a dash (or is -o) is an input; before it, an unknown option, quoted escaped.
cp zro2_mo.xy ./-o
"$tools" pdf --composition ZrO2 --wavelength 0.71073 --output gr -- -o >/dev/null 2>err && [ -s ./-o.gr ] ||
  bad "-- -o: $(cat err)"
"$tools" pdf zro2_mo.xy --composition ZrO2 --wavelength 0.71073 $'-\e[31mX' 2>&1 | head -1 |
  grep -qxF 'talvo-tools pdf: unknown option -\x1b[31mX; see `talvo-tools pdf --help`' || bad "unknown option, escaped"
rm -f ./-o ./-o.*
# -o DIR/ makes the folder (and those above it); a PREFIX's folder that is not there is said before any
# pattern is reduced, and so is a DIR/ that cannot be made.
"$tools" pdf zro2_mo.xy --composition ZrO2 --wavelength 0.71073 --output gr -o new/deeper/ 2>err >/dev/null &&
  [ -s new/deeper/zro2_mo.gr ] || bad "-o new/deeper/: $(cat err)"
"$tools" pdf zro2_mo.xy --composition ZrO2 --wavelength 0.71073 -o nowhere/z 2>err >/dev/null
[ $? = 1 ] && grep -qxF 'talvo-tools pdf: -o nowhere/z: there is no folder nowhere to write into' err || bad "-o nowhere/z: $(cat err)"
"$tools" pdf zro2_mo.xy --composition ZrO2 --wavelength 0.71073 -o zro2_mo.xy/sub/ 2>err >/dev/null
[ $? = 1 ] && grep -qF 'talvo-tools pdf: -o zro2_mo.xy/sub/: cannot make the folder zro2_mo.xy/sub/' err ||
  bad "-o FILE/sub/: $(cat err)"
[ ! -e nowhere ] || bad "-o nowhere/z made a folder"
# A run refused after the folder is named (a background that is not there), or whose every pattern fails,
# leaves no folder it made; one that writes a pattern keeps it.
"$tools" pdf zro2_mo.xy --composition ZrO2 --wavelength 0.71073 --background absent.xy -o refused/deep/ 2>err >/dev/null
[ $? = 1 ] && [ ! -e refused ] || bad "refused run left -o refused/deep/: $(cat err)"
printf '1 2\n' >one_point.xy
"$tools" pdf one_point.xy --composition ZrO2 --wavelength 0.71073 -o failed/deep/ 2>err >/dev/null
[ $? = 1 ] && [ ! -e failed ] || bad "failed run left -o failed/deep/: $(cat err)"
mkdir -p kept
"$tools" pdf one_point.xy --composition ZrO2 --wavelength 0.71073 -o kept/deep/ 2>err >/dev/null
[ $? = 1 ] && [ -d kept ] && [ ! -e kept/deep ] || bad "failed run removed a folder it did not make: $(cat err)"
"$tools" pdf one_point.xy zro2_mo.xy --composition ZrO2 --wavelength 0.71073 --output gr -o half/ 2>err >/dev/null
[ $? = 1 ] && [ -s half/zro2_mo.gr ] || bad "a run with one good pattern lost its folder: $(cat err)"
rm -rf kept half one_point.xy

# Many patterns in one run: each into its own files, a broken one named with its reason while the others go
# on (exit 1), one JSON line a pattern, and the same bytes on two threads as on one.
mkdir -p batch1 batch2 && cd batch1 || exit 1
for k in 1 2 3 4 5; do cp ../zro2_mo.xy "p$k.xy"; done
printf '10 1\n' >p3.xy
"$tools" pdf p*.xy --composition ZrO2 --wavelength 0.71073 --json >json 2>err
[ $? = 1 ] || bad "batch with a broken pattern: exit status not 1"
grep -q '^talvo-tools pdf: p3.xy: 1 data rows; a pattern needs at least 3$' err || bad "the broken pattern: $(cat err)"
grep -q '^talvo-tools pdf: 1 of 5 patterns failed$' err || bad "no count of the failures"
[ "$(ls p?.gr | tr '\n' ' ')" = "p1.gr p2.gr p4.gr p5.gr " ] || bad "batch wrote $(ls)"
python3 - json <<'PY' || bad "batch --json: $(cat json)"
import json, sys
lines = [json.loads(l) for l in open(sys.argv[1])]
assert [l["input"] for l in lines] == ["p1.xy", "p2.xy", "p3.xy", "p4.xy", "p5.xy"]
assert lines[2]["error"] == "p3.xy: 1 data rows; a pattern needs at least 3"
assert lines[3]["files"] == ["p4.iq", "p4.sq", "p4.fq", "p4.gr"] and lines[3]["mode"] == "adhoc"
PY
cd ../batch2 && cp ../batch1/p?.xy . || exit 1
"$tools" pdf p*.xy --composition ZrO2 --wavelength 0.71073 --json -j 2 >json 2>err
[ $? = 1 ] || bad "-j 2: exit status"
for f in json err p1.iq p2.sq p4.fq p5.gr; do cmp -s "$f" "../batch1/$f" || bad "-j 2: $f differs from -j 1"; done
# Patterns reduced ahead of a slow first one hold their files open: never more than the limit on open files
# allows, so a low limit costs speed, not patterns.
mkdir ../limited && cd ../limited || exit 1
awk 'BEGIN { OFMT = "%.12g" } { if (NR > 1) for (k = 1; k < 40; ++k) print px + ($1 - px) * k / 40, py + ($2 - py) * k / 40; print; px = $1
       py = $2 }' ../zro2_mo.xy >p00.xy
for k in $(seq 10 39); do awk 'NR % 8 == 1' ../zro2_mo.xy >"p$k.xy"; done
(ulimit -n 48 && "$tools" pdf p*.xy --composition ZrO2 --wavelength 0.71073 --r 0:10:0.05 -j 4 >out 2>err) ||
  bad "-j 4 under 48 open files: $(grep -v warning err | head -3)"
[ "$(ls ./*.gr | wc -l)" = 31 ] || bad "-j 4 under 48 open files wrote $(ls ./*.gr | wc -l) of 31 .gr"
cd ../batch2 || exit 1
# A terminal sees the progress; a file does not.
grep -q 'patterns/s' err && bad "progress written into a file"
if command -v script >/dev/null; then
  script -qec "'$tools' pdf p1.xy p2.xy --composition ZrO2 --wavelength 0.71073 -o ../batch1/ >/dev/null" /dev/null |
    tr '\r' '\n' | grep -aq '^talvo-tools pdf: 2/2 patterns, [0-9.]* patterns/s, 0 s left' || bad "no progress on a terminal"
fi
# Refused before any file is read: two inputs with one name, a PREFIX or a --plot for several.
cp p1.xy ../p1.chi
check_usage() {
  local want=$1; shift
  "$tools" pdf "$@" --composition ZrO2 --wavelength 0.71073 >/dev/null 2>err
  [ $? = 2 ] && grep -qF -- "$want" err || bad "$want: $(head -1 err)"
}
check_usage "p1.xy and ../p1.chi would both write p1.iq" p1.xy ../p1.chi
check_usage "-o x names the files of one pattern: with 2 inputs give a folder, -o DIR/" p1.xy p2.xy -o x
check_usage "--plot FILE.svg draws one pattern" p1.xy p2.xy --plot x.svg
cd .. || exit 1

# A name that holds a line end cannot add a line to the header, and --config of that header gives back the run.
name=$'odd\nplot = injected.svg.xy'
cp zro2_mo.xy "$name"
"$tools" pdf "$name" --composition ZrO2 --wavelength 0.71073 -o odd >/dev/null 2>&1 || bad "a name with a line end"
grep -qx '# input = "odd\\x0aplot = injected.svg.xy"' odd.gr || bad "the input's name is not quoted: $(grep input odd.gr)"
"$tools" pdf --config odd.gr -o odd2 >/dev/null 2>&1 || bad "--config of a quoted name"
for k in iq sq fq gr; do cmp -s "odd.$k" "odd2.$k" || bad "--config of a quoted name: .$k differs"; done
[ -e injected.svg ] && bad "the header's name wrote injected.svg"

# A write that fails names its reason, and the previous files stay.
cp odd.gr before.gr
(trap '' XFSZ; ulimit -f 20; "$tools" pdf zro2_mo.xy --composition ZrO2 --wavelength 0.71073 -o odd --window lorch \
  >/dev/null 2>err)
[ $? = 1 ] || bad "a write past the file-size limit: exit status"
grep -q '^talvo-tools pdf: cannot write odd\.[a-z]*: File too large$' err || bad "no reason: $(cat err)"
cmp -s odd.gr before.gr || bad "a failed run changed odd.gr"

# The files people have: the reference program's output header as --config, its I(Q) as the pattern.
ref=$files/pdf_reference/ni_kapton_synchrotron
"$tools" pdf --config "$ref/ni.iq" "$ref/ni.iq" -o ni >/dev/null 2>err ||
  bad "--config ni.iq ni.iq: $(cat err)"
[ "$(grep -c 'not used by talvo-tools pdf: inputdir, savedir, backgroundfilefull$' err)" = 1 ] ||
  bad "the unused keys are not named once: $(cat err)"
grep -q "ni.iq is the reference program's I(Q), its background (0.0848180823037 x Kapton-bkg.chi) subtracted already" \
  err || bad "the background subtracted already is not told: $(cat err)"
grep -qx '# format = qa' ni.gr && grep -qx '# composition = Ni' ni.gr && grep -qx '# r = 0:80:0.01' ni.gr &&
  ! grep -q '^# background' ni.gr || bad "ni.gr's header: $(grep '^# [a-z-]* = ' ni.gr)"
"$tools" pdf --config ni.gr -o ni2 >/dev/null 2>&1 || bad "rerun of ni.gr"
for k in iq sq fq gr; do cmp -s "ni.$k" "ni2.$k" || bad "rerun of ni.gr: .$k differs"; done
"$tools" pdf --config "$ref/ni.iq" "$ref/ni.chi" -o nichi >/dev/null 2>err
[ $? = 1 ] && grep -q "names the background $ref/Kapton-bkg.chi, which is not there: give --background FILE, or --bg-scale 0 to reduce without one" err ||
  bad "a missing background named by --config: $(cat err)"
"$tools" pdf --config "$ref/ni.iq" "$ref/ni.chi" --bg-scale 0 -o nichi >/dev/null 2>err ||
  bad "--bg-scale 0 without the background: $(cat err)"
grep -qx '# format = qnm' nichi.gr || bad "ni.chi is not read in 1/nm"
"$tools" pdf "$ref/ni.chi" --composition Ni --format twotheta -o x >/dev/null 2>err
[ $? = 1 ] && grep -q 'states its x as "Q (Inverse Nanometres)", which is qnm: --format twotheta contradicts it' err ||
  bad "a --format against the file's own unit: $(cat err)"
"$tools" pdf "$ref/ni.sq" --composition Ni -o x >/dev/null 2>err
[ $? = 1 ] && grep -q "holds the reference program's S(Q) (outputtype = sq), not a measured pattern" err ||
  bad "ni.sq as a pattern: $(cat err)"
# Its configuration file, with the pattern given on the command line.
printf '[DEFAULT]\ndataformat = Qnm\ncomposition = Ni\nqmin = 0.1\nqmax = 27\nqmaxinst = 31.5\nrpoly = 0.9\nrmax = 20\noutputtype = gr\nmode = xray\nplot = on\n' >ni.cfg
"$tools" pdf --config ni.cfg "$ref/ni.chi" -o cfg >out 2>err || bad "a reference configuration: $(cat err)"
[ "$(grep '^# wrote' out)" = "# wrote cfg.gr" ] || bad "outputtype = gr wrote $(grep wrote out)"
grep -q 'ni.cfg: not used by talvo-tools pdf: plot$' err || bad "the unused plot key: $(cat err)"

# The synchrotron's 0.1 A (124 keV), beyond Henke's table: f', f'' and mu from Chantler's FFAST, named in the
# header and the JSON; the laboratory's Mo K alpha keeps Henke's. --breit-dirac 0 is recorded as given.
"$tools" pdf "$ref/ni.iq" --composition Ni --wavelength 0.1 --density 8.9 --geometry capillary --thickness 0.05 \
  --breit-dirac 0 -o ni124 --json >out 2>err || bad "Ni at 124 keV: $(cat err)"
grep -q '^# f_table = chantler-ffast (' ni124.sq && grep -qx '# breit-dirac = 0' ni124.sq &&
  grep -q '"mu": 2.6[0-9]*, "f_table": "chantler-ffast"' out && ! grep -q "no dispersion" err ||
  bad "Ni at 124 keV: $(grep f_table ni124.sq) $(cat out err)"
"$tools" pdf zro2_mo.xy --composition ZrO2 --density 5.68 --wavelength 0.71073 --geometry capillary --mu-r 1.25 \
  -o zr_table >/dev/null 2>&1
grep -q '^# f_table = henke93 (' zr_table.gr || bad "ZrO2 at Mo K alpha: $(grep f_table zr_table.gr)"

# Below the first point: the extrapolation and S0 in the header, its points in .sq (sigma 0) and the JSON,
# and a rerun from the header the same files.
"$tools" pdf zro2_mo.xy --composition ZrO2 --density 5.68 --wavelength 0.71073 --geometry capillary --mu-r 1.25 \
  --qmin 1 --extrapolate poly --s0 0.05 -o zr_poly --json >out 2>/dev/null || bad "--extrapolate poly"
grep -qx '# extrapolate = poly' zr_poly.sq && grep -qx '# s0 = 0.05' zr_poly.sq &&
  grep -q '^# S(Q) extrapolated below the first measured Q, 1[.0-9]*: [0-9]* points (poly from S0 = 0.05; sigma 0)$' \
    zr_poly.sq && grep -q '"extrapolated": [1-9]' out || bad "--extrapolate in the header: $(grep '^#' zr_poly.sq)"
awk '!/^#/ { n++; if (n == 1 && !($1 < 0.1 && $3 == 0)) bad = 1 } END { exit bad }' zr_poly.sq ||
  bad "the first .sq point is not an extrapolated one: $(grep -v '^#' zr_poly.sq | head -1)"
"$tools" pdf --config zr_poly.gr -o zr_poly2 >/dev/null 2>&1 || bad "rerun of zr_poly.gr"
for k in sq fq gr; do cmp -s "zr_poly.$k" "zr_poly2.$k" || bad "rerun of --extrapolate: .$k differs"; done

# The synchrotron nickel cut to start at Q = 1 1/A, as behind a large beam stop (124 keV: FFAST's f', f'', mu):
# with F = 0 below the data the low-r iteration pushes S below its floor (0 for one element, -0.19 at the
# first point); extrapolated to S(0) = 0 by a line or the polynomial it stays above it (+0.03). Q to 27 1/A,
# the reference reduction's qmax (its points above rise steeply).
awk '/^#L/ { on = 1; next } on && $1 >= 1.0 && $1 <= 27 { print }' "$ref/ni.iq" >ni_cut.xy
ni_cut=(ni_cut.xy --format qa --composition Ni --density 8.908 --packing 0.5 --wavelength 0.1 --geometry capillary
  --mu-r 0.1 --rmin-iterate 1.5 --json)
lowest() { sed -n 's/.*"lowest_smoothed_s": \([-0-9.e]*\),.*"floor_there": \([-0-9.e]*\).*/\1 \2/p' "$1"; }
"$tools" pdf "${ni_cut[@]}" -o ni_none >out 2>err || bad "the cut nickel: $(cat err)"
grep -q '"f_table": "chantler-ffast"' out || bad "the cut nickel's f_table: $(cat out)"
grep -q "goes below the floor" err && lowest out | awk '{ exit !($1 < $2 - 0.1) }' ||
  bad "the cut nickel without extrapolation is not below its floor: $(lowest out) $(cat err)"
for how in linear poly; do
  "$tools" pdf "${ni_cut[@]}" --extrapolate $how -o ni_$how >out 2>err || bad "the cut nickel, $how: $(cat err)"
  ! grep -q "goes below the floor" err && lowest out | awk '{ exit !($1 > $2) }' ||
    bad "the cut nickel extrapolated ($how) goes below its floor: $(lowest out) $(cat err)"
done

# Bad input: exit 1 (or 2 for usage), a message that says what to change, no file.
mkdir none && cd none || exit 1
check_fails() {
  local want_status=$1 want=$2
  shift 2
  "$tools" pdf "$@" >/dev/null 2>err
  local status=$?
  [ "$status" = "$want_status" ] || bad "$want: status $status"
  grep -qF -- "$want" err || bad "$want: message was $(cat err)"
  [ -z "$(ls | grep -v '^err$')" ] && return
  bad "$want: wrote $(ls)"
  rm -f -- *.iq *.sq *.fq *.gr *.gofr *.rdf *.svg
}
z=(../zro2_mo.xy --composition ZrO2 --density 5.68 --geometry capillary --mu-r 1.25)
check_fails 1 "give --composition FORMULA" ../zro2_mo.xy --density 5.68 --wavelength 0.71
check_fails 1 "needs the wavelength: give the wavelength" "${z[@]}"
check_fails 1 "lies above the data" "${z[@]}" --wavelength 0.71073 --qmax 40 --plot x.svg
check_fails 1 "the density must be above 0" ../zro2_mo.xy --composition ZrO2 --density 0 --wavelength 0.71 --mu-r 1 \
  --geometry capillary
check_fails 1 "lower rpoly" ../zro2_mo.xy --composition ZrO2 --wavelength 0.71073 --rpoly 900
printf '150 5\n151 5\n152 5\n' >../far.xy
check_fails 1 "measure the background over the sample's whole range" "${z[@]}" --wavelength 0.71073 \
  --background ../far.xy
check_fails 2 "--mode must be physical or adhoc" "${z[@]}" --wavelength 0.71 --mode both
check_fails 2 "unknown option --qmx" "${z[@]}" --wavelength 0.71 --qmx 3
check_fails 2 "give --density or --number-density, not both" "${z[@]}" --wavelength 0.71 --number-density 0.08
check_fails 1 "--anode: no anode \"Xx\"" "${z[@]}" --anode Xx
printf '10 5\n11 nan\n12 5\n' >../nan.xy
check_fails 1 "\"nan\" is not a finite number" ../nan.xy --composition ZrO2 --wavelength 0.71
check_fails 1 "scan must be 1 to 1" "$files/xrdml/single_scan_counts.xrdml" --composition Si --scan 2
check_fails 2 "--scan belongs to XRDML input" "${z[@]}" --wavelength 0.71 --scan 1
printf 'input = ../zro2_mo.xy\ncolour = blue\n' >../bad.cfg
check_fails 1 "unknown key \"colour\"" --config ../bad.cfg
check_fails 1 "g(r) and R(r) need the number density" ../zro2_mo.xy --composition ZrO2 --wavelength 0.71 --output gr,rdf
check_fails 2 "--output takes a list of iq, sq, fq, gr, gofr and rdf" "${z[@]}" --wavelength 0.71 --output nq
check_fails 2 "--ruland belongs to a monochromator in the diffracted beam" "${z[@]}" --wavelength 0.71073 \
  --monochromator HOPG --mono-beam incident --ruland 0.05
check_fails 1 "--ruland is the monochromator's band pass in Angstrom: it must be above 0" "${z[@]}" \
  --wavelength 0.71073 --monochromator HOPG --ruland 0
check_fails 1 "--beam-width needs the capillary's diameter: give --capillary-diameter MM" "${z[@]}" \
  --wavelength 0.71 --beam-width 0.15
check_fails 1 "--container needs the container's --container-composition, --container-density and --container-wall" \
  "${z[@]}" --wavelength 0.71 --capillary-diameter 0.5 --container ../zro2_mo.xy
check_fails 2 "--optimize takes a list of density, bg-scale, container-scale, mu-r, beam-width, ruland and flat" \
  "${z[@]}" --wavelength 0.71 --optimize speed
check_fails 2 "--optimize bg-scale needs --background" "${z[@]}" --wavelength 0.71 --optimize bg-scale
printf "'Id: flat\n" >../flat.zscan
for k in 1 2 3 4 5 6 7 8 9; do printf '0.%s 1000\n' "$k" >>../flat.zscan; done
check_fails 1 "--zscan ../flat.zscan: the z-scan does not cross the capillary" "${z[@]}" --wavelength 0.71 \
  --capillary-diameter 0.5 --zscan ../flat.zscan
check_fails 1 "--zscan: cannot open ../no.zscan" "${z[@]}" --wavelength 0.71 --capillary-diameter 0.5 --zscan ../no.zscan
check_fails 2 "--geometry belongs to --mode physical" ../zro2_mo.xy --composition ZrO2 --wavelength 0.71 \
  --geometry capillary
check_fails 2 "--rpoly belongs to --mode adhoc" "${z[@]}" --wavelength 0.71 --rpoly 1
check_fails 2 "--mono-crystal belongs to --monochromator NAME" "${z[@]}" --wavelength 0.71 --mono-crystal perfect
check_fails 2 "give --thickness (mu from the composition) or --mu-r/--mu-t, not both" "${z[@]}" --wavelength 0.71 \
  --thickness 0.05
check_fails 1 "background scale must be a finite number of 0 or above" "${z[@]}" --wavelength 0.71 \
  --background ../zro2_mo.xy --bg-scale -1
check_fails 1 "rmin-iterate must lie between 0 and the r grid's end" "${z[@]}" --wavelength 0.71 --rmin-iterate 1e5
check_fails 2 "--plot writes an SVG picture" "${z[@]}" --wavelength 0.71 --plot p.png
# No output may replace an input or another output, and a folder in the way stops the run before any file.
cp ../zro2_mo.xy ../pat.iq
check_fails 1 "would replace the input" ../pat.iq --composition ZrO2 --density 5.68 --geometry capillary \
  --mu-r 1.25 --wavelength 0.71 -o ../pat
cmp -s ../pat.iq ../zro2_mo.xy || bad "the input pat.iq was changed"
check_fails 1 "would replace the background" "${z[@]}" --wavelength 0.71 --background ../pat.iq -o ../pat
rm ../pat.iq
mkdir ../d.gr
check_fails 1 "cannot write ../d.gr: it is a folder" "${z[@]}" --wavelength 0.71 -o ../d
ls ../d.* 2>/dev/null | grep -q . && bad "beside a folder in the way, $(ls ../d.*) were written"
rmdir ../d.gr
cd ..

# The background's grid must cover the sample's.
awk '$1 > 50 { print $1, $2 / 10 }' zro2_mo.xy >late.xy
"$tools" pdf "${zro2[@]}" -o b --background late.xy >/dev/null 2>err && bad "a background on a partial grid was taken"
grep -q "measure the background over the sample's whole range" err || bad "partial background: $(cat err)"

exit $fail

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

# A rerun from a header gives the same files, byte for byte.
mkdir again
"$tools" pdf --config zro2_mo.gr -o again/z >/dev/null 2>&1 || bad "rerun from the header failed"
for k in iq sq fq gr gofr rdf; do cmp -s "zro2_mo.$k" "again/z.$k" || bad "rerun: .$k differs"; done
# A command-line option overrides the file's.
"$tools" pdf --config zro2_mo.gr -o again/w --window none --output gr >/dev/null 2>&1 || bad "override failed"
grep -q '^# window = none$' again/w.gr || bad "--window on the command line did not override the file's"
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
check_fails 1 "--anode Xx" "${z[@]}" --anode Xx
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
  --mu-r 1.25 --wavelength 0.71
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

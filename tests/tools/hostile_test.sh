#!/usr/bin/env bash
# talvo-tools against what a new user types and a hostile round tries: one
# table per subcommand, each row the arguments, the exit status and a line
# standard error must hold (or the line standard output must hold, for a run
# that succeeds). Numbers whose exponent lacks its letter, options written
# --name=value or given twice, units, control bytes in the input.
# usage: hostile_test.sh TALVO_TOOLS DATA_DIR FILES_DIR
set -u
tools=$1
export G_F=$2
files=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0

# row STATUS WANT -- ARGS...: WANT is a fixed string looked for in standard
# error, or with "out:" before it in standard output.
row() {
  local want_status=$1 want=$2
  shift 3
  "$tools" "$@" >"$work/out" 2>"$work/err" <"${stdin:-/dev/null}"
  local status=$? where=$work/err text=$want
  if [ "${want#out:}" != "$want" ]; then where=$work/out text=${want#out:}; fi
  if [ "$status" != "$want_status" ] || ! grep -qF -- "$text" "$where"; then
    echo "FAIL talvo-tools $*: status $status (want $want_status), wanted: $text"
    head -c 600 "$work/err"
    fail=1
  fi
  # Nothing the input held reaches the terminal raw: no escape, no bell, no NUL.
  if LC_ALL=C grep -q $'[\x01-\x08\x0b-\x1f\x7f]' "$work/err" || [ "$(tr -d '\0' <"$work/err" | wc -c)" != "$(wc -c <"$work/err")" ]; then
    echo "FAIL talvo-tools $*: a control byte in standard error"; fail=1
  fi
}

# --- xs ---
row 2 '--wavelength is not a number: "0.5-6" reads as 0.5 then -6; an exponent needs its letter (0.5e-6), and a range is FROM:TO:STEP (0.5:6:STEP)' -- xs H2O --density 1 --wavelength 0.5-6
row 2 '--density is not a number: "1-3" reads as 1 then -3; an exponent needs its letter (1e-3)' -- xs H2O --density 1-3
row 0 'out:density            1            g/cm3' -- xs H2O --density=1
row 0 'out:transmission       0.994369' -- xs H2O --density 1 --thickness 10um
row 0 'out:transmission       0.568519' -- xs H2O --density 1000kg/m3 --thickness=1mm
row 0 'out:wavelength         1.8          A' -- xs H2O --wavelength 0.18nm
row 0 'out:"wavelength": [1, 2]' -- xs H2O --wavelength 0.1nm:0.2nm:0.1nm --json
row 2 'talvo-tools xs: --density is given twice: give it once; see `talvo-tools xs --help`' -- xs H2O --density 1 --density=2
row 2 'talvo-tools xs: unknown option --densty; see `talvo-tools xs --help`' -- xs H2O --densty=1
row 2 '--json takes no value' -- xs H2O --json=yes
row 2 '--thickness: unknown unit "furlongs" in "3 furlongs": give nm, um, mm, cm or m (cm without one)' -- xs H2O --density 1 --thickness '3 furlongs'
row 2 '--wavelength is not a number: ""' -- xs H2O --wavelength ''
row 2 'unknown option --x\x1b[2J' -- xs H2O $'--x\x1b[2J'
row 0 'out:"formula": "H2O"' -- xs --json --density 1 -- H2O
# A formula with control bytes or a lone byte of UTF-8 is quoted escaped.
row 1 'formula "H2O\x1b[2J": ' -- xs $'H2O\x1b[2J'
row 1 'formula "F\xc3": unexpected character ("\xc3" at position 2)' -- xs $'F\xc3'
row 1 'formula "Fé2O3": unexpected character ("é" at position 2)' -- xs 'Fé2O3'

# --- xray ---
row 2 '--energy is not a number: "8-17" reads as 8 then -17; an exponent needs its letter (8e-17)' -- xray SiO2 --energy 8-17
row 0 'out:energy                    8.048        keV' -- xray SiO2 --energy=8048eV --density 2.2
row 0 'out:thickness                 0.05         cm' -- xray SiO2 --energy 8.048 --density 2200kg/m3 --thickness 500um
row 0 'out:wavelength   1.5406     A' -- xray SiO2 --wavelength 0.15406nm
row 2 '--energy: unknown unit "MeV" in "8MeV": give eV or keV (keV without one)' -- xray SiO2 --energy 8MeV

row 0 'talvo-tools xray: warning: a thickness without a density gives no transmission: give a density (@DENSITY in the formula, or --density)' -- xray Fe2O3 --anode Cu --thickness 0.001
row 0 'talvo-tools xs: warning: a thickness without a density gives no transmission' -- xs Fe2O3 --thickness 0.001
row 0 'out:note: density of the mixture (ideal mixing: volumes add): 1.0535 g/cm3' -- xs '50%vol H2O@1 // D2O@1.107'

# --- xrdml ---
row 2 '--scan is out of range: "99999999999" (whole numbers from -2147483648 to 2147483647)' -- xrdml "$files/xrdml/single_scan_intensities.xrdml" --scan 99999999999
row 2 '--scan is given twice' -- xrdml "$files/xrdml/single_scan_intensities.xrdml" --scan 1 --scan=1

# --- grids of foq, filon, peak ---
stdin=$work/filon.in
printf '0 1\n1 0.8\n2 0.5\n3 1\n4 2\n' >"$stdin"
row 1 'the integral at k = 5.0000001e+307 is beyond double precision: k x passes the largest number' -- filon --k 1e300:1.7e308:1e307
unset stdin
row 2 'grid value is not a number: "1-3" reads as 1 then -3; an exponent needs its letter (1e-3), and a range is FROM:TO:STEP (1:3:STEP)' -- foq H --q 1-3
row 0 'out:0 0.999978' -- foq H --q=0:1:1
row 2 '--center is not a number: "1e"' -- peak gaussian --center 1e --fwhm 1 --x 0:1:1

# --- pdf: its options read as every other command's ---
zro2=$files/lab_xy/zro2_mo.xy
row 2 '--wavelength is not a number: "0.5-6" reads as 0.5 then -6; an exponent needs its letter (0.5e-6)' -- pdf "$zro2" --composition ZrO2 --format twotheta --wavelength 0.5-6 -o "$work/p"
row 2 '--qmax is given twice' -- pdf "$zro2" --composition ZrO2 --format=twotheta --wavelength 0.71073 --qmax 15 --qmax=16 -o "$work/p"
row 0 'out:"mode": "adhoc"' -- pdf "$zro2" --composition=ZrO2 --format=twotheta --wavelength=0.071303nm --json -o "$work/p"
row 2 'unknown option --wavelenght; see `talvo-tools pdf --help`' -- pdf "$zro2" --composition ZrO2 --wavelenght 0.71 -o "$work/p"

# --- compton, density, sq2gr, moq ---
row 0 'out:# Breit-Dirac factor (lambda/lambda'"'"')^3 at lambda = 0.7093 A' -- compton SiO2 --q 0:1:1 --wavelength 0.07093nm
row 2 '--wavelength is not a number: "7-1" reads as 7 then -1; an exponent needs its letter (7e-1)' -- compton SiO2 --q 0:1:1 --wavelength 7-1
row 2 'DENSITY is not a number: "1-3" reads as 1 then -3; an exponent needs its letter (1e-3)' -- density 1-3 H 2 O 1
stdin=$work/sq.in
printf '0 1\n0.1 1.2\n0.2 1.1\n0.3 0.9\n0.4 1\n' >"$stdin"
row 2 '--rho0 is not a number: "1-1" reads as 1 then -1; an exponent needs its letter (1e-1)' -- sq2gr - --rho0 1-1 --r 1:3:1
printf '0\n0.1\x07\n' >"$stdin"
row 1 'standard input, line 2: not a number: "0.1\x07"' -- moq --option 1 --qmax 2
unset stdin

[ $fail = 0 ] && echo "talvo-tools hostile input checks passed"
exit $fail

#!/usr/bin/env bash
# talvo-tools when its output cannot be written: every subcommand, the help and
# the version into a full device (/dev/full) or a closed standard output must
# end non-zero and say why, not exit 0 with the rows lost.
# usage: output_errors_test.sh TALVO_TOOLS FILES_DIR DATA_DIR
set -u
tools=$1 files=$2
export G_F=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
say() { echo "FAIL $*"; fail=1; }

printf '0 1\n0.5 0.8\n1 0.5\n1.5 0.3\n2 0.2\n' >"$tmp/xf"
printf '0 1\n0.1 1.2\n0.2 1.1\n0.3 0.9\n0.4 1\n' >"$tmp/sq"
printf 'H2O 1\nSiO2 2.2\n' >"$tmp/batch"
xrdml=$files/xrdml/single_scan_intensities.xrdml
# One line a command: the arguments, then "<" and a file for standard input.
commands=(
  "--version"
  "--help"
  "foq --help"
  "foq H --q 0:2:1"
  "foq --z 26 --q 0:2:1 --table it"
  "element Fe"
  "element --z 26"
  "density 1.0 H 2 O 1"
  "xrdml $xrdml"
  "xrdml $xrdml --scans all"
  "moq --option 1 --qmax 2 < $tmp/xf"
  "filon --k 0:3:1 < $tmp/xf"
  "filon --single 1 < $tmp/xf"
  "peak gaussian --center 1 --fwhm 1 --x 0:2:0.5"
  "sq2gr $tmp/sq --rho0 0.1 --r 1:3:1"
  "sq2gr - --rho0 0.1 --r 1:3:1 < $tmp/sq"
  "xs H2O --density 1"
  "xs Gd2O3 --json"
  "xs --batch $tmp/batch"
  "xray-average SiO2 --q 0:2:1 --density 2.2"
)
for line in "${commands[@]}"; do
  args=${line%% < *}
  input=/dev/null
  [ "$args" != "$line" ] && input=${line##* < }
  # shellcheck disable=SC2086
  "$tools" $args <"$input" >"$tmp/out" 2>/dev/null
  status=$?
  [ "$status" = 0 ] && [ -s "$tmp/out" ] || { say "$line: status $status or no output into a file"; continue; }
  # shellcheck disable=SC2086
  "$tools" $args <"$input" >/dev/full 2>"$tmp/err"
  status=$?
  [ "$status" = 1 ] || say "$line >/dev/full: status $status (want 1)"
  grep -q "^talvo-tools: cannot write output: No space left on device$" "$tmp/err" ||
    say "$line >/dev/full: no reason on standard error: $(head -3 "$tmp/err")"
  # shellcheck disable=SC2086
  "$tools" $args <"$input" >&- 2>"$tmp/err"
  status=$?
  [ "$status" = 1 ] || say "$line with standard output closed: status $status (want 1)"
  grep -q "^talvo-tools: cannot write output: Bad file descriptor$" "$tmp/err" ||
    say "$line with standard output closed: no reason: $(head -3 "$tmp/err")"
done

# Far more than one buffer: the first failed write is said once, and the
# command still ends (the rows after it are not tried one by one).
"$tools" peak gaussian --center 0 --fwhm 1 --x 0:10:1e-5 >/dev/full 2>"$tmp/err"
status=$?
[ "$status" = 1 ] || say "a million rows into /dev/full: status $status (want 1)"
[ "$(grep -c "cannot write output" "$tmp/err")" = 1 ] || say "a million rows: $(head -3 "$tmp/err")"
"$tools" peak gaussian --center 0 --fwhm 1 --x 0:10:1e-5 >"$tmp/out" || say "a million rows into a file"
[ "$(wc -l <"$tmp/out")" = 1000001 ] || say "a million rows into a file: $(wc -l <"$tmp/out") lines"

# A standard output left non-blocking by the caller (a pipe read slowly) is waited for: every
# row arrives, where a write that is refused for now must not be taken for one that failed.
python3 - "$tools" <<'PY' || fail=1
import fcntl, os, subprocess, sys, time
r, w = os.pipe()
fcntl.fcntl(w, fcntl.F_SETFL, fcntl.fcntl(w, fcntl.F_GETFL) | os.O_NONBLOCK)
p = subprocess.Popen([sys.argv[1], "peak", "gaussian", "--center", "0", "--fwhm", "1", "--x", "0:1:1e-5"],
                     stdout=w, stderr=subprocess.PIPE)
os.close(w)
time.sleep(0.3)  # the pipe fills and the program has to wait
data = b"".join(iter(lambda: os.read(r, 1 << 16), b""))
err = p.stderr.read().decode()
status = p.wait()
rows = data.count(b"\n")
if status != 0 or rows != 100001:
    print(f"FAIL non-blocking output: status {status}, {rows} rows, {err.strip()}")
    sys.exit(1)
PY

# A file grown past ulimit -f is a write that fails with its reason, not a signal (SIGXFSZ, exit 153)
# that cuts the output and says nothing.
(ulimit -f 1; "$tools" xs H2O --density 1 --wavelength 0.5:10:0.01 --csv >"$tmp/big.csv" 2>"$tmp/err")
status=$?
[ "$status" = 1 ] || say "xs --csv past ulimit -f: status $status (want 1)"
grep -q "^talvo-tools: cannot write output: File too large$" "$tmp/err" || say "xs --csv past ulimit -f: $(head -3 "$tmp/err")"

# An error of the command keeps its own status; the lost output is said too.
"$tools" xs --batch /no/such/file >/dev/full 2>"$tmp/err"
status=$?
[ "$status" != 0 ] || say "xs --batch of a missing file into /dev/full: status 0"

[ $fail = 0 ] && echo "talvo-tools output error checks passed"
exit $fail

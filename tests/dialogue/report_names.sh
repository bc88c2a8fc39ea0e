#!/usr/bin/env bash
# Report names whose files cannot be written as asked are refused when they are given, and asked again:
# a folder of the report's or the sample's name (it failed only once the report was complete), a symbolic
# link (the file would have replaced it), a name the file system cannot take. Names are limited in
# characters, as the message says, counted as UTF-8.
# usage: report_names.sh TALVO DATA_DIR
set -u
talvo=$1 data=$2
fail=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
for f in sears91.dat sears.ascii at_weights.dat; do ln -s "$data/$f" "$f"; done
water='1\n\n2\nH 2\nO 1\n1.0\n'
asked=' Give name only for output .TALVO file > '

# run NAMES...: a water run that gives each name in turn; sets $out and $status.
run() {
  local input=$water name
  for name in "$@"; do input+="$name\n"; done
  out=$(printf "$input" | "$talvo" 2>&1); status=$?
}
expect() {  # expect WHAT TEXT: the screen holds TEXT
  grep -qF -- "$2" <<<"$out" || { echo "FAIL $1: no \"$2\""; echo "$out" | tail -4; fail=1; }
}

# A folder of the report's name, then of the sample's: asked again, the folder stays, the next name is used.
mkdir taken.talvo held.sample
run taken held good
[ $status = 0 ] || { echo "FAIL folders: exit status $status"; fail=1; }
expect "report folder" "${asked} taken.talvo is a folder: give another name"
expect "sample folder" "${asked} held.sample is a folder: give another name"
expect "next name" "${asked} Output is written to file good.talvo"
[ -d taken.talvo ] && [ -d held.sample ] && [ -z "$(find taken.talvo held.sample -mindepth 1)" ] ||
  { echo "FAIL folders: a folder was changed"; fail=1; }
[ ! -e taken.sample ] && [ ! -e held.talvo ] || { echo "FAIL folders: half a pair was written"; fail=1; }
grep -q "Faber-Ziman" good.talvo && [ -s good.sample ] || { echo "FAIL folders: no report or sample"; fail=1; }

# Symbolic links, to a file, to nothing, and at the sample's name: refused, and neither the link nor
# what it points to changes.
echo "keep me" >target.txt
ln -s target.txt linked.talvo
ln -s nowhere.txt dangling.talvo
ln -s target.txt paired.sample
run linked dangling paired good2
[ $status = 0 ] || { echo "FAIL links: exit status $status"; fail=1; }
expect "link" "${asked} linked.talvo is a symbolic link, which would be replaced: give another name"
expect "dangling link" "${asked} dangling.talvo is a symbolic link, which would be replaced: give another name"
expect "sample link" "${asked} paired.sample is a symbolic link, which would be replaced: give another name"
expect "next name" "${asked} Output is written to file good2.talvo"
[ -L linked.talvo ] && [ -L dangling.talvo ] && [ -L paired.sample ] || { echo "FAIL links: a link was replaced"; fail=1; }
[ "$(cat target.txt)" = "keep me" ] && [ ! -e nowhere.txt ] || { echo "FAIL links: written through a link"; fail=1; }

# Characters, not bytes: 101 two-byte characters (202 bytes) are a name; 201 are not, nor 201 bytes
# that begin no character; 130 characters of 2 bytes fit in 200 characters but not in the file
# system's 255 bytes with ".sample" and the temporary name's 8 more, and say so.
e101=$(printf 'é%.0s' {1..101}) e201=$(printf 'é%.0s' {1..201}) e130=$(printf 'é%.0s' {1..130})
stray=$(printf '\\x80%.0s' {1..201})
run "$e201" "$stray" "$e130" "$e101"
[ $status = 0 ] || { echo "FAIL characters: exit status $status"; fail=1; }
expect "201 characters" "${asked} A name can have at most 200 characters
${asked} A name can have at most 200 characters
${asked} The name is too long for the file system: give a shorter one
${asked} Output is written to file $e101.talvo"
[ -s "$e101.talvo" ] && [ -s "$e101.sample" ] || { echo "FAIL characters: no files for 101 characters"; fail=1; }

[ $fail = 0 ] && echo "unusable report names are asked again; names are counted in characters"
exit $fail

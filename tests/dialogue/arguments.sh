#!/usr/bin/env bash
# talvo takes no arguments but --help and --version; anything else is a usage error.
# usage: arguments.sh TALVO
set -u
talvo=$1
fail=0
out=$("$talvo" --help </dev/null); status=$?
[ $status = 0 ] && grep -q "^usage: talvo" <<<"$out" || { echo "FAIL --help: status $status"; fail=1; }
out=$("$talvo" --version </dev/null); status=$?
[ $status = 0 ] && grep -q "^talvo [0-9][0-9.]*$" <<<"$out" || { echo "FAIL --version: $out"; fail=1; }
for args in "--helpp" "water" "--help --version"; do
  # shellcheck disable=SC2086
  out=$("$talvo" $args </dev/null 2>&1 >/dev/null); status=$?
  [ $status = 2 ] && grep -q "^usage: talvo" <<<"$out" || { echo "FAIL '$args': status $status"; fail=1; }
done
[ $fail = 0 ] && echo "arguments handled"
exit $fail

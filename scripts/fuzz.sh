#!/usr/bin/env bash
# Builds the fuzz targets listed in fuzz/CMakeLists.txt with clang 14,
# libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer, and runs each
# for SECONDS (default 30) from a corpus seeded with the target's seeds and
# its kept inputs of tests/fuzz_regressions/. Crashing inputs are kept in
# build-fuzz/crashes/; copy them to tests/fuzz_regressions/<target>/, where the
# replay tests of ctest run them from then on. Prints per target the
# executions, the code coverage (cov: edges) and features (ft:) reached.
#
# usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
if ! command -v clang++-14 >/dev/null || [ ! -d /usr/lib/llvm-14/lib/clang/14.0.6/lib/linux ]; then
  if [ "$(id -u)" = 0 ]; then SUDO=; else SUDO=sudo; fi
  $SUDO apt-get update -q && $SUDO apt-get install -y -q clang-14 libclang-rt-14-dev
fi
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
  -DTALVO_BUILD_TESTS=OFF -DTALVO_BUILD_FUZZ=ON -DTALVO_WERROR=ON \
  "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -fsanitize=fuzzer-no-link" >/dev/null
cmake --build build-fuzz -j2 >/dev/null
lists=build-fuzz/fuzz/targets
targets=("$@")
[ ${#targets[@]} -gt 0 ] || mapfile -t targets <"$lists/targets.txt"

mkdir -p build-fuzz/crashes
status=0
for t in "${targets[@]}"; do
  [ -n "$t" ] || continue
  [ -f "$lists/$t.seeds" ] || { echo "$t: no such fuzz target"; status=1; continue; }
  corpus=$PWD/build-fuzz/corpus/$t
  mkdir -p "$corpus"
  while IFS= read -r pattern; do
    [ -n "$pattern" ] || continue
    # shellcheck disable=SC2086  # the pattern is meant to be expanded
    for f in $pattern; do cp "$f" "$corpus/seed_$(echo "$f" | tr '/' '_')"; done
  done <"$lists/$t.seeds"
  [ -d "tests/fuzz_regressions/$t" ] && cp tests/fuzz_regressions/"$t"/* "$corpus/" 2>/dev/null || true
  mapfile -t options < <(grep -v "^$" "$lists/$t.options" || true)
  log=build-fuzz/$t.log
  if ./build-fuzz/fuzz/"${t}"_fuzz "$corpus" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$PWD/build-fuzz/crashes/$t-" \
    ${options[@]+"${options[@]}"} >"$log" 2>&1; then
    result=ok
  else
    result=CRASH
    status=1
    tail -40 "$log"
  fi
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || echo '?')
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || echo '?')
  echo "$t: $result, $runs executions in ${seconds}s, cov $cov, ft $ft${options[*]:+ (${options[*]})}"
done
exit $status

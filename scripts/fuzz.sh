#!/usr/bin/env bash
# Builds the fuzz targets with AddressSanitizer and UndefinedBehaviorSanitizer
# (clang 14, libFuzzer) and runs each for SECONDS (default 30), starting from
# seed corpora made of the shipped data files and the test files. Crashing
# inputs are kept in build-fuzz/crashes/; copy them to tests/fuzz_regressions/.
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
  -DTALVO_BUILD_TESTS=OFF -DTALVO_BUILD_FUZZ=ON \
  "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -fsanitize=fuzzer-no-link" >/dev/null
cmake --build build-fuzz -j2 >/dev/null
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(free_format words fields data_files read_sample foqdat xrdml xrdml_file numeric dialogue)

seeds() {  # the seed files of one target
  case $1 in
    free_format|fields|words) printf '%s\n' tests/dialogue/*/input ;;
    data_files) ls data/*.dat data/sears.ascii ;;
    read_sample) ls tests/dialogue/*/expected/*.sample tests/dialogue/*/files/*.sample ;;
    foqdat) ls data/*.foqdat ;;
    xrdml|xrdml_file) ls tests/data/xrdml/*.xrdml ;;
    numeric) ls tests/dialogue/*/input ;;
    dialogue) ls tests/dialogue/*/input ;;
  esac
}
mkdir -p build-fuzz/crashes
status=0
for t in "${targets[@]}"; do
  corpus=$PWD/build-fuzz/corpus/$t
  mkdir -p "$corpus"
  for f in $(seeds "$t"); do cp "$f" "$corpus/seed_$(echo "$f" | tr '/' '_')"; done
  [ -d "tests/fuzz_regressions/$t" ] && cp tests/fuzz_regressions/"$t"/* "$corpus/" 2>/dev/null || true
  log=build-fuzz/$t.log
  if ./build-fuzz/fuzz/"${t}"_fuzz "$corpus" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
       -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$PWD/build-fuzz/crashes/$t-" >"$log" 2>&1; then
    result=ok
  else
    result=CRASH; status=1
    tail -40 "$log"
  fi
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
  echo "$t: $result, $runs executions in ${seconds}s"
done
exit $status

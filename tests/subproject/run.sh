#!/usr/bin/env bash
# TALVO inside another project: a parent project that add_subdirectory()s
# this source tree and links talvo::talvo configures, builds and runs, and
# gets none of TALVO's tests, test programs or warning options.
# usage: run.sh SOURCE_DIR CXX_COMPILER
set -eu
src=$1 cxx=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/parent"
cat >"$tmp/parent/main.cpp" <<'CPP'
#include <iostream>
#include "talvo/elements/elements.hpp"
#include "talvo/files/files.hpp"
int main(int, char** argv) {
  const talvo::Result<talvo::ElementEntry> fe = talvo::element_named("Fe");
  if (!fe.ok() || !talvo::check_regular_file(argv[0]).ok()) return 1;
  std::cout << fe->z << '\n';
}
CPP
cat >"$tmp/parent/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(parent CXX)
enable_testing()
add_subdirectory("$src" talvo)
add_executable(parent main.cpp)
target_link_libraries(parent PRIVATE talvo::talvo)
add_test(NAME parent.own COMMAND parent)
CMAKE
cmake -S "$tmp/parent" -B "$tmp/build" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >"$tmp/configure.log" \
  || { cat "$tmp/configure.log"; exit 1; }
cmake --build "$tmp/build" --target parent -j2 >"$tmp/build.log" || { tail -30 "$tmp/build.log"; exit 1; }
[ "$("$tmp/build/parent")" = 26 ] || { echo "the parent's program gave a wrong answer"; exit 1; }

fail=0
# Only the parent's own test is registered.
tests=$(ctest --test-dir "$tmp/build" -N | grep -o 'Total Tests: [0-9]*')
[ "$tests" = "Total Tests: 1" ] || { echo "the parent got TALVO's tests: $tests"; fail=1; }
targets=$(cmake --build "$tmp/build" --target help)
for t in talvo_library_tests talvo_program_tests dialogue_replay; do
  ! grep -qw "$t" <<<"$targets" || { echo "the parent got the target $t"; fail=1; }
done
grep -qw talvo <<<"$targets" || { echo "no talvo library target"; fail=1; }
# TALVO's warning options stay on TALVO's own targets.
entry=$(grep '"command".*parent/main\.cpp' "$tmp/build/compile_commands.json")
[ -n "$entry" ] || { echo "no compile command for the parent's main.cpp"; fail=1; }
if grep -qE -- '-W(error|conversion|shadow)' <<<"$entry"; then echo "TALVO's warnings leaked: $entry"; fail=1; fi
[ $fail = 0 ] && echo "TALVO builds inside a parent project without its tests"
exit $fail

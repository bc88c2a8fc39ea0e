#!/usr/bin/env bash
# Installs the build into a temporary prefix, builds a small program against
# the installed CMake package (and through pkg-config), runs it, and runs the
# installed talvo from another folder through a whole typed calculation; with
# PYTHON, imports the installed package with it, also from another folder.
# usage: run.sh BUILD_DIR [PYTHON]
set -eu
build=$1
python=${2:-}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
mkdir -p "$tmp/consumer"
cat >"$tmp/consumer/main.cpp" <<'CPP'
#include <iostream>
#include "talvo/elements/elements.hpp"
int main() { std::string s = "Fe"; int z = 0; double w = 0; talvo::ele2z(s, z, w, 0, std::cout); std::cout << z << '\n'; }
CPP
cat >"$tmp/consumer/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(consumer CXX)
find_package(talvo REQUIRED)
add_executable(consumer main.cpp)
target_link_libraries(consumer PRIVATE talvo::talvo)
CMAKE
cmake -S "$tmp/consumer" -B "$tmp/consumer/build" -DCMAKE_PREFIX_PATH="$tmp/prefix" >/dev/null
cmake --build "$tmp/consumer/build" >/dev/null
[ "$("$tmp/consumer/build/consumer")" = 26 ] || { echo "CMake consumer: wrong answer"; exit 1; }
if command -v pkg-config >/dev/null; then
  PKG_CONFIG_PATH=$(dirname "$(find "$tmp/prefix" -name talvo.pc)")
  export PKG_CONFIG_PATH
  # shellcheck disable=SC2046
  c++ "$tmp/consumer/main.cpp" $(pkg-config --cflags --libs talvo) -o "$tmp/consumer/pc"
  [ "$("$tmp/consumer/pc")" = 26 ] || { echo "pkg-config consumer: wrong answer"; exit 1; }
fi
# The README's C++ example, built against the installed package and run on its data.
readme=$(dirname "$0")/../../README.md
awk '/^## The library in C\+\+/ {on = 1} on && /^```cpp/ {code = 1; next} code && /^```/ {exit} code' "$readme" |
  sed "s#/opt/talvo/share/talvo/data/#$tmp/prefix/share/talvo/data/#" >"$tmp/consumer/readme.cpp"
grep -q material_from_formula "$tmp/consumer/readme.cpp" || { echo "no C++ example in the README"; exit 1; }
c++ -std=c++20 -I"$tmp/prefix/include" "$tmp/consumer/readme.cpp" -L"$(dirname "$(find "$tmp/prefix" -name libtalvo.a)")" -ltalvo \
  -o "$tmp/consumer/readme" || { echo "the README example does not build"; exit 1; }
"$tmp/consumer/readme" | grep -q "^SLD -0.5599" || { echo "the README example does not run"; exit 1; }
"$tmp/prefix/bin/talvo-tools" --version | grep -q "^talvo-tools [0-9]" || { echo "no version"; exit 1; }
[ -f "$tmp/prefix/share/talvo/data/neutron_sears92.tsv" ] || { echo "the full neutron table is not installed"; exit 1; }
[ ! -e "$tmp/prefix/share/talvo/data/sources" ] || { echo "the data sources were installed"; exit 1; }
[ -f "$tmp/prefix/share/man/man1/talvo.1" ] && [ -f "$tmp/prefix/share/man/man1/talvo-tools.1" ] || { echo "no man pages"; exit 1; }
mkdir "$tmp/elsewhere"
cd "$tmp/elsewhere"
out=$(printf '1\n\n2\nH 2\nO 1\n1.0\nwater\n' | env -u G_F "$tmp/prefix/bin/talvo")
grep -q " Default cross-section data file is $tmp/prefix/share/talvo/data/sears91.dat" <<<"$out" \
  || { echo "installed talvo did not use the installed data"; echo "$out" | head -20; exit 1; }
grep -q "Faber-Ziman" water.talvo && [ -f water.sample ] || { echo "installed talvo did not finish"; exit 1; }
if [ -n "$python" ]; then
  module=$(find "$tmp/prefix" -path '*/talvo/_core.cpython-*.so')
  [ -n "$module" ] || { echo "the Python package is not installed"; exit 1; }
  package=$(dirname "$module")
  [ -f "$package/__init__.py" ] && [ -f "$package/_core.pyi" ] && [ -f "$package/py.typed" ] \
    || { echo "the Python package is installed without its files"; exit 1; }
  out=$(env -u G_F PYTHONPATH="$(dirname "$package")" "$python" -c \
    'import talvo; print(talvo.data_file("neutron_sears92.tsv")); print(round(talvo.material("H2O", density=1.0).sld, 4))')
  [ "$out" = "$package/data/neutron_sears92.tsv"$'\n'"-0.5599" ] \
    || { echo "the installed Python package did not use its own data: $out"; exit 1; }
fi
echo "installed package, consumer, talvo${python:+ and the Python module} work"

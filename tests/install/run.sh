#!/usr/bin/env bash
# Builds a copy of the sources configured without a prefix, installs it into a
# prefix named only at install time, moves the sources and the build away, and
# then: builds a small program against the installed CMake package (which
# names the data folder, talvo_DATA_DIR) and through pkg-config (datadir),
# runs it, and runs the installed talvo and talvo-tools from another folder;
# with PYTHON, imports the installed package with it, also from another folder.
# No path of the build machine may be left in what was installed.
# usage: run.sh SOURCE_DIR CXX_COMPILER [PYTHON]
set -eu
source_dir=$1
compiler=$2
python=${3:-}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/src"
tar -C "$source_dir" --exclude='./build*' --exclude=./.git --exclude='./python/*.egg-info' -cf - . | tar -C "$tmp/src" -xf -
python_option=-DTALVO_BUILD_PYTHON=OFF
[ -z "$python" ] || python_option="-DTALVO_BUILD_PYTHON=ON -DPython3_EXECUTABLE=$python"
# shellcheck disable=SC2086
cmake -S "$tmp/src" -B "$tmp/build" -DCMAKE_BUILD_TYPE=Release -DTALVO_BUILD_TESTS=OFF \
  -DCMAKE_CXX_COMPILER="$compiler" $python_option >/dev/null
cmake --build "$tmp/build" -j2 >/dev/null
cmake --install "$tmp/build" --prefix "$tmp/prefix" >/dev/null
mv "$tmp/src" "$tmp/src-moved"
mv "$tmp/build" "$tmp/build-moved"
for f in $(find "$tmp/prefix" -type f \( -name '*.a' -o -name '*.so' -o -perm -u+x \)); do
  if grep -qF -e "$tmp/src" -e "$tmp/build" -e "$source_dir" "$f"; then
    echo "$f holds a path of the build machine"; exit 1
  fi
done
mkdir -p "$tmp/consumer"
cat >"$tmp/consumer/main.cpp" <<'CPP'
#include <iostream>
#include "talvo/elements/elements.hpp"
int main() { std::cout << talvo::element_named("Fe")->z << '\n'; }
CPP
cat >"$tmp/consumer/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(consumer CXX)
find_package(talvo REQUIRED)
add_executable(consumer main.cpp)
target_link_libraries(consumer PRIVATE talvo::talvo)
file(WRITE ${CMAKE_BINARY_DIR}/data_dir.txt "${talvo_DATA_DIR}")
CMAKE
cmake -S "$tmp/consumer" -B "$tmp/consumer/build" -DCMAKE_PREFIX_PATH="$tmp/prefix" >/dev/null
cmake --build "$tmp/consumer/build" >/dev/null
[ "$("$tmp/consumer/build/consumer")" = 26 ] || { echo "CMake consumer: wrong answer"; exit 1; }
[ -f "$(cat "$tmp/consumer/build/data_dir.txt")/neutron_sears92.tsv" ] || { echo "talvo_DATA_DIR does not name the data"; exit 1; }
if command -v pkg-config >/dev/null; then
  PKG_CONFIG_PATH=$(dirname "$(find "$tmp/prefix" -name talvo.pc)")
  export PKG_CONFIG_PATH
  # shellcheck disable=SC2046
  c++ -std=c++20 "$tmp/consumer/main.cpp" $(pkg-config --cflags --libs talvo) -o "$tmp/consumer/pc"
  [ "$("$tmp/consumer/pc")" = 26 ] || { echo "pkg-config consumer: wrong answer"; exit 1; }
  [ -f "$(pkg-config --variable=datadir talvo)/sears91.dat" ] || { echo "pkg-config's datadir does not name the data"; exit 1; }
  ! pkg-config --cflags talvo | grep -q -- -std= || { echo "the .pc file forces a language standard"; exit 1; }
fi
# The README's C++ example, built against the installed package and run on its data.
readme=$(dirname "$0")/../../README.md
awk '/^## The library in C\+\+/ {on = 1} on && /^```cpp/ {code = 1; next} code && /^```/ {exit} code' "$readme" \
  >"$tmp/consumer/readme.cpp"
grep -q material_from_formula "$tmp/consumer/readme.cpp" || { echo "no C++ example in the README"; exit 1; }
! grep -q /opt/talvo "$tmp/consumer/readme.cpp" || { echo "the README's C++ example names a prefix"; exit 1; }
c++ -std=c++20 -I"$tmp/prefix/include" "$tmp/consumer/readme.cpp" -L"$(dirname "$(find "$tmp/prefix" -name libtalvo.a)")" -ltalvo \
  -o "$tmp/consumer/readme" || { echo "the README example does not build"; exit 1; }
"$tmp/consumer/readme" "$tmp/prefix/share/talvo/data" | grep -q "^SLD -0.5599" || { echo "the README example does not run"; exit 1; }
"$tmp/prefix/bin/talvo-tools" --version | grep -q "^talvo-tools [0-9]" || { echo "no version"; exit 1; }
(cd / && env -u G_F "$tmp/prefix/bin/talvo-tools" xs H2O --density 1 | grep -q "^sld " ) || { echo "installed talvo-tools did not find its data"; exit 1; }
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

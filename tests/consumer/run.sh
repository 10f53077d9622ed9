#!/usr/bin/env bash
# Installs a Corvane build into a temporary prefix and builds the consumers
# of this folder against it, in a temporary folder outside the source tree,
# once as a CMake package and once through pkg-config; then runs them.
#
#   tests/consumer/run.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
# Only the compatibility header and the corvane/ folder may sit directly on
# the consumers' include path.
top="$(cd "$prefix/include" && ls -A | tr '\n' ' ')"
if [[ "$top" != "corvane corvane.h " ]]; then
  echo "consumer: unexpected files in $prefix/include: $top" >&2
  exit 1
fi

src="$work/src"
mkdir "$src"
cp "$here"/*.c "$here"/*.cpp "$here"/*.h "$here"/CMakeLists.txt "$src"/

echo "-- consumers through find_package(corvane 2.4)"
cmake -S "$src" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
"$work/cmake/c_consumer"
"$work/cmake/cpp_consumer"

echo "-- consumers through pkg-config"
pc="$(dirname "$(find "$prefix" -name corvane.pc | head -1)")"
export PKG_CONFIG_PATH="$pc"
libdir="$(pkg-config --variable=libdir corvane)"
mkdir "$work/pc"
# Corvane's flags come first, so an installed kernel.h, io.h or cache.h on
# its include path would win over the consumer's own and fail the build.
cc -std=c99 -Wall -Wextra -Werror $(pkg-config --cflags corvane) -I"$src" "$src/consumer.c" \
  $(pkg-config --libs corvane) -Wl,-rpath,"$libdir" -o "$work/pc/c_consumer"
c++ -std=c++17 -Wall -Wextra -Werror $(pkg-config --cflags corvane) -I"$src" "$src/consumer.cpp" \
  $(pkg-config --libs corvane) -Wl,-rpath,"$libdir" -o "$work/pc/cpp_consumer"
"$work/pc/c_consumer"
"$work/pc/cpp_consumer"

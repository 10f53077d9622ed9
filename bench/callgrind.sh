#!/usr/bin/env bash
# Instruction counts (callgrind, total Ir) of the hot workloads, for
# comparing two builds of the engine: a structural change must keep them
# within 1 %.
#
#   bench/callgrind.sh                     # ./build (a Release build)
#   BUILD=build-base bench/callgrind.sh    # another build directory
#   bench/callgrind.sh queens reach        # only workloads whose name matches
#
# Prints one line per workload: name and total Ir.  Counts are exact and
# repeatable (unlike times), so one run each suffices.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${BUILD:-$ROOT/build}"
BUILD="$(cd "$BUILD" && pwd)"
FILTER=("$@")

command -v valgrind >/dev/null || { echo "callgrind.sh: needs valgrind" >&2; exit 2; }
cmake --build "$BUILD" -j2 --target corvane queens circuit reach closure >/dev/null
buildtype="$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$BUILD/CMakeCache.txt")"
[[ "$buildtype" == Release ]] || echo "callgrind.sh: warning: $BUILD is a '$buildtype' build" >&2
# The multiplier probe is one C file against the built library.
MULT="$BUILD/bench-multiplier"
if [[ ! -x "$MULT" || "$ROOT/bench/multiplier.c" -nt "$MULT" || "$BUILD/libcorvane.so" -nt "$MULT" ]]; then
  "${CC:-cc}" -O2 -I"$BUILD/include" "$ROOT/bench/multiplier.c" -L"$BUILD" -lcorvane \
    -Wl,-rpath,"$BUILD" -o "$MULT"
fi
EX="$BUILD/examples"
DATA="${DATA:-$ROOT/examples/data/iscas85}"

# name | command
WORKLOADS=(
  "queens 9|$EX/queens 9"
  "circuit c880|$EX/circuit --quiet $DATA/c880.bench"
  "reach 60|$EX/reach 60"
  "closure 4096|$EX/closure 4096"
  "multiplier 11|$MULT 11"
)

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
for w in "${WORKLOADS[@]}"; do
  IFS='|' read -r name cmd <<<"$w"
  if ((${#FILTER[@]})); then
    keep=0
    for f in "${FILTER[@]}"; do [[ "$name" == *"$f"* ]] && keep=1; done
    ((keep)) || continue
  fi
  # shellcheck disable=SC2086
  if ! valgrind --tool=callgrind --callgrind-out-file="$tmp/out" $cmd >"$tmp/stdout" 2>"$tmp/err"; then
    echo "callgrind.sh: '$cmd' failed:" >&2
    cat "$tmp/err" >&2
    exit 1
  fi
  ir="$(sed -n 's/^totals: \([0-9]*\).*/\1/p' "$tmp/out")"
  printf '%-15s %15s\n' "$name" "$ir"
done

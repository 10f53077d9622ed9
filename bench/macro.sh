#!/usr/bin/env bash
# Macro benchmarks: the example programs on full-size workloads.
#
#   bench/macro.sh                 # all workloads, 3 runs each
#   RUNS=5 bench/macro.sh queens   # only workloads whose name contains "queens"
#   BUILD=build-rel bench/macro.sh # another (Release) build directory
#
# Every workload runs as its own process under GNU time; the table shows
# the median processor time (user + system), the median wall time and the
# median peak resident memory, next to reference figures (medians measured
# on this machine kind; the programs use bdd_init(1000000, 100000), cache
# ratio 4 and no automatic reordering) and whether the targets hold: c2670
# in depth-first fan-in order within its reference time and memory; queens
# and the smaller circuits at most 2/3 of the reference time and 60 % of
# its memory; reachability no slower;
# sifting (timed alone, as the program reports it) no slower, ending at
# most at 35,652 nodes; start-up (bdd_init plus the first conjunction,
# measured inside the program) under 3 ms.  Processor time is the figure
# compared: the wall time of a shared machine depends on its other load.
# "queens N" conjoins the constraints row by row (the program's default),
# "queens N classic" square by square into the whole board, the textbook
# formulation.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${BUILD:-$ROOT/build}"
RUNS="${RUNS:-3}"
FILTER=("$@")

if [[ ! -x /usr/bin/time ]]; then
  echo "macro.sh: needs GNU time as /usr/bin/time (apt-get install time)" >&2
  exit 2
fi
if [[ ! -f "$BUILD/CMakeCache.txt" ]]; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCORVANE_TESTS=OFF -DCORVANE_BENCH=OFF >/dev/null
fi
if ! cmake --build "$BUILD" -j2 --target queens circuit reach >/tmp/macro-build.$$ 2>&1; then
  cat /tmp/macro-build.$$ >&2
  rm -f /tmp/macro-build.$$
  exit 1
fi
rm -f /tmp/macro-build.$$
# The start-up probe is one C file against the built library.
STARTUP="$BUILD/bench-startup"
if [[ ! -x "$STARTUP" || "$ROOT/bench/startup.c" -nt "$STARTUP" ]]; then
  "${CC:-cc}" -O2 -I"$BUILD/include" "$ROOT/bench/startup.c" -L"$BUILD" -lcorvane \
    -Wl,-rpath,"$BUILD" -o "$STARTUP"
fi
buildtype="$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$BUILD/CMakeCache.txt")"
if [[ "$buildtype" != "Release" ]]; then
  echo "macro.sh: warning: $BUILD is a '$buildtype' build, figures are not comparable" >&2
fi
EX="$BUILD/examples"
# the netlists: DATA, else the copy inside the repository
DATA="${DATA:-$ROOT/examples/data/iscas85}"

# name | command | reference seconds | reference MB | kind
WORKLOADS=(
  "startup|$STARTUP|-|-|startup"
  "queens 10|$EX/queens 10|0.63|38|fast"
  "queens 11|$EX/queens 11|4.5|162|fast"
  "queens 12|$EX/queens 12|43|288|fast"
  "queens 10 classic|$EX/queens --classic 10|0.96|-|fast"
  "queens 11 classic|$EX/queens --classic 11|7.19|-|fast"
  "queens 12 classic|$EX/queens --classic 12|43|288|fast"
  "circuit c432|$EX/circuit --quiet $DATA/c432.bench|0.004|-|fast"
  "circuit c499|$EX/circuit --quiet $DATA/c499.bench|0.09|17|fast"
  "circuit c880|$EX/circuit --quiet $DATA/c880.bench|0.34|84|fast"
  "circuit c1355|$EX/circuit --quiet $DATA/c1355.bench|0.10|21|fast"
  "circuit c2670 dfs|$EX/circuit --quiet --order=dfs $DATA/c2670.bench|12.7|476|large"
  "reach 50|$EX/reach 50|0.22|40|reach"
  "reach 100|$EX/reach 100|4.4|76|reach"
  "reach 150|$EX/reach 150|15.4|148|reach"
  "sift c880 reverse|$EX/circuit --quiet --reverse --sift $DATA/c880.bench|1.55|47|sift"
)

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

printf '%-19s %7s %7s %8s | %6s %6s | %-15s %s\n' workload "cpu s" "wall s" "peak MB" "ref s" "ref MB" "time target" "memory target"
printf -- '-%.0s' {1..100}
printf '\n'
for w in "${WORKLOADS[@]}"; do
  IFS='|' read -r name cmd ref_s ref_mb kind <<<"$w"
  if ((${#FILTER[@]})); then
    keep=0
    for f in "${FILTER[@]}"; do [[ "$name" == *"$f"* ]] && keep=1; done
    ((keep)) || continue
  fi
  : >"$tmp/cpu"; : >"$tmp/wall"; : >"$tmp/rss"; : >"$tmp/inner"
  extra=""
  for ((r = 0; r < RUNS; r++)); do
    # shellcheck disable=SC2086
    if ! /usr/bin/time -f '%e %U %S %M' -o "$tmp/time" $cmd >"$tmp/out" 2>"$tmp/err"; then
      echo "macro.sh: '$cmd' failed:" >&2
      cat "$tmp/err" >&2
      exit 1
    fi
    read -r wall user sys rss <"$tmp/time"
    echo "$wall" >>"$tmp/wall"
    awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }' >>"$tmp/cpu"
    echo "$rss" >>"$tmp/rss"
    if [[ "$kind" == sift ]]; then
      sed -n 's/^sifting: \([0-9]*\) -> \([0-9]*\) shared nodes (\(.*\) s)/\3/p' "$tmp/out" >>"$tmp/inner"
      extra="$(sed -n 's/^sifting: \([0-9]*\) -> \([0-9]*\) shared nodes (\(.*\) s)/\1 \2/p' "$tmp/out")"
    fi
    if [[ "$kind" == startup ]]; then
      sed -n 's/^startup: \([0-9.]*\) ms.*/\1/p' "$tmp/out" >>"$tmp/inner"
    fi
  done
  cpu="$(median <"$tmp/cpu")"
  wall="$(median <"$tmp/wall")"
  mb="$(median <"$tmp/rss" | awk '{ printf "%.1f", $1 / 1024 }')"

  time_verdict="-"; mem_verdict="-"
  if [[ "$ref_s" != "-" ]]; then
    case "$kind" in
      fast)
        time_verdict="$(awk -v c="$cpu" -v r="$ref_s" 'BEGIN { t = r * 2 / 3; printf "<= %.2f %s", t, (c <= t ? "ok" : "MISSED") }')"
        mem_verdict="$(awk -v m="$mb" -v r="$ref_mb" 'BEGIN { t = r * 0.6; printf "<= %.1f %s", t, (m <= t ? "ok" : "MISSED") }')"
        ;;
      large)
        time_verdict="$(awk -v c="$cpu" -v r="$ref_s" 'BEGIN { printf "<= %.2f %s", r, (c <= r ? "ok" : "MISSED") }')"
        mem_verdict="$(awk -v m="$mb" -v r="$ref_mb" 'BEGIN { printf "<= %.1f %s", r, (m <= r ? "ok" : "MISSED") }')"
        ;;
      reach)
        time_verdict="$(awk -v c="$cpu" -v r="$ref_s" 'BEGIN { printf "<= %.2f %s", r, (c <= r ? "ok" : "MISSED") }')"
        ;;
    esac
  fi
  if [[ "$kind" == fast && "$ref_mb" == "-" ]]; then mem_verdict="-"; fi
  inner=""
  if [[ -s "$tmp/inner" ]]; then inner="$(median <"$tmp/inner")"; fi
  if [[ "$kind" == sift ]]; then
    time_verdict="$(awk -v c="$inner" -v r="$ref_s" 'BEGIN { printf "sift %.2f <= %.2f %s", c, r, (c <= r ? "ok" : "MISSED") }')"
  fi
  if [[ "$kind" == startup ]]; then
    time_verdict="$(awk -v c="$inner" 'BEGIN { printf "%.2f ms <= 3 %s", c, (c < 3 ? "ok" : "MISSED") }')"
  fi
  printf '%-19s %7.2f %7.2f %8s | %6s %6s | %-15s %s\n' "$name" "$cpu" "$wall" "$mb" "$ref_s" "$ref_mb" "$time_verdict" "$mem_verdict"
  if [[ -n "$extra" ]]; then
    read -r before after <<<"$extra"
    awk -v b="$before" -v a="$after" -v s="$inner" 'BEGIN {
      printf "  (last run: %d -> %d nodes, %.1fx smaller; sifting alone, median %.2f s; at most 35652 nodes: %s)\n",
      b, a, b / a, s, (a <= 35652 ? "ok" : "MISSED") }'
  fi
done

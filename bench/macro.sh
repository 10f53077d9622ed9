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
# on this machine kind) and whether the targets hold:
# queens and circuits at most 2/3 of the reference time and 60 % of its
# memory, reachability no slower, sifting at least the same reduction in at
# most 1.5 times the time.  Processor time is the figure compared: the wall
# time of a shared machine depends on its other load.  "queens N" conjoins
# the constraints row by row (the program's default), "queens N classic"
# square by square into the whole board, the textbook formulation.
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
buildtype="$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$BUILD/CMakeCache.txt")"
if [[ "$buildtype" != "Release" ]]; then
  echo "macro.sh: warning: $BUILD is a '$buildtype' build, figures are not comparable" >&2
fi
EX="$BUILD/examples"
# the netlists: DATA, else the copy inside the repository
DATA="${DATA:-$ROOT/examples/data/iscas85}"

# name | command | reference seconds | reference MB | kind
WORKLOADS=(
  "queens 10|$EX/queens 10|0.63|38|fast"
  "queens 11|$EX/queens 11|4.5|162|fast"
  "queens 12|$EX/queens 12|43|288|fast"
  "queens 10 classic|$EX/queens --classic 10|0.63|38|fast"
  "queens 11 classic|$EX/queens --classic 11|4.5|162|fast"
  "queens 12 classic|$EX/queens --classic 12|43|288|fast"
  "circuit c432|$EX/circuit --quiet $DATA/c432.bench|-|-|fast"
  "circuit c499|$EX/circuit --quiet $DATA/c499.bench|0.09|17|fast"
  "circuit c880|$EX/circuit --quiet $DATA/c880.bench|0.34|84|fast"
  "circuit c1355|$EX/circuit --quiet $DATA/c1355.bench|0.10|21|fast"
  "reach 50|$EX/reach 50|0.22|40|reach"
  "reach 100|$EX/reach 100|2.5|76|reach"
  "reach 150|$EX/reach 150|8.7|148|reach"
  "sift c880 reverse|$EX/circuit --quiet --reverse --sift $DATA/c880.bench|1.4|47|sift"
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
  : >"$tmp/cpu"; : >"$tmp/wall"; : >"$tmp/rss"
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
      extra="$(sed -n 's/^sifting: \([0-9]*\) -> \([0-9]*\) shared nodes (\(.*\) s)/\1 \2 \3/p' "$tmp/out")"
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
      reach)
        time_verdict="$(awk -v c="$cpu" -v r="$ref_s" 'BEGIN { printf "<= %.2f %s", r, (c <= r ? "ok" : "MISSED") }')"
        ;;
      sift)
        time_verdict="$(awk -v c="$cpu" -v r="$ref_s" 'BEGIN { t = r * 1.5; printf "<= %.2f %s", t, (c <= t ? "ok" : "MISSED") }')"
        ;;
    esac
  fi
  printf '%-19s %7.2f %7.2f %8s | %6s %6s | %-15s %s\n' "$name" "$cpu" "$wall" "$mb" "$ref_s" "$ref_mb" "$time_verdict" "$mem_verdict"
  if [[ -n "$extra" ]]; then
    read -r before after sift_s <<<"$extra"
    awk -v b="$before" -v a="$after" -v s="$sift_s" 'BEGIN {
      ratio = b / a; printf "  (last run: %d -> %d nodes, %.1fx smaller, sifting alone %.2f s; reference 470k -> 37k, 12.7x: %s)\n",
      b, a, ratio, s, (ratio >= 470 / 37 ? "ok" : "MISSED") }'
  fi
done

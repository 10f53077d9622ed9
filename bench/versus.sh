#!/usr/bin/env bash
# One build against another: every workload runs RUNS times in turn, old
# build then new, each as its own process under GNU time, so that the load
# of a shared machine falls on both alike.  Prints per workload the median
# processor time (user + system) and peak resident memory of each build and
# the ratio new / old; for sifting, the start-up probe and the first-against-
# warm probe also the figure the program measures itself.
#
#   bench/versus.sh OLD_BUILD NEW_BUILD            # every workload, 3 runs each
#   RUNS=5 bench/versus.sh old new closure c2670   # only names containing a word
#
# Both must be Release builds of the examples (the C probes are compiled
# against each build's library here).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
[[ $# -ge 2 ]] || { sed -n '2,13p' "$0" >&2; exit 2; }
OLD="$(cd "$1" && pwd)"
NEW="$(cd "$2" && pwd)"
shift 2
RUNS="${RUNS:-3}"
FILTER=("$@")
DATA="${DATA:-$ROOT/examples/data/iscas85}"
[[ -x /usr/bin/time ]] || { echo "versus.sh: needs GNU time (apt-get install time)" >&2; exit 2; }

for b in "$OLD" "$NEW"; do
  cmake --build "$b" -j2 --target queens circuit reach closure pointsto >/dev/null
  for probe in startup twice multiplier; do
    if [[ ! -x "$b/bench-$probe" || "$ROOT/bench/$probe.c" -nt "$b/bench-$probe" ]]; then
      "${CC:-cc}" -O2 -I"$b/include" -I"$ROOT/examples" "$ROOT/bench/$probe.c" -L"$b" -lcorvane \
        -Wl,-rpath,"$b" -o "$b/bench-$probe"
    fi
  done
done

# name | command, @ standing for the build directory | what the program reports:
# "sift" (sifting seconds), "startup" (milliseconds), "twice" (first / third)
WORKLOADS=(
  "startup|@/bench-startup|startup"
  "queens 10|@/examples/queens 10|"
  "queens 11|@/examples/queens 11|"
  "queens 12|@/examples/queens 12|"
  "queens 11 classic|@/examples/queens --classic 11|"
  "circuit c432|@/examples/circuit --quiet $DATA/c432.bench|"
  "circuit c499|@/examples/circuit --quiet $DATA/c499.bench|"
  "circuit c880|@/examples/circuit --quiet $DATA/c880.bench|"
  "circuit c1355|@/examples/circuit --quiet $DATA/c1355.bench|"
  "circuit c2670 dfs|@/examples/circuit --quiet --order=dfs $DATA/c2670.bench|"
  "twice c432|@/bench-twice $DATA/c432.bench|twice"
  "twice c880|@/bench-twice $DATA/c880.bench|twice"
  "twice c1355|@/bench-twice $DATA/c1355.bench|twice"
  "reach 50|@/examples/reach 50|"
  "reach 100|@/examples/reach 100|"
  "reach 150|@/examples/reach 150|"
  "multiplier 11|@/bench-multiplier 11|"
  "closure 16384|@/examples/closure 16384|"
  "closure 32768|@/examples/closure 32768|"
  "closure 65536|@/examples/closure 65536|"
  "pointsto 12|@/examples/pointsto 12|"
  "pointsto 13|@/examples/pointsto 13|"
  "sift c880 reverse|@/examples/circuit --quiet --reverse --sift $DATA/c880.bench|sift"
)

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
inner() {  # the program's own figure from its output, by kind
  case "$1" in
    sift) sed -n 's/^sifting: [0-9]* -> [0-9]* shared nodes (\(.*\) s)/\1/p' "$2" ;;
    startup) sed -n 's/^startup: \([0-9.]*\) ms.*/\1/p' "$2" ;;
    twice) sed -n 's/.*first\/third \([0-9.]*\).*/\1/p' "$2" ;;
  esac
}

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
printf '%-19s | %8s %8s %6s | %8s %8s %6s | %7s %7s\n' workload "old s" "new s" "ratio" \
  "old MB" "new MB" "ratio" "old in" "new in"
for w in "${WORKLOADS[@]}"; do
  IFS='|' read -r name cmd kind <<<"$w"
  if ((${#FILTER[@]})); then
    keep=0
    for f in "${FILTER[@]}"; do [[ "$name" == *"$f"* ]] && keep=1; done
    ((keep)) || continue
  fi
  for side in old new; do : >"$tmp/$side.cpu"; : >"$tmp/$side.rss"; : >"$tmp/$side.in"; done
  for ((r = 0; r < RUNS; r++)); do
    for side in old new; do
      dir="$OLD"; [[ $side == new ]] && dir="$NEW"
      # shellcheck disable=SC2086
      if ! /usr/bin/time -f '%U %S %M' -o "$tmp/time" ${cmd//@/$dir} >"$tmp/out" 2>"$tmp/err"; then
        echo "versus.sh: '${cmd//@/$dir}' failed:" >&2
        cat "$tmp/err" >&2
        exit 1
      fi
      read -r user sys rss <"$tmp/time"
      awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }' >>"$tmp/$side.cpu"
      echo "$rss" >>"$tmp/$side.rss"
      [[ -n "$kind" ]] && inner "$kind" "$tmp/out" >>"$tmp/$side.in"
    done
  done
  oc="$(median <"$tmp/old.cpu")"; nc="$(median <"$tmp/new.cpu")"
  om="$(median <"$tmp/old.rss")"; nm="$(median <"$tmp/new.rss")"
  oi="-"; ni="-"
  if [[ -s "$tmp/old.in" ]]; then oi="$(median <"$tmp/old.in")"; ni="$(median <"$tmp/new.in")"; fi
  awk -v n="$name" -v oc="$oc" -v nc="$nc" -v om="$om" -v nm="$nm" -v oi="$oi" -v ni="$ni" 'BEGIN {
    printf "%-19s | %8.2f %8.2f %6.2f | %8.1f %8.1f %6.2f | %7s %7s\n", n, oc, nc,
      (oc > 0 ? nc / oc : 1), om / 1024, nm / 1024, nm / om, oi, ni }'
done

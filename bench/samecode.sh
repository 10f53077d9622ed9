#!/usr/bin/env bash
# Compares the machine code of the hot recursions in two builds of the
# library, modulo addresses: a structural change must leave them as they
# were.  Every copy of a function counts (a recursion that several source
# files include is compiled into each of them); each copy is compared with
# the first copy in the reference build.
#
#   bench/samecode.sh REFERENCE_BUILD [BUILD]      # BUILD defaults to ./build
#
# Prints one line per function (same / DIFFERENT, with the number of
# copies); exit status 1 when any differs.  FUNCS overrides the list
# (a regular expression per name, matched against demangled names).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
REF="${1:?usage: samecode.sh REFERENCE_BUILD [BUILD]}"
NEW="${2:-$ROOT/build}"
FUNCS="${FUNCS:-and_rec or_rec apply_rec0 apply_rec ite_rec not_rec quant_rec unique_rec appquant_rec0 appuni_rec relprod_rec replace_rec}"

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

# dump LIB NAME OUTDIR: one normalised file per copy of NAME (its clones
# such as NAME.part.0 are their own names: "NAME [clone .part.0]").
dump() {
  objdump -d -C --no-show-raw-insn "$1" | awk -v name="$2" -v out="$3" '
    /^[0-9a-f]+ <.*>:$/ {
      sym = $0; sub(/^[0-9a-f]+ </, "", sym); sub(/>:$/, "", sym)
      base = sym; sub(/\(.*/, "", base)
      keep = (base == name)
      if (keep) { n[sym]++; f = out "/" sym "#" n[sym]; gsub(/[ ()*,&]/, "_", f) }
      next
    }
    /^$/ { keep = 0; next }
    keep {
      line = $0
      sub(/^ *[0-9a-f]+:\t/, "", line)               # address column
      sub(/ *#.*/, "", line)                          # notes after the operands
      gsub(/[0-9a-f]+ </, "<", line)                  # absolute targets
      gsub(/-?0x[0-9a-f]+\(%rip\)/, "(%rip)", line)   # pc-relative displacements
      gsub(/_ZL[0-9]+/, "", line)                     # static-variable mangling
      print line > f
    }'
}

status=0
for fn in $FUNCS; do
  mkdir -p "$tmp/ref-$fn" "$tmp/new-$fn"
  dump "$REF/libcorvane.so" "$fn" "$tmp/ref-$fn"
  dump "$NEW/libcorvane.so" "$fn" "$tmp/new-$fn"
  refs=("$tmp/ref-$fn"/*)
  if [[ ! -e "${refs[0]}" ]]; then echo "$fn: not in the reference build"; status=1; continue; fi
  verdict=same
  copies=0
  for f in "$tmp/new-$fn"/*; do
    [[ -e "$f" ]] || continue
    base="${f##*/}"
    copies=$((copies + 1))
    r="$tmp/ref-$fn/${base%#*}#1"
    if [[ ! -f "$r" ]] || ! cmp -s "$r" "$f"; then verdict=DIFFERENT; echo "  $base differs"; fi
  done
  # a clone present in the reference but missing now is a difference too
  for r in "${refs[@]}"; do
    base="${r##*/}"
    ls "$tmp/new-$fn/${base%#*}#"* >/dev/null 2>&1 || { verdict=DIFFERENT; echo "  ${base%#*} is gone"; }
  done
  [[ "$verdict" == same ]] || status=1
  printf '%-14s %s (%d copies)\n' "$fn" "$verdict" "$copies"
done
exit $status

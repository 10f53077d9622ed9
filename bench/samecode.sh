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
  same=0 differ=0 extra=0 notes=""
  for f in "$tmp/new-$fn"/*; do
    [[ -e "$f" ]] || continue
    base="${f##*/}"
    r="$tmp/ref-$fn/${base%#*}#1"
    if [[ ! -f "$r" ]]; then
      # a form the reference does not have (an out-of-line copy of a head
      # the reference only had inlined): listed, not compared
      extra=$((extra + 1)); notes+=" extra:${base%#*}"
    elif cmp -s "$r" "$f"; then
      same=$((same + 1))
    else
      differ=$((differ + 1)); notes+=" differs:$base"
    fi
  done
  for r in "${refs[@]}"; do
    base="${r##*/}"
    ls "$tmp/new-$fn/${base%#*}#"* >/dev/null 2>&1 || { differ=$((differ + 1)); notes+=" gone:${base%#*}"; }
  done
  verdict=same
  ((differ == 0 && same > 0)) || { verdict=DIFFERENT; status=1; }
  printf '%-14s %-9s %d identical, %d different, %d extra%s\n' "$fn" "$verdict" "$same" "$differ" "$extra" "$notes"
done
exit $status

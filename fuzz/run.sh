#!/usr/bin/env bash
# Usage: fuzz/run.sh [SECONDS]
# Builds the loader fuzzer if needed and runs it for a bounded time on a
# copy of the seed corpus. Exits non-zero when the fuzzer finds a fault.
set -euo pipefail

seconds=${1:-60}
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${CORVANE_FUZZ_BUILD:-$root/build-fuzz}

if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCORVANE_FUZZ=ON \
    -DCORVANE_TESTS=OFF -DCORVANE_BENCH=OFF -DCORVANE_EXAMPLES=OFF
fi
cmake --build "$build" -j2 --target fuzz_load

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$build/fuzz/artifacts"
cp "$here"/corpus/* "$work/corpus/"

# The engine reserves its node block up front (address space, not resident
# memory), so the per-allocation limit is lifted; the resident limit stays.
"$build/fuzz/fuzz_load" "$work/corpus" \
  -dict="$here/load.dict" \
  -max_total_time="$seconds" \
  -max_len=4096 \
  -timeout=20 \
  -rss_limit_mb=2048 \
  -malloc_limit_mb=4096 \
  -print_final_stats=1 \
  -artifact_prefix="$build/fuzz/artifacts/"

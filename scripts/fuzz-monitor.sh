#!/bin/sh
# Fuzzes the traffic monitor's decode -> track -> log -> model path with libFuzzer under
# AddressSanitizer and UndefinedBehaviorSanitizer (clang), for FUZZ_SECONDS (default 60),
# and prints how many inputs a second it covered. The committed corpus is only read; new
# inputs go to a temporary directory.
set -eu
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
build=${FUZZ_BUILD_DIR:-build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DBRENVO_FUZZ=ON -DBRENVO_SANITIZE=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target monitor_fuzz
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus"
status=0
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  "$build/tests/monitor/fuzz/monitor_fuzz" -max_total_time="$seconds" -max_len=4096 \
  -artifact_prefix="$work/" "$work/corpus" tests/monitor/fuzz/corpus 2>"$work/fuzz.log" || status=$?
cat "$work/fuzz.log" >&2
# libFuzzer ends with "Done N runs in S second(s)".
sed -n 's/^Done \([0-9]*\) runs in \([0-9]*\) second.*/\1 \2/p' "$work/fuzz.log" | {
  read -r runs took && [ "$took" -gt 0 ] &&
    echo "fuzz-monitor: $runs inputs in $took s, $((runs / took)) inputs a second"
} || true
if [ "$status" -ne 0 ]; then
  mkdir -p "$build/fuzz-artifacts"
  cp "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$build/fuzz-artifacts/" 2>/dev/null || true
  echo "fuzz-monitor: the fuzz target failed; inputs kept in $build/fuzz-artifacts" >&2
fi
exit "$status"

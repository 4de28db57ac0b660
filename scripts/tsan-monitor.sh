#!/bin/sh
# Runs the traffic monitor's tests under ThreadSanitizer (gcc), built into build-tsan (or
# TSAN_BUILD_DIR). Reports inside Qt's own libraries are suppressed (tests/monitor/tsan.supp);
# any other report fails the run.
set -eu
cd "$(dirname "$0")/.."
build=${TSAN_BUILD_DIR:-build-tsan}
targets="monitor_core_tests monitor_model_tests monitor_page_tests"
cmake -S . -B "$build" -G Ninja -DBRENVO_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" --target $targets
status=0
for target in $targets; do
  TSAN_OPTIONS="suppressions=$PWD/tests/monitor/tsan.supp exitcode=66 halt_on_error=0" QT_QPA_PLATFORM=offscreen \
    "$build/tests/monitor/$target" || status=1
done
if [ "$status" -ne 0 ]; then
  echo "tsan-monitor: ThreadSanitizer reported races (or a test failed) in the monitor's tests" >&2
fi
exit "$status"

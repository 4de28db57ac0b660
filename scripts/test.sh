#!/bin/sh
# Installs what is missing, builds Brenvo with its tests and runs every test through ctest.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# The window's tests would otherwise leave the toolkit's runtime folder in /tmp.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  XDG_RUNTIME_DIR=$(mktemp -d)
  export XDG_RUNTIME_DIR
  trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
fi
cmake -S . -B build -G Ninja
cmake --build build
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure

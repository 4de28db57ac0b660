#!/bin/sh
# Builds the Debian package from the build tree (BUILD_DIR, default build, configured and built
# already) and has lintian judge it: any error or warning fails.
set -eu
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
rm -f "$build"/brenvo_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/brenvo_*.deb)
echo "check-package: $deb"
lintian --fail-on error,warning --display-level ">=info" "$deb"
echo "check-package: lintian found no error and no warning"

#!/bin/sh
# Checks the systemd units as installed from the build tree (BUILD_DIR, default build) with
# `systemd-analyze verify`, alone and beside a unit ordered like an early network stage (one
# that the early system waits for, after network-pre.target): no error, no ordering cycle.
set -eu
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
DESTDIR="$work/stage" cmake --install "$build" >/dev/null
mkdir "$work/units"
# The units run brenvod by its installed path; verify looks for it, so here it is the staged one.
brenvod=$(find "$work/stage" -path "*/sbin/brenvod")
for unit in brenvod.service brenvo-apply.service; do
  sed "s#=${brenvod#"$work/stage"}#=$brenvod#" "$(find "$work/stage" -path "*/systemd/system/$unit")" > "$work/units/$unit"
done
cat > "$work/units/early-network.service" <<'UNIT'
[Unit]
Description=A network stage that the early system waits for
DefaultDependencies=no
Wants=network-pre.target
After=network-pre.target
Before=sysinit.target shutdown.target
Conflicts=shutdown.target

[Service]
Type=oneshot
ExecStart=/bin/true

[Install]
WantedBy=sysinit.target
UNIT
status=0
verify() {
  if ! systemd-analyze verify --man=no "$@" > "$work/verify.log" 2>&1 || grep -q . "$work/verify.log"; then
    echo "check-units: systemd-analyze verify $*:" >&2
    cat "$work/verify.log" >&2
    status=1
  fi
}
cd "$work/units"
verify brenvo-apply.service brenvod.service
verify brenvo-apply.service brenvod.service early-network.service
[ "$status" -eq 0 ] && echo "check-units: the units verify, with no ordering cycle beside an early network stage"
exit "$status"

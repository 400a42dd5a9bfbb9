#!/usr/bin/env bash
# The device's CPU time per heartbeat: plain HTTP, TLS with a new client
# context per beat, TLS through the kept context with a full handshake, and
# TLS resuming the last session, against a local qvbroker in one run. A
# benchmark, not a test: compare the figures of one run.
#
# Environment: BUILD_DIR (default build-bench, RelWithDebInfo), BEATS (200).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/qvbroker.sh
build=${BUILD_DIR:-build-bench}
beats=${BEATS:-200}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target beat_bench qvbroker >/dev/null
bin=$(cd "$build" && pwd)/bin

work=$(mktemp -d /tmp/beat-bench-XXXXXX)
broker=
cleanup() {
  [ -n "$broker" ] && kill -TERM "$broker" 2>/dev/null && wait "$broker" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
sid=bench-sid
start_qvbroker "$bin/qvbroker" "$work/broker" "deviceUID=127.0.0.1-bench&deviceSID=$sid&loggedIn=1"
"$bin/beat_bench" 127.0.0.1 "$plain" "$tls" "$work/broker/ca.pem" "$sid" "$beats"
echo "broker: $(curl -s "http://127.0.0.1:$plain/admin/tls")"

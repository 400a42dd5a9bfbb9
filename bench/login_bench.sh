#!/usr/bin/env bash
# What proxy discovery adds to the broker login at start: a registered
# device logs in over TLS to a local qvbroker, each time in a fresh process
# (so every run makes its proxy factory anew), with no proxy configured at
# all, and in a GNOME session whose proxy settings say "none" (libproxy then
# starts its settings helper). Prints the medians of the discovery (the
# device's construction), the login alone, a second discovery, and the
# ratio of discovery and login to the login alone. A benchmark, not a test:
# compare the ratios of one run, never figures of different machines.
#
# Environment: BUILD_DIR (default build), REPEAT (default 20 runs per case,
# the cases taking turns).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/qvbroker.sh
build=${BUILD_DIR:-build}
repeat=${REPEAT:-20}

if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target qvbroker login_bench >/dev/null
build=$(cd "$build" && pwd)

work=$(mktemp -d /tmp/login-bench-XXXXXX)
broker=
cleanup() {
  [ -n "$broker" ] && kill -TERM "$broker" 2>/dev/null && wait "$broker" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$work/work" "$work/broker" "$work/home" "$work/xdg/glib-2.0/settings"
uid=127.0.0.1-bench-device
sid=bench-sid-1
start_qvbroker "$build/bin/qvbroker" "$work/broker" "deviceUID=$uid&deviceSID=$sid"

cat > "$work/work/vane.ini" <<INI
[Quovane]
BrokerIP=127.0.0.1
BrokerPort=$plain
BrokerSecurePort=$tls
BrokerCAFile=$work/broker/ca.pem
DeviceUID=$uid
DeviceSID=$sid
proxyRecorded=1
LogLevel=0
INI
printf "[system/proxy]\nmode='none'\n" > "$work/xdg/glib-2.0/settings/keyfile"

# One run of a case: "<discovery> <login> <again>" in milliseconds.
run() {  # case
  local desktop=()
  if [ "$1" = gnome ]; then
    desktop=(XDG_CURRENT_DESKTOP=GNOME GSETTINGS_BACKEND=keyfile "XDG_CONFIG_HOME=$work/xdg")
  fi
  (cd "$work/work" && env -i "PATH=$PATH" "HOME=$work/home" "${desktop[@]}" "$build/bin/login_bench") ||
    { echo "the login failed ($1)" >&2; exit 1; }
}
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

cases=(none gnome)
for _ in $(seq "$repeat"); do
  for name in "${cases[@]}"; do
    run "$name" >> "$work/$name.times"
  done
done

echo "TLS login of a registered device to a local qvbroker, a fresh process per run, median of $repeat"
printf '%-22s %12s %10s %12s %14s\n' "" "discovery" "login" "again" "(disc+login)"
printf '%-22s %12s %10s %12s %14s\n' "" "ms" "ms" "ms" "/ login"
for name in "${cases[@]}"; do
  discovery=$(awk '{print $1}' "$work/$name.times" | median)
  login=$(awk '{print $2}' "$work/$name.times" | median)
  again=$(awk '{print $3}' "$work/$name.times" | median)
  label=$([ "$name" = gnome ] && echo "GNOME, proxy 'none'" || echo "nothing configured")
  printf '%-22s %12s %10s %12s %14s\n' "$label" "$discovery" "$login" "$again" \
    "$(python3 -c "print(f'{($discovery + $login) / $login:.2f}')")"
done

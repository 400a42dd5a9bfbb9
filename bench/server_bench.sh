#!/usr/bin/env bash
# The local web server against nginx on the same machine, in one run:
# requests per second for a 4 KiB and a 256 KiB file (wrk, one request per
# connection), and for module calls (the echo module through peerserver,
# with the device online at a local qvbroker); and peerserver's idle
# resident size after start-up, headless and with a display (Xvfb, with
# trayer as its notification area when installed). Prints the figures and
# the ratios peerserver/nginx and module/4 KiB file. A benchmark, not a
# test: compare the ratios of one run, never figures of different machines.
#
# Environment: BUILD_DIR (default build), DURATION (default 10s),
# CONNECTIONS (default 32), THREADS (default 2), LOG_LEVEL (peerserver's
# LogLevel, default 0 as shipped; the demo runs at 3), REPEAT (default 1:
# each measurement is repeated, the servers taking turns, and the median
# kept, which steadies the ratios on a busy machine).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
source bench/qvbroker.sh
build=${BUILD_DIR:-build}
duration=${DURATION:-10s}
connections=${CONNECTIONS:-32}
threads=${THREADS:-2}
log_level=${LOG_LEVEL:-0}
repeat=${REPEAT:-1}

for program in wrk nginx; do
  command -v "$program" >/dev/null || PATH=$PATH:/usr/sbin
  command -v "$program" >/dev/null || { echo "$program is missing: run scripts/bootstrap --test" >&2; exit 1; }
done
# The echo module is one of the tests' modules.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON >/dev/null
cmake --build "$build" --target peerserver qvbroker QvExampleModule >/dev/null
build=$(cd "$build" && pwd)

work=$(mktemp -d /tmp/server-bench-XXXXXX)
chmod 755 "$work"
broker=
server=
nginx_pid=
display_pids=()
cleanup() {
  [ -n "$server" ] && kill -TERM "$server" 2>/dev/null && wait "$server" 2>/dev/null
  [ -n "$nginx_pid" ] && kill -QUIT "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  [ -n "$broker" ] && kill -TERM "$broker" 2>/dev/null && wait "$broker" 2>/dev/null
  for pid in "${display_pids[@]}"; do kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
wait_for() {  # condition, what
  for _ in $(seq 300); do
    eval "$1" && return 0
    sleep 0.1
  done
  echo "$2 did not start" >&2
  exit 1
}

# The same files for both servers.
mkdir -p "$work/root" "$work/broker" "$work/nginx"
head -c 4096 /dev/urandom > "$work/root/file4k.bin"
head -c 262144 /dev/urandom > "$work/root/file256k.bin"
chmod 644 "$work/root"/*.bin
cp "$build/test-modules/QvExampleModule.dll" "$work/root/QvExampleModule.dll"

uid=127.0.0.1-bench-device
sid=bench-sid-1
start_qvbroker "$build/bin/qvbroker" "$work/broker" "deviceUID=$uid&deviceSID=$sid"

# A peerserver logged in at the broker, in dir/work (dir/doc, dir/session
# beside it), on the display given or headless; sets started_pid, started_port.
start_peer() {  # dir, display ("" for none)
  local dir=$1 display=$2
  mkdir -p "$dir/work/vclient" "$dir/doc" "$dir/session"
  chmod 700 "$dir/session"
  cp "$root/webroot/vclient/port.htx" "$dir/work/vclient/port.htx"
  cat > "$dir/work/vane.ini" <<INI
[Quovane]
BrokerIP=127.0.0.1
BrokerPort=$plain
BrokerSecurePort=$tls
BrokerCAFile=$work/broker/ca.pem
DeviceUID=$uid
DeviceSID=$sid
proxyRecorded=1
AppPath=$work/root
AppPort=$(free_port)
AllowHosts=127.0.0.1
AllowFiles=*.bin
Modules=QvExampleModule.dll;
LogLevel=$log_level
INI
  local environment=(-u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS
                     "XDG_RUNTIME_DIR=$dir/session")
  [ -n "$display" ] && environment+=("DISPLAY=$display")
  (cd "$dir/work" && exec env "${environment[@]}" "$build/bin/peerserver" -wbx) &
  started_pid=$!
  started_port=$(sed -n 's/^AppPort=//p' "$dir/work/vane.ini")
  # The port file is written just before the listener runs, after the login.
  wait_for "[ -s '$dir/doc/port.js' ] && (exec 3<>/dev/tcp/127.0.0.1/$started_port) 2>/dev/null" \
    peerserver
}
# Resident size (kB) once start-up has settled, and the libraries mapped.
idle_size() {  # pid
  sleep 2
  echo "$(sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$1/status") kB," \
    "$(grep -o '/[^ ]*\.so[.0-9]*$' "/proc/$1/maps" | sort -u | wc -l) shared libraries"
}

start_peer "$work" ""
server=$started_pid
peer_port=$started_port
idle_headless=$(idle_size "$server")

nginx_port=$(free_port)
cat > "$work/nginx/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  keepalive_timeout 0;
  sendfile on;
  default_type application/octet-stream;
  client_body_temp_path $work/nginx/body;
  server {
    listen 127.0.0.1:$nginx_port;
    root $work/root;
  }
}
CONF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx/" &
nginx_pid=$!
wait_for '(exec 3<>"/dev/tcp/127.0.0.1/$nginx_port") 2>/dev/null' nginx

# Every answer must be the right one before it is timed.
check() {  # url, expected bytes file or text
  curl -sS --http0.9 --max-time 10 -o "$work/answer" "$1"
}
for port in "$peer_port" "$nginx_port"; do
  for file in file4k.bin file256k.bin; do
    check "http://127.0.0.1:$port/$file"
    cmp -s "$work/answer" "$work/root/$file" || { echo "wrong answer for $file on port $port" >&2; exit 1; }
  done
done
module_url="http://127.0.0.1:$peer_port/QvExampleModule.dll?greeting=hello"
check "$module_url"
[ "$(cat "$work/answer")" = "greeting=hello" ] || { echo "wrong module answer: $(cat "$work/answer")" >&2; exit 1; }

# Requests per second of one wrk run; fails on socket errors or bad statuses.
rate() {  # label, url
  local out
  out=$(wrk -t"$threads" -c"$connections" -d"$duration" --latency -H 'Connection: close' "$2")
  echo "== $1" >&2
  echo "$out" | grep -E 'Latency  |50%|99%|requests in|Socket errors|Non-2xx' >&2 || true
  # An answer without Content-Length ends at end of file, which wrk counts
  # as a read error after counting the answer; other errors spoil the figure.
  if echo "$out" | grep -qE 'connect [1-9]|write [1-9]|timeout [1-9]|Non-2xx'; then
    echo "   (errors above: this figure is not comparable)" >&2
  fi
  echo "$out" | sed -n 's/^Requests\/sec: *//p'
}
ratio() { python3 -c "print(f'{$1 / $2:.2f}')"; }
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

# The same program with a display: Xvfb picks a free display number.
idle_display="n/a (Xvfb is not installed)"
if command -v Xvfb >/dev/null; then
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/xvfb.display" \
    >"$work/xvfb.log" 2>&1 &
  display_pids+=($!)
  wait_for '[ -s "$work/xvfb.display" ]' Xvfb
  display=":$(cat "$work/xvfb.display")"
  if command -v trayer >/dev/null; then
    DISPLAY=$display trayer --edge top --align right --widthtype pixel --width 120 \
      --heighttype pixel --height 32 >"$work/trayer.log" 2>&1 &
    display_pids+=($!)
  fi
  start_peer "$work/gui" "$display"
  display_pids=("$started_pid" "${display_pids[@]}")
  idle_display=$(idle_size "$started_pid")
  kill -TERM "$started_pid" && wait "$started_pid" || true
fi

declare -a p4 n4 p256 n256 mod
for _ in $(seq "$repeat"); do
  p4+=("$(rate "peerserver 4 KiB" "http://127.0.0.1:$peer_port/file4k.bin")")
  n4+=("$(rate "nginx 4 KiB" "http://127.0.0.1:$nginx_port/file4k.bin")")
  p256+=("$(rate "peerserver 256 KiB" "http://127.0.0.1:$peer_port/file256k.bin")")
  n256+=("$(rate "nginx 256 KiB" "http://127.0.0.1:$nginx_port/file256k.bin")")
  mod+=("$(rate "peerserver module call" "$module_url")")
done
peer4=$(median "${p4[@]}")
nginx4=$(median "${n4[@]}")
peer256=$(median "${p256[@]}")
nginx256=$(median "${n256[@]}")
module=$(median "${mod[@]}")

echo
echo "peerserver LogLevel=$log_level, wrk -t$threads -c$connections -d$duration, Connection: close," \
  "median of $repeat"
printf '%-28s %12s\n' "" "requests/s"
printf '%-28s %12s\n' "peerserver 4 KiB file" "$peer4"
printf '%-28s %12s\n' "nginx 4 KiB file" "$nginx4"
printf '%-28s %12s\n' "peerserver 256 KiB file" "$peer256"
printf '%-28s %12s\n' "nginx 256 KiB file" "$nginx256"
printf '%-28s %12s\n' "peerserver module call" "$module"
echo
echo "ratio peerserver/nginx, 4 KiB:   $(ratio "$peer4" "$nginx4")"
echo "ratio peerserver/nginx, 256 KiB: $(ratio "$peer256" "$nginx256")"
echo "ratio module call/4 KiB file:    $(ratio "$module" "$peer4")"
echo
echo "peerserver idle after start-up (VmRSS), logged in:"
echo "  headless:       $idle_headless"
echo "  with a display: $idle_display"

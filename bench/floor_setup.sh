# Sourced by side_by_side.sh and request_cost.sh: builds peerserver and the
# bench module (BUILD_DIR, default build, RelWithDebInfo as scripts/run
# builds), compiles the floor, and lays out a temporary directory ($work)
# with the files both serve: f4k.bin, f256k.bin and QvBenchModule.dll in
# $work/root, peerserver's working directory in $work/app (LogLevel 0, an
# offline device: module calls with operation=login are let through).
# Defines free_port, wait_port, start_peer, start_floor and stop_servers;
# the caller's EXIT trap runs stop_all.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build=${BUILD_DIR:-build}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target peerserver QvBenchModule >/dev/null
build=$(cd "$build" && pwd)

work=$(mktemp -d /tmp/floor-bench-XXXXXX)
chmod 755 "$work"
pids=()
stop_servers() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
  pids=()
}
stop_all() {
  stop_servers
  rm -rf "$work"
}

gcc -O2 -pthread -o "$work/floor" bench/floor_server.c -ldl
mkdir -p "$work/root" "$work/app/vclient" "$work/doc" "$work/session"
chmod 700 "$work/session"
head -c 4096 /dev/urandom > "$work/root/f4k.bin"
head -c 262144 /dev/urandom > "$work/root/f256k.bin"
chmod 644 "$work/root"/*.bin
cp "$build/bench-modules/QvBenchModule.dll" "$work/root/"
cp webroot/vclient/port.htx "$work/app/vclient/"
module_path="/QvBenchModule.dll?operation=login&say=x"

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
wait_port() {  # port, what
  for _ in $(seq 300); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "$2 did not start" >&2
  exit 1
}

# peerserver on a free port ($peer_port, $peer_pid), optionally under a
# wrapper command (valgrind).
start_peer() {  # [wrapper...]
  peer_port=$(free_port)
  cat > "$work/app/vane.ini" <<INI
[Quovane]
AppPath=$work/root
AppPort=$peer_port
AllowHosts=127.0.0.1
AllowFiles=*.bin
Modules=QvBenchModule.dll;
LogLevel=0
DeviceSID=None
BrokerIP=127.0.0.1
BrokerPort=1
proxyRecorded=1
INI
  (cd "$work/app" && exec env -u DISPLAY -u WAYLAND_DISPLAY "XDG_RUNTIME_DIR=$work/session" \
    "XDG_CONFIG_HOME=$work/xdg" "$@" "$build/bin/peerserver" -wbx) >"$work/peer.out" 2>&1 &
  peer_pid=$!
  pids+=("$peer_pid")
  wait_port "$peer_port" peerserver
}

start_floor() {  # [wrapper...]
  floor_port=$(free_port)
  "$@" "$work/floor" "$floor_port" "$work/root" >"$work/floor.out" 2>&1 &
  floor_pid=$!
  pids+=("$floor_pid")
  wait_port "$floor_port" "the floor"
}

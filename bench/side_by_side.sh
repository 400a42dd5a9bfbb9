#!/usr/bin/env bash
# peerserver beside the design's floor (bench/floor_server.c: a bare
# thread-per-connection server that loads, calls and unloads the module per
# call) and nginx (one worker), in one run: wrk -t2 -c32, Connection: close,
# the servers taking turns, the median of REPEAT rounds. Prints requests/s
# for a 4 KiB and a 256 KiB file and a module call, and peerserver's ratios
# to the floor (the targets: files 0.95, module calls 0.9) and to nginx.
# A benchmark, not a test: compare ratios of one run on a quiet machine.
#
# usage: bench/side_by_side.sh [DURATION (8s)] [REPEAT (3)]; BUILD_DIR (build)
source "$(dirname "$0")/floor_setup.sh"
duration=${1:-8s}
repeat=${2:-3}
PATH=$PATH:/usr/sbin
for program in wrk nginx gcc; do
  command -v "$program" >/dev/null || { echo "$program is missing: run scripts/bootstrap" >&2; exit 1; }
done
trap stop_all EXIT
trap 'exit 130' INT TERM

start_peer
start_floor
nginx_port=$(free_port)
mkdir -p "$work/nginx"
cat > "$work/nginx/nginx.conf" <<CONF
worker_processes 1; daemon off; pid $work/nginx/pid; error_log $work/nginx/error.log;
events { worker_connections 4096; }
http { access_log off; keepalive_timeout 0; sendfile on; default_type application/octet-stream;
  client_body_temp_path $work/nginx/body; server { listen 127.0.0.1:$nginx_port; root $work/root; } }
CONF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx/" &
pids+=($!)
wait_port "$nginx_port" nginx

# Every answer is checked before it is timed.
for port in "$peer_port" "$floor_port" "$nginx_port"; do
  for file in f4k.bin f256k.bin; do
    curl -sS --http0.9 --max-time 10 -o "$work/answer" "http://127.0.0.1:$port/$file"
    cmp -s "$work/answer" "$work/root/$file" || { echo "wrong $file from port $port" >&2; exit 1; }
  done
done
answer=$(curl -sS --http0.9 --max-time 10 "http://127.0.0.1:$peer_port$module_path")
[ "$answer" = $'operation=login\nsay=x' ] || { echo "wrong module answer: $answer" >&2; exit 1; }
answer=$(curl -sS --http0.9 --max-time 10 "http://127.0.0.1:$floor_port$module_path")
[[ "$answer" =~ ^v[0-9.]+\ x$ ]] || { echo "wrong module answer from the floor: $answer" >&2; exit 1; }

rate() {  # url
  wrk -t2 -c32 -d"$duration" -H 'Connection: close' "$1" 2>/dev/null |
    awk '/Requests\/sec/ {print int($2)}'
}
median() { printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
declare -A runs
for _ in $(seq "$repeat"); do
  for what in f4k.bin f256k.bin; do
    runs[nginx.$what]+=" $(rate "http://127.0.0.1:$nginx_port/$what")"
    runs[floor.$what]+=" $(rate "http://127.0.0.1:$floor_port/$what")"
    runs[peer.$what]+=" $(rate "http://127.0.0.1:$peer_port/$what")"
  done
  runs[floor.module]+=" $(rate "http://127.0.0.1:$floor_port$module_path")"
  runs[peer.module]+=" $(rate "http://127.0.0.1:$peer_port$module_path")"
done

echo "wrk -t2 -c32 -d$duration, Connection: close, median of $repeat; requests/s"
printf '%-14s %8s %8s %10s %11s %11s %7s\n' "" nginx floor peerserver peer/floor peer/nginx target
row() {  # label, key, target
  local n=- ratio_nginx=-
  if [ -n "${runs[nginx.$2]:-}" ]; then
    n=$(median ${runs[nginx.$2]})
    ratio_nginx=$(awk -v p="$(median ${runs[peer.$2]})" -v n="$n" 'BEGIN {printf "%.2fx", p / n}')
  fi
  awk -v l="$1" -v n="$n" -v f="$(median ${runs[floor.$2]})" -v p="$(median ${runs[peer.$2]})" \
    -v rn="$ratio_nginx" -v t="$3" \
    'BEGIN {printf "%-14s %8s %8d %10d %10.2fx %11s %6.2fx\n", l, n, f, p, p / f, rn, t}'
}
row "4 KiB file" f4k.bin 0.95
row "256 KiB file" f256k.bin 0.95
row "module call" module 0.90
echo "peerserver resident after the load: $(awk '/VmRSS/ {print $2, $3}' "/proc/$peer_pid/status")"

#!/usr/bin/env bash
# What one request costs peerserver and the floor, counted the same way
# whatever else runs on the machine: instructions in user space (valgrind's
# callgrind, all threads) and system calls (strace -c -f), per request, for
# a 4 KiB file, a 256 KiB file and a module call. REQUESTS (default 200)
# requests one after another per figure, after a few to warm up. The kernel's
# own work shows only through the system calls; side_by_side.sh gives time.
#
# usage: bench/request_cost.sh; BUILD_DIR (build), REQUESTS (200),
# SYSCALLS=1 also lists the system calls of each request by name.
source "$(dirname "$0")/floor_setup.sh"
requests=${REQUESTS:-200}
for program in valgrind callgrind_control strace gcc; do
  command -v "$program" >/dev/null || { echo "$program is missing: apt-get install valgrind strace" >&2; exit 1; }
done
trap stop_all EXIT
trap 'exit 130' INT TERM

# Requests one after another, each on its own connection, as wrk sends them.
cat > "$work/client.py" <<'PY'
import socket, sys
port, path, count = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])
for _ in range(count):
    s = socket.create_connection(("127.0.0.1", port))
    s.sendall(("GET %s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nConnection: close\r\n\r\n" % (path, port)).encode())
    while s.recv(65536):
        pass
    s.close()
PY
ask() { python3 "$work/client.py" "$1" "$2" "$3"; }
paths=(/f4k.bin /f256k.bin "$module_path")
labels=("4 KiB file" "256 KiB file" "module call")
declare -A instructions calls listing

# Instructions: counters zeroed after the warm-up, dumped after the requests.
count_instructions() {  # side, pid, port
  local i dump
  for i in 0 1 2; do
    ask "$3" "${paths[$i]}" 3
    callgrind_control -z "$2" >/dev/null 2>&1
    ask "$3" "${paths[$i]}" "$requests"
    callgrind_control -d "$2" >/dev/null 2>&1
    dump=$(ls -t "$work/$1".cg.* | head -1)
    instructions[$1.$i]=$(awk -v n="$requests" '/^totals:/ {print int($2 / n)}' "$dump")
  done
}
start_peer valgrind --tool=callgrind --callgrind-out-file="$work/peer.cg.%p"
start_floor valgrind --tool=callgrind --callgrind-out-file="$work/floor.cg.%p"
count_instructions peer "$peer_pid" "$peer_port"
count_instructions floor "$floor_pid" "$floor_port"
stop_servers

# System calls: strace attached to the running server for the requests only.
count_calls() {  # side, pid, port
  local i tracer
  for i in 0 1 2; do
    ask "$3" "${paths[$i]}" 3
    strace -f -c -p "$2" -o "$work/strace.out" 2>/dev/null &
    tracer=$!
    sleep 1  # attached to every thread
    ask "$3" "${paths[$i]}" "$requests"
    kill -INT "$tracer"
    wait "$tracer" || true
    # Columns: % time, seconds, usecs/call, calls, [errors,] name.
    calls[$1.$i]=$(awk -v n="$requests" '$NF == "total" {printf "%.1f", $4 / n}' "$work/strace.out")
    listing[$1.$i]=$(awk -v n="$requests" '$1 ~ /^[0-9.]+$/ && $NF != "total" && $4 / n >= 0.05 {
      printf "%s %.2f\n", $NF, $4 / n}' "$work/strace.out" | sort -k2 -rn | tr '\n' ' ')
  done
}
start_peer
start_floor
count_calls peer "$peer_pid" "$peer_port"
count_calls floor "$floor_pid" "$floor_port"

echo "per request, $requests requests one after another (LogLevel 0)"
printf '%-14s %14s %14s %8s   %10s %10s\n' "" "instr. peer" "instr. floor" "ratio" "calls peer" "calls floor"
for i in 0 1 2; do
  awk -v l="${labels[$i]}" -v p="${instructions[peer.$i]}" -v f="${instructions[floor.$i]}" \
    -v cp="${calls[peer.$i]}" -v cf="${calls[floor.$i]}" \
    'BEGIN {printf "%-14s %14d %14d %7.2fx   %10s %10s\n", l, p, f, p / f, cp, cf}'
done
if [ -n "${SYSCALLS:-}" ]; then
  for i in 0 1 2; do
    echo "${labels[$i]}, peerserver: ${listing[peer.$i]}"
    echo "${labels[$i]}, floor:      ${listing[floor.$i]}"
  done
fi

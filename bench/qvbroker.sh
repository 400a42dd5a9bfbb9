# Sourced by the benchmarks: starts qvbroker with its own CA in dir (ca.pem,
# ready, requests, qvbroker.out there) for the device given, waits until it
# listens, and sets broker (its process), plain and tls (its ports). The
# caller's EXIT trap stops it.
start_qvbroker() {  # program, dir, device fields
  local program=$1 dir=$2 device=$3
  mkdir -p "$dir"
  "$program" --port 0 --tls-port 0 --ca-out "$dir/ca.pem" --ready-file "$dir/ready" \
    --record "$dir/requests" --device "$device" >"$dir/qvbroker.out" 2>&1 &
  broker=$!
  for _ in $(seq 300); do
    [ -s "$dir/ready" ] && break
    kill -0 "$broker" 2>/dev/null || { cat "$dir/qvbroker.out" >&2; exit 1; }
    sleep 0.1
  done
  [ -s "$dir/ready" ] || { echo "qvbroker did not start" >&2; exit 1; }
  plain=$(sed -n 's/.*plain=\([0-9]*\).*/\1/p' "$dir/ready")
  tls=$(sed -n 's/.*tls=\([0-9]*\).*/\1/p' "$dir/ready")
}

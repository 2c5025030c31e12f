#!/usr/bin/env bash
# The local proxy against the upstream it sends through, on loopback: nginx as the site, two
# tinyproxies as the upstreams (checked and served with --check FILE --serve --no-pool), curl as the client. Each
# figure is timed through the serve and straight through one tinyproxy in the same run; asserts nothing.
#
#   bench_serve SIEVRA [REQUESTS [PARALLEL [MB]]]     (needs nginx, tinyproxy, curl, python3)
#
# Requests: REQUESTS (2000) requests for a 20 kB page, PARALLEL (50) at once, by one curl --parallel. First byte:
# 200 requests one after the other, the median of curl's time_starttransfer. Tunnel: MB (100) megabytes through one
# CONNECT tunnel.
set -euo pipefail

sievra=$(realpath "${1:?usage: bench_serve SIEVRA [REQUESTS [PARALLEL [MB]]]}")
requests=${2:-2000}
parallel=${3:-50}
megabytes=${4:-100}
for tool in nginx tinyproxy curl python3; do
    command -v "$tool" >/dev/null || { echo "bench_serve: $tool is missing (scripts/install-deps)" >&2; exit 1; }
done

run=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$run"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
# A figure over nothing (a tunnel that failed) is "n/a", not the end of the run.
calc() { awk "BEGIN { d = $2; if (d == 0) print \"n/a\"; else printf \"%.3f\", $1 / d }"; }
minus() { awk "BEGIN { printf \"%.3f\", $1 - $2 }"; }
wait_port() { for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0; sleep 0.05; done; return 1; }

mkdir -p "$run/site" "$run/home"
head -c 20480 /dev/urandom | base64 -w 100 | head -c 20480 >"$run/site/page.txt"
head -c $((megabytes * 1024 * 1024)) /dev/zero >"$run/site/big.bin"
echo "MARKER" >"$run/site/judge.txt"
site=$(free_port)
# nginx as the site: Python's http.server listens with a backlog of 5, and 50 clients at once then meet refused or
# delayed connections that are the site's, not the serve's or tinyproxy's.
cat >"$run/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
pid $run/nginx.pid;
error_log $run/error.log;
events { worker_connections 4096; }
http {
    access_log off;
    default_type application/octet-stream;
    client_body_temp_path $run/body;
    proxy_temp_path $run/proxy;
    fastcgi_temp_path $run/fastcgi;
    uwsgi_temp_path $run/uwsgi;
    scgi_temp_path $run/scgi;
    root $run/site;
    server { listen 127.0.0.1:$site backlog=4096; }
}
EOF
setpriv --pdeathsig KILL nginx -e "$run/error.log" -p "$run/" -c "$run/nginx.conf" &
pids+=($!)
wait_port "$site"

upstreams=()
for i in 1 2; do
    port=$(free_port)
    printf 'Port %s\nListen 127.0.0.1\nTimeout 60\nAllow 127.0.0.1\nMaxClients 400\n' "$port" >"$run/tinyproxy$i.conf"
    tinyproxy -d -c "$run/tinyproxy$i.conf" >/dev/null 2>&1 &
    pids+=($!)
    wait_port "$port"
    upstreams+=("$port")
    echo "127.0.0.1:$port" >>"$run/list.txt"
done

serve=$(free_port)
HOME="$run/home" "$sievra" --check "$run/list.txt" --judge "http://127.0.0.1:$site/judge.txt" --judge-marker MARKER \
    --no-pool --serve "$serve" >/dev/null 2>"$run/serve.err" &
pids+=($!)
for _ in $(seq 200); do grep -q serving "$run/serve.err" 2>/dev/null && break; sleep 0.05; done
grep -q serving "$run/serve.err" || { cat "$run/serve.err" >&2; exit 1; }

for i in $(seq "$requests"); do printf 'url = "http://127.0.0.1:%s/page.txt"\noutput = "/dev/null"\n' "$site"; done \
    >"$run/requests.conf"
many() { # proxy: seconds for the requests
    local start end
    start=$(date +%s.%N)
    # A request that fails is counted by the serve, not the end of the run.
    curl -s --no-progress-meter --parallel --parallel-max "$parallel" -x "http://127.0.0.1:$1" -K "$run/requests.conf" ||
        true
    end=$(date +%s.%N)
    minus "$end" "$start"
}
first_byte() { # proxy: the median first-byte time in ms
    for _ in $(seq 200); do
        curl -s -o /dev/null -w '%{time_starttransfer}\n' -x "http://127.0.0.1:$1" "http://127.0.0.1:$site/page.txt" ||
            true
    done | sort -n | sed -n 100p | awk '{printf "%.3f", $1 * 1000}'
}
tunnel() { # proxy: MB/s through one CONNECT tunnel
    { curl -s -p -o /dev/null -w '%{speed_download}' -x "http://127.0.0.1:$1" "http://127.0.0.1:$site/big.bin" || true; } |
        awk '{printf "%.1f", $1 / 1048576}'
}

straight=$(many "${upstreams[0]}")
served=$(many "$serve")
fb_straight=$(first_byte "${upstreams[0]}")
fb_served=$(first_byte "$serve")
tn_straight=$(tunnel "${upstreams[0]}")
tn_served=$(tunnel "$serve")
printf 'requests: %s x 20 kB, %s at once: %.2f s through the serve, %.2f s straight (%sx)\n' "$requests" "$parallel" \
    "$served" "$straight" "$(calc "$served" "$straight")"
printf 'first byte, median of 200: %s ms through the serve, %s ms straight (+%s ms)\n' "$fb_served" "$fb_straight" \
    "$(minus "$fb_served" "$fb_straight")"
printf 'tunnel: %s MB/s through the serve, %s MB/s straight (%s %%)\n' "$tn_served" "$tn_straight" \
    "$(calc "100 * $tn_served" "$tn_straight")"
# What the serve went through: its failed and rerouted requests, its healthy upstreams.
kill -TERM "${pids[-1]}" && wait "${pids[-1]}" || true
grep -v '^checked\|^proxies' "$run/serve.err" >&2 || true
printf 'bench_serve: %sx the time of %s requests (%.2f s, straight %.2f s)\n' "$(calc "$served" "$straight")" \
    "$requests" "$served" "$straight"

#!/usr/bin/env bash
# A command-line harvest from a real web server, over https and over http: Debian's nginx on loopback, in a
# private network namespace whose hosts file names the sites and whose only trusted CA is one made for the
# run. The baseline, timed in the same run over the same URLs, in turn with the harvest: twenty curl
# processes fetching them (following redirects), piped to ripgrep printing every match of the proxy pattern.
# Asserts nothing; prints the median times and the ratio of each pair of runs.
#
#   bench_web SIEVRA [ROUNDS [SCHEME:PAGES:KB:HOSTS ...]]     (root; needs nginx, openssl, curl, rg)
#
# The pages are spread over 1, 20 or 100 host names: one host is the common case today (many raw lists on one
# code-hosting site), many hosts the list of sources of old. nginx speaks HTTP/2 over TLS, as such hosts do; both
# clients keep their connections and share them where the server lets them. The run's folder, and so the
# harvest's home folder, is on the disk that holds /var/tmp (BENCH_WEB_TMP elsewhere), as users' homes are.
# BENCH_WEB_WRAP, when set, goes before each harvest's command line: "perf record -g" profiles it.
# BENCH_WEB_KEY: the sites' key, "ec" (ECDSA P-256, the default) or "rsa" (RSA 2048).
# BENCH_WEB_PAGES: "mixed" (the default: one table row in four holds the address and the port in cells apart, which
#   the pipeline cannot read) or "texts" (every row an a.b.c.d:port cell).
# BENCH_WEB_POOL: "on" (the default: a new pool in each harvest's home folder, as a user's first run), "kept" (one
#   pool for all the harvests of a case, made by its unmeasured first one: a user's next runs over the same sources),
#   "off" (--no-pool), or "both": each round a harvest with a new pool and one with --no-pool in turn, and what the
#   pool adds printed as the median of the rounds' own ratios, so that the machine's drift cancels out; "kept-both"
#   the same with the kept pool.
# BENCH_WEB_FLOOR: a curl_floor binary (bench/curl_floor.cpp), timed beside both: the fetching alone.
# BENCH_WEB_RATE: when set, nginx sends each reply at most this fast (its limit_rate, as "512k" or "2m" bytes a
#   second): a web slower than loopback, where the program has time to spare while the pages come.
# A case "hostile:PAGES:MB[:KIND]" serves PAGES pages of MB megabytes: nested <span> tags (KIND "tags"), plain
# proxy lines, each proxy another ("texts"), or half of each ("mixed", the default); and prints the harvest's peak
# resident memory (/usr/bin/time -f %M) beside the pages in memory.
set -euo pipefail

if [ "${1:-}" != --inside ]; then
    sievra=$(realpath "${1:?usage: bench_web SIEVRA [ROUNDS]}")
    rounds=${2:-5}
    for tool in nginx openssl curl rg unshare; do
        command -v "$tool" >/dev/null || { echo "bench_web: $tool is missing (scripts/install-deps)" >&2; exit 1; }
    done
    if [ "$(id -u)" -ne 0 ] || ! unshare --net --mount true 2>/dev/null; then
        echo "bench_web: needs root and private network namespaces (unshare --net --mount)" >&2
        exit 1
    fi
    exec unshare --net --mount bash "$0" --inside "$sievra" "$rounds" "${@:3}"
fi
sievra=$2
rounds=$3

run=$(mktemp -d -p "${BENCH_WEB_TMP:-/var/tmp}" sievra-bench-web.XXXXXX)
nginx_pid=""
cleanup() {
    [ -z "$nginx_pid" ] || { kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; }
    umount /etc/ssl/certs 2>/dev/null || true
    rm -rf "$run"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

sites=100
domain=proxyfeed.net
# The extraction's pattern; ripgrep's engine takes the colon unescaped.
pattern='([0-9]{1,3})\.([0-9]{1,3})\.([0-9]{1,3})\.([0-9]{1,3}):([0-9]{2,5})'

ip link set lo up
{
    echo "127.0.0.1 localhost"
    for ((s = 1; s <= sites; ++s)); do echo "127.0.0.1 site$s.$domain"; done
} >"$run/hosts"
mount --bind "$run/hosts" /etc/hosts

# A CA of this run's own and one wildcard certificate for every site: ECDSA as most sites use today, or RSA 2048.
quietly() { "$@" 2>>"$run/openssl.log" || { cat "$run/openssl.log" >&2; return 1; }; }
case "${BENCH_WEB_KEY:-ec}" in
ec) key=(-newkey ec -pkeyopt ec_paramgen_curve:P-256) ;;
rsa) key=(-newkey rsa:2048) ;;
*) echo "bench_web: BENCH_WEB_KEY is ec or rsa" >&2; exit 1 ;;
esac
quietly openssl req -x509 "${key[@]}" -nodes -days 2 -subj "/CN=Bench CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" \
    -keyout "$run/ca.key" -out "$run/ca.crt"
quietly openssl req -new "${key[@]}" -nodes -subj "/CN=*.$domain" \
    -keyout "$run/site.key" -out "$run/site.csr"
printf 'subjectAltName=DNS:*.%s\nextendedKeyUsage=serverAuth\n' "$domain" >"$run/site.ext"
quietly openssl x509 -req -in "$run/site.csr" -CA "$run/ca.crt" -CAkey "$run/ca.key" -CAcreateserial -days 2 \
    -extfile "$run/site.ext" -out "$run/site.crt"
mkdir "$run/trust"
cp "$run/ca.crt" "$run/trust/ca-certificates.crt"
quietly openssl rehash "$run/trust"
mount --bind "$run/trust" /etc/ssl/certs

mkdir "$run/www"
cat >"$run/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
pid $run/nginx.pid;
error_log $run/error.log;
events { worker_connections 1024; }
http {
    access_log off;
    default_type text/html;
    client_body_temp_path $run/body;
    proxy_temp_path $run/proxy;
    fastcgi_temp_path $run/fastcgi;
    uwsgi_temp_path $run/uwsgi;
    scgi_temp_path $run/scgi;
    root $run/www;
    limit_rate ${BENCH_WEB_RATE:-0};
    server { listen 127.0.0.1:80; }
    server {
        listen 127.0.0.1:443 ssl http2;
        ssl_certificate $run/site.crt;
        ssl_certificate_key $run/site.key;
    }
}
EOF
# Killed with this script even when the script itself is killed and cannot clean up.
setpriv --pdeathsig KILL nginx -p "$run/" -c "$run/nginx.conf" &
nginx_pid=$!
for try in $(seq 100); do
    (: <>/dev/tcp/127.0.0.1/443) 2>/dev/null && break
    [ "$try" -lt 100 ] && kill -0 "$nginx_pid" 2>/dev/null || { cat "$run/error.log" >&2; exit 1; }
    sleep 0.1
done

# Proxy-list pages of about SIZE kB: a table row of markup around every address and port; with mixed pages, one
# row in four holds the address and the port in cells of their own.
make_pages() { # count, size in kB
    rm -rf "${run:?}/www/"*
    local apart=0
    [ "${BENCH_WEB_PAGES:-mixed}" = texts ] || apart=4
    awk -v count="$1" -v size=$(($2 * 1024)) -v dir="$run/www" -v apart="$apart" 'BEGIN {
        srand(20121203)
        for (n = 0; n < count; ++n) {
            file = dir "/list" n ".html"
            head = "<html><head><title>Free proxy list</title></head><body><table>\n"
            printf "%s", head > file
            for (written = length(head); written < size - 200; written += length(row)) {
                address = sprintf("%d.%d.%d.%d", 1 + int(rand() * 223), int(rand() * 256), int(rand() * 256),
                    int(rand() * 256))
                port = 80 + int(rand() * 65455)
                cell = (apart && int(rand() * apart) == 0) ? address "</td><td>" port : address ":" port
                row = sprintf("<tr><td>%s</td><td>HTTP</td><td>anonymous</td><td>%d ms</td>" \
                    "<td>checked %d minutes ago</td><td>United States</td></tr>\n", cell,
                    100 + int(rand() * 9900), 1 + int(rand() * 58))
                printf "%s", row > file
            }
            printf "</table></body></html>\n" > file
            close(file)
        }
    }'
}

url_list() { # scheme, count, sites
    local n
    for ((n = 0; n < $2; ++n)); do echo "$1://site$((n % $3 + 1)).$domain/list$n.html"; done >"$run/urls.txt"
}

# Seconds the command took, to stdout.
seconds() {
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>>"$run/errors.log" || { echo "bench_web: failed: $*" >&2; tail -5 "$run/errors.log" >&2; exit 1; }
    end=$(date +%s%N)
    awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }'
}

pool=()
case "${BENCH_WEB_POOL:-on}" in
on) ;;
kept) pool=(--pool "$run/pool.sqlite") ;;
off) pool=(--no-pool) ;;
both) ;;
kept-both) pool=(--pool "$run/pool.sqlite") ;;
*) echo "bench_web: BENCH_WEB_POOL is on, kept, off, both or kept-both" >&2; exit 1 ;;
esac

harvest() { # further options
    rm -rf "$run/home"
    mkdir "$run/home"
    HOME="$run/home" QT_QPA_PLATFORM=offscreen ${BENCH_WEB_WRAP:-} "$sievra" --harvest "$run/urls.txt" --threads 20 \
        --timeout 25 "${pool[@]}" "$@"
}

floor() {
    "$BENCH_WEB_FLOOR" "$run/urls.txt" 20
}

curl_pipeline() {
    xargs -P20 -n50 curl -sL <"$run/urls.txt" | rg -o "$pattern" >"$run/curl.out"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
range() { sort -g | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%.2f-%.2f", lo, hi }'; }

measure() { # scheme, pages, size in kB, sites
    url_list "$1" "$2" "$4"
    rm -f "$run"/pool.sqlite*
    harvest >/dev/null 2>&1 && curl_pipeline # one of each unmeasured, to warm the caches
    local ours=() theirs=() floors=() ratios=() offs=() costs=() r a b c
    for ((r = 0; r < rounds; ++r)); do
        a=$(seconds harvest)
        if [[ "${BENCH_WEB_POOL:-on}" == *both ]]; then
            c=$(
                pool=()
                seconds harvest --no-pool
            )
            offs+=("$c")
            costs+=("$(awk -v a="$a" -v c="$c" 'BEGIN { printf "%.3f", (a / c - 1) * 100 }')")
        fi
        b=$(seconds curl_pipeline)
        [ -z "${BENCH_WEB_FLOOR:-}" ] || floors+=("$(seconds floor)")
        ours+=("$a")
        theirs+=("$b")
        ratios+=("$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", a / b }')")
    done
    local floor_text=""
    [ ${#floors[@]} -eq 0 ] || floor_text=$(printf ', libcurl floor %.2f s' "$(printf '%s\n' "${floors[@]}" | median)")
    local lines matches
    lines=$(cat "$run"/home/.tarnix/sievra/output/*.txt | wc -l)
    matches=$(sort -u "$run/curl.out" | wc -l)
    local ratio
    ratio=$(printf '%s\n' "${ratios[@]}" | median)
    printf '%-5s %5d pages of %4d kB on %3d host(s): harvest %.2f s, curl pipeline %.2f s%s (medians of %d), ratio %.2f (%s); %d lines, %d distinct matches\n' \
        "$1" "$2" "$3" "$4" "$(printf '%s\n' "${ours[@]}" | median)" "$(printf '%s\n' "${theirs[@]}" | median)" \
        "$floor_text" "$rounds" "$ratio" "$(printf '%s\n' "${ratios[@]}" | range)" "$lines" "$matches"
    [ ${#costs[@]} -eq 0 ] || printf '      the pool on %.2f s, off %.2f s: it adds %+.1f %% (rounds %s)\n' \
        "$(printf '%s\n' "${ours[@]}" | median)" "$(printf '%s\n' "${offs[@]}" | median)" \
        "$(printf '%s\n' "${costs[@]}" | median)" "$(printf '%s\n' "${costs[@]}" | sort -g | tr '\n' ' ' | sed 's/ $//')"
    last="$1 $2 pages of $3 kB: ratio $ratio"
}

# scheme:pages:kB per page:host names; the first is the headline.
cases=("${@:4}")
[ ${#cases[@]} -gt 0 ] || cases=(https:1000:20:1 https:1000:20:20 https:1000:20:$sites http:1000:20:20
    http:1000:20:$sites https:100:1024:20)
# Hostile pages, all fetched at once, each SIZE MB.
make_hostile() { # count, size in MB, kind: tags, texts or mixed (half of each)
    rm -rf "${run:?}/www/"*
    local n
    for ((n = 0; n < $1; ++n)); do
        if [ "$3" = tags ] || { [ "$3" = mixed ] && ((n % 2 == 0)); }; then
            # yes ends on the broken pipe, which pipefail would take for a failure.
            { yes '<span><span><span><span>' || true; } | head -c $(($2 * 1024 * 1024)) >"$run/www/list$n.html"
        else
            awk -v size=$(($2 * 1024 * 1024)) -v seed="$n" 'BEGIN { srand(seed)
                for (written = 0; written < size; written += length(line) + 1) {
                    line = sprintf("%d.%d.%d.%d:%d", 1 + int(rand() * 223), int(rand() * 256), int(rand() * 256),
                        int(rand() * 256), 80 + int(rand() * 65455)); print line } }' >"$run/www/list$n.html"
        fi
    done
}

hostile() { # pages, size in MB, kind
    make_hostile "$1" "$2" "$3"
    url_list http "$1" "$1"
    rm -rf "$run/home"
    mkdir "$run/home"
    local start end peak
    start=$(date +%s%N)
    local status=0
    HOME="$run/home" QT_QPA_PLATFORM=offscreen /usr/bin/time -f %M -o "$run/peak" ${BENCH_WEB_WRAP:-} "$sievra" --harvest "$run/urls.txt" \
        --threads "$1" --timeout 25 "${pool[@]}" >/dev/null 2>>"$run/errors.log" || status=$?
    # Pages of tags alone give no proxy, which the harvest tells with exit status 2.
    [ "$status" -eq 0 ] || [ "$status" -eq 2 ] || { tail -5 "$run/errors.log" >&2; exit 1; }
    end=$(date +%s%N)
    peak=$(tail -1 "$run/peak")
    printf 'hostile %d pages of %d MB (%s) at once: peak %d MB resident, %.2f s, %d lines\n' "$1" "$2" "$3" \
        $((peak / 1024)) \
        "$(awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }')" \
        "$(cat "$run"/home/.tarnix/sievra/output/*.txt 2>/dev/null | wc -l)"
    last="hostile $1 pages of $2 MB ($3): peak $((peak / 1024)) MB"
}

echo "$rounds rounds of each, in turn; xargs -P20 -n50 curl -sL | rg -o against sievra --harvest --threads 20" \
    "(key ${BENCH_WEB_KEY:-ec}, pages ${BENCH_WEB_PAGES:-mixed}, pool ${BENCH_WEB_POOL:-on})"
pages=""
headline=""
for case in "${cases[@]}"; do
    if [[ "$case" == hostile:* ]]; then
        IFS=: read -r _ count size kind <<<"$case"
        hostile "$count" "$size" "${kind:-mixed}"
        pages=""
        headline=${headline:-$last}
        continue
    fi
    IFS=: read -r scheme count size hosts <<<"$case"
    [ "$pages" = "$count:$size" ] || make_pages "$count" "$size"
    pages="$count:$size"
    measure "$scheme" "$count" "$size" "$hosts"
    headline=${headline:-$last}
done
echo "bench_web: $headline (xargs -P20 -n50 curl -sL | rg -o = 1; lower is faster)"

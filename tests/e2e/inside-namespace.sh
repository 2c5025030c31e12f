#!/usr/bin/env bash
# Runs inside the private namespace: loopback up, our hosts file, a test CA that only this namespace trusts,
# nginx with the secure sites and an https judge on 127.0.0.3, real proxies for the check cases (tinyproxy,
# microsocks, dante on 127.0.0.21 to 25; tinyproxy and microsocks that want a password on 127.0.0.31 and 32), country and ASN databases of their addresses, then the suite, which serves the fake web on
# port 80 itself.
# The suite gets the test CA's certificate file as SIEVRA_E2E_CA and the databases' folder as SIEVRA_E2E_GEOIP.
set -euo pipefail
suite=$1
hosts=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)

run=$(mktemp -d -t sievra-e2e.XXXXXX)
nginx_pid=""
proxy_pids=()
certs_mounted=""
geo_mounted=()
cleanup() {
    for pid in $nginx_pid "${proxy_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    [ -z "$certs_mounted" ] || umount /etc/ssl/certs 2>/dev/null || true
    for folder in "${geo_mounted[@]}"; do
        umount "$folder" 2>/dev/null || true
    done
    rm -rf "$run"
}
trap cleanup EXIT
# Without these an interrupted run would skip the clean-up.
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

ip link set lo up
mount --bind "$hosts" /etc/hosts

# openssl's chatter only when it fails.
quietly() {
    "$@" 2>>"$run/openssl.log" || { cat "$run/openssl.log" >&2; return 1; }
}

# Fresh keys every run, valid for a few days: nothing to renew, nothing secret in the repository.
cat >"$run/openssl.cnf" <<'EOF'
[req]
distinguished_name = subject
prompt = no
[subject]
[ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[secure]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
subjectAltName = DNS:www.secureproxies.com
[selfsigned]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
subjectAltName = DNS:www.selfsignedproxies.com
EOF
make_ca() { # file name, common name
    quietly openssl req -x509 -config "$run/openssl.cnf" -extensions ca -newkey rsa:2048 -nodes -days 4 \
        -subj "/CN=$2" -keyout "$run/$1.key" -out "$run/$1.crt"
}
make_server_cert() { # file name, host, CA file name
    quietly openssl req -new -config "$run/openssl.cnf" -newkey rsa:2048 -nodes -subj "/CN=$2" \
        -keyout "$run/$1.key" -out "$run/$1.csr"
    quietly openssl x509 -req -in "$run/$1.csr" -CA "$run/$3.crt" -CAkey "$run/$3.key" \
        -set_serial "0x$(openssl rand -hex 8)" -days 3 -extfile "$run/openssl.cnf" -extensions "$1" \
        -out "$run/$1.crt"
}
make_ca ca "Sievra Test CA"
make_ca untrusted-ca "Untrusted Test CA"
make_server_cert secure www.secureproxies.com ca
make_server_cert selfsigned www.selfsignedproxies.com untrusted-ca

# The test CA and nothing else, both as the bundle file and by hashed name: OpenSSL (Qt's backend, curl)
# looks in /etc/ssl/certs both ways.
mkdir "$run/trust"
cp "$run/ca.crt" "$run/trust/ca-certificates.crt"
quietly openssl rehash "$run/trust"
mount --bind "$run/trust" /etc/ssl/certs
certs_mounted=yes
export SIEVRA_E2E_CA="$run/ca.crt"

# 80 MB of one proxy line over and over, gzip-compressed to a few hundred kB: served as a page's encoding, it
# inflates past the page limit.
{ yes 10.5.0.1:8080 || true; } | head -c $((80 * 1024 * 1024)) | gzip -9 >"$run/inflating.gz"
export SIEVRA_E2E_NGINX_LOG="$run/access.log"

sed -e "s|@RUN@|$run|g" -e "s|@SITES@|$here/secure-sites|g" "$here/nginx.conf" >"$run/nginx.conf"
# Killed with this script even when the script itself is killed and cannot clean up.
setpriv --pdeathsig KILL nginx -p "$run/" -c "$run/nginx.conf" -e "$run/error.log" &
nginx_pid=$!
# Every listener is bound before nginx serves any, so one answering port means all are up.
for try in $(seq 100); do
    if ! kill -0 "$nginx_pid" 2>/dev/null; then
        echo "end-to-end suite: nginx did not start:" >&2
        cat "$run/error.log" >&2 || true
        exit 1
    fi
    if (: <>/dev/tcp/127.0.0.3/443) 2>/dev/null; then
        break
    fi
    [ "$try" -lt 100 ] || { echo "end-to-end suite: nginx is not listening on 127.0.0.3:443." >&2; exit 1; }
    sleep 0.1
done

# The proxies, each killed with this script like nginx, and waited for until it listens.
start_proxy() { # address, port, command...
    local address=$1 port=$2
    shift 2
    setpriv --pdeathsig KILL "$@" >>"$run/proxies.log" 2>&1 &
    proxy_pids+=($!)
    for try in $(seq 100); do
        if (: <>"/dev/tcp/$address/$port") 2>/dev/null; then
            return 0
        fi
        sleep 0.1
    done
    echo "end-to-end suite: $1 is not listening on $address:$port:" >&2
    cat "$run/proxies.log" >&2
    exit 1
}
for name in via forwarded hidden login; do
    address=$(sed -n 's/^Listen //p' "$here/proxies/tinyproxy-$name.conf")
    start_proxy "$address" 8888 tinyproxy -d -c "$here/proxies/tinyproxy-$name.conf"
done
start_proxy 127.0.0.24 1080 microsocks -i 127.0.0.24 -p 1080 -b 127.0.0.44
# Only with a user name and password, a password that holds ":" and "@"; never -1, which would let an address in
# without them once it has logged in.
start_proxy 127.0.0.32 1080 microsocks -i 127.0.0.32 -p 1080 -b 127.0.0.52 -u ann -P 'p:a@ss' 
start_proxy 127.0.0.25 1080 danted -f "$here/proxies/danted.conf" -p "$run/danted.pid"

# The databases, written with Debian's libmaxmind-db-writer-perl and read back with mmdblookup: a writer that left
# out loopback would leave every place of the suite empty. Named as the usual places name theirs, beside a file
# that is no database and one of another type, which a search of a folder passes over.
geo="$run/geo"
mkdir "$geo"
perl "$here/../support/write-mmdb.pl" GeoLite2-Country "$geo/GeoLite2-Country.mmdb" <"$here/geo/networks.tsv"
perl "$here/../support/write-mmdb.pl" "DBIP-ASN-Lite (compat=GeoLite2-ASN)" "$geo/dbip-asn-lite.mmdb" \
    <"$here/geo/networks.tsv"
perl "$here/../support/write-mmdb.pl" GeoIP2-Anonymous-IP "$geo/GeoIP2-Anonymous-IP.mmdb" <"$here/geo/networks.tsv"
echo "not a database" >"$geo/GeoLite2-City.mmdb"
if ! mmdblookup --file "$geo/GeoLite2-Country.mmdb" --ip 127.0.0.21 country iso_code | grep -q '"DE"' ||
    ! mmdblookup --file "$geo/dbip-asn-lite.mmdb" --ip 127.0.0.45 autonomous_system_number | grep -q 64514; then
    echo "end-to-end suite: the test databases do not hold the suite's addresses." >&2
    exit 1
fi
export SIEVRA_E2E_GEOIP="$geo"
# The machine's own databases never reach a test: an empty folder over each usual place. A place that is not there
# is made, as the databases' own package would make it, and left: removed after the run, it would be gone from
# under another run that mounts over it at the same time.
mkdir "$run/no-geoip"
for folder in /usr/share/GeoIP /var/lib/GeoIP; do
    mkdir -p "$folder"
    mount --bind "$run/no-geoip" "$folder"
    geo_mounted+=("$folder")
done

status=0
QT_QPA_PLATFORM=offscreen "$suite" "$@" || status=$?
exit "$status"

#!/usr/bin/env bash
# Compares bench/http/fetch with curl against nginx on loopback, in the same
# run: one 200 MB body, 1000 sequential 1 KB GETs on one kept-alive connection,
# and a 10 MB chunked body; then the first two over TLS, with a certificate
# from an authority made here, which fetch trusts through SSL_CERT_FILE (and
# verifies as a page check does) and curl through --cacert. Then what a page
# check adds: a 10 MB HTML page sent gzip-compressed, fetched and decoded
# beside curl --compressed; and a run over 300 unchanged 100 KB pages with
# their validators (304s) beside the same run without them.
# Usage: run.sh RELEASE_BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: run.sh RELEASE_BUILD_DIR}" && pwd)
fetch="$build/bench/http/fetch"
nginx=/usr/sbin/nginx
[ -x "$fetch" ] || { echo "http bench: $fetch is missing (configure with -DVEILEX_BUILD_BENCH=ON)"; exit 1; }
[ -x "$nginx" ] || { echo "http bench: nginx-light is missing (scripts/install-deps)"; exit 1; }
command -v curl >/dev/null || { echo "http bench: curl is missing (scripts/install-deps)"; exit 1; }

work=$(mktemp -d /tmp/veilex-http-bench-XXXXXX)
chmod 755 "$work"
nginx_pid=""
cleanup() {
  if [ -n "$nginx_pid" ]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/www/chunked" "$work/www/gz" "$work/www/cond" "$work/tmp"
head -c $((200 * 1024 * 1024)) /dev/urandom > "$work/www/big.bin"
head -c 1024 /dev/urandom > "$work/www/small.bin"
head -c $((10 * 1024 * 1024)) /dev/urandom > "$work/www/chunked/ten.html"
# HTML that compresses as pages do (about 4 to 1): base64 text in tags. The
# pipes are cut short by head on purpose.
set +o pipefail
head -c $((7500 * 1024)) /dev/urandom | base64 -w 76 | sed 's|.*|<p class="x">&</p>|' | head -c $((10 * 1024 * 1024)) \
  > "$work/www/gz/ten.html"
for i in $(seq 0 299); do
  head -c $((75 * 1024)) /dev/urandom | base64 -w 100 | head -c $((100 * 1024)) > "$work/www/cond/p$(printf %03d "$i").html"
done
set -o pipefail
chmod -R a+rX "$work/www"

# A test authority and a certificate it signed for 127.0.0.1.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "/CN=Veilex Bench CA" \
  -days 2 -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
  -keyout "$work/ca.key" -out "$work/ca.pem" 2>/dev/null
openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "/CN=127.0.0.1" \
  -keyout "$work/server.key" -out "$work/server.csr" 2>/dev/null
printf 'subjectAltName=IP:127.0.0.1\n' > "$work/server.ext"
openssl x509 -req -in "$work/server.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial \
  -days 2 -extfile "$work/server.ext" -out "$work/server.pem" 2>/dev/null
chmod a+r "$work/server.pem" "$work/server.key"

# A free port: ask for one until nginx listens on it.
start_nginx() {
  local port=$1 tls_port=$(($1 + 1))
  cat > "$work/nginx.conf" <<CONF
worker_processes 1;
error_log $work/error.log;
pid $work/nginx.pid;
events { worker_connections 64; }
http {
  access_log off;
  log_format sent '\$bytes_sent';
  types { text/html html; }
  sendfile on;
  keepalive_requests 100000;
  client_body_temp_path $work/tmp/body;
  proxy_temp_path $work/tmp/proxy;
  fastcgi_temp_path $work/tmp/fastcgi;
  uwsgi_temp_path $work/tmp/uwsgi;
  scgi_temp_path $work/tmp/scgi;
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:$port;
    listen 127.0.0.1:$tls_port ssl;
    ssl_certificate $work/server.pem;
    ssl_certificate_key $work/server.key;
    root $work/www;
    # Server-side includes make the length unknown: the body goes chunked.
    location /chunked/ { ssi on; ssi_types *; }
    location /gz/ { gzip on; gzip_comp_level 1; }
    location /cond/ { access_log $work/cond.log sent; }
  }
}
CONF
  "$nginx" -p "$work" -e "$work/error.log" -c "$work/nginx.conf" -g 'daemon off;' &
  nginx_pid=$!
  for _ in $(seq 100); do
    if curl -s -o /dev/null "http://127.0.0.1:$port/small.bin" &&
       curl -s --cacert "$work/ca.pem" -o /dev/null "https://127.0.0.1:$tls_port/small.bin"; then
      return 0
    fi
    kill -0 "$nginx_pid" 2>/dev/null || { nginx_pid=""; return 1; }
    sleep 0.05
  done
  return 1
}
port=""
for _ in 1 2 3 4 5; do
  candidate=$((20000 + RANDOM % 40000))
  if start_nginx "$candidate"; then port=$candidate; break; fi
done
[ -n "$port" ] || { echo "http bench: nginx would not start"; cat "$work/error.log"; exit 1; }
base="http://127.0.0.1:$port"
tls_base="https://127.0.0.1:$((port + 1))"

for _ in $(seq 1000); do printf 'url = "%s/small.bin"\noutput = "/dev/null"\n' "$base"; done > "$work/curl-1000.conf"
for _ in $(seq 1000); do printf 'url = "%s/small.bin"\noutput = "/dev/null"\n' "$tls_base"; done \
  > "$work/curl-1000-tls.conf"

seconds() { # runs "$@" quietly and prints the wall-clock seconds
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.4f", e - s }' 
}

compare() { # label, fetch arguments..., --, curl arguments...
  local label=$1; shift
  local fetch_args=() curl_args=()
  while [ "$1" != "--" ]; do fetch_args+=("$1"); shift; done
  shift
  curl_args=("$@")
  # One warm-up each, then the best of three.
  "$fetch" "${fetch_args[@]}" > /dev/null
  curl -s "${curl_args[@]}" > /dev/null
  local best_fetch=999 best_curl=999 t
  for _ in 1 2 3; do
    t=$(seconds "$fetch" "${fetch_args[@]}")
    best_fetch=$(awk -v a="$t" -v b="$best_fetch" 'BEGIN { print (a < b) ? a : b }')
    t=$(seconds curl -s "${curl_args[@]}")
    best_curl=$(awk -v a="$t" -v b="$best_curl" 'BEGIN { print (a < b) ? a : b }')
  done
  printf '%-34s fetch %7.3f s   curl %7.3f s   ratio %5.2f (goal <= 1.30)\n' "$label" \
    "$best_fetch" "$best_curl" "$(awk -v a="$best_fetch" -v b="$best_curl" 'BEGIN { print a / b }')"
}

echo "http: GET against nginx on 127.0.0.1 (best of 3)"
compare "one 200 MB body" "$base/big.bin" 1 -- -o /dev/null "$base/big.bin"
compare "1000 x 1 KB on one connection" "$base/small.bin" 1000 -- -K "$work/curl-1000.conf"
compare "one 10 MB chunked body" "$base/chunked/ten.html" 1 -- -o /dev/null "$base/chunked/ten.html"
# The application keeps each body in memory: the same 200 MB body as the
# string Get returns, beside curl writing it to a file in memory.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  shm=$(mktemp /dev/shm/veilex-http-bench-XXXXXX)
  compare "one 200 MB body kept in memory" "$base/big.bin" 1 --string -- -o "$shm" "$base/big.bin"
  rm -f "$shm"
fi

echo "https: GET against nginx over TLS on 127.0.0.1, certificate verified by both (best of 3)"
export SSL_CERT_FILE="$work/ca.pem"
compare "TLS: one 200 MB body" "$tls_base/big.bin" 1 -- --cacert "$work/ca.pem" -o /dev/null "$tls_base/big.bin"
compare "TLS: 1000 x 1 KB on one connection" "$tls_base/small.bin" 1000 -- --cacert "$work/ca.pem" \
  -K "$work/curl-1000-tls.conf"

echo "page checks: compression and conditional requests against nginx on 127.0.0.1"
compare "10 MB gzip HTML, fetched+decoded" "$base/gz/ten.html" 1 --page -- --compressed -o /dev/null \
  "$base/gz/ten.html"

conditional="$build/bench/http/conditional"
mkdir -p "$work/data"
sent() { awk '{ s += $1 } END { printf "%d", s }' "$work/cond.log" 2>/dev/null || echo 0; }
run_phase() { # phase: prints seconds and bytes sent by nginx for it
  local before after line
  before=$(sent)
  line=$("$conditional" "$work/data" "$base" "$1")
  after=$(sent)
  echo "${line%% *} $((after - before))"
}
read -r _ first_bytes <<< "$(run_phase first)"
best_again=999 best_plain=999 again_bytes=0
for _ in 1 2 3; do
  read -r t b <<< "$(run_phase again)"
  again_bytes=$b
  best_again=$(awk -v a="$t" -v b="$best_again" 'BEGIN { print (a < b) ? a : b }')
  read -r t _ <<< "$(run_phase plain)"
  best_plain=$(awk -v a="$t" -v b="$best_plain" 'BEGIN { print (a < b) ? a : b }')
done
printf '%-34s again %7d B   first %9d B   ratio %5.3f (goal <= 0.05)\n' "300 x 100 KB unchanged: bytes" \
  "$again_bytes" "$first_bytes" "$(awk -v a="$again_bytes" -v b="$first_bytes" 'BEGIN { print a / b }')"
printf '%-34s again %7.3f s   plain %7.3f s   ratio %5.2f (goal <= 0.70)\n' "300 x 100 KB unchanged: time" \
  "$best_again" "$best_plain" "$(awk -v a="$best_again" -v b="$best_plain" 'BEGIN { print a / b }')"

#!/usr/bin/env bash
# How fast tovksrv is next to nginx and lighttpd, on loopback, in one run.
#
#   sudo bench/run.sh
#
# On a fresh Debian 12 machine as root it installs what it needs (the build
# packages of scripts/install-deps.sh, nginx, lighttpd, wrk, ab, strace),
# builds tovksrv in Release when it is missing, makes the same files for
# every server in a temporary directory, runs each server under its own
# configuration on its own 127.0.0.1 port, measures, stops them all and
# prints one table. nginx and lighttpd are never left running as system
# services. The whole run takes about 7 minutes.
#
# The servers (names for TOVK_BENCH_SERVERS):
#   tovksrv         the build in TOVK_BENCH_BUILD
#   tovksrv-before  a second build of tovksrv, from TOVK_BENCH_BEFORE_BUILD
#                   (say the code before a change), in a column of its own:
#                   the ratio column tovksrv/tovksrv-before is after/before
#   nginx, lighttpd the Debian packages, under configurations made here
#   thread-limit    bench/thread_limit.c, built here with gcc -O2: about a
#                   hundred lines of C that start a detached thread for each
#                   connection, read the request head in one buffered loop,
#                   answer with sendfile and log with one write. It is the
#                   least any thread-per-connection server can do, so it
#                   shows how far tovksrv's design (a thread per connection)
#                   could go at best. It serves static files only: its
#                   listing and CGI rows are n/a.
#
# Settings (environment):
#   TOVK_BENCH_SERVERS  servers to measure, first one is "ours"; every other
#                       one gets a ratio column "ours/other"
#                       (default "tovksrv nginx lighttpd thread-limit")
#   TOVK_BENCH_SECONDS  length of each load run (default 5)
#   TOVK_BENCH_ROUNDS   how many times every server is measured (default 1).
#                       The machine's speed drifts over minutes (other guests,
#                       frequency), and each server is measured in a block of
#                       its own, so one round can favour whoever ran at a good
#                       moment. With more rounds the servers take turns, the
#                       order reversed every other round, and the table shows
#                       each figure's median.
#   TOVK_BENCH_BUILD    build directory (default build-bench beside bench/);
#                       thread-limit is built into its bench/ folder
#   TOVK_BENCH_BEFORE_BUILD  build directory of tovksrv-before (no default;
#                       needs bin/tovksrv, bin/tovksc and bin/tovkreg; it is
#                       used as it is, never built here). To compare two
#                       commits: build the older one in Release elsewhere
#                       (git worktree add ../before <commit>, then the cmake
#                       and ninja lines of build_tovksrv below), then
#                         TOVK_BENCH_SERVERS="tovksrv tovksrv-before nginx lighttpd thread-limit"
#                         TOVK_BENCH_BEFORE_BUILD=../before/build-bench bench/run.sh
#   TOVK_BENCH_OUT      where the table is copied (default /tmp/tovk-bench.txt)
#   TOVK_BENCH_KEEP     1: keep the temporary directory (strace summaries,
#                       wrk and ab outputs, the servers' logs)
#
# The figures:
#   - 1 KiB file with keep-alive: wrk (HTTP/1.1 clients) with the header
#     "Connection: Keep-Alive", which tovksrv needs to keep a connection
#     (it answers HTTP/1.0); 1, 16 and 64 connections; requests/s and the
#     latency percentiles p50, p90, p99.
#   - 1 KiB file without keep-alive: ab (HTTP/1.0, a new connection for every
#     request), same connection counts and figures.
#   - 10 MiB file: wrk with keep-alive, 1 and 4 connections, MiB/s.
#   - CGI (a /bin/sh script printing a header and a line) and the listing of a
#     directory of 50 entries: wrk with keep-alive, 16 connections. nginx has
#     no CGI: n/a.
#   - Memory: RSS of the server (all its processes) after start, and the RSS
#     growth per connection for 200 open connections that send nothing,
#     measured 2 s after they are open (tovksrv drops an idle connection
#     after 15 s).
#   - System calls per request without keep-alive: strace -c -f attached to
#     every process of the server and all their threads (nginx's master and
#     workers; new threads and processes are followed), while ab -c 1 makes
#     500 HTTP/1.0 requests for the 1 KiB file, each on a new connection.
#     All calls counted while ab runs, divided by the completed requests;
#     the note under the table gives each call's share per request.
#     Under strace a server runs many times slower, so this step comes
#     before the load runs and its rates are not kept.
# Every server logs its accesses to a file, as tovksrv always does.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/.." && pwd)
SERVERS=${TOVK_BENCH_SERVERS:-"tovksrv nginx lighttpd thread-limit"}
SECONDS_PER_RUN=${TOVK_BENCH_SECONDS:-5}
ROUNDS=${TOVK_BENCH_ROUNDS:-1}
BUILD=${TOVK_BENCH_BUILD:-$ROOT/build-bench}
BEFORE_BUILD=${TOVK_BENCH_BEFORE_BUILD:-}
OUT=${TOVK_BENCH_OUT:-/tmp/tovk-bench.txt}
IDLE_CONNECTIONS=200
# Enough new connections that a server's start-up and idle calls are lost in
# the count, few enough that the run takes seconds under strace.
SYSCALL_REQUESTS=500
KA_HEADER="Connection: Keep-Alive"

say() { echo "bench: $*" >&2; }

if [ "$(id -u)" -ne 0 ]; then
  echo "bench/run.sh must run as root (it installs packages)" >&2
  exit 1
fi

# --- packages ----------------------------------------------------------------
install_packages() {
  "$ROOT/scripts/install-deps.sh"
  local wanted=(nginx lighttpd wrk apache2-utils python3 curl procps strace gcc) missing=()
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    apt-get install -y --no-install-recommends "${missing[@]}"
  fi
  # The packages start their servers as system services; ours run under
  # their own configurations only.
  for service in nginx lighttpd; do
    if command -v systemctl >/dev/null 2>&1 && [ -d /run/systemd/system ]; then
      systemctl disable --now "$service" >/dev/null 2>&1 || true
    else
      service "$service" stop >/dev/null 2>&1 || true
      update-rc.d "$service" disable >/dev/null 2>&1 || true
    fi
  done
}

# --- tovksrv build -----------------------------------------------------------
build_tovksrv() {
  if has_tovk_binaries "$BUILD" && [ "${TOVK_BENCH_REBUILD:-0}" != 1 ]; then
    return
  fi
  say "building tovksrv (Release) in $BUILD"
  # g++ 12 at -O3 reports warnings that -O2 does not (a false -Wrestrict
  # inside std::string, GCC bug 105329, and -Wformat-truncation guesses);
  # they stay warnings in this build.
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    "-DCMAKE_CXX_FLAGS=-Wno-error=restrict -Wno-error=format-truncation" >/dev/null
  ninja -C "$BUILD" -j2 tovksrv tovksc tovkreg >/dev/null
}

has_tovk_binaries() {  # build-dir
  [ -x "$1/bin/tovksrv" ] && [ -x "$1/bin/tovksc" ] && [ -x "$1/bin/tovkreg" ]
}

build_thread_limit() {
  mkdir -p "$BUILD/bench"
  gcc -O2 -pthread -Wall -Wextra -o "$BUILD/bench/thread-limit" "$HERE/thread_limit.c"
}

# --- helpers -------------------------------------------------------------------
free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

wait_port() {  # port: waits up to 20 s until it accepts
  local i
  for i in $(seq 1 200); do
    if python3 -c "import socket,sys; s=socket.socket(); s.settimeout(0.2); sys.exit(s.connect_ex(('127.0.0.1',$1)))" 2>/dev/null; then
      return 0
    fi
    sleep 0.1
  done
  return 1
}

to_ms() {  # "45.12us" / "1.20ms" / "1.01s" -> milliseconds
  awk -v v="$1" 'BEGIN {
    n = v + 0
    if (v ~ /us$/) n = n / 1000
    else if (v ~ /ms$/) n = n
    else if (v ~ /m$/) n = n * 60000
    else if (v ~ /s$/) n = n * 1000
    printf "%.4f", n }'
}

to_mib() {  # "1.20GB" / "850.3MB" / "12KB" -> MiB (wrk counts in 1024s)
  awk -v v="$1" 'BEGIN {
    n = v + 0
    if (v ~ /GB$/) n = n * 1024
    else if (v ~ /MB$/) n = n
    else if (v ~ /KB$/) n = n / 1024
    else if (v ~ /B$/) n = n / 1048576
    printf "%.2f", n }'
}

record() {  # name unit kind server value [note]
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$1" "$2" "$3" "$4" "$5" "${6:-}" >>"$RESULTS"
}

# Checks a URL once and says what is wrong with it, or nothing.
check_url() {  # url expected-bytes(or -)
  local got
  got=$(curl -s -o /dev/null -m 5 -w '%{http_code} %{size_download}' "$1" || true)
  local code=${got%% *} size=${got##* }
  if [ "$code" != 200 ]; then echo "status $code"; return; fi
  if [ "$2" != - ] && [ "$size" != "$2" ]; then echo "size $size"; fi
}

# wrk with the keep-alive header: records rate and percentiles.
run_wrk() {  # server label connections url [extra-kinds]
  local server=$1 label=$2 c=$3 url=$4 what=${5:-latency}
  local t=$(( c < 2 ? c : 2 ))
  local log="$WORK/wrk-$server-${label// /_}-$c.txt"
  wrk -t "$t" -c "$c" -d "${SECONDS_PER_RUN}s" --timeout 5s --latency -H "$KA_HEADER" "$url" >"$log" 2>&1 || true
  local rate note=""
  rate=$(awk '/^Requests\/sec:/ {print $2}' "$log")
  [ -n "$rate" ] || { note="wrk failed"; rate=n/a; }
  local errors non2xx
  errors=$(awk '/Socket errors:/ {sub(/.*Socket errors: /, ""); print}' "$log")
  non2xx=$(awk '/Non-2xx or 3xx responses:/ {print $NF}' "$log")
  [ -z "$errors" ] || note="socket errors: $errors"
  if [ -n "$non2xx" ] && [ "$rate" != n/a ]; then
    # Only answers that carry the content count (lighttpd answers 503 while
    # too many listings of one directory are under way).
    local total
    total=$(awk '/ requests in / {print $1}' "$log")
    note="$note non-2xx: $non2xx of $total, rate counts the 2xx only"
    rate=$(awk -v r="$rate" -v t="$total" -v n="$non2xx" 'BEGIN {printf "%.2f", r * (t - n) / t}')
  fi
  if [ "$what" = throughput ]; then
    local transfer
    transfer=$(awk '/^Transfer\/sec:/ {print $2}' "$log")
    record "$label, c=$c" "MiB/s" rate "$server" "$( [ -n "$transfer" ] && to_mib "$transfer" || echo n/a)" "$note"
    return
  fi
  record "$label, c=$c: requests" "req/s" rate "$server" "$rate" "$note"
  local p
  for p in 50 90 99; do
    local v
    v=$(awk -v p="$p%" '$1 == p {print $2}' "$log")
    record "$label, c=$c: p$p" "ms" cost "$server" "$( [ -n "$v" ] && to_ms "$v" || echo n/a)"
  done
  # The slowest request shows steps (a retried connection, a timer) that
  # the percentiles can hide.
  local max
  max=$(awk '$1 == "Latency" {print $4; exit}' "$log")
  record "$label, c=$c: max" "ms" cost "$server" "$( [ -n "$max" ] && to_ms "$max" || echo n/a)"
}

# ab (HTTP/1.0, no keep-alive): records rate and percentiles.
run_ab() {  # server label connections url
  local server=$1 label=$2 c=$3 url=$4
  local log="$WORK/ab-$server-$c.txt" csv="$WORK/ab-$server-$c.csv"
  # -n is only an upper bound: -t ends the run.
  ab -q -c "$c" -t "$SECONDS_PER_RUN" -n 5000000 -s 5 -e "$csv" "$url" >"$log" 2>&1 || true
  local rate note=""
  rate=$(awk '/^Requests per second:/ {print $4}' "$log")
  [ -n "$rate" ] || { note="ab failed: $(tail -1 "$log")"; rate=n/a; }
  local failed non2xx
  failed=$(awk '/^Failed requests:/ {print $3}' "$log")
  non2xx=$(awk '/^Non-2xx responses:/ {print $3}' "$log")
  [ "${failed:-0}" = 0 ] || note="failed requests: $failed"
  [ -z "$non2xx" ] || note="$note non-2xx: $non2xx"
  record "$label, c=$c: requests" "req/s" rate "$server" "$rate" "$note"
  local p
  for p in 50 90 99; do
    local v=""
    [ -f "$csv" ] && v=$(awk -F, -v p="$p" '$1 == p {print $2}' "$csv")
    record "$label, c=$c: p$p" "ms" cost "$server" "${v:-n/a}"
  done
  local max=""
  [ -f "$csv" ] && max=$(awk -F, '$1 == 100 {print $2}' "$csv")
  record "$label, c=$c: max" "ms" cost "$server" "${max:-n/a}"
}

# --- the files every server serves ----------------------------------------------
make_site() {
  local www=$WORK/www
  mkdir -p "$www/list" "$www/cgi"
  head -c 1024 /dev/zero | tr '\0' 'a' >"$www/1k.html"
  head -c $((10 * 1024 * 1024)) /dev/urandom >"$www/10m.bin"
  local i
  for i in $(seq -w 1 50); do echo "entry $i" >"$www/list/entry$i.txt"; done
  cat >"$www/cgi/hello.cgi" <<'EOF'
#!/bin/sh
printf 'Content-Type: text/plain\r\n\r\n'
echo "hello from cgi"
EOF
  chmod 755 "$www/cgi/hello.cgi"
  # tovksrv runs programs only where the access file allows it.
  printf '[ostatni]\r\nspoustet=1\r\n' >"$www/cgi/http.aut"
  chmod -R a+rX "$WORK"
}

# --- servers: start_<name> sets PORT and PIDS; stop_<name> ends it ----------------
win_path() { printf '%s' "$1" | tr '/' '\\'; }
reg_escape() { printf '%s' "$1" | sed 's/\\/\\\\/g; s/"/\\"/g'; }

# Each tovksrv runs with its own registry, unit and log directories.
start_tovk() {  # name build-dir
  local name=$1 build=$2
  PORT=$(free_port)
  local dir=$WORK/$name
  mkdir -p "$dir/units" "$dir/run" "$dir/logs" "$dir/c"
  export TOVK_REGISTRY=$dir/registry.db TOVK_UNIT_DIR=$dir/units TOVK_RUN_DIR=$dir/run
  export TOVK_DRIVE_C=$dir/c
  local root logs
  root=$(reg_escape "$(win_path "$WORK/www")\\")
  logs=$(reg_escape "$(win_path "$dir/logs")\\")
  cat >"$dir/bench.reg" <<EOF
REGEDIT4

[HKEY_LOCAL_MACHINE\\software\\Kestrane\\WWW Server]
"Port"=dword:$(printf '%08x' "$PORT")
"DefaultHTML"="index.html"
"ProtFile"="$logs"
"SSLon"=dword:00000000
"NewLogFile"=dword:00000000
"KeepAlive"=dword:00000001
"MIME num"=dword:00000003
"MIME 1"="html,text/html"
"MIME 2"="txt,text/plain"
"MIME 3"="bin,application/octet-stream"
"Alias num"=dword:00000001
"Alias 1"="* (HTTP),/,$root"
"App num"=dword:00000001
"App 1"="cgi,TOVK/EXEC"
"Virt num"=dword:00000001
"Virt 1"="*,HTTP"
EOF
  "$build/bin/tovkreg" import "$dir/bench.reg"
  "$build/bin/tovksrv" /I >"$dir/install.txt" 2>&1
  "$build/bin/tovksc" run tovk >"$dir/tovksc.out" 2>&1 &
  TOVKSC_PID=$!
  wait_port "$PORT" || { say "$name did not start: $(cat "$dir/tovksc.out")"; return 1; }
  PIDS=$(pgrep -P "$TOVKSC_PID" | head -1)
}

start_tovksrv() { start_tovk tovksrv "$BUILD"; }
start_tovksrv_before() { start_tovk tovksrv-before "$BEFORE_BUILD"; }
stop_tovksrv_before() { stop_tovksrv; }

stop_tovksrv() {
  kill -TERM "${TOVKSC_PID:-}" 2>/dev/null || true
  wait "${TOVKSC_PID:-}" 2>/dev/null || true
  unset TOVK_REGISTRY TOVK_UNIT_DIR TOVK_RUN_DIR TOVK_DRIVE_C
}

start_nginx() {
  PORT=$(free_port)
  local dir=$WORK/nginx
  mkdir -p "$dir/tmp"
  cat >"$dir/nginx.conf" <<EOF
worker_processes auto;
daemon off;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 1024; }
http {
  include /etc/nginx/mime.types;
  default_type application/octet-stream;
  types { application/octet-stream bin; }
  access_log $dir/access.log;
  client_body_temp_path $dir/tmp/body;
  proxy_temp_path $dir/tmp/proxy;
  fastcgi_temp_path $dir/tmp/fastcgi;
  uwsgi_temp_path $dir/tmp/uwsgi;
  scgi_temp_path $dir/tmp/scgi;
  sendfile on;
  tcp_nopush on;
  keepalive_timeout 65;
  server {
    listen 127.0.0.1:$PORT;
    root $WORK/www;
    autoindex on;
  }
}
EOF
  nginx -c "$dir/nginx.conf" -p "$dir" >"$dir/out.txt" 2>&1 &
  NGINX_PID=$!
  wait_port "$PORT" || { say "nginx did not start: $(cat "$dir/out.txt" "$dir/error.log")"; return 1; }
  PIDS=$NGINX_PID
}

stop_nginx() {
  kill -QUIT "${NGINX_PID:-}" 2>/dev/null || true
  wait "${NGINX_PID:-}" 2>/dev/null || true
}

start_lighttpd() {
  PORT=$(free_port)
  local dir=$WORK/lighttpd
  mkdir -p "$dir"
  chown www-data "$dir"
  cat >"$dir/lighttpd.conf" <<EOF
server.modules = ("mod_accesslog", "mod_cgi", "mod_dirlisting")
server.document-root = "$WORK/www"
server.bind = "127.0.0.1"
server.port = $PORT
server.username = "www-data"
server.groupname = "www-data"
server.errorlog = "$dir/error.log"
accesslog.filename = "$dir/access.log"
index-file.names = ("index.html")
dir-listing.activate = "enable"
cgi.assign = (".cgi" => "")
mimetype.assign = (".html" => "text/html", ".txt" => "text/plain",
                   ".bin" => "application/octet-stream")
EOF
  lighttpd -D -f "$dir/lighttpd.conf" >"$dir/out.txt" 2>&1 &
  LIGHTTPD_PID=$!
  wait_port "$PORT" || { say "lighttpd did not start: $(cat "$dir/out.txt")"; return 1; }
  PIDS=$LIGHTTPD_PID
}

stop_lighttpd() {
  kill -TERM "${LIGHTTPD_PID:-}" 2>/dev/null || true
  wait "${LIGHTTPD_PID:-}" 2>/dev/null || true
}

start_thread_limit() {
  PORT=$(free_port)
  local dir=$WORK/thread-limit
  mkdir -p "$dir"
  "$BUILD/bench/thread-limit" "$PORT" "$WORK/www" "$dir/access.log" >"$dir/out.txt" 2>&1 &
  THREAD_LIMIT_PID=$!
  wait_port "$PORT" || { say "thread-limit did not start: $(cat "$dir/out.txt")"; return 1; }
  PIDS=$THREAD_LIMIT_PID
}

stop_thread_limit() {
  kill -TERM "${THREAD_LIMIT_PID:-}" 2>/dev/null || true
  wait "${THREAD_LIMIT_PID:-}" 2>/dev/null || true
}

# --- system calls per request ----------------------------------------------------------
process_tree() {  # pid: the pid and all its descendants' pids
  local t c
  echo "$1"
  for t in /proc/"$1"/task/*/children; do
    for c in $(cat "$t" 2>/dev/null); do process_tree "$c"; done
  done
}

all_traced() {  # pid...: every thread of every pid has a tracer
  local p t
  for p; do
    for t in /proc/"$p"/task/*/status; do
      grep -q '^TracerPid:[[:space:]]*0$' "$t" 2>/dev/null && return 1
    done
  done
  return 0
}

count_syscalls() {  # server url
  local s=$1 url=$2 label="system calls per request, no keep-alive"
  local summary=$WORK/strace-$s.txt log=$WORK/strace-ab-$s.txt
  local pids=() args=() p
  for p in $PIDS; do
    # shellcheck disable=SC2207
    pids+=($(process_tree "$p"))
  done
  for p in "${pids[@]}"; do args+=(-p "$p"); done
  strace -c -S calls -f -o "$summary" "${args[@]}" 2>"$WORK/strace-$s.err" &
  local tracer=$! i
  for i in $(seq 1 100); do all_traced "${pids[@]}" && break; sleep 0.1; done
  if ! all_traced "${pids[@]}"; then
    kill -INT "$tracer" 2>/dev/null || true
    wait "$tracer" 2>/dev/null || true
    record "$label" "calls/req" cost "$s" n/a "strace did not attach: $(head -c 200 "$WORK/strace-$s.err")"
    return
  fi
  ab -q -c 1 -n "$SYSCALL_REQUESTS" -s 10 "$url" >"$log" 2>&1 || true
  kill -INT "$tracer" 2>/dev/null || true
  wait "$tracer" 2>/dev/null || true
  local completed calls failed note=""
  completed=$(awk '/^Complete requests:/ {print $3}' "$log")
  failed=$(awk '/^Failed requests:/ {print $3}' "$log")
  # The summary, most frequent call first, ends in
  # "100.00 seconds usecs/call CALLS [errors] total".
  calls=$(awk '$NF == "total" {print $4}' "$summary" 2>/dev/null)
  if [ -z "$completed" ] || [ "$completed" = 0 ] || [ -z "$calls" ]; then
    record "$label" "calls/req" cost "$s" n/a "ab or strace failed: $(tail -1 "$log")"
    return
  fi
  [ "${failed:-0}" = 0 ] || note="failed requests: $failed; "
  note="$note$calls calls for $completed requests; per request:$(awk -v n="$completed" '
    /^-/ {body = !body; next}
    body && $NF != "total" && $4 / n >= 0.05 {printf " %s %.1f,", $NF, $4 / n}' "$summary")"
  record "$label" "calls/req" cost "$s" "$(awk -v c="$calls" -v n="$completed" 'BEGIN {printf "%.2f", c / n}')" "${note%,}"
}

# --- one server's figures ------------------------------------------------------------
measure() {  # server
  local s=$1
  local fn=${s//-/_}
  say "starting $s"
  if ! "start_$fn"; then
    record "start" "-" rate "$s" n/a "did not start"
    return
  fi
  local base="http://127.0.0.1:$PORT"
  # Memory first, while the server is fresh.
  local mem
  mem=$(python3 "$HERE/idle.py" "$PORT" "$IDLE_CONNECTIONS" 2 $PIDS)
  local before after connected alive
  read -r before after connected alive <<<"$mem"
  record "memory after start" "KiB" cost "$s" "$before"
  local note=""
  [ "$connected" = "$IDLE_CONNECTIONS" ] || note="only $connected of $IDLE_CONNECTIONS connected within 10 s"
  [ "$alive" = "$connected" ] || note="$note; $alive of $connected still open when measured"
  record "memory per idle connection" "KiB/conn" cost "$s" \
    "$(awk -v a="$after" -v b="$before" -v n="$connected" 'BEGIN {printf "%.2f", (n > 0 ? (a - b) / n : 0)}')" "$note"
  sleep 1

  local problem urls=("/1k.html 1024" "/10m.bin $((10 * 1024 * 1024))")
  # thread-limit serves files only; nginx runs no programs.
  local listing=1 cgi=1
  [ "$s" != thread-limit ] || listing=0
  [ "$s" != thread-limit ] && [ "$s" != nginx ] || cgi=0
  [ $listing = 0 ] || urls+=("/list/ -")
  [ $cgi = 0 ] || urls+=("/cgi/hello.cgi -")
  for url in "${urls[@]}"; do
    problem=$(check_url "$base${url% *}" "${url#* }")
    [ -z "$problem" ] || say "$s: ${url% *}: $problem"
  done

  say "$s: system calls, $SYSCALL_REQUESTS requests under strace"
  count_syscalls "$s" "$base/1k.html"
  sleep 1

  local c
  for c in 1 16 64; do
    say "$s: 1 KiB keep-alive c=$c"
    run_wrk "$s" "1 KiB file, keep-alive" "$c" "$base/1k.html"
  done
  for c in 1 16 64; do
    say "$s: 1 KiB no keep-alive c=$c"
    run_ab "$s" "1 KiB file, no keep-alive (ab)" "$c" "$base/1k.html"
  done
  for c in 1 4; do
    say "$s: 10 MiB c=$c"
    run_wrk "$s" "10 MiB file, keep-alive" "$c" "$base/10m.bin" throughput
  done
  if [ $cgi = 1 ]; then
    say "$s: CGI"
    run_wrk "$s" "CGI script" 16 "$base/cgi/hello.cgi"
  else
    record_na "$s" "CGI script" "runs no programs"
  fi
  if [ $listing = 1 ]; then
    say "$s: listing"
    run_wrk "$s" "listing of 50 entries" 16 "$base/list/"
  else
    record_na "$s" "listing of 50 entries" "makes no listings"
  fi
  "stop_$fn"
}

record_na() {  # server label note: the rows of a c=16 run the server cannot do
  record "$2, c=16: requests" "req/s" rate "$1" n/a "$1 $3"
  local p
  for p in p50 p99 max; do record "$2, c=16: $p" "ms" cost "$1" n/a; done
}

# --- main ------------------------------------------------------------------------------
case " $SERVERS " in *" tovksrv-before "*)
  if [ -z "$BEFORE_BUILD" ] || ! has_tovk_binaries "$BEFORE_BUILD"; then
    echo "tovksrv-before needs TOVK_BENCH_BEFORE_BUILD: a build directory with bin/tovksrv, bin/tovksc and bin/tovkreg" >&2
    exit 1
  fi ;;
esac
for s in $SERVERS; do
  case $s in
    tovksrv|tovksrv-before|nginx|lighttpd|thread-limit) ;;
    *) echo "unknown server '$s' in TOVK_BENCH_SERVERS" >&2; exit 1 ;;
  esac
done
install_packages
case " $SERVERS " in *" tovksrv "*) build_tovksrv ;; esac
case " $SERVERS " in *" thread-limit "*) build_thread_limit ;; esac

WORK=$(mktemp -d /tmp/tovk-bench.XXXXXX)
chmod 755 "$WORK"
RESULTS=$WORK/results.tsv
: >"$RESULTS"
cleanup() {
  for s in $SERVERS; do "stop_${s//-/_}" >/dev/null 2>&1 || true; done
  [ "${TOVK_BENCH_KEEP:-0}" = 1 ] && say "kept $WORK" || rm -rf "$WORK"
}
trap cleanup EXIT
make_site

START_LOAD=$(cut -d' ' -f1-3 /proc/loadavg)
ORDER=$SERVERS
for ((round = 1; round <= ROUNDS; round++)); do
  [ "$ROUNDS" = 1 ] || say "round $round of $ROUNDS"
  for s in $ORDER; do measure "$s"; done
  ORDER=$(printf '%s\n' $ORDER | tac | tr '\n' ' ')
done
END_LOAD=$(cut -d' ' -f1-3 /proc/loadavg)

# The CGI and listing rows keep p50, p99 and max.
grep -v -E '^(CGI script|listing of 50 entries), c=16: p90' "$RESULTS" >"$RESULTS.table"
{
  echo "tovk benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $(awk '/MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo)"
  echo "load average (1, 5, 15 min) before: $START_LOAD, after: $END_LOAD"
  echo "each load run: ${SECONDS_PER_RUN} s; rounds: $ROUNDS$([ "$ROUNDS" = 1 ] || echo ', each figure the median of the rounds'); versions: $(nginx -v 2>&1 | cut -d' ' -f3), $(lighttpd -v 2>&1 | cut -d' ' -f1), $(wrk -v 2>&1 | head -1 | cut -d' ' -f1-2)"
  echo
  # shellcheck disable=SC2086
  python3 "$HERE/table.py" "$RESULTS.table" $SERVERS
} | tee "$OUT"

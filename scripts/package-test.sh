#!/usr/bin/env bash
# End-to-end test of the Debian package on this machine, as root, where
# systemd does not run (tovksc manages the service): builds the package,
# installs it with apt, runs the service as the user tovk on ports 80 and 443,
# checks owners and modes, the unit, the manual pages, a reload, the log
# rotation, an upgrade in place, removal and purge, and that nothing is left.
#
# It needs ports 80 and 443 free and the package not installed; whatever
# happens, it stops and purges the package again before it ends.
set -euo pipefail
cd "$(dirname "$0")/.."
SOURCE=$PWD

[ "$(id -u)" -eq 0 ] || { echo "package-test.sh: run as root" >&2; exit 1; }
if [ -d /run/systemd/system ]; then
  echo "package-test.sh: systemd runs here; this test drives the service with tovksc" >&2
  exit 1
fi
if dpkg-query -W -f='${Status}' tovk 2>/dev/null | grep -q "ok installed\|config-files"; then
  echo "package-test.sh: the package tovk is already installed; purge it first" >&2
  exit 1
fi

# A started service answers within seconds; a reload waits for the restart
# timer (20 s with keep-alive) before the server starts again.
WAIT_STEPS=120  # of half a second
REG='HKLM\software\Kestrane\WWW Server'
# Other work on the machine may hold dpkg's lock for a while.
APT=(env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300)

TMP=$(mktemp -d)
SITE_EXISTED=no
[ -d /var/www/html ] && SITE_EXISTED=yes
TEST_DIR=/var/www/html/tovk-test

cleanup() {
  status=$?
  tovksc stop tovk >/dev/null 2>&1 || true
  rm -rf "$TEST_DIR"
  if dpkg-query -W tovk >/dev/null 2>&1; then
    "${APT[@]}" purge -y tovk >/dev/null 2>&1 || true
  fi
  rm -rf "$TMP"
  [ $status -eq 0 ] && echo "package-test.sh: all checks passed" || echo "package-test.sh: FAILED" >&2
  exit $status
}
trap cleanup EXIT

fail() {
  echo "package-test.sh: $*" >&2
  [ -f /run/tovk/tovk.log ] && tail -20 /run/tovk/tovk.log >&2
  [ -f /var/log/tovk/error.log ] && tail -20 /var/log/tovk/error.log >&2
  exit 1
}
check() {  # description, command...
  local what=$1
  shift
  "$@" || fail "$what"
}
mode_owner() {  # path, expected "mode user group"
  local found
  found=$(stat -c '%a %U %G' "$1") || fail "$1 is missing"
  [ "$found" = "$2" ] || fail "$1 is $found, expected $2"
}
# Waits until the command succeeds, within WAIT_STEPS.
wait_for() {
  local step
  for ((step = 0; step < WAIT_STEPS; step++)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.5
  done
  return 1
}
say() { echo "== $*"; }
fetch() { curl -sS --max-time 10 "$@"; }
status_of() { curl -s --max-time 10 -o /dev/null -w '%{http_code}' "$@"; }
port_free() { ! ss -Hltn "sport = :$1" | grep -q .; }

for port in 80 443; do
  port_free $port || fail "port $port is in use"
done

say "build, lint and install the package"
scripts/package.sh
DEB=$(ls -t build/tovk_*_amd64.deb | head -1)
# The clients and tools this test uses beside the package.
scripts/install-deps.sh logrotate iproute2 man-db systemd
"${APT[@]}" install -y "./$DEB"

say "what the installation made"
check "no user tovk" getent passwd tovk >/dev/null
check "no group tovk" getent group tovk >/dev/null
mode_owner /etc/tovk/key.pem "640 root tovk"
mode_owner /etc/tovk/.rnd "640 root tovk"
mode_owner /etc/tovk/cert.pem "644 root root"
mode_owner /var/lib/tovk "750 tovk tovk"
mode_owner /var/lib/tovk/registry.db "600 tovk tovk"
mode_owner /var/log/tovk "750 tovk adm"
check "the key and certificate do not match" \
  test "$(openssl x509 -in /etc/tovk/cert.pem -noout -pubkey)" = "$(openssl pkey -in /etc/tovk/key.pem -pubout)"
check "tovksrv does not find its key files" test -r /usr/lib/tovk/key.pem -a -d /usr/lib/tovk/errfiles
check "the default configuration was not imported" \
  sh -c "tovkreg query '$REG' /v ProtFile | grep -q /var/log/tovk/"
check "no default page" grep -q "tovk is installed" /var/www/html/index.html

# The packaged unit is what tovksrv /I writes on the installed system.
UNIT=/lib/systemd/system/tovk.service
out=$(systemd-analyze verify "$UNIT" 2>&1) || fail "systemd-analyze verify: $out"
[ -z "$out" ] || fail "systemd-analyze verify: $out"
mkdir "$TMP/units"
TOVK_UNIT_DIR="$TMP/units" NOTIFY_SOCKET= tovksrv /I >/dev/null
check "tovksrv /I writes another unit than the package's" diff "$UNIT" "$TMP/units/tovk.service"

for page in tovksrv.8 tovksc.8 tovkreg.8 tovkcontrol.1 http.aut.5; do
  name=${page%.*}
  out=$(MANWIDTH=80 man -P cat "${page##*.}" "$name" 2>&1) || fail "man $page: $out"
  echo "$out" | grep -q "^NAME" || fail "man $page shows no NAME section"
done

say "the service as tovk"
mkdir -p "$TEST_DIR"
printf '[ostatni]\nspoustet=1\n' >"$TEST_DIR/http.aut"
printf '#!/bin/sh\nprintf "Content-Type: text/plain\\r\\n\\r\\n"\nid\n' >"$TEST_DIR/id.cgi"
chmod 0755 "$TEST_DIR/id.cgi"

tovksc start tovk >/dev/null || fail "tovksc start tovk"
check "nothing answers on port 80" wait_for fetch -o /dev/null http://127.0.0.1/
page=$(fetch http://127.0.0.1/)
echo "$page" | grep -q "tovk is installed" || fail "the default page: $page"
cgi=$(fetch http://127.0.0.1/tovk-test/id.cgi)
echo "$cgi" | grep -q "uid=[0-9]*(tovk) gid=[0-9]*(tovk)" || fail "the CGI page runs as: $cgi"
pid=$(tovksc query tovk | sed -n 's/^ *PID *: //p')
check "the server does not run as tovk" test "$(ps -o user= -p "$pid")" = tovk
capabilities=$(sed -n 's/^CapEff:\t//p' "/proc/$pid/status")
[ "$capabilities" = 0000000000000400 ] || fail "the server has the capabilities $capabilities"
# Port 443 needs the capability and the key read through the group.
code=$(status_of -k https://127.0.0.1/)
[ "$code" != 000 ] || fail "nothing answers on port 443"

check "no access log" test -s /var/log/tovk/access.log
for log in /var/log/tovk/access.log /var/log/tovk/error.log; do
  found=$(stat -c '%U %a' "$log")
  case "$found" in
    "tovk 6"[04][04]) ;;
    *) fail "$log is $found: it must belong to tovk and be writable by it alone" ;;
  esac
done

say "the administration pages, and a reload"
# The administration pages, opened as the README says, over TLS with
# credentials; the service writes the registry from them.
digest=$(printf %s "$(printf %s admin:pkgtest | base64)" | md5sum | cut -c1-32 | tr a-f A-F)
sed -i "s/^\*\.\*=LOCKED$/*.*=$digest/" /etc/tovk/admin.aut
tovkreg add "$REG" /v "Alias 2" /d "* (HTTPS),/admin/,/usr/share/tovk/admin-www/" /f >/dev/null
tovkreg add "$REG" /v "Alias num" /t REG_DWORD /d 2 /f >/dev/null
tovksc reload tovk || fail "tovksc reload tovk"
admin_open() { [ "$(status_of -k -u admin:pkgtest https://127.0.0.1/admin/)" = 200 ]; }
check "the administration pages did not open after the reload" wait_for admin_open
check "the server stopped answering after the reload" fetch -o /dev/null http://127.0.0.1/
code=$(status_of -k https://127.0.0.1/admin/)
[ "$code" = 401 ] || fail "the administration pages without credentials answered $code"
code=$(status_of http://127.0.0.1/admin/)
[ "$code" = 404 ] || fail "the administration pages over plain HTTP answered $code"
# A change is sent as the page's own form sends it, with the form's token.
page=$(fetch -k -u admin:pkgtest "https://127.0.0.1/admin/admin.dll?action=mysql")
token=$(printf '%s\n' "$page" | sed -n 's/.*NAME="klic" VALUE="\([^"]*\)".*/\1/p' | head -1)
[ -n "$token" ] || fail "the log database form carries no token"
code=$(status_of -k -u admin:pkgtest --data "klic=$token&host=&user=pkgtest&passwd=" \
  "https://127.0.0.1/admin/admin.dll?action=mysql&subaction=save")
[ "$code" = 200 ] || fail "admin.dll answered $code"
check "the administration pages could not write the registry" \
  sh -c "tovkreg query '$REG' /v LogMySQL_user | grep -q pkgtest"
mode_owner /var/lib/tovk/registry.db "600 tovk tovk"

say "log rotation"
# Rotation loses no record: what comes just after it lands in one of the
# two files, and the server soon writes to the new one.
logrotate -f -s "$TMP/logrotate.state" /etc/logrotate.d/tovk
check "logrotate did not rotate access.log" test -e /var/log/tovk/access.log.1
mode_owner /var/log/tovk/access.log "640 tovk adm"
fetch -o /dev/null "http://127.0.0.1/?just-rotated"
check "a record written at the rotation was lost" \
  wait_for grep -q "just-rotated" /var/log/tovk/access.log /var/log/tovk/access.log.1
after_rotation() {
  fetch -o /dev/null "http://127.0.0.1/?after-rotation"
  grep -q "after-rotation" /var/log/tovk/access.log
}
check "the server did not reopen access.log" wait_for after_rotation

say "upgrade in place, removal and purge"
key_before=$(md5sum </etc/tovk/key.pem)
"${APT[@]}" install -y --reinstall "./$DEB" >/dev/null
check "the upgrade did not start the service again" wait_for fetch -o /dev/null http://127.0.0.1/
new_pid=$(tovksc query tovk | sed -n 's/^ *PID *: //p')
[ "$new_pid" != "$pid" ] || fail "the upgrade left the old program running"
check "the upgrade replaced the key" test "$(md5sum </etc/tovk/key.pem)" = "$key_before"
check "the upgrade replaced the registry" \
  sh -c "tovkreg query '$REG' /v 'Alias num' | grep -q 0x2"
check "the upgrade lost the logs" test -e /var/log/tovk/access.log.1

"${APT[@]}" remove -y tovk >/dev/null
check "the removal left the service running" wait_for port_free 80
check "the removal took the registry" test -e /var/lib/tovk/registry.db
check "the removal took the key" test -e /etc/tovk/key.pem
rm -rf "$TEST_DIR"
"${APT[@]}" purge -y tovk >/dev/null
check "the package is still known to dpkg" sh -c '! dpkg-query -W tovk 2>/dev/null'
for path in /etc/tovk /var/lib/tovk /var/log/tovk /run/tovk /usr/lib/tovk /usr/share/tovk \
  /usr/sbin/tovksrv /etc/logrotate.d/tovk "$UNIT" /usr/share/doc/tovk; do
  [ ! -e "$path" ] && [ ! -L "$path" ] || fail "the purge left $path"
done
check "the purge left the user tovk" sh -c '! getent passwd tovk'
check "the purge left the group tovk" sh -c '! getent group tovk'
if [ $SITE_EXISTED = no ]; then
  check "the purge left /var/www/html" test ! -e /var/www/html
fi

#!/usr/bin/env bash
# Installs the amd64 Debian package into a clean Debian 12 root made with debootstrap and
# starts the service there, as tarvex.service would: its user, its working directory, a
# notification socket. Checks what installation promises and prints each check:
#   - postinst creates the user tarvex and /var/lib/tarvex with a settings.conf (mode 0600,
#     owner tarvex) holding a random web password, and says where it is;
#   - the service tells the socket READY=1 and the web interface takes that password;
#   - installing the package again (an upgrade) and removing it leave settings.conf as it was.
# Needs root. CI does not run it: debootstrap downloads a base system (about 100 MB).
#   package-in-root.sh [package.deb]     (default: the newest build/tarvex_*_amd64.deb)
# The base system is kept in /var/tmp/tarvex-root/base and copied anew for every run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
deb=${1:-$(ls -t "$root"/build/tarvex_*_amd64.deb 2>/dev/null | head -n 1)}
[[ -f "$deb" ]] || { echo "no package: run scripts/package-check.sh first" >&2; exit 2; }
cache=/var/tmp/tarvex-root
base=$cache/base
work=$cache/work
web_port=8899

failures=0
pass() { echo "package-in-root: ok: $*"; }
fail() {
    echo "package-in-root: FAILED: $*"
    failures=$((failures + 1))
}

if ! command -v debootstrap >/dev/null; then
    apt-get install -y -qq --no-install-recommends debootstrap
fi
# The mirror this machine's apt uses.
mirror=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
[[ -n "$mirror" ]] || mirror=$(awk '$1 == "deb" {print $2; exit}' /etc/apt/sources.list)
if [[ ! -f "$base/etc/debian_version" ]]; then
    rm -rf "$base"
    debootstrap --variant=minbase bookworm "$base" "$mirror"
fi

rm -rf "$work"
cp -a "$base" "$work"
mount -t proc proc "$work/proc"
mount --rbind /dev "$work/dev"
service_pid=""
cleanup() {
    [[ -z "$service_pid" ]] || kill "$service_pid" 2>/dev/null || true
    umount -R "$work/dev" 2>/dev/null || true
    umount "$work/proc" 2>/dev/null || true
}
trap cleanup EXIT
in_root() { chroot "$work" "$@"; }

cp "$deb" "$work/tmp/tarvex.deb"
in_root apt-get update -qq
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    curl python3-minimal /tmp/tarvex.deb | tee "$work/tmp/install.log"

settings=/var/lib/tarvex/settings.conf
if in_root getent passwd tarvex >/dev/null; then pass "user tarvex exists"; else fail "no user tarvex"; fi
if [[ "$(in_root stat -c '%a %U %G' "$settings")" == "600 tarvex tarvex" ]]; then
    pass "settings.conf is mode 0600, owner tarvex"
else
    fail "settings.conf: $(in_root stat -c '%a %U %G' "$settings" 2>&1)"
fi
password=$(sed -n 's/^password=//p' "$work$settings")
if [[ ${#password} -ge 16 && "$password" != "6273" ]]; then
    pass "settings.conf holds a random web password"
else
    fail "settings.conf holds no random web password"
fi
if grep -q "$settings" "$work/tmp/install.log"; then
    pass "the installation says where the password is"
else
    fail "the installation does not name $settings"
fi
settings_sum=$(sha256sum "$work$settings")

# The service as the unit starts it; a datagram socket in the root takes its notification.
rm -f "$work/run/notify.sock" "$work/tmp/notify.log"
in_root python3 -c '
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind("/run/notify.sock")
s.settimeout(60)
print(s.recv(4096).decode(), flush=True)
' >"$work/tmp/notify.log" &
notify_pid=$!
for _ in $(seq 50); do [[ -S "$work/run/notify.sock" ]] && break; sleep 0.1; done
chmod 666 "$work/run/notify.sock"
chroot --userspec=tarvex:tarvex "$work" env NOTIFY_SOCKET=/run/notify.sock \
    sh -c 'cd /var/lib/tarvex && exec /usr/bin/tarvex' &
service_pid=$!
if wait "$notify_pid" && grep -q "READY=1" "$work/tmp/notify.log"; then
    pass "the service notified READY=1"
else
    fail "no READY=1 from the service"
fi
answer=$(in_root curl -s --max-time 10 -d "username=admin&password=$password" \
    "http://127.0.0.1:$web_port/api/v1/auth/login" || true)
if [[ "$answer" == "Ok." ]]; then
    pass "the web interface takes the password of settings.conf"
else
    fail "web login answered: $answer"
fi
kill -TERM "$service_pid"
wait "$service_pid" || true
service_pid=""

in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --reinstall /tmp/tarvex.deb >/dev/null
if [[ "$(sha256sum "$work$settings")" == "$settings_sum" ]]; then
    pass "installing again leaves settings.conf as it was"
else
    fail "installing again changed settings.conf"
fi
in_root env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq tarvex >/dev/null
if [[ "$(sha256sum "$work$settings")" == "$settings_sum" ]]; then
    pass "removing the package leaves settings.conf as it was"
else
    fail "removing the package changed or deleted settings.conf"
fi

if ((failures > 0)); then
    echo "package-in-root: $failures check(s) failed"
    exit 1
fi
echo "package-in-root: every check passed"

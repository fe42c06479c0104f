#!/usr/bin/env bash
# Installs the Debian packages and npm packages Tarvex needs that are not installed yet.
#   install-deps.sh          what building and running the gateway needs
#   install-deps.sh --test   also what the tests, benchmarks and fuzzers need
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(build-essential cmake pkg-config qtbase5-dev libqt5websockets5-dev libqt5sql5-sqlite
          zlib1g-dev libssl-dev)
if [[ "${1:-}" == "--test" ]]; then
    packages+=(libmodbus-dev mbpoll curl openssl sqlite3 wrk clang libclang-rt-14-dev chromium)
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
# Node.js may come from another source than Debian's archive (its own npm included): only a
# missing command asks for Debian's packages.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    missing+=(nodejs npm)
fi

if ((${#missing[@]} > 0)); then
    sudo=""
    if [[ $(id -u) -ne 0 ]]; then
        sudo="sudo"
    fi
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
fi

# The npm packages of package-lock.json (the icon font the build copies, the browser driver of
# the page tests), installed again only when the lock file has changed since the last install.
stamp="$root/node_modules/.installed-lock.sha256"
lock_sum=$(sha256sum "$root/package-lock.json" | cut -d' ' -f1)
if [[ ! -f "$stamp" || "$(cat "$stamp")" != "$lock_sum" ]]; then
    echo "Installing the npm packages of package-lock.json"
    (cd "$root" && npm ci --ignore-scripts --no-audit --no-fund)
    echo "$lock_sum" >"$stamp"
fi

#!/usr/bin/env bash
# Installs the Debian packages and npm packages Tarvex needs that are not installed yet.
#   install-deps.sh          what building and running the gateway needs
#   install-deps.sh --test   also what the tests, benchmarks, fuzzers and package checks need
#   install-deps.sh --arm64  also the cross compiler, qemu-user and the arm64 libraries of the
#                            cross build (scripts/arm64.sh); with --test, those of its tests too
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

test=false
arm64=false
for option in "$@"; do
    case "$option" in
        --test) test=true ;;
        --arm64) arm64=true ;;
        *) echo "usage: $0 [--test] [--arm64]" >&2; exit 2 ;;
    esac
done

packages=(build-essential cmake pkg-config qtbase5-dev libqt5websockets5-dev libqt5sql5-sqlite
          zlib1g-dev libssl-dev libsystemd-dev)
if $test; then
    packages+=(libmodbus-dev mbpoll curl openssl sqlite3 wrk clang libclang-rt-14-dev chromium
               lintian systemd)
fi
# Debian's multiarch: the arm64 libraries and headers install beside the host's, and the host's
# moc and rcc (qtbase5-dev-tools) serve both builds.
if $arm64; then
    packages+=(g++-aarch64-linux-gnu qemu-user-static qtbase5-dev-tools qtbase5-dev:arm64
               libqt5websockets5-dev:arm64 libqt5sql5-sqlite:arm64 zlib1g-dev:arm64
               libssl-dev:arm64 libsystemd-dev:arm64)
    if $test; then
        packages+=(libmodbus-dev:arm64)
    fi
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
    if $arm64 && ! dpkg --print-foreign-architectures | grep -qx arm64; then
        $sudo dpkg --add-architecture arm64
    fi
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

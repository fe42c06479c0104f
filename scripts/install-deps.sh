#!/usr/bin/env bash
# Installs the Debian packages Tarvex needs that are not installed yet.
#   install-deps.sh          what building and running the gateway needs
#   install-deps.sh --test   also what the tests, benchmarks and fuzzers need
set -euo pipefail

packages=(build-essential cmake pkg-config qtbase5-dev libqt5websockets5-dev libqt5sql5-sqlite
          zlib1g-dev libssl-dev)
if [[ "${1:-}" == "--test" ]]; then
    packages+=(libmodbus-dev mbpoll curl openssl sqlite3 wrk clang libclang-rt-14-dev)
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if ((${#missing[@]} == 0)); then
    exit 0
fi

sudo=""
if [[ $(id -u) -ne 0 ]]; then
    sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"

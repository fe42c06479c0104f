#!/usr/bin/env bash
# Makes the Debian package in each build folder given (default build/, already built) with
# cpack and checks it: dpkg-deb -I and -c list the dependencies and the files that must be
# there, systemd-analyze verify accepts the unit, lintian reports no error, and
# `cmake --install` into a scratch prefix points the unit at the executable it installed.
# Prints each check; exits non-zero when one fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
(($# > 0)) || set -- "$root/build"

failures=0
pass() { echo "package-check: ok: $*"; }
fail() {
    echo "package-check: FAILED: $*"
    failures=$((failures + 1))
}

# Libraries the executable links (found by dpkg-shlibdeps), the SQLite plugin and adduser.
required_depends=(libqt5core5a libqt5network5 libqt5websockets5 libqt5sql5 libqt5sql5-sqlite
                  libssl3 libsystemd0 zlib1g adduser)
required_files=(./usr/bin/tarvex ./usr/lib/systemd/system/tarvex.service
                ./usr/share/doc/tarvex/copyright ./usr/share/doc/tarvex/changelog.gz
                ./usr/share/man/man1/tarvex.1.gz)
if [[ -d "$root/samples" ]]; then
    while IFS= read -r sample; do
        required_files+=("./usr/share/tarvex/${sample#"$root/samples/"}")
    done < <(find "$root/samples" -type f | sort)
fi
if [[ -d "$root/tools/ns-sim" ]]; then
    required_files+=(./usr/bin/tarvex-ns-sim)
fi

check_info() {
    local deb=$1 depends
    dpkg-deb -I "$deb"
    depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//')
    for package in "${required_depends[@]}"; do
        if grep -qx "$package" <<<"$depends"; then
            pass "depends on $package"
        else
            fail "no dependency on $package"
        fi
    done
}

check_contents() {
    local deb=$1 listing size
    listing=$(dpkg-deb -c "$deb")
    echo "$listing"
    for file in "${required_files[@]}"; do
        if awk '{print $6}' <<<"$listing" | grep -qxF "$file"; then
            pass "holds $file"
        else
            fail "$file is missing"
        fi
    done
    # The settings, with the web password, are made on the target by postinst, never shipped.
    if awk '{print $6}' <<<"$listing" | grep -q "settings\.conf$"; then
        fail "the package ships a settings.conf"
    else
        pass "ships no settings.conf"
    fi
    size=$(awk '$6 == "./usr/bin/tarvex" {print $3}' <<<"$listing")
    echo "package-check: stripped ./usr/bin/tarvex of $(dpkg-deb -f "$deb" Architecture): $size bytes"
}

# The unit is checked inside the unpacked package, with the host's own units beside it for the
# targets it names. systemd-analyze exits 0 on many faults it reports, so any output fails.
check_unit() {
    local deb=$1 tree output
    tree=$(mktemp -d)
    dpkg-deb -x "$deb" "$tree"
    cp -an /usr/lib/systemd/system/. "$tree/usr/lib/systemd/system/"
    if output=$(systemd-analyze verify --root="$tree" /usr/lib/systemd/system/tarvex.service 2>&1) \
        && [[ -z "$output" ]]; then
        pass "systemd-analyze verify accepts tarvex.service"
    else
        fail "systemd-analyze verify: $output"
    fi
    if grep -qx "ExecStart=/usr/bin/tarvex" "$tree/usr/lib/systemd/system/tarvex.service"; then
        pass "the unit starts /usr/bin/tarvex"
    else
        fail "the unit does not start /usr/bin/tarvex"
    fi
    rm -rf "$tree"
}

check_lintian() {
    local deb=$1
    if lintian --fail-on error --tag-display-limit 0 "$deb" 2>/dev/null; then
        pass "lintian reports no error"
    else
        fail "lintian reports errors"
    fi
}

check_install() {
    local build=$1 prefix
    prefix=$(mktemp -d)
    cmake --install "$build" --prefix "$prefix" >/dev/null
    if [[ -x "$prefix/bin/tarvex" ]] \
        && grep -qx "ExecStart=$prefix/bin/tarvex" "$prefix/lib/systemd/system/tarvex.service"; then
        pass "cmake --install puts the executable and a unit starting it under its prefix"
    else
        fail "cmake --install --prefix $prefix: no bin/tarvex or a unit starting another"
    fi
    rm -rf "$prefix"
}

for build in "$@"; do
    (cd "$build" && cpack -G DEB >/dev/null)
    deb=$(ls -t "$build"/tarvex_*.deb | head -n 1)
    echo "package-check: $deb"
    check_info "$deb"
    check_contents "$deb"
    check_unit "$deb"
    check_lintian "$deb"
    check_install "$build"
done

if ((failures > 0)); then
    echo "package-check: $failures check(s) failed"
    exit 1
fi
echo "package-check: every check passed"

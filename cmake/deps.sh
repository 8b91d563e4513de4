#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need, if any is missing.
set -euo pipefail

PACKAGES=(
    cmake make
    g++-mingw-w64-x86-64 mingw-w64-tools     # harbinet.dll and widl
    wine wine64 libwine-dev                  # Windows for the tests; the IDL imports
    googletest libgtest-dev                  # GoogleTest sources (cross) and library (native)
    libasio-dev                              # harbinet-server
    libhiredis-dev redis-server              # harbinet-server's Redis store and its tests
    wixl msitools                            # harbinet.msi, and reading it back in its test
    clang libclang-rt-14-dev                 # native build and libFuzzer
    dpkg-dev lintian                         # harbinet-server's .deb: its dependencies and its check
)
if [ "${1:-}" = "--bench" ]; then
    PACKAGES+=(memcached)
fi

missing=()
for package in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing Debian packages: ${missing[*]}" >&2
        echo "Run this command as root (for example with sudo) so that they can be installed," >&2
        echo "or install them yourself with: apt-get install ${missing[*]}" >&2
        exit 1
    fi
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q "${missing[@]}"
fi

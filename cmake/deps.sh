#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need, if any is missing.
set -euo pipefail

PACKAGES=(
    cmake make
    g++-mingw-w64-x86-64 mingw-w64-tools     # harbinet.dll and widl
    g++-mingw-w64-i686-posix                 # the 32-bit harbinet.dll
    wine wine64 wine32:i386 libwine-dev      # Windows (WoW64) for the tests; the IDL imports
    googletest libgtest-dev                  # GoogleTest sources (cross) and library (native)
    libasio-dev                              # harbinet-server
    libhiredis-dev redis-server              # harbinet-server's Redis store and its tests
    libssl-dev openssl                       # TLS to Redis; the tests' certificates
    wixl msitools                            # harbinet.msi, and reading it back in its test
    clang libclang-rt-14-dev                 # native build and libFuzzer
    dpkg-dev lintian                         # harbinet-server's .deb: its dependencies and its check
    curl                                     # the installed package's set and get
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
    # The 32-bit wine comes from Debian's i386 architecture.
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    # A mirror caught mid-sync fails one index but leaves the rest usable; the install
    # below still fails clearly if a package cannot be found.
    apt-get update -q || echo "apt-get update reported errors; installing from the lists it has" >&2
    if ! apt-get install -y -q "${missing[@]}"; then
        # The i386 libraries must match their amd64 twins version for version; when the
        # security suite's i386 list could not be read, only the release's own versions
        # pair up, so those are taken instead. An amd64 library already installed from
        # the security suite then still needs its release version named beside its i386
        # twin (apt-get install -t <codename> --allow-downgrades NAME=V NAME:i386=V).
        codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
        apt-get install -y -q -t "$codename" "${missing[@]}"
    fi
fi

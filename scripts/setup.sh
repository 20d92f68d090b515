#!/bin/sh
# Installs what the build and the tests need, when it is missing. Safe to run
# again: it asks apt only for packages that are not installed yet.
set -eu

packages="cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev libgmock-dev libbenchmark-dev"

# The static checks of the Windows DLL read its headers, exports and
# descriptor with a PE library rather than a parser of our own.
packages="$packages python3 python3-pefile"

# tamberlo-scene reads its options with CLI11 and draws with PLplot.
packages="$packages pkg-config libcli11-dev libplplot-dev"

# The Windows build: the 32-bit cross compiler, and Wine with its 32-bit half
# to run the test programs.
packages="$packages g++-mingw-w64-i686 wine wine32:i386"

missing=""
for package in $packages; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $package"
    fi
done

if [ -n "$missing" ]; then
    echo "setup: installing$missing"
    export DEBIAN_FRONTEND=noninteractive
    # An i386 package can only be found once dpkg knows the architecture.
    case "$missing" in
    *:i386*)
        if [ "$(dpkg --print-architecture)" != i386 ] &&
            ! dpkg --print-foreign-architectures | grep -qx i386; then
            dpkg --add-architecture i386
        fi
        ;;
    esac
    apt-get update -qq
    apt-get install -y -qq $missing >/dev/null
fi

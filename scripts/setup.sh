#!/bin/sh
# Installs what the build and the tests need, when it is missing. Safe to run
# again: it asks apt only for packages that are not installed yet.
set -eu

packages="cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev libgmock-dev libbenchmark-dev"

# The static checks of the Windows DLL read its headers, exports and
# descriptor with a PE library rather than a parser of our own.
packages="$packages python3 python3-pefile"

# tamberlo-scene reads its options with CLI11, as does the scene-file
# benchmark, and draws with PLplot.
packages="$packages pkg-config libcli11-dev libplplot-dev"

# The Python package `tamberlo` is a pybind11 extension over the same
# libraries, built for Debian's own Python (its headers from python3-dev);
# keys come to Python as NumPy arrays, and its tests run under pytest.
packages="$packages python3-dev pybind11-dev python3-numpy python3-pytest"

# The picture of a paste is checked by rendering it, as a viewer would, with
# librsvg's converter.
packages="$packages librsvg2-bin"

# The Windows build: the 32-bit cross compiler, and Wine with its 32-bit half
# to run the test programs.
packages="$packages g++-mingw-w64-i686 wine wine32:i386"

# The 32-bit Linux stand-in that runs the DLL through our PE32 loader: the
# multilib compiler, and qemu's i386 emulator for machines that cannot run
# 32-bit programs. The emulator comes without what it recommends, a binfmt
# handler: with one, every 32-bit program would seem to run natively, Wine's
# loader among them, where it cannot.
bare_packages="g++-multilib qemu-user"

# The packages of a list that are not installed yet.
missing_of() {
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            printf ' %s' "$package"
        fi
    done
}
missing=$(missing_of $packages)
missing_bare=$(missing_of $bare_packages)

if [ -n "$missing$missing_bare" ]; then
    echo "setup: installing$missing$missing_bare"
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
    if [ -n "$missing" ]; then
        apt-get install -y -qq $missing >/dev/null
    fi
    if [ -n "$missing_bare" ]; then
        apt-get install -y -qq --no-install-recommends $missing_bare >/dev/null
    fi
fi

#!/bin/sh
# Installs what the build and the tests need, when it is missing. Safe to run
# again: it asks apt only for packages that are not installed yet.
set -eu

packages="cmake ninja-build g++ googletest libgtest-dev libgmock-dev libbenchmark-dev"

missing=""
for package in $packages; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $package"
    fi
done

if [ -n "$missing" ]; then
    echo "setup: installing$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq $missing >/dev/null
fi

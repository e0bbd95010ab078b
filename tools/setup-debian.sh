#!/bin/sh
# Installs what Vexlor's build and tests need on Debian 12, skipping what is present.
# Runs as root, or through sudo when it is available.
set -eu

packages="cmake ninja-build g++ googletest libbenchmark-dev \
  g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686 \
  wine wine32:i386 wine64 xvfb xauth imagemagick python3 python3-pil gzip gnupg diffutils"

missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing:$missing" >&2
$sudo dpkg --add-architecture i386
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q $missing

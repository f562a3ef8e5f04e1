#!/usr/bin/env bash
# Builds the Debian packages (libqxwebcore1, libqxwebcore-dev, qxweb,
# qxsealer-lite, and qxweb-client when the tree has it) into a directory and
# checks them with lintian when it is installed.
#
#   scripts/package.sh [OUTPUT_DIR [BUILD_DIR]]
#
# OUTPUT_DIR defaults to build/packages, BUILD_DIR to build/package; both are
# taken relative to the current directory. The build directory is configured
# with the "package" preset and kept, so that a second run builds only what
# changed. Exits non-zero when the build fails or lintian reports an error.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/build/packages}")
build=$(realpath -m "${2:-$root/build/package}")

for tool in cmake cpack dpkg-deb dpkg-shlibdeps; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "package: $tool is missing (scripts/setup.sh installs it)" >&2
    exit 1
  fi
done

jobs=$(nproc 2>/dev/null || echo 2)
[ "$jobs" -gt 2 ] && jobs=2
cmake -S "$root" -B "$build" --preset package >/dev/null
cmake --build "$build" -j "$jobs"
(cd "$build" && cpack -G DEB)

mkdir -p "$out"
rm -f "$out"/*.deb
cp "$build"/*.deb "$out"/
echo "package: built in $out:"
(cd "$out" && ls -1 ./*.deb | sed 's|^\./|  |')

if command -v lintian >/dev/null 2>&1; then
  echo "package: lintian"
  lintian --fail-on error --display-info "$out"/*.deb && status=0 || status=$?
  [ "$status" -eq 0 ] && echo "package: lintian found no errors"
  exit "$status"
fi
echo "package: lintian is not installed; packages not checked"

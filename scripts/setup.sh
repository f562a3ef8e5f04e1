#!/usr/bin/env bash
# Installs what building and testing need on Debian 12; quick when all is there.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  zlib1g-dev libdeflate-dev libisal-dev libssl-dev libcurl4-openssl-dev libgtest-dev libgmock-dev
  libcli11-dev
  qt6-base-dev qt6-qpa-plugins
  gzip zip unzip pigz nginx-light clang-format-14 ca-certificates time
  xvfb xdotool
  chromium xdg-utils desktop-file-utils
  dpkg-dev lintian
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null 2>&1; then
  sudo=(sudo)
else
  echo "setup: these packages are missing and neither root nor sudo is available: ${missing[*]}" >&2
  exit 1
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Needs root (or sudo); does nothing when every package is already there.
# Names given as arguments are installed too (the packaging tools, say).
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build g++ pkg-config
  libsqlite3-dev libssl-dev openssl libgtest-dev libgmock-dev
  qt6-base-dev libgl1-mesa-dev fonts-liberation
  media-types curl perl python3
  libmariadb-dev mariadb-server
  chromium nodejs
  "$@"
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
# npm for the browser test's playwright-core; a nodejs that bundles its own
# npm conflicts with Debian's npm package, so only ask for it when missing.
if ! command -v npm >/dev/null 2>&1; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  [ ${#missing[@]} -gt 0 ] || $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends npm
fi

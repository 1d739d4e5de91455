#!/usr/bin/env bash
# Installs every Debian package that building and testing Larkspin needs.
# Safe to run again: when everything is installed it does nothing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache git
  libglib2.0-dev libssl-dev libfmt-dev nlohmann-json3-dev libpcre2-dev
  libgtk-4-dev libadwaita-1-dev libwebkitgtk-6.0-dev
  libfontconfig-dev libfreetype-dev libharfbuzz-dev
  libsoup-3.0-dev libxml2-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth libgl1-mesa-dri
  fonts-dejavu-core fonts-cantarell fonts-inter-variable dbus-daemon
  clang libclang-rt-14-dev
  nodejs npm python3
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

# Node.js and npm may come from elsewhere than Debian (a newer nodesource build, say);
# a working node and npm on the PATH is all that is needed.
if command -v node >/dev/null 2>&1 && command -v npm >/dev/null 2>&1; then
  filtered=()
  for p in "${missing[@]}"; do
    [[ "$p" == nodejs || "$p" == npm ]] || filtered+=("$p")
  done
  missing=("${filtered[@]}")
fi
# Likewise any python3 on the PATH runs the source checks.
if command -v python3 >/dev/null 2>&1; then
  filtered=()
  for p in "${missing[@]}"; do
    [[ "$p" == python3 ]] || filtered+=("$p")
  done
  missing=("${filtered[@]}")
fi

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"

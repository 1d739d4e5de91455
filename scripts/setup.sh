#!/usr/bin/env bash
# Installs every Debian package that building and testing Larkspin needs.
# Also generates the locale de_DE.UTF-8 that the tests need. Safe to run
# again: when everything is in place it does nothing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache git
  libglib2.0-dev libssl-dev libfmt-dev nlohmann-json3-dev libpcre2-dev
  libgtk-4-dev libadwaita-1-dev libwebkitgtk-6.0-dev
  libfontconfig-dev libfreetype-dev libharfbuzz-dev
  libsoup-3.0-dev libxml2-dev
  desktop-file-utils appstream libglib2.0-bin
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth libgl1-mesa-dri libxtst6
  fonts-dejavu-core fonts-cantarell fonts-inter-variable dbus-daemon locales
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

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The tests check that log lines keep a decimal point under a locale that
# writes a comma, so that locale must exist. It is listed in /etc/locale.gen,
# from which locale-gen rebuilds every locale, so that a later run of
# locale-gen (a glibc upgrade, say) keeps it.
if ! locale -a 2>/dev/null | grep -ix 'de_DE\.utf-\?8' >/dev/null; then
  echo "setup: generating the locale de_DE.UTF-8"
  if grep -Eq '^#[[:space:]]*de_DE\.UTF-8 UTF-8[[:space:]]*$' /etc/locale.gen; then
    "${sudo_cmd[@]}" sed -i -E 's/^#[[:space:]]*(de_DE\.UTF-8 UTF-8)[[:space:]]*$/\1/' /etc/locale.gen
  elif ! grep -Eq '^de_DE\.UTF-8 UTF-8[[:space:]]*$' /etc/locale.gen; then
    echo 'de_DE.UTF-8 UTF-8' | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
  fi
  "${sudo_cmd[@]}" locale-gen
fi

#!/usr/bin/env bash
# Installs the Debian packages the project needs to build, test and run; with --packaging also the tools
# that build and check its Debian packages (test.sh). Idempotent: when everything is present it says
# nothing and changes nothing.
set -euo pipefail

packages=(
  g++ cmake ninja-build ccache pkg-config
  qt6-base-dev fonts-dejavu-core
  libsqlite3-dev sqlite3
  libssl-dev
  unixodbc-dev odbcinst tdsodbc freetds-bin libsqliteodbc
  libgtest-dev libgmock-dev
)
if [[ "${1:-}" == "--packaging" ]]; then
  packages+=(dpkg-dev file lintian desktop-file-utils appstream man-db librsvg2-bin systemd)
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

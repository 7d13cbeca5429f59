#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Sinjobox need.
# As root it installs what is missing with apt-get; otherwise it names the missing packages and fails.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  # build
  cmake ninja-build g++ pkg-config make
  # tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  # real playback
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-plugins-ugly gstreamer1.0-libav gstreamer1.0-alsa
)
# Extra packages some parts of the tree add (browser tests, benchmarks): one name a line.
if [ -f scripts/packages.txt ]; then
  while read -r p; do
    p="${p%%#*}"; p="${p// /}"
    [ -n "$p" ] && packages+=("$p")
  done < scripts/packages.txt
fi

# axe-core, the accessibility audit the browser tests inject into the pages, comes from the npm registry
# into a folder outside the build ($SINJO_TOOLS_DIR, by default ~/.cache/sinjobox); never at build time.
# npm is not a listed package (Debian's npm conflicts with Node.js builds from other sources): where npm is
# missing, the package's tarball is fetched from the registry with curl and checked against its known
# SHA-256. Without the registry the audit is skipped with a message, so this never fails the set-up.
AXE_VERSION=4.10.3
AXE_SHA256=0f2b4d7dcdf7d1219df8d1959ad68e565f51d14c3f0d88bb71cd59abeb956292
fetch_axe() {
  local dir="${SINJO_TOOLS_DIR:-$HOME/.cache/sinjobox}"
  [ -f "$dir/node_modules/axe-core/axe.min.js" ] && return 0
  mkdir -p "$dir"
  if command -v npm >/dev/null &&
     npm install --prefix "$dir" --no-save --no-audit --no-fund --loglevel=error "axe-core@$AXE_VERSION" >/dev/null 2>&1; then
    return 0
  fi
  local tgz
  tgz=$(mktemp)
  if curl -sSfL --retry 2 -o "$tgz" "https://registry.npmjs.org/axe-core/-/axe-core-$AXE_VERSION.tgz" &&
     echo "$AXE_SHA256  $tgz" | sha256sum -c --status; then
    mkdir -p "$dir/node_modules/axe-core"
    tar -xzf "$tgz" -C "$dir/node_modules/axe-core" --strip-components=1 package/axe.min.js package/package.json package/LICENSE
  else
    echo "setup: axe-core could not be fetched; the accessibility audit will be skipped" >&2
  fi
  rm -f "$tgz"
}

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  fetch_axe
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "Sinjobox needs these Debian packages, which are not installed:" >&2
  echo "  ${missing[*]}" >&2
  echo "Install them with:  sudo apt-get install ${missing[*]}" >&2
  exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
fetch_axe

#!/usr/bin/env bash
# Installs, from Debian packages and only when missing, everything needed to
# build, test, package and benchmark corvellactl. Safe to run again.
# (dpkg-dev builds and checks the Debian package; groff and man-db render the
# manual page; bash-completion and zsh run the completion tests.) Then, from
# the npm registry, the third-party credential verifiers the tests run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  build-essential cmake ninja-build pkg-config clang
  libclang-rt-14-dev
  libcli11-dev libsimdjson-dev libsodium-dev nettle-dev librust-blake3-dev libjemalloc-dev libcsv-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  b3sum python3 python3-nacl
  nlohmann-json3-dev
  dpkg-dev groff-base man-db bash-completion zsh
  golang-go golang-golang-x-mod-dev
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if ((${#missing[@]} > 0)); then
  echo "bootstrap: installing ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# Node.js runs Digital Bazaar's W3C credential libraries on exported
# credentials. They are installed at the versions the lock file fixes into a
# folder outside the sources named after the lock file's hash, where
# tests/CMakeLists.txt looks for them, so every build tree of the checkout
# shares them and nothing is fetched at build or test time.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "bootstrap: installing nodejs npm"
  if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends nodejs npm >/dev/null
fi
interop="$root/tests/credential/interop"
lock_hash=$(sha256sum "$interop/package-lock.json" | cut -c1-16)
cache="${XDG_CACHE_HOME:-$HOME/.cache}/corvellactl"
modules="$cache/npm-$lock_hash"
if [ ! -d "$modules/node_modules" ]; then
  echo "bootstrap: installing the credential verifiers into $modules"
  mkdir -p "$cache"
  staging=$(mktemp -d "$cache/npm-staging.XXXXXX")
  cp "$interop/package.json" "$interop/package-lock.json" "$staging/"
  (cd "$staging" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error >/dev/null)
  # Put in place whole, so an interrupted install is never taken for one.
  mv -T "$staging" "$modules" 2>/dev/null || rm -rf "$staging"
fi
echo "bootstrap: all build and test dependencies present"

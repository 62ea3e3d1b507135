#!/usr/bin/env bash
# Installs, from Debian packages and only when missing, everything needed to
# build, test, package and benchmark corvellactl. Safe to run again.
# (dpkg-dev builds and checks the Debian package; groff and man-db render the
# manual page; bash-completion and zsh run the completion tests.)
set -euo pipefail

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
echo "bootstrap: all build and test dependencies present"

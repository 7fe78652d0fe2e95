#!/usr/bin/env bash
# Installs, with apt-get, whatever the build, the tests and the module need and the
# machine lacks. Safe to run again: it installs nothing when all is there.
set -euo pipefail

packages=(
  cmake make g++ clang clang-format libclang-rt-14-dev
  googletest libgtest-dev libbenchmark-dev
  pypy3 pypy3-dev python3 python3-dev
  python3-setuptools python3-wheel python3-pip
  python3-pytest python3-exceptiongroup python3-hypothesis
  binutils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

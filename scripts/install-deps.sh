#!/usr/bin/env bash
# Installs with apt-get the Debian packages that a group of commands needs and the machine
# lacks; safe to run again, it installs nothing when all is there:
#   scripts/install-deps.sh GROUP...
#     build   the module for PyPy (scripts/run.sh, pip install, the README's cmake lines)
#     test    build, plus CPython, GoogleTest, pytest, hypothesis and mypy (scripts/test.sh)
#     fuzz    clang and libFuzzer (scripts/fuzz.sh)
#     bench   build, plus CPython, Google Benchmark, RapidJSON, simdjson and matplotlib
#             (scripts/bench.sh)
# Installing needs root; run as another user, it names what is missing and fails.
set -euo pipefail

packages_of() {
  case "$1" in
    build) echo cmake make g++ pypy3 pypy3-dev python3-pip python3-setuptools python3-wheel ;;
    test)
      packages_of build
      echo python3 python3-dev googletest libgtest-dev binutils python3-pytest \
        python3-exceptiongroup python3-hypothesis python3-mypy
      ;;
    fuzz) echo cmake make clang libclang-rt-dev ;;
    bench)
      packages_of build
      echo python3 python3-dev libbenchmark-dev rapidjson-dev libsimdjson-dev python3-matplotlib
      ;;
    *)
      echo "usage: $0 {build|test|fuzz|bench}..." >&2
      return 2
      ;;
  esac
}

[[ $# -gt 0 ]] || packages_of "" || exit
packages=()
for group in "$@"; do
  listed="$(packages_of "$group")" || exit
  packages+=($listed)
done

if ! command -v dpkg-query >/dev/null; then
  echo "$0: not a Debian system; these must be installed: ${packages[*]}" >&2
  exit 0
fi
missing=()
for p in $(printf '%s\n' "${packages[@]}" | sort -u); do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
  echo "$0: missing ${missing[*]}; as root: apt-get install ${missing[*]}" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null

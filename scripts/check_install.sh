#!/usr/bin/env bash
# Installs the module the ways users do and runs the installed command on the sample:
#   pip install --target for PyPy and CPython (and mypy --strict on a caller of the installed
#   types), pip install into a virtual environment, `pip wheel` (checks the wheel's tag), and
#   `cmake --install` with --prefix and DESTDIR (the module and its stub in the
#   interpreter's site folder).
# Offline: pip builds with the interpreters' own setuptools (--no-build-isolation).
#   scripts/check_install.sh [BUILD-DIR]   (a configured PyPy build for cmake --install)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
root="$velmar_root"
build="${1:-$root/build-release}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
expected="$root/examples/rows.out.json"

# check_command PYTHON SITE BIN: the installed velmar-columnarize gives the sample's result.
check_command() {
  local python="$1" site="$2" bin="$3"
  (cd "$work" && PYTHONPATH="$site" "$python" "$bin/velmar-columnarize" "$root/examples/rows.json" \
    >"$work/out.json")
  cmp "$work/out.json" "$expected"
}

pip_install() {
  local python="$1"
  shift
  "$python" -m pip install --quiet --no-build-isolation --no-deps --disable-pip-version-check \
    --root-user-action=ignore "$@" "$root"
}

for python in pypy3 /usr/bin/python3; do
  name="$(basename "$python")"
  echo "== pip install --target ($name) =="
  pip_install "$python" --target "$work/$name"
  check_command "$python" "$work/$name" "$work/$name/bin"
  (cd "$work" && VELMAR_INSTALLED_SITE="$work/$name" PYTHONPATH="$work/$name" \
    PYTHONDONTWRITEBYTECODE=1 "$python" -m pytest -p no:cacheprovider -q \
    "$root/tests/python/test_binding.py::test_mypy_strict_sees_the_signature" \
    "$root/tests/python/test_binding.py::test_stub_matches_the_module")

  echo "== pip wheel ($name) =="
  "$python" -m pip wheel --quiet --no-build-isolation --no-deps --disable-pip-version-check \
    -w "$work/wheels-$name" "$root"
  tag="$("$python" -c 'import sys; print("pp%d%d" % sys.version_info[:2] if sys.implementation.name == "pypy" else "cp%d%d" % sys.version_info[:2])')"
  ls "$work/wheels-$name" | grep -E "^velmar_codec-[0-9.]+-$tag-.*linux_x86_64\.whl$"
done

echo "== pip install in a virtual environment (pypy3) =="
pypy3 -m venv --without-pip --system-site-packages "$work/venv"
pip_install "$work/venv/bin/python"
(cd "$work" && "$work/venv/bin/velmar-columnarize" "$root/examples/rows.json" >"$work/out.json")
cmp "$work/out.json" "$expected"

echo "== cmake --install with --prefix and DESTDIR =="
cmake --install "$build" --prefix "$work/prefix" >/dev/null
find "$work/prefix" -name 'velmar_codec.*.so' | grep -q .
DESTDIR="$work/dest" cmake --install "$build" >/dev/null
site="$work/dest$(pypy3 -c 'import sysconfig; print(sysconfig.get_paths()["platlib"])')"
test -f "$site/velmar_codec-stubs/__init__.pyi"
PYTHONPATH="$site" pypy3 -c 'import velmar_codec; velmar_codec.columnarize(b"[]")'
echo "install checks passed"

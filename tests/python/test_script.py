"""scripts/columnarize.py: the command-line job around the module."""

import os
import subprocess
import sys

import pytest

SCRIPT = os.path.join(os.path.dirname(__file__), os.pardir, os.pardir, "scripts",
                      "columnarize.py")
PAYLOAD = b'[{"a":1,"b":2,"c":null},{"a":1.0,"b":3}]'
RESULT = b'{"columns":["b"],"rows":[[2],[3]],"constants":{"a":1}}'


def run(args, stdin=b"", env=None):
    return subprocess.run([sys.executable, SCRIPT] + args, input=stdin, capture_output=True,
                          env=env, timeout=60)


def test_reads_a_file_and_writes_the_result_bytes(tmp_path):
    source = tmp_path / "rows.json"
    source.write_bytes(PAYLOAD)
    done = run([str(source)])
    assert (done.returncode, done.stdout, done.stderr) == (0, RESULT, b"")


@pytest.mark.parametrize("args", [[], ["-"]])
def test_reads_standard_input(args):
    done = run(args, stdin=PAYLOAD)
    assert (done.returncode, done.stdout) == (0, RESULT)


@pytest.mark.parametrize("stdin, args, message", [
    (b"", [], b"RuntimeError: invalid row-oriented JSON: EOF while parsing a value at line 1 "
              b"column 0\n"),
    (b"[7]", [], b"RuntimeError: expected a JSON object row, got: 7\n"),
    (b"[]", ["--min-rows", "-1"], b"OverflowError: "),
])
def test_failure_prints_type_and_message_and_exits_non_zero(stdin, args, message):
    done = run(args, stdin=stdin)
    assert done.returncode == 1
    assert done.stdout == b""
    assert done.stderr.startswith(message)


def test_missing_file_is_a_failure(tmp_path):
    done = run([str(tmp_path / "absent.json")])
    assert done.returncode == 1
    assert done.stderr.startswith(b"FileNotFoundError: ")


def test_finds_the_module_through_build_dir():
    import velmar_codec
    module_dir = os.path.dirname(velmar_codec.__file__)
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    done = run(["--build-dir", module_dir], stdin=PAYLOAD, env=env)
    assert (done.returncode, done.stdout) == (0, RESULT)
    build_tree = os.path.dirname(os.path.dirname(module_dir))
    if os.path.basename(module_dir) == "module" and os.path.isdir(build_tree):
        done = run(["--build-dir", build_tree], stdin=PAYLOAD, env=env)
        assert (done.returncode, done.stdout) == (0, RESULT)

"""The velmar-columnarize command (python/velmar_codec_cli.py, as pip installs it) and its
source-tree runner scripts/columnarize.py."""

import os
import subprocess
import sys

import pytest

SOURCE = os.path.join(os.path.dirname(__file__), os.pardir, os.pardir)
COMMAND = os.path.join(SOURCE, "python", "velmar_codec_cli.py")
RUNNER = os.path.join(SOURCE, "scripts", "columnarize.py")
PAYLOAD = b'[{"a":1,"b":2,"c":null},{"a":1.0,"b":3}]'
RESULT = b'{"columns":["b"],"rows":[[2],[3]],"constants":{"a":1}}\n'
USAGE = b"usage: velmar-columnarize [-h] [--min-rows MIN_ROWS] [infile] [outfile]\n"


def refusal(min_rows):
    """The module's message for a min_rows it refuses, in the interpreter's words."""
    import velmar_codec
    with pytest.raises(OverflowError) as info:
        velmar_codec.columnarize(b"[]", min_rows)
    return str(info.value).encode()


def run(args, stdin=b"", env=None, script=COMMAND):
    return subprocess.run([sys.executable, script] + args, input=stdin, capture_output=True,
                          env=env, timeout=60)


@pytest.mark.parametrize("script", [COMMAND, RUNNER])
def test_reads_a_file_and_writes_the_result_and_a_newline(tmp_path, script):
    source = tmp_path / "rows.json"
    source.write_bytes(PAYLOAD)
    done = run([str(source)], script=script)
    assert (done.returncode, done.stdout, done.stderr) == (0, RESULT, b"")


@pytest.mark.parametrize("args", [[], ["-"], ["-", "-"]])
def test_reads_standard_input_and_writes_standard_output(args):
    done = run(args, stdin=PAYLOAD)
    assert (done.returncode, done.stdout, done.stderr) == (0, RESULT, b"")


def test_writes_outfile_which_may_be_infile(tmp_path):
    target = tmp_path / "rows.json"
    target.write_bytes(PAYLOAD)
    done = run([str(target), str(target)])
    assert (done.returncode, done.stdout, done.stderr) == (0, b"", b"")
    assert target.read_bytes() == RESULT


# Failures: the exit status, then standard error (a usage line first for status 2).
@pytest.mark.parametrize("stdin, args, status, message", [
    (b"", [], 1, b"invalid row-oriented JSON: EOF while parsing a value at line 1 column 0"),
    (b"[7]", [], 1, b"expected a JSON object row, got: 7"),
    (b"[]", ["--min-rows", "-1"], 2, b"argument --min-rows: " + refusal(-1)),
    (b"[]", ["--min-rows", str(2**64)], 2, b"argument --min-rows: " + refusal(2**64)),
    (b"[]", ["--min-rows", "x"], 2, b"argument --min-rows: invalid int value: 'x'"),
    (b"[]", ["{tmp}/absent.json"], 2,
     b"argument infile: can't open '{tmp}/absent.json': [Errno 2] No such file or directory: "
     b"'{tmp}/absent.json'"),
    (PAYLOAD, ["-", "{tmp}/absent/out.json"], 1,
     b"[Errno 2] No such file or directory: '{tmp}/absent/out.json'"),
    (b"[]", ["-", "-", "-"], 2, b"unrecognized arguments: -"),
    # A source-tree option only.
    (b"[]", ["--build-dir={tmp}"], 2, b"unrecognized arguments: --build-dir={tmp}"),
])
def test_failure_reports_prog_error_and_exit_status(tmp_path, stdin, args, status, message):
    tmp = str(tmp_path).encode()
    done = run([a.format(tmp=tmp_path) for a in args], stdin=stdin)
    usage = USAGE if status == 2 else b""
    expected = usage + b"velmar-columnarize: error: " + message.replace(b"{tmp}", tmp) + b"\n"
    assert (done.returncode, done.stdout, done.stderr) == (status, b"", expected)


def test_failure_leaves_outfile_as_it_was(tmp_path):
    target = tmp_path / "out.json"
    target.write_bytes(b"kept")
    done = run(["-", str(target)], stdin=b"[7]")
    assert done.returncode == 1
    assert target.read_bytes() == b"kept"


def test_runner_finds_the_module_through_build_dir():
    import velmar_codec
    module_dir = os.path.dirname(velmar_codec.__file__)
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    build_tree = os.path.dirname(os.path.dirname(module_dir))
    folders = [module_dir]
    if os.path.basename(module_dir) == "module" and os.path.isdir(build_tree):
        folders.append(build_tree)
    for folder in folders:
        done = run(["--build-dir", folder], stdin=PAYLOAD, env=env, script=RUNNER)
        assert (done.returncode, done.stdout, done.stderr) == (0, RESULT, b"")
    done = run([], stdin=PAYLOAD, env=env, script=RUNNER)
    assert done.returncode == 2
    assert done.stderr.endswith(b"columnarize.py: error: No module named 'velmar_codec'\n")

"""columnarize(payload, min_rows=20): argument binding, the payload's accepted types and
the validation of min_rows, each failure with its exact type, message and note."""

import os
import shutil
import subprocess
import sys

import pytest

SOURCE_PYTHON = os.path.join(os.path.dirname(__file__), os.pardir, os.pardir, "python")

EMPTY_RESULT = b'{"columns":[],"rows":[],"constants":{}}'
ONE_ROW = b'[{"a":1}]'
ONE_ROW_RESULT = b'{"columns":["a"],"rows":[[1]],"constants":{}}'


def raised(call):
    with pytest.raises(BaseException) as info:
        call()
    return info.value


def notes(error):
    return getattr(error, "__notes__", [])


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


@pytest.mark.parametrize("args, kwargs", [
    ((ONE_ROW,), {}),
    ((ONE_ROW, 5), {}),
    ((), {"payload": ONE_ROW}),
    ((), {"payload": ONE_ROW, "min_rows": 5}),
    ((), {"min_rows": 5, "payload": ONE_ROW}),
    ((ONE_ROW,), {"min_rows": 5}),
])
def test_binds_by_position_or_keyword_in_any_order(columnarize, args, kwargs):
    assert columnarize(*args, **kwargs) == ONE_ROW_RESULT


@pytest.mark.parametrize("args, kwargs, message", [
    ((b"[]", 5, 6), {},
     "columnarize() takes from 1 to 2 positional arguments but 3 were given"),
    ((b"[]", 5, 6, 7), {"bogus": 1},
     "columnarize() takes from 1 to 2 positional arguments but 4 were given"),
    ((), {}, "columnarize() missing 1 required positional argument: 'payload'"),
    ((), {"min_rows": 5}, "columnarize() missing 1 required positional argument: 'payload'"),
    ((b"[]",), {"payload": b"[]"}, "columnarize() got multiple values for argument 'payload'"),
    ((b"[]", 5), {"min_rows": 6},
     "columnarize() got multiple values for argument 'min_rows'"),
    ((b"[]",), {"minrows": 5}, "columnarize() got an unexpected keyword argument 'minrows'"),
    ((), {"minrows": 5}, "columnarize() got an unexpected keyword argument 'minrows'"),
    ((), {"Payload": b"[]"}, "columnarize() got an unexpected keyword argument 'Payload'"),
    ((), {"payload": b"[]", "min_rows_": 1},
     "columnarize() got an unexpected keyword argument 'min_rows_'"),
    # The first failure in keyword order wins.
    ((b"[]",), {"zz": 1, "payload": b"[]"},
     "columnarize() got an unexpected keyword argument 'zz'"),
    ((b"[]",), {"payload": b"[]", "zz": 1},
     "columnarize() got multiple values for argument 'payload'"),
    # Binding fails before the arguments are looked at.
    (("not bytes", -1, None), {}, 
     "columnarize() takes from 1 to 2 positional arguments but 3 were given"),
    ((), {"payload": "not bytes", "bad": 1},
     "columnarize() got an unexpected keyword argument 'bad'"),
])
def test_binding_errors(columnarize, args, kwargs, message):
    error = raised(lambda: columnarize(*args, **kwargs))
    assert type(error) is TypeError
    assert error.args == (message,)
    assert notes(error) == []


def test_keyword_without_utf8_form_is_rendered_with_replacement(columnarize):
    error = raised(lambda: columnarize(b"[]", **{"\ud800x": 1}))
    assert type(error) is TypeError
    assert error.args == (
        "columnarize() got an unexpected keyword argument '\ufffd\ufffd\ufffdx'",)


class UnprintableName(str):
    def __str__(self):
        raise ValueError("no text")

    def __repr__(self):
        raise ValueError("no repr")


def test_keyword_name_without_text_is_rendered_as_unprintable(columnarize):
    reported = []
    previous, sys.unraisablehook = sys.unraisablehook, lambda args: reported.append(args.exc_value)
    try:
        error = raised(lambda: columnarize(b"[]", **{UnprintableName("zz"): 1}))
    finally:
        sys.unraisablehook = previous
    assert type(error) is TypeError
    assert error.args == (
        "columnarize() got an unexpected keyword argument '<unprintable UnprintableName object>'",)
    assert [type(e) for e in reported] == [ValueError]


def test_str_subclass_keywords_bind_by_their_text(columnarize):
    assert columnarize(**{UnprintableName("payload"): b"[]"}) == EMPTY_RESULT


def test_non_ascii_keyword_is_named_in_the_message(columnarize):
    error = raised(lambda: columnarize(b"[]", **{"m\u00edn_rows": 1}))
    assert error.args == ("columnarize() got an unexpected keyword argument 'm\u00edn_rows'",)


class BytesSubclass(bytes):
    pass


@pytest.mark.parametrize("payload", [ONE_ROW, BytesSubclass(ONE_ROW)])
def test_accepts_bytes_and_subclasses(columnarize, payload):
    result = columnarize(payload)
    assert type(result) is bytes
    assert result == ONE_ROW_RESULT


@pytest.mark.parametrize("payload, message", [
    ("[]", "'str' object is not an instance of 'bytes'"),
    (bytearray(b"[]"), "'bytearray' object is not an instance of 'bytes'"),
    (memoryview(b"[]"), "'memoryview' object is not an instance of 'bytes'"),
    (None, "'None' is not an instance of 'bytes'"),
    (7, "'int' object is not an instance of 'bytes'"),
    (Index(3), "'Index' object is not an instance of 'bytes'"),
])
def test_refuses_other_payload_types(columnarize, payload, message):
    error = raised(lambda: columnarize(payload))
    assert type(error) is TypeError
    assert error.args == (message,)


def test_payload_error_wins_over_min_rows_error(columnarize):
    error = raised(lambda: columnarize("[]", -1))
    assert type(error) is TypeError
    assert error.args == ("'str' object is not an instance of 'bytes'",)


class IntSubclass(int):
    pass


@pytest.mark.parametrize("min_rows", [
    0, 20, 2**63, 2**64 - 1, True, False, Index(3), IntSubclass(7), Index(2**64 - 1)])
def test_accepts_unsigned_64_bit_min_rows_and_ignores_its_value(columnarize, min_rows):
    assert columnarize(ONE_ROW, min_rows) == ONE_ROW_RESULT
    assert columnarize(ONE_ROW, min_rows=min_rows) == ONE_ROW_RESULT


@pytest.mark.parametrize("min_rows, error_type", [
    (-1, OverflowError),
    (2**64, OverflowError),
    (-(2**70), OverflowError),
    (IntSubclass(-1), OverflowError),
    (Index(-1), OverflowError),
    (Index(2**64), OverflowError),
    (None, TypeError),
    (20.0, TypeError),
    ("20", TypeError),
    (b"20", TypeError),
])
def test_refuses_other_min_rows(columnarize, min_rows, error_type):
    # The payload is malformed: had the transform run, it would raise RuntimeError.
    error = raised(lambda: columnarize(b"not json", min_rows))
    assert type(error) is error_type
    assert len(error.args) == 1 and error.args[0]


class NotedError(Exception):
    """An exception type of the caller's with its own add_note."""

    def __init__(self, *args):
        super().__init__(*args)
        self.notes = []

    def add_note(self, note):
        self.notes.append(note)


class BrokenNoteError(Exception):
    def add_note(self, note):
        raise ValueError("cannot take notes")


class Raises:
    def __init__(self, error):
        self.error = error

    def __index__(self):
        raise self.error


def test_min_rows_failure_gets_note_through_add_note(columnarize):
    original = NotedError("no index today")
    error = raised(lambda: columnarize(b"[]", Raises(original)))
    assert error is original
    assert error.args == ("no index today",)
    assert error.notes == ["while processing 'min_rows'"]


def test_note_is_skipped_when_add_note_fails(columnarize):
    original = BrokenNoteError("still this one")
    error = raised(lambda: columnarize(b"[]", min_rows=Raises(original)))
    assert error is original
    assert error.args == ("still this one",)


def test_exception_from_index_keeps_its_type(columnarize):
    error = raised(lambda: columnarize(b"[]", Raises(KeyError("k"))))
    assert type(error) is KeyError
    assert error.args == ("k",)


def test_builtin_errors_get_note_where_they_can_take_one(columnarize):
    for call in (lambda: columnarize("[]"), lambda: columnarize(b"[]", -1)):
        error = raised(call)
        if hasattr(error, "add_note"):
            assert notes(error) == ["while processing '%s'" % (
                "payload" if isinstance(error, TypeError) else "min_rows")]
        else:
            assert not hasattr(error, "__notes__")


def test_transform_is_not_run_when_min_rows_fails(hooks):
    # "echo" would return the payload; the conversion failure must come first.
    for bad in (-1, None, Raises(NotedError("x"))):
        with pytest.raises((OverflowError, TypeError, NotedError)):
            hooks.columnarize_with("echo", b"payload", bad)
    assert hooks.columnarize_with("echo", b"payload", 5) == b"payload"


# The types that callers see: mypy --strict (Debian's, on /usr/bin/python3) on a caller of
# the stub-only package velmar_codec-stubs. VELMAR_INSTALLED_SITE names a folder the package
# was installed into (scripts/check_install.sh: pip install --target); by default the
# source tree's stub is laid out there as pip lays it out.
MYPY = ["/usr/bin/python3", "-m", "mypy"]

# A caller's lines, each with what mypy says of it (None: nothing).
TYPED_CALLER = [
    ("reveal_type(columnarize)", 'note: Revealed type is "def (payload: builtins.bytes, '
                                 'min_rows: builtins.int =) -> builtins.bytes"'),
    ("result: bytes = columnarize(b'[]')", None),
    ("result = columnarize(payload=b'[]', min_rows=5)", None),
    ('columnarize("text")',
     'error: Argument 1 to "columnarize" has incompatible type "str"; expected "bytes"  '
     '[arg-type]'),
    ("columnarize(b'[]', 20.0)",
     'error: Argument 2 to "columnarize" has incompatible type "float"; expected "int"  '
     '[arg-type]'),
    ("text: str = columnarize(b'[]')",
     'error: Incompatible types in assignment (expression has type "bytes", variable has '
     'type "str")  [assignment]'),
]


@pytest.fixture(scope="module")
def typed_site(tmp_path_factory):
    if not os.path.exists(MYPY[0]) or subprocess.run(
            MYPY + ["--version"], capture_output=True).returncode != 0:
        pytest.skip("mypy is not installed for /usr/bin/python3 (Debian: python3-mypy)")
    installed = os.environ.get("VELMAR_INSTALLED_SITE")
    if installed:
        return installed
    site = tmp_path_factory.mktemp("site")
    shutil.copytree(os.path.join(SOURCE_PYTHON, "velmar_codec-stubs"),
                    site / "velmar_codec-stubs")
    return str(site)


def with_path(site):
    path = os.environ.get("PYTHONPATH")
    return dict(os.environ, PYTHONPATH=site + os.pathsep + path if path else site)


def test_mypy_strict_sees_the_signature(typed_site, tmp_path):
    caller = tmp_path / "caller.py"
    caller.write_text("from velmar_codec import columnarize\n"
                      + "".join(line + "\n" for line, _ in TYPED_CALLER))
    # --python-executable: the site folders searched are those of the interpreter that runs
    # this suite, as a caller of the module on that interpreter would name it.
    done = subprocess.run(
        MYPY + ["--strict", "--no-incremental", "--cache-dir", os.devnull,
                "--python-executable", sys.executable, caller.name],
        cwd=tmp_path, env=with_path(typed_site), capture_output=True, text=True, timeout=300)
    said = [line for line in done.stdout.splitlines() if line.startswith("caller.py:")]
    expected = ["caller.py:%d: %s" % (number, outcome)
                for number, (_, outcome) in enumerate(TYPED_CALLER, start=2) if outcome]
    assert said == expected, done.stdout + done.stderr


@pytest.mark.skipif(os.path.realpath(sys.executable) != os.path.realpath(MYPY[0]),
                    reason="stubtest imports the module into mypy's interpreter, "
                           "/usr/bin/python3")
def test_stub_matches_the_module(typed_site):
    # Names, parameter names, kinds and defaults, from the module's text signature.
    done = subprocess.run(MYPY[:2] + ["mypy.stubtest", "velmar_codec"],
                          env=with_path(typed_site), capture_output=True, text=True,
                          timeout=300)
    assert done.returncode == 0, done.stdout + done.stderr

"""The boundary runtime under injected faults (through velmar_testhooks, which runs the
shipped boundary code with other seams): containment of transform failures, the
null-result rule, PanicException and its resumption, error fetching, type-mismatch texts,
object text, and the process-ending paths (run in a child process)."""

import contextlib
import os
import subprocess
import sys
import textwrap

import pytest

PANIC_PREFIX = "internal panic during columnarization: "


@pytest.mark.parametrize("mode, message", [
    ("throw_exception", PANIC_PREFIX + "capacity overflow"),
    ("throw_string", PANIC_PREFIX + "capacity overflow"),
    ("throw_c_string", PANIC_PREFIX + "capacity overflow"),
    ("throw_without_text", PANIC_PREFIX + "unknown panic in columnarize_json"),
    ("transform_error", "boom"),
])
def test_transform_failures_become_runtime_error(hooks, mode, message):
    with pytest.raises(RuntimeError) as info:
        hooks.columnarize_with(mode, b"[]")
    assert type(info.value) is RuntimeError
    assert isinstance(info.value, Exception)
    assert info.value.args == (message,)


def test_library_failure_inside_transform_keeps_its_text(hooks):
    with pytest.raises(RuntimeError) as info:
        hooks.columnarize_with("index_out_of_range", b"[]")
    assert info.value.args[0].startswith(PANIC_PREFIX)
    assert "range" in info.value.args[0]


@pytest.mark.parametrize("payload", [b"", b"[1,\x00,\xff]", bytes(range(256)) * 1000],
                         ids=["empty", "nul and ff", "every byte"])
def test_transform_sees_an_exact_copy_of_the_payload(hooks, payload):
    assert hooks.columnarize_with("echo", payload) == payload


def test_containment_works_after_argument_binding(hooks):
    with pytest.raises(TypeError):
        hooks.columnarize_with("throw_exception", "not bytes")
    with pytest.raises(RuntimeError):
        hooks.columnarize_with("throw_exception", payload=b"[]", min_rows=1)


@contextlib.contextmanager
def recording_unraisable():
    """Collects the exceptions reported through sys.unraisablehook meanwhile (set in the
    test body, inside pytest's own hook for the call)."""
    reported = []
    previous = sys.unraisablehook
    sys.unraisablehook = lambda args: reported.append(args.exc_value)
    try:
        yield reported
    finally:
        sys.unraisablehook = previous


def test_null_result_becomes_panic_exception(hooks, hooks_panic_type):
    with recording_unraisable() as unraisable, pytest.raises(BaseException) as info:
        hooks.columnarize_with("null_result", b"[]")
    assert type(info.value) is hooks_panic_type
    assert not isinstance(info.value, Exception)
    assert info.value.args == ("PyObject pointer is null",)
    # The pending exception of the failed call was reported as unraisable.
    assert [(type(e), e.args) for e in unraisable] == [(MemoryError, ("injected bytes failure",))]


def test_null_result_without_pending_exception(hooks, hooks_panic_type):
    with recording_unraisable() as unraisable, pytest.raises(BaseException) as info:
        hooks.columnarize_with("null_result_silent", b"[]")
    assert type(info.value) is hooks_panic_type
    assert info.value.args == ("PyObject pointer is null",)
    assert unraisable == []


def test_null_result_rule_reports_the_pending_exception(hooks, hooks_panic_type):
    pending = ValueError("left pending")
    with recording_unraisable() as unraisable, pytest.raises(BaseException) as info:
        hooks.null_result(pending)
    assert type(info.value) is hooks_panic_type
    assert info.value.args == ("PyObject pointer is null",)
    assert unraisable == [pending]


def test_panic_exception_type(codec_panic_type, hooks, hooks_panic_type):
    for panic in (codec_panic_type, hooks_panic_type):
        assert panic.__name__ == "PanicException"
        assert panic.__qualname__ == "PanicException"
        assert panic.__module__ == "tessiv_runtime"
        assert panic.__bases__ == (BaseException,)
        assert not issubclass(panic, Exception)
        assert "BaseException" in panic.__doc__ and "SystemExit" in panic.__doc__
    assert hooks.panic_type() is hooks_panic_type


def test_internal_failure_becomes_panic_exception(hooks, hooks_panic_type):
    with pytest.raises(BaseException) as info:
        hooks.panic("could not do the thing")
    assert type(info.value) is hooks_panic_type
    assert info.value.args == ("could not do the thing",)


class RaisesPanic:
    def __init__(self, panic):
        self.panic = panic

    def __index__(self):
        raise self.panic


def test_panic_from_python_is_resumed(columnarize, codec_panic_type, capfd):
    with pytest.raises(BaseException) as info:
        columnarize(b"[]", RaisesPanic(codec_panic_type("raised by __index__")))
    assert type(info.value) is codec_panic_type
    assert info.value.args == ("raised by __index__",)
    err = capfd.readouterr().err
    assert "Python stack trace below:" in err
    assert "raised by __index__" in err


def test_resumed_panic_with_unprintable_message(columnarize, codec_panic_type):
    class Unprintable(codec_panic_type):
        pass

    # A subclass is not resumed: it passes through like any other exception.
    with pytest.raises(Unprintable):
        columnarize(b"[]", RaisesPanic(Unprintable("sub")))

    panic = codec_panic_type(object())
    panic.args = (BrokenStrAndRepr(),)
    with pytest.raises(BaseException) as info:
        columnarize(b"[]", RaisesPanic(panic))
    assert type(info.value) is codec_panic_type
    assert info.value.args == ("Unwrapped panic from Python code",)


class BrokenStr:
    def __str__(self):
        raise ValueError("no text")


class BrokenStrAndRepr(BrokenStr):
    def __repr__(self):
        raise ValueError("no repr")


def test_fetch_with_nothing_pending(hooks):
    with pytest.raises(SystemError) as info:
        hooks.fetch_nothing()
    assert type(info.value) is SystemError
    assert info.value.args == ("attempted to fetch exception but none was set",)


class Widget:
    class Part:
        pass


@pytest.mark.parametrize("obj, expected, message", [
    (bytearray(), bytes, "'bytearray' object is not an instance of 'bytes'"),
    (None, bytes, "'None' is not an instance of 'bytes'"),
    ("x", bytes, "'str' object is not an instance of 'bytes'"),
    (1, type(None), "'int' object is not an instance of 'None'"),
    (None, type(None), "'None' is not an instance of 'None'"),
    (Widget.Part(), list, "'Widget.Part' object is not an instance of 'list'"),
    (3, Widget.Part, "'int' object is not an instance of 'Widget.Part'"),
])
def test_cast_error_messages(hooks, obj, expected, message):
    with pytest.raises(TypeError) as info:
        hooks.raise_cast_error(obj, expected)
    assert type(info.value) is TypeError
    assert info.value.args == (message,)


@pytest.mark.parametrize("obj, text", [
    ("plain", "plain"),
    ("caf\u00e9 \U0001f600", "caf\u00e9 \U0001f600"),
    ("\ud800", "\ufffd\ufffd\ufffd"),
    ("a\udfffb", "a\ufffd\ufffd\ufffdb"),
    (12, "12"),
    (BrokenStr(), "<unprintable BrokenStr object>"),
    (BrokenStrAndRepr(), "<unprintable BrokenStrAndRepr object>"),
], ids=["ascii", "non-ascii", "lone surrogate", "surrogate inside", "int", "broken str",
        "broken str and repr"])
def test_object_text(hooks, obj, text):
    with recording_unraisable():
        assert hooks.object_text(obj) == text


@pytest.mark.parametrize("obj", [BrokenStr(), BrokenStrAndRepr()], ids=["str", "str and repr"])
def test_unprintable_object_is_reported(hooks, obj):
    with recording_unraisable() as unraisable:
        hooks.object_text(obj)
    assert [(type(e), e.args) for e in unraisable] == [(ValueError, ("no text",))]


def run_child(code):
    env = dict(os.environ, PYTHONDONTWRITEBYTECODE="1")
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=env,
                          capture_output=True, text=True, timeout=120)


ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")


def test_bad_alloc_in_transform_ends_the_process():
    child = run_child("""
        import velmar_testhooks
        try:
            velmar_testhooks.columnarize_with("throw_bad_alloc", b"[]")
        except BaseException as error:
            print("contained", type(error).__name__)
    """)
    assert child.returncode != 0
    assert "contained" not in child.stdout
    assert "memory allocation failed" in child.stderr


@pytest.mark.skipif(ASAN, reason="the sanitizer allocator reports huge requests itself")
def test_failed_allocation_ends_the_process_with_its_size():
    child = run_child("""
        import velmar_testhooks
        try:
            velmar_testhooks.allocate(1 << 46)
        except BaseException as error:
            print("contained", type(error).__name__)
    """)
    assert child.returncode < 0
    assert "contained" not in child.stdout
    assert "memory allocation of 70368744177664 bytes failed" in child.stderr


@pytest.mark.skipif(ASAN, reason="address-space limits do not work under the sanitizer")
def test_payload_copy_that_cannot_be_allocated_ends_the_process():
    # The copy is made before the transform: with the address space capped just above
    # what the process uses, copying a 256 MiB payload fails with that exact size and the
    # 16 bytes of padding that follow the copy. (The
    # first call lets the interpreter make its own native view of the bytes object.)
    child = run_child("""
        import resource, velmar_codec
        payload = b"[" + b" " * (256 << 20) + b"]"
        velmar_codec.columnarize(payload)
        with open("/proc/self/statm") as statm:
            used = int(statm.read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (used + (64 << 20), resource.RLIM_INFINITY))
        try:
            velmar_codec.columnarize(payload)
        except BaseException as error:
            print("contained", type(error).__name__)
    """)
    assert child.returncode < 0, child.stdout + child.stderr
    assert "contained" not in child.stdout
    assert "memory allocation of %d bytes failed" % ((256 << 20) + 2 + 16) in child.stderr, child.stderr


def test_first_use_from_many_threads_makes_one_type():
    # A fresh process: the type does not exist yet when the threads start.
    child = run_child("""
        import threading, velmar_testhooks
        barrier = threading.Barrier(8)
        seen = []
        def first_use():
            barrier.wait()
            seen.append(velmar_testhooks.panic_type())
        threads = [threading.Thread(target=first_use) for _ in range(8)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        print(len(seen), len(set(map(id, seen))), seen[0].__name__)
    """)
    assert (child.returncode, child.stdout) == (0, "8 1 PanicException\n"), child.stderr

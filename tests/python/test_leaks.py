"""No call keeps anything alive: after any call, success or failure, its arguments, what
__index__ handed back, the exception it raised, the private copy of the payload and the
result buffer are all gone.

References are checked with weak references, which die after gc.collect() unless native
code still holds a reference. Native memory is checked with a few calls on a payload of
several megabytes, so that one leaked buffer per call dwarfs anything else that moves
the process size."""

import gc
import resource
import sys
import weakref

import pytest


# bytes, int and str objects take no weak references; instances of their subclasses do.
class Payload(bytes):
    pass


class Text(str):
    pass


class Count(int):
    pass


class Ratio(float):
    pass


class Opaque:
    pass


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class NotedError(Exception):
    def __init__(self, *args):
        super().__init__(*args)
        self.notes = []

    def add_note(self, note):
        self.notes.append(note)


class RaisingIndex:
    def __init__(self, baggage):
        self.baggage = baggage

    def __index__(self):
        raise NotedError("no index", self.baggage)


ROWS = b'[{"a":1,"b":"x"},{"a":1,"b":"y"}]'

# Each row makes the arguments of one call: (name, args, kwargs).
CALLS = [
    ("result", lambda: ((Payload(ROWS), Count(5)), {})),
    ("result by keywords", lambda: ((), {"payload": Payload(ROWS), "min_rows": Index(Count(7))})),
    ("malformed payload", lambda: ((Payload(b'[{"a":1}'),), {})),
    ("row that is not an object", lambda: ((Payload(b'[{"a":1},[7]]'),), {})),
    ("payload of another type", lambda: ((Text("[]"), Count(1)), {})),
    ("negative min_rows", lambda: ((Payload(ROWS), Count(-1)), {})),
    ("min_rows too large", lambda: ((Payload(ROWS), Index(Count(2**64))), {})),
    ("min_rows without __index__", lambda: ((Payload(ROWS), Opaque()), {})),
    ("__index__ returns no int", lambda: ((Payload(ROWS), Index(Ratio(1.5))), {})),
    ("__index__ raises", lambda: ((Payload(ROWS), RaisingIndex(Opaque())), {})),
    ("too many arguments", lambda: ((Payload(ROWS), Count(1), Opaque()), {})),
    ("unexpected keyword", lambda: ((Payload(ROWS),), {"bogus": Opaque()})),
    ("multiple values", lambda: ((Payload(ROWS),), {"payload": Payload(ROWS)})),
]


def reachable_objects(args, kwargs):
    """The arguments and the objects they hand to the call, by a name for the report."""
    found = [("args[%d]" % i, a) for i, a in enumerate(args)]
    found += [("kwargs[%r]" % k, v) for k, v in kwargs.items()]
    found += [(name + ".value", o.value) for name, o in found if isinstance(o, Index)]
    found += [(name + ".baggage", o.baggage) for name, o in found if isinstance(o, RaisingIndex)]
    return found


class Counted:
    """Stands in for a weak reference where the object takes none (CPython's bytes, int and
    str subclasses): the object's reference count, which CPython keeps exactly, must be
    back at its baseline after the call, while the test still holds what it held."""

    def __init__(self, target):
        self.target = target
        self.baseline = None

    def rebase(self):
        self.baseline = sys.getrefcount(self.target)

    def __call__(self):
        return self.target if sys.getrefcount(self.target) > self.baseline else None


def tracker(target):
    try:
        return weakref.ref(target)
    except TypeError:
        return Counted(target)


def alive(references):
    return [name for name, ref in references if ref() is not None]


@pytest.mark.filterwarnings("ignore::DeprecationWarning")  # __index__ returning Count
@pytest.mark.parametrize("name, make", CALLS, ids=[row[0] for row in CALLS])
def test_call_keeps_no_reference(columnarize, name, make):
    args, kwargs = make()
    references = [(n, tracker(o)) for n, o in reachable_objects(args, kwargs)]
    counted = [(n, ref) for n, ref in references if isinstance(ref, Counted)]
    weak = [(n, ref) for n, ref in references if not isinstance(ref, Counted)]
    del references
    for _, ref in counted:
        ref.rebase()
    raised = None
    try:
        columnarize(*args, **kwargs)
    except (RuntimeError, TypeError, OverflowError, NotedError) as error:
        raised = error
    assert alive(counted) == []
    if raised is not None:
        try:
            weak.append(("the %s raised" % type(raised).__name__, weakref.ref(raised)))
        except TypeError:
            # A built-in exception on CPython: `raised` and getrefcount's argument are
            # the only references left once the handler is done.
            assert sys.getrefcount(raised) == 2, type(raised)
        raised = None
    del args, kwargs
    for _ in range(2):
        gc.collect()
    assert alive(weak) == []


def big_rows(rows):
    """A payload whose result is nearly as large as itself: long varying values, short keys."""
    return b"[" + b",".join(b'{"s":"%048d","n":%d}' % (i, i) for i in range(rows)) + b"]"


def resident_bytes():
    # statm counts pages, of the machine's own size (4 KB on x86-64, 16 or 64 KB elsewhere).
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * resource.getpagesize()


def test_native_buffers_are_freed_after_every_call(columnarize):
    valid = big_rows(60_000)  # about 4 MB, with a result of about 3.5 MB
    size = len(valid)
    # Both failures come at the end, after the whole payload has been read.
    payloads = [valid, valid[:-1] + b",}", valid[:-1] + b",7]"]

    def one_round(i):
        for payload in payloads:
            try:
                columnarize(payload + b" " * (i % 5))  # a fresh object each call
            except RuntimeError:
                pass
        gc.collect()

    # The first rounds size the allocators' pools to these payloads (PyPy's heap, malloc's
    # arenas, a sanitizer's quarantine). After that a pool still grows in steps, at rounds
    # that depend on the allocators, with flat rounds between; buffers kept per call would
    # grow every round. So the median round decides: up to four steps cannot move it.
    for i in range(3):
        one_round(i)
    steps = []
    for i in range(10):
        start = resident_bytes()
        one_round(i)
        steps.append(resident_bytes() - start)
    median = sorted(steps)[len(steps) // 2]
    # Kept per call, the private copies would add 3 payloads a round, the result objects
    # about 1.7 and the result buffers alone about 0.9.
    assert median < size / 2, (median, size, steps)

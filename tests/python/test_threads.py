"""The interpreter lock is released around the transform: a Python thread runs while a
transform waits for it, and two calls are in the transform at once, both proven by
handshakes that time out with an error rather than by timing. Concurrent calls give the
results of sequential calls, and the transform's recursion fits a small thread stack at
the nesting limit."""

import threading

import pytest

ROW = (b'{"id":%d,"name":"widget number one","price":12.5,"tags":["a","b"],'
       b'"ok":true,"note":null,"region":"north"}')

ROWS = b'[{"a":1,"b":2},{"a":1,"b":3}]'
ROWS_RESULT = b'{"columns":["b"],"rows":[[2],[3]],"constants":{"a":1}}'
DISJOINT = b'[{"x":1},{"y":2}]'
DISJOINT_RESULT = b'{"columns":["x","y"],"rows":[[1,null],[null,2]],"constants":{}}'


def outcome(function, *args):
    """What the call returns, or the type and arguments of the exception it raises."""
    try:
        return function(*args)
    except Exception as error:
        return type(error), error.args


def run_in_threads(function, arguments):
    """Calls function(argument) for each argument on a thread of its own; the outcomes."""
    results = [None] * len(arguments)

    def call(i):
        results[i] = outcome(function, arguments[i])

    threads = [threading.Thread(target=call, args=(i,)) for i in range(len(arguments))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return results


def test_python_thread_runs_while_the_transform_waits_for_it(hooks):
    # The transform waits for signal_transform, which only a thread holding the lock can
    # call. Had the call kept the lock, this thread could not run until the transform gave
    # up with "lock not released".
    results = []
    worker = threading.Thread(target=lambda: results.append(
        outcome(hooks.columnarize_with, "after_signal", ROWS)))
    worker.start()
    try:
        hooks.wait_for_transform()
        hooks.signal_transform()
    finally:
        worker.join()
    assert results == [ROWS_RESULT]


def test_two_calls_are_in_the_transform_at_once(hooks):
    # Each transform waits for the other to arrive: a call holding the lock would keep the
    # other out of the call, and both would give up with "lock not released".
    results = run_in_threads(lambda payload: hooks.columnarize_with("after_rendezvous", payload),
                             [ROWS, DISJOINT])
    assert results == [ROWS_RESULT, DISJOINT_RESULT]


def test_concurrent_calls_give_the_results_of_sequential_calls(columnarize):
    inputs = [b"[" + b",".join(ROW % (k * 7 + i % (k + 2)) for i in range(200 + k)) + b"]"
              for k in range(8)]
    inputs += [b"[1]", b"", b'[{"a":1},{"a":1}]', b"[{"]
    expected = []
    for payload in inputs:
        try:
            expected.append(columnarize(payload))
        except RuntimeError as error:
            expected.append(error.args)
    failures = []

    def worker(offset):
        for round_ in range(30):
            i = (offset + round_) % len(inputs)
            try:
                got = columnarize(inputs[i])
            except RuntimeError as error:
                got = error.args
            if got != expected[i]:
                failures.append((i, got))

    threads = [threading.Thread(target=worker, args=(k,)) for k in range(6)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []


# MARK: stack bounds

SMALL_STACK = 256 * 1024
MAX_LEVELS = 127  # of arrays and objects, the top-level array counted


def nested(levels, first, inner=b"1"):
    """`levels` containers around `inner`, arrays and objects alternating from `first`."""
    opening = {b"[": b"[", b"{": b'{"k":'}
    closing = {b"[": b"]", b"{": b"}"}
    kinds = [(first, b"{" if first == b"[" else b"[")[i % 2] for i in range(levels)]
    return (b"".join(opening[k] for k in kinds) + inner
            + b"".join(closing[k] for k in reversed(kinds)))


def on_small_stack(function, *args):
    """The outcome of function(*args) on a new thread with a 256 KB stack: the transform
    reads, compares, copies, writes and frees the value tree on the calling thread."""
    results = []
    previous = threading.stack_size(SMALL_STACK)
    try:
        thread = threading.Thread(target=lambda: results.append(outcome(function, *args)))
        thread.start()
    finally:
        threading.stack_size(previous)
    thread.join()
    return results[0]


# A cell opens at level 3, inside the top-level array and its row.
CELL = nested(MAX_LEVELS - 2, b"[")
OTHER_CELL = nested(MAX_LEVELS - 2, b"[", inner=b"2")  # differs only at the deepest level
MEMBER = nested(MAX_LEVELS - 2, b"{")
ELEMENT = nested(MAX_LEVELS - 1, b"[")  # an element opens at level 2


@pytest.mark.parametrize("payload, result", [
    # Varying cells, compared down to their deepest level.
    (b'[{"c":%s},{"c":%s}]' % (CELL, OTHER_CELL),
     b'{"columns":["c"],"rows":[[%s],[%s]],"constants":{}}' % (CELL, OTHER_CELL)),
    # A constant: the member value kept from row 0.
    (b'[{"c":%s,"v":1},{"c":%s,"v":2}]' % (MEMBER, MEMBER),
     b'{"columns":["v"],"rows":[[1],[2]],"constants":{"c":%s}}' % MEMBER),
], ids=["cells", "constant"])
def test_nesting_limit_fits_a_small_stack(columnarize, payload, result):
    assert on_small_stack(columnarize, payload) == result


@pytest.mark.parametrize("payload, message", [
    (b"[%s]" % ELEMENT, "expected a JSON object row, got: " + ELEMENT.decode()),
    # One level more fails at the opening bracket of level 128, however deep the text goes.
    (b"[" * 300_000, "invalid row-oriented JSON: recursion limit exceeded at line 1 column 128"),
    (b"[\n" * 200_000,  # level 128 opens on line 128, after the LF of line 127
     "invalid row-oriented JSON: recursion limit exceeded at line 128 column 1"),
    (b'[{"k":' * 100_000,  # level 2n opens at offset 6n - 5: level 128 at offset 379
     "invalid row-oriented JSON: recursion limit exceeded at line 1 column 380"),
], ids=["element", "arrays", "lines", "objects"])
def test_nesting_failures_fit_a_small_stack(columnarize, payload, message):
    assert on_small_stack(columnarize, payload) == (RuntimeError, (message,))

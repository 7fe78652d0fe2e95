"""Many calls, successes and every kind of failure, leave the process size flat: no call
keeps its payload copy, its result buffer, an argument or an exception alive."""

import gc


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4096


class NotedError(Exception):
    def add_note(self, note):
        pass


class RaisesNoted:
    def __init__(self, baggage):
        self.baggage = baggage

    def __index__(self):
        raise NotedError("no index", self.baggage)  # a leaked exception keeps the baggage


def fresh(template, i):
    """A new object for every call (an object kept alive by a missing release shows)."""
    return template + b" " * (i % 7)


ROWS = b"[" + b",".join(b'{"id":%d,"name":"n%d","c":1,"z":null}' % (i, i) for i in range(80)) + b"]"
BAD_JSON = ROWS[:-1] + b",}"
BAD_SHAPE = ROWS[:-1] + b",7]"


def one_round(columnarize, i):
    kind = i % 10
    try:
        if kind == 0:
            columnarize(fresh(ROWS, i))
        elif kind == 1:
            columnarize(fresh(BAD_JSON, i))
        elif kind == 2:
            columnarize(fresh(BAD_SHAPE, i))
        elif kind == 3:
            columnarize(fresh(ROWS, i), 1, 2)
        elif kind == 4:
            columnarize(fresh(ROWS, i), minrows=1)
        elif kind == 5:
            columnarize(fresh(ROWS, i).decode())
        elif kind == 6:
            columnarize(fresh(ROWS, i), -1)
        elif kind == 7:
            columnarize(fresh(ROWS, i), None)
        elif kind == 8:
            columnarize(fresh(ROWS, i), RaisesNoted(fresh(ROWS, i)))
        else:
            columnarize(payload=fresh(ROWS, i), min_rows=2**64 - 1)
    except (RuntimeError, TypeError, OverflowError, NotedError):
        pass


def test_rss_stays_flat(columnarize):
    for i in range(20_000):
        one_round(columnarize, i)
    gc.collect()
    before = resident_bytes()
    for i in range(100_000):
        one_round(columnarize, i)
    gc.collect()
    grown = resident_bytes() - before
    # A leak of any one kind keeps 10,000 payload-sized objects (about 3 KB each) or
    # their copies: 30 MB or more.
    assert grown < 24 << 20, grown

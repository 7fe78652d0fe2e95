#!/usr/bin/env pypy3
"""Columnarize one generated payload of about a gigabyte, check the result against the
expected bytes, and report the time and the peak resident size. Not part of CI.

    PYTHONPATH=<build>/src/module pypy3 scripts/big_input.py [--gigabytes 1.0]

The payload and the expected result are written by the same deterministic row numbering
but separately: the payload in its input form (escapes, doubles as written by hand, a
member that is null in every row), the result in the writer's compact form. The result is
compared chunk by chunk as the expected bytes are generated, so the check needs no second
gigabyte."""

import argparse
import resource
import sys
import time

import velmar_codec

BLOB = b"0123456789abcdefghijklmnopqrstuvwxyz" * 5
ROW = (b'{"id":%d,"code":"C%07d","label":"item \\"%d\\"\\t\\u00e9","price":%d.25,'
       b'"ratio":%de-7,"tags":["x",%d,null],"flag":%s,"note":null,"region":"north",'
       b'"blob":"%s-%d"}')
CELLS = (b'[%d,"C%07d","item \\"%d\\"\\t\xc3\xa9",%d.25,%de-7,["x",%d,null],%s,"%s-%d"]')
HEAD = b'{"columns":["id","code","label","price","ratio","tags","flag","blob"],"rows":['
TAIL = b'],"constants":{"region":"north"}}'
CHUNK_ROWS = 10_000


def fields(i):
    return (i, i * 13 % 10**7, i, i % 100_000, i % 9 + 1, i % 1000,
            b"true" if i % 2 else b"false", BLOB, i)


def payload_chunks(rows):
    for start in range(0, rows, CHUNK_ROWS):
        chunk = b",".join(ROW % fields(i) for i in range(start, min(rows, start + CHUNK_ROWS)))
        yield (b"[" if start == 0 else b",") + chunk
    yield b"]"


def expected_chunks(rows):
    yield HEAD
    for start in range(0, rows, CHUNK_ROWS):
        chunk = b",".join(CELLS % fields(i) for i in range(start, min(rows, start + CHUNK_ROWS)))
        yield (b"" if start == 0 else b",") + chunk
    yield TAIL


def first_difference(result, rows):
    """None when the result is the expected bytes, else the offset of the first difference."""
    position = 0
    for chunk in expected_chunks(rows):
        if result[position:position + len(chunk)] != chunk:
            here = result[position:position + len(chunk)]
            return position + next((k for k, (a, b) in enumerate(zip(here, chunk)) if a != b),
                                   min(len(here), len(chunk)))
        position += len(chunk)
    return None if position == len(result) else position


def peak_resident_mb():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024  # KB on Linux


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--gigabytes", type=float, default=1.0)
    args = parser.parse_args()
    row_size = len(ROW % fields(5_000_000)) + 1
    rows = int(args.gigabytes * 1e9 / row_size)

    started = time.monotonic()
    payload = b"".join(payload_chunks(rows))
    generated = time.monotonic()
    print("payload: %d rows, %.3f GB, generated in %.1f s (peak resident so far %.0f MB)"
          % (rows, len(payload) / 1e9, generated - started, peak_resident_mb()))

    result = velmar_codec.columnarize(payload)
    done = time.monotonic()
    print("columnarize: %.1f s, %.0f MB/s, result %.3f GB"
          % (done - generated, len(payload) / 1e6 / (done - generated), len(result) / 1e9))
    print("peak resident: %.0f MB" % peak_resident_mb())

    difference = first_difference(result, rows)
    if difference is not None:
        print("WRONG result from byte %d: %r" % (difference, result[difference:difference + 80]))
        return 1
    print("result checked: the expected bytes (%.1f s)" % (time.monotonic() - done))
    return 0


if __name__ == "__main__":
    sys.exit(main())

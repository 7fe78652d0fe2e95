#!/usr/bin/env pypy3
"""How much two threads gain by calling columnarize at once: the wall time of two calls on
two threads over the wall time of the same two calls on one thread (0.5 with a free
second core, 1.0 when nothing overlaps). Run by hand, with the built module on PYTHONPATH:

    PYTHONPATH=build-rel/src/module pypy3 benchmarks/python/threads_bench.py

The payload is generated: 100,000 rows, about 40 MB. Every call gets a fresh bytes object,
as real callers do, so that the interpreter's native view of the payload is made anew."""

import argparse
import threading
import time

import velmar_codec

COMMENT = b"a remark long enough to make the row look like a real record; " * 4
ROW = (b'{"id":%d,"sku":"SKU-%08d","name":"widget %d","price":%d.5,"qty":%d,'
       b'"tags":["alpha","beta"],"ok":true,"note":null,"region":"north","comment":"%s %d"}')
CELLS = b'[%d,"SKU-%08d","widget %d",%d.5,%d,"%s %d"]'


def row_values(i):
    return i, i * 7, i, i % 1000, i % 97


def generate(rows):
    """The payload and its expected result, written independently of each other."""
    payload = b"[" + b",".join(ROW % (*row_values(i), COMMENT, i) for i in range(rows)) + b"]"
    result = (b'{"columns":["id","sku","name","price","qty","comment"],"rows":['
              + b",".join(CELLS % (*row_values(i), COMMENT, i) for i in range(rows))
              + b'],"constants":{"tags":["alpha","beta"],"ok":true,"region":"north"}}')
    return payload, result


def fresh(payload, k):
    return payload + b" " * (k % 3)  # a new object of (nearly) the same text


def one_thread(payloads):
    started = time.perf_counter()
    for payload in payloads:
        velmar_codec.columnarize(payload)
    return time.perf_counter() - started


def two_threads(payloads):
    start = threading.Barrier(3)

    def call(payload):
        start.wait()
        velmar_codec.columnarize(payload)

    threads = [threading.Thread(target=call, args=(p,)) for p in payloads]
    for thread in threads:
        thread.start()
    start.wait()
    started = time.perf_counter()
    for thread in threads:
        thread.join()
    return time.perf_counter() - started


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--rows", type=int, default=100_000)
    parser.add_argument("--repeats", type=int, default=5, help="best of this many runs")
    args = parser.parse_args()

    payload, expected = generate(args.rows)
    if velmar_codec.columnarize(fresh(payload, 1)) != expected:
        raise SystemExit("wrong result: nothing timed")
    sequential, parallel = [], []
    for k in range(args.repeats):
        sequential.append(one_thread([fresh(payload, 2 * k), fresh(payload, 2 * k + 1)]))
        parallel.append(two_threads([fresh(payload, 2 * k), fresh(payload, 2 * k + 1)]))
    print("payload: %d rows, %.1f MB" % (args.rows, len(payload) / 1e6))
    print("two calls on one thread:  best %.3f s" % min(sequential))
    print("two calls on two threads: best %.3f s" % min(parallel))
    print("two threads over one: %.2f (0.5 is full overlap, 1.0 none)"
          % (min(parallel) / min(sequential)))


if __name__ == "__main__":
    main()

#!/usr/bin/env pypy3
"""velmar_codec.columnarize against the same transform in pure Python, in one process.

For every payload (the generated ones, printed by the C++ benchmarks' velmar_bench_payload
tool, and the real ones of the bench-data folder when it is there) it reports the throughput
of the module and of a pure-Python implementation (json.loads, the derivation in Python,
compact json.dumps) and their ratio; then the geometric mean of the ratio over the payloads
of 40 KB and more, the time of one 20-row call from Python, two threads against one on the
100,000-row payload, and the extra peak memory of one call as a multiple of the payload.

Every timed call gets a fresh bytes object, as real callers pass: PyPy keeps the C copy of a
bytes object once it has been passed to C, so calling again with the same object would hide
the cost of making that copy. Results are checked before anything is timed: the module's
against the generator's expected bytes, the pure-Python one's against the module's.

Runs under PyPy and CPython alike; the module is found on PYTHONPATH:

    PYTHONPATH=build-bench/src/module pypy3 benchmarks/python/module_bench.py --json out.json
"""

import argparse
import gc
import json
import os
import platform
import re
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DEFAULT_TOOL = os.path.join(ROOT, "build-bench", "benchmarks", "velmar_bench_payload")
DEFAULT_DATA_DIR = os.path.join(os.path.dirname(ROOT), "shared", "bench-data")

# The real payloads, smallest first (the C++ benchmarks use the same list).
REAL_PAYLOADS = [
    "real_twitter_timeline", "real_github_events", "real_apache_builds_jobs",
    "real_random_users", "real_update_center_plugins", "real_twitterescaped_statuses",
    "real_twitter_statuses", "real_citm_performances", "real_gsoc2018_projects",
    "real_geonames_cities",
]
SMALL_CALL = "gen_call_20"
THREADS_PAYLOAD = "gen_listing_100000"
GEOMEAN_MIN_BYTES = 40 * 1000
PEAK_MIN_BYTES = 1000 * 1000


# ---------------------------------------------------------------------------------------
# The transform in pure Python

def same_nested(a, b):
    """Nested values: same kind and representation ([1] is not [1.0], True is not 1),
    object members in any order."""
    if type(a) is not type(b):
        return False
    if type(a) is dict:
        if len(a) != len(b):
            return False
        for key, value in a.items():
            if key not in b or not same_nested(value, b[key]):
                return False
        return True
    if type(a) is list:
        return len(a) == len(b) and all(same_nested(x, y) for x, y in zip(a, b))
    return a == b


NUMBER_TYPES = (int, float)


def same_cell(a, b):
    """Top-level values: numbers by exact value (Python compares int with float exactly, so
    2**53 + 1 != 2.0**53), everything else as same_nested."""
    if type(a) in NUMBER_TYPES and type(b) in NUMBER_TYPES:
        return a == b
    return same_nested(a, b)


def columnarize_python(payload):
    """The transform's rules, written plainly. Integers beyond 64 bits stay exact here while
    the module reads them as doubles; the payloads measured here have none."""
    rows = json.loads(payload)
    if type(rows) is not list:
        raise ValueError("expected a JSON array")
    order = {}
    for row in rows:
        if type(row) is not dict:
            raise ValueError("expected a JSON object row")
        order.update(row)  # keys keep their place of first appearance
    varying = []
    constants = {}
    for key in order:
        values = [row.get(key) for row in rows]
        if all(v is None for v in values):
            continue
        first = values[0]
        if (len(rows) >= 2 and first is not None
                and all(v is not None and same_cell(v, first) for v in values[1:])):
            constants[key] = first
        else:
            varying.append(key)
    doc = {"columns": varying,
           "rows": [[row.get(key) for key in varying] for row in rows],
           "constants": constants}
    return json.dumps(doc, ensure_ascii=False, separators=(",", ":")).encode("utf-8")


def same_written(a, b):
    """Two results as documents: member order kept, ints against ints, floats by value."""
    if type(a) is not type(b):
        return False
    if type(a) is dict:
        return list(a) == list(b) and all(same_written(a[k], b[k]) for k in a)
    if type(a) is list:
        return len(a) == len(b) and all(same_written(x, y) for x, y in zip(a, b))
    return a == b


# ---------------------------------------------------------------------------------------
# Payloads

def fresh(payload):
    """A new bytes object with the same content, made outside the timed region."""
    copy = bytes(bytearray(payload))
    assert copy is not payload
    return copy


def load_payloads(args):
    """[(name, payload, expected or None)], generated first, then the real ones found."""
    out = []
    if not os.access(args.payload_tool, os.X_OK):
        raise SystemExit("no payload tool at %s: build the benchmarks "
                         "(-DVELMAR_BUILD_BENCHMARKS=ON) or pass --payload-tool"
                         % args.payload_tool)
    names = subprocess.run([args.payload_tool, "--list"], check=True,
                           stdout=subprocess.PIPE).stdout.decode().split()
    for name in names:
        payload = subprocess.run([args.payload_tool, name], check=True,
                                 stdout=subprocess.PIPE).stdout
        expected = subprocess.run([args.payload_tool, name, "--expected"], check=True,
                                  stdout=subprocess.PIPE).stdout
        out.append((name, payload, expected))
    missing = []
    for name in REAL_PAYLOADS:
        path = os.path.join(args.data_dir, name + ".json")
        if os.path.exists(path):
            with open(path, "rb") as f:
                out.append((name, f.read(), None))
        else:
            missing.append(name)
    if missing:
        print("real payloads not in %s, left out: %s" % (args.data_dir, ", ".join(missing)),
              file=sys.stderr)
    if args.only:
        out = [p for p in out if re.search(args.only, p[0])]
    return out


def check(name, payload, expected, columnarize):
    """The module's result must be the expected bytes (generated payloads) and the pure-Python
    result the same document; returns "identical" or "same document" (number texts differ,
    e.g. Python's 1e-07 against the module's 1e-7). Stops the run on any mismatch."""
    ours = columnarize(fresh(payload))
    if expected is not None and ours != expected:
        raise SystemExit("%s: module result differs from the generator's expected bytes" % name)
    theirs = columnarize_python(fresh(payload))
    if theirs == ours:
        return "identical"
    if same_written(json.loads(ours), json.loads(theirs)):
        return "same document"
    raise SystemExit("%s: pure-Python result is another document than the module's" % name)


# ---------------------------------------------------------------------------------------
# Timing

def median_call_seconds(fn, payload, min_time, min_calls, max_calls):
    """Median wall time of one call, each on a fresh bytes object. The previous call's garbage
    is collected before each timed call, so that no call pays for another's."""
    fn(fresh(payload))  # warm-up: imports, JIT traces, first-touch of allocator pools
    fn(fresh(payload))
    times = []
    started = time.perf_counter()
    while len(times) < min_calls or (time.perf_counter() - started < min_time
                                     and len(times) < max_calls):
        data = fresh(payload)
        gc.collect()
        t0 = time.perf_counter()
        fn(data)
        times.append(time.perf_counter() - t0)
    return statistics.median(times)


def small_call_microseconds(columnarize, payload, calls):
    """Median of single calls, the call boundary included (argument checks, the copy into
    native memory, the result object)."""
    for _ in range(200):
        columnarize(fresh(payload))
    times = []
    for _ in range(calls):
        data = fresh(payload)
        t0 = time.perf_counter()
        columnarize(data)
        times.append(time.perf_counter() - t0)
    return statistics.median(times) * 1e6


def two_threads_against_one(columnarize, payload, repeats):
    """Wall time of two calls on one thread over the same two calls on two threads started
    together: the throughput of two threads over one (2.0 when both cores work in full)."""
    def one_thread(datas):
        t0 = time.perf_counter()
        for data in datas:
            columnarize(data)
        return time.perf_counter() - t0

    def two_threads(datas):
        start = threading.Barrier(len(datas) + 1)

        def call(data):
            start.wait()
            columnarize(data)

        threads = [threading.Thread(target=call, args=(d,)) for d in datas]
        for t in threads:
            t.start()
        start.wait()
        t0 = time.perf_counter()
        for t in threads:
            t.join()
        return time.perf_counter() - t0

    sequential, parallel = [], []
    for _ in range(repeats):
        gc.collect()
        sequential.append(one_thread([fresh(payload), fresh(payload)]))
        gc.collect()
        parallel.append(two_threads([fresh(payload), fresh(payload)]))
    # The best of each: on a shared machine the slower runs measure the neighbours.
    return min(sequential), min(parallel)


# ---------------------------------------------------------------------------------------
# Peak memory, in a fresh interpreter per payload

def peak_rss_bytes():
    """The high-water mark of resident memory: VmHWM from /proc, else ru_maxrss (kilobytes on
    Linux). ru_maxrss alone can start at the parent's size, which a forked child inherits."""
    try:
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    import resource
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def reset_peak_rss():
    """Brings the high-water mark down to the current resident size (Linux 4.0 and later), so
    that loading the payload does not hide the call's own peak."""
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        return True
    except OSError:
        return False


def measure_memory_child(path):
    """Runs in the child: after a warm-up call on a small payload (module loaded, JIT and
    allocator pools started), the growth of peak RSS over one call on the payload read from
    `path`. It includes everything the call touches: the native copy of the bytes object
    (PyPy makes one; CPython passes its buffer), the arena with the value tree and the row
    matrix, the result text, and the result bytes object. The payload's own bytes object
    was made before the baseline and is not included."""
    import velmar_codec
    velmar_codec.columnarize(b'[{"a":1,"b":[1,2]},{"a":1,"b":[3]},{"a":2}]')
    with open(path, "rb") as f:
        payload = f.read()
    data = fresh(payload)
    gc.collect()
    reset_peak_rss()
    before = peak_rss_bytes()
    result = velmar_codec.columnarize(data)
    after = peak_rss_bytes()
    print(json.dumps({"before": before, "after": after, "payload": len(data),
                      "result": len(result)}))


def extra_peak_multiple(path):
    out = subprocess.run([sys.executable, os.path.abspath(__file__), "--memory-child", path],
                         check=True, stdout=subprocess.PIPE).stdout
    m = json.loads(out.decode())
    return (m["after"] - m["before"]) / m["payload"]


# ---------------------------------------------------------------------------------------

def interpreter():
    impl = platform.python_implementation()
    version = platform.python_version()
    if impl == "PyPy":
        v = sys.pypy_version_info
        return "PyPy %d.%d.%d (Python %s)" % (v.major, v.minor, v.micro, version)
    return "%s %s" % (impl, version)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--payload-tool", default=os.environ.get("VELMAR_BENCH_PAYLOAD_TOOL",
                                                                 DEFAULT_TOOL))
    parser.add_argument("--data-dir", default=os.environ.get("VELMAR_BENCH_DATA_DIR",
                                                             DEFAULT_DATA_DIR))
    parser.add_argument("--only", help="regular expression: payload names to run")
    parser.add_argument("--min-time", type=float, default=2.0,
                        help="seconds of timed calls per payload and implementation")
    parser.add_argument("--min-calls", type=int, default=5)
    parser.add_argument("--small-calls", type=int, default=5000,
                        help="calls timed one by one for the 20-row figure")
    parser.add_argument("--thread-repeats", type=int, default=5)
    parser.add_argument("--json", metavar="FILE", help="also write the figures as JSON")
    parser.add_argument("--memory-child", metavar="PATH", help=argparse.SUPPRESS)
    args = parser.parse_args()

    if args.memory_child:
        measure_memory_child(args.memory_child)
        return

    import velmar_codec
    columnarize = velmar_codec.columnarize
    print("interpreter: %s (%s)" % (interpreter(), sys.executable))
    print("module: %s" % velmar_codec.__file__)
    payloads = load_payloads(args)

    results = []
    print("\n%-32s %12s %12s %12s %8s %10s  %s" % ("payload", "bytes", "module MB/s",
                                                  "Python MB/s", "ratio", "peak x", "check"))
    with tempfile.TemporaryDirectory() as tmp:
        for name, payload, expected in payloads:
            verdict = check(name, payload, expected, columnarize)
            module_s = median_call_seconds(columnarize, payload, args.min_time,
                                           args.min_calls, 100000)
            python_s = median_call_seconds(columnarize_python, payload, args.min_time,
                                           args.min_calls, 100000)
            path = os.path.join(tmp, name + ".json")
            with open(path, "wb") as f:
                f.write(payload)
            peak = extra_peak_multiple(path)
            os.unlink(path)
            row = {"name": name, "bytes": len(payload), "module_s": module_s,
                   "python_s": python_s, "module_mbps": len(payload) / module_s / 1e6,
                   "python_mbps": len(payload) / python_s / 1e6,
                   "ratio": python_s / module_s, "extra_peak_multiple": peak,
                   "check": verdict}
            results.append(row)
            print("%-32s %12d %12.1f %12.1f %8.1f %10.2f  %s"
                  % (name, row["bytes"], row["module_mbps"], row["python_mbps"], row["ratio"],
                     peak, verdict))
            sys.stdout.flush()

    summary = {"interpreter": interpreter(), "executable": sys.executable,
               "date": time.strftime("%Y-%m-%d"), "payloads": results}
    large = [r["ratio"] for r in results if r["bytes"] >= GEOMEAN_MIN_BYTES]
    if large:
        summary["geomean_ratio_40k"] = statistics.geometric_mean(large)
        print("\nmodule over pure Python, geometric mean over %d payloads of 40 KB and more: "
              "%.1fx" % (len(large), summary["geomean_ratio_40k"]))
    by_name = {name: payload for name, payload, _ in payloads}
    if SMALL_CALL in by_name:
        us = small_call_microseconds(columnarize, by_name[SMALL_CALL], args.small_calls)
        summary["call_20_us"] = us
        print("one call on %s (%d bytes), median of %d: %.1f us"
              % (SMALL_CALL, len(by_name[SMALL_CALL]), args.small_calls, us))
    if THREADS_PAYLOAD in by_name:
        one, two = two_threads_against_one(columnarize, by_name[THREADS_PAYLOAD],
                                           args.thread_repeats)
        summary["threads"] = {"payload": THREADS_PAYLOAD, "one_thread_s": one,
                              "two_threads_s": two, "ratio": one / two}
        print("two calls on %s: one thread %.3f s, two threads %.3f s: two threads over one "
              "%.2fx throughput (2.0 is both cores in full)"
              % (THREADS_PAYLOAD, one, two, one / two))
    # Below about a megabyte the figure says little: pages already resident after the warm-up
    # absorb a small call, or the first arena block and page granularity dominate it.
    big = [r["extra_peak_multiple"] for r in results if r["bytes"] >= PEAK_MIN_BYTES]
    if big:
        summary["extra_peak_median_1mb"] = statistics.median(big)
        summary["extra_peak_max_1mb"] = max(big)
        print("extra peak memory of one call over payloads of 1 MB and more, as a multiple of "
              "the payload: median %.2f, at most %.2f" % (statistics.median(big), max(big)))
    if args.json:
        with open(args.json, "w") as f:
            json.dump(summary, f, indent=2)
            f.write("\n")


if __name__ == "__main__":
    main()

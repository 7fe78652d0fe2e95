#!/usr/bin/env pypy3
"""velmar_codec.columnarize against the same transform in pure Python, in one process.

For every payload (the generated ones, printed by the C++ benchmarks' velmar_bench_payload
tool, and the real ones of the bench-data folder when it is there) it times, in an
interpreter of its own (what the allocator keeps after one payload's calls would decide how
much fresh memory the next one's touch), a plain loop of calls, as a caller makes them:
each call gets a fresh bytes object, made before the call (PyPy keeps the C copy of a
bytes object once it has been passed to C, so calling again with the same object would
hide the cost of making that copy), and nothing runs between calls. It reports the median
time of a call (the best of three rounds in which the loops take turns) with the mean
minor page faults per call (getrusage around each call), for the module and for the
pure-Python implementation of tests/reference (json.loads, the derivation in Python,
compact json.dumps), and their ratio; when velmar_probe (built with the benchmarks) is on the path, also for a call that
only takes the payload and makes a bytes object of the result's size: the interpreter's
own share of the module's call, which no transform can remove. The pure-Python side is
JIT-warm: on PyPy at least 1,000 calls before anything is timed (payloads of 1 MB and
more: as many as fit in --warmup-seconds, at least 3).

Then the geometric mean of the ratio over the payloads of 40 KB and more, the 20-row call
on its own, two threads against one on the 100,000-row payload, four payloads called in
turn (each object passed once before) and, with velmar_probe, the same loop making only a
bytes object of each result's size, and the extra peak memory of one call as a multiple
of the payload, each in a fresh interpreter.

Results are checked before anything is timed: the module's against the generator's
expected bytes, the pure-Python one's against the module's.

Runs under PyPy and CPython alike; the module is found on PYTHONPATH:

    PYTHONPATH=build-bench/src/module pypy3 benchmarks/python/module_bench.py --json out.json
"""

import argparse
import functools
import gc
import json
import math
import os
import platform
import re
import resource
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DEFAULT_TOOL = os.path.join(ROOT, "build-bench", "benchmarks", "velmar_bench_payload")
DEFAULT_DATA_DIR = os.path.join(os.path.dirname(ROOT), "shared", "bench-data")

sys.path.insert(0, os.path.join(ROOT, "tests", "reference"))
import reference_derivation  # noqa: E402

# The real payloads, smallest first (the C++ benchmarks use the same list).
REAL_PAYLOADS = [
    "real_twitter_timeline", "real_github_events", "real_apache_builds_jobs",
    "real_random_users", "real_update_center_plugins", "real_twitterescaped_statuses",
    "real_twitter_statuses", "real_citm_performances", "real_gsoc2018_projects",
    "real_geonames_cities",
]
SMALL_CALL = "gen_call_20"
THREADS_PAYLOAD = "gen_listing_100000"
PEAK_PAYLOADS = ["gen_listing_100000", "real_geonames_cities", "gen_numbers_20000"]
# Payloads of four sizes called in turn, as a host that serves several kinds of call.
CYCLE = ["gen_call_20", "real_apache_builds_jobs", "real_twitter_statuses",
         "real_citm_performances"]
CYCLE_ROUNDS = 200
GEOMEAN_MIN_BYTES = 40 * 1000
# The plain loops of one payload take turns this many times (measure_payload).
LOOP_ROUNDS = 3
# PyPy's JIT compiles a loop only after it has run many times; CPython has no JIT to warm.
WARMUP_CALLS = 1000 if platform.python_implementation() == "PyPy" else 20
WARMUP_BOUNDED_BYTES = 1000 * 1000


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
        if args.only and not re.search(args.only, name):
            continue
        payload = subprocess.run([args.payload_tool, name], check=True,
                                 stdout=subprocess.PIPE).stdout
        expected = subprocess.run([args.payload_tool, name, "--expected"], check=True,
                                  stdout=subprocess.PIPE).stdout
        out.append((name, payload, expected))
    missing = []
    for name in REAL_PAYLOADS:
        path = os.path.join(args.data_dir, name + ".json")
        if args.only and not re.search(args.only, name):
            continue
        if os.path.exists(path):
            with open(path, "rb") as f:
                out.append((name, f.read(), None))
        else:
            missing.append(name)
    if missing:
        print("real payloads not in %s, left out: %s" % (args.data_dir, ", ".join(missing)),
              file=sys.stderr)
    return out


def near(a, b):
    """Equal documents but for doubles that may lie a few apart: the module reads a decimal
    of more than 2^53, or scaled past 10^22, by a fixed rule of up to three roundings (the
    significand, the power of ten, the product), not correctly rounded as json.loads
    does, so it reads 1.3175761720874414e-06 and the like a double or two off at times."""
    if type(a) is float and type(b) is float:
        return abs(a - b) <= 4 * math.ulp(a)
    if type(a) is not type(b):
        return False
    if type(a) is list:
        return len(a) == len(b) and all(near(x, y) for x, y in zip(a, b))
    if type(a) is dict:
        return list(a) == list(b) and all(near(a[k], b[k]) for k in a)
    return a == b


def check(name, payload, expected, columnarize):
    """The module's result must be the expected bytes (the generator's or the reference
    derivation's, both reading numbers by the module's rule) and the pure-Python result the
    same document; returns "identical", "same document" (number texts differ, e.g. Python's
    1e-07 against the module's 1e-7) or "doubles a few apart" (see near). Stops the run on
    any mismatch."""
    ours = columnarize(fresh(payload))
    if expected is not None and ours != expected:
        raise SystemExit("%s: module result differs from the expected bytes" % name)
    theirs = reference_derivation.columnarize(fresh(payload))
    if theirs == ours:
        return "identical"
    if reference_derivation.identical(json.loads(ours), json.loads(theirs)):
        return "same document"
    if near(json.loads(ours), json.loads(theirs)):
        return "doubles a few apart"
    raise SystemExit("%s: pure-Python result is another document than the module's" % name)


# ---------------------------------------------------------------------------------------
# Timing

def minor_faults():
    return resource.getrusage(resource.RUSAGE_SELF).ru_minflt


def warm_up(fn, payload, seconds):
    """WARMUP_CALLS calls; for payloads of WARMUP_BOUNDED_BYTES and more, only as many as fit
    in `seconds` (at least 3). Returns the number of calls made."""
    started = time.perf_counter()
    calls = 0
    while calls < WARMUP_CALLS:
        fn(fresh(payload))
        calls += 1
        if (len(payload) >= WARMUP_BOUNDED_BYTES and calls >= 3
                and time.perf_counter() - started >= seconds):
            break
    return calls


def plain_loop(fn, payload, min_time, min_calls, max_calls):
    """A plain loop of calls, each on a fresh bytes object made just before it: the median
    wall time of a call, the mean minor page faults of a call (getrusage around it), and the
    number of calls."""
    times = []
    faults = 0
    started = time.perf_counter()
    while len(times) < min_calls or (time.perf_counter() - started < min_time
                                     and len(times) < max_calls):
        data = fresh(payload)
        faults_before = minor_faults()
        t0 = time.perf_counter()
        fn(data)
        t1 = time.perf_counter()
        faults += minor_faults() - faults_before
        times.append(t1 - t0)
    return statistics.median(times), faults / len(times), len(times)


def cycled_loop(columnarize, payloads, min_time, max_rounds):
    """The payloads, each passed once, then called in turn round after round, as a host
    process that serves several kinds of call does (PyPy's C copy of each bytes object is
    made on its first call, so it is not counted): per payload the median time of a call
    and the mean minor page faults per call."""
    for payload in payloads:
        columnarize(payload)
    times = [[] for _ in payloads]
    faults = [0] * len(payloads)
    started = time.perf_counter()
    while len(times[0]) < 5 or (time.perf_counter() - started < min_time
                                and len(times[0]) < max_rounds):
        for k, payload in enumerate(payloads):
            faults_before = minor_faults()
            t0 = time.perf_counter()
            columnarize(payload)
            t1 = time.perf_counter()
            faults[k] += minor_faults() - faults_before
            times[k].append(t1 - t0)
    return [(statistics.median(t) * 1e6, f / len(t)) for t, f in zip(times, faults)]


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
# Peak memory

def peak_rss_bytes():
    """The high-water mark of resident memory, VmHWM."""
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    raise SystemExit("no VmHWM in /proc/self/status")


def reset_peak_rss():
    """Brings the high-water mark down to the current resident size (Linux 4.0 and later), so
    that loading the payload does not hide the call's own peak."""
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")


def measure_memory(path):
    """Runs in the child: after a warm-up call on a small payload (module loaded, JIT and
    allocator pools started), the growth of peak RSS over one call on the payload read from
    `path`. It includes everything the call touches: the interpreter's native copy of the
    bytes object (PyPy makes one; CPython passes its buffer), the private copy, the value
    tree, the result text and the result bytes object. The payload's own
    bytes object was made before the baseline and is not included."""
    import velmar_codec
    velmar_codec.columnarize(b'[{"a":1,"b":[1,2]},{"a":1,"b":[3]},{"a":2}]')
    with open(path, "rb") as f:
        data = f.read()
    gc.collect()
    reset_peak_rss()
    before = peak_rss_bytes()
    result = velmar_codec.columnarize(data)
    after = peak_rss_bytes()
    print(json.dumps({"before": before, "after": after, "payload": len(data),
                      "result": len(result)}))


# ---------------------------------------------------------------------------------------
# Fresh interpreters

def in_fresh_interpreter(options, files):
    """Runs this script with `options` in a new interpreter, each (flag, bytes) of `files`
    handed over as the flag and the name of a file holding the bytes, and returns the JSON
    it prints."""
    with tempfile.TemporaryDirectory() as tmp:
        command = [sys.executable, os.path.abspath(__file__)] + options
        for k, (flag, data) in enumerate(files):
            path = os.path.join(tmp, str(k))
            with open(path, "wb") as f:
                f.write(data)
            command += [flag, path]
        child = subprocess.run(command, stdout=subprocess.PIPE)
    if child.returncode != 0:
        raise SystemExit("the measuring interpreter failed: %s" % " ".join(options))
    return json.loads(child.stdout.decode())


def extra_peak_multiple(payload):
    m = in_fresh_interpreter(["--memory-child"], [("--payload-file", payload)])
    return (m["after"] - m["before"]) / m["payload"]


# ---------------------------------------------------------------------------------------

def interpreter():
    impl = platform.python_implementation()
    version = platform.python_version()
    if impl == "PyPy":
        v = sys.pypy_version_info
        return "PyPy %d.%d.%d (Python %s)" % (v.major, v.minor, v.micro, version)
    return "%s %s" % (impl, version)


def measure_payload(args, name, payload, expected):
    """The figures of one payload: its check, then the plain loops of the module, of the
    probe (when it is built) and of pure Python, each warmed up first, taking turns in
    LOOP_ROUNDS rounds of a third of the time each. A call's time is the best round's
    median: this machine has slow spells of seconds to minutes, and a spell that fell on
    one implementation's only loop moved the ratio by up to half. Faults are the mean over
    every call of every round."""
    import velmar_codec
    columnarize = velmar_codec.columnarize
    verdict = check(name, payload, expected, columnarize)
    loops = {"module": columnarize}
    if probe_available():
        # What the interpreter's own handling of such a call costs: taking the payload and
        # making a bytes object of the result's size, with no transform between.
        import velmar_probe
        result_size = len(columnarize(payload))
        loops["probe"] = lambda data: velmar_probe.result_of_size(data, result_size)
    loops["python"] = reference_derivation.columnarize
    warmups = {key: warm_up(fn, payload, args.warmup_seconds) for key, fn in loops.items()}
    best = {key: float("inf") for key in loops}
    faults = {key: 0.0 for key in loops}
    calls = {key: 0 for key in loops}
    round_calls = max(1, -(-args.min_calls // LOOP_ROUNDS))
    for _ in range(LOOP_ROUNDS):
        for key, fn in loops.items():
            median_s, mean_faults, n = plain_loop(fn, payload, args.min_time / LOOP_ROUNDS,
                                                  round_calls, args.max_calls)
            best[key] = min(best[key], median_s)
            faults[key] += mean_faults * n
            calls[key] += n
    faults = {key: faults[key] / calls[key] for key in loops}
    probe = {}
    if "probe" in loops:
        probe = {"probe_us": best["probe"] * 1e6, "probe_faults": faults["probe"]}
    module_s, python_s = best["module"], best["python"]
    return {"name": name, "bytes": len(payload), "check": verdict,
            "module_us": module_s * 1e6, "module_faults": faults["module"],
            "module_calls": calls["module"], "module_mbps": len(payload) / module_s / 1e6,
            "python_us": python_s * 1e6, "python_faults": faults["python"],
            "python_calls": calls["python"], "python_warmup_calls": warmups["python"],
            "python_mbps": len(payload) / python_s / 1e6, "ratio": python_s / module_s,
            **probe}


def measure_in_fresh_interpreter(args, name, payload, expected):
    """measure_payload in an interpreter of its own: what the allocator keeps after one
    payload's calls decides how much fresh memory the next payload's calls touch."""
    options = ["--payload-child", name, "--min-time", repr(args.min_time),
               "--min-calls", str(args.min_calls), "--max-calls", str(args.max_calls),
               "--warmup-seconds", repr(args.warmup_seconds)]
    files = [("--payload-file", payload)]
    if expected is not None:
        files.append(("--expected-file", expected))
    return in_fresh_interpreter(options, files)


def read_file(path):
    with open(path, "rb") as f:
        return f.read()


def measure_cycle_in_fresh_interpreter(args, payloads):
    """cycled_loop over `payloads` ([(name, bytes)]) in an interpreter of its own."""
    options = ["--cycle-child", ",".join(name for name, _ in payloads),
               "--min-time", repr(args.min_time)]
    return in_fresh_interpreter(options, [("--payload-file", p) for _, p in payloads])


def measure_cycle_floor_in_fresh_interpreter(args, payloads, sizes):
    """The same loop in an interpreter of its own with velmar_probe.result_of_size(payload,
    size) in place of each call: the payload taken as ours is and a result of the size of
    ours made by the interpreter, and nothing else."""
    options = ["--cycle-floor-child", ",".join(name for name, _ in payloads),
               "--result-sizes", ",".join(str(n) for n in sizes), "--min-time", repr(args.min_time)]
    return in_fresh_interpreter(options, [("--payload-file", p) for _, p in payloads])


def probe_available():
    try:
        import velmar_probe  # noqa: F401  (built with the benchmarks, beside the module)
    except ImportError:
        return False
    return True


def run_child(args):
    """The modes that run in a fresh interpreter: one measurement, printed as JSON."""
    if args.memory_child:
        measure_memory(args.payload_file[0])
    elif args.cycle_child:
        import velmar_codec
        payloads = [read_file(path) for path in args.payload_file]
        figures = cycled_loop(velmar_codec.columnarize, payloads, args.min_time, CYCLE_ROUNDS)
        print(json.dumps([{"name": name, "bytes": len(payload), "median_us": us,
                           "faults_per_call": faults} for name, payload, (us, faults)
                          in zip(args.cycle_child.split(","), payloads, figures)]))
    elif args.cycle_floor_child:
        import velmar_probe
        calls = [functools.partial(velmar_probe.result_of_size, read_file(path), int(n))
                 for path, n in zip(args.payload_file, args.result_sizes.split(","))]
        figures = cycled_loop(lambda call: call(), calls, args.min_time, CYCLE_ROUNDS)
        print(json.dumps([{"name": name, "median_us": us, "faults_per_call": faults}
                          for name, (us, faults) in zip(args.cycle_floor_child.split(","),
                                                        figures)]))
    else:
        expected = read_file(args.expected_file) if args.expected_file else None
        row = measure_payload(args, args.payload_child, read_file(args.payload_file[0]),
                              expected)
        print(json.dumps(row))


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--payload-tool", default=os.environ.get("VELMAR_BENCH_PAYLOAD_TOOL",
                                                                 DEFAULT_TOOL))
    parser.add_argument("--data-dir", default=os.environ.get("VELMAR_BENCH_DATA_DIR",
                                                             DEFAULT_DATA_DIR))
    parser.add_argument("--only", help="regular expression: payload names to run")
    parser.add_argument("--min-time", type=float, default=2.0,
                        help="seconds of timed calls per payload and implementation")
    parser.add_argument("--min-calls", type=int, default=5)
    parser.add_argument("--max-calls", type=int, default=100000)
    parser.add_argument("--warmup-seconds", type=float, default=5.0,
                        help="bound of the warm-up on payloads of 1 MB and more")
    parser.add_argument("--thread-repeats", type=int, default=5)
    parser.add_argument("--json", metavar="FILE", help="also write the figures as JSON")
    parser.add_argument("--memory-child", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--payload-child", metavar="NAME", help=argparse.SUPPRESS)
    parser.add_argument("--cycle-child", metavar="NAMES", help=argparse.SUPPRESS)
    parser.add_argument("--cycle-floor-child", metavar="NAMES", help=argparse.SUPPRESS)
    parser.add_argument("--result-sizes", help=argparse.SUPPRESS)
    parser.add_argument("--payload-file", action="append", help=argparse.SUPPRESS)
    parser.add_argument("--expected-file", help=argparse.SUPPRESS)
    return parser.parse_args()


def main():
    args = parse_arguments()
    if args.memory_child or args.payload_child or args.cycle_child or args.cycle_floor_child:
        run_child(args)
        return

    import velmar_codec
    columnarize = velmar_codec.columnarize
    print("interpreter: %s (%s)" % (interpreter(), sys.executable))
    print("module: %s" % velmar_codec.__file__)
    payloads = load_payloads(args)

    results = []
    print("\nplain loop, a fresh bytes object per call; pure Python after %d warm-up calls "
          "(%.0f s at most from 1 MB)" % (WARMUP_CALLS, args.warmup_seconds))
    print("%-30s %10s %12s %8s %12s %8s %12s %8s %7s  %s" % (
        "payload", "bytes", "module us", "faults", "probe us", "faults", "Python us", "faults",
        "ratio", "check"))
    for name, payload, expected in payloads:
        row = measure_in_fresh_interpreter(args, name, payload, expected)
        results.append(row)
        print("%-30s %10d %12.1f %8.1f %12.1f %8.1f %12.1f %8.1f %7.1f  %s" % (
            name, row["bytes"], row["module_us"], row["module_faults"],
            row.get("probe_us", float("nan")), row.get("probe_faults", float("nan")),
            row["python_us"], row["python_faults"], row["ratio"], row["check"]))
        sys.stdout.flush()

    summary = {"interpreter": interpreter(), "executable": sys.executable,
               "date": time.strftime("%Y-%m-%d"), "warmup_calls": WARMUP_CALLS,
               "payloads": results}
    large = [r["ratio"] for r in results if r["bytes"] >= GEOMEAN_MIN_BYTES]
    if large:
        summary["geomean_ratio_40k"] = statistics.geometric_mean(large)
        print("\nmodule over pure Python, geometric mean over %d payloads of 40 KB and more: "
              "%.1fx" % (len(large), summary["geomean_ratio_40k"]))
        probed = [r for r in results if r["bytes"] >= GEOMEAN_MIN_BYTES and "probe_us" in r]
        if len(probed) == len(large):
            # The ratio a transform that took no time would reach: pure Python over the probe.
            summary["geomean_ceiling_40k"] = statistics.geometric_mean(
                [r["python_us"] / r["probe_us"] for r in probed])
            print("pure Python over the probe (the module with a transform of no time), "
                  "geometric mean: %.1fx" % summary["geomean_ceiling_40k"])
    by_name = {name: payload for name, payload, _ in payloads}
    if THREADS_PAYLOAD in by_name:
        one, two = two_threads_against_one(columnarize, by_name[THREADS_PAYLOAD],
                                           args.thread_repeats)
        summary["threads"] = {"payload": THREADS_PAYLOAD, "one_thread_s": one,
                              "two_threads_s": two, "ratio": one / two}
        print("two calls on %s: one thread %.3f s, two threads %.3f s: two threads over one "
              "%.2fx throughput (2.0 is both cores in full)"
              % (THREADS_PAYLOAD, one, two, one / two))
    cycle = [(name, by_name[name]) for name in CYCLE if name in by_name]
    if len(cycle) > 1:
        summary["cycled"] = measure_cycle_in_fresh_interpreter(args, cycle)
        print("payloads called in turn, each object passed once before: %s" % ", ".join(
            "%s %.1f us, %.1f faults per call" % (r["name"], r["median_us"],
                                                   r["faults_per_call"])
            for r in summary["cycled"]))
        if probe_available():
            sizes = [len(columnarize(payload)) for _, payload in cycle]
            summary["cycled_floor"] = measure_cycle_floor_in_fresh_interpreter(args, cycle,
                                                                               sizes)
            print("the same loop, each call only taking the payload and making a bytes object "
                  "of its result's size: %s" % ", ".join(
                "%s %.1f us, %.1f faults per call" % (r["name"], r["median_us"],
                                                       r["faults_per_call"])
                for r in summary["cycled_floor"]))
    peaks = {}
    for name in PEAK_PAYLOADS:
        if name in by_name:
            peaks[name] = extra_peak_multiple(by_name[name])
            print("extra peak memory of one call on %s, each in a fresh interpreter: %.2fx "
                  "the payload" % (name, peaks[name]))
    summary["extra_peak_multiple"] = peaks
    if args.json:
        with open(args.json, "w") as f:
            json.dump(summary, f, indent=2)
            f.write("\n")


if __name__ == "__main__":
    main()

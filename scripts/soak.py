#!/usr/bin/env pypy3
"""Soak velmar_codec: K threads call columnarize for N seconds with a mix of valid payloads
(checked byte for byte), malformed payloads (checked by exact message) and bad arguments
(checked by exact exception type), while the main thread samples the resident size.

    PYTHONPATH=<build>/src/module pypy3 scripts/soak.py --seconds N [--threads K]

Prints the calls made, the failures raised as expected, the wrong outcomes and the
resident size at the start, after the warm-up and at the end. Exits with status 1 on a
wrong outcome or a resident size that keeps growing after the warm-up (a crash ends the
process with its signal).

Expected results are known without the module: goldens written out below, and the
reference derivation (tests/reference/reference_derivation.py) for generated payloads
whose values are null, booleans, integers of at most 53 bits, strings and arrays and
objects of these. For such values its compact text is the writer's: integers have one
decimal form, and json.dumps escapes strings by the writer's table."""

import argparse
import json
import os
import random
import resource
import sys
import threading
import time

import velmar_codec

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "tests", "reference"))
import reference_derivation  # noqa: E402

PAGE = resource.getpagesize()  # statm counts pages of the machine's own size


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * PAGE


def fresh(payload):
    """A new bytes object with the same text: a reference kept by a call would keep each
    one alive, where a reused object would hide it."""
    return bytes(bytearray(payload))


# MARK: goldens

GOLDEN_RESULTS = [
    (b'[{"a":1,"b":2,"c":null},{"a":1.0,"b":3}]',
     b'{"columns":["b"],"rows":[[2],[3]],"constants":{"a":1}}'),
    (b" \t\r\n[ ] \n", b'{"columns":[],"rows":[],"constants":{}}'),
    (b"[{}]", b'{"columns":[],"rows":[[]],"constants":{}}'),
    (b'[{"a":1},{"a":1},{}]', b'{"columns":["a"],"rows":[[1],[1],[null]],"constants":{}}'),
    (b'[{"n":1.0},{"n":1e0}]', b'{"columns":[],"rows":[[],[]],"constants":{"n":1.0}}'),
    (b'[{"v":[1]},{"v":[1.0]}]', b'{"columns":["v"],"rows":[[[1]],[[1.0]]],"constants":{}}'),
    (b'[{"d":1e2,"m":-0,"x":0.0000095,"y":1e16,"z":3e23,"u":18446744073709551615,'
     b'"s":-9223372036854775808,"t":18446744073709551616,"w":1e-400,"h":0.1}]',
     b'{"columns":["d","m","x","y","z","u","s","t","w","h"],"rows":[[100.0,-0.0,9.5e-6,'
     b'1e+16,2.9999999999999997e+23,18446744073709551615,-9223372036854775808,'
     b'1.8446744073709552e+19,0.0,0.1]],"constants":{}}'),
    (b'[{"k\\u00e9\\n":"\\ud83d\\ude00\\u2028\\/\\u0000\\u001f\x7f"}]',
     b'{"columns":["k\xc3\xa9\\n"],"rows":[["\xf0\x9f\x98\x80\xe2\x80\xa8/\\u0000\\u001f\x7f"]],'
     b'"constants":{}}'),
    (b'[{"a":1,"b":2,"a":3}]', b'{"columns":["a","b"],"rows":[[3,2]],"constants":{}}'),
]
DEEPEST = b"[" * 126 + b"]" * 126  # levels 2 to 127: the deepest element read

READ_ERROR = "invalid row-oriented JSON: %s"
GOLDEN_FAILURES = [
    (b"", READ_ERROR % "EOF while parsing a value at line 1 column 0"),
    (b"   \n  ", READ_ERROR % "EOF while parsing a value at line 2 column 2"),
    (b"[", READ_ERROR % "EOF while parsing a list at line 1 column 1"),
    (b"[1,", READ_ERROR % "EOF while parsing a value at line 1 column 3"),
    (b"[{", READ_ERROR % "EOF while parsing an object at line 1 column 2"),
    (b'["ab', READ_ERROR % "EOF while parsing a string at line 1 column 4"),
    (b'[{"a" 1}]', READ_ERROR % "expected `:` at line 1 column 7"),
    (b"[1 2]", READ_ERROR % "expected `,` or `]` at line 1 column 4"),
    (b"[\r1 x]", READ_ERROR % "expected `,` or `]` at line 1 column 5"),
    (b'[{"a":1 "b":2}]', READ_ERROR % "expected `,` or `}` at line 1 column 9"),
    (b"[nul]", READ_ERROR % "expected ident at line 1 column 5"),
    (b"[,1]", READ_ERROR % "expected value at line 1 column 2"),
    (b"\xef\xbb\xbf[]", READ_ERROR % "expected value at line 1 column 1"),
    (b'["\\x"]', READ_ERROR % "invalid escape at line 1 column 4"),
    (b'["\\u12G4"]', READ_ERROR % "invalid escape at line 1 column 8"),
    (b"[01]", READ_ERROR % "invalid number at line 1 column 3"),
    (b"[-]", READ_ERROR % "invalid number at line 1 column 3"),
    (b"[1e309]", READ_ERROR % "number out of range at line 1 column 6"),
    (b"[1.5e99999999999]", READ_ERROR % "number out of range at line 1 column 15"),
    (b'["\xff"]', READ_ERROR % "invalid unicode code point at line 1 column 4"),
    (b'["a\nb"]', READ_ERROR % (
        "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0")),
    (b"[{1:2}]", READ_ERROR % "key must be a string at line 1 column 3"),
    (b'["\\udc00"]', READ_ERROR % "lone leading surrogate in hex escape at line 1 column 8"),
    (b"[\n1,\n]", READ_ERROR % "trailing comma at line 3 column 1"),
    (b'[{"a":1,}]', READ_ERROR % "trailing comma at line 1 column 9"),
    (b"[1] [2]", READ_ERROR % "trailing characters at line 1 column 5"),
    (b'["\\ud800"]', READ_ERROR % "unexpected end of hex escape at line 1 column 9"),
    (b"[" * 100_000, READ_ERROR % "recursion limit exceeded at line 1 column 128"),
    (b"{}", READ_ERROR % "invalid type: map, expected a sequence at line 1 column 0"),
    (b"true", READ_ERROR % "invalid type: boolean `true`, expected a sequence at line 1 column 4"),
    (b"-5", READ_ERROR % "invalid type: integer `-5`, expected a sequence at line 1 column 2"),
    (b"-0", READ_ERROR % (
        "invalid type: floating point `-0.0`, expected a sequence at line 1 column 2")),
    (b'"abc"', READ_ERROR % 'invalid type: string "abc", expected a sequence at line 1 column 5'),
    (b"[{},7", READ_ERROR % "EOF while parsing a list at line 1 column 5"),
    (b'[{"a":1},7]', "expected a JSON object row, got: 7"),
    (b"[{},[1,2],3]", "expected a JSON object row, got: [1,2]"),
    (b'[{},"a\\"b"]', 'expected a JSON object row, got: "a\\"b"'),
    (b"[null]", "expected a JSON object row, got: null"),
    (b"[2.5]", "expected a JSON object row, got: 2.5"),
    (b"[%s]" % DEEPEST, "expected a JSON object row, got: " + DEEPEST.decode()),
]


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


ONE_ROW = b'[{"a":1}]'
ONE_ROW_RESULT = b'{"columns":["a"],"rows":[[1]],"constants":{}}'
# Each row makes the arguments of one call from a number n >= 1, so that every argument
# is a new object: a reference kept by a call would keep each one alive.
BAD_ARGUMENTS = [
    (lambda n: (("[]" + " " * (n % 3),), {}), TypeError),
    (lambda n: ((bytearray(ONE_ROW),), {}), TypeError),
    (lambda n: ((None,), {}), TypeError),
    (lambda n: ((), {}), TypeError),
    (lambda n: ((fresh(ONE_ROW), n, n + 1), {}), TypeError),
    (lambda n: ((fresh(ONE_ROW),), {"minrows": n}), TypeError),
    (lambda n: ((fresh(ONE_ROW),), {"payload": fresh(ONE_ROW)}), TypeError),
    (lambda n: ((fresh(ONE_ROW), None), {}), TypeError),
    (lambda n: ((fresh(ONE_ROW), n + 0.5), {}), TypeError),
    (lambda n: ((fresh(ONE_ROW), str(n)), {}), TypeError),
    (lambda n: ((fresh(ONE_ROW), -n), {}), OverflowError),
    (lambda n: ((fresh(ONE_ROW), 2**64 + n), {}), OverflowError),
    (lambda n: ((fresh(ONE_ROW),), {"min_rows": Index(-n)}), OverflowError),
    (lambda n: (("not bytes", -n), {}), TypeError),  # the payload is checked first
]
GOOD_ARGUMENTS = [
    lambda n: ((fresh(ONE_ROW), n), {}),
    lambda n: ((fresh(ONE_ROW), 2**64 - n), {}),
    lambda n: ((), {"payload": fresh(ONE_ROW), "min_rows": n}),
    lambda n: ((fresh(ONE_ROW),), {"min_rows": Index(n)}),
    lambda n: ((fresh(ONE_ROW), n % 2 == 0), {}),
]


# MARK: the model

ALPHABET = "abcxyz019 _-/'\"\\\t\n\x00\x1f\x7f\u00e9\u2028\u65e5\U0001f600"
KEYS = ["id", "a", "b", "name", "", "k\u00e9y", "q\"t", "tab\t", "\U0001f600"]


def expected_result(rows):
    return reference_derivation.compact(reference_derivation.derive(rows))


class PayloadWriter:
    """Writes model values as payload text in varied but valid forms: whitespace between
    tokens, characters raw or escaped, and repeated keys whose last value wins."""

    def __init__(self, rng):
        self.rng = rng

    def space(self):
        return self.rng.choice([b"", b"", b"", b" ", b"\n", b"\t ", b"\r\n"])

    def string(self, text):
        out = bytearray(b'"')
        for char in text:
            code = ord(char)
            if char in '"\\' or code < 0x20 or self.rng.random() < 0.2:
                if code > 0xFFFF:
                    high, low = divmod(code - 0x10000, 0x400)
                    out += b"\\u%04x\\u%04X" % (0xD800 + high, 0xDC00 + low)
                elif char in '"\\/' and self.rng.random() < 0.5:
                    out += b"\\" + char.encode()
                else:
                    out += b"\\u%04x" % code
            else:
                out += char.encode("utf-8")
        return bytes(out) + b'"'

    def value(self, value):
        s = self.space
        if isinstance(value, str):
            return self.string(value)
        if isinstance(value, list):
            return b"[" + s() + (b"," + s()).join(self.value(v) + s() for v in value) + b"]"
        if isinstance(value, dict):
            members = list(value.items())
            if members and self.rng.random() < 0.2:
                # An earlier value for one key, just before it: the key keeps its place.
                i = self.rng.randrange(len(members))
                members.insert(i, (members[i][0], "replaced"))
            return b"{" + s() + (b"," + s()).join(
                self.string(k) + s() + b":" + s() + self.value(v) + s()
                for k, v in members) + b"}"
        return json.dumps(value).encode()


class ValueMaker:
    def __init__(self, rng):
        self.rng = rng

    def scalar(self):
        r = self.rng
        kind = r.randrange(6)
        if kind == 0:
            return None
        if kind == 1:
            return r.random() < 0.5
        if kind == 2:
            return r.randrange(-3, 4)  # small values repeat, so constants occur
        if kind == 3:
            return r.randrange(-(2**53), 2**53 + 1)
        if kind == 4:
            return "".join(r.choice(ALPHABET) for _ in range(r.randrange(6)))
        return r.choice(["", "x", "north"])

    def value(self, depth=0):
        r = self.rng
        if depth < 4 and r.random() < 0.15:
            return [self.value(depth + 1) for _ in range(r.randrange(4))]
        if depth < 4 and r.random() < 0.15:
            return {r.choice(KEYS): self.value(depth + 1) for _ in range(r.randrange(4))}
        return self.scalar()

    def rows(self):
        r = self.rng
        count = r.choice([0, 1, 2, 3, 5, 20, r.randrange(20, 200)])
        shared = {k: self.value() for k in r.sample(KEYS, 3)}  # may become constants
        rows = []
        for _ in range(count):
            row = {}
            for key in r.sample(KEYS, r.randrange(len(KEYS))):
                row[key] = shared[key] if key in shared and r.random() < 0.8 else self.value()
            rows.append(row)
        return rows


# MARK: the soak

class Tally:
    def __init__(self):
        self.lock = threading.Lock()
        self.calls = {"valid": 0, "malformed": 0, "bad arguments": 0}
        self.wrong = []

    def add(self, counts, wrong):
        with self.lock:
            for kind, n in counts.items():
                self.calls[kind] += n
            self.wrong.extend(wrong)


def check_call(args, kwargs, expected):
    """None when the call does what `expected` says (bytes, a message or an exception
    type), else a description of what it did."""
    try:
        got = velmar_codec.columnarize(*args, **kwargs)
    except Exception as error:  # compared below, exactly
        if isinstance(expected, str) and type(error) is RuntimeError and error.args == (expected,):
            return None
        if isinstance(expected, type) and type(error) is expected:
            return None
        return "raised %s%r" % (type(error).__name__, error.args)
    if isinstance(expected, bytes) and got == expected:
        return None
    return "returned %r" % got[:200]


def generated_payloads(seed, count=64):
    """Generated payloads with their results by the model, each written in its own way."""
    rng = random.Random(seed)
    values, writer = ValueMaker(rng), PayloadWriter(rng)
    made = []
    for _ in range(count):
        rows = values.rows()
        made.append((writer.space() + writer.value(rows) + writer.space(), expected_result(rows)))
    return made


def soak_thread(seed, generated, deadline, tally):
    try:
        call_until(deadline, random.Random(seed), generated, tally)
    except BaseException as error:  # a fault of this script: reported, not swallowed
        tally.add({}, ["thread %d stopped: %r" % (seed, error)])


def call_until(deadline, rng, generated, tally):
    while time.monotonic() < deadline:
        counts = {"valid": 0, "malformed": 0, "bad arguments": 0}
        wrong = []
        for _ in range(100):
            kind, args, kwargs, expected = pick_call(rng, generated)
            counts[kind] += 1
            problem = check_call(args, kwargs, expected)
            if problem is not None:
                wrong.append("%s call %.200r: %s" % (kind, (args, kwargs), problem))
        tally.add(counts, wrong[:5])


def pick_call(rng, generated):
    """(kind, args, kwargs, expected) of one call."""
    pick = rng.random()
    if pick < 0.3:
        payload, result = rng.choice(generated)
        return "valid", (fresh(payload),), {}, result
    if pick < 0.45:
        payload, result = rng.choice(GOLDEN_RESULTS)
        return "valid", (fresh(payload),), {}, result
    if pick < 0.5:
        args, kwargs = rng.choice(GOOD_ARGUMENTS)(rng.randrange(1, 1 << 40))
        return "valid", args, kwargs, ONE_ROW_RESULT
    if pick < 0.85:
        payload, message = rng.choice(GOLDEN_FAILURES)
        return "malformed", (fresh(payload),), {}, message
    make, error_type = rng.choice(BAD_ARGUMENTS)
    args, kwargs = make(rng.randrange(1, 1 << 40))
    return "bad arguments", args, kwargs, error_type


# Warm-up and tolerance. PyPy's heap and its compiled code grow over the first few
# hundred thousand calls of this mix (about 75 MB over 300,000 calls, ten to twenty
# seconds) and then stay within 5 MB (measured over 20 minutes and 44 million calls). The
# warm-up therefore ends at the first sample after WARM_UP_CALLS calls; a run whose
# warm-up takes more than half of it gives no verdict on memory. After the warm-up the
# resident size still moves with each major collection, so a window grows only when the
# largest size seen in it exceeds the largest size seen before it by more than TOLERANCE,
# five times the drift of a healthy build over 20 minutes. A leak of 40 bytes per call on
# average passes it in the last third of a one-minute run at 40,000 calls a second.
# A collection can still move the size by more in one step, the more so on a loaded
# machine (33.6 MB once, beside a fuzzer, where the same run alone grew by 2 MB): so a
# run whose last third grew is soaked as long again, and the size keeps growing only when
# that window grows too. A leak grows in both; a step of the collector does not repeat.
WARM_UP_CALLS = 300_000
TOLERANCE = 24 << 20


def mb(n):
    return "%.1f MB" % (n / 2**20)


class Memory:
    """Resident size samples: at the start, at the end of the warm-up, and after it."""

    def __init__(self):
        self.start = resident_bytes()
        self.warm = None  # (seconds, bytes) at the end of the warm-up
        self.samples = []  # (seconds, bytes) after the warm-up

    def sample(self, now, calls):
        rss = resident_bytes()
        if self.warm is None and calls >= WARM_UP_CALLS:
            self.warm = (now, rss)
        if self.warm is not None:
            self.samples.append((now, rss))
        return rss

    def has_verdict(self, elapsed, end):
        if self.warm is None or self.warm[0] > elapsed / 2:
            print("resident: start %s, end %s; the warm-up took more than half of the run, "
                  "so there is no verdict on memory" % (mb(self.start), mb(end)))
            return False
        print("resident: start %s, after warm-up (%.0f s) %s, end %s"
              % (mb(self.start), self.warm[0], mb(self.warm[1]), mb(end)))
        return True

    def grew_since(self, since, end, what):
        """Prints the figures; True when the largest size from `since` on exceeds the
        largest size before it by more than TOLERANCE."""
        before = [rss for t, rss in self.samples if t < since] or [self.warm[1]]
        after = [rss for t, rss in self.samples if t >= since] or [end]
        growth = max(after) - max(before)
        print("resident growth over %s: %s (tolerance %s)" % (what, mb(growth), mb(TOLERANCE)))
        return growth > TOLERANCE


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--seconds", type=float, required=True)
    parser.add_argument("--threads", type=int, default=2)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--trace", action="store_true",
                        help="print the calls and the resident size every ten seconds")
    args = parser.parse_args()
    if args.threads < 2:
        parser.error("--threads must be 2 or more")
    return args


class Soak:
    """The threads' calls and the resident size, over one or more windows of time."""

    def __init__(self, args):
        self.args = args
        self.tally = Tally()
        self.seeds = [args.seed * 1000 + k for k in range(args.threads)]
        self.generated = [generated_payloads(seed) for seed in self.seeds]
        self.memory = Memory()
        self.started = time.monotonic()
        self.next_trace = 10

    def elapsed(self):
        return time.monotonic() - self.started

    def run_window(self, seconds):
        deadline = time.monotonic() + seconds
        threads = [threading.Thread(target=soak_thread, args=(seed, made, deadline, self.tally))
                   for seed, made in zip(self.seeds, self.generated)]
        for thread in threads:
            thread.start()
        while any(thread.is_alive() for thread in threads):
            time.sleep(1)
            self.sample()
        for thread in threads:
            thread.join()

    def sample(self):
        now = self.elapsed()
        with self.tally.lock:
            calls = sum(self.tally.calls.values())
        rss = self.memory.sample(now, calls)
        if self.args.trace and now >= self.next_trace:
            print("%6.0f s %10d calls %8.1f MB" % (now, calls, rss / 2**20), flush=True)
            self.next_trace += 10

    def keeps_growing(self):
        """True when the last third of the run grew, and so did a window as long again."""
        elapsed = self.elapsed()
        memory = self.memory
        if not memory.has_verdict(elapsed, resident_bytes()):
            return False
        last_third = elapsed - (elapsed - memory.warm[0]) / 3
        if not memory.grew_since(last_third, resident_bytes(), "the last third"):
            return False
        print("soaking %.0f s more to tell a leak from a step of the collector" % elapsed)
        confirm_from = self.elapsed()
        self.run_window(elapsed)
        return memory.grew_since(confirm_from, resident_bytes(), "the second window")

    def report(self):
        tally = self.tally
        print("soak: %.0f s, %d threads" % (self.elapsed(), self.args.threads))
        print("calls: %d (%s)" % (sum(tally.calls.values()),
                                  ", ".join("%s %d" % kv for kv in tally.calls.items())))
        print("errors raised as expected: %d; wrong outcomes: %d"
              % (tally.calls["malformed"] + tally.calls["bad arguments"], len(tally.wrong)))
        for line in tally.wrong[:20]:
            print("  WRONG " + line)


def main():
    args = parse_arguments()
    soak = Soak(args)
    soak.run_window(args.seconds)
    growing = soak.keeps_growing()
    soak.report()
    if growing:
        print("FAIL: the resident size keeps growing after the warm-up")
    return 1 if soak.tally.wrong or growing else 0


if __name__ == "__main__":
    sys.exit(main())

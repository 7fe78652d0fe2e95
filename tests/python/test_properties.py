"""Property: for any list of rows, the result is the document that a direct Python
derivation of the rules gives, both as parsed JSON and byte for byte.

The derivation: columns in order of first appearance; columns that are null or missing in
every row dropped; with two rows or more, a column is constant when every row's cell
equals row 0's (numbers at the top of a cell by exact value, so 1 == 1.0 but
9007199254740993 != 9007199254740992.0; everything else, nested numbers included, by
kind and content) and is stored in row 0's form; every other column varies."""

import json
import math
import re

import pytest

from hypothesis import given, strategies as st

KEYS = ["a", "b", "id", "", "caf\u00e9", "\u65e5\u672c", "q\"uote", "back\\slash", "tab\t",
        "nul\u0000", "\u2028", "\U0001f600"]

text = st.text(st.characters(blacklist_categories=("Cs",)), max_size=6)
keys = st.one_of(st.sampled_from(KEYS), text)
integers = st.one_of(
    st.integers(-5, 5),
    st.integers(-(2**63), 2**64 - 1),
    st.integers(-(10**25), 10**25),  # outside 64 bits: read as the nearest double
    st.sampled_from([2**53, 2**53 + 1, 2**64 - 1, 2**64, -(2**63), -(2**63) - 1]))
floats = st.one_of(
    st.floats(allow_nan=False, allow_infinity=False),
    st.sampled_from([0.0, -0.0, 1.0, 1e15, 1e16, 1e-5, 9.5e-6, 0.1, 2.0**53, 5e-324]))
common = st.sampled_from([None, True, False, 0, 1, 1.0, -0.0, "", "x", [], {}, [1], [1.0],
                          {"p": 1, "q": 2}, {"q": 2, "p": 1}])
scalars = st.one_of(st.none(), st.booleans(), integers, floats, text)
values = st.one_of(common, st.recursive(
    scalars,
    lambda children: st.one_of(st.lists(children, max_size=3),
                               st.dictionaries(keys, children, max_size=3)),
    max_leaves=6))
rows = st.lists(st.dictionaries(keys, values, max_size=5), max_size=6)


class OutOfRange(Exception):
    """The reader refuses the number: its scaled value is not finite."""


POW10 = [float(10**k) for k in range(309)]  # the doubles nearest to 10^k
NUMBER = re.compile(r"(-?)(\d+)(?:\.(\d+))?(?:[eE]([+-]?)(\d+))?")


def fits(s, digit):
    return not (s > 1844674407370955161 or (s == 1844674407370955161 and digit > 5))


def read_number(text):
    """The reader's number algorithm, step by step: a 64-bit significand (later integer
    digits raise the exponent, later fraction digits are dropped), then one scaling by a
    tabulated power of ten. Like the reader, it is not correctly rounded when the
    significand exceeds 2^53 or the exponent 22."""
    sign, whole, fraction, exp_sign, exp_digits = NUMBER.fullmatch(text).groups()
    s, e, long_integer = 0, 0, False
    for d in map(int, whole):
        if not long_integer and fits(s, d):
            s = s * 10 + d
        else:
            long_integer, e = True, e + 1
    if fraction is None and exp_digits is None and not long_integer:
        if not sign:
            return s
        return -s if s >= 1 and s <= 2**63 else (-0.0 if s == 0 else -float(s))
    truncated = False
    for d in map(int, fraction or ""):
        if not truncated and fits(s, d):
            s, e = s * 10 + d, e - 1
        else:
            truncated = True
    if exp_digits is not None:
        x = int(exp_digits)
        if x > 2**31 - 1:
            if s == 0 or exp_sign == "-":
                return -0.0 if sign else 0.0
            raise OutOfRange(text)
        e = max(-(2**31), min(2**31 - 1, e - x if exp_sign == "-" else e + x))
    f = float(s)
    while True:
        if abs(e) <= 308:
            f = f * POW10[e] if e >= 0 else f / POW10[-e]
            if math.isinf(f):
                raise OutOfRange(text)
            break
        if f == 0:
            break
        if e > 0:
            raise OutOfRange(text)
        f, e = f / 1e308, e + 308
    return -f if sign else f


def as_read(value):
    """The value the reader builds from json.dumps(value)."""
    if isinstance(value, bool) or value is None or isinstance(value, str):
        return value
    if isinstance(value, (int, float)):
        return read_number(json.dumps(value))
    if isinstance(value, list):
        return [as_read(v) for v in value]
    return {k: as_read(v) for k, v in value.items()}


def test_number_model_examples():
    # float("...") because this PyPy folds the literal -9.223372036854776e18 to an int.
    examples = {"3e23": 2.9999999999999997e23, "1e-400": 0.0, "-0": -0.0, "1.0": 1.0,
                "18446744073709551615": 2**64 - 1,
                "18446744073709551616": 1.8446744073709552e19,
                "-9223372036854775808": -(2**63),
                "-9223372036854775809": float("-9223372036854775808"),
                "0e99999999999": 0.0, "18446744073709551616.5": 18446744073709551615.0}
    for text, value in examples.items():
        assert identical(read_number(text), value), text
    for text in ["1e309", "1.5e99999999999"]:
        with pytest.raises(OutOfRange):
            read_number(text)


def is_number(value):
    return type(value) in (int, float)


def same(a, b):
    """Kind and content: numbers of different representations differ; objects ignore
    member order."""
    if type(a) is not type(b):
        return False
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return a.keys() == b.keys() and all(same(a[k], b[k]) for k in a)
    return a == b


def cell_equal(a, b):
    if is_number(a) and is_number(b):
        return a == b  # Python compares int and float by exact value
    return same(a, b)


def derive(rows):
    columns = []
    for row in rows:
        columns.extend(key for key in row if key not in columns)
    columns = [c for c in columns if any(row.get(c) is not None for row in rows)]
    constants = {}
    if len(rows) >= 2:
        for c in columns:
            reference = rows[0].get(c)
            if all(cell_equal(reference, row.get(c)) for row in rows):
                constants[c] = reference
    varying = [c for c in columns if c not in constants]
    return {"columns": varying,
            "rows": [[row.get(c) for c in varying] for row in rows],
            "constants": constants}


def identical(a, b):
    """Same kind, same value, same sign of zero, same member order."""
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        return a == b and math.copysign(1.0, a) == math.copysign(1.0, b)
    if isinstance(a, list):
        return len(a) == len(b) and all(identical(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return (list(a) == list(b)) and all(identical(a[k], b[k]) for k in a)
    return a == b


# MARK: the compact writer, for the byte-exact comparison

ESCAPES = {0x08: b"\\b", 0x09: b"\\t", 0x0A: b"\\n", 0x0C: b"\\f", 0x0D: b"\\r",
           0x22: b'\\"', 0x5C: b"\\\\"}


def write_string(value):
    out = bytearray(b'"')
    for byte in value.encode("utf-8"):
        if byte in ESCAPES:
            out += ESCAPES[byte]
        elif byte < 0x20:
            out += b"\\u%04x" % byte
        else:
            out.append(byte)
    return bytes(out) + b'"'


def write_double(value):
    sign = "-" if math.copysign(1.0, value) < 0 else ""
    value = abs(value)
    if value == 0:
        return sign + "0.0"
    mantissa, _, exponent = repr(value).partition("e")  # shortest round-trip digits
    whole, _, fraction = mantissa.partition(".")
    exponent = int(exponent or 0)
    if whole.strip("0"):
        power = len(whole.lstrip("0")) - 1 + exponent
    else:
        power = exponent - (len(fraction) - len(fraction.lstrip("0")) + 1)
    digits = (whole + fraction).strip("0")
    n = len(digits)
    if power < -5 or power > 15:
        body = digits[0] + ("." + digits[1:] if n > 1 else "")
        return "%s%se%s%d" % (sign, body, "+" if power > 0 else "-", abs(power))
    if power < 0:
        return sign + "0." + "0" * (-power - 1) + digits
    if power < n - 1:
        return sign + digits[:power + 1] + "." + digits[power + 1:]
    return sign + digits + "0" * (power + 1 - n) + ".0"


def write(value):
    if value is None:
        return b"null"
    if value is True:
        return b"true"
    if value is False:
        return b"false"
    if isinstance(value, int):
        return str(value).encode()
    if isinstance(value, float):
        return write_double(value).encode()
    if isinstance(value, str):
        return write_string(value)
    if isinstance(value, list):
        return b"[" + b",".join(write(v) for v in value) + b"]"
    return b"{" + b",".join(write_string(k) + b":" + write(v) for k, v in value.items()) + b"}"


def test_double_layout_examples():
    examples = {1.0: "1.0", -42.0: "-42.0", -0.0: "-0.0", 0.5: "0.5", 0.1 + 0.2:
                "0.30000000000000004", 1e15: "1000000000000000.0", 1e16: "1e+16",
                2.0**63: "9.223372036854776e+18", 1e-5: "0.00001", 9.5e-6: "9.5e-6",
                2.0**-20: "9.5367431640625e-7", 5e-324: "5e-324", 123456789.125:
                "123456789.125", 1.7976931348623157e308: "1.7976931348623157e+308"}
    for value, text in examples.items():
        assert write_double(value) == text


@given(rows, st.booleans())
def test_result_matches_the_derivation(columnarize, rows, ascii_only):
    payload = json.dumps(rows, ensure_ascii=ascii_only).encode("utf-8")
    try:
        expected = derive([as_read(row) for row in rows])
    except OutOfRange:
        with pytest.raises(RuntimeError, match="number out of range at line 1 column"):
            columnarize(payload)
        return
    result = columnarize(payload)
    parsed = json.loads(result.decode("utf-8"))
    assert list(parsed) == ["columns", "rows", "constants"]
    assert identical(parsed, expected), (parsed, expected)
    assert result == write(expected)

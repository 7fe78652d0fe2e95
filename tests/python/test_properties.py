"""Property: for any list of rows, the result is the document that a direct Python
derivation of the rules gives, both as parsed JSON and byte for byte.

The derivation is the shared reference (tests/reference/reference_derivation.py), which
states the rules.

Numbers are drawn where what the reader makes of them is known without modelling it:
integers that fit 64 bits stay exact, decimals in the range where the reader is correctly
rounded read back as the double they came from, and a few worked examples outside that
range map to the double listed with them. The bytes are compared with Python's own
compact JSON of the expected document, except for the text of each double, which must
read back to it, carry its shortest digits and take the plain or exponent form by its
magnitude."""

import json
import os
import re
import sys

from hypothesis import given, strategies as st

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "reference"))
from reference_derivation import derive, identical  # noqa: E402

KEYS = ["a", "b", "id", "", "caf\u00e9", "\u65e5\u672c", "q\"uote", "back\\slash", "tab\t",
        "nul\u0000", "\u2028", "\U0001f600"]

NUMBER = re.compile(r"-?([0-9]+)(?:\.([0-9]+))?(?:[eE]([+-]?[0-9]+))?")


def reads_exactly(text):
    """True when the reader is correctly rounded for the number text: its digits, read as
    one integer, are at most 2^53 and the power of ten that scales them is at most 22 in
    size, so the reader's one multiplication or division has exact operands."""
    whole, fraction, exponent = NUMBER.fullmatch(text).groups()
    fraction = fraction or ""
    power = int(exponent or 0) - len(fraction)
    return int(whole + fraction) <= 2**53 and abs(power) <= 22


# Worked examples outside that range (integers beyond 64 bits among them), each with the
# double the reader gives for its text: the nearest one in every case listed here. The
# float("...") spelling keeps this PyPy from folding the literal to an int.
BEYOND_EXACT = {
    "18446744073709551616": 1.8446744073709552e19,
    "18446744073709551617": 1.8446744073709552e19,
    "-9223372036854775809": float("-9223372036854775808"),
    "-99999999999999999999": -1e20,
    "100000000000000000000": 1e20,
    "-10000000000000000000000": -1e22,
    "10000000000000000000000000": 1e25,
    "1180591620717411303424": 1.1805916207174113e21,
    "12345678901234567890123": 1.2345678901234568e22,
    "1000000000000000.0": 1e15,
    "9007199254740992.0": 9007199254740992.0,
    "9.223372036854776e+18": 9.223372036854776e18,
    "0.30000000000000004": 0.30000000000000004,
    "5e-324": 5e-324,
    "2.2250738585072014e-308": 2.2250738585072014e-308,
    "1.7976931348623157e+308": 1.7976931348623157e308,
}

text = st.text(st.characters(blacklist_categories=("Cs",)), max_size=6)
keys = st.one_of(st.sampled_from(KEYS), text)
integers = st.one_of(
    st.integers(-5, 5),
    st.integers(-(2**63), 2**64 - 1),
    st.sampled_from([2**53, 2**53 + 1, 2**64 - 1, -(2**63)]))
decimals = st.builds(lambda digits, power: float("%de%d" % (digits, power)),
                     st.integers(-(10**15) + 1, 10**15 - 1), st.integers(-22, 22))
floats = st.one_of(
    decimals.filter(lambda value: reads_exactly(json.dumps(value))),
    st.sampled_from([0.0, -0.0, 1.0, 1e16, 1e-5, 9.5e-6, 0.1, 2.0**-20, 123456789.125]))
beyond_exact = st.sampled_from(sorted(BEYOND_EXACT)).map(json.loads)
common = st.sampled_from([None, True, False, 0, 1, 1.0, -0.0, "", "x", [], {}, [1], [1.0],
                          {"p": 1, "q": 2}, {"q": 2, "p": 1}])
scalars = st.one_of(st.none(), st.booleans(), integers, floats, beyond_exact, text)
values = st.one_of(common, st.recursive(
    scalars,
    lambda children: st.one_of(st.lists(children, max_size=3),
                               st.dictionaries(keys, children, max_size=3)),
    max_leaves=6))
rows = st.lists(st.dictionaries(keys, values, max_size=5), max_size=6)


def as_read(value):
    """The value the reader builds from json.dumps(value)."""
    if isinstance(value, bool) or value is None or isinstance(value, str):
        return value
    if isinstance(value, (int, float)):
        number_text = json.dumps(value)
        if number_text in BEYOND_EXACT:
            return BEYOND_EXACT[number_text]
        if isinstance(value, int):
            assert -(2**63) <= value < 2**64, number_text  # read as the exact integer
        else:
            assert reads_exactly(number_text), number_text  # read as the same double
        return value
    if isinstance(value, list):
        return [as_read(v) for v in value]
    return {k: as_read(v) for k, v in value.items()}


def test_worked_examples_beyond_the_exact_range(columnarize):
    for number_text, value in BEYOND_EXACT.items():
        result = columnarize(('[{"x":%s},{}]' % number_text).encode())
        assert identical(json.loads(result)["rows"][0][0], value), number_text


# MARK: the bytes

PLAIN = re.compile(r"-?(0|[1-9][0-9]*)\.(0|[0-9]*[1-9])")
EXPONENT = re.compile(r"-?[1-9](\.[0-9]*[1-9])?e[+-][1-9][0-9]*")


def significant_digits(number_text):
    mantissa = re.split("[eE]", number_text)[0].lstrip("-").replace(".", "")
    return mantissa.strip("0")


def check_double_text(number_text, value):
    """The writer's text of a double reads back to it, has the shortest digits that do
    (those of repr), and is plain for 1e-5 <= |x| < 1e16, in exponent form outside."""
    assert identical(float(number_text), value), (number_text, value)
    if value == 0:
        assert number_text in ("0.0", "-0.0"), number_text
        return
    assert significant_digits(number_text) == significant_digits(repr(value)), number_text
    form = PLAIN if 1e-5 <= abs(value) < 1e16 else EXPONENT
    assert form.fullmatch(number_text), (number_text, value)


def compact(value, double_texts):
    """Python's compact JSON of `value`, with the next of `double_texts` for each double.
    json.dumps with ensure_ascii=False escapes exactly the bytes JSON requires, as the
    writer does: the quote, the backslash and the control characters."""
    if isinstance(value, float):
        return next(double_texts)
    if isinstance(value, list):
        return "[" + ",".join(compact(v, double_texts) for v in value) + "]"
    if isinstance(value, dict):
        return "{" + ",".join(json.dumps(k, ensure_ascii=False) + ":" + compact(v, double_texts)
                              for k, v in value.items()) + "}"
    return json.dumps(value, ensure_ascii=False)


LAYOUT_EXAMPLES = {1.0: "1.0", -42.0: "-42.0", -0.0: "-0.0", 0.5: "0.5", 0.1 + 0.2:
                   "0.30000000000000004", 1e15: "1000000000000000.0", 1e16: "1e+16",
                   2.0**63: "9.223372036854776e+18", 1e-5: "0.00001", 9.5e-6: "9.5e-6",
                   2.0**-20: "9.5367431640625e-7", 5e-324: "5e-324", 123456789.125:
                   "123456789.125", 1.7976931348623157e308: "1.7976931348623157e+308"}


def test_double_layout_examples(columnarize):
    for value, number_text in LAYOUT_EXAMPLES.items():
        result = columnarize(json.dumps([{"x": value}, {}]).encode())
        expected = '{"columns":["x"],"rows":[[%s],[null]],"constants":{}}' % number_text
        assert result == expected.encode(), value


@given(rows, st.booleans())
def test_result_matches_the_derivation(columnarize, rows, ascii_only):
    payload = json.dumps(rows, ensure_ascii=ascii_only).encode("utf-8")
    expected = derive([as_read(row) for row in rows])
    result = columnarize(payload)
    double_texts = []
    parsed = json.loads(result.decode("utf-8"),
                        parse_float=lambda t: double_texts.append(t) or float(t))
    assert list(parsed) == ["columns", "rows", "constants"]
    assert identical(parsed, expected), (parsed, expected)
    assert result == compact(expected, iter(double_texts)).encode("utf-8")
    for number_text, value in zip(double_texts, doubles_of(expected)):
        check_double_text(number_text, value)


def doubles_of(value):
    """The doubles of `value` in text order."""
    if isinstance(value, float):
        yield value
    elif isinstance(value, list):
        for v in value:
            yield from doubles_of(v)
    elif isinstance(value, dict):
        for v in value.values():
            yield from doubles_of(v)
